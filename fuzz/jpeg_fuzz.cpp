#include "decode/color_management.h"
#include "decode/jpeg_turbo_decoder.h"
#include "decode/ultra_hdr.h"
#include "platform/settings.h"

#include <turbojpeg.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

// Full-size decodes of headers that declare hundreds of megapixels are legitimate (up to the pixel cap)
// but take seconds each; the scaled decode below still covers those headers.
constexpr uint64_t kFullSizePixelBudget = uint64_t{1} << 22;

uint64_t DeclaredPixels(const uint8_t* data, size_t size) {
    const std::unique_ptr<void, int (*)(tjhandle)> handle(tjInitDecompress(), tjDestroy);
    int width = 0;
    int height = 0;
    int subsampling = 0;
    int colorSpace = 0;
    tjDecompressHeader3(handle.get(), data, size, &width, &height, &subsampling, &colorSpace);
    return width > 0 && height > 0 ? uint64_t(width) * uint64_t(height) : 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Display colour management on, so embedded profiles go through Little CMS as in the viewer.
    static const bool initialised = [] {
        unsetenv("DISPLAY");
        platform::GlobalSettings().colorManagement = 2;
        decode::OpenDisplayProfile();
        return true;
    }();
    (void)initialised;

    decode::JpegTurboDecoder scaled;
    if (scaled.LoadFromMemory(data, size, 64, 48, size % 2 == 0)) {
        if (scaled.GetPixels() == nullptr || scaled.GetStride() != scaled.GetWidth() * 4 ||
            uint64_t(scaled.GetWidth()) * scaled.GetHeight() > decode::kMaxJpegDecodedPixels) {
            __builtin_trap();
        }
    }
    if (size > 0 && DeclaredPixels(data, size) <= kFullSizePixelBudget) {
        decode::JpegTurboDecoder full;
        if (full.LoadFromMemory(data, size, 0, 0, false) &&
            (full.GetWidth() != full.GetSourceWidth() || full.GetHeight() != full.GetSourceHeight())) {
            __builtin_trap();
        }
    }
    const std::vector<uint8_t> profile = decode::ExtractIccProfile(data, size);
    if (profile.size() > size) {
        __builtin_trap();
    }
    decode::IsUltraHdrImage(data, size);
    return 0;
}
