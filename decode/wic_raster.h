#pragma once

#include "decode/image_scaler.h"

#include <cstdint>
#include <memory>

namespace decode {

// How a WIC-format load wants its raster: the target size hint and its resampling choice.
struct RasterRequest {
    uint32_t targetWidth = 0; // 0 x 0: full size
    uint32_t targetHeight = 0;
    bool highQuality = true; // box filter; nearest neighbour otherwise
    bool fullDecode = false; // never scale (the JpegFullDecode preference)
};

// Collects a reader's premultiplied BGRA output and reduces it to the requested size.
//
// A reader declares the source size with Begin and then either hands over rows strictly from top to
// bottom (RowBuffer + CommitRow), or runs of pixels in any order (PutPixels), or fills one full-size
// raster (WholeBuffer). Rows and runs are reduced as they arrive, so a scaled image never needs its
// source raster: only the result (and, for runs, its box sums) is held. Every allocation is checked
// against the caps of image_scaler.h and made without throwing.
class RasterBuilder {
public:
    explicit RasterBuilder(const RasterRequest& request) : request(request) {}
    RasterBuilder(const RasterBuilder&) = delete;
    RasterBuilder& operator=(const RasterBuilder&) = delete;

    // Fixes the output size; only once per builder. False for an empty image, a source beyond
    // kMaxSourcePixels or an output beyond the raster caps, and for a source larger than
    // `plausiblePixels`: the most pixels the reader's input could fill at its format's best compression
    // (a tiny file declaring a huge image). Sources of up to kAlwaysPlausiblePixels are never judged.
    bool Begin(uint32_t width, uint32_t height, uint64_t plausiblePixels = UINT64_MAX);
    static constexpr uint64_t kAlwaysPlausiblePixels = uint64_t{1} << 22;

    uint32_t SourceWidth() const { return sourceWidth; }
    uint32_t SourceHeight() const { return sourceHeight; }
    uint32_t OutputWidth() const { return outputWidth; }
    uint32_t OutputHeight() const { return outputHeight; }
    bool IsScaled() const { return outputWidth != sourceWidth || outputHeight != sourceHeight; }

    // Row mode: room for the next source row (SourceWidth * 4 bytes), to be filled with premultiplied
    // BGRA and then committed. Null when allocation fails, the builder is in whole mode or all rows are in.
    uint8_t* RowBuffer();
    bool CommitRow();
    uint32_t RowsCommitted() const { return nextRow; }

    // Run mode: `count` premultiplied BGRA pixels of source row y, at columns firstColumn,
    // firstColumn + step, ... (interlaced passes, run-length codes, a frame on a larger screen). Each
    // source pixel at most once; pixels never put stay transparent. False outside run mode or when the
    // output cannot be allocated.
    bool PutPixels(uint32_t y, uint32_t firstColumn, uint32_t step, const uint8_t* pixels, uint32_t count);
    // Whether pixels of source row y would reach the output; a reader may skip converting the others.
    bool UsesRow(uint32_t y) const { return mode != Mode::Runs || !IsScaled() || scatter.Uses(y); }

    // Whole mode: the full-size raster (stride SourceWidth * 4), zero-filled, written in any order.
    // Null beyond the raster caps, on allocation failure or in another mode.
    uint8_t* WholeBuffer();

    // Hands the finished raster (OutputWidth x OutputHeight, stride OutputWidth * 4) to the caller.
    // False when the reader delivered fewer rows than declared or never started.
    bool Finish(std::unique_ptr<uint8_t[]>& pixels);

private:
    enum class Mode { None, Rows, Runs, Whole };

    bool EnsureOutput();
    ScaleFilter Filter() const { return request.highQuality ? ScaleFilter::Box : ScaleFilter::Nearest; }

    RasterRequest request;
    Mode mode = Mode::None;
    bool started = false;
    uint32_t sourceWidth = 0;
    uint32_t sourceHeight = 0;
    uint32_t outputWidth = 0;
    uint32_t outputHeight = 0;
    std::unique_ptr<uint8_t[]> output;
    std::unique_ptr<uint8_t[]> whole;
    // Row mode with scaling: the row being filled, handed to the scaler on commit.
    std::unique_ptr<uint8_t[]> row;
    RowScaler scaler;
    ScatterScaler scatter;
    uint32_t nextRow = 0;
};

// Allocates without throwing; null when `bytes` is 0, beyond kMaxRasterBytes or unavailable.
std::unique_ptr<uint8_t[]> AllocateRaster(uint64_t bytes);

// Straight alpha to premultiplied, in place, for `count` BGRA (or RGBA) pixels.
void PremultiplyRow(uint8_t* pixels, uint32_t count);

// Sets every alpha byte of `count` pixels to 255.
void SetOpaque(uint8_t* pixels, uint32_t count);

} // namespace decode
