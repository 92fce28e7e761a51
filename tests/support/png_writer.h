#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testing_support {

// libpng colour types, spelled out so callers need not include png.h.
enum class PngColor {
    Gray = 0,
    Rgb = 2,
    Palette = 3,
    GrayAlpha = 4,
    Rgba = 6,
};

struct PngFormat {
    PngColor color = PngColor::Rgba;
    int bitDepth = 8; // 1, 2, 4, 8 or 16 as the colour type allows
    bool interlaced = false;
    std::vector<uint8_t> palette;      // RGB triples, for PngColor::Palette
    std::vector<uint8_t> transparency; // tRNS: palette alphas, or one grey / RGB sample (16-bit values)
    std::vector<uint8_t> iccProfile;   // written as iCCP when non-empty
    int compressionLevel = 6;
};

// Bytes of one packed row for the format (samples big-endian for 16 bits).
size_t PngRowBytes(uint32_t width, const PngFormat& format);

// Encodes rows (PngRowBytes each, top to bottom, packed) with libpng. Empty on failure.
std::vector<uint8_t> EncodePng(uint32_t width, uint32_t height, const PngFormat& format,
                               const std::vector<uint8_t>& rows);

// 8-bit RGBA shortcut: `rgba` holds width * height * 4 bytes.
std::vector<uint8_t> EncodeRgbaPng(uint32_t width, uint32_t height, const std::vector<uint8_t>& rgba,
                                   bool interlaced = false);

// Writes a PNG to `path` row by row without holding the image: `fillRow(y, row)` fills PngRowBytes
// bytes for row y. Meant for very large generated images. False on failure.
bool WritePngFile(const std::string& path, uint32_t width, uint32_t height, const PngFormat& format,
                  const std::function<void(uint32_t y, uint8_t* row)>& fillRow);

} // namespace testing_support
