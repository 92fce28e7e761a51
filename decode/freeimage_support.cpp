#include "decode/freeimage_support.h"

#include "decode/image_scaler.h"
#include "decode/wic_raster.h"
#include "platform/trace.h"

#include <FreeImage.h>

#include <cmath>
#include <cstring>
#include <mutex>
#include <string>

namespace decode {

namespace {

// 1/2.2 in single precision (bits 0x3EE8BA2E).
constexpr float kDisplayGamma = 0.45454544f;

struct BitmapDeleter {
    void operator()(FIBITMAP* bitmap) const { FreeImage_Unload(bitmap); }
};
using Bitmap = std::unique_ptr<FIBITMAP, BitmapDeleter>;

struct MemoryDeleter {
    void operator()(FIMEMORY* memory) const { FreeImage_CloseMemory(memory); }
};
using Memory = std::unique_ptr<FIMEMORY, MemoryDeleter>;

void TraceFreeImageMessage(FREE_IMAGE_FORMAT, const char* message) {
    platform::DebugTrace(std::string("FreeImage: ") + (message != nullptr ? message : ""));
}

void InitialiseOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        FreeImage_Initialise(FALSE);
        FreeImage_SetOutputMessage(TraceFreeImageMessage);
    });
}

uint32_t ReadBigEndian32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

bool WithinCaps(uint64_t width, uint64_t height) {
    return width != 0 && height != 0 && width * height <= kMaxDecodedPixels;
}

// The PSD/PSB file header: signature, version, 6 reserved bytes, channels, height, width.
bool PsdHeaderWithinCaps(const uint8_t* bytes, size_t size) {
    return size >= 26 && WithinCaps(ReadBigEndian32(bytes + 18), ReadBigEndian32(bytes + 14));
}

// Whether the attribute list of an OpenEXR header ends inside the data. The library behind FreeImage's
// reader keeps reading a header cut short for ever, so such files never reach it.
bool ExrHeaderComplete(const uint8_t* bytes, size_t size) {
    size_t position = 8; // magic number and version
    const auto skipString = [&]() {
        const void* end = position < size ? std::memchr(bytes + position, 0, size - position) : nullptr;
        if (end == nullptr) {
            return false;
        }
        position = static_cast<size_t>(static_cast<const uint8_t*>(end) - bytes) + 1;
        return true;
    };
    while (position < size) {
        if (bytes[position] == 0) {
            return position + 1 < size; // the end of the header, with data after it
        }
        if (!skipString() || !skipString() || position + 4 > size) {
            return false;
        }
        const uint32_t length = uint32_t{bytes[position]} | uint32_t{bytes[position + 1]} << 8 |
                                uint32_t{bytes[position + 2]} << 16 | uint32_t{bytes[position + 3]} << 24;
        if (length > size - position - 4) {
            return false;
        }
        position += 4 + length;
    }
    return false;
}

bool DeclaredSizeWithinCaps(FREE_IMAGE_FORMAT format, FIMEMORY* memory, const uint8_t* bytes, size_t size) {
    if (format == FIF_PSD) {
        return PsdHeaderWithinCaps(bytes, size);
    }
    if (format == FIF_EXR && !ExrHeaderComplete(bytes, size)) {
        return false;
    }
    if (!FreeImage_FIFSupportsNoPixels(format)) {
        return false; // no way to learn the size before the pixels are allocated
    }
    FreeImage_SeekMemory(memory, 0, SEEK_SET);
    const Bitmap header(FreeImage_LoadFromMemory(format, memory, FIF_LOAD_NOPIXELS));
    FreeImage_SeekMemory(memory, 0, SEEK_SET);
    return header && WithinCaps(FreeImage_GetWidth(header.get()), FreeImage_GetHeight(header.get()));
}

bool IsFloatImage(FREE_IMAGE_TYPE type) {
    return type == FIT_FLOAT || type == FIT_RGBF || type == FIT_RGBAF;
}

} // namespace

uint8_t ToneMapChannel(float value) {
    if (!(value > 0.0f)) { // negative, zero and NaN
        return 0;
    }
    if (std::isinf(value)) {
        return 255;
    }
    const float mapped = 255.0f * std::pow(value / (value + 1.0f), kDisplayGamma) + 0.5f;
    return static_cast<uint8_t>(std::fmin(mapped, 255.0f));
}

uint8_t FloatAlphaToByte(float value) {
    if (!(value > 0.0f)) {
        return 0;
    }
    return static_cast<uint8_t>(std::fmin(255.0f * value + 0.5f, 255.0f));
}

void ToneMapRow(const float* rgba, uint32_t count, uint8_t* bgra) {
    for (uint32_t x = 0; x < count; ++x) {
        const float* in = rgba + uint64_t{x} * 4;
        uint8_t* out = bgra + uint64_t{x} * 4;
        out[0] = ToneMapChannel(in[2]);
        out[1] = ToneMapChannel(in[1]);
        out[2] = ToneMapChannel(in[0]);
        out[3] = FloatAlphaToByte(in[3]);
    }
    PremultiplyRow(bgra, count);
}

FreeImageResult DecodeWithFreeImage(const uint8_t* bytes, size_t size, FreeImageRaster& raster) {
    InitialiseOnce();
    if (bytes == nullptr || size == 0 || size > UINT32_MAX) {
        return FreeImageResult::UnknownFormat;
    }
    const Memory memory(FreeImage_OpenMemory(const_cast<BYTE*>(bytes), static_cast<DWORD>(size)));
    if (!memory) {
        return FreeImageResult::LoadFailed;
    }
    const FREE_IMAGE_FORMAT format = FreeImage_GetFileTypeFromMemory(memory.get(), 0);
    if (format == FIF_UNKNOWN || !FreeImage_FIFSupportsReading(format)) {
        return FreeImageResult::UnknownFormat;
    }
    if (!DeclaredSizeWithinCaps(format, memory.get(), bytes, size)) {
        return FreeImageResult::LoadFailed;
    }
    Bitmap loaded(FreeImage_LoadFromMemory(format, memory.get(), 0));
    if (!loaded || !FreeImage_HasPixels(loaded.get())) {
        return FreeImageResult::LoadFailed;
    }
    const uint32_t width = FreeImage_GetWidth(loaded.get());
    const uint32_t height = FreeImage_GetHeight(loaded.get());
    if (!WithinCaps(width, height)) {
        return FreeImageResult::LoadFailed;
    }

    // Float images are tone mapped here: the library's 32-bit conversion does not take them.
    const bool floating = IsFloatImage(FreeImage_GetImageType(loaded.get()));
    Bitmap converted;
    if (floating) {
        if (FreeImage_GetImageType(loaded.get()) != FIT_RGBAF) {
            converted.reset(FreeImage_ConvertToRGBAF(loaded.get()));
        }
    } else if (FreeImage_GetImageType(loaded.get()) != FIT_BITMAP || FreeImage_GetBPP(loaded.get()) != 32) {
        converted.reset(FreeImage_ConvertTo32Bits(loaded.get()));
    }
    FIBITMAP* source = converted ? converted.get() : loaded.get();
    if (source == loaded.get() &&
        (floating ? FreeImage_GetImageType(source) != FIT_RGBAF : FreeImage_GetBPP(source) != 32)) {
        return FreeImageResult::ConvertFailed;
    }
    if (FreeImage_GetWidth(source) != width || FreeImage_GetHeight(source) != height) {
        return FreeImageResult::ConvertFailed;
    }

    std::unique_ptr<uint8_t[]> pixels = AllocateRaster(uint64_t{width} * height * 4);
    if (!pixels) {
        return FreeImageResult::LoadFailed;
    }
    // FreeImage stores rows bottom-up.
    for (uint32_t y = 0; y < height; ++y) {
        const BYTE* line = FreeImage_GetScanLine(source, static_cast<int>(height - 1 - y));
        uint8_t* row = pixels.get() + uint64_t{y} * width * 4;
        if (floating) {
            ToneMapRow(reinterpret_cast<const float*>(line), width, row);
        } else {
            std::copy(line, line + uint64_t{width} * 4, row);
            PremultiplyRow(row, width);
        }
    }
    raster.pixels = std::move(pixels);
    raster.width = width;
    raster.height = height;
    return FreeImageResult::Decoded;
}

} // namespace decode
