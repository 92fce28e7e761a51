#include "decode/image_scaler.h"

#include <algorithm>
#include <climits>
#include <libyuv/scale_argb.h>

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

bool ScaleRaster(const uint8_t* source, uint32_t sourceWidth, uint32_t sourceHeight, uint32_t sourceStride,
                 uint8_t* destination, uint32_t destinationWidth, uint32_t destinationHeight,
                 ScaleFilter filter) {
    constexpr uint32_t kIntLimit = INT_MAX / 4;
    if (source == nullptr || destination == nullptr || sourceWidth == 0 || sourceHeight == 0 ||
        destinationWidth == 0 || destinationHeight == 0 || sourceWidth > kIntLimit ||
        destinationWidth > kIntLimit || sourceHeight > INT_MAX || destinationHeight > INT_MAX ||
        sourceStride > INT_MAX) {
        return false;
    }
    const libyuv::FilterMode mode = filter == ScaleFilter::Box ? libyuv::kFilterBox : libyuv::kFilterNone;
    return libyuv::ARGBScale(source, static_cast<int>(sourceStride), static_cast<int>(sourceWidth),
                             static_cast<int>(sourceHeight), destination,
                             static_cast<int>(destinationWidth * 4), static_cast<int>(destinationWidth),
                             static_cast<int>(destinationHeight), mode) == 0;
}

} // namespace decode
