#include "decode/j2k_decoder.h"

#include "decode/format_registry.h"
#include "decode/image_scaler.h"
#include "decode/wic_raster.h"
#include "platform/trace.h"

#include <openjpeg.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <thread>

namespace decode {

namespace {

// OpenJPEG keeps every decoded sample as a 32-bit integer; this bounds that working memory.
constexpr uint64_t kMaxJ2kSamples = uint64_t{1} << 28;

struct CodecDeleter {
    void operator()(opj_codec_t* codec) const { opj_destroy_codec(codec); }
};
struct StreamDeleter {
    void operator()(opj_stream_t* stream) const { opj_stream_destroy(stream); }
};
struct ImageDeleter {
    void operator()(opj_image_t* image) const { opj_image_destroy(image); }
};
using Codec = std::unique_ptr<opj_codec_t, CodecDeleter>;
using Stream = std::unique_ptr<opj_stream_t, StreamDeleter>;
using Image = std::unique_ptr<opj_image_t, ImageDeleter>;

void LogError(const char* message, void*) {
    platform::DebugTrace(std::string("[J2K] Error: ") + (message != nullptr ? message : ""));
}
void Ignore(const char*, void*) {}

struct MemorySource {
    const uint8_t* bytes = nullptr;
    uint64_t size = 0;
    uint64_t position = 0;
};

OPJ_SIZE_T ReadMemory(void* buffer, OPJ_SIZE_T count, void* data) {
    auto* source = static_cast<MemorySource*>(data);
    const uint64_t available = source->size - source->position;
    if (available == 0) {
        return static_cast<OPJ_SIZE_T>(-1);
    }
    const uint64_t taken = std::min<uint64_t>(count, available);
    std::memcpy(buffer, source->bytes + source->position, taken);
    source->position += taken;
    return static_cast<OPJ_SIZE_T>(taken);
}

OPJ_BOOL SeekMemory(OPJ_OFF_T offset, void* data) {
    auto* source = static_cast<MemorySource*>(data);
    if (offset < 0 || static_cast<uint64_t>(offset) > source->size) {
        return OPJ_FALSE;
    }
    source->position = static_cast<uint64_t>(offset);
    return OPJ_TRUE;
}

OPJ_OFF_T SkipMemory(OPJ_OFF_T count, void* data) {
    auto* source = static_cast<MemorySource*>(data);
    const int64_t target = std::clamp<int64_t>(static_cast<int64_t>(source->position) + count, 0,
                                               static_cast<int64_t>(source->size));
    const OPJ_OFF_T moved = target - static_cast<int64_t>(source->position);
    source->position = static_cast<uint64_t>(target);
    return moved;
}

Stream CreateMemoryStream(MemorySource& source) {
    Stream stream(
        opj_stream_create(static_cast<OPJ_SIZE_T>(std::min<uint64_t>(source.size, 1 << 20)), OPJ_TRUE));
    if (stream) {
        opj_stream_set_user_data(stream.get(), &source, nullptr);
        opj_stream_set_user_data_length(stream.get(), source.size);
        opj_stream_set_read_function(stream.get(), ReadMemory);
        opj_stream_set_seek_function(stream.get(), SeekMemory);
        opj_stream_set_skip_function(stream.get(), SkipMemory);
    }
    return stream;
}

// The fewest resolution levels any tile-component has: the deepest reduction every part allows.
uint32_t MaxReduction(opj_codec_t* codec) {
    opj_codestream_info_v2_t* info = opj_get_cstr_info(codec);
    if (info == nullptr) {
        return 0;
    }
    uint32_t levels = 33;
    if (info->m_default_tile_info.tccp_info != nullptr) {
        for (uint32_t c = 0; c < info->nbcomps; ++c) {
            levels = std::min(levels, info->m_default_tile_info.tccp_info[c].numresolutions);
        }
    }
    opj_destroy_cstr_info(&info);
    return levels == 33 || levels == 0 ? 0 : levels - 1;
}

bool DecodeStream(opj_stream_t* stream, OPJ_CODEC_FORMAT format, uint32_t targetWidth, uint32_t targetHeight,
                  Image& result) {
    Codec codec(opj_create_decompress(format));
    if (!codec) {
        platform::DebugTrace("[J2K] Failed to create decompressor\n");
        return false;
    }
    opj_set_error_handler(codec.get(), LogError, nullptr);
    opj_set_warning_handler(codec.get(), Ignore, nullptr);
    opj_set_info_handler(codec.get(), Ignore, nullptr);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    if (!opj_setup_decoder(codec.get(), &parameters)) {
        platform::DebugTrace("[J2K] Failed to setup decoder\n");
        return false;
    }
    // Truncated code-streams are errors, not pictures with missing detail.
    opj_decoder_set_strict_mode(codec.get(), OPJ_TRUE);
    opj_codec_set_threads(codec.get(),
                          static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u)));
    opj_image_t* header = nullptr;
    if (!opj_read_header(stream, codec.get(), &header)) {
        platform::DebugTrace("[J2K] Failed to read header\n");
        opj_image_destroy(header);
        return false;
    }
    Image image(header);
    if (image->numcomps == 0 || image->x1 <= image->x0 || image->y1 <= image->y0) {
        platform::DebugTrace("[J2K] Failed to read header\n");
        return false;
    }
    const uint32_t fullWidth = image->x1 - image->x0;
    const uint32_t fullHeight = image->y1 - image->y0;
    const uint32_t reduction =
        ChooseJ2kReduction(fullWidth, fullHeight, targetWidth, targetHeight, MaxReduction(codec.get()));
    if (reduction > 0 && !opj_set_decoded_resolution_factor(codec.get(), reduction)) {
        return false;
    }
    const uint64_t decodedPixels = uint64_t{(fullWidth + (1u << reduction) - 1) >> reduction} *
                                   ((fullHeight + (1u << reduction) - 1) >> reduction);
    if (decodedPixels > kMaxDecodedPixels || decodedPixels * image->numcomps > kMaxJ2kSamples) {
        platform::DebugTrace("[J2K] Error: image too large\n");
        return false;
    }
    if (!opj_decode(codec.get(), stream, image.get()) || !opj_end_decompress(codec.get(), stream)) {
        platform::DebugTrace("[J2K] Failed to decode\n");
        return false;
    }
    result = std::move(image);
    return true;
}

// sYCC (JP2 colour specification) to RGB, on samples already scaled to 8 bits.
void SyccToRgb(uint8_t& r, uint8_t& g, uint8_t& b) {
    const float y = r;
    const float cb = g - 128.0f;
    const float cr = b - 128.0f;
    r = static_cast<uint8_t>(std::clamp(y + 1.402f * cr + 0.5f, 0.0f, 255.0f));
    g = static_cast<uint8_t>(std::clamp(y - 0.344136f * cb - 0.714136f * cr + 0.5f, 0.0f, 255.0f));
    b = static_cast<uint8_t>(std::clamp(y + 1.772f * cb + 0.5f, 0.0f, 255.0f));
}

} // namespace

uint32_t ChooseJ2kReduction(uint32_t width, uint32_t height, uint32_t targetWidth, uint32_t targetHeight,
                            uint32_t maxReduction) {
    if (targetWidth == 0 || targetHeight == 0 || width == 0 || height == 0) {
        return 0;
    }
    // The fitted picture is scale * width by scale * height; a level is dropped while the halved
    // picture still covers it.
    const double scale = std::min(double(targetWidth) / width, double(targetHeight) / height);
    uint32_t reduction = 0;
    while (reduction < maxReduction && reduction < 31 && std::ldexp(1.0, -int(reduction + 1)) >= scale) {
        ++reduction;
    }
    return reduction;
}

uint8_t ScaleJ2kSample(int32_t value, uint32_t precision, bool isSigned) {
    int64_t sample = value;
    if (isSigned && precision > 0 && precision < 32) {
        sample += int64_t{1} << (precision - 1);
    }
    if (precision > 8) {
        sample >>= std::min<uint32_t>(precision - 8, 31);
    } else if (precision < 8) {
        sample <<= 8 - precision;
    }
    return static_cast<uint8_t>(std::clamp<int64_t>(sample, 0, 255));
}

bool J2kDecoder::Load(const std::string& path, uint32_t targetWidth, uint32_t targetHeight, bool) {
    Reset();
    Stream stream(opj_stream_create_default_file_stream(path.c_str(), OPJ_TRUE));
    if (!stream) {
        platform::DebugTrace("[J2K] Failed to create file stream\n");
        return false;
    }
    const std::string ext = GetLowerExtension(path);
    const OPJ_CODEC_FORMAT format = ext == "j2k" || ext == "j2c" ? OPJ_CODEC_J2K : OPJ_CODEC_JP2;
    Image image;
    if (!DecodeStream(stream.get(), format, targetWidth, targetHeight, image)) {
        return false;
    }
    return Convert(image.get());
}

bool J2kDecoder::LoadFromMemory(const uint8_t* bytes, uint64_t size, uint32_t targetWidth,
                                uint32_t targetHeight, bool) {
    Reset();
    if (bytes == nullptr || size == 0) {
        return false;
    }
    for (const OPJ_CODEC_FORMAT format : {OPJ_CODEC_JP2, OPJ_CODEC_J2K}) {
        MemorySource source{bytes, size, 0};
        Stream stream = CreateMemoryStream(source);
        Image image;
        if (stream && DecodeStream(stream.get(), format, targetWidth, targetHeight, image)) {
            return Convert(image.get());
        }
    }
    return false;
}

bool J2kDecoder::Convert(const opj_image_t* image) {
    if (image == nullptr || image->numcomps == 0 || image->comps == nullptr) {
        return false;
    }
    // The picture's own size at the decoded resolution; components may be subsampled on it.
    const opj_image_comp_t& first = image->comps[0];
    const uint32_t factor = std::min<uint32_t>(first.factor, 31);
    const auto reduced = [factor](uint32_t value) {
        return static_cast<uint32_t>((uint64_t{value} + (uint64_t{1} << factor) - 1) >> factor);
    };
    const uint32_t w = reduced(image->x1) - reduced(image->x0);
    const uint32_t h = reduced(image->y1) - reduced(image->y0);
    if (w == 0 || h == 0 || uint64_t{w} * h > kMaxDecodedPixels) {
        return false;
    }
    const uint32_t colourComponents = image->numcomps >= 3 ? 3 : 1;
    const bool hasAlpha = image->numcomps == 2 || image->numcomps >= 4;
    const uint32_t alphaIndex = image->numcomps == 2 ? 1 : 3;
    const uint32_t used = hasAlpha ? alphaIndex + 1 : colourComponents;
    for (uint32_t c = 0; c < used; ++c) {
        if (image->comps[c].data == nullptr || image->comps[c].w == 0 || image->comps[c].h == 0) {
            return false;
        }
    }
    std::unique_ptr<uint8_t[]> raster = AllocateRaster(uint64_t{w} * h * 4);
    if (!raster) {
        return false;
    }
    // Components of another size (subsampled chroma) are read at the nearest sample.
    const auto sample = [&](uint32_t c, uint32_t x, uint32_t y) {
        const opj_image_comp_t& component = image->comps[c];
        const uint32_t cx = component.w == w ? x : uint32_t(uint64_t{x} * component.w / w);
        const uint32_t cy = component.h == h ? y : uint32_t(uint64_t{y} * component.h / h);
        // The precision of the first component scales every sample.
        return ScaleJ2kSample(component.data[uint64_t{cy} * component.w + cx], first.prec,
                              component.sgnd != 0);
    };
    const bool sycc = image->color_space == OPJ_CLRSPC_SYCC && colourComponents == 3;
    bool fullSize = true;
    for (uint32_t c = 0; c < used; ++c) {
        fullSize = fullSize && image->comps[c].w == w && image->comps[c].h == h;
    }
    const uint32_t gIndex = colourComponents == 3 ? 1 : 0;
    const uint32_t bIndex = colourComponents == 3 ? 2 : 0;
    for (uint32_t y = 0; y < h; ++y) {
        uint8_t* row = raster.get() + uint64_t{y} * w * 4;
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t r;
            uint8_t g;
            uint8_t b;
            if (fullSize) { // the common case, without the resampling arithmetic
                const uint64_t index = uint64_t{y} * w + x;
                r = ScaleJ2kSample(image->comps[0].data[index], first.prec, image->comps[0].sgnd != 0);
                g = ScaleJ2kSample(image->comps[gIndex].data[index], first.prec,
                                   image->comps[gIndex].sgnd != 0);
                b = ScaleJ2kSample(image->comps[bIndex].data[index], first.prec,
                                   image->comps[bIndex].sgnd != 0);
            } else {
                r = sample(0, x, y);
                g = sample(gIndex, x, y);
                b = sample(bIndex, x, y);
            }
            if (sycc) {
                SyccToRgb(r, g, b);
            }
            uint8_t* pixel = row + uint64_t{x} * 4;
            pixel[0] = b;
            pixel[1] = g;
            pixel[2] = r;
            pixel[3] = hasAlpha ? sample(alphaIndex, x, y) : 255;
        }
        if (hasAlpha) {
            PremultiplyRow(row, w);
        }
    }
    pixels = std::move(raster);
    width = w;
    height = h;
    stride = w * 4;
    platform::DebugTrace("[J2K] Decode success\n");
    return true;
}

} // namespace decode
