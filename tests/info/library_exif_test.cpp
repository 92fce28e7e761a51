// EXIF of HEIF, AVIF and JPEG XL files, read through their containers; their orientation tag is shown
// but never turns the picture, which the decoders deliver upright.
#include "info/exif_orientation.h"
#include "info/metadata_reader.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

TEST(LibraryContainerExif, IsReadButItsOrientationNeverTurnsThePictureAgain) {
    SKIP_WITHOUT_SAMPLES();
    struct Case {
        const char* path;
        info::ContainerFormat format;
        bool hasExif;
    };
    const Case cases[] = {
        {"heif/exifsamples_iphone_13_pro_max.HEIC", info::ContainerFormat::Heif, true},
        {"heif/exifsamples_IMG_5195_iphone.HEIC", info::ContainerFormat::Heif, true},
        {"avif/libavif_paris_icc_exif_xmp.avif", info::ContainerFormat::Heif, true},
        {"heif/libheif_rainbow-451x461.heic", info::ContainerFormat::Heif, false},
        {"jxl/conformance_patches.jxl", info::ContainerFormat::JpegXl, true},
        {"jxl/conformance_sunset_logo.jxl", info::ContainerFormat::JpegXl, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const std::string path = (testing_support::SamplesDir() / c.path).string();
        info::MetadataReader reader;
        ASSERT_TRUE(reader.OpenFile(path));
        EXPECT_EQ(reader.Format(), c.format);
        EXPECT_EQ(reader.FrameCount(), 1u);
        // Every EXIF block of these files names its camera, software or resolution unit in IFD0, or an
        // orientation.
        const bool anyTag = !reader.Query("/app1/ifd/{ushort=274}").IsEmpty() ||
                            !reader.Query("/app1/ifd/{ushort=271}").IsEmpty() ||
                            !reader.Query("/app1/ifd/{ushort=305}").IsEmpty() ||
                            !reader.Query("/app1/ifd/{ushort=296}").IsEmpty() ||
                            !reader.Query("/app1/ifd/exif/{ushort=36867}").IsEmpty();
        EXPECT_EQ(anyTag, c.hasExif);
        EXPECT_EQ(info::ReadExifOrientation(path), 1u);
        const std::vector<uint8_t> bytes = testing_support::ReadFileBytes(path);
        EXPECT_EQ(info::ReadExifOrientation(bytes.data(), bytes.size()), 1u);
    }
    info::MetadataReader iphone;
    ASSERT_TRUE(iphone.OpenFile(
        (testing_support::SamplesDir() / "heif/exifsamples_iphone_13_pro_max.HEIC").string()));
    EXPECT_EQ(iphone.Query("/app1/ifd/{ushort=271}").AsString().value_or(""), "Apple");
}

} // namespace
