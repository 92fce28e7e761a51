#include "decode/wic_raster.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace decode {

namespace {

// Output rows per band when reducing row by row: small enough that a band of source rows stays a few
// megabytes for a poster-sized image, large enough that the scaler's per-call cost does not matter.
constexpr uint32_t kBandOutputRows = 16;

} // namespace

std::unique_ptr<uint8_t[]> AllocateRaster(uint64_t bytes) {
    if (bytes == 0 || bytes > kMaxRasterBytes) {
        return nullptr;
    }
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[bytes]);
}

void PremultiplyRow(uint8_t* pixels, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i, pixels += 4) {
        const uint32_t alpha = pixels[3];
        if (alpha == 255) {
            continue;
        }
        // Exact rounding of c * a / 255.
        for (int c = 0; c < 3; ++c) {
            const uint32_t product = pixels[c] * alpha + 128;
            pixels[c] = static_cast<uint8_t>((product + (product >> 8)) >> 8);
        }
    }
}

void SetOpaque(uint8_t* pixels, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        pixels[i * 4 + 3] = 255;
    }
}

bool RasterBuilder::Begin(uint32_t width, uint32_t height) {
    if (started || width == 0 || height == 0 || uint64_t{width} * height > kMaxDecodedPixels) {
        return false;
    }
    started = true;
    sourceWidth = width;
    sourceHeight = height;
    const ScaledSize size =
        ComputeScaledSize(width, height, request.targetWidth, request.targetHeight, request.fullDecode);
    outputWidth = size.width;
    outputHeight = size.height;
    return uint64_t{outputWidth} * outputHeight * 4 <= kMaxRasterBytes;
}

uint64_t RasterBuilder::BandSourceRow(uint32_t outputRow) const {
    return uint64_t{outputRow} * sourceHeight / outputHeight;
}

bool RasterBuilder::EnsureOutput() {
    if (!output) {
        output = AllocateRaster(uint64_t{outputWidth} * outputHeight * 4);
    }
    return output != nullptr;
}

uint8_t* RasterBuilder::RowBuffer() {
    if (!started || mode == Mode::Whole || nextRow >= sourceHeight) {
        return nullptr;
    }
    mode = Mode::Rows;
    const uint64_t rowBytes = uint64_t{sourceWidth} * 4;
    if (!EnsureOutput()) {
        return nullptr;
    }
    if (!IsScaled()) {
        return output.get() + nextRow * rowBytes;
    }
    if (nextRow == 0 && bandOutputEnd == 0) {
        bandOutputEnd = std::min(outputHeight, kBandOutputRows);
    }
    const uint64_t bandRows = BandSourceRow(bandOutputEnd) - BandSourceRow(bandOutputStart);
    if (bandRows > bandCapacityRows) {
        // Bands differ by at most a row or two; keep some slack so the buffer is allocated once.
        const uint64_t capacity = std::min<uint64_t>(bandRows + 2, sourceHeight);
        band = AllocateRaster(capacity * rowBytes);
        if (!band) {
            return nullptr;
        }
        bandCapacityRows = capacity;
    }
    return band.get() + (nextRow - BandSourceRow(bandOutputStart)) * rowBytes;
}

bool RasterBuilder::CommitRow() {
    if (mode != Mode::Rows || nextRow >= sourceHeight) {
        return false;
    }
    ++nextRow;
    if (IsScaled() && nextRow == BandSourceRow(bandOutputEnd)) {
        return FlushBand();
    }
    return true;
}

bool RasterBuilder::FlushBand() {
    const uint64_t first = BandSourceRow(bandOutputStart);
    const auto rows = static_cast<uint32_t>(BandSourceRow(bandOutputEnd) - first);
    const uint32_t outputRows = bandOutputEnd - bandOutputStart;
    const ScaleFilter filter = request.highQuality ? ScaleFilter::Box : ScaleFilter::Nearest;
    uint8_t* destination = output.get() + uint64_t{bandOutputStart} * outputWidth * 4;
    if (rows == 0 || !ScaleRaster(band.get(), sourceWidth, rows, sourceWidth * 4, destination, outputWidth,
                                  outputRows, filter)) {
        return false;
    }
    bandOutputStart = bandOutputEnd;
    bandOutputEnd = std::min(outputHeight, bandOutputEnd + kBandOutputRows);
    return true;
}

uint8_t* RasterBuilder::WholeBuffer() {
    if (!started || mode == Mode::Rows) {
        return nullptr;
    }
    if (mode == Mode::Whole) {
        return whole.get();
    }
    whole = AllocateRaster(uint64_t{sourceWidth} * sourceHeight * 4);
    if (!whole) {
        return nullptr;
    }
    std::memset(whole.get(), 0, uint64_t{sourceWidth} * sourceHeight * 4);
    mode = Mode::Whole;
    return whole.get();
}

bool RasterBuilder::Finish(std::unique_ptr<uint8_t[]>& pixels) {
    if (mode == Mode::Rows) {
        if (nextRow != sourceHeight || (IsScaled() && bandOutputStart != outputHeight)) {
            return false;
        }
        pixels = std::move(output);
        return pixels != nullptr;
    }
    if (mode != Mode::Whole) {
        return false;
    }
    if (!IsScaled()) {
        pixels = std::move(whole);
        return pixels != nullptr;
    }
    if (!EnsureOutput()) {
        return false;
    }
    const ScaleFilter filter = request.highQuality ? ScaleFilter::Box : ScaleFilter::Nearest;
    if (!ScaleRaster(whole.get(), sourceWidth, sourceHeight, sourceWidth * 4, output.get(), outputWidth,
                     outputHeight, filter)) {
        return false;
    }
    whole.reset();
    pixels = std::move(output);
    return true;
}

} // namespace decode
