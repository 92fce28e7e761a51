#include "decode/jpeg_turbo_decoder.h"

#include "decode/color_management.h"
#include "decode/ultra_hdr.h"
#include "platform/files.h"
#include "platform/settings.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <new>
#include <numeric>
#include <string_view>

namespace decode {

namespace {

struct TjDestroyer {
    void operator()(void* handle) const { tjDestroy(handle); }
};
using TjHandle = std::unique_ptr<void, TjDestroyer>;

constexpr size_t kBytesPerPixel = 4;

// What the header segments say about the frame, for the memory checks made before decoding.
struct FrameLayout {
    bool complete = false;    // a frame header and a first scan header were both found
    bool multiScan = false;   // progressive, or the first scan leaves components out
    bool arithmetic = false;  // arithmetic entropy coding
    bool adobe = false;       // an APP14 "Adobe" segment (CMYK stored inverted)
    uint64_t blocks = 0;      // 8 x 8 blocks of all components, padded as the library pads them
    uint32_t scans = 0;       // counted for multi-scan frames only (else 1), up to kScanCountLimit
    uint64_t blockVisits = 0; // multi-scan frames: the blocks of the components each scan covers, summed
};

// The components of a frame: their ids and padded block counts.
struct FrameComponents {
    uint32_t count = 0;
    uint8_t ids[4] = {};
    uint64_t blocks[4] = {};

    // Blocks of the components a scan header (its payload) lists; unknown ids count as the largest.
    uint64_t ScanBlocks(const uint8_t* payload, size_t payloadLength) const {
        uint64_t total = 0;
        const size_t listed = payloadLength >= 1 ? std::min<size_t>(payload[0], (payloadLength - 1) / 2) : 0;
        for (size_t i = 0; i < listed; ++i) {
            const uint8_t* found = std::find(ids, ids + count, payload[1 + 2 * i]);
            total += found != ids + count ? blocks[found - ids] : *std::max_element(blocks, blocks + count);
        }
        return total;
    }
};

// The library refuses files with more scans than this (TJFLAG_LIMITSCANS); counting stops there.
constexpr uint32_t kScanCountLimit = 501;

// Every scan of a multi-scan frame visits the blocks of its components, even when its data is missing.
// Bounds the block visits of all scans so that a hostile file cannot make the decoder spin for minutes.
constexpr uint64_t kMaxJpegScanBlockVisits = uint64_t{1} << 30;
// The arithmetic decoder keeps decoding (zeros) past the end of the data, at a high cost per block;
// large declared sizes are refused for it.
constexpr uint64_t kMaxArithmeticCodedPixels = uint64_t{1} << 28;

uint16_t ReadBigEndian16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

bool IsFrameMarker(uint8_t marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

bool IsProgressiveFrame(uint8_t marker) {
    return marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE;
}

bool IsArithmeticFrame(uint8_t marker) {
    return marker >= 0xC9 && marker != 0xCC;
}

// Counts the scan headers from `offset` (just after the first scan's header) to the end of the image,
// stepping over entropy-coded data: inside it 0xFF is followed by 0x00 (stuffing), a restart marker
// or a fill byte; anything else is the next marker.
// Block visits are summed into `visits`, over the components each scan lists.
uint32_t CountScans(const uint8_t* bytes, size_t size, size_t offset, const FrameComponents& components,
                    uint64_t& visits) {
    uint32_t scans = 1;
    while (scans < kScanCountLimit && offset + 1 < size) {
        const void* found = std::memchr(bytes + offset, 0xFF, size - offset - 1);
        if (found == nullptr) {
            break;
        }
        offset = static_cast<size_t>(static_cast<const uint8_t*>(found) - bytes);
        const uint8_t marker = bytes[offset + 1];
        if (marker == 0x00 || marker == 0xFF || (marker >= 0xD0 && marker <= 0xD7)) {
            offset += marker == 0xFF ? 1 : 2;
            continue;
        }
        if (marker == 0xD9 || offset + 4 > size) {
            break;
        }
        const size_t length = ReadBigEndian16(bytes + offset + 2);
        if (marker == 0xDA) {
            ++scans;
            const size_t available = std::min(size - offset - 4, length >= 2 ? length - 2 : 0);
            visits += components.ScanBlocks(bytes + offset + 4, available);
        }
        offset += 2 + length;
    }
    return scans;
}

// Walks the header segments up to the first scan the way the library does (stray bytes and fill bytes
// skipped). Every read stays inside `size`.
FrameLayout InspectFrame(const uint8_t* bytes, size_t size) {
    FrameLayout layout;
    if (size < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8) {
        return layout;
    }
    bool haveFrame = false;
    uint8_t frameMarker = 0;
    uint32_t frameWidth = 0;
    uint32_t frameHeight = 0;
    uint32_t componentCount = 0;
    uint8_t horizontal[4] = {};
    uint8_t vertical[4] = {};
    FrameComponents components;
    size_t offset = 2;
    while (offset + 4 <= size) {
        if (bytes[offset] != 0xFF) {
            ++offset;
            continue;
        }
        const uint8_t marker = bytes[offset + 1];
        if (marker == 0xFF) {
            ++offset;
            continue;
        }
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
            offset += 2;
            continue;
        }
        if (marker == 0xD9) {
            break;
        }
        const size_t length = ReadBigEndian16(bytes + offset + 2);
        if (length < 2 || offset + 2 + length > size) {
            break;
        }
        const uint8_t* payload = bytes + offset + 4;
        const size_t payloadLength = length - 2;
        if (IsFrameMarker(marker) && !haveFrame && payloadLength >= 6) {
            frameMarker = marker;
            frameHeight = ReadBigEndian16(payload + 1);
            frameWidth = ReadBigEndian16(payload + 3);
            componentCount = payload[5];
            if (componentCount == 0 || componentCount > 4 || payloadLength < 6 + 3 * size_t{componentCount}) {
                return layout;
            }
            for (uint32_t c = 0; c < componentCount; ++c) {
                const uint8_t factors = payload[6 + 3 * c + 1];
                components.ids[c] = payload[6 + 3 * c];
                horizontal[c] = static_cast<uint8_t>(std::clamp(factors >> 4, 1, 4));
                vertical[c] = static_cast<uint8_t>(std::clamp(factors & 0x0F, 1, 4));
            }
            const uint32_t maxH = *std::max_element(horizontal, horizontal + componentCount);
            const uint32_t maxV = *std::max_element(vertical, vertical + componentCount);
            for (uint32_t c = 0; c < componentCount; ++c) {
                const uint64_t columns = (uint64_t{frameWidth} * horizontal[c] + maxH * 8 - 1) / (maxH * 8);
                const uint64_t rows = (uint64_t{frameHeight} * vertical[c] + maxV * 8 - 1) / (maxV * 8);
                const uint64_t paddedColumns = (columns + horizontal[c] - 1) / horizontal[c] * horizontal[c];
                const uint64_t paddedRows = (rows + vertical[c] - 1) / vertical[c] * vertical[c];
                components.blocks[c] = paddedColumns * paddedRows;
            }
            components.count = componentCount;
            haveFrame = true;
        } else if (marker == 0xEE && payloadLength >= 5 && std::memcmp(payload, "Adobe", 5) == 0) {
            layout.adobe = true;
        } else if (marker == 0xDA) {
            if (!haveFrame || payloadLength < 1) {
                return layout;
            }
            layout.complete = true;
            layout.multiScan = IsProgressiveFrame(frameMarker) || payload[0] < componentCount;
            layout.arithmetic = IsArithmeticFrame(frameMarker);
            layout.blocks =
                std::accumulate(components.blocks, components.blocks + componentCount, uint64_t{0});
            if (layout.multiScan) {
                layout.blockVisits = components.ScanBlocks(payload, payloadLength);
                layout.scans = CountScans(bytes, size, offset + 2 + length, components, layout.blockVisits);
            } else {
                layout.scans = 1;
            }
            break;
        }
        offset += 2 + length;
    }
    return layout;
}

// Beyond the absolute limits, the work of a multi-scan frame must follow the data present. Real files hold
// one to a few coefficient bytes (128 a block) per file byte; even a blank page, whose first scans spend
// a bit or two on every block, stays below 256 once it is larger than the floor. Each scan visits every
// block of its components even where its data is missing, at up to 40 ns a block; real files need a few
// visits per byte (a 100-megapixel progressive photograph about 3), crafted ones thousands. Below the
// floors every file may go up to the absolute limits.
constexpr uint64_t kCoefficientBytesPerFileByte = 256;
constexpr uint64_t kCoefficientBytesFloor = uint64_t{128} << 20;
constexpr uint64_t kScanBlockVisitsPerFileByte = 8;
constexpr uint64_t kScanBlockVisitsFloor = uint64_t{1} << 25;

bool LayoutWithinLimits(const FrameLayout& layout, uint32_t width, uint32_t height, size_t fileBytes) {
    if (!layout.complete) {
        return false;
    }
    const uint64_t coefficientLimit = std::min(
        kMaxJpegCoefficientBytes, std::max(kCoefficientBytesFloor, fileBytes * kCoefficientBytesPerFileByte));
    const uint64_t visitLimit = std::min(
        kMaxJpegScanBlockVisits, std::max(kScanBlockVisitsFloor, fileBytes * kScanBlockVisitsPerFileByte));
    if (layout.multiScan && (layout.blocks * 64 * 2 > coefficientLimit || layout.blockVisits > visitLimit)) {
        return false;
    }
    return !layout.arithmetic || uint64_t{width} * height <= kMaxArithmeticCodedPixels;
}

// A failed call reports a warning when the library recovered (damaged or truncated data decoded as far
// as it goes), but the warning state is not cleared when a fatal error follows, so the text of the last
// message decides: the library prints every fatal error and only the first of its warnings.
bool FailedOnlyWithWarnings(void* handle) {
    if (tjGetErrorCode(handle) != TJERR_WARNING) {
        return false;
    }
    const std::string_view message = tjGetErrorStr2(handle);
    for (const std::string_view warning :
         {"Corrupt JPEG data", "Premature end of JPEG file", "Warning:", "Inconsistent progression sequence",
          "Invalid SOS parameters for sequential JPEG"}) {
        if (message.starts_with(warning)) {
            return true;
        }
    }
    return false;
}

// Naive CMYK to BGRA, for CMYK files without a usable profile. Adobe applications store the inks
// inverted (255 = no ink).
void ConvertCmykToBgra(uint8_t* pixels, size_t pixelCount, bool inverted) {
    for (size_t i = 0; i < pixelCount; ++i) {
        uint8_t* p = pixels + i * kBytesPerPixel;
        unsigned c = p[0];
        unsigned m = p[1];
        unsigned y = p[2];
        unsigned k = p[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        p[0] = static_cast<uint8_t>((y * k + 127) / 255);
        p[1] = static_cast<uint8_t>((m * k + 127) / 255);
        p[2] = static_cast<uint8_t>((c * k + 127) / 255);
        p[3] = 255;
    }
}

} // namespace

JpegScalingFactor ChooseJpegScale(uint32_t width, uint32_t height, uint32_t targetWidth,
                                  uint32_t targetHeight, JpegScaleRule rule,
                                  JpegFullDecodePreference preference) {
    if (preference == JpegFullDecodePreference::Honour && platform::GlobalSettings().jpegFullDecode) {
        return {};
    }
    int factorCount = 0;
    const tjscalingfactor* factors = tjGetScalingFactors(&factorCount);
    if (targetWidth == 0 || targetHeight == 0 || width == 0 || height == 0) {
        return {};
    }
    if (factors == nullptr || factorCount <= 0) {
        return {};
    }
    if (rule == JpegScaleRule::Cover) {
        JpegScalingFactor chosen;
        for (int i = 0; i < factorCount; ++i) {
            const JpegScalingFactor factor{factors[i].num, factors[i].denom};
            if (ScaleJpegDimension(width, factor) >= targetWidth &&
                ScaleJpegDimension(height, factor) >= targetHeight) {
                chosen = factor;
            }
        }
        return chosen;
    }
    const float ratio = std::min(static_cast<float>(targetHeight) / static_cast<float>(height),
                                 static_cast<float>(targetWidth) / static_cast<float>(width));
    for (int i = 0; i < factorCount; ++i) {
        if (static_cast<float>(factors[i].num) / static_cast<float>(factors[i].denom) <= ratio) {
            return {factors[i].num, factors[i].denom};
        }
    }
    return {factors[factorCount - 1].num, factors[factorCount - 1].denom};
}

uint32_t ScaleJpegDimension(uint32_t dimension, JpegScalingFactor factor) {
    if (factor.numerator <= 0 || factor.denominator <= 0) {
        return dimension;
    }
    const uint64_t numerator = static_cast<uint64_t>(factor.numerator);
    const uint64_t denominator = static_cast<uint64_t>(factor.denominator);
    return static_cast<uint32_t>((uint64_t{dimension} * numerator + denominator - 1) / denominator);
}

bool JpegWorkWithinLimits(const uint8_t* bytes, size_t size, uint32_t width, uint32_t height) {
    return bytes != nullptr && LayoutWithinLimits(InspectFrame(bytes, size), width, height, size);
}

bool JpegFailedOnlyWithWarnings(void* handle) {
    return FailedOnlyWithWarnings(handle);
}

std::vector<uint8_t> ExtractIccProfile(const uint8_t* bytes, size_t size) {
    static constexpr uint8_t kSignature[12] = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};
    std::vector<uint8_t> profile;
    if (bytes == nullptr || size < 20) {
        return profile;
    }
    std::map<uint8_t, std::vector<uint8_t>> chunks;
    unsigned chunkCount = 0;
    size_t offset = 0;
    while (offset + 4 < size) {
        if (bytes[offset] != 0xFF) {
            ++offset;
            continue;
        }
        const uint8_t marker = bytes[offset + 1];
        if (marker == 0xD8 || marker == 0xD9) {
            offset += 2;
            continue;
        }
        if (marker == 0xDA) {
            break;
        }
        const size_t length = ReadBigEndian16(bytes + offset + 2);
        if (length < 2) {
            break;
        }
        const size_t next = offset + 2 + length;
        if (next > size) {
            break;
        }
        const uint8_t* payload = bytes + offset + 4;
        const size_t payloadLength = length - 2;
        if (marker == 0xE2 && length >= 16 && std::memcmp(payload, kSignature, sizeof kSignature) == 0) {
            const uint8_t sequence = payload[12];
            chunkCount = payload[13];
            if (payloadLength >= 15) {
                chunks[sequence].assign(payload + 14, payload + payloadLength);
            }
        }
        offset = next;
    }
    if (chunks.empty() || chunkCount < 1 || chunks.size() != chunkCount) {
        return profile;
    }
    for (unsigned sequence = 1; sequence <= chunkCount; ++sequence) {
        const auto found = chunks.find(static_cast<uint8_t>(sequence));
        if (found == chunks.end()) {
            return {}; // a chunk numbered outside 1..count stands in for a missing one
        }
        profile.insert(profile.end(), found->second.begin(), found->second.end());
    }
    return profile;
}

bool JpegTurboDecoder::Load(const std::string& path, uint32_t targetWidth, uint32_t targetHeight,
                            bool highQuality) {
    Reset();
    ultraHdr = false;
    std::vector<uint8_t> bytes;
    if (!platform::ReadWholeFile(path, bytes, kMaxJpegFileBytes) || bytes.empty()) {
        return false;
    }
    const platform::Settings& settings = platform::GlobalSettings();
    if (settings.ultraHdrDecode &&
        TryDecodeUltraHdr(bytes.data(), bytes.size(), targetWidth, targetHeight, highQuality)) {
        return true;
    }
    DecodeRequest request;
    request.rule = highQuality ? JpegScaleRule::Cover : JpegScaleRule::Fit;
    request.retryRule = JpegScaleRule::Fit;
    request.flags = settings.jpegHighQuality ? TJFLAG_ACCURATEDCT : (TJFLAG_FASTDCT | TJFLAG_FASTUPSAMPLE);
    return Decode(bytes.data(), bytes.size(), targetWidth, targetHeight, request);
}

bool JpegTurboDecoder::LoadFromMemory(const uint8_t* bytes, uint64_t size, uint32_t targetWidth,
                                      uint32_t targetHeight, bool highQuality) {
    Reset();
    ultraHdr = false;
    if (bytes == nullptr || size == 0 || size > kMaxJpegFileBytes) {
        return false;
    }
    DecodeRequest request;
    request.rule = highQuality ? JpegScaleRule::Cover : JpegScaleRule::Fit;
    request.retryRule = request.rule;
    request.flags = platform::GlobalSettings().jpegHighQuality ? TJFLAG_ACCURATEDCT : TJFLAG_FASTDCT;
    return Decode(bytes, static_cast<size_t>(size), targetWidth, targetHeight, request);
}

bool JpegTurboDecoder::TryDecodeUltraHdr(const uint8_t* bytes, size_t size, uint32_t targetWidth,
                                         uint32_t targetHeight, bool highQuality) {
    if (size < kUltraHdrMinimumFileSize || !IsUltraHdrImage(bytes, size)) {
        return false;
    }
    // The sRGB rendition of a gain-map image is its primary image, decoded accurately and, like any
    // JPEG, straight to the target's scale; the gain map only matters for HDR output. A primary image
    // that cannot be decoded this way fails here and is then decoded the ordinary way.
    DecodeRequest request;
    request.rule = highQuality ? JpegScaleRule::Cover : JpegScaleRule::Fit;
    request.retryRule = JpegScaleRule::Fit;
    request.flags = TJFLAG_ACCURATEDCT;
    if (!Decode(bytes, size, targetWidth, targetHeight, request)) {
        Reset();
        return false;
    }
    ultraHdr = true;
    return true;
}

bool JpegTurboDecoder::Decode(const uint8_t* bytes, size_t size, uint32_t targetWidth, uint32_t targetHeight,
                              const DecodeRequest& request) {
    const TjHandle handle(tjInitDecompress());
    if (!handle) {
        return false;
    }
    int headerWidth = 0;
    int headerHeight = 0;
    int subsampling = -1;
    int colorSpace = -1;
    // A header read with warnings (stray bytes between segments) still gives a usable size; only the
    // size and colour space matter here.
    tjDecompressHeader3(handle.get(), bytes, static_cast<unsigned long>(size), &headerWidth, &headerHeight,
                        &subsampling, &colorSpace);
    if (headerWidth <= 0 || headerHeight <= 0 || colorSpace < TJCS_RGB || colorSpace > TJCS_YCCK) {
        return false;
    }
    sourceWidth = static_cast<uint32_t>(headerWidth);
    sourceHeight = static_cast<uint32_t>(headerHeight);

    // Work and memory the library would commit to regardless of the output scale. A multi-scan frame
    // keeps all DCT coefficients (64 of 2 bytes per block) of the full-size image.
    // The walk reads segments as the library does; a header the library accepted but the walk could not
    // follow is refused rather than decoded unchecked.
    const FrameLayout layout = InspectFrame(bytes, size);
    if (!LayoutWithinLimits(layout, sourceWidth, sourceHeight, size)) {
        return false;
    }

    uint32_t decodedWidth = 0;
    uint32_t decodedHeight = 0;
    std::unique_ptr<uint8_t[]> buffer;
    const auto allocate = [&](JpegScalingFactor factor) {
        decodedWidth = ScaleJpegDimension(sourceWidth, factor);
        decodedHeight = ScaleJpegDimension(sourceHeight, factor);
        const uint64_t pixelCount = uint64_t{decodedWidth} * decodedHeight;
        if (decodedWidth == 0 || decodedHeight == 0 || pixelCount > kMaxJpegDecodedPixels) {
            return;
        }
        buffer.reset(new (std::nothrow) uint8_t[pixelCount * kBytesPerPixel]);
    };
    allocate(ChooseJpegScale(sourceWidth, sourceHeight, targetWidth, targetHeight, request.rule,
                             JpegFullDecodePreference::Honour));
    if (!buffer && targetWidth != 0 && targetHeight != 0) {
        allocate(ChooseJpegScale(sourceWidth, sourceHeight, targetWidth, targetHeight, request.retryRule,
                                 JpegFullDecodePreference::Ignore));
    }
    if (!buffer) {
        return false;
    }

    const bool cmyk = colorSpace == TJCS_CMYK || colorSpace == TJCS_YCCK;
    const uint32_t rowBytes = decodedWidth * static_cast<uint32_t>(kBytesPerPixel);
    if (tjDecompress2(handle.get(), bytes, static_cast<unsigned long>(size), buffer.get(),
                      static_cast<int>(decodedWidth), static_cast<int>(rowBytes),
                      static_cast<int>(decodedHeight), cmyk ? TJPF_CMYK : TJPF_BGRA,
                      request.flags | TJFLAG_LIMITSCANS) != 0 &&
        !FailedOnlyWithWarnings(handle.get())) {
        return false;
    }

    pixels = std::move(buffer);
    width = decodedWidth;
    height = decodedHeight;
    stride = rowBytes;

    const std::vector<uint8_t> profile = ExtractIccProfile(bytes, size);
    if (cmyk) {
        if (!ConvertCmykToDisplay(pixels.get(), width, height, stride, profile.data(), profile.size(),
                                  layout.adobe)) {
            ConvertCmykToBgra(pixels.get(), size_t{width} * height, layout.adobe);
        }
        return true;
    }
    if (!profile.empty()) {
        ApplyDisplayProfile(pixels.get(), width, height, stride, profile.data(), profile.size());
    }
    return true;
}

} // namespace decode
