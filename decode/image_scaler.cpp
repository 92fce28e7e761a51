#include "decode/image_scaler.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

namespace decode {

namespace {

// The rounded average of a box of `area` source pixels from the sum of one channel, through a 32.32
// reciprocal: one division per pixel instead of four. Its excess is below 256 * area / 2^32, under 1/16
// up to 2^20 source pixels per output pixel; larger boxes (only from extreme reductions) divide exactly.
class BoxDivisor {
public:
    explicit BoxDivisor(uint64_t area) : area(area), reciprocal(((uint64_t{1} << 32) + area - 1) / area) {}
    uint8_t Average(uint64_t sum) const {
        constexpr uint64_t kReciprocalLimit = uint64_t{1} << 20;
        const uint64_t rounded = sum + area / 2;
        const uint64_t value = area <= kReciprocalLimit ? (rounded * reciprocal) >> 32 : rounded / area;
        return static_cast<uint8_t>(std::min<uint64_t>(value, 255));
    }

private:
    uint64_t area;
    uint64_t reciprocal;
};

// The source column (or row) that output column x samples under the nearest filter: its centre.
uint32_t NearestSource(uint32_t x, uint32_t source, uint32_t destination) {
    return static_cast<uint32_t>(
        std::min<uint64_t>(source - 1, (uint64_t{2} * x + 1) * source / (uint64_t{2} * destination)));
}

// The output column (or row) whose box, [x * source / destination, (x + 1) * source / destination),
// holds source column c.
uint32_t BoxOf(uint32_t c, uint32_t source, uint32_t destination) {
    return static_cast<uint32_t>(((uint64_t{c} + 1) * destination + source - 1) / source - 1);
}

// The scalers only reduce, into a destination that exists.
bool IsReduction(uint32_t sw, uint32_t sh, uint32_t dw, uint32_t dh, const uint8_t* output) {
    return output != nullptr && sw != 0 && sh != 0 && dw != 0 && dh != 0 && dw <= sw && dh <= sh;
}

} // namespace

ScaledSize ComputeScaledSize(uint32_t sourceWidth, uint32_t sourceHeight, uint32_t targetWidth,
                             uint32_t targetHeight, bool fullDecode) {
    ScaledSize size{sourceWidth, sourceHeight};
    if (fullDecode || targetWidth == 0 || targetHeight == 0 || sourceWidth == 0 || sourceHeight == 0 ||
        (sourceWidth <= targetWidth && sourceHeight <= targetHeight)) {
        return size;
    }
    const float factor = std::min(static_cast<float>(targetWidth) / static_cast<float>(sourceWidth),
                                  static_cast<float>(targetHeight) / static_cast<float>(sourceHeight));
    const auto side = [factor](uint32_t source) {
        const auto scaled = static_cast<uint32_t>(static_cast<float>(source) * factor);
        return std::clamp<uint32_t>(scaled, 1, source);
    };
    size.width = side(sourceWidth);
    size.height = side(sourceHeight);
    return size;
}

bool RowScaler::Start(uint32_t sw, uint32_t sh, uint32_t dw, uint32_t dh, ScaleFilter scaleFilter,
                      uint8_t* output) {
    if (started || !IsReduction(sw, sh, dw, dh, output)) {
        return false;
    }
    sourceWidth = sw;
    sourceHeight = sh;
    destinationWidth = dw;
    destinationHeight = dh;
    filter = scaleFilter;
    destination = output;
    columns.reset(new (std::nothrow) uint32_t[dw + 1]);
    if (!columns) {
        return false;
    }
    for (uint32_t x = 0; x <= dw; ++x) {
        columns[x] = filter == ScaleFilter::Box ? static_cast<uint32_t>(uint64_t{x} * sw / dw)
                                                // Nearest: the centre of output column x, in source columns.
                                                : NearestSource(x, sw, dw);
    }
    if (filter == ScaleFilter::Box) {
        accumulator.reset(new (std::nothrow) uint64_t[uint64_t{dw} * 4]());
        if (!accumulator) {
            return false;
        }
    }
    started = true;
    triggerRow = TriggerRow();
    return true;
}

uint64_t RowScaler::TriggerRow() const {
    if (nextOutputRow >= destinationHeight) {
        return UINT64_MAX;
    }
    if (filter == ScaleFilter::Box) {
        return RowStart(nextOutputRow + 1) - 1;
    }
    return NearestSource(nextOutputRow, sourceHeight, destinationHeight);
}

void RowScaler::AddRow(const uint8_t* row) {
    if (!started || nextSourceRow >= sourceHeight) {
        return;
    }
    const uint32_t y = nextSourceRow++;
    if (filter == ScaleFilter::Nearest) {
        // Output rows whose centre falls on this source row (exactly one or none when reducing).
        while (nextOutputRow < destinationHeight && y == triggerRow) {
            uint8_t* out = destination + uint64_t{nextOutputRow} * destinationWidth * 4;
            for (uint32_t x = 0; x < destinationWidth; ++x) {
                std::memcpy(out + uint64_t{x} * 4, row + uint64_t{columns[x]} * 4, 4);
            }
            ++nextOutputRow;
            triggerRow = TriggerRow();
        }
        return;
    }
    uint64_t* sums = accumulator.get();
    for (uint32_t x = 0; x < destinationWidth; ++x) {
        uint64_t b = 0, g = 0, r = 0, a = 0;
        for (const uint8_t *p = row + uint64_t{columns[x]} * 4, *end = row + uint64_t{columns[x + 1]} * 4;
             p < end; p += 4) {
            b += p[0];
            g += p[1];
            r += p[2];
            a += p[3];
        }
        sums[x * 4] += b;
        sums[x * 4 + 1] += g;
        sums[x * 4 + 2] += r;
        sums[x * 4 + 3] += a;
    }
    if (y == triggerRow) {
        EmitBoxRow();
        triggerRow = TriggerRow();
    }
}

void RowScaler::EmitBoxRow() {
    const uint64_t rows = RowStart(nextOutputRow + 1) - RowStart(nextOutputRow);
    uint8_t* out = destination + uint64_t{nextOutputRow} * destinationWidth * 4;
    uint64_t* sums = accumulator.get();
    for (uint32_t x = 0; x < destinationWidth; ++x) {
        const BoxDivisor divisor(rows * (columns[x + 1] - columns[x]));
        for (int c = 0; c < 4; ++c) {
            out[x * 4 + c] = divisor.Average(sums[x * 4 + c]);
            sums[x * 4 + c] = 0;
        }
    }
    ++nextOutputRow;
}

bool ScatterScaler::Start(uint32_t sw, uint32_t sh, uint32_t dw, uint32_t dh, ScaleFilter scaleFilter,
                          uint8_t* output) {
    if (started || !IsReduction(sw, sh, dw, dh, output)) {
        return false;
    }
    sourceWidth = sw;
    sourceHeight = sh;
    destinationWidth = dw;
    destinationHeight = dh;
    destination = output;
    const uint64_t outputPixels = uint64_t{dw} * dh;
    // The largest box: its sums must fit 32 bits, and all sums the raster cap.
    const uint64_t largestBox = (uint64_t{sw} / dw + 1) * (uint64_t{sh} / dh + 1);
    filter = scaleFilter == ScaleFilter::Box && largestBox <= UINT32_MAX / 255 &&
                     outputPixels * 4 * sizeof(uint32_t) <= kMaxRasterBytes
                 ? ScaleFilter::Box
                 : ScaleFilter::Nearest;
    columns.reset(new (std::nothrow) uint32_t[dw + 1]);
    if (!columns) {
        return false;
    }
    for (uint32_t x = 0; x <= dw; ++x) {
        columns[x] = filter == ScaleFilter::Box ? static_cast<uint32_t>(uint64_t{x} * sw / dw)
                                                : NearestSource(std::min(x, dw - 1), sw, dw);
    }
    if (filter == ScaleFilter::Box) {
        sums.reset(new (std::nothrow) uint32_t[outputPixels * 4]());
        if (!sums) {
            return false;
        }
    }
    std::memset(destination, 0, outputPixels * 4);
    started = true;
    return true;
}

bool ScatterScaler::Uses(uint32_t y) const {
    if (!started || y >= sourceHeight) {
        return false;
    }
    if (filter == ScaleFilter::Box) {
        return true;
    }
    // The output row sampling row y, if any, lies near y * dh / sh.
    const uint64_t guess = uint64_t{y} * destinationHeight / sourceHeight;
    for (uint64_t outputRow = guess > 0 ? guess - 1 : 0;
         outputRow <= guess + 1 && outputRow < destinationHeight; ++outputRow) {
        if (NearestSource(static_cast<uint32_t>(outputRow), sourceHeight, destinationHeight) == y) {
            return true;
        }
    }
    return false;
}

void ScatterScaler::Put(uint32_t y, uint32_t firstColumn, uint32_t step, const uint8_t* pixels,
                        uint32_t count) {
    if (!Uses(y) || step == 0 || firstColumn >= sourceWidth) {
        return;
    }
    count = static_cast<uint32_t>(std::min<uint64_t>(count, (sourceWidth - 1 - firstColumn) / step + 1));
    if (count == 0) {
        return;
    }
    if (filter == ScaleFilter::Nearest) {
        // The output row sampling row y: one when reducing.
        const uint64_t guess = uint64_t{y} * destinationHeight / sourceHeight;
        for (uint64_t outputRow = guess > 0 ? guess - 1 : 0;
             outputRow <= guess + 1 && outputRow < destinationHeight; ++outputRow) {
            if (NearestSource(static_cast<uint32_t>(outputRow), sourceHeight, destinationHeight) != y) {
                continue;
            }
            uint8_t* out = destination + outputRow * destinationWidth * 4;
            const uint64_t last = firstColumn + uint64_t{count - 1} * step;
            for (uint32_t x = 0; x < destinationWidth; ++x) {
                const uint32_t column = columns[x];
                if (column >= firstColumn && column <= last && (column - firstColumn) % step == 0) {
                    std::memcpy(out + uint64_t{x} * 4, pixels + uint64_t{(column - firstColumn) / step} * 4,
                                4);
                }
            }
        }
        return;
    }
    uint32_t* rowSums =
        sums.get() + uint64_t{BoxOf(y, sourceHeight, destinationHeight)} * destinationWidth * 4;
    uint32_t x = BoxOf(firstColumn, sourceWidth, destinationWidth);
    uint64_t column = firstColumn;
    for (uint32_t i = 0; i < count; ++i, column += step, pixels += 4) {
        while (column >= columns[x + 1]) {
            ++x;
        }
        uint32_t* sum = rowSums + uint64_t{x} * 4;
        sum[0] += pixels[0];
        sum[1] += pixels[1];
        sum[2] += pixels[2];
        sum[3] += pixels[3];
    }
}

void ScatterScaler::Finish() {
    if (!started || filter != ScaleFilter::Box) {
        return;
    }
    for (uint32_t y = 0; y < destinationHeight; ++y) {
        const uint64_t rows = uint64_t{y + 1} * sourceHeight / destinationHeight -
                              uint64_t{y} * sourceHeight / destinationHeight;
        const uint64_t offset = uint64_t{y} * destinationWidth * 4;
        for (uint32_t x = 0; x < destinationWidth; ++x) {
            const BoxDivisor divisor(rows * (columns[x + 1] - columns[x]));
            for (uint64_t c = offset + uint64_t{x} * 4, end = c + 4; c < end; ++c) {
                destination[c] = divisor.Average(sums[c]);
            }
        }
    }
    sums.reset();
}

bool ScaleRaster(const uint8_t* source, uint32_t sourceWidth, uint32_t sourceHeight, uint32_t sourceStride,
                 uint8_t* destination, uint32_t destinationWidth, uint32_t destinationHeight,
                 ScaleFilter filter) {
    RowScaler scaler;
    if (source == nullptr || sourceStride < uint64_t{sourceWidth} * 4 ||
        !scaler.Start(sourceWidth, sourceHeight, destinationWidth, destinationHeight, filter, destination)) {
        return false;
    }
    for (uint32_t y = 0; y < sourceHeight; ++y) {
        scaler.AddRow(source + uint64_t{y} * sourceStride);
    }
    return scaler.Finished();
}

} // namespace decode
