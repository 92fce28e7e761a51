#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace decode {

// The abstract decoder. One object per load, used on the thread that created it: created empty, loaded
// once, queried, copied out (CopyOutDecoder) and destroyed. Loads report bad input only by returning
// false; nothing is thrown to the caller.
//
// The virtual operations are declared in their fixed slot order. A target width and height of 0 mean
// "full size"; a target is a hint that only decoders able to decode at a reduced size use. The
// high-quality flag picks the better of two resampling choices where a decoder has one.
class IDecoder {
public:
    IDecoder() = default;
    IDecoder(const IDecoder&) = delete;
    IDecoder& operator=(const IDecoder&) = delete;

    // Slot 0. Base: forwards to LoadPath, ignoring the hints.
    virtual bool Load(const std::string& path, uint32_t targetWidth, uint32_t targetHeight, bool highQuality);
    // Slot 1. Base: Load(path, 0, 0, false).
    virtual bool LoadPath(const std::string& path);
    // Slots 2 to 7.
    virtual uint32_t GetWidth() const { return width; }
    virtual uint32_t GetHeight() const { return height; }
    // Size of the image as stored in the file; the base answers the decoded size.
    virtual uint32_t GetSourceWidth() const { return width; }
    virtual uint32_t GetSourceHeight() const { return height; }
    virtual const uint8_t* GetPixels() const { return pixels.get(); }
    virtual uint32_t GetStride() const { return stride; }
    // Slot 8: reserved; every decoder answers 0.
    virtual uint32_t ReservedQuery() const { return 0; }
    // Slot 9. Base: the class cannot decode from memory.
    virtual bool LoadFromMemory(const uint8_t* bytes, uint64_t size, uint32_t targetWidth, uint32_t targetHeight,
                                bool highQuality);
    // Slot 10.
    virtual ~IDecoder() = default;

    // Hands the raster over to the caller (used by the copy-out). Empty when nothing is loaded.
    std::unique_ptr<uint8_t[]> TakePixelBuffer() { return std::move(pixels); }

protected:
    std::unique_ptr<uint8_t[]> pixels; // null until a load succeeds
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t stride = 0; // width * 4

    // Frees any raster and zeroes the sizes; for loads that fail half way.
    void Reset();
};

} // namespace decode
