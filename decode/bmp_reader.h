#pragma once

#include "decode/wic_raster.h"

#include <cstddef>
#include <cstdint>

namespace decode {

// A file that starts with the "BM" file header and a plausible DIB header size.
bool IsBmpSignature(const uint8_t* data, size_t size);

// Decodes a BMP file (also .dib and .rle files, which carry the same file header): 1, 2, 4, 8, 16, 24 and
// 32 bits per pixel, RLE4 and RLE8, bit fields (with an alpha mask only when the header declares one),
// bottom-up and top-down rows, Windows headers of 40 to 124 bytes and OS/2 headers of 12 to 64 bytes, and
// an embedded PNG stream. Pixels an RLE stream skips stay transparent; palette indices past the palette
// are black. Rows are handed to `out` top to bottom, RLE runs as the stream draws them. An RLE stream far
// too short for the declared size is refused.
bool ReadBmp(const uint8_t* data, size_t size, RasterBuilder& out);

// How an icon stores its bitmap: the header's height covers the colour bitmap and the AND mask below it.
enum class DibKind {
    Plain,
    Icon,
};

// Decodes a headerless DIB (header, optional masks and palette, then the pixels). For DibKind::Icon the
// rows of the transparency (AND) mask follow the colour rows: set mask bits make pixels transparent,
// except in 32-bit bitmaps that carry their own alpha.
bool ReadDib(const uint8_t* data, size_t size, DibKind kind, RasterBuilder& out);

} // namespace decode
