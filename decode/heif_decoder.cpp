#include "decode/heif_decoder.h"

#include "decode/image_scaler.h"
#include "decode/wic_raster.h"
#include "platform/files.h"

#include <avif/avif.h>
#include <libheif/heif.h>
#include <libyuv/convert_argb.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <vector>

namespace decode {

namespace {

constexpr uint64_t kMaxHeifFileBytes = uint64_t{1} << 30;

struct ContextDeleter {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HandleDeleter {
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct ImageDeleter {
    void operator()(heif_image* image) const { heif_image_release(image); }
};
using HeifHandle = std::unique_ptr<heif_image_handle, HandleDeleter>;

bool HandleSize(const heif_image_handle* handle, uint32_t& width, uint32_t& height) {
    const int w = heif_image_handle_get_width(handle);
    const int h = heif_image_handle_get_height(handle);
    if (w <= 0 || h <= 0) {
        return false;
    }
    width = static_cast<uint32_t>(w);
    height = static_cast<uint32_t>(h);
    return true;
}

// The smallest thumbnail of the primary image that still covers what a fitted display of the full
// image inside the target needs, with the same shape; null when there is none.
HeifHandle CoveringThumbnail(const heif_image_handle* primary, uint32_t sourceWidth, uint32_t sourceHeight,
                             uint32_t targetWidth, uint32_t targetHeight) {
    if (targetWidth == 0 || targetHeight == 0) {
        return nullptr;
    }
    const double scale =
        std::min({1.0, double(targetWidth) / sourceWidth, double(targetHeight) / sourceHeight});
    const double neededWidth = sourceWidth * scale;
    const double neededHeight = sourceHeight * scale;
    const int count = heif_image_handle_get_number_of_thumbnails(primary);
    if (count <= 0 || count > 16) {
        return nullptr;
    }
    std::vector<heif_item_id> ids(static_cast<size_t>(count));
    if (heif_image_handle_get_list_of_thumbnail_IDs(primary, ids.data(), count) != count) {
        return nullptr;
    }
    HeifHandle best;
    uint64_t bestPixels = 0;
    for (const heif_item_id id : ids) {
        heif_image_handle* raw = nullptr;
        if (heif_image_handle_get_thumbnail(primary, id, &raw).code != heif_error_Ok) {
            continue;
        }
        HeifHandle thumbnail(raw);
        uint32_t w = 0;
        uint32_t h = 0;
        if (!HandleSize(thumbnail.get(), w, h) || w < neededWidth || h < neededHeight) {
            continue;
        }
        // Same aspect within a pixel: a cropped or padded thumbnail would show a different picture.
        const double aspectError = std::abs(double(w) * sourceHeight / sourceWidth - h);
        const uint64_t pixelCount = uint64_t{w} * h;
        if (aspectError <= 1.0 && (best == nullptr || pixelCount < bestPixels)) {
            best = std::move(thumbnail);
            bestPixels = pixelCount;
        }
    }
    return best;
}

bool IsAvif(const uint8_t* bytes, uint64_t size) {
    return size >= 12 && std::memcmp(bytes + 4, "ftyp", 4) == 0 &&
           (std::memcmp(bytes + 8, "avif", 4) == 0 || std::memcmp(bytes + 8, "avis", 4) == 0);
}

struct AvifDecoderDeleter {
    void operator()(avifDecoder* decoder) const { avifDecoderDestroy(decoder); }
};

// libheif reads no image sequences: the first frame of an AVIF sequence comes from libavif, which is
// also lenient where libheif is strict. libavif leaves rotation and mirroring to its caller, so files
// that carry them are left to libheif's verdict.
bool DecodeAvifFirstFrame(const uint8_t* bytes, size_t size, std::unique_ptr<uint8_t[]>& raster,
                          uint32_t& width, uint32_t& height) {
    const std::unique_ptr<avifDecoder, AvifDecoderDeleter> decoder(avifDecoderCreate());
    if (!decoder) {
        return false;
    }
    decoder->maxThreads = 2;
    decoder->strictFlags = AVIF_STRICT_DISABLED;
    decoder->imageSizeLimit = static_cast<uint32_t>(kMaxDecodedPixels);
    decoder->ignoreExif = AVIF_TRUE;
    decoder->ignoreXMP = AVIF_TRUE;
    if (avifDecoderSetIOMemory(decoder.get(), bytes, size) != AVIF_RESULT_OK ||
        avifDecoderParse(decoder.get()) != AVIF_RESULT_OK ||
        avifDecoderNextImage(decoder.get()) != AVIF_RESULT_OK) {
        return false;
    }
    const avifImage* image = decoder->image;
    if (image == nullptr || image->width == 0 || image->height == 0 ||
        uint64_t{image->width} * image->height > kMaxDecodedPixels ||
        (image->transformFlags & (AVIF_TRANSFORM_IROT | AVIF_TRANSFORM_IMIR | AVIF_TRANSFORM_CLAP)) != 0) {
        return false;
    }
    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, image);
    rgb.format = AVIF_RGB_FORMAT_BGRA;
    rgb.depth = 8;
    rgb.alphaPremultiplied = AVIF_TRUE;
    rgb.rowBytes = image->width * 4;
    std::unique_ptr<uint8_t[]> output = AllocateRaster(uint64_t{rgb.rowBytes} * image->height);
    if (!output) {
        return false;
    }
    rgb.pixels = output.get();
    if (avifImageYUVToRGB(image, &rgb) != AVIF_RESULT_OK) {
        return false;
    }
    raster = std::move(output);
    width = image->width;
    height = image->height;
    return true;
}

} // namespace

void InitializeHeif() {
    static std::once_flag once;
    std::call_once(once, [] {
        heif_init(nullptr);
        std::error_code error;
        const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
        if (error) {
            return;
        }
        const std::filesystem::path folder = program.parent_path() / "plugins" / "libheif";
        if (std::filesystem::is_directory(folder, error)) {
            heif_load_plugins(folder.c_str(), nullptr, nullptr, 0);
        }
    });
}

bool HeifDecoder::Load(const std::string& path, uint32_t targetWidth, uint32_t targetHeight,
                       bool highQuality) {
    Reset();
    std::vector<uint8_t> bytes;
    if (!platform::ReadWholeFile(path, bytes, kMaxHeifFileBytes)) {
        return false;
    }
    return LoadFromMemory(bytes.data(), bytes.size(), targetWidth, targetHeight, highQuality);
}

bool HeifDecoder::LoadFromMemory(const uint8_t* bytes, uint64_t size, uint32_t targetWidth,
                                 uint32_t targetHeight, bool) {
    Reset();
    sourceWidth = 0;
    sourceHeight = 0;
    if (bytes == nullptr || size == 0 || size > kMaxHeifFileBytes) {
        return false;
    }
    if (DecodeWithLibheif(bytes, static_cast<size_t>(size), targetWidth, targetHeight)) {
        return true;
    }
    Reset();
    if (!IsAvif(bytes, size) ||
        !DecodeAvifFirstFrame(bytes, static_cast<size_t>(size), pixels, width, height)) {
        return false;
    }
    stride = width * 4;
    sourceWidth = width;
    sourceHeight = height;
    return true;
}

bool HeifDecoder::DecodeWithLibheif(const uint8_t* bytes, size_t size, uint32_t targetWidth,
                                    uint32_t targetHeight) {
    InitializeHeif();
    const std::unique_ptr<heif_context, ContextDeleter> context(heif_context_alloc());
    if (!context || heif_context_read_from_memory_without_copy(context.get(), bytes, size, nullptr).code !=
                        heif_error_Ok) {
        return false;
    }
    heif_image_handle* rawHandle = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &rawHandle).code != heif_error_Ok) {
        return false;
    }
    const HeifHandle primary(rawHandle);
    uint32_t primaryWidth = 0;
    uint32_t primaryHeight = 0;
    if (!HandleSize(primary.get(), primaryWidth, primaryHeight)) {
        return false;
    }
    sourceWidth = primaryWidth;
    sourceHeight = primaryHeight;
    const HeifHandle thumbnail =
        CoveringThumbnail(primary.get(), primaryWidth, primaryHeight, targetWidth, targetHeight);
    const heif_image_handle* chosen = thumbnail ? thumbnail.get() : primary.get();
    uint32_t chosenWidth = 0;
    uint32_t chosenHeight = 0;
    if (!HandleSize(chosen, chosenWidth, chosenHeight) ||
        uint64_t{chosenWidth} * chosenHeight > kMaxDecodedPixels) {
        return false;
    }

    heif_image* rawImage = nullptr;
    if (heif_decode_image(chosen, &rawImage, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, nullptr)
            .code != heif_error_Ok) {
        return false;
    }
    const std::unique_ptr<heif_image, ImageDeleter> image(rawImage);
    const int decodedWidth = heif_image_get_primary_width(image.get());
    const int decodedHeight = heif_image_get_primary_height(image.get());
    int planeStride = 0;
    const uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &planeStride);
    if (plane == nullptr || decodedWidth <= 0 || decodedHeight <= 0 ||
        uint64_t(decodedWidth) * uint64_t(decodedHeight) > kMaxDecodedPixels ||
        planeStride < decodedWidth * 4) {
        return false;
    }
    const uint32_t rowBytes = static_cast<uint32_t>(decodedWidth) * 4;
    std::unique_ptr<uint8_t[]> raster =
        AllocateRaster(uint64_t{rowBytes} * static_cast<uint32_t>(decodedHeight));
    if (!raster || libyuv::ABGRToARGB(plane, planeStride, raster.get(), static_cast<int>(rowBytes),
                                      decodedWidth, decodedHeight) != 0) {
        return false;
    }
    if (!heif_image_is_premultiplied_alpha(image.get())) {
        for (int y = 0; y < decodedHeight; ++y) {
            PremultiplyRow(raster.get() + uint64_t{rowBytes} * static_cast<uint32_t>(y),
                           static_cast<uint32_t>(decodedWidth));
        }
    }
    pixels = std::move(raster);
    width = static_cast<uint32_t>(decodedWidth);
    height = static_cast<uint32_t>(decodedHeight);
    stride = rowBytes;
    return true;
}

} // namespace decode
