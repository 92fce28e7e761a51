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
    const WebPData data{bytes, size};
    const std::unique_ptr<WebPDemuxer, void (*)(WebPDemuxer*)> demuxer(WebPDemux(&data), WebPDemuxDelete);
    if (!demuxer) {
        return false;
    }
    const uint32_t canvasWidth = WebPDemuxGetI(demuxer.get(), WEBP_FF_CANVAS_WIDTH);
    const uint32_t canvasHeight = WebPDemuxGetI(demuxer.get(), WEBP_FF_CANVAS_HEIGHT);
    if (canvasWidth == 0 || canvasHeight == 0 || uint64_t{canvasWidth} * canvasHeight > kMaxDecodedPixels) {
        return false;
    }
    WebPIterator frame;
    if (!WebPDemuxGetFrame(demuxer.get(), 1, &frame)) {
        return false;
    }
    const std::unique_ptr<WebPIterator, void (*)(WebPIterator*)> release(&frame, WebPDemuxReleaseIterator);
    if (frame.x_offset < 0 || frame.y_offset < 0 || frame.width <= 0 || frame.height <= 0 ||
        uint64_t(frame.x_offset) + uint64_t(frame.width) > canvasWidth ||
        uint64_t(frame.y_offset) + uint64_t(frame.height) > canvasHeight) {
        return false;
    }
    // The first frame has nothing under it: blended or not, it lands on a transparent canvas as is.
    const uint64_t rowBytes = uint64_t{canvasWidth} * 4;
    const uint64_t totalBytes = rowBytes * canvasHeight;
    std::unique_ptr<uint8_t[]> raster = AllocateRaster(totalBytes);
    if (!raster) {
        return false;
    }
    std::memset(raster.get(), 0, static_cast<size_t>(totalBytes));
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) {
        return false;
    }
    uint8_t* origin = raster.get() + uint64_t(frame.y_offset) * rowBytes + uint64_t(frame.x_offset) * 4;
    config.output.colorspace = MODE_bgrA;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = origin;
    config.output.u.RGBA.stride = static_cast<int>(rowBytes);
    config.output.u.RGBA.size =
        static_cast<size_t>(rowBytes * (uint64_t(frame.height) - 1) + uint64_t(frame.width) * 4);
    const VP8StatusCode status = WebPDecode(frame.fragment.bytes, frame.fragment.size, &config);
    WebPFreeDecBuffer(&config.output);
    if (status != VP8_STATUS_OK || config.output.width != frame.width ||
        config.output.height != frame.height) {
        return false;
    }
    pixels = std::move(raster);
    width = canvasWidth;
    height = canvasHeight;
    stride = static_cast<uint32_t>(rowBytes);
    return true;
}

} // namespace decode
