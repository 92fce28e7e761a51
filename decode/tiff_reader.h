#pragma once

#include "decode/wic_raster.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace decode {

// Classic ("II*\0", "MM\0*") and BigTIFF headers.
bool IsTiffSignature(const uint8_t* data, size_t size);

// Decodes the first page of a TIFF through libtiff's RGBA interface (every photometric interpretation
// and compression it knows), strip by strip, rows as stored: the Orientation tag is metadata for the
// viewer, not applied here. The embedded ICC profile is copied to `iccProfile` when given. Errors and
// warnings stay inside the reader.
bool ReadTiff(const uint8_t* data, size_t size, RasterBuilder& out, std::vector<uint8_t>* iccProfile);

} // namespace decode
