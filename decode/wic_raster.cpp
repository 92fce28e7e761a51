#include "decode/wic_raster.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace decode {

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

bool RasterBuilder::Begin(uint32_t width, uint32_t height, uint64_t plausiblePixels) {
    const uint64_t pixelCount = uint64_t{width} * height;
    if (started || width == 0 || height == 0 || pixelCount > kMaxSourcePixels ||
        (pixelCount > kAlwaysPlausiblePixels && pixelCount > plausiblePixels)) {
        return false;
    }
    started = true;
    sourceWidth = width;
    sourceHeight = height;
    const ScaledSize size =
        ComputeScaledSize(width, height, request.targetWidth, request.targetHeight, request.fullDecode);
    outputWidth = size.width;
    outputHeight = size.height;
    return uint64_t{outputWidth} * outputHeight <= kMaxDecodedPixels;
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
    const uint64_t rowBytes = uint64_t{sourceWidth} * 4;
    if (mode == Mode::None) {
        if (!EnsureOutput()) {
            return nullptr;
        }
        if (IsScaled()) {
            row = AllocateRaster(rowBytes);
            if (!row ||
                !scaler.Start(sourceWidth, sourceHeight, outputWidth, outputHeight, Filter(), output.get())) {
                return nullptr;
            }
        }
        mode = Mode::Rows;
    }
    return IsScaled() ? row.get() : output.get() + nextRow * rowBytes;
}

bool RasterBuilder::CommitRow() {
    if (mode != Mode::Rows || nextRow >= sourceHeight) {
        return false;
    }
    ++nextRow;
    if (IsScaled()) {
        scaler.AddRow(row.get());
    }
    return true;
}

bool RasterBuilder::PutPixels(uint32_t y, uint32_t firstColumn, uint32_t step, const uint8_t* pixels,
                              uint32_t count) {
    if (!started || (mode != Mode::None && mode != Mode::Runs)) {
        return false;
    }
    if (mode == Mode::None) {
        if (!EnsureOutput()) {
            return false;
        }
        if (IsScaled()) {
            if (!scatter.Start(sourceWidth, sourceHeight, outputWidth, outputHeight, Filter(),
                               output.get())) {
                return false;
            }
        } else {
            std::memset(output.get(), 0, uint64_t{outputWidth} * outputHeight * 4);
        }
        mode = Mode::Runs;
    }
    if (count == 0) {
        return true;
    }
    if (IsScaled()) {
        scatter.Put(y, firstColumn, step, pixels, count);
        return true;
    }
    if (y >= sourceHeight || step == 0 || firstColumn >= sourceWidth) {
        return true;
    }
    count = static_cast<uint32_t>(std::min<uint64_t>(count, (sourceWidth - 1 - firstColumn) / step + 1));
    uint8_t* row = output.get() + uint64_t{y} * sourceWidth * 4;
    if (step == 1) {
        std::memcpy(row + uint64_t{firstColumn} * 4, pixels, uint64_t{count} * 4);
    } else {
        for (uint64_t i = 0, column = firstColumn; i < count; ++i, column += step) {
            std::memcpy(row + column * 4, pixels + i * 4, 4);
        }
    }
    return true;
}

uint8_t* RasterBuilder::WholeBuffer() {
    if (!started || mode == Mode::Rows || mode == Mode::Runs ||
        uint64_t{sourceWidth} * sourceHeight > kMaxDecodedPixels) {
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
        if (nextRow != sourceHeight || (IsScaled() && !scaler.Finished())) {
            return false;
        }
        row.reset();
        pixels = std::move(output);
        return pixels != nullptr;
    }
    if (mode == Mode::Runs) {
        if (IsScaled()) {
            scatter.Finish();
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
    if (!EnsureOutput() || !ScaleRaster(whole.get(), sourceWidth, sourceHeight, sourceWidth * 4, output.get(),
                                        outputWidth, outputHeight, Filter())) {
        return false;
    }
    whole.reset();
    pixels = std::move(output);
    return true;
}

} // namespace decode
