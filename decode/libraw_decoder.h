#pragma once

#include "decode/decoder.h"

namespace decode {

struct RawResult {
    std::unique_ptr<uint8_t[]> pixels;
    uint32_t width = 0;
    uint32_t height = 0;
};

// Camera RAW over LibRaw (its thread-safe build). The JPEG preview that most cameras embed is what gets
// shown, decoded like any JPEG (scaled towards a target by the JPEG decoder); files without one are
// developed from the sensor data at half size with the camera's white balance.
//
// Source size is LibRaw's developed image size, whichever path produced the pixels. Neither path
// rotates for files whose orientation sits in a TIFF IFD0 that the EXIF reader finds (the view turns
// those); other layouts are developed upright by LibRaw.
class LibRawDecoder : public IDecoder {
public:
    bool Load(const std::string& path, uint32_t targetWidth, uint32_t targetHeight,
              bool highQuality) override;
    uint32_t GetSourceWidth() const override { return sourceWidth != 0 ? sourceWidth : width; }
    uint32_t GetSourceHeight() const override { return sourceHeight != 0 ? sourceHeight : height; }
    bool LoadFromMemory(const uint8_t* bytes, uint64_t size, uint32_t targetWidth, uint32_t targetHeight,
                        bool highQuality) override;

private:
    bool TakeResult(RawResult result);

    uint32_t sourceWidth = 0;
    uint32_t sourceHeight = 0;
};

} // namespace decode
