#include "decode/jxr_reader.h"

#include "decode/child_process.h"

#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

// jxrlib's headers define Windows-style macros; nothing else may be included after them.
#include <JXRGlue.h>

namespace decode {

namespace {

// Releases the jxrlib objects in reverse order of creation on every path out.
struct JxrSession {
    WMPStream* stream = nullptr;
    PKImageDecode* decoder = nullptr;
    PKFormatConverter* converter = nullptr;

    JxrSession() = default;
    JxrSession(const JxrSession&) = delete;
    JxrSession& operator=(const JxrSession&) = delete;
    ~JxrSession() {
        if (converter != nullptr) {
            converter->Release(&converter);
        }
        if (decoder != nullptr) {
            decoder->Release(&decoder);
        }
        if (stream != nullptr) {
            CloseWS_Memory(&stream);
        }
    }
};

uint16_t Read16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
uint32_t Read32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// jxrlib asserts (aborting the process) on several malformed directory entries, mostly descriptive
// metadata of unexpected types. Only the entries needed for the pixels are kept, and those are checked
// first: the directory is compacted in this private copy of the file.
bool SanitizeContainer(std::vector<uint8_t>& bytes) {
    constexpr uint16_t kPixelFormat = 0xBC01;
    constexpr uint16_t kTransformation = 0xBC02;
    constexpr uint16_t kImageWidth = 0xBC80;
    constexpr uint16_t kImageHeight = 0xBC81;
    constexpr uint16_t kImageOffset = 0xBCC0;
    constexpr uint16_t kAlphaByteCount = 0xBCC3;
    constexpr uint16_t kIccProfile = 0x8773;
    constexpr uint32_t kOrientationCount = 8;
    const uint64_t size = bytes.size();
    const uint32_t directory = Read32(bytes.data() + 4);
    if (uint64_t{directory} + 2 > size) {
        return false;
    }
    const uint16_t count = Read16(bytes.data() + directory);
    if (count == 0 || count == 0xFFFF || uint64_t{directory} + 2 + uint64_t{count} * 12 > size) {
        return false;
    }
    uint8_t* entries = bytes.data() + directory + 2;
    uint16_t kept = 0;
    bool hasPixelFormat = false;
    for (uint16_t i = 0; i < count; ++i) {
        const uint8_t* entry = entries + uint64_t{i} * 12;
        const uint16_t tag = Read16(entry);
        const uint32_t entryCount = Read32(entry + 4);
        const uint32_t value = Read32(entry + 8);
        bool keep = false;
        if (tag == kPixelFormat) {
            keep = uint64_t{value} + 16 <= size;
            hasPixelFormat = keep;
        } else if (tag == kTransformation) {
            keep = entryCount == 1 && value < kOrientationCount;
        } else if (tag == kImageWidth || tag == kImageHeight ||
                   (tag >= kImageOffset && tag <= kAlphaByteCount)) {
            keep = true;
        } else if (tag == kIccProfile) {
            keep = uint64_t{value} + entryCount <= size;
        }
        if (keep) {
            std::memmove(entries + uint64_t{kept} * 12, entry, 12);
            ++kept;
        }
    }
    if (!hasPixelFormat) {
        return false;
    }
    bytes[directory] = uint8_t(kept);
    bytes[directory + 1] = uint8_t(kept >> 8);
    return true;
}

// What the child decodes: the session's converter output for `rect`, into shared memory.
struct ChildDecode {
    const JxrSession* session;
    PKRect rect;
    uint8_t* pixels;
    U32 stride;
};

bool DecodeRect(void* context) {
    const ChildDecode& job = *static_cast<const ChildDecode*>(context);
    PKFormatConverter* converter = job.session->converter;
    return !Failed(converter->Copy(converter, &job.rect, job.pixels, job.stride));
}

} // namespace

bool IsJxrSignature(const uint8_t* data, size_t size) {
    return data != nullptr && size >= 8 && data[0] == 'I' && data[1] == 'I' && data[2] == 0xBC &&
           (data[3] == 0x00 || data[3] == 0x01);
}

bool ReadJxr(const uint8_t* data, size_t size, RasterBuilder& out, std::vector<uint8_t>* iccProfile) {
    if (!IsJxrSignature(data, size)) {
        return false;
    }
    std::vector<uint8_t> container(data, data + size);
    if (!SanitizeContainer(container)) {
        return false;
    }
    JxrSession session;
    if (Failed(CreateWS_Memory(&session.stream, container.data(), container.size())) ||
        Failed(PKImageDecode_Create_WMP(&session.decoder))) {
        return false;
    }
    if (Failed(session.decoder->Initialize(session.decoder, session.stream))) {
        return false;
    }
    I32 width = 0;
    I32 height = 0;
    if (Failed(session.decoder->GetSize(session.decoder, &width, &height)) || width <= 0 || height <= 0 ||
        uint64_t(width) * uint64_t(height) > kMaxDecodedPixels) {
        return false;
    }
    // jxrlib converts each stored format to only a few others; take the first of these it offers. The
    // 32-bit forms come out with their alpha (if any) dropped, as the viewer shows JPEG XR opaque.
    struct Target {
        const PKPixelFormatGUID* format;
        uint32_t bytesPerPixel;
    };
    const Target targets[] = {{&GUID_PKPixelFormat32bppBGR, 4},
                              {&GUID_PKPixelFormat32bppBGRA, 4},
                              {&GUID_PKPixelFormat24bppBGR, 3},
                              {&GUID_PKPixelFormat8bppGray, 1}};
    const Target* chosen = nullptr;
    for (const Target& target : targets) {
        if (Failed(PKCodecFactory_CreateFormatConverter(&session.converter))) {
            return false;
        }
        if (!Failed(
                session.converter->Initialize(session.converter, session.decoder, nullptr, *target.format))) {
            chosen = &target;
            break;
        }
        session.converter->Release(&session.converter);
        session.converter = nullptr;
    }
    if (chosen == nullptr || !out.Begin(uint32_t(width), uint32_t(height))) {
        return false;
    }
    // jxrlib decodes in the stored format and converts in place, so every row must have room for a
    // stored pixel, which may be up to 16 bytes wide.
    PKPixelFormatGUID storedFormat;
    PKPixelInfo storedInfo;
    std::memset(&storedInfo, 0, sizeof(storedInfo));
    if (Failed(session.decoder->GetPixelFormat(session.decoder, &storedFormat))) {
        return false;
    }
    storedInfo.pGUIDPixFmt = &storedFormat;
    if (Failed(PixelFormatLookup(&storedInfo, LOOKUP_FORWARD))) {
        return false;
    }
    const uint64_t storedBytes = (uint64_t(storedInfo.cbitUnit) + 7) / 8;
    const uint64_t stride = uint64_t(width) * (storedBytes > 4 ? storedBytes : 4);
    const uint64_t decodedBytes = stride * uint64_t(height);
    if (stride > UINT32_MAX || decodedBytes > kMaxRasterBytes) {
        return false;
    }
    uint8_t* raster = out.WholeBuffer();
    if (raster == nullptr) {
        return false;
    }
    // jxrlib crashes, hangs and leaks on corrupt image data, so it decodes the pixels in a child process
    // into memory shared with this one; the limit is generous for any image within the caps.
    SharedRegion region(decodedBytes);
    if (region.Data() == nullptr) {
        return false;
    }
    ChildDecode job = {&session, {0, 0, width, height}, region.Data(), U32(stride)};
    const auto limit = std::chrono::milliseconds(10'000 + uint64_t(width) * uint64_t(height) / 4'000);
    if (!RunInChildProcess(DecodeRect, &job, limit)) {
        return false;
    }
    const uint8_t* decoded = region.Data();
    const uint32_t bytesPerPixel = chosen->bytesPerPixel;
    for (I32 y = 0; y < height; ++y) {
        const uint8_t* sourceRow = decoded + uint64_t(y) * stride;
        uint8_t* row = raster + uint64_t(y) * uint64_t(width) * 4;
        for (I32 x = 0; x < width; ++x) {
            const uint8_t* source = sourceRow + uint64_t(x) * bytesPerPixel;
            const uint8_t first = source[0];
            const uint8_t second = bytesPerPixel >= 3 ? source[1] : first;
            const uint8_t third = bytesPerPixel >= 3 ? source[2] : first;
            uint8_t* pixel = row + uint64_t(x) * 4;
            pixel[0] = first;
            pixel[1] = second;
            pixel[2] = third;
            pixel[3] = 255;
        }
    }
    if (iccProfile != nullptr) {
        U32 profileSize = 0;
        if (!Failed(session.decoder->GetColorContext(session.decoder, nullptr, &profileSize)) &&
            profileSize > 0 && profileSize <= (64u << 20)) {
            iccProfile->resize(profileSize);
            if (Failed(session.decoder->GetColorContext(session.decoder, iccProfile->data(), &profileSize))) {
                iccProfile->clear();
            }
        }
    }
    return true;
}

} // namespace decode
