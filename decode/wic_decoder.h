#pragma once

#include "decode/decoder.h"

namespace decode {

// The decoder of the system-codec formats (PNG, GIF, BMP/DIB/RLE, ICO/CUR, TIFF, JPEG XR) and the
// fallback for everything no dedicated decoder claims: it recognises the format by content.
class WicDecoder : public IDecoder {
public:
    bool Load(const std::string& path, uint32_t targetWidth, uint32_t targetHeight, bool highQuality) override;
    bool LoadPath(const std::string& path) override;
    uint32_t GetSourceWidth() const override { return sourceWidth != 0 ? sourceWidth : width; }
    uint32_t GetSourceHeight() const override { return sourceHeight != 0 ? sourceHeight : height; }
    bool LoadFromMemory(const uint8_t* bytes, uint64_t size, uint32_t targetWidth, uint32_t targetHeight,
                        bool highQuality) override;

protected:
    uint32_t sourceWidth = 0;
    uint32_t sourceHeight = 0;
};

} // namespace decode
