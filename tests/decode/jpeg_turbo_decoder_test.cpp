#include "decode/color_management.h"
#include "decode/format_registry.h"
#include "decode/jpeg_turbo_decoder.h"
#include "decode/wic_decoder.h"
#include "platform/settings.h"
#include "tests/support/jpeg_writer.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <cstdlib>
#include <cstring>

namespace decode {
namespace {

using testing_support::EncodeJpeg;
using testing_support::JpegEncodeOptions;
using testing_support::Rgb;

// Restores the process-wide settings a test changes.
class SettingsGuard {
public:
    SettingsGuard() : saved(platform::GlobalSettings()) {}
    ~SettingsGuard() { platform::GlobalSettings() = saved; }

private:
    platform::Settings saved;
};

Rgb Flat(uint8_t red, uint8_t green, uint8_t blue) {
    return {red, green, blue};
}

// Left half red, right half blue.
Rgb Halves(uint32_t x, uint32_t, uint32_t width) {
    return x < width / 2 ? Flat(220, 20, 20) : Flat(20, 20, 220);
}

const uint8_t* PixelAt(const IDecoder& decoder, uint32_t x, uint32_t y) {
    return decoder.GetPixels() + static_cast<size_t>(y) * decoder.GetStride() + x * 4;
}

void ExpectBgra(const uint8_t* pixel, int blue, int green, int red, int tolerance = 12) {
    EXPECT_NEAR(pixel[0], blue, tolerance);
    EXPECT_NEAR(pixel[1], green, tolerance);
    EXPECT_NEAR(pixel[2], red, tolerance);
    EXPECT_EQ(pixel[3], 255);
}

std::vector<uint8_t> SampleBytes(const std::string& name) {
    return testing_support::ReadFileBytes(testing_support::SamplesDir() / "jpeg" / name);
}

TEST(ChooseJpegScale, FitAndCoverRulesOverTheLibraryFactors) {
    SettingsGuard guard;
    platform::GlobalSettings().jpegFullDecode = false;
    const auto fit = [](uint32_t w, uint32_t h) {
        return ChooseJpegScale(w, h, 1920, 1080, JpegScaleRule::Fit, JpegFullDecodePreference::Honour);
    };
    EXPECT_EQ(fit(6000, 4000), (JpegScalingFactor{1, 4}));
    EXPECT_EQ(ScaleJpegDimension(6000, {1, 4}), 1500u);
    EXPECT_EQ(ScaleJpegDimension(4000, {1, 4}), 1000u);
    EXPECT_EQ(fit(1000, 800), (JpegScalingFactor{5, 4}));
    EXPECT_EQ(ScaleJpegDimension(1000, {5, 4}), 1250u);
    EXPECT_EQ(fit(100, 100), (JpegScalingFactor{2, 1}));
    // Larger than 8 times the target: the smallest factor.
    EXPECT_EQ(fit(60000, 40000), (JpegScalingFactor{1, 8}));

    const JpegScalingFactor cover =
        ChooseJpegScale(6000, 4000, 1920, 1080, JpegScaleRule::Cover, JpegFullDecodePreference::Honour);
    EXPECT_EQ(cover, (JpegScalingFactor{3, 8}));
    EXPECT_EQ(ScaleJpegDimension(6000, cover), 2250u);
    EXPECT_EQ(ScaleJpegDimension(4000, cover), 1500u);
    // Nothing covers a target beyond twice the image: 1/1 stays.
    EXPECT_EQ(ChooseJpegScale(100, 100, 1920, 1080, JpegScaleRule::Cover, JpegFullDecodePreference::Honour),
              (JpegScalingFactor{1, 1}));

    EXPECT_EQ(ChooseJpegScale(6000, 4000, 0, 1080, JpegScaleRule::Fit, JpegFullDecodePreference::Honour),
              (JpegScalingFactor{1, 1}));
    EXPECT_EQ(ScaleJpegDimension(7, {1, 8}), 1u); // rounded up

    platform::GlobalSettings().jpegFullDecode = true;
    EXPECT_EQ(fit(6000, 4000), (JpegScalingFactor{1, 1}));
    EXPECT_EQ(ChooseJpegScale(6000, 4000, 1920, 1080, JpegScaleRule::Fit, JpegFullDecodePreference::Ignore),
              (JpegScalingFactor{1, 4}));
}

TEST(ExtractIccProfile, JoinsChunksInSequenceOrder) {
    const std::vector<uint8_t> first(300, 0x11);
    const std::vector<uint8_t> second(200, 0x22);
    const std::vector<uint8_t> base = EncodeJpeg(16, 16, [](uint32_t, uint32_t) { return Flat(1, 2, 3); });

    // Chunk 2 stored before chunk 1.
    const std::vector<uint8_t> swapped =
        testing_support::InsertJpegSegments(base, {testing_support::IccChunkSegment(2, 2, second),
                                                   testing_support::IccChunkSegment(1, 2, first)});
    std::vector<uint8_t> expected = first;
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(ExtractIccProfile(swapped.data(), swapped.size()), expected);

    // Two of three chunks: no profile.
    const std::vector<uint8_t> incomplete =
        testing_support::InsertJpegSegments(base, {testing_support::IccChunkSegment(1, 3, first),
                                                   testing_support::IccChunkSegment(2, 3, second)});
    EXPECT_TRUE(ExtractIccProfile(incomplete.data(), incomplete.size()).empty());
    // Two chunks for a count of two, but one numbered 0: chunk 2 is missing, so no profile either.
    const std::vector<uint8_t> misnumbered =
        testing_support::InsertJpegSegments(base, {testing_support::IccChunkSegment(0, 2, second),
                                                   testing_support::IccChunkSegment(1, 2, first)});
    EXPECT_TRUE(ExtractIccProfile(misnumbered.data(), misnumbered.size()).empty());

    // A repeated sequence number replaces the earlier chunk.
    const std::vector<uint8_t> repeated =
        testing_support::InsertJpegSegments(base, {testing_support::IccChunkSegment(1, 1, first),
                                                   testing_support::IccChunkSegment(1, 1, second)});
    EXPECT_EQ(ExtractIccProfile(repeated.data(), repeated.size()), second);

    // A profile split over many segments by the writer helper comes back whole.
    std::vector<uint8_t> big(100000);
    for (size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<uint8_t>(i * 7);
    }
    const std::vector<uint8_t> split =
        testing_support::InsertJpegSegments(base, testing_support::IccProfileSegments(big, 16000));
    EXPECT_EQ(ExtractIccProfile(split.data(), split.size()), big);

    EXPECT_TRUE(ExtractIccProfile(base.data(), base.size()).empty());
    EXPECT_TRUE(ExtractIccProfile(nullptr, 100).empty());
    EXPECT_TRUE(ExtractIccProfile(swapped.data(), 19).empty());
}

TEST(ExtractIccProfile, StopsAtScanAndStaysInBounds) {
    // SOI, SOS, then an APP2 profile chunk: after the scan start it contributes nothing.
    std::vector<uint8_t> bytes = {0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x02};
    const testing_support::JpegSegment chunk =
        testing_support::IccChunkSegment(1, 1, std::vector<uint8_t>(40, 9));
    bytes.insert(bytes.end(), {0xFF, 0xE2, 0x00, static_cast<uint8_t>(chunk.payload.size() + 2)});
    bytes.insert(bytes.end(), chunk.payload.begin(), chunk.payload.end());
    EXPECT_TRUE(ExtractIccProfile(bytes.data(), bytes.size()).empty());

    // The same chunk before the scan is found; cut short by one byte, it is not read past the end.
    std::vector<uint8_t> valid = {0xFF, 0xD8, 0xFF,
                                  0xE2, 0x00, static_cast<uint8_t>(chunk.payload.size() + 2)};
    valid.insert(valid.end(), chunk.payload.begin(), chunk.payload.end());
    EXPECT_EQ(ExtractIccProfile(valid.data(), valid.size()), std::vector<uint8_t>(40, 9));
    const std::vector<uint8_t> cut(valid.begin(), valid.end() - 1);
    EXPECT_TRUE(ExtractIccProfile(cut.data(), cut.size()).empty());

    // A segment length below 2 stops the walk.
    std::vector<uint8_t> zeroLength = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x01};
    zeroLength.insert(zeroLength.end(), valid.begin() + 2, valid.end());
    EXPECT_TRUE(ExtractIccProfile(zeroLength.data(), zeroLength.size()).empty());
}

TEST(ExtractIccProfile, RealFilesWithSevenAndEighteenChunks) {
    SKIP_WITHOUT_SAMPLES();
    const std::vector<uint8_t> seven = SampleBytes("pillow_icc_profile_big_7chunks_progressive.jpg");
    const std::vector<uint8_t> profile7 = ExtractIccProfile(seven.data(), seven.size());
    ASSERT_GE(profile7.size(), 128u);
    // The profile header states its own size.
    const uint32_t declared7 =
        uint32_t{profile7[0]} << 24 | uint32_t{profile7[1]} << 16 | uint32_t{profile7[2]} << 8 | profile7[3];
    EXPECT_EQ(declared7, profile7.size());
    EXPECT_EQ(std::memcmp(profile7.data() + 36, "acsp", 4), 0);

    const std::vector<uint8_t> eighteen = SampleBytes("sharp_cmyk_swop_icc_18chunks.jpg");
    const std::vector<uint8_t> profile18 = ExtractIccProfile(eighteen.data(), eighteen.size());
    EXPECT_EQ(profile18.size(), 17u * (32016 - 16) + (13184 - 16)); // segment sizes less their headers
    ASSERT_GE(profile18.size(), 128u);
    EXPECT_EQ(std::memcmp(profile18.data() + 16, "CMYK", 4), 0);
}

TEST(JpegTurboDecoder, DecodesGeneratedFilesAtTheChosenScale) {
    SettingsGuard guard;
    platform::Settings& settings = platform::GlobalSettings();
    settings.jpegFullDecode = false;
    settings.colorManagement = 0;
    testing_support::TemporaryDirectory folder;
    const std::vector<uint8_t> jpeg = EncodeJpeg(
        640, 480, [](uint32_t x, uint32_t y) { return Halves(x, y, 640); }, testing_support::JpegOptions(95));
    const std::string path = folder.Write("halves.jpg", jpeg);

    for (const bool highQualitySetting : {false, true}) {
        settings.jpegHighQuality = highQualitySetting;
        JpegTurboDecoder full;
        ASSERT_TRUE(full.LoadPath(path));
        EXPECT_EQ(full.GetWidth(), 640u);
        EXPECT_EQ(full.GetHeight(), 480u);
        EXPECT_EQ(full.GetStride(), 640u * 4);
        EXPECT_EQ(full.GetSourceWidth(), 640u);
        EXPECT_FALSE(full.IsUltraHdrDecode());
        ExpectBgra(PixelAt(full, 10, 10), 20, 20, 220);
        ExpectBgra(PixelAt(full, 630, 470), 220, 20, 20);
    }

    // Fit rule: 640 x 480 into 200 x 200 gives 1/4 = 160 x 120; the source size stays the header's.
    JpegTurboDecoder fitted;
    ASSERT_TRUE(fitted.Load(path, 200, 200, false));
    EXPECT_EQ(fitted.GetWidth(), 160u);
    EXPECT_EQ(fitted.GetHeight(), 120u);
    EXPECT_EQ(fitted.GetSourceWidth(), 640u);
    EXPECT_EQ(fitted.GetSourceHeight(), 480u);
    ExpectBgra(PixelAt(fitted, 5, 60), 20, 20, 220);
    ExpectBgra(PixelAt(fitted, 155, 60), 220, 20, 20);

    // Cover rule (high-quality flag): the smallest factor still covering 200 x 200 is 1/2 (320 x 240).
    JpegTurboDecoder covered;
    ASSERT_TRUE(covered.Load(path, 200, 200, true));
    EXPECT_EQ(covered.GetWidth(), 320u);
    EXPECT_EQ(covered.GetHeight(), 240u);

    // Small image, large target: enlarged twice.
    JpegTurboDecoder enlarged;
    ASSERT_TRUE(enlarged.Load(path, 1920, 1080, false));
    EXPECT_EQ(enlarged.GetWidth(), 1280u);

    settings.jpegFullDecode = true;
    JpegTurboDecoder fullDecode;
    ASSERT_TRUE(fullDecode.Load(path, 200, 200, false));
    EXPECT_EQ(fullDecode.GetWidth(), 640u);

    // The registry hands JPEG extensions, any case, to this decoder.
    settings.jpegFullDecode = false;
    EXPECT_NE(dynamic_cast<JpegTurboDecoder*>(CreateDecoder("/x/photo.JPG").get()), nullptr);
    EXPECT_NE(dynamic_cast<JpegTurboDecoder*>(CreateDecoder("/x/photo.jfif").get()), nullptr);
    DecodedImage image;
    ASSERT_TRUE(LoadImageFile(path, 200, 200, false, image));
    EXPECT_EQ(image.width, 160u);
    EXPECT_EQ(image.size, 160u * 120 * 4);
}

TEST(JpegTurboDecoder, LoadsFromMemory) {
    SettingsGuard guard;
    platform::GlobalSettings().jpegFullDecode = false;
    const std::vector<uint8_t> jpeg = EncodeJpeg(
        400, 300, [](uint32_t x, uint32_t y) { return Halves(x, y, 400); },
        testing_support::Progressive(testing_support::JpegOptions(90, testing_support::JpegChroma::Full444)));
    JpegTurboDecoder decoder;
    ASSERT_TRUE(decoder.LoadFromMemory(jpeg.data(), jpeg.size(), 0, 0, false));
    EXPECT_EQ(decoder.GetWidth(), 400u);
    ExpectBgra(PixelAt(decoder, 2, 2), 20, 20, 220);
    // A second load on the same object replaces the first raster.
    ASSERT_TRUE(decoder.LoadFromMemory(jpeg.data(), jpeg.size(), 100, 100, false));
    EXPECT_EQ(decoder.GetWidth(), 100u);
    EXPECT_EQ(decoder.GetHeight(), 75u);
    ExpectBgra(PixelAt(decoder, 98, 70), 220, 20, 20);
    ASSERT_TRUE(decoder.LoadFromMemory(jpeg.data(), jpeg.size(), 100, 100, true));
    EXPECT_EQ(decoder.GetWidth(), 150u); // cover: 3/8 gives 150 x 113

    EXPECT_FALSE(decoder.LoadFromMemory(nullptr, 10, 0, 0, false));
    EXPECT_EQ(decoder.GetPixels(), nullptr);
    EXPECT_FALSE(decoder.LoadFromMemory(jpeg.data(), 0, 0, 0, false));
}

TEST(JpegTurboDecoder, EmbeddedProfileIsAppliedOnlyInDisplayMode) {
    SettingsGuard guard;
    platform::Settings& settings = platform::GlobalSettings();
    // A linear-light profile with sRGB primaries: stored 128 means about 188 in sRGB.
    cmsCIExyY whitePoint;
    cmsWhitePointFromTemp(&whitePoint, 6504);
    const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
    cmsToneCurve* curves[3] = {linear, linear, linear};
    cmsHPROFILE linearProfile = cmsCreateRGBProfile(&whitePoint, &primaries, curves);
    cmsFreeToneCurve(linear);
    cmsUInt32Number profileSize = 0;
    cmsSaveProfileToMem(linearProfile, nullptr, &profileSize);
    std::vector<uint8_t> profile(profileSize);
    cmsSaveProfileToMem(linearProfile, profile.data(), &profileSize);
    cmsCloseProfile(linearProfile);

    JpegEncodeOptions options = testing_support::JpegOptions(95);
    options.segments = testing_support::IccProfileSegments(profile, 100); // several chunks
    const std::vector<uint8_t> jpeg = EncodeJpeg(
        32, 32, [](uint32_t, uint32_t) { return Flat(128, 128, 128); }, options);

    settings.colorManagement = 0;
    JpegTurboDecoder plain;
    ASSERT_TRUE(plain.LoadFromMemory(jpeg.data(), jpeg.size(), 0, 0, false));
    ExpectBgra(PixelAt(plain, 16, 16), 128, 128, 128, 3);

    const char* display = std::getenv("DISPLAY");
    const std::string savedDisplay = display != nullptr ? display : "";
    unsetenv("DISPLAY"); // no screen profile: the display profile is sRGB
    settings.colorManagement = 2;
    CloseDisplayProfile();
    ASSERT_TRUE(OpenDisplayProfileForStartup());
    JpegTurboDecoder managed;
    ASSERT_TRUE(managed.LoadFromMemory(jpeg.data(), jpeg.size(), 0, 0, false));
    ExpectBgra(PixelAt(managed, 16, 16), 188, 188, 188, 4);
    CloseDisplayProfile();
    if (display != nullptr) {
        setenv("DISPLAY", savedDisplay.c_str(), 1);
    }
}

TEST(JpegTurboDecoder, RealSamples) {
    SKIP_WITHOUT_SAMPLES();
    SettingsGuard guard;
    platform::Settings& settings = platform::GlobalSettings();
    settings.jpegFullDecode = false;
    settings.colorManagement = 0;
    const std::string folder = (testing_support::SamplesDir() / "jpeg").string();
    struct Expected {
        const char* name;
        uint32_t width;
        uint32_t height;
    };
    for (const Expected& sample :
         {Expected{"exif_orientation/Landscape_6.jpg", 1200, 1800},
          Expected{"ljt_testimgari_arithmetic.jpg", 227, 149},
          Expected{"pillow_icc_profile_big_7chunks_progressive.jpg", 425, 250},
          Expected{"pillow_hopper_gray.jpg", 128, 128}, Expected{"pillow_junk_jpeg_header.jpg", 0, 0},
          Expected{"pillow_jpeg_ff00_header.jpg", 0, 0}, Expected{"pillow_cmyk.jpg", 100, 100},
          Expected{"sharp_cmyk_swop_icc_18chunks.jpg", 500, 333}, Expected{"pillow_frozenpond.mpo", 0, 0},
          Expected{"pillow_ultrahdr_pixel6.jpg", 1512, 2688}}) {
        SCOPED_TRACE(sample.name);
        JpegTurboDecoder decoder;
        const std::string path = folder + "/" + sample.name;
        ASSERT_TRUE(decoder.LoadPath(path));
        if (sample.width != 0) {
            EXPECT_EQ(decoder.GetWidth(), sample.width);
            EXPECT_EQ(decoder.GetHeight(), sample.height);
        }
        EXPECT_EQ(decoder.GetWidth(), decoder.GetSourceWidth());
        EXPECT_FALSE(decoder.IsUltraHdrDecode());
        // Opaque output throughout.
        for (uint32_t y = 0; y < decoder.GetHeight(); y += 7) {
            EXPECT_EQ(PixelAt(decoder, decoder.GetWidth() / 2, y)[3], 255);
        }
    }

    // CMYK comes out as colour, not as raw inks: the Adobe-inverted sample is not mostly black.
    JpegTurboDecoder cmyk;
    ASSERT_TRUE(cmyk.LoadPath(folder + "/sharp_cmyk_swop_icc_18chunks.jpg"));
    uint64_t sum = 0;
    for (uint32_t y = 0; y < cmyk.GetHeight(); ++y) {
        for (uint32_t x = 0; x < cmyk.GetWidth(); ++x) {
            const uint8_t* p = PixelAt(cmyk, x, y);
            sum += p[0] + p[1] + p[2];
        }
    }
    EXPECT_GT(sum / (uint64_t{cmyk.GetWidth()} * cmyk.GetHeight() * 3), 40u);

    // The giant 20000 x 14000 greyscale image decodes only reduced: its full size exceeds the pixel cap.
    JpegTurboDecoder giant;
    EXPECT_FALSE(giant.LoadPath(folder + "/sharp_giant-image_20000x14000.jpg"));
    EXPECT_EQ(giant.GetPixels(), nullptr);
    ASSERT_TRUE(giant.Load(folder + "/sharp_giant-image_20000x14000.jpg", 1920, 1080, false));
    EXPECT_EQ(giant.GetWidth(), 2500u);
    EXPECT_EQ(giant.GetHeight(), 1750u);
    EXPECT_EQ(giant.GetSourceWidth(), 20000u);
    // With full-size decoding preferred, the refused full-size raster falls back to the fit rule.
    settings.jpegFullDecode = true;
    JpegTurboDecoder giantFull;
    ASSERT_TRUE(giantFull.Load(folder + "/sharp_giant-image_20000x14000.jpg", 1920, 1080, true));
    EXPECT_EQ(giantFull.GetWidth(), 2500u);
}

TEST(JpegTurboDecoder, DamagedAndUnsupportedFilesFailCleanly) {
    SKIP_WITHOUT_SAMPLES();
    SettingsGuard guard;
    platform::GlobalSettings().jpegFullDecode = false;
    const std::string folder = (testing_support::SamplesDir() / "jpeg").string();
    // 12-bit and lossless JPEG are outside this library build; a broken header is refused.
    for (const char* name :
         {"ljt_monkey12_12bit.jpg", "sharp_testimgl_lossless.jpg", "sharp_corrupt-header.jpg"}) {
        SCOPED_TRACE(name);
        JpegTurboDecoder decoder;
        EXPECT_FALSE(decoder.LoadPath(folder + "/" + name));
        EXPECT_EQ(decoder.GetPixels(), nullptr);
        EXPECT_EQ(decoder.GetWidth(), 0u);
    }
    JpegTurboDecoder missing;
    EXPECT_FALSE(missing.LoadPath(folder + "/no-such-file.jpg"));
    testing_support::TemporaryDirectory temporary;
    EXPECT_FALSE(missing.LoadPath(temporary.Write("empty.jpg", std::vector<uint8_t>{})));
    EXPECT_FALSE(missing.LoadPath(temporary.Path().string()));
}

TEST(JpegTurboDecoder, TruncatedFilesGiveThePartialImage) {
    SettingsGuard guard;
    platform::GlobalSettings().jpegFullDecode = false;
    // Top half white, bottom half black; cut after 60 % of the file, the top survives and the lost
    // part is filled in by the library (not left as uninitialised memory).
    const std::vector<uint8_t> jpeg = EncodeJpeg(256, 256, [](uint32_t, uint32_t y) {
        return y < 128 ? Flat(255, 255, 255) : testing_support::NoisePixel(y, y);
    });
    const std::vector<uint8_t> truncated(jpeg.begin(),
                                         jpeg.begin() + static_cast<ptrdiff_t>(jpeg.size() * 6 / 10));
    JpegTurboDecoder decoder;
    ASSERT_TRUE(decoder.LoadFromMemory(truncated.data(), truncated.size(), 0, 0, false));
    EXPECT_EQ(decoder.GetWidth(), 256u);
    EXPECT_EQ(decoder.GetHeight(), 256u);
    ExpectBgra(PixelAt(decoder, 10, 10), 255, 255, 255, 4);
    const uint8_t* last = PixelAt(decoder, 255, 255);
    EXPECT_EQ(last[0], last[1]); // grey fill
    EXPECT_EQ(last[3], 255);

    // Only the header left: nothing to show.
    const std::vector<uint8_t> headerOnly(jpeg.begin(), jpeg.begin() + 200);
    EXPECT_FALSE(decoder.LoadFromMemory(headerOnly.data(), headerOnly.size(), 0, 0, false));

    if (testing_support::SamplesDir().empty()) {
        return;
    }
    const std::string folder = (testing_support::SamplesDir() / "jpeg").string();
    for (const char* name : {"sharp_truncated_10000bytes.jpg", "pillow_truncated_jpeg.jpg",
                             "exifsamples_corrupted.jpg", "pillow_truncated_app14.jpg"}) {
        SCOPED_TRACE(name);
        JpegTurboDecoder sample;
        EXPECT_TRUE(sample.Load(folder + "/" + name, 1920, 1080, false));
        EXPECT_NE(sample.GetPixels(), nullptr);
    }
}

TEST(JpegTurboDecoder, HostileHeadersAreRefusedBeforeAllocating) {
    SettingsGuard guard;
    platform::GlobalSettings().jpegFullDecode = false;
    // A real progressive 16 x 16 file whose frame header is rewritten to 65000 x 65000: the full-size
    // coefficient buffers would need gigabytes, so the file is refused even with a small target.
    std::vector<uint8_t> jpeg = EncodeJpeg(
        16, 16, [](uint32_t x, uint32_t) { return Flat(uint8_t(x * 16), 0, 0); },
        testing_support::Progressive(testing_support::JpegOptions(80)));
    for (size_t i = 2; i + 8 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC2) {
            jpeg[i + 5] = 0xFD;
            jpeg[i + 6] = 0xE8;
            jpeg[i + 7] = 0xFD;
            jpeg[i + 8] = 0xE8;
            break;
        }
    }
    JpegTurboDecoder decoder;
    EXPECT_FALSE(decoder.LoadFromMemory(jpeg.data(), jpeg.size(), 100, 100, false));
    EXPECT_FALSE(decoder.LoadFromMemory(jpeg.data(), jpeg.size(), 0, 0, false));
    EXPECT_EQ(decoder.GetPixels(), nullptr);

    // A baseline file rewritten to 20000 x 20000: only the scaled raster is allocated (1/8 gives
    // 2500 x 2500); the full size is over the pixel cap and refused.
    std::vector<uint8_t> baseline = EncodeJpeg(16, 16, [](uint32_t, uint32_t) { return Flat(9, 9, 9); });
    for (size_t i = 2; i + 8 < baseline.size(); ++i) {
        if (baseline[i] == 0xFF && baseline[i + 1] == 0xC0) {
            baseline[i + 5] = 0x4E;
            baseline[i + 6] = 0x20;
            baseline[i + 7] = 0x4E;
            baseline[i + 8] = 0x20;
            break;
        }
    }
    EXPECT_FALSE(decoder.LoadFromMemory(baseline.data(), baseline.size(), 0, 0, false));
    ASSERT_TRUE(decoder.LoadFromMemory(baseline.data(), baseline.size(), 100, 100, false));
    EXPECT_EQ(decoder.GetWidth(), 2500u);
    EXPECT_EQ(decoder.GetSourceWidth(), 20000u);

    // Garbage and near-JPEG bytes.
    const std::vector<std::vector<uint8_t>> garbage = {
        {0xFF, 0xD8},
        {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0x03},
        {0xFF, 0xD8, 0xFF, 0xE2, 0xFF, 0xFF, 'I', 'C', 'C'},
        std::vector<uint8_t>(5000, 0xFF),
        std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + 40),
    };
    for (const std::vector<uint8_t>& bytes : garbage) {
        EXPECT_FALSE(decoder.LoadFromMemory(bytes.data(), bytes.size(), 64, 64, false));
    }
}

} // namespace
} // namespace decode

namespace decode {
namespace {

// Rewrites the size in the first frame header of the given marker.
void SetFrameSize(std::vector<uint8_t>& jpeg, uint8_t frameMarker, uint16_t width, uint16_t height) {
    for (size_t i = 2; i + 8 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == frameMarker) {
            jpeg[i + 5] = static_cast<uint8_t>(height >> 8);
            jpeg[i + 6] = static_cast<uint8_t>(height);
            jpeg[i + 7] = static_cast<uint8_t>(width >> 8);
            jpeg[i + 8] = static_cast<uint8_t>(width);
            return;
        }
    }
    FAIL() << "no frame header";
}

TEST(JpegTurboDecoder, WorkIsBoundedForTinyFilesDeclaringHugeImages) {
    SettingsGuard guard;
    platform::GlobalSettings().jpegFullDecode = false;
    const auto pattern = [](uint32_t x, uint32_t y) { return Rgb{uint8_t(x * 4), uint8_t(y * 4), 90}; };

    // Arithmetic coding: the decoder would decode zeros block by block for the whole declared frame.
    setenv("TJ_ARITHMETIC", "1", 1);
    std::vector<uint8_t> arithmetic = EncodeJpeg(64, 64, pattern, testing_support::JpegOptions(80));
    unsetenv("TJ_ARITHMETIC");
    JpegTurboDecoder decoder;
    ASSERT_TRUE(decoder.LoadFromMemory(arithmetic.data(), arithmetic.size(), 32, 32, false));
    EXPECT_EQ(decoder.GetWidth(), 32u);
    SetFrameSize(arithmetic, 0xC9, 51480, 20479);
    EXPECT_FALSE(decoder.LoadFromMemory(arithmetic.data(), arithmetic.size(), 64, 48, false));

    // A progressive greyscale frame of 16000 x 16000 fits the coefficient budget, but 300 extra
    // (empty) scans over it would each visit all four million blocks.
    std::vector<uint8_t> progressive = EncodeJpeg(
        64, 64, pattern,
        testing_support::Progressive(testing_support::JpegOptions(80, testing_support::JpegChroma::Gray)));
    ASSERT_TRUE(decoder.LoadFromMemory(progressive.data(), progressive.size(), 0, 0, false));
    const std::vector<uint8_t> refinementScan = {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01,
                                                 0x00, 0x00, 0x00, 0x10, 0x00};
    std::vector<uint8_t> manyScans(progressive.begin(), progressive.end() - 2);
    for (int i = 0; i < 300; ++i) {
        manyScans.insert(manyScans.end(), refinementScan.begin(), refinementScan.end());
    }
    manyScans.insert(manyScans.end(), {0xFF, 0xD9});
    SetFrameSize(manyScans, 0xC2, 16000, 16000);
    EXPECT_FALSE(decoder.LoadFromMemory(manyScans.data(), manyScans.size(), 64, 64, false));
    EXPECT_EQ(decoder.GetPixels(), nullptr);
}

TEST(JpegTurboDecoder, TheSecondChanceDecoderKeepsTheWorkLimits) {
    SettingsGuard guard;
    platform::GlobalSettings().jpegFullDecode = false;
    const auto pattern = [](uint32_t x, uint32_t y) { return Rgb{uint8_t(x * 4), uint8_t(y * 4), 90}; };
    // Both declare 16000 x 16000, within the raster cap of the WIC-format readers, which the ".jpg"
    // files below are handed to when the JPEG decoder refuses them.
    std::vector<uint8_t> colour = EncodeJpeg(
        16, 16, pattern,
        testing_support::Progressive(testing_support::JpegOptions(80, testing_support::JpegChroma::Full444)));
    SetFrameSize(colour, 0xC2, 16000, 16000); // 1.5 GiB of coefficients
    std::vector<uint8_t> gray = EncodeJpeg(
        64, 64, pattern,
        testing_support::Progressive(testing_support::JpegOptions(80, testing_support::JpegChroma::Gray)));
    const std::vector<uint8_t> refinementScan = {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01,
                                                 0x00, 0x00, 0x00, 0x10, 0x00};
    std::vector<uint8_t> manyScans(gray.begin(), gray.end() - 2);
    for (int i = 0; i < 300; ++i) {
        manyScans.insert(manyScans.end(), refinementScan.begin(), refinementScan.end());
    }
    manyScans.insert(manyScans.end(), {0xFF, 0xD9});
    SetFrameSize(manyScans, 0xC2, 16000, 16000); // 300 scans over four million blocks

    testing_support::TemporaryDirectory folder;
    for (const auto& [name, bytes] : {std::pair{"colour.jpg", &colour}, std::pair{"scans.jpg", &manyScans}}) {
        SCOPED_TRACE(name);
        WicDecoder wic;
        EXPECT_FALSE(wic.LoadFromMemory(bytes->data(), bytes->size(), 64, 64, false));
        DecodedImage image;
        EXPECT_FALSE(LoadImageFile(folder.Write(name, *bytes), 64, 64, false, image));
        EXPECT_FALSE(IsValidImage(image));
    }
}

} // namespace
} // namespace decode
