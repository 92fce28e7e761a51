#pragma once

#include "decode/decoder.h"

namespace decode {

// WebP over libwebp. Still images decode straight to premultiplied BGRA, reduced by the library's own
// scaler when a target is given (the picture is fitted inside it, never enlarged). Animated files,
// which the still-image decoder refuses, give their first frame at canvas size.
class WebPDecoder : public IDecoder {
public:
    bool Load(const std::string& path, uint32_t targetWidth, uint32_t targetHeight,
              bool highQuality) override;
    bool LoadPath(const std::string& path) override;
    bool LoadFromMemory(const uint8_t* bytes, uint64_t size, uint32_t targetWidth, uint32_t targetHeight,
                        bool highQuality) override;

private:
    bool DecodeStill(const uint8_t* bytes, size_t size, uint32_t targetWidth, uint32_t targetHeight);
    bool DecodeFirstFrame(const uint8_t* bytes, size_t size);
};

} // namespace decode
