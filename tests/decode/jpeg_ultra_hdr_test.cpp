#include "decode/jpeg_turbo_decoder.h"
#include "decode/ultra_hdr.h"
#include "platform/settings.h"
#include "tests/support/jpeg_writer.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace decode {
namespace {

using testing_support::BuildGainMapJpeg;
using testing_support::EncodeJpeg;

bool SampleIsUltraHdr(const std::string& name) {
    const std::vector<uint8_t> bytes =
        testing_support::ReadFileBytes(testing_support::SamplesDir() / "jpeg" / name);
    return IsUltraHdrImage(bytes.data(), bytes.size());
}

// A noisy primary image of `side` x `side` pixels, big enough in bytes for the gain-map path when
// `side` is 1024, with a small gain map behind it.
std::vector<uint8_t> GainMapFile(uint32_t side, bool gainMapXmp) {
    const std::vector<uint8_t> primary =
        EncodeJpeg(side, side, testing_support::NoisePixel,
                   testing_support::JpegOptions(100, testing_support::JpegChroma::Full444));
    const std::vector<uint8_t> gainMap = EncodeJpeg(
        side / 4, side / 4,
        [](uint32_t, uint32_t) {
            return testing_support::Rgb{90, 90, 90};
        },
        testing_support::JpegOptions(85, testing_support::JpegChroma::Gray));
    return BuildGainMapJpeg(primary, gainMap, gainMapXmp);
}

TEST(UltraHdr, DetectsGainMapFilesByMpfAndXmp) {
    const std::vector<uint8_t> file = GainMapFile(64, true);
    EXPECT_TRUE(IsUltraHdrImage(file.data(), file.size()));
    const std::vector<uint8_t> withoutXmp = GainMapFile(64, false);
    EXPECT_FALSE(IsUltraHdrImage(withoutXmp.data(), withoutXmp.size()));
    // The secondary image must lie inside the file.
    const std::vector<uint8_t> cut(file.begin(), file.end() - 10);
    EXPECT_FALSE(IsUltraHdrImage(cut.data(), cut.size()));
    // XMP alone, without an MPF index.
    const std::vector<uint8_t> xmpOnly = EncodeJpeg(
        16, 16, [](uint32_t, uint32_t) { return testing_support::Rgb{}; },
        testing_support::WithSegments(testing_support::JpegOptions(90),
                                      {testing_support::GainMapXmpSegment()}));
    EXPECT_FALSE(IsUltraHdrImage(xmpOnly.data(), xmpOnly.size()));
    EXPECT_FALSE(IsUltraHdrImage(nullptr, 100));
    // Every prefix is read safely.
    for (size_t length = 0; length < 400 && length < file.size(); ++length) {
        IsUltraHdrImage(file.data(), length);
    }

    if (testing_support::SamplesDir().empty()) {
        return;
    }
    // This copy of a Pixel 6 photo was cut short: its index points past the end, at a gain map that is gone.
    EXPECT_FALSE(SampleIsUltraHdr("pillow_ultrahdr_pixel6.jpg"));
    EXPECT_TRUE(SampleIsUltraHdr("sharp_gain-map_ultrahdr_3840x2160.jpg"));
    EXPECT_TRUE(SampleIsUltraHdr("libavif_paris_gainmap_littleendian.jpg"));
    EXPECT_TRUE(SampleIsUltraHdr("libavif_paris_gainmap_gcontainer_bigendian.jpg"));
    EXPECT_TRUE(SampleIsUltraHdr("libavif_seine_sdr_gainmap_adobe.jpg"));
    // Apple's gain map uses its own XMP, a stereo MPO has no gain-map XMP, a plain photo neither.
    EXPECT_FALSE(SampleIsUltraHdr("libavif_apple_gainmap_new.jpg"));
    EXPECT_FALSE(SampleIsUltraHdr("pillow_sugarshack.mpo"));
    EXPECT_FALSE(SampleIsUltraHdr("exif_orientation/Landscape_1.jpg"));
}

TEST(UltraHdr, LargeGainMapFilesDecodeTheirPrimaryImageScaledToTheTarget) {
    const platform::Settings saved = platform::GlobalSettings();
    platform::Settings& settings = platform::GlobalSettings();
    settings.jpegFullDecode = false;
    settings.colorManagement = 0;
    testing_support::TemporaryDirectory folder;
    const std::vector<uint8_t> large = GainMapFile(1024, true);
    ASSERT_GE(large.size(), kUltraHdrMinimumFileSize);
    const std::string largePath = folder.Write("large.jpg", large);

    settings.ultraHdrDecode = true;
    JpegTurboDecoder fitted;
    ASSERT_TRUE(fitted.Load(largePath, 256, 256, false));
    EXPECT_TRUE(fitted.IsUltraHdrDecode());
    EXPECT_EQ(fitted.GetWidth(), 256u); // DCT scaling to the target, like any JPEG
    EXPECT_EQ(fitted.GetSourceWidth(), 1024u);
    JpegTurboDecoder decoder;
    ASSERT_TRUE(decoder.Load(largePath, 0, 0, false));
    EXPECT_TRUE(decoder.IsUltraHdrDecode());
    EXPECT_EQ(decoder.GetWidth(), 1024u);
    const testing_support::Rgb expected = testing_support::NoisePixel(7, 9);
    const uint8_t* pixel = decoder.GetPixels() + 9 * decoder.GetStride() + 7 * 4;
    EXPECT_NEAR(pixel[2], expected.red, 24);
    EXPECT_NEAR(pixel[1], expected.green, 24);
    EXPECT_NEAR(pixel[0], expected.blue, 24);

    // Memory loads never take the gain-map path.
    JpegTurboDecoder fromMemory;
    ASSERT_TRUE(fromMemory.LoadFromMemory(large.data(), large.size(), 256, 256, false));
    EXPECT_FALSE(fromMemory.IsUltraHdrDecode());
    EXPECT_EQ(fromMemory.GetWidth(), 256u);

    settings.ultraHdrDecode = false;
    JpegTurboDecoder switchedOff;
    ASSERT_TRUE(switchedOff.Load(largePath, 256, 256, false));
    EXPECT_FALSE(switchedOff.IsUltraHdrDecode());
    EXPECT_EQ(switchedOff.GetWidth(), 256u);

    // Below the size floor: the ordinary scaled decode.
    settings.ultraHdrDecode = true;
    const std::vector<uint8_t> small = GainMapFile(384, true);
    ASSERT_LT(small.size(), kUltraHdrMinimumFileSize);
    ASSERT_TRUE(IsUltraHdrImage(small.data(), small.size()));
    JpegTurboDecoder smallDecoder;
    ASSERT_TRUE(smallDecoder.Load(folder.Write("small.jpg", small), 96, 96, false));
    EXPECT_FALSE(smallDecoder.IsUltraHdrDecode());
    EXPECT_EQ(smallDecoder.GetWidth(), 96u);

    // A large file whose primary image is damaged falls back to the ordinary decode, which fails too.
    std::vector<uint8_t> damaged = large;
    for (size_t i = 0; i + 1 < damaged.size(); ++i) {
        if (damaged[i] == 0xFF && damaged[i + 1] == 0xC0) {
            damaged[i + 1] = 0xC3; // lossless frame: unsupported
            break;
        }
    }
    JpegTurboDecoder damagedDecoder;
    EXPECT_FALSE(damagedDecoder.Load(folder.Write("damaged.jpg", damaged), 256, 256, false));
    EXPECT_FALSE(damagedDecoder.IsUltraHdrDecode());
    EXPECT_EQ(damagedDecoder.GetPixels(), nullptr);

    if (!testing_support::SamplesDir().empty()) {
        // The real 3840 x 2160 gain-map photo is 1.2 MB: below the floor, so it is decoded scaled.
        JpegTurboDecoder real;
        ASSERT_TRUE(real.Load(
            (testing_support::SamplesDir() / "jpeg" / "sharp_gain-map_ultrahdr_3840x2160.jpg").string(), 1920,
            1080, false));
        EXPECT_FALSE(real.IsUltraHdrDecode());
        EXPECT_EQ(real.GetWidth(), 1920u);
        EXPECT_EQ(real.GetHeight(), 1080u);
    }
    platform::GlobalSettings() = saved;
}

} // namespace
} // namespace decode
