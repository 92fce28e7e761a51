// The WebP, HEIF/AVIF, JPEG XL and camera RAW decoders on real files, from paths and from memory.
#include "decode/format_registry.h"
#include "decode/heif_decoder.h"
#include "decode/jxl_decoder.h"
#include "decode/libraw_decoder.h"
#include "decode/webp_decoder.h"
#include "tests/support/png_writer.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

struct Row {
    std::string path;
    std::string expected;
};

std::vector<Row> ManifestRows(const std::set<std::string>& folders) {
    std::vector<Row> rows;
    std::ifstream manifest(testing_support::SamplesDir() / "MANIFEST.tsv");
    std::string line;
    std::getline(manifest, line);
    while (std::getline(manifest, line)) {
        std::vector<std::string> fields;
        std::stringstream stream(line);
        for (std::string field; std::getline(stream, field, '\t');) {
            fields.push_back(field);
        }
        if (fields.size() >= 6 && folders.contains(fields[0].substr(0, fields[0].find('/')))) {
            rows.push_back({fields[0], fields[5]});
        }
    }
    return rows;
}

// The first W x H of the reference tool's answer, or 0 x 0 when it reported an error.
std::pair<uint32_t, uint32_t> FirstSize(const std::string& text) {
    if (text.find("ERROR") != std::string::npos || text.find("Could not") != std::string::npos) {
        return {0, 0};
    }
    for (size_t x = text.find('x'); x != std::string::npos; x = text.find('x', x + 1)) {
        size_t begin = x;
        while (begin > 0 && std::isdigit(static_cast<unsigned char>(text[begin - 1]))) {
            --begin;
        }
        size_t end = x + 1;
        while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) {
            ++end;
        }
        if (begin < x && end > x + 1) {
            return {static_cast<uint32_t>(std::stoul(text.substr(begin, x - begin))),
                    static_cast<uint32_t>(std::stoul(text.substr(x + 1, end - x - 1)))};
        }
    }
    return {0, 0};
}

bool Premultiplied(const decode::DecodedImage& image) {
    for (uint64_t i = 0; i < image.size; i += 4) {
        const uint8_t* p = image.pixels.get() + i;
        if (p[0] > p[3] || p[1] > p[3] || p[2] > p[3]) {
            return false;
        }
    }
    return true;
}

TEST(LibraryDecoders, EverySampleDecodesToItsSizeOrFailsCleanly) {
    SKIP_WITHOUT_SAMPLES();
    // Sizes that legitimately differ from the reference tool's: libheif applies the clean-aperture
    // crop, which the reference leaves out. A failure that is libheif 1.15's limit (libavif, the second
    // chance, leaves rotations to libheif): transform properties marked non-essential. RAW files
    // stripped of their image data fail unless a preview survived.
    const std::map<std::string, std::pair<uint32_t, uint32_t>> cropped = {
        {"avif/linku_kimono.crop.avif", {385, 330}},
        {"avif/linku_kimono.mirror-vertical.rotate270.crop.avif", {385, 330}},
    };
    const std::set<std::string> mayFail = {"avif/libavif_clap_irot_imir_non_essential.avif"};
    const auto rows = ManifestRows({"webp", "heif", "avif", "jxl", "raw"});
    ASSERT_GT(rows.size(), 90u);
    int decoded = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        const std::string path = (testing_support::SamplesDir() / row.path).string();
        auto [width, height] = FirstSize(row.expected);
        if (cropped.contains(row.path)) {
            std::tie(width, height) = cropped.at(row.path);
        }
        const bool stripped = row.path.starts_with("raw/");
        decode::DecodedImage image;
        const bool ok = decode::LoadImageFile(path, 0, 0, true, image);
        EXPECT_TRUE(ok || width == 0 || stripped || mayFail.contains(row.path))
            << "a well-formed sample failed";
        if (!ok) {
            EXPECT_FALSE(decode::IsValidImage(image));
            continue;
        }
        ++decoded;
        ASSERT_TRUE(decode::IsValidImage(image));
        EXPECT_EQ(image.stride, image.width * 4);
        if (width != 0 && !stripped) {
            // Rotated files (irot, JPEG XL orientation) come out turned.
            EXPECT_TRUE((image.width == width && image.height == height) ||
                        (image.width == height && image.height == width))
                << image.width << "x" << image.height << " expected " << width << "x" << height;
        }
        EXPECT_TRUE(Premultiplied(image));

        // The same bytes from memory, as archive entries are decoded, give the same picture.
        const std::vector<uint8_t> bytes = testing_support::ReadFileBytes(path);
        if (bytes.size() > (256u << 10)) {
            continue; // the large ones only cost time here
        }
        const auto decoder = decode::CreateDecoder(path);
        ASSERT_TRUE(decoder->LoadFromMemory(bytes.data(), bytes.size(), 0, 0, true));
        EXPECT_EQ(decoder->GetWidth(), image.width);
        EXPECT_EQ(decoder->GetHeight(), image.height);
    }
    EXPECT_GE(decoded, 80);
}

TEST(LibraryDecoders, FittedDecodesCostLessThanFullOnes) {
    SKIP_WITHOUT_SAMPLES();
    const fs::path samples = testing_support::SamplesDir();
    struct Case {
        std::string path;
        uint32_t targetWidth, targetHeight;
        uint32_t width, height; // what comes out
    };
    const Case cases[] = {
        // WebP: the library's scaler fits the picture inside the target.
        {"webp/libwebp_lossless1.webp", 320, 320, 320, 98},
        // HEIC: the embedded 240 x 320 thumbnail covers a 320 x 320 preview.
        {"heif/exifsamples_iphone_13_pro_max.HEIC", 320, 320, 240, 320},
        {"heif/exifsamples_iphone_13_pro_max.HEIC", 1920, 1080, 3024, 4032},
        // JPEG XL in passes: stops at the first pass that covers the fitted size.
        {"jxl/conformance_progressive.jxl", 320, 320, 508, 338},
        {"jxl/conformance_progressive.jxl", 0, 0, 4064, 2704},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + " " + std::to_string(c.targetWidth));
        decode::DecodedImage image;
        ASSERT_TRUE(
            decode::LoadImageFile((samples / c.path).string(), c.targetWidth, c.targetHeight, false, image));
        EXPECT_EQ(image.width, c.width);
        EXPECT_EQ(image.height, c.height);
    }
    decode::HeifDecoder heif;
    ASSERT_TRUE(heif.Load((samples / "heif/exifsamples_iphone_13_pro_max.HEIC").string(), 320, 320, false));
    EXPECT_EQ(heif.GetSourceWidth(), 3024u) << "the source size stays the primary image's";
}

TEST(LibraryDecoders, PixelsArriveInPlaceAndPremultiplied) {
    SKIP_WITHOUT_SAMPLES();
    const fs::path samples = testing_support::SamplesDir();
    // A generated lossless WebP with a known straight-alpha pixel: (R 200, G 100, B 50, A 128).
    testing_support::TemporaryDirectory folder;
    std::vector<uint8_t> rgba(8 * 8 * 4);
    for (size_t i = 0; i < rgba.size(); i += 4) {
        rgba[i] = 200, rgba[i + 1] = 100, rgba[i + 2] = 50, rgba[i + 3] = 128;
    }
    const std::string png = folder.Write("in.png", testing_support::EncodeRgbaPng(8, 8, rgba));
    const std::string webp = folder.File("out.webp");
    ASSERT_EQ(std::system(("cwebp -quiet -lossless -exact " + png + " -o " + webp).c_str()), 0);
    decode::WebPDecoder decoder;
    ASSERT_TRUE(decoder.LoadPath(webp));
    const uint8_t* p = decoder.GetPixels();
    EXPECT_NEAR(p[0], 50 * 128 / 255, 1);
    EXPECT_NEAR(p[1], 100 * 128 / 255, 1);
    EXPECT_NEAR(p[2], 200 * 128 / 255, 1);
    EXPECT_EQ(p[3], 128);

    // Rotated AVIF: irot 90 (anticlockwise) turns the 427 x 640 stored picture into 640 x 427, the
    // same picture whether or not it is also mirrored, once.
    decode::HeifDecoder rotated;
    decode::HeifDecoder mirrored;
    ASSERT_TRUE(rotated.Load((samples / "avif/pillow_rot1mir0.avif").string(), 0, 0, false));
    ASSERT_TRUE(mirrored.Load((samples / "avif/pillow_rot3mir1.avif").string(), 0, 0, false));
    ASSERT_EQ(rotated.GetWidth(), 640u);
    ASSERT_EQ(mirrored.GetWidth(), 640u);
    int close = 0;
    for (uint32_t y = 20; y < 427; y += 97) {
        for (uint32_t x = 20; x < 640; x += 131) {
            const uint8_t* a = rotated.GetPixels() + y * rotated.GetStride() + x * 4;
            const uint8_t* b = mirrored.GetPixels() + y * mirrored.GetStride() + x * 4;
            close += std::abs(a[0] - b[0]) + std::abs(a[1] - b[1]) + std::abs(a[2] - b[2]) < 30;
        }
    }
    EXPECT_GE(close, 18) << "both files store the same upright picture";
}

TEST(LibRawDecoder, DebiansCanonRawShowsItsPreviewAndReportsTheSensorSize) {
    const std::string cr2 = "/usr/share/doc/rawtran/IMG_5952.CR2";
    if (!fs::exists(cr2)) {
        GTEST_SKIP() << "package rawtran-doc is not installed";
    }
    decode::LibRawDecoder decoder;
    ASSERT_TRUE(decoder.Load(cr2, 0, 0, false));
    EXPECT_EQ(decoder.GetWidth(), 1728u);
    EXPECT_EQ(decoder.GetHeight(), 1152u);
    EXPECT_GT(decoder.GetSourceWidth(), decoder.GetWidth());
    // From memory, fitted: the preview is decoded with DCT scaling.
    const std::vector<uint8_t> bytes = testing_support::ReadFileBytes(cr2);
    decode::LibRawDecoder fitted;
    ASSERT_TRUE(fitted.LoadFromMemory(bytes.data(), bytes.size(), 320, 320, false));
    EXPECT_LE(fitted.GetWidth(), 320u);
    EXPECT_EQ(fitted.GetSourceWidth(), decoder.GetSourceWidth());
}

std::vector<uint8_t> PhaseOneLoop() {
    std::vector<uint8_t> bytes = {'I', 'I', '*', 0,   0x08, 0x0a, 0,    0,    'I', 'I',
                                  'I', 'I', 'C', 'w', 'a',  'R',  0x58, 0x06, 0,   0};
    bytes.resize(0x660);
    const uint32_t words[] = {3334,   0,          0x1,     1,         196870, 0x1,     0x2,     262417,
                              1,      0xd1c,      0x30115, 1,         3,      0x40116, 0x1,     1,
                              262423, 0x1,        0x3,     327962,    1,      0xd0c,   0x5011b, 1,
                              3348,   0x3011c,    0x1,     1,         196904, 0x1,     0x2,     0,
                              524296, 0x10000008, 0xc0000, 268435456, 786432, 0xff0000};
    for (const uint32_t word : words) {
        for (int shift = 0; shift < 32; shift += 8) {
            bytes.push_back(static_cast<uint8_t>(word >> shift));
        }
    }
    return bytes;
}

TEST(LibraryDecoders, MalformedInputsFailCleanly) {
    SKIP_WITHOUT_SAMPLES();
    const fs::path samples = testing_support::SamplesDir();
    const auto head = [&](const char* path, size_t keep) {
        std::vector<uint8_t> bytes = testing_support::ReadFileBytes(samples / path);
        bytes.resize(std::min(bytes.size(), keep));
        return bytes;
    };
    const auto text = [](const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); };
    std::vector<uint8_t> hugeWebP = text("RIFF\x1a\0\0\0WEBPVP8L\x0d\0\0\0\x2f"s);
    hugeWebP.insert(hugeWebP.end(), {0xff, 0xff, 0xff, 0x0f, 0, 0, 0, 0, 0}); // 16384 x 16384, no data
    const std::vector<uint8_t> hugeJxl = {0xff, 0x0a, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0, 0, 0, 0};
    const std::vector<std::pair<const char*, std::vector<uint8_t>>> inputs = {
        {"empty.webp", {}},
        {"text.webp", text("RIFF not a picture at all")},
        {"huge.webp", hugeWebP},
        {"truncated.webp", head("webp/libwebp_lossless1.webp", 600)},
        {"truncated-animation.webp", head("webp/dp_BladeRunner.webp", 900)},
        {"truncated.heic", head("heif/libheif_example.heic", 2000)},
        {"header-only.avif", head("avif/libheif_example.avif", 400)},
        {"text.heic", text("\0\0\0\x18"
                           "ftypheic\0\0\0\0mif1heic garbage"s)},
        {"truncated.jxl", head("jxl/conformance_progressive.jxl", 3000)},
        {"huge.jxl", hugeJxl},
        {"signature-only.jxl", {0xff, 0x0a}},
        {"truncated.cr2", head("/usr/share/doc/rawtran/IMG_5952.CR2", 60000)},
        {"metadata-only.nef", head("raw/exiftool_Nikon.nef", 1 << 20)},
        {"text.cr2", text("II*\0 this is no raw file"s)},
        // A Phase One directory behind a TIFF header that sends LibRaw round a loop for minutes.
        {"entries.iiq", PhaseOneLoop()},
    };
    testing_support::TemporaryDirectory folder;
    for (const auto& [name, bytes] : inputs) {
        SCOPED_TRACE(name);
        const std::string path = folder.Write(name, bytes);
        const auto decoder = decode::CreateDecoder(path);
        EXPECT_FALSE(decoder->LoadFromMemory(bytes.data(), bytes.size(), 0, 0, false));
        EXPECT_EQ(decoder->GetPixels(), nullptr);
        EXPECT_FALSE(decoder->Load(path, 1920, 1080, false));
        decode::DecodedImage image;
        EXPECT_FALSE(decode::LoadImageFile(path, 320, 320, false, image));
    }
}

TEST(LoadImageFile, OnlyTheListedLibraryFamiliesGetTheWicRetry) {
    // A PNG under these names: the dedicated library refuses it, the WIC decoder reads it by content.
    testing_support::TemporaryDirectory folder;
    const std::vector<uint8_t> png =
        testing_support::EncodeRgbaPng(5, 3, std::vector<uint8_t>(5 * 3 * 4, 90));
    for (const auto& [name, retried] : std::vector<std::pair<std::string, bool>>{{"a.webp", true},
                                                                                 {"a.heic", true},
                                                                                 {"a.heif", true},
                                                                                 {"a.avif", true},
                                                                                 {"a.avifs", true},
                                                                                 {"a.hif", false},
                                                                                 {"a.heics", false},
                                                                                 {"a.jxl", false},
                                                                                 {"a.cr2", false}}) {
        decode::DecodedImage image;
        EXPECT_EQ(decode::LoadImageFile(folder.Write(name, png), 0, 0, false, image), retried) << name;
    }
}

} // namespace
