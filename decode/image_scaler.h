#pragma once

#include <cstdint>
#include <memory>

namespace decode {

// Hard caps for the WIC-format readers, checked before any raster is allocated: a raster holds at most
// 2^28 pixels (a 16384 x 16384 image) and no single allocation exceeds 1 GiB; the two caps meet at 2^28
// pixels of 4 bytes. They bound what is allocated: a reader that reduces rows as they arrive may read a
// larger source, up to kMaxSourcePixels, the work one load may take on.
inline constexpr uint64_t kMaxDecodedPixels = uint64_t{1} << 28;
inline constexpr uint64_t kMaxRasterBytes = uint64_t{1} << 30;
inline constexpr uint64_t kMaxSourcePixels = uint64_t{1} << 30;

enum class ScaleFilter {
    Nearest, // the source pixel nearest each output pixel's centre, the fast choice
    Box,     // the average of the source pixels an output pixel covers, the high-quality choice
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

// Reduces a premultiplied BGRA image fed one source row at a time, top to bottom, into a caller-owned
// destination raster (stride destinationWidth * 4). Only one row of accumulators is held, so a huge image
// never needs to be in memory whole. Output row y covers source rows [y * sh / dh, (y + 1) * sh / dh) and
// likewise for columns; the box filter averages exactly that rectangle with rounding.
class RowScaler {
public:
    RowScaler() = default;
    RowScaler(const RowScaler&) = delete;
    RowScaler& operator=(const RowScaler&) = delete;

    // False when the sizes would enlarge or are empty, or working memory cannot be had.
    bool Start(uint32_t sourceWidth, uint32_t sourceHeight, uint32_t destinationWidth,
               uint32_t destinationHeight, ScaleFilter filter, uint8_t* destination);
    // Takes the next source row (sourceWidth * 4 bytes). Rows past the last are ignored.
    void AddRow(const uint8_t* row);
    bool Finished() const { return started && nextSourceRow == sourceHeight; }

private:
    uint64_t RowStart(uint32_t outputRow) const {
        return uint64_t{outputRow} * sourceHeight / destinationHeight;
    }
    void EmitBoxRow();
    // The source row after which the next output row is complete (box) or that it samples (nearest).
    uint64_t TriggerRow() const;

    bool started = false;
    ScaleFilter filter = ScaleFilter::Box;
    uint32_t sourceWidth = 0;
    uint32_t sourceHeight = 0;
    uint32_t destinationWidth = 0;
    uint32_t destinationHeight = 0;
    uint8_t* destination = nullptr;
    uint32_t nextSourceRow = 0;
    uint32_t nextOutputRow = 0;
    uint64_t triggerRow = 0;
    std::unique_ptr<uint32_t[]> columns;     // first source column of each output column, plus the end
    std::unique_ptr<uint64_t[]> accumulator; // box: channel sums of the current output row
};

// Reduces a premultiplied BGRA image whose pixels arrive in any order, as runs of pixels of one source
// row that lie `step` columns apart (interlaced passes, run-length codes, a frame on a larger screen),
// into a caller-owned destination raster, which it clears first. Each source pixel is delivered at most
// once; pixels never delivered count as transparent. The box filter keeps one sum per channel of every
// output pixel (16 bytes a pixel) and gives exactly RowScaler's result; reductions it cannot hold that way
// (sums beyond the raster cap, or boxes so large that a sum could overflow) sample the nearest pixel.
class ScatterScaler {
public:
    ScatterScaler() = default;
    ScatterScaler(const ScatterScaler&) = delete;
    ScatterScaler& operator=(const ScatterScaler&) = delete;

    bool Start(uint32_t sourceWidth, uint32_t sourceHeight, uint32_t destinationWidth,
               uint32_t destinationHeight, ScaleFilter filter, uint8_t* destination);
    void Put(uint32_t y, uint32_t firstColumn, uint32_t step, const uint8_t* pixels, uint32_t count);
    // Whether pixels of source row y reach the output (the nearest filter samples few rows).
    bool Uses(uint32_t y) const;
    // Writes the box averages into the destination; the nearest filter has written it already.
    void Finish();

private:
    bool started = false;
    ScaleFilter filter = ScaleFilter::Box;
    uint32_t sourceWidth = 0;
    uint32_t sourceHeight = 0;
    uint32_t destinationWidth = 0;
    uint32_t destinationHeight = 0;
    uint8_t* destination = nullptr;
    std::unique_ptr<uint32_t[]> columns; // box: first source column of each output column, plus the end;
                                         // nearest: the source column each output column samples
    std::unique_ptr<uint32_t[]> sums;    // box: channel sums of every output pixel
};

// Reduces a whole premultiplied BGRA raster; a convenience over RowScaler.
bool ScaleRaster(const uint8_t* source, uint32_t sourceWidth, uint32_t sourceHeight, uint32_t sourceStride,
                 uint8_t* destination, uint32_t destinationWidth, uint32_t destinationHeight,
                 ScaleFilter filter);

} // namespace decode
