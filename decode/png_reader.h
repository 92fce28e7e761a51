#pragma once

#include "decode/wic_raster.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace decode {

bool IsPngSignature(const uint8_t* data, size_t size);

// Decodes the PNG in `data` (every bit depth and colour type, palette transparency, interlacing; the
// default image of an animated PNG) into `out` as premultiplied BGRA. Samples are kept as stored: no
// gamma correction. Rows are handed over as they are decoded, those of interlaced images pass by pass; a
// header declaring more than the compressed data could hold is refused. The embedded ICC
// profile, when `iccProfile` is given and the file has one, is copied there. False for anything libpng
// rejects, including truncated and corrupt data.
bool ReadPng(const uint8_t* data, size_t size, RasterBuilder& out, std::vector<uint8_t>* iccProfile);

// The same, reading the file from its current position as decoding goes, so that the compressed data of
// a huge image is never held whole either.
bool ReadPngFile(std::FILE* file, RasterBuilder& out, std::vector<uint8_t>* iccProfile);

} // namespace decode
