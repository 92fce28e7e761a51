#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace decode {

// Tone maps one linear light value for display: Reinhard's c / (c + 1), then a 1/2.2 gamma, as a
// byte. Negative values and NaN are black, +infinity is white.
uint8_t ToneMapChannel(float value);
// Alpha of float images: 255 * a rounded, clamped; NaN is transparent.
uint8_t FloatAlphaToByte(float value);

// Tone maps `count` RGBA float pixels into premultiplied BGRA bytes.
void ToneMapRow(const float* rgba, uint32_t count, uint8_t* bgra);

// A picture FreeImage read from memory, as premultiplied BGRA.
struct FreeImageRaster {
    std::unique_ptr<uint8_t[]> pixels;
    uint32_t width = 0;
    uint32_t height = 0;
};

enum class FreeImageResult {
    Decoded,
    UnknownFormat, // the content is no format FreeImage reads
    LoadFailed,    // recognised, but the library could not read it (or it is beyond the caps)
    ConvertFailed, // read, but not convertible to 32 bits
};

// Reads any format FreeImage recognises by content. The declared size is checked against the raster
// caps before the pixels are read (from the library's header-only load, or the PSD header). Float
// images are tone mapped like the OpenEXR decoder does before they become 8-bit; everything else goes
// through the library's 32-bit conversion. Initialises the library once per process; all reading of
// the bytes happens in a child process with capped memory, so a fault of the library (a crash, an
// overflow, an absurd allocation, a hang) only makes the call fail.
FreeImageResult DecodeWithFreeImage(const uint8_t* bytes, size_t size, FreeImageRaster& raster);

} // namespace decode
