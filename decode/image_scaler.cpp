#include "decode/image_scaler.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

namespace decode {

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
    if (started || output == nullptr || sw == 0 || sh == 0 || dw == 0 || dh == 0 || dw > sw || dh > sh) {
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
        columns[x] =
            filter == ScaleFilter::Box
                ? static_cast<uint32_t>(uint64_t{x} * sw / dw)
                // Nearest: the centre of output column x, in source columns.
                : static_cast<uint32_t>(std::min<uint64_t>(sw - 1, (uint64_t{2} * x + 1) * sw / (2 * dw)));
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
    return std::min<uint64_t>(sourceHeight - 1, (uint64_t{2} * nextOutputRow + 1) * sourceHeight /
                                                    (uint64_t{2} * destinationHeight));
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
        // Rounded sum / area through a 32.32 reciprocal: one division per pixel instead of four. Its
        // excess is below 256 * area / 2^32, under 1/16 up to 2^20 source pixels per output pixel;
        // larger boxes (only from extreme reductions) divide exactly.
        const uint64_t area = rows * (columns[x + 1] - columns[x]);
        constexpr uint64_t kReciprocalLimit = uint64_t{1} << 20;
        const uint64_t reciprocal = ((uint64_t{1} << 32) + area - 1) / area;
        for (int c = 0; c < 4; ++c) {
            const uint64_t rounded = sums[x * 4 + c] + area / 2;
            const uint64_t value = area <= kReciprocalLimit ? (rounded * reciprocal) >> 32 : rounded / area;
            out[x * 4 + c] = static_cast<uint8_t>(std::min<uint64_t>(value, 255));
            sums[x * 4 + c] = 0;
        }
    }
    ++nextOutputRow;
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
