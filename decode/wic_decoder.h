#pragma once

#include "decode/decoder.h"

#include <cstddef>
#include <cstdio>

namespace decode {

// What a byte stream holds, judged by its first bytes alone.
enum class WicContent {
    Unknown,
    Png,
    Gif,
    Bmp,
    Ico, // icons and cursors
    Tiff,
    Jxr,
    Jpeg,
};

WicContent DetectWicContent(const uint8_t* data, size_t size);

// The decoder of the system-codec formats (PNG, GIF, BMP/DIB/RLE, ICO/CUR, TIFF, JPEG XR) and the
// fallback for everything no dedicated decoder claims. The format is recognised by content, never by the
// extension, so a PNG named .jpg still loads; JPEG data is read too (at full size, then reduced).
//
// The result is reduced to fit a non-zero target (never enlarged, not at all when JpegFullDecode is on):
// box filter with the high-quality flag, nearest neighbour without. Embedded colour profiles are applied
// according to the ColorManagement preference: converted to the display profile while decoding (mode 1)
// or handed to ApplyDisplayProfile afterwards (mode 2).
class WicDecoder : public IDecoder {
public:
    bool Load(const std::string& path, uint32_t targetWidth, uint32_t targetHeight,
              bool highQuality) override;
    bool LoadPath(const std::string& path) override;
    uint32_t GetSourceWidth() const override { return sourceWidth != 0 ? sourceWidth : width; }
    uint32_t GetSourceHeight() const override { return sourceHeight != 0 ? sourceHeight : height; }
    bool LoadFromMemory(const uint8_t* bytes, uint64_t size, uint32_t targetWidth, uint32_t targetHeight,
                        bool highQuality) override;

protected:
    uint32_t sourceWidth = 0;
    uint32_t sourceHeight = 0;

private:
    // Decodes `bytes`, or the PNG file `pngFile` when it is given.
    bool Decode(const uint8_t* bytes, size_t size, std::FILE* pngFile, uint32_t targetWidth,
                uint32_t targetHeight, bool highQuality);
};

} // namespace decode
