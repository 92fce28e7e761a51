#include "decode/freeimage_support.h"

#include "decode/child_process.h"
#include "decode/image_scaler.h"
#include "decode/wic_raster.h"
#include "platform/trace.h"

#include <FreeImage.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <unistd.h>

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

void InitialiseOnce() {
    static std::once_flag once;
    std::call_once(once, [] { FreeImage_Initialise(FALSE); });
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

// Whether the declared size is within the caps, learnt before any pixel is read; `pixels` is set to it.
bool DeclaredSizeWithinCaps(FREE_IMAGE_FORMAT format, FreeImageIO& io, MemorySource& source,
                            uint64_t& pixels) {
    const uint8_t* bytes = source.bytes;
    const size_t size = source.size;
    if (format == FIF_PSD) {
        pixels = size >= 26 ? uint64_t{ReadBigEndian32(bytes + 18)} * ReadBigEndian32(bytes + 14) : 0;
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
    if (!header) {
        return false;
    }
    pixels = uint64_t{FreeImage_GetWidth(header.get())} * FreeImage_GetHeight(header.get());
    return WithinCaps(FreeImage_GetWidth(header.get()), FreeImage_GetHeight(header.get()));
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

namespace {

// What the child reports at the start of the shared region; the pixels follow from kPixelOffset on.
constexpr size_t kMessageBytes = 2048;
struct ChildReport {
    FreeImageResult result;
    uint32_t width;
    uint32_t height;
    char messages[kMessageBytes]; // the library's messages, one a line, cut off when full
};
constexpr uint64_t kPixelOffset = 4096;
static_assert(sizeof(ChildReport) <= kPixelOffset);

// Memory the child may take for the library's header reading, and beyond its pixels for the rest.
constexpr uint64_t kHeaderMemory = uint64_t{256} << 20;
// Per pixel: the library's bitmap (up to 16 bytes of float RGBA) and its converted copy.
constexpr uint64_t kMemoryPerPixel = 40;
// Generous for any picture within the caps.
constexpr auto kChildTimeLimit = std::chrono::milliseconds(10'000 + kMaxDecodedPixels / 4'000);

struct ChildJob {
    const uint8_t* bytes;
    size_t size;
    ChildReport* report;
    uint8_t* pixels; // room for kMaxRasterBytes
};

// Set in the child only: where the library's messages go.
ChildReport* childReport = nullptr;

void KeepFreeImageMessage(FREE_IMAGE_FORMAT, const char* message) {
    if (childReport == nullptr || message == nullptr) {
        return;
    }
    char* messages = childReport->messages;
    const size_t used = strnlen(messages, kMessageBytes - 1);
    const size_t room = kMessageBytes - 1 - used;
    const size_t length = std::min(strlen(message), room > 0 ? room - 1 : 0);
    std::memcpy(messages + used, message, length);
    if (room > 0) {
        messages[used + length] = '\n';
    }
}

// Faulting in the pages of the shared region one at a time is slow (it made the child's hand-over cost
// twice as much); this maps them in one call where the kernel offers it (Linux 5.14 on; elsewhere the
// call fails and the pages fault in as used).
constexpr int kPopulateRead = MADV_POPULATE_READ;
constexpr int kPopulateWrite = MADV_POPULATE_WRITE;
void PopulateShared(uint8_t* start, uint64_t bytes, int advice) {
    const uint64_t page = uint64_t(::sysconf(_SC_PAGESIZE));
    ::madvise(start, (bytes + page - 1) / page * page, advice);
}

// The library's whole reading, in the child: pixels into the shared region, the outcome into the report.
FreeImageResult DecodeInChild(const ChildJob& job) {
    MemorySource input{job.bytes, job.size, 0};
    FreeImageIO io = SourceIo();
    LimitChildMemory(kHeaderMemory);
    const FREE_IMAGE_FORMAT format = FreeImage_GetFileTypeFromHandle(&io, &input, 0);
    if (format == FIF_UNKNOWN || !FreeImage_FIFSupportsReading(format)) {
        return FreeImageResult::UnknownFormat;
    }
    uint64_t declaredPixels = 0;
    if (!DeclaredSizeWithinCaps(format, io, input, declaredPixels)) {
        return FreeImageResult::LoadFailed;
    }
    LimitChildMemory(kHeaderMemory + declaredPixels * kMemoryPerPixel);
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
    PopulateShared(job.pixels, uint64_t{width} * height * 4, kPopulateWrite);
    // FreeImage stores rows bottom-up.
    for (uint32_t y = 0; y < height; ++y) {
        const BYTE* line = FreeImage_GetScanLine(source, static_cast<int>(height - 1 - y));
        uint8_t* row = job.pixels + uint64_t{y} * width * 4;
        if (floating) {
            ToneMapRow(reinterpret_cast<const float*>(line), width, row);
        } else {
            std::copy(line, line + uint64_t{width} * 4, row);
            PremultiplyRow(row, width);
        }
    }
    job.report->width = width;
    job.report->height = height;
    return FreeImageResult::Decoded;
}

bool RunDecodeInChild(void* context) {
    const ChildJob& job = *static_cast<const ChildJob*>(context);
    childReport = job.report;
    FreeImage_SetOutputMessage(KeepFreeImageMessage);
    job.report->result = DecodeInChild(job);
    return true;
}

void TraceMessages(const ChildReport& report) {
    const std::string_view messages(report.messages, strnlen(report.messages, kMessageBytes));
    size_t start = 0;
    while (start < messages.size()) {
        const size_t end = std::min(messages.find('\n', start), messages.size());
        platform::DebugTrace("FreeImage: " + std::string(messages.substr(start, end - start)));
        start = end + 1;
    }
}

} // namespace

// The library has faults that hostile files reach (heap overflows, unbounded allocations), so all of its
// reading happens in a child process with capped memory, which hands back the finished pixels through a
// shared region sized for the largest raster allowed; only the pages written cost memory.
FreeImageResult DecodeWithFreeImage(const uint8_t* bytes, size_t size, FreeImageRaster& raster) {
    if (bytes == nullptr || size == 0 || size > UINT32_MAX) {
        return FreeImageResult::UnknownFormat;
    }
    InitialiseOnce();
    SharedRegion region(kPixelOffset + kMaxRasterBytes, true);
    if (region.Data() == nullptr) {
        return FreeImageResult::LoadFailed;
    }
    auto* report = new (region.Data()) ChildReport{FreeImageResult::LoadFailed, 0, 0, {}};
    ChildJob job{bytes, size, report, region.Data() + kPixelOffset};
    const bool finished = RunInChildProcess(RunDecodeInChild, &job, kChildTimeLimit);
    TraceMessages(*report);
    if (!finished) {
        platform::DebugTrace("FreeImage: the reader crashed, ran out of memory or time");
        return FreeImageResult::LoadFailed;
    }
    const FreeImageResult result = report->result;
    if (result == FreeImageResult::UnknownFormat || result == FreeImageResult::ConvertFailed) {
        return result;
    }
    if (result != FreeImageResult::Decoded) {
        return FreeImageResult::LoadFailed;
    }
    const uint32_t width = report->width;
    const uint32_t height = report->height;
    if (!WithinCaps(width, height)) {
        return FreeImageResult::LoadFailed;
    }
    std::unique_ptr<uint8_t[]> pixels = AllocateRaster(uint64_t{width} * height * 4);
    if (!pixels) {
        return FreeImageResult::LoadFailed;
    }
    PopulateShared(job.pixels, uint64_t{width} * height * 4, kPopulateRead);
    std::memcpy(pixels.get(), job.pixels, uint64_t{width} * height * 4);
    raster.pixels = std::move(pixels);
    raster.width = width;
    raster.height = height;
    return FreeImageResult::Decoded;
}

} // namespace decode
