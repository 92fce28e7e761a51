#pragma once

#include "decode/decoder.h"

namespace decode {

// JPEG XL over libjxl, spread over the library's thread-pool runner. The first complete frame (the
// composited first frame of an animation) in premultiplied BGRA, oriented as the file says.
//
// With a target, a file that arrives in passes of increasing resolution is decoded only up to the
// first pass whose resolution still covers the fitted size, and the result is that reduced picture;
// other files are decoded at full size.
class JxlImageDecoder : public IDecoder {
public:
    bool Load(const std::string& path, uint32_t targetWidth, uint32_t targetHeight,
              bool highQuality) override;
    uint32_t GetSourceWidth() const override { return sourceWidth != 0 ? sourceWidth : width; }
    uint32_t GetSourceHeight() const override { return sourceHeight != 0 ? sourceHeight : height; }
    bool LoadFromMemory(const uint8_t* bytes, uint64_t size, uint32_t targetWidth, uint32_t targetHeight,
                        bool highQuality) override;

private:
    bool DecodeJxl(const uint8_t* bytes, size_t size, uint32_t targetWidth, uint32_t targetHeight);
    // Turns the RGBA output (stride width * 4) into premultiplied BGRA, reduced by `factor` in both
    // directions with a box filter.
    bool Finish(std::unique_ptr<uint8_t[]> rgba, bool premultiplied, uint32_t factor);

    uint32_t sourceWidth = 0;
    uint32_t sourceHeight = 0;
};

} // namespace decode
