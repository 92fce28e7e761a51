#include "decode/freeimage_support.h"

#include "decode/image_scaler.h"
#include "decode/wic_raster.h"
#include "platform/trace.h"

#include <FreeImage.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

namespace decode {

namespace {

// 1/2.2 in single precision (bits 0x3EE8BA2E).
constexpr float kDisplayGamma = 0.45454544f;

struct BitmapDeleter {
    void operator()(FIBITMAP* bitmap) const { FreeImage_Unload(bitmap); }
};
using Bitmap = std::unique_ptr<FIBITMAP, BitmapDeleter>;

// The bytes FreeImage reads through its I/O callbacks. Reads past the end come back as zeros: some of
// the library's readers (OpenEXR's header parser) ignore short reads and would otherwise go on parsing
// the stale contents of their buffer for ever.
struct MemorySource {
    const uint8_t* bytes = nullptr;
    size_t size = 0;
    size_t position = 0;
};

unsigned DLL_CALLCONV ReadSource(void* buffer, unsigned size, unsigned count, fi_handle handle) {
    auto* source = static_cast<MemorySource*>(handle);
    const uint64_t wanted = uint64_t{size} * count;
    const uint64_t available = std::min<uint64_t>(wanted, source->size - source->position);
    std::memcpy(buffer, source->bytes + source->position, available);
    std::memset(static_cast<uint8_t*>(buffer) + available, 0, wanted - available);
    source->position += available;
    return size == 0 ? 0 : static_cast<unsigned>(available / size);
}

unsigned DLL_CALLCONV WriteNothing(void*, unsigned, unsigned, fi_handle) {
    return 0;
}

int DLL_CALLCONV SeekSource(fi_handle handle, long offset, int origin) {
    auto* source = static_cast<MemorySource*>(handle);
    const int64_t base = origin == SEEK_SET   ? 0
                         : origin == SEEK_CUR ? int64_t(source->position)
                                              : int64_t(source->size);
    const int64_t target = base + offset;
    if (target < 0 || uint64_t(target) > source->size) {
        return -1;
    }
    source->position = static_cast<size_t>(target);
    return 0;
}

long DLL_CALLCONV TellSource(fi_handle handle) {
    return static_cast<long>(static_cast<MemorySource*>(handle)->position);
}

FreeImageIO SourceIo() {
    FreeImageIO io{};
    io.read_proc = ReadSource;
    io.write_proc = WriteNothing;
    io.seek_proc = SeekSource;
    io.tell_proc = TellSource;
    return io;
}

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

uint32_t ReadLittleEndian32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Whether the attribute list of an OpenEXR header ends inside the data, read the way the library behind
// FreeImage's reader reads it (names and type names of at most 31 bytes, or 255 with the long-names
// flag). That library keeps reading a header cut short for ever and sizes a preview attribute by its
// own fields, so such files never reach it.
bool ExrHeaderComplete(const uint8_t* bytes, size_t size) {
    if (size < 8) {
        return false;
    }
    const size_t maxName = (bytes[5] & 0x04) != 0 ? 255 : 31;
    size_t position = 8; // magic number and version
    const auto readString = [&](std::string_view& text) {
        const size_t limit = std::min(size - position, maxName + 1);
        const void* end = std::memchr(bytes + position, 0, limit);
        if (end == nullptr) {
            return false;
        }
        const size_t length = static_cast<size_t>(static_cast<const uint8_t*>(end) - (bytes + position));
        text = std::string_view(reinterpret_cast<const char*>(bytes + position), length);
        position += length + 1;
        return true;
    };
    const bool multiPart = (bytes[5] & 0x10) != 0;
    while (position < size) {
        if (bytes[position] == 0) {
            ++position; // the end of a header
            // Multi-part files list their headers one after the other, ended by an empty one.
            if (!multiPart || (position < size && bytes[position] == 0)) {
                return position + (multiPart ? 1 : 0) < size;
            }
            continue;
        }
        std::string_view name;
        std::string_view type;
        if (!readString(name) || !readString(type) || position + 4 > size) {
            return false;
        }
        const uint32_t length = ReadLittleEndian32(bytes + position);
        position += 4;
        if (length > size - position) {
            return false;
        }
        if (type == "preview" && (length < 8 || uint64_t{ReadLittleEndian32(bytes + position)} *
                                                        ReadLittleEndian32(bytes + position + 4) * 4 !=
                                                    length - 8)) {
            return false;
        }
        position += length;
    }
    return false;
}

bool DeclaredSizeWithinCaps(FREE_IMAGE_FORMAT format, FreeImageIO& io, MemorySource& source) {
    const uint8_t* bytes = source.bytes;
    const size_t size = source.size;
    if (format == FIF_PSD) {
        return PsdHeaderWithinCaps(bytes, size);
    }
    if (format == FIF_EXR && !ExrHeaderComplete(bytes, size)) {
        return false;
    }
    if (!FreeImage_FIFSupportsNoPixels(format)) {
        return false; // no way to learn the size before the pixels are allocated
    }
    source.position = 0;
    const Bitmap header(FreeImage_LoadFromHandle(format, &io, &source, FIF_LOAD_NOPIXELS));
    source.position = 0;
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
    MemorySource input{bytes, size, 0};
    FreeImageIO io = SourceIo();
    const FREE_IMAGE_FORMAT format = FreeImage_GetFileTypeFromHandle(&io, &input, 0);
    if (format == FIF_UNKNOWN || !FreeImage_FIFSupportsReading(format)) {
        return FreeImageResult::UnknownFormat;
    }
    if (!DeclaredSizeWithinCaps(format, io, input)) {
        return FreeImageResult::LoadFailed;
    }
    input.position = 0;
    Bitmap loaded(FreeImage_LoadFromHandle(format, &io, &input, 0));
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
