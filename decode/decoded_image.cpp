#include "decode/decoded_image.h"

#include "decode/decoder.h"

#include <cstring>
#include <new>
#include <utility>

namespace decode {

bool IsValidImage(const DecodedImage& image) {
    return image.pixels != nullptr && image.size != 0 && image.width != 0 && image.height != 0;
}

uint32_t SourceWidthOf(const DecodedImage& image) {
    return image.sourceWidth != 0 && image.sourceHeight != 0 ? image.sourceWidth : image.width;
}

uint32_t SourceHeightOf(const DecodedImage& image) {
    return image.sourceWidth != 0 && image.sourceHeight != 0 ? image.sourceHeight : image.height;
}

bool ApplyOrientation(DecodedImage& image) {
    const uint32_t orientation = image.orientation;
    if (orientation < 2 || orientation > 8) {
        return true;
    }
    if (orientation != 3 && orientation != 6 && orientation != 8) {
        image.orientation = 1;
        return true;
    }
    if (!IsValidImage(image) || image.stride < uint64_t{image.width} * 4 ||
        image.size < uint64_t{image.stride} * image.height) {
        return false;
    }
    const uint32_t oldWidth = image.width;
    const uint32_t oldHeight = image.height;
    const uint32_t newWidth = orientation == 3 ? oldWidth : oldHeight;
    const uint32_t newHeight = orientation == 3 ? oldHeight : oldWidth;
    const uint64_t newStride = uint64_t{newWidth} * 4;
    const uint64_t newSize = newStride * newHeight;
    std::shared_ptr<uint8_t[]> turned(new (std::nothrow) uint8_t[newSize]);
    if (!turned) {
        return false;
    }
    const auto* source = reinterpret_cast<const uint8_t*>(image.pixels.get());
    auto* target = reinterpret_cast<uint32_t*>(turned.get());
    for (uint32_t y = 0; y < oldHeight; ++y) {
        const uint8_t* row = source + uint64_t{y} * image.stride;
        for (uint32_t x = 0; x < oldWidth; ++x) {
            uint32_t pixel;
            std::memcpy(&pixel, row + uint64_t{x} * 4, 4);
            uint64_t targetX = 0;
            uint64_t targetY = 0;
            if (orientation == 3) {
                targetX = oldWidth - 1 - x;
                targetY = oldHeight - 1 - y;
            } else if (orientation == 6) {
                targetX = oldHeight - 1 - y;
                targetY = x;
            } else {
                targetX = y;
                targetY = oldWidth - 1 - x;
            }
            target[targetY * newWidth + targetX] = pixel;
        }
    }
    image.pixels = std::move(turned);
    image.width = newWidth;
    image.height = newHeight;
    image.stride = static_cast<uint32_t>(newStride);
    image.size = newSize;
    image.orientation = 1;
    if (orientation != 3) {
        std::swap(image.sourceWidth, image.sourceHeight);
    }
    return true;
}

bool CopyOutDecoder(IDecoder& decoder, DecodedImage& image) {
    const uint32_t width = decoder.GetWidth();
    const uint32_t height = decoder.GetHeight();
    const uint32_t stride = decoder.GetStride();
    const uint8_t* source = decoder.GetPixels();
    if (source == nullptr || width == 0 || height == 0 || stride < uint64_t{width} * 4) {
        return false;
    }
    const uint64_t size = uint64_t{height} * stride;
    std::unique_ptr<uint8_t[]> owned = decoder.TakePixelBuffer();
    if (owned.get() != source) {
        // The decoder delivers its raster from memory it does not hand over (a library buffer): copy it.
        owned.reset(new (std::nothrow) uint8_t[size]);
        if (!owned) {
            return false;
        }
        std::memcpy(owned.get(), source, size);
    }
    image.pixels = std::shared_ptr<uint8_t[]>(owned.release());
    image.width = width;
    image.height = height;
    image.stride = stride;
    image.size = size;
    image.sourceWidth = decoder.GetSourceWidth();
    image.sourceHeight = decoder.GetSourceHeight();
    return true;
}

} // namespace decode
