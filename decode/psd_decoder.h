#pragma once

#include "decode/decoder.h"

namespace decode {

// Photoshop documents (PSD and PSB) through FreeImage, which reads the merged composite; any other
// format FreeImage recognises by content is read too. Files over 500 MiB are refused unread. Hints are
// ignored.
class PsdDecoder : public IDecoder {
public:
    bool LoadPath(const std::string& path) override;
    uint32_t GetSourceWidth() const override { return sourceWidth != 0 ? sourceWidth : width; }
    uint32_t GetSourceHeight() const override { return sourceHeight != 0 ? sourceHeight : height; }
    bool LoadFromMemory(const uint8_t* bytes, uint64_t size, uint32_t targetWidth, uint32_t targetHeight,
                        bool highQuality) override;

private:
    uint32_t sourceWidth = 0;
    uint32_t sourceHeight = 0;
};

// Larger Photoshop files are not read at all.
inline constexpr uint64_t kMaxPsdFileBytes = uint64_t{500} << 20;

} // namespace decode
