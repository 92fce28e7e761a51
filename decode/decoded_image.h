#pragma once

#include <cstdint>
#include <memory>

namespace decode {

class IDecoder;

// A decoded picture: 32-bit blue, green, red, alpha, premultiplied, rows top to bottom with no gaps
// (stride == width * 4). Copying a record shares the pixels; the raster is freed with its last holder,
// and the holder count is atomic so records move freely between threads.
struct DecodedImage {
    std::shared_ptr<uint8_t[]> pixels;
    uint64_t size = 0; // stride * height
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t stride = 0;
    uint32_t orientation = 1; // EXIF orientation 1..8 of the source; 1 is upright as stored
    // The picture's size as stored in the file (the raster may be a reduced decode of it), in the
    // raster's orientation; 0 when unknown, and then the raster's own size stands for it.
    uint32_t sourceWidth = 0;
    uint32_t sourceHeight = 0;
};

// The source size of the picture, or the raster's size when the source size is unknown.
uint32_t SourceWidthOf(const DecodedImage& image);
uint32_t SourceHeightOf(const DecodedImage& image);

// Pixels present and every size non-zero. A load that "succeeds" with an invalid record failed.
bool IsValidImage(const DecodedImage& image);

// Turns the raster upright for orientations 3, 6 and 8 and sets orientation to 1. The mirrored
// orientations 2, 4, 5 and 7 keep the raster as stored (orientation still becomes 1); codes outside
// 2..8 leave the record untouched. The raster is replaced, never rewritten, so other holders of the old
// pixels keep seeing them. False only when the new raster cannot be allocated (the record is unchanged).
bool ApplyOrientation(DecodedImage& image);

// Moves a loaded decoder's raster into `image` (width, height, stride, size = height * stride, and the
// decoder's source size) under a
// fresh shared owner, releasing the record's previous pixels. The record never points into memory that
// the decoder still owns. False (record unchanged) when the decoder holds no raster or its sizes are
// inconsistent.
bool CopyOutDecoder(IDecoder& decoder, DecodedImage& image);

} // namespace decode
