// The decoders of the less common families (OpenEXR, JPEG 2000, BPG, SVG, Photoshop) on the real-world
// samples, their numeric rules, and hostile or malformed input.
#include "decode/bpg_decoder.h"
#include "decode/exr_decoder.h"
#include "decode/format_registry.h"
#include "decode/freeimage_support.h"
#include "decode/j2k_decoder.h"
#include "decode/psd_decoder.h"
#include "decode/svg_decoder.h"
#include "tests/support/png_writer.h"
#include "tests/support/test_support.h"

#include <tinyexr.h>

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <limits>
#include <map>
#include <regex>
#include <sstream>
#include <utility>

// Fontconfig, reached through librsvg's text layout, keeps its caches until exit.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n";
}

namespace {

using testing_support::SamplesDir;

struct Outcome {
    uint32_t width = 0; // 0: the load fails cleanly
    uint32_t height = 0;
    uint32_t sourceWidth = 0; // SVG only: the document's own size
    uint32_t sourceHeight = 0;
    bool eitherWay = false; // malformed files that may decode or fail, as long as they do so cleanly
};

// Rows whose outcome the manifest's size does not give.
const std::map<std::string, Outcome>& Exceptions() {
    static const std::map<std::string, Outcome> exceptions = {
        {"jp2/opf_balloon.j2c", {}},         // .j2c is in no set: the WIC-format decoder refuses it
        {"jp2/openjpeg_oj-ht-byte.jph", {}}, // likewise .jph
        {"jp2/opf_balloon_trunc2_5000bytes.jp2", {}},
        {"jp2/pillow_zero_height.j2k", {}},
        {"psd/pillow_psd-oob-write.psd", {100, 100, 0, 0, true}},
        {"svg/exiftool_XMP.svg", {}}, // librsvg refuses its undeclared namespace prefix
        {"svg/linku_plum-blossom.svg", {1920, 1080, 3779, 3779}},
        {"svg/sharp_check_viewbox_only.svg", {1920, 1080, 100, 100}},
        {"svg/sharp_circle_tiny_viewbox.svg", {1920, 1080, 8, 8}},
        {"svg/w3c_struct-image-04-t.svg", {1920, 1080, 480, 360}},
    };
    return exceptions;
}

std::vector<std::pair<std::string, Outcome>> SampleTable() {
    std::vector<std::pair<std::string, Outcome>> table;
    std::ifstream manifest(SamplesDir() / "MANIFEST.tsv");
    const std::regex size(R"((\d+)x(\d+))");
    std::string line;
    while (std::getline(manifest, line)) {
        const std::string path = line.substr(0, line.find('\t'));
        const std::string folder = path.substr(0, path.find('/'));
        if (folder != "exr" && folder != "jp2" && folder != "bpg" && folder != "svg" && folder != "psd") {
            continue;
        }
        if (const auto known = Exceptions().find(path); known != Exceptions().end()) {
            table.emplace_back(path, known->second);
            continue;
        }
        const std::string expected = line.substr(line.rfind('\t') + 1);
        std::smatch match;
        Outcome outcome;
        if (std::regex_search(expected, match, size)) {
            outcome.width = static_cast<uint32_t>(std::stoul(match[1]));
            outcome.height = static_cast<uint32_t>(std::stoul(match[2]));
        }
        table.emplace_back(path, outcome);
    }
    return table;
}

bool IsPremultiplied(const uint8_t* pixels, uint64_t count) {
    for (uint64_t i = 0; i < count; ++i) {
        const uint8_t* pixel = pixels + i * 4;
        if (pixel[0] > pixel[3] || pixel[1] > pixel[3] || pixel[2] > pixel[3]) {
            return false;
        }
    }
    return true;
}

TEST(FurtherDecoders, SamplesDecodeToTheirSizeFromFilesAndMemoryAlike) {
    SKIP_WITHOUT_SAMPLES();
    const auto table = SampleTable();
    ASSERT_GE(table.size(), 70u);
    for (const auto& [relative, outcome] : table) {
        const std::string path = (SamplesDir() / relative).string();
        decode::DecodedImage fromFile;
        const bool fileLoaded = decode::LoadImageFile(path, 0, 0, false, fromFile);
        const std::vector<uint8_t> bytes = testing_support::ReadFileBytes(path);
        const auto decoder = decode::CreateDecoder(path);
        const bool memoryLoaded = decoder->LoadFromMemory(bytes.data(), bytes.size(), 0, 0, false);
        if (outcome.eitherWay && !fileLoaded) {
            EXPECT_FALSE(memoryLoaded) << relative;
            continue;
        }
        ASSERT_EQ(fileLoaded, outcome.width != 0) << relative;
        ASSERT_EQ(memoryLoaded, fileLoaded) << relative;
        if (!fileLoaded) {
            continue;
        }
        EXPECT_EQ(fromFile.width, outcome.width) << relative;
        EXPECT_EQ(fromFile.height, outcome.height) << relative;
        EXPECT_EQ(decoder->GetWidth(), fromFile.width) << relative;
        EXPECT_EQ(decoder->GetHeight(), fromFile.height) << relative;
        if (outcome.sourceWidth != 0) {
            EXPECT_EQ(decoder->GetSourceWidth(), outcome.sourceWidth) << relative;
            EXPECT_EQ(decoder->GetSourceHeight(), outcome.sourceHeight) << relative;
        }
        EXPECT_TRUE(IsPremultiplied(fromFile.pixels.get(), uint64_t{fromFile.width} * fromFile.height))
            << relative;
    }
}

uint32_t PixelAt(const decode::DecodedImage& image, uint32_t x, uint32_t y) {
    const uint8_t* p = image.pixels.get() + uint64_t{y} * image.stride + uint64_t{x} * 4;
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

TEST(FurtherDecoders, NumericRulesOfToneMappingAndSampleScaling) {
    // Reinhard then 1/2.2: 1.0 gives 186; out-of-range values stay inside 0..255.
    EXPECT_EQ(decode::ToneMapChannel(1.0f), 186);
    EXPECT_EQ(decode::ToneMapChannel(0.0f), 0);
    EXPECT_EQ(decode::ToneMapChannel(-3.0f), 0);
    EXPECT_EQ(decode::ToneMapChannel(std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(decode::ToneMapChannel(std::numeric_limits<float>::infinity()), 255);
    EXPECT_EQ(decode::FloatAlphaToByte(1.0f), 255);
    EXPECT_EQ(decode::FloatAlphaToByte(2.0f), 255);
    EXPECT_EQ(decode::FloatAlphaToByte(0.5f), 128);

    // A real file through the whole path: white at alpha 1, and a half-transparent pixel premultiplied.
    testing_support::TemporaryDirectory folder;
    const std::string exr = folder.File("rules.exr");
    const float rgba[] = {1, 1, 1, 1, 1, 0, 0, 0.5f};
    const char* error = nullptr;
    ASSERT_EQ(SaveEXR(rgba, 2, 1, 4, 1, exr.c_str(), &error), TINYEXR_SUCCESS);
    decode::DecodedImage image;
    ASSERT_TRUE(decode::LoadImageFile(exr, 0, 0, false, image));
    EXPECT_EQ(PixelAt(image, 0, 0), 0xFFBABABAu);
    EXPECT_EQ(PixelAt(image, 1, 0), 0x805D0000u); // 186 * 128 / 255 = 93

    // JPEG 2000 samples: 4-bit 15 is 240, 16-bit samples keep their high byte, signed ones are centred.
    EXPECT_EQ(decode::ScaleJ2kSample(15, 4, false), 240);
    EXPECT_EQ(decode::ScaleJ2kSample(0xABCD, 16, false), 0xAB);
    EXPECT_EQ(decode::ScaleJ2kSample(-8, 4, true), 0);
    EXPECT_EQ(decode::ScaleJ2kSample(7, 4, true), 240);
    EXPECT_EQ(decode::ScaleJ2kSample(300, 8, false), 255);
}

TEST(FurtherDecoders, JpegTwoThousandCodecChoiceAndReducedResolution) {
    SKIP_WITHOUT_SAMPLES();
    // 16-bit grey without alpha is opaque.
    decode::DecodedImage grey;
    ASSERT_TRUE(
        decode::LoadImageFile((SamplesDir() / "jp2/pillow_16bit_gray.jp2").string(), 0, 0, false, grey));
    EXPECT_EQ(PixelAt(grey, 10, 10) >> 24, 255u);

    // A bare codestream named .jp2 fails from its path (container codec) but loads from memory.
    testing_support::TemporaryDirectory folder;
    const std::vector<uint8_t> codestream =
        testing_support::ReadFileBytes(SamplesDir() / "jp2/pillow_9bit.j2k");
    decode::J2kDecoder fromPath;
    EXPECT_FALSE(fromPath.Load(folder.Write("bare.jp2", codestream), 0, 0, false));
    decode::J2kDecoder fromMemory;
    EXPECT_TRUE(fromMemory.LoadFromMemory(codestream.data(), codestream.size(), 0, 0, false));

    // A screen-sized decode of a 2717 x 3701 picture drops one wavelet level, never below the fit.
    EXPECT_EQ(decode::ChooseJ2kReduction(2717, 3701, 1920, 1080, 5), 1u);
    EXPECT_EQ(decode::ChooseJ2kReduction(2717, 3701, 320, 320, 5), 3u);
    EXPECT_EQ(decode::ChooseJ2kReduction(2717, 3701, 320, 320, 2), 2u);
    EXPECT_EQ(decode::ChooseJ2kReduction(2717, 3701, 0, 0, 5), 0u);
    decode::DecodedImage fitted;
    ASSERT_TRUE(decode::LoadImageFile((SamplesDir() / "jp2/opf_balloon_aware.jp2").string(), 1920, 1080,
                                      false, fitted));
    EXPECT_EQ(fitted.width, 1359u);
    EXPECT_EQ(fitted.height, 1851u);
}

TEST(FurtherDecoders, SvgRenderSizeRules) {
    testing_support::TemporaryDirectory folder;
    const std::string bare = folder.Write(
        "bare.svg",
        std::string(R"(<svg xmlns="http://www.w3.org/2000/svg"><rect width="10" height="10"/></svg>)"));
    decode::SvgDecoder defaults;
    ASSERT_TRUE(defaults.Load(bare, 0, 0, false));
    EXPECT_EQ(defaults.GetWidth(), 1920u);
    EXPECT_EQ(defaults.GetHeight(), 1080u);
    EXPECT_EQ(defaults.GetSourceWidth(), 1920u) << "no size and no viewBox: the render size";
    decode::SvgDecoder targeted;
    ASSERT_TRUE(targeted.Load(bare, 300, 200, false));
    EXPECT_EQ(targeted.GetWidth(), 300u);
    EXPECT_EQ(targeted.GetHeight(), 200u);
    decode::SvgDecoder capped;
    ASSERT_TRUE(capped.Load(bare, 200000, 100000, false));
    EXPECT_LE(uint64_t{capped.GetWidth()} * capped.GetHeight(), decode::kMaxSvgRenderPixels);
    EXPECT_NEAR(capped.GetWidth(), capped.GetHeight() * 2, 2);
}

TEST(FurtherDecoders, HostileSvgDocumentsFinishBounded) {
    const std::string open =
        R"svg(<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink" )svg"
        R"svg(width="100" height="100">)svg";
    std::string nested = open;
    for (int i = 0; i < 20000; ++i) {
        nested += "<g>";
    }
    std::string laughs = open + R"svg(<defs><rect id="l0" width="1" height="1"/>)svg";
    for (int i = 1; i < 12; ++i) {
        laughs += "<g id=\"l" + std::to_string(i) + "\">";
        for (int j = 0; j < 10; ++j) {
            laughs += "<use xlink:href=\"#l" + std::to_string(i - 1) + "\"/>";
        }
        laughs += "</g>";
    }
    laughs += "</defs><use xlink:href=\"#l11\"/></svg>";
    const std::vector<std::string> documents = {
        open + R"svg(<image width="100" height="100" xlink:href="/dev/zero"/></svg>)svg",
        open + R"svg(<image width="100" height="100" xlink:href="file:///etc/passwd"/></svg>)svg",
        open + R"svg(<image width="100" height="100" xlink:href="http://127.0.0.1:9/x.png"/></svg>)svg",
        open +
            R"svg(<filter id="f" x="-1e6" y="-1e6" width="1e7" height="1e7"><feGaussianBlur stdDeviation="1e9"/>)svg"
            R"svg(<feTurbulence baseFrequency="0.9" numOctaves="1000000"/><feMorphology radius="1e9 1e9"/>)svg"
            R"svg(<feConvolveMatrix order="3000" kernelMatrix="1"/></filter>)svg"
            R"svg(<rect width="1e6" height="1e6" filter="url(#f)"/></svg>)svg",
        open + R"svg(<use id="a" xlink:href="#b"/><use id="b" xlink:href="#a"/></svg>)svg",
        nested,
        laughs,
    };
    for (size_t i = 0; i < documents.size(); ++i) {
        decode::SvgDecoder decoder;
        const auto* bytes = reinterpret_cast<const uint8_t*>(documents[i].data());
        if (decoder.LoadFromMemory(bytes, documents[i].size(), 640, 480, false)) {
            EXPECT_EQ(decoder.GetWidth(), 640u) << i;
            EXPECT_EQ(decoder.GetHeight(), 480u) << i;
        }
    }
}

std::vector<uint8_t> Prefix(const std::vector<uint8_t>& bytes, size_t length) {
    return {bytes.begin(), bytes.begin() + std::min(length, bytes.size())};
}

TEST(FurtherDecoders, MalformedInputFailsCleanly) {
    SKIP_WITHOUT_SAMPLES();
    const auto sample = [](const char* relative) {
        return testing_support::ReadFileBytes(SamplesDir() / relative);
    };
    const std::vector<uint8_t> bpg = sample("bpg/libbpg_pinguin_alpha.bpg");
    const std::vector<uint8_t> exr = sample("exr/openexr_TestImages_stripes.exr");
    const std::vector<uint8_t> j2k = sample("jp2/pillow_test-card-lossless.jp2");
    const std::vector<uint8_t> psd = sample("psd/pillow_hopper.psd");
    std::vector<uint8_t> bpgHuge = {0x42, 0x50, 0x47, 0xFB, 0x10, 0x00, 0x8F, 0xFF, 0xFF, 0xFF,
                                    0x7F, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x01, 0x02, 0x03};
    std::vector<uint8_t> psdHuge = psd;
    std::fill(psdHuge.begin() + 14, psdHuge.begin() + 22, 0x3F); // 0x3F3F3F3F x 0x3F3F3F3F
    std::vector<uint8_t> bpgCorrupt = bpg;
    for (size_t i = bpgCorrupt.size() / 2; i < bpgCorrupt.size(); i += 7) {
        bpgCorrupt[i] ^= 0x5A;
    }
    std::vector<uint8_t> bpgOverlong = bpg;
    bpgOverlong[6] = 0x80; // ue7 values never start with 0x80
    const std::vector<std::vector<uint8_t>> inputs = {
        {},
        std::vector<uint8_t>(4096, 0x42),
        Prefix(bpg, 4),
        Prefix(bpg, 40),
        Prefix(bpg, bpg.size() / 2),
        bpgHuge,
        bpgCorrupt,
        bpgOverlong,
        Prefix(exr, 8),
        Prefix(exr, exr.size() / 2),
        Prefix(j2k, 100),
        Prefix(j2k, j2k.size() / 2),
        Prefix(psd, 26),
        psdHuge,
    };
    for (size_t i = 0; i < inputs.size(); ++i) {
        decode::BpgDecoder bpgDecoder;
        decode::ExrDecoder exrDecoder;
        decode::J2kDecoder j2kDecoder;
        decode::PsdDecoder psdDecoder;
        for (decode::IDecoder* decoder :
             std::initializer_list<decode::IDecoder*>{&bpgDecoder, &exrDecoder, &j2kDecoder, &psdDecoder}) {
            EXPECT_FALSE(decoder->LoadFromMemory(inputs[i].data(), inputs[i].size(), 0, 0, false)) << i;
            EXPECT_EQ(decoder->GetPixels(), nullptr) << i;
        }
    }
    // Found by the fuzzer: a cut-off file whose chunk fails in tinyexr once made the image be freed twice,
    // a header that kept FreeImage's reader parsing stale bytes for ever, and a second part header that
    // made it allocate 1.4 GB for one attribute. Either outcome is fine.
    for (const char* name : {"exr_failed_chunk_double_free.exr", "exr_stale_header_reads.exr",
                             "exr_multipart_huge_attribute.exr"}) {
        const std::vector<uint8_t> found = testing_support::ReadFileBytes(
            std::filesystem::path(SKIMORA_TESTS_DIR) / "decode/regressions" / name);
        ASSERT_FALSE(found.empty()) << name;
        decode::ExrDecoder exrDecoder;
        exrDecoder.LoadFromMemory(found.data(), found.size(), 0, 0, false);
    }
}

TEST(FurtherDecoders, OversizedPhotoshopFileIsRefusedUnread) {
    testing_support::TemporaryDirectory folder;
    const std::string path = folder.File("huge.psd");
    std::ofstream(path).put('8');
    std::filesystem::resize_file(path, uint64_t{600} << 20); // sparse: nothing is written
    decode::DecodedImage image;
    EXPECT_FALSE(decode::LoadImageFile(path, 0, 0, false, image));
}

TEST(FurtherDecoders, RegistryRoutesTheFamiliesWithoutWicRetry) {
    EXPECT_NE(dynamic_cast<decode::ExrDecoder*>(decode::CreateDecoder("a.EXR").get()), nullptr);
    EXPECT_NE(dynamic_cast<decode::BpgDecoder*>(decode::CreateDecoder("a.bpg").get()), nullptr);
    EXPECT_NE(dynamic_cast<decode::SvgDecoder*>(decode::CreateDecoder("a.svgz").get()), nullptr);
    EXPECT_NE(dynamic_cast<decode::PsdDecoder*>(decode::CreateDecoder("a.psb").get()), nullptr);
    for (const char* path : {"a.j2k", "a.jp2", "a.jpf", "a.jpx", "a.jpm"}) {
        EXPECT_NE(dynamic_cast<decode::J2kDecoder*>(decode::CreateDecoder(path).get()), nullptr) << path;
    }
    // A PNG under these names is not handed to the WIC-format decoder after the family's decoder fails
    // (OpenEXR is left out: its FreeImage second chance reads any format by content).
    testing_support::TemporaryDirectory folder;
    const std::vector<uint8_t> png = testing_support::EncodeRgbaPng(4, 4, std::vector<uint8_t>(64, 200));
    for (const char* name : {"png.bpg", "png.jp2", "png.svg"}) {
        decode::DecodedImage image;
        EXPECT_FALSE(decode::LoadImageFile(folder.Write(name, png), 0, 0, false, image)) << name;
    }
}

} // namespace

namespace {

// Found by the fuzzer: files on which FreeImage's own readers go wrong, a damaged Photoshop file that
// makes it write past a heap buffer and a multi-part OpenEXR file whose headers look complete but make
// it allocate 1.6 GB for one attribute. Its reading is confined to a child process with capped memory,
// so both fail there and nothing of it reaches this process.
TEST(FurtherDecoders, FreeImageFaultsStayInTheChildProcess) {
    decode::PsdDecoder psdDecoder;
    decode::ExrDecoder exrDecoder;
    const std::pair<const char*, decode::IDecoder*> cases[] = {
        {"psd_freeimage_overflow.psd", &psdDecoder}, {"exr_multipart_attribute_oom.exr", &exrDecoder}};
    for (const auto& [name, decoder] : cases) {
        const std::vector<uint8_t> found = testing_support::ReadFileBytes(
            std::filesystem::path(SKIMORA_TESTS_DIR) / "decode/regressions" / name);
        ASSERT_FALSE(found.empty()) << name;
        EXPECT_FALSE(decoder->LoadFromMemory(found.data(), found.size(), 0, 0, false)) << name;
        EXPECT_EQ(decoder->GetPixels(), nullptr) << name;
    }
}

} // namespace
