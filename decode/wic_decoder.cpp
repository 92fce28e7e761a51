#include "decode/wic_decoder.h"

#include "decode/bmp_reader.h"
#include "decode/color_management.h"
#include "decode/gif_reader.h"
#include "decode/ico_reader.h"
#include "decode/jpeg_turbo_decoder.h"
#include "decode/jxr_reader.h"
#include "decode/png_reader.h"
#include "decode/tiff_reader.h"
#include "decode/wic_raster.h"
#include "platform/files.h"
#include "platform/settings.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <lcms2.h>
#include <map>
#include <turbojpeg.h>
#include <vector>

namespace decode {

namespace {

// Files are read whole before decoding; nothing this large is a picture the viewer can show.
constexpr uint64_t kMaxFileBytes = uint64_t{1} << 30;

bool IsJpegSignature(const uint8_t* data, size_t size) {
    return size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

// Joins the ICC_PROFILE chunks of the APP2 segments before the first scan, in their sequence order.
std::vector<uint8_t> ReadJpegIccProfile(const uint8_t* data, size_t size) {
    static constexpr uint8_t kTag[] = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};
    std::map<uint8_t, std::pair<const uint8_t*, size_t>> chunks;
    size_t position = 2;
    while (position + 4 <= size && data[position] == 0xFF) {
        const uint8_t marker = data[position + 1];
        if (marker == 0xFF) {
            ++position; // fill byte
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) {
            break;
        }
        const size_t length = (size_t{data[position + 2]} << 8) | data[position + 3];
        if (length < 2 || position + 2 + length > size) {
            break;
        }
        const uint8_t* payload = data + position + 4;
        const size_t payloadSize = length - 2;
        if (marker == 0xE2 && payloadSize > sizeof(kTag) + 2 &&
            std::memcmp(payload, kTag, sizeof(kTag)) == 0) {
            chunks[payload[sizeof(kTag)]] = {payload + sizeof(kTag) + 2, payloadSize - sizeof(kTag) - 2};
        }
        position += 2 + length;
    }
    std::vector<uint8_t> profile;
    for (const auto& [sequence, chunk] : chunks) {
        profile.insert(profile.end(), chunk.first, chunk.first + chunk.second);
    }
    return profile;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

struct TurboJpegCloser {
    void operator()(void* handle) const { tjDestroy(handle); }
};

bool ReadJpeg(const uint8_t* data, size_t size, RasterBuilder& out, std::vector<uint8_t>* iccProfile) {
    if (size > UINT32_MAX) {
        return false;
    }
    std::unique_ptr<void, TurboJpegCloser> handle(tjInitDecompress());
    if (!handle) {
        return false;
    }
    int width = 0;
    int height = 0;
    int subsampling = 0;
    int colorspace = 0;
    if (tjDecompressHeader3(handle.get(), data, static_cast<unsigned long>(size), &width, &height,
                            &subsampling, &colorspace) != 0 ||
        width <= 0 || height <= 0 ||
        // The limits that make the JPEG decoder refuse a hostile file hold for this second chance too.
        !JpegWorkWithinLimits(data, size, static_cast<uint32_t>(width), static_cast<uint32_t>(height)) ||
        !out.Begin(static_cast<uint32_t>(width), static_cast<uint32_t>(height))) {
        return false;
    }
    uint8_t* raster = out.WholeBuffer();
    if (raster == nullptr) {
        return false;
    }
    // A warning (typically data that ends early) still leaves a usable picture, grey where data is missing;
    // a warning followed by a fatal error does not.
    if (tjDecompress2(handle.get(), data, static_cast<unsigned long>(size), raster, width, width * 4, height,
                      TJPF_BGRA, TJFLAG_NOREALLOC | TJFLAG_LIMITSCANS) != 0 &&
        !JpegFailedOnlyWithWarnings(handle.get())) {
        return false;
    }
    if (iccProfile != nullptr) {
        *iccProfile = ReadJpegIccProfile(data, size);
    }
    return true;
}

bool HasTranslucency(const uint8_t* pixels, uint64_t count) {
    for (uint64_t i = 0; i < count; ++i) {
        if (pixels[i * 4 + 3] != 255) {
            return true;
        }
    }
    return false;
}

void Unpremultiply(uint8_t* pixels, uint64_t count) {
    for (uint64_t i = 0; i < count; ++i, pixels += 4) {
        const uint32_t alpha = pixels[3];
        if (alpha == 255 || alpha == 0) {
            continue;
        }
        for (int c = 0; c < 3; ++c) {
            pixels[c] = static_cast<uint8_t>(std::min<uint32_t>(255, (pixels[c] * 255u + alpha / 2) / alpha));
        }
    }
}

// Colour transforms work on straight colour: a premultiplied pixel would be transformed as a darker
// colour and could come back brighter than its alpha allows.
template <typename Transform>
void TransformStraight(uint8_t* pixels, uint32_t width, uint32_t height, Transform transform) {
    const uint64_t count = uint64_t{width} * height;
    const bool translucent = HasTranslucency(pixels, count);
    if (translucent) {
        Unpremultiply(pixels, count);
    }
    transform();
    if (translucent) {
        for (uint32_t y = 0; y < height; ++y) {
            PremultiplyRow(pixels + uint64_t{y} * width * 4, width);
        }
    }
}

} // namespace

WicContent DetectWicContent(const uint8_t* data, size_t size) {
    if (data == nullptr || size == 0) {
        return WicContent::Unknown;
    }
    if (IsPngSignature(data, size)) {
        return WicContent::Png;
    }
    if (IsGifSignature(data, size)) {
        return WicContent::Gif;
    }
    if (IsBmpSignature(data, size)) {
        return WicContent::Bmp;
    }
    if (IsJxrSignature(data, size)) {
        return WicContent::Jxr;
    }
    if (IsTiffSignature(data, size)) {
        return WicContent::Tiff;
    }
    if (IsJpegSignature(data, size)) {
        return WicContent::Jpeg;
    }
    if (IsIcoSignature(data, size)) {
        return WicContent::Ico;
    }
    return WicContent::Unknown;
}

bool WicDecoder::Load(const std::string& path, uint32_t targetWidth, uint32_t targetHeight,
                      bool highQuality) {
    // PNG, the format of the largest images, streams from the file; the rest is read whole first.
    {
        std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
        uint8_t signature[8] = {};
        if (file && std::fread(signature, 1, sizeof(signature), file.get()) == sizeof(signature) &&
            IsPngSignature(signature, sizeof(signature)) && std::fseek(file.get(), 0, SEEK_SET) == 0) {
            return Decode(nullptr, 0, file.get(), targetWidth, targetHeight, highQuality);
        }
    }
    std::vector<uint8_t> bytes;
    if (!platform::ReadWholeFile(path, bytes, kMaxFileBytes)) {
        Reset();
        return false;
    }
    return Decode(bytes.data(), bytes.size(), nullptr, targetWidth, targetHeight, highQuality);
}

bool WicDecoder::LoadPath(const std::string& path) {
    return Load(path, 0, 0, true);
}

bool WicDecoder::LoadFromMemory(const uint8_t* bytes, uint64_t size, uint32_t targetWidth,
                                uint32_t targetHeight, bool highQuality) {
    if (bytes == nullptr || size == 0 || size > SIZE_MAX) {
        Reset();
        return false;
    }
    return Decode(bytes, static_cast<size_t>(size), nullptr, targetWidth, targetHeight, highQuality);
}

bool WicDecoder::Decode(const uint8_t* bytes, size_t size, std::FILE* pngFile, uint32_t targetWidth,
                        uint32_t targetHeight, bool highQuality) {
    Reset();
    sourceWidth = 0;
    sourceHeight = 0;
    const ColorManagement mode = CurrentColorManagement();
    RasterRequest request;
    request.targetWidth = targetWidth;
    request.targetHeight = targetHeight;
    request.highQuality = highQuality;
    request.fullDecode = platform::GlobalSettings().jpegFullDecode;
    RasterBuilder builder(request);
    std::vector<uint8_t> profile;
    std::vector<uint8_t>* wantedProfile = mode == ColorManagement::Off ? nullptr : &profile;

    bool decoded = false;
    switch (pngFile != nullptr ? WicContent::Png : DetectWicContent(bytes, size)) {
    case WicContent::Png:
        decoded = pngFile != nullptr ? ReadPngFile(pngFile, builder, wantedProfile)
                                     : ReadPng(bytes, size, builder, wantedProfile);
        break;
    case WicContent::Gif:
        decoded = ReadGif(bytes, size, builder);
        break;
    case WicContent::Bmp:
        decoded = ReadBmp(bytes, size, builder);
        break;
    case WicContent::Ico:
        decoded = ReadIco(bytes, size, builder);
        break;
    case WicContent::Tiff:
        decoded = ReadTiff(bytes, size, builder, wantedProfile);
        break;
    case WicContent::Jxr:
        decoded = ReadJxr(bytes, size, builder, wantedProfile);
        break;
    case WicContent::Jpeg:
        decoded = ReadJpeg(bytes, size, builder, wantedProfile);
        break;
    case WicContent::Unknown:
        break;
    }
    std::unique_ptr<uint8_t[]> raster;
    if (!decoded || !builder.Finish(raster)) {
        return false;
    }
    sourceWidth = builder.SourceWidth();
    sourceHeight = builder.SourceHeight();
    width = builder.OutputWidth();
    height = builder.OutputHeight();
    stride = width * 4;
    pixels = std::move(raster);

    if (!profile.empty() && mode == ColorManagement::DuringDecode) {
        cmsHPROFILE destination = static_cast<cmsHPROFILE>(CreateDestinationProfileForDecode());
        if (destination != nullptr) {
            TransformStraight(pixels.get(), width, height, [&] {
                TransformToProfile(pixels.get(), width, height, stride, profile.data(), profile.size(),
                                   destination);
            });
            cmsCloseProfile(destination);
        }
    } else if (!profile.empty() && mode == ColorManagement::DisplayProfile && IsDisplayProfileOpen()) {
        TransformStraight(pixels.get(), width, height, [&] {
            ApplyDisplayProfile(pixels.get(), width, height, stride, profile.data(), profile.size());
        });
    }
    return true;
}

} // namespace decode
