#include "decode/exr_decoder.h"

#include "decode/freeimage_support.h"
#include "decode/image_scaler.h"
#include "decode/wic_raster.h"
#include "platform/files.h"
#include "platform/trace.h"

#include <tinyexr.h>

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace decode {

namespace {

constexpr uint64_t kMaxExrFileBytes = uint64_t{1} << 30;

struct HeaderDeleter {
    void operator()(EXRHeader* header) const { FreeEXRHeader(header); }
};
struct ImageDeleter {
    void operator()(EXRImage* image) const { FreeEXRImage(image); }
};

void TraceTinyExrError(const char* error) {
    if (error != nullptr) {
        platform::DebugTrace(std::string("[EXR] tinyexr memory error: ") + error + "\n");
        FreeEXRErrorMessage(error);
    }
}

// Which channels make the picture: R, G, B (and A) by name; a luminance channel Y, or the only
// channel, is grey. Grey pictures are opaque unless an A channel exists.
struct ChannelMap {
    int red = -1;
    int green = -1;
    int blue = -1;
    int alpha = -1;

    bool Find(const EXRHeader& header) {
        int luminance = -1;
        for (int c = 0; c < header.num_channels; ++c) {
            const std::string_view name = header.channels[c].name;
            if (name == "R") {
                red = c;
            } else if (name == "G") {
                green = c;
            } else if (name == "B") {
                blue = c;
            } else if (name == "A") {
                alpha = c;
            } else if (name == "Y") {
                luminance = c;
            }
        }
        if (red >= 0 && green >= 0 && blue >= 0) {
            return true;
        }
        if (luminance < 0 && header.num_channels == 1) {
            luminance = 0;
        }
        red = green = blue = luminance;
        return luminance >= 0;
    }
};

void StorePixel(float* const* planes, const ChannelMap& map, size_t index, uint8_t* out) {
    out[0] = ToneMapChannel(planes[map.blue][index]);
    out[1] = ToneMapChannel(planes[map.green][index]);
    out[2] = ToneMapChannel(planes[map.red][index]);
    out[3] = map.alpha >= 0 ? FloatAlphaToByte(planes[map.alpha][index]) : 255;
}

} // namespace

bool ExrDecoder::Load(const std::string& path, uint32_t, uint32_t, bool) {
    std::vector<uint8_t> bytes;
    if (!platform::ReadWholeFile(path, bytes, kMaxExrFileBytes) || bytes.empty()) {
        platform::DebugTrace("[EXR] Failed to open file\n");
        return false;
    }
    if (DecodeWithTinyExr(bytes.data(), bytes.size())) {
        return true;
    }
    platform::DebugTrace("[EXR] Trying FreeImage fallback...\n");
    return DecodeWithFallback(bytes.data(), bytes.size(), true);
}

bool ExrDecoder::LoadFromMemory(const uint8_t* bytes, uint64_t size, uint32_t, uint32_t, bool) {
    if (bytes == nullptr || size == 0 || size > kMaxExrFileBytes) {
        return false;
    }
    if (DecodeWithTinyExr(bytes, static_cast<size_t>(size))) {
        return true;
    }
    platform::DebugTrace("[EXR] Trying FreeImage memory fallback...\n");
    return DecodeWithFallback(bytes, static_cast<size_t>(size), false);
}

bool ExrDecoder::DecodeWithTinyExr(const uint8_t* bytes, size_t size) {
    Reset();
    // The header is parsed first so that the declared size is checked before any pixel is allocated.
    EXRVersion version;
    if (ParseEXRVersionFromMemory(&version, bytes, size) != TINYEXR_SUCCESS) {
        platform::DebugTrace("[EXR] tinyexr memory error: not an OpenEXR file\n");
        return false;
    }
    if (version.multipart || version.non_image) {
        platform::DebugTrace("[EXR] tinyexr memory error: multi-part or deep file\n");
        return false;
    }
    EXRHeader header;
    InitEXRHeader(&header);
    const char* error = nullptr;
    if (ParseEXRHeaderFromMemory(&header, &version, bytes, size, &error) != TINYEXR_SUCCESS) {
        TraceTinyExrError(error);
        FreeEXRHeader(&header);
        return false;
    }
    const std::unique_ptr<EXRHeader, HeaderDeleter> headerOwner(&header);
    const int64_t declaredWidth = int64_t{header.data_window.max_x} - header.data_window.min_x + 1;
    const int64_t declaredHeight = int64_t{header.data_window.max_y} - header.data_window.min_y + 1;
    if (declaredWidth <= 0 || declaredHeight <= 0 ||
        static_cast<uint64_t>(declaredWidth * declaredHeight) > kMaxDecodedPixels) {
        platform::DebugTrace("[EXR] tinyexr memory error: image too large\n");
        return false;
    }
    ChannelMap map;
    if (!map.Find(header)) {
        platform::DebugTrace("[EXR] tinyexr memory error: no colour channels\n");
        return false;
    }
    for (int c = 0; c < header.num_channels; ++c) {
        // Subsampled channels (luminance/chroma files) are laid out in a way tinyexr does not read.
        if (header.channels[c].x_sampling > 1 || header.channels[c].y_sampling > 1) {
            platform::DebugTrace("[EXR] tinyexr memory error: subsampled channels\n");
            return false;
        }
        if (header.pixel_types[c] == TINYEXR_PIXELTYPE_HALF) {
            header.requested_pixel_types[c] = TINYEXR_PIXELTYPE_FLOAT;
        }
    }
    for (const int c : {map.red, map.green, map.blue, map.alpha}) {
        if (c >= 0 && header.requested_pixel_types[c] != TINYEXR_PIXELTYPE_FLOAT) {
            platform::DebugTrace("[EXR] tinyexr memory error: integer colour channel\n");
            return false;
        }
    }
    EXRImage image;
    InitEXRImage(&image);
    // tinyexr frees a half-decoded image itself when a chunk fails, but only the channel planes it
    // knows of: without the count set in advance they would leak.
    image.num_channels = header.num_channels;
    if (LoadEXRImageFromMemory(&image, &header, bytes, size, &error) != TINYEXR_SUCCESS) {
        // Already freed by tinyexr (with the pointers left dangling).
        TraceTinyExrError(error);
        return false;
    }
    const std::unique_ptr<EXRImage, ImageDeleter> imageOwner(&image);
    if (image.width <= 0 || image.height <= 0 ||
        uint64_t(image.width) * uint64_t(image.height) > kMaxDecodedPixels) {
        return false;
    }
    const uint32_t w = static_cast<uint32_t>(image.width);
    const uint32_t h = static_cast<uint32_t>(image.height);
    std::unique_ptr<uint8_t[]> raster = AllocateRaster(uint64_t{w} * h * 4);
    if (!raster) {
        return false;
    }
    if (image.tiles == nullptr) {
        if (image.images == nullptr) {
            return false;
        }
        float* const* planes = reinterpret_cast<float* const*>(image.images);
        for (uint64_t i = 0; i < uint64_t{w} * h; ++i) {
            StorePixel(planes, map, i, raster.get() + i * 4);
        }
    } else {
        // Only the first level of a tiled file is loaded; its tiles cover the picture.
        std::fill_n(raster.get(), uint64_t{w} * h * 4, uint8_t{0});
        const int tileWidth = header.tile_size_x;
        const int tileHeight = header.tile_size_y;
        for (int t = 0; t < image.num_tiles; ++t) {
            const EXRTile& tile = image.tiles[t];
            if (tile.images == nullptr) {
                return false;
            }
            float* const* planes = reinterpret_cast<float* const*>(tile.images);
            for (int j = 0; j < tile.height && j < tileHeight; ++j) {
                for (int i = 0; i < tile.width && i < tileWidth; ++i) {
                    const int64_t x = int64_t{tile.offset_x} * tileWidth + i;
                    const int64_t y = int64_t{tile.offset_y} * tileHeight + j;
                    if (x >= 0 && y >= 0 && x < w && y < h) {
                        StorePixel(planes, map, size_t(j) * tileWidth + i,
                                   raster.get() + (uint64_t(y) * w + x) * 4);
                    }
                }
            }
        }
    }
    for (uint32_t y = 0; y < h; ++y) {
        PremultiplyRow(raster.get() + uint64_t{y} * w * 4, w);
    }
    pixels = std::move(raster);
    width = w;
    height = h;
    stride = w * 4;
    platform::DebugTrace("[EXR] tinyexr memory decode success\n");
    return true;
}

bool ExrDecoder::DecodeWithFallback(const uint8_t* bytes, size_t size, bool fromFile) {
    Reset();
    FreeImageRaster raster;
    switch (DecodeWithFreeImage(bytes, size, raster)) {
    case FreeImageResult::Decoded:
        break;
    case FreeImageResult::UnknownFormat:
        platform::DebugTrace("[EXR] FreeImage: unknown format\n");
        return false;
    case FreeImageResult::LoadFailed:
        platform::DebugTrace("[EXR] FreeImage: load failed\n");
        return false;
    case FreeImageResult::ConvertFailed:
        platform::DebugTrace("[EXR] FreeImage: convert to 32-bit failed\n");
        return false;
    }
    pixels = std::move(raster.pixels);
    width = raster.width;
    height = raster.height;
    stride = width * 4;
    platform::DebugTrace(fromFile ? "[EXR] FreeImage decode success\n"
                                  : "[EXR] FreeImage memory decode success\n");
    return true;
}

} // namespace decode
