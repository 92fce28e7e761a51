#include "tests/support/jpeg_writer.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace testing_support {

namespace {

void AppendBigEndian16(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

void AppendBigEndian32(std::vector<uint8_t>& out, uint32_t value) {
    AppendBigEndian16(out, value >> 16);
    AppendBigEndian16(out, value & 0xFFFF);
}

void PatchBigEndian32(std::vector<uint8_t>& out, size_t offset, uint32_t value) {
    out[offset] = static_cast<uint8_t>(value >> 24);
    out[offset + 1] = static_cast<uint8_t>(value >> 16);
    out[offset + 2] = static_cast<uint8_t>(value >> 8);
    out[offset + 3] = static_cast<uint8_t>(value);
}

std::vector<uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

} // namespace

std::vector<uint8_t> EncodeJpeg(uint32_t width, uint32_t height,
                                const std::function<Rgb(uint32_t, uint32_t)>& pixel,
                                const JpegEncodeOptions& options) {
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const Rgb colour = pixel(x, y);
            uint8_t* p = rgb.data() + (static_cast<size_t>(y) * width + x) * 3;
            p[0] = colour.red;
            p[1] = colour.green;
            p[2] = colour.blue;
        }
    }
    const std::unique_ptr<void, int (*)(tjhandle)> compressor(tjInitCompress(), tjDestroy);
    if (!compressor) {
        throw std::runtime_error("tjInitCompress failed");
    }
    const int subsampling = options.chroma == JpegChroma::Gray      ? TJSAMP_GRAY
                            : options.chroma == JpegChroma::Full444 ? TJSAMP_444
                                                                    : TJSAMP_420;
    unsigned char* output = nullptr;
    unsigned long outputSize = 0;
    const int flags = TJFLAG_ACCURATEDCT | (options.progressive ? TJFLAG_PROGRESSIVE : 0);
    if (tjCompress2(compressor.get(), rgb.data(), static_cast<int>(width), 0, static_cast<int>(height),
                    TJPF_RGB, &output, &outputSize, subsampling, options.quality, flags) != 0) {
        tjFree(output);
        throw std::runtime_error(std::string("tjCompress2 failed: ") + tjGetErrorStr2(compressor.get()));
    }
    std::vector<uint8_t> jpeg(output, output + outputSize);
    tjFree(output);
    return options.segments.empty() ? jpeg : InsertJpegSegments(jpeg, options.segments);
}

std::vector<uint8_t> InsertJpegSegments(const std::vector<uint8_t>& jpeg,
                                        const std::vector<JpegSegment>& segments) {
    size_t insertAt = 2;
    if (jpeg.size() > 6 && jpeg[2] == 0xFF && jpeg[3] == 0xE0) {
        insertAt = 4 + (size_t{jpeg[4]} << 8 | jpeg[5]);
    }
    std::vector<uint8_t> encoded;
    for (const JpegSegment& segment : segments) {
        if (segment.payload.size() + 2 > 0xFFFF) {
            throw std::runtime_error("segment too long");
        }
        encoded.push_back(0xFF);
        encoded.push_back(segment.marker);
        AppendBigEndian16(encoded, static_cast<uint32_t>(segment.payload.size() + 2));
        encoded.insert(encoded.end(), segment.payload.begin(), segment.payload.end());
    }
    std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + static_cast<ptrdiff_t>(insertAt));
    out.insert(out.end(), encoded.begin(), encoded.end());
    out.insert(out.end(), jpeg.begin() + static_cast<ptrdiff_t>(insertAt), jpeg.end());
    return out;
}

JpegSegment IccChunkSegment(uint8_t sequence, uint8_t count, const std::vector<uint8_t>& data) {
    JpegSegment segment{0xE2, {}};
    static constexpr char kSignature[12] = "ICC_PROFILE";
    segment.payload.assign(kSignature, kSignature + 12);
    segment.payload.push_back(sequence);
    segment.payload.push_back(count);
    segment.payload.insert(segment.payload.end(), data.begin(), data.end());
    return segment;
}

std::vector<JpegSegment> IccProfileSegments(const std::vector<uint8_t>& profile, size_t chunkBytes) {
    std::vector<JpegSegment> segments;
    const size_t count = (profile.size() + chunkBytes - 1) / chunkBytes;
    for (size_t i = 0; i < count; ++i) {
        const size_t begin = i * chunkBytes;
        const size_t end = std::min(profile.size(), begin + chunkBytes);
        segments.push_back(
            IccChunkSegment(static_cast<uint8_t>(i + 1), static_cast<uint8_t>(count),
                            std::vector<uint8_t>(profile.begin() + static_cast<ptrdiff_t>(begin),
                                                 profile.begin() + static_cast<ptrdiff_t>(end))));
    }
    return segments;
}

JpegSegment GainMapXmpSegment() {
    JpegSegment segment{0xE1, {}};
    const std::string signature("http://ns.adobe.com/xap/1.0/\0", 29);
    const std::string packet =
        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
        "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description "
        "xmlns:hdrgm=\"http://ns.adobe.com/hdr-gain-map/1.0/\" hdrgm:Version=\"1.0\"/></rdf:RDF></x:xmpmeta>";
    segment.payload = Bytes(signature + packet);
    return segment;
}

std::vector<uint8_t> BuildGainMapJpeg(const std::vector<uint8_t>& primary,
                                      const std::vector<uint8_t>& gainMap, bool gainMapXmp) {
    // MPF block, big-endian: TIFF header, one IFD (version, image count, entry list), two MP entries.
    std::vector<uint8_t> mpf = Bytes(std::string("MPF\0", 4));
    const size_t block = mpf.size();
    mpf.insert(mpf.end(), {'M', 'M', 0, 0x2A});
    AppendBigEndian32(mpf, 8);
    AppendBigEndian16(mpf, 3);
    AppendBigEndian16(mpf, 0xB000); // version
    AppendBigEndian16(mpf, 7);
    AppendBigEndian32(mpf, 4);
    mpf.insert(mpf.end(), {'0', '1', '0', '0'});
    AppendBigEndian16(mpf, 0xB001); // number of images
    AppendBigEndian16(mpf, 4);
    AppendBigEndian32(mpf, 1);
    AppendBigEndian32(mpf, 2);
    AppendBigEndian16(mpf, 0xB002); // MP entries
    AppendBigEndian16(mpf, 7);
    AppendBigEndian32(mpf, 32);
    AppendBigEndian32(mpf, 50);
    AppendBigEndian32(mpf, 0); // no next IFD
    const size_t entries = mpf.size();
    for (int i = 0; i < 8; ++i) {
        AppendBigEndian32(mpf, 0);
    }
    PatchBigEndian32(mpf, entries, 0x00030000); // primary, baseline

    std::vector<JpegSegment> segments;
    if (gainMapXmp) {
        segments.push_back(GainMapXmpSegment());
    }
    segments.push_back(JpegSegment{0xE2, mpf});
    std::vector<uint8_t> file = InsertJpegSegments(primary, segments);

    const auto found = std::search(file.begin(), file.end(), mpf.begin(), mpf.begin() + 8);
    const size_t blockStart = static_cast<size_t>(found - file.begin()) + block;
    const size_t entriesStart = blockStart + (entries - block);
    const uint32_t primarySize = static_cast<uint32_t>(file.size());
    PatchBigEndian32(file, entriesStart + 4, primarySize);
    PatchBigEndian32(file, entriesStart + 16 + 4, static_cast<uint32_t>(gainMap.size()));
    PatchBigEndian32(file, entriesStart + 16 + 8, static_cast<uint32_t>(primarySize - blockStart));
    file.insert(file.end(), gainMap.begin(), gainMap.end());
    return file;
}

Rgb NoisePixel(uint32_t x, uint32_t y) {
    uint32_t h = x * 0x9E3779B1u ^ (y + 0x7F4A7C15u) * 0x85EBCA77u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return {static_cast<uint8_t>(h), static_cast<uint8_t>(h >> 8), static_cast<uint8_t>(h >> 16)};
}

} // namespace testing_support
