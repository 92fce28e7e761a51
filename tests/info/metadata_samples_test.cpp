#include "info/exif_orientation.h"
#include "info/metadata_reader.h"
#include "tests/support/test_support.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

using info::ContainerFormat;
using info::MetadataReader;

std::string Sample(const std::string& relative) {
    return (testing_support::SamplesDir() / relative).string();
}

MetadataReader OpenSample(const std::string& relative) {
    MetadataReader reader;
    EXPECT_TRUE(reader.OpenFile(Sample(relative))) << relative;
    return reader;
}

TEST(MetadataSamples, OrientationOfCameraAndConverterFiles) {
    SKIP_WITHOUT_SAMPLES();
    for (int code = 0; code <= 8; ++code) {
        const std::string name = "jpeg/exif_orientation/Landscape_" + std::to_string(code) + ".jpg";
        const uint32_t expected = code == 0 ? 1u : static_cast<uint32_t>(code);
        EXPECT_EQ(info::ReadExifOrientation(Sample(name)), expected) << name;
        const std::vector<uint8_t> bytes = testing_support::ReadFileBytes(Sample(name));
        EXPECT_EQ(info::ReadExifOrientation(bytes.data(), bytes.size()), expected) << name;
    }
    for (int code = 5; code <= 8; ++code) {
        const std::string name = "jpeg/exif_orientation/Portrait_" + std::to_string(code) + ".jpg";
        EXPECT_EQ(info::ReadExifOrientation(Sample(name)), static_cast<uint32_t>(code)) << name;
    }
    // The stored code 0 is still reported by the reader; only the orientation helper maps it to 1.
    EXPECT_EQ(OpenSample("jpeg/exif_orientation/Landscape_0.jpg")
                  .QueryFrame(0, "/app1/ifd/{ushort=274}")
                  .AsUInt16(),
              0);
    EXPECT_EQ(info::ReadExifOrientation(Sample("jpeg/libavif_paris_exif_orientation_5.jpg")), 5u);
    EXPECT_EQ(info::ReadExifOrientation(Sample("jpeg/pillow_orientation_rectangle.jpg")), 8u);
    EXPECT_EQ(info::ReadExifOrientation(Sample("webp/pillow_orientation_3.webp")), 3u);
    EXPECT_EQ(info::ReadExifOrientation(Sample("webp/pillow_orientation_6.webp")), 6u);
    EXPECT_EQ(info::ReadExifOrientation(Sample("tiff/pillow_g4_orientation_6.tif")), 6u);
    EXPECT_EQ(OpenSample("png/pillow_exif_chunk.png").QueryFrame(0, "/app1/ifd/{ushort=274}").AsUInt16(), 1);
    EXPECT_EQ(info::ReadExifOrientation(Sample("gif/pillow_dispose_bgnd.gif")), 1u);
    EXPECT_EQ(info::ReadExifOrientation(Sample("jpeg/sharp_corrupt-header.jpg")), 1u);
    EXPECT_EQ(info::ReadExifOrientation(Sample("bmp/bmpsuite_b_shortfile.bmp")), 1u);
}

TEST(MetadataSamples, ExifOfRealJpegFiles) {
    SKIP_WITHOUT_SAMPLES();
    // Two APP1 "Exif" segments. The first declares 12 bytes of description of which only "first" lies
    // inside the segment: the value is refused rather than read on into the next segment.
    const MetadataReader twice = OpenSample("jpeg/pillow_multiple_exif.jpg");
    EXPECT_EQ(twice.Format(), ContainerFormat::Jpeg);
    EXPECT_TRUE(twice.Query("/app1/ifd/{ushort=270}").IsEmpty());

    const MetadataReader gps = OpenSample("jpeg/pillow_exif_gps.jpg");
    EXPECT_EQ(gps.QueryFrame(0, "/app1/ifd/{ushort=271}").AsString(), "Make");
    EXPECT_EQ(gps.QueryFrame(0, "/app1/ifd/{ushort=272}").AsString(), "XXX-XXX");
    EXPECT_FALSE(gps.QueryFrame(0, "/app1/ifd/gps/{ushort=2}").IsEmpty());

    const MetadataReader phone = OpenSample("jpeg/exifsamples_iphone_hdr_YES.jpg");
    EXPECT_EQ(phone.QueryFrame(0, "/app1/ifd/{ushort=271}").AsString(), "Apple");
    EXPECT_EQ(phone.QueryFrame(0, "/app1/ifd/{ushort=274}").AsUInt16(), 1);
    EXPECT_TRUE(phone.QueryFrame(0, "/app1/ifd/exif/{ushort=33434}").AsURational());
    EXPECT_TRUE(phone.QueryFrame(0, "/app1/ifd/exif/{ushort=36867}").AsString());
}

TEST(MetadataSamples, AnimationQueriesOfRealGifApngAndWebP) {
    SKIP_WITHOUT_SAMPLES();
    const MetadataReader dispose = OpenSample("gif/pillow_dispose_bgnd.gif");
    EXPECT_EQ(dispose.Query("/logscrdesc/Width").AsUInt16(), 100);
    ASSERT_EQ(dispose.FrameCount(), 5u);
    EXPECT_EQ(dispose.QueryFrame(1, "/grctlext/Disposal").AsUInt8(), 2);
    EXPECT_EQ(dispose.QueryFrame(1, "/grctlext/Delay").AsUInt16(), 100);
    EXPECT_EQ(dispose.QueryFrame(1, "/imgdesc/Left").AsUInt16(), 5);
    EXPECT_EQ(dispose.QueryFrame(1, "/imgdesc/Top").AsUInt16(), 10);

    const MetadataReader real = OpenSample("gif/pillow_iss634_42frames.gif");
    ASSERT_EQ(real.FrameCount(), 42u);
    EXPECT_EQ(real.QueryFrame(0, "/grctlext/Delay").AsUInt16(), 0);
    EXPECT_EQ(real.QueryFrame(1, "/grctlext/Delay").AsUInt16(), 7);
    EXPECT_EQ(OpenSample("gif/pillow_zero_width.gif").Query("/logscrdesc/Width").AsUInt16(), 0);
    EXPECT_EQ(OpenSample("gif/pillow_test_extents.gif").QueryFrame(1, "/imgdesc/Left").AsUInt16(), 50);

    const MetadataReader delays = OpenSample("png/apng/pillow_delay.png");
    ASSERT_EQ(delays.FrameCount(), 4u);
    const uint32_t expected[] = {500, 1000, 500, 1000};
    for (uint32_t frame = 0; frame < 4; ++frame) {
        EXPECT_EQ(delays.QueryFrame(frame, "/fcTL/FrameDelay").AsUInt32(), expected[frame]) << frame;
    }
    const MetadataReader late = OpenSample("png/apng/pillow_chunk_actl_after_idat.png");
    EXPECT_EQ(late.FrameCount(), 1u);
    EXPECT_TRUE(late.Query("/acTL/NumFrames").IsEmpty());
    const MetadataReader high = OpenSample("png/apng/pillow_syntax_num_frames_high.png");
    EXPECT_EQ(high.Query("/acTL/NumFrames").AsUInt32(), 3u);
    EXPECT_EQ(high.FrameCount(), 2u);

    const MetadataReader squares = OpenSample("webp/sharp_rotating-squares.webp");
    ASSERT_EQ(squares.FrameCount(), 9u);
    EXPECT_EQ(squares.QueryFrame(0, "/ANMF/Duration").AsUInt32(), 120u);
    EXPECT_EQ(squares.QueryFrame(2, "/ANMF/Duration").AsUInt32(), 90u);
    const MetadataReader loop = OpenSample("webp/sharp_animated-loop-3.webp");
    EXPECT_EQ(loop.Query("/ANIM/LoopCount").AsUInt16(), 3);
    EXPECT_EQ(loop.FrameCount(), 10u);
    EXPECT_EQ(OpenSample("webp/sharp_big-height_anim_97frames.webp").FrameCount(), 97u);
    EXPECT_EQ(OpenSample("webp/libwebp_test.webp").FrameCount(), 1u);
}

TEST(MetadataSamples, TiffPagesOfRealFiles) {
    SKIP_WITHOUT_SAMPLES();
    const MetadataReader pages = OpenSample("tiff/pillow_multipage.tiff");
    EXPECT_EQ(pages.Format(), ContainerFormat::Tiff);
    ASSERT_EQ(pages.FrameCount(), 3u);
    EXPECT_EQ(pages.QueryFrame(2, "/ifd/{ushort=256}").AsUnsigned(), 20u);
    const MetadataReader big = OpenSample("tiff/pillow_hopper_bigtiff.tif");
    EXPECT_EQ(big.QueryFrame(0, "/ifd/{ushort=256}").AsUnsigned(), 128u);
    EXPECT_EQ(OpenSample("tiff/pillow_16bit_MM_bigendian_gray.tif").FrameCount(), 1u);
}

// Every sample, whatever it is, opens or fails, and answers every query without crashing.
TEST(MetadataSamples, EverySampleAnswersEveryQueryCleanly) {
    SKIP_WITHOUT_SAMPLES();
    const char* containerQueries[] = {"/app1/ifd/{ushort=274}",
                                      "/app1/ifd/{ushort=271}",
                                      "/app1/ifd/exif/{ushort=33434}",
                                      "/app1/ifd/exif/{ushort=37380}",
                                      "/app1/ifd/gps/{ushort=2}",
                                      "/app1/thumb/{ushort=513}",
                                      "/logscrdesc/Width",
                                      "/appext/Data",
                                      "/commentext/TextEntry",
                                      "/acTL/NumFrames",
                                      "/ANIM/LoopCount",
                                      "/VP8X/Width"};
    const char* frameQueries[] = {"/app1/ifd/{ushort=274}", "/ifd/{ushort=273}", "/grctlext/Delay",
                                  "/imgdesc/Left",          "/fcTL/FrameDelay",  "/ANMF/Duration"};
    size_t opened = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(testing_support::SamplesDir())) {
        if (!entry.is_regular_file()) {
            continue;
        }
        MetadataReader reader;
        if (!reader.OpenFile(entry.path().string())) {
            continue;
        }
        ++opened;
        for (const char* query : containerQueries) {
            reader.Query(query);
        }
        const uint32_t frames = std::min(reader.FrameCount(), 64u);
        for (uint32_t frame = 0; frame <= frames; ++frame) {
            for (const char* query : frameQueries) {
                reader.QueryFrame(frame, query);
            }
        }
    }
    EXPECT_GT(opened, 100u);
}

} // namespace
