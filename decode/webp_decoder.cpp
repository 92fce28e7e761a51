#include "decode/webp_decoder.h"

#include "decode/image_scaler.h"
#include "decode/wic_raster.h"
#include "platform/files.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace decode {

namespace {

// A WebP file is at most 4 GiB by its RIFF header; nothing near that is a picture the viewer shows.
constexpr uint64_t kMaxWebPFileBytes = uint64_t{1} << 30;

struct AnimDecoderDeleter {
    void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};

// The size a width x height picture is decoded at for a target: fitted inside it, never enlarged.
void FitInside(uint32_t width, uint32_t height, uint32_t targetWidth, uint32_t targetHeight,
               uint32_t& fittedWidth, uint32_t& fittedHeight) {
    fittedWidth = width;
    fittedHeight = height;
    if (targetWidth == 0 || targetHeight == 0 || (width <= targetWidth && height <= targetHeight)) {
        return;
    }
    const double scale = std::min(double(targetWidth) / width, double(targetHeight) / height);
    fittedWidth = std::max<uint32_t>(1, static_cast<uint32_t>(width * scale + 0.5));
    fittedHeight = std::max<uint32_t>(1, static_cast<uint32_t>(height * scale + 0.5));
}

} // namespace

bool WebPDecoder::Load(const std::string& path, uint32_t targetWidth, uint32_t targetHeight,
                       bool highQuality) {
    Reset();
    std::vector<uint8_t> bytes;
    if (!platform::ReadWholeFile(path, bytes, kMaxWebPFileBytes)) {
        return false;
    }
    return LoadFromMemory(bytes.data(), bytes.size(), targetWidth, targetHeight, highQuality);
}

bool WebPDecoder::LoadPath(const std::string& path) {
    return Load(path, 0, 0, false);
}

bool WebPDecoder::LoadFromMemory(const uint8_t* bytes, uint64_t size, uint32_t targetWidth,
                                 uint32_t targetHeight, bool) {
    Reset();
    if (bytes == nullptr || size == 0 || size > kMaxWebPFileBytes) {
        return false;
    }
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(bytes, static_cast<size_t>(size), &features) != VP8_STATUS_OK ||
        features.width <= 0 || features.height <= 0) {
        return false;
    }
    if (features.has_animation) {
        return DecodeFirstFrame(bytes, static_cast<size_t>(size));
    }
    return DecodeStill(bytes, static_cast<size_t>(size), targetWidth, targetHeight);
}

bool WebPDecoder::DecodeStill(const uint8_t* bytes, size_t size, uint32_t targetWidth,
                              uint32_t targetHeight) {
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config) || WebPGetFeatures(bytes, size, &config.input) != VP8_STATUS_OK) {
        return false;
    }
    const auto sourceWidth = static_cast<uint32_t>(config.input.width);
    const auto sourceHeight = static_cast<uint32_t>(config.input.height);
    uint32_t outputWidth = 0;
    uint32_t outputHeight = 0;
    FitInside(sourceWidth, sourceHeight, targetWidth, targetHeight, outputWidth, outputHeight);
    if (outputWidth != sourceWidth || outputHeight != sourceHeight) {
        config.options.use_scaling = 1;
        config.options.scaled_width = static_cast<int>(outputWidth);
        config.options.scaled_height = static_cast<int>(outputHeight);
    }
    if (uint64_t{outputWidth} * outputHeight > kMaxDecodedPixels) {
        return false;
    }
    const uint64_t rowBytes = uint64_t{outputWidth} * 4;
    std::unique_ptr<uint8_t[]> raster = AllocateRaster(rowBytes * outputHeight);
    if (!raster) {
        return false;
    }
    // The library writes premultiplied BGRA straight into the raster.
    config.output.colorspace = MODE_bgrA;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = raster.get();
    config.output.u.RGBA.stride = static_cast<int>(rowBytes);
    config.output.u.RGBA.size = static_cast<size_t>(rowBytes * outputHeight);
    const VP8StatusCode status = WebPDecode(bytes, size, &config);
    WebPFreeDecBuffer(&config.output);
    if (status != VP8_STATUS_OK) {
        return false;
    }
    pixels = std::move(raster);
    width = outputWidth;
    height = outputHeight;
    stride = static_cast<uint32_t>(rowBytes);
    return true;
}

bool WebPDecoder::DecodeFirstFrame(const uint8_t* bytes, size_t size) {
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options)) {
        return false;
    }
    options.color_mode = MODE_bgrA;
    options.use_threads = 0;
    const WebPData data{bytes, size};
    // The canvas size is read before the decoder allocates its canvas of that size.
    const std::unique_ptr<WebPDemuxer, void (*)(WebPDemuxer*)> demuxer(WebPDemux(&data), WebPDemuxDelete);
    if (!demuxer) {
        return false;
    }
    const uint32_t canvasWidth = WebPDemuxGetI(demuxer.get(), WEBP_FF_CANVAS_WIDTH);
    const uint32_t canvasHeight = WebPDemuxGetI(demuxer.get(), WEBP_FF_CANVAS_HEIGHT);
    if (canvasWidth == 0 || canvasHeight == 0 || uint64_t{canvasWidth} * canvasHeight > kMaxDecodedPixels) {
        return false;
    }
    const std::unique_ptr<WebPAnimDecoder, AnimDecoderDeleter> decoder(WebPAnimDecoderNew(&data, &options));
    WebPAnimInfo info;
    if (!decoder || !WebPAnimDecoderGetInfo(decoder.get(), &info) || info.canvas_width != canvasWidth ||
        info.canvas_height != canvasHeight) {
        return false;
    }
    uint8_t* frame = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(decoder.get(), &frame, &timestamp) || frame == nullptr) {
        return false;
    }
    const uint64_t bytesTotal = uint64_t{canvasWidth} * canvasHeight * 4;
    std::unique_ptr<uint8_t[]> raster = AllocateRaster(bytesTotal);
    if (!raster) {
        return false;
    }
    std::memcpy(raster.get(), frame, static_cast<size_t>(bytesTotal));
    pixels = std::move(raster);
    width = canvasWidth;
    height = canvasHeight;
    stride = canvasWidth * 4;
    return true;
}

} // namespace decode
