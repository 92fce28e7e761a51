#include "decode/jxr_reader.h"

#include <cstring>
#include <memory>

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

} // namespace

bool IsJxrSignature(const uint8_t* data, size_t size) {
    return data != nullptr && size >= 8 && data[0] == 'I' && data[1] == 'I' && data[2] == 0xBC &&
           (data[3] == 0x00 || data[3] == 0x01);
}

bool ReadJxr(const uint8_t* data, size_t size, RasterBuilder& out, std::vector<uint8_t>* iccProfile) {
    if (!IsJxrSignature(data, size)) {
        return false;
    }
    JxrSession session;
    // jxrlib only reads through the stream, so the caller's bytes are never written.
    if (Failed(CreateWS_Memory(&session.stream, const_cast<uint8_t*>(data), size)) ||
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
    uint8_t* raster = out.WholeBuffer();
    if (raster == nullptr) {
        return false;
    }
    // jxrlib decodes into the caller's buffer in the stored format and converts in place, so every row
    // must have room for a stored pixel, which may be up to 16 bytes wide.
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
    std::unique_ptr<uint8_t[]> scratch;
    uint8_t* decoded = raster;
    if (stride > uint64_t(width) * 4) {
        scratch = AllocateRaster(stride * uint64_t(height));
        if (!scratch) {
            return false;
        }
        decoded = scratch.get();
    }
    const PKRect rect = {0, 0, width, height};
    if (stride > UINT32_MAX ||
        Failed(session.converter->Copy(session.converter, &rect, decoded, U32(stride)))) {
        return false;
    }
    // Widen each row from its end so that no pixel is overwritten before it is read.
    const uint32_t bytesPerPixel = chosen->bytesPerPixel;
    for (I32 y = 0; y < height; ++y) {
        const uint8_t* sourceRow = decoded + uint64_t(y) * stride;
        uint8_t* row = raster + uint64_t(y) * uint64_t(width) * 4;
        for (I32 x = width - 1; x >= 0; --x) {
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
