#pragma once

#include "decode/decoder.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace decode {

// Hard limits checked before anything is allocated for a JPEG. A header may declare up to 65535 x 65535;
// these bound what a hostile or damaged file can make the decoder ask for.
inline constexpr uint64_t kMaxJpegFileBytes = uint64_t{1} << 30;
// Pixels of the decoded (scaled) raster: at most 1 GiB of BGRA.
inline constexpr uint64_t kMaxJpegDecodedPixels = uint64_t{1} << 28;
// Files whose scans each carry only part of the picture (progressive, or components in separate scans)
// make the library hold every DCT coefficient of the full-size image at once, whatever the output scale.
inline constexpr uint64_t kMaxJpegCoefficientBytes = uint64_t{512} << 20;

// A DCT scaling factor numerator/denominator, as the library offers them.
struct JpegScalingFactor {
    int numerator = 1;
    int denominator = 1;
    bool operator==(const JpegScalingFactor&) const = default;
};

enum class JpegScaleRule {
    Fit,   // the largest factor whose result stays inside the target
    Cover, // the smallest factor whose result still covers the target
};

// Whether the user's "decode JPEGs at full size" preference may override the choice. Ignored only when
// the full-size raster could not be had and a smaller one must be tried.
enum class JpegFullDecodePreference { Honour, Ignore };

// Whether a failed decompression call only recovered from damaged or truncated data (a usable picture,
// grey where data is missing) rather than stopping at a fatal error. Every decoder of JPEG data judges
// the library's result with it.
bool JpegFailedOnlyWithWarnings(void* handle);

// Picks the factor for decoding a w x h JPEG for a tw x th target from the library's factor list.
// No target (tw or th 0) gives 1/1.
JpegScalingFactor ChooseJpegScale(uint32_t width, uint32_t height, uint32_t targetWidth,
                                  uint32_t targetHeight, JpegScaleRule rule,
                                  JpegFullDecodePreference preference);

// A dimension under a factor, rounded up as the library does.
uint32_t ScaleJpegDimension(uint32_t dimension, JpegScalingFactor factor);

// The ICC profile carried in the APP2 "ICC_PROFILE" chunks of the header (before the first scan),
// joined in sequence order; empty when there is none or its chunks are incomplete.
std::vector<uint8_t> ExtractIccProfile(const uint8_t* bytes, size_t size);

// Whether decoding the JPEG in `bytes`, whose header declares width x height, stays within the limits
// set for hostile files: the coefficient memory and block visits of multi-scan frames (bounded by the
// data the file holds as well as absolutely), and the size of arithmetic-coded frames. False too when the
// header walk cannot reach the first scan. Every decoder of JPEG data checks this before decoding.
bool JpegWorkWithinLimits(const uint8_t* bytes, size_t size, uint32_t width, uint32_t height);

// The JPEG decoder over TurboJPEG. Decodes straight to a reduced (or enlarged) size with DCT scaling,
// decodes gain-map images through their primary image, and converts through the embedded ICC profile
// when display colour management is on.
class JpegTurboDecoder : public IDecoder {
public:
    bool Load(const std::string& path, uint32_t targetWidth, uint32_t targetHeight,
              bool highQuality) override;
    // The size from the JPEG header (or of the gain-map image), never the decoded size.
    uint32_t GetSourceWidth() const override { return sourceWidth; }
    uint32_t GetSourceHeight() const override { return sourceHeight; }
    bool LoadFromMemory(const uint8_t* bytes, uint64_t size, uint32_t targetWidth, uint32_t targetHeight,
                        bool highQuality) override;

    // Set after the last load went through the gain-map path.
    bool IsUltraHdrDecode() const { return ultraHdr; }

private:
    struct DecodeRequest {
        JpegScaleRule rule = JpegScaleRule::Fit;
        JpegScaleRule retryRule = JpegScaleRule::Fit;
        int flags = 0;
    };

    bool TryDecodeUltraHdr(const uint8_t* bytes, size_t size, uint32_t targetWidth, uint32_t targetHeight,
                           bool highQuality);
    bool Decode(const uint8_t* bytes, size_t size, uint32_t targetWidth, uint32_t targetHeight,
                const DecodeRequest& request);

    uint32_t sourceWidth = 0;
    uint32_t sourceHeight = 0;
    bool ultraHdr = false;
};

} // namespace decode
