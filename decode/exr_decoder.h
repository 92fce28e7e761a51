#pragma once

#include "decode/decoder.h"

namespace decode {

// OpenEXR through tinyexr, tone mapped for display (Reinhard, then a 1/2.2 gamma); files tinyexr
// refuses (multi-part, deep, unusual channel sets) get a second chance with FreeImage, tone mapped the
// same way. Hints are ignored: the picture is decoded at full size.
class ExrDecoder : public IDecoder {
public:
    bool Load(const std::string& path, uint32_t targetWidth, uint32_t targetHeight,
              bool highQuality) override;
    bool LoadFromMemory(const uint8_t* bytes, uint64_t size, uint32_t targetWidth, uint32_t targetHeight,
                        bool highQuality) override;

private:
    bool DecodeWithTinyExr(const uint8_t* bytes, size_t size);
    bool DecodeWithFallback(const uint8_t* bytes, size_t size, bool fromFile);
};

} // namespace decode
