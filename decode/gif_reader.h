#pragma once

#include "decode/wic_raster.h"

#include <cstddef>
#include <cstdint>

namespace decode {

bool IsGifSignature(const uint8_t* data, size_t size);

// Decodes the first frame of a GIF onto its logical screen: the frame sits at its offset, clipped to the
// screen, and what it does not cover is transparent, as is its transparent colour. Interlaced frames are
// put back in row order. A file whose data ends early keeps the rows that were decoded; false when not
// even one row could be read, and for a screen larger than the file's data could ever fill.
bool ReadGif(const uint8_t* data, size_t size, RasterBuilder& out);

} // namespace decode
