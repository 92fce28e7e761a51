#pragma once

#include "decode/wic_raster.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace decode {

// The JPEG XR container ("II" 0xBC).
bool IsJxrSignature(const uint8_t* data, size_t size);

// Decodes a JPEG XR image (.jxr, .wdp, .hdp) with jxrlib, converted to 32-bit BGR and made opaque. The
// embedded colour profile is copied to `iccProfile` when given.
bool ReadJxr(const uint8_t* data, size_t size, RasterBuilder& out, std::vector<uint8_t>* iccProfile);

} // namespace decode
