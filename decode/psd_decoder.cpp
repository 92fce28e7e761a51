#include "decode/psd_decoder.h"

#include "decode/freeimage_support.h"
#include "platform/files.h"

#include <vector>

namespace decode {

bool PsdDecoder::LoadPath(const std::string& path) {
    std::vector<uint8_t> bytes;
    // The size is checked before anything is read.
    if (!platform::ReadWholeFile(path, bytes, kMaxPsdFileBytes) || bytes.empty()) {
        return false;
    }
    return LoadFromMemory(bytes.data(), bytes.size(), 0, 0, false);
}

bool PsdDecoder::LoadFromMemory(const uint8_t* bytes, uint64_t size, uint32_t, uint32_t, bool) {
    Reset();
    if (bytes == nullptr || size == 0 || size > kMaxPsdFileBytes) {
        return false;
    }
    FreeImageRaster raster;
    if (DecodeWithFreeImage(bytes, static_cast<size_t>(size), raster) != FreeImageResult::Decoded) {
        return false;
    }
    pixels = std::move(raster.pixels);
    width = sourceWidth = raster.width;
    height = sourceHeight = raster.height;
    stride = width * 4;
    return true;
}

} // namespace decode
