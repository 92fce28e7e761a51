#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

struct Rgb {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
};

// One header segment: marker (0xE0..0xEF for APPn, 0xFE for a comment) and its payload without the
// length field.
struct JpegSegment {
    uint8_t marker = 0xE1;
    std::vector<uint8_t> payload;
};

enum class JpegChroma { Subsampled420, Full444, Gray };

struct JpegEncodeOptions {
    int quality = 90;
    JpegChroma chroma = JpegChroma::Subsampled420;
    bool progressive = false;
    // Inserted after the JFIF segment, in this order.
    std::vector<JpegSegment> segments;
};

// Options in one expression: JpegOptions(95), JpegOptions(90, JpegChroma::Gray).Progressive().
inline JpegEncodeOptions JpegOptions(int quality, JpegChroma chroma = JpegChroma::Subsampled420) {
    JpegEncodeOptions options;
    options.quality = quality;
    options.chroma = chroma;
    return options;
}
inline JpegEncodeOptions Progressive(JpegEncodeOptions options) {
    options.progressive = true;
    return options;
}
inline JpegEncodeOptions WithSegments(JpegEncodeOptions options, std::vector<JpegSegment> segments) {
    options.segments = std::move(segments);
    return options;
}

// Encodes a width x height picture with TurboJPEG's compressor. `pixel` gives the colour at (x, y).
// Throws when the encoder fails (a broken test, not a decoder result).
std::vector<uint8_t> EncodeJpeg(uint32_t width, uint32_t height,
                                const std::function<Rgb(uint32_t, uint32_t)>& pixel,
                                const JpegEncodeOptions& options = {});

// Inserts segments into an encoded JPEG after its SOI and JFIF segments.
std::vector<uint8_t> InsertJpegSegments(const std::vector<uint8_t>& jpeg,
                                        const std::vector<JpegSegment>& segments);

// An ICC profile cut into APP2 "ICC_PROFILE" segments of at most `chunkBytes` data bytes each, numbered
// 1..n of n.
std::vector<JpegSegment> IccProfileSegments(const std::vector<uint8_t>& profile, size_t chunkBytes);
JpegSegment IccChunkSegment(uint8_t sequence, uint8_t count, const std::vector<uint8_t>& data);

// An XMP segment (APP1) whose packet declares the gain-map namespace.
JpegSegment GainMapXmpSegment();

// A gain-map JPEG in the Ultra HDR layout: `primary` with an MPF index (APP2) listing `gainMap` as its
// secondary image, appended after the primary's end; with `gainMapXmp` the primary also carries the
// gain-map XMP.
std::vector<uint8_t> BuildGainMapJpeg(const std::vector<uint8_t>& primary,
                                      const std::vector<uint8_t>& gainMap, bool gainMapXmp);

// A deterministic noise pattern that compresses badly (to make large files).
Rgb NoisePixel(uint32_t x, uint32_t y);

} // namespace testing_support
