#pragma once

#include "decode/wic_raster.h"

#include <cstddef>
#include <cstdint>

namespace decode {

// An icon (type 1) or cursor (type 2) directory with at least one entry.
bool IsIcoSignature(const uint8_t* data, size_t size);

// Decodes the largest entry of an ICO or CUR file (the most pixels; at equal size the deepest colour),
// stored either as a PNG stream or as a DIB with its AND mask. Entries that point outside the file are
// skipped; false when no entry decodes.
bool ReadIco(const uint8_t* data, size_t size, RasterBuilder& out);

} // namespace decode
