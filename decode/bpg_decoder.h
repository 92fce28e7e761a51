#pragma once

#include "decode/decoder.h"

#include <cstddef>
#include <cstdint>

namespace decode {

// What the BPG container header says, read before any HEVC data is touched.
struct BpgHeader {
    uint32_t pixelFormat = 0; // 0 grey, 1/4 4:2:0, 2/5 4:2:2, 3 4:4:4
    uint32_t bitDepth = 8;    // 8 to 14
    uint32_t colorSpace = 0;  // 0 BT.601, 1 RGB (G B R planes), 2 YCgCo, 3 BT.709, 4 BT.2020
    bool alpha1 = false;
    bool alpha2 = false;
    bool limitedRange = false;
    bool animation = false;
    uint32_t width = 0;
    uint32_t height = 0;
    size_t dataOffset = 0; // first byte of the HEVC headers
    size_t dataEnd = 0;    // one past the last byte of the picture data
};

// Reads the container header; false for anything malformed, unsupported or beyond the raster caps.
bool ParseBpgHeader(const uint8_t* bytes, size_t size, BpgHeader& header);

// BPG pictures: the container is read here, its HEVC stream (colour, and alpha as a second layer)
// decoded by libde265. Only the first frame of an animation is decoded. Hints are ignored.
class BpgDecoder : public IDecoder {
public:
    bool Load(const std::string& path, uint32_t targetWidth, uint32_t targetHeight,
              bool highQuality) override;
    bool LoadFromMemory(const uint8_t* bytes, uint64_t size, uint32_t targetWidth, uint32_t targetHeight,
                        bool highQuality) override;

private:
    bool DecodeFromBuffer(const uint8_t* bytes, size_t size);
};

} // namespace decode
