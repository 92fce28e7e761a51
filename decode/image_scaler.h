#pragma once

#include <cstdint>

namespace decode {

// Hard caps for the WIC-format readers, checked before any raster is allocated: at most 2^28 source
// pixels are decoded (a 16384 x 16384 image), and no single raster may exceed 1 GiB. Larger images fail
// cleanly instead of exhausting memory; the two caps meet at 2^28 pixels of 4 bytes.
inline constexpr uint64_t kMaxDecodedPixels = uint64_t{1} << 28;
inline constexpr uint64_t kMaxRasterBytes = uint64_t{1} << 30;

enum class ScaleFilter {
    Nearest, // nearest neighbour, the fast choice
    Box,     // area averaging, the high-quality choice
};

struct ScaledSize {
    uint32_t width = 0;
    uint32_t height = 0;
};

// The size a WIC-format image is decoded at. An image is only ever reduced: with `fullDecode` set, a
// missing target side or a source that already fits, the source size comes back unchanged. Otherwise the
// factor is min(target width / source width, target height / source height) in single precision and each
// side is truncated, a side of 0 becoming 1.
ScaledSize ComputeScaledSize(uint32_t sourceWidth, uint32_t sourceHeight, uint32_t targetWidth,
                             uint32_t targetHeight, bool fullDecode);

// Resamples a premultiplied BGRA raster into `destination` (stride destinationWidth * 4). Both rasters
// must be non-empty; false when libyuv refuses the sizes.
bool ScaleRaster(const uint8_t* source, uint32_t sourceWidth, uint32_t sourceHeight, uint32_t sourceStride,
                 uint8_t* destination, uint32_t destinationWidth, uint32_t destinationHeight,
                 ScaleFilter filter);

} // namespace decode
