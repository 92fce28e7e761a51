#include "decode/format_registry.h"
#include "decode/jpeg_turbo_decoder.h"
#include "decode/wic_decoder.h"

#include "tests/support/png_writer.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

using decode::ExtensionFamily;

TEST(ExtensionSets, HoldTheirFixedMembers) {
    const std::pair<ExtensionFamily, size_t> counts[] = {
        {ExtensionFamily::Wic, 12},     {ExtensionFamily::Jpeg, 7},     {ExtensionFamily::Raw, 41},
        {ExtensionFamily::WebP, 1},     {ExtensionFamily::Photoshop, 2}, {ExtensionFamily::Bpg, 1},
        {ExtensionFamily::OpenExr, 1},  {ExtensionFamily::Jpeg2000, 5}, {ExtensionFamily::Pdf, 1},
        {ExtensionFamily::HeifAvif, 7}, {ExtensionFamily::Svg, 2},      {ExtensionFamily::JpegXl, 1},
        {ExtensionFamily::Archives, 24},
    };
    for (const auto& [family, count] : counts) {
        EXPECT_EQ(decode::ExtensionsOf(family).size(), count) << static_cast<int>(family);
    }
    EXPECT_TRUE(decode::ExtensionsOf(ExtensionFamily::Raw).contains("ia"));
    for (int i = 0; i < decode::kExtensionFamilyCount; ++i) {
        EXPECT_FALSE(decode::ExtensionsOf(static_cast<ExtensionFamily>(i)).contains("j2c"));
    }
}

TEST(GetLowerExtension, TakesTheTextAfterTheLastDot) {
    EXPECT_EQ(decode::GetLowerExtension("/photos/IMG_0001.JPG"), "jpg");
    EXPECT_EQ(decode::GetLowerExtension("archive.tar.gz"), "gz");
    EXPECT_EQ(decode::GetLowerExtension("/photos/noext"), "");
    EXPECT_EQ(decode::GetLowerExtension("ends.with."), "");
    EXPECT_EQ(decode::GetLowerExtension("/photos.old/readme"), "old/readme") << "separators are not special";
    EXPECT_EQ(decode::GetLowerExtension("사진.ÄVIF"), "ävif");
}

TEST(ExtensionTests, ClassifyImagesArchivesAndDocuments) {
    for (const char* ext : {"jpg", "png", "cr3", "ia", "webp", "psb", "bpg", "exr", "jpm", "heic", "svgz", "jxl"}) {
        EXPECT_TRUE(decode::IsImageExtension(ext)) << ext;
    }
    for (const char* ext : {"JPG", "pdf", "zip", "txt", "", "j2c"}) {
        EXPECT_FALSE(decode::IsImageExtension(ext)) << ext;
    }
    EXPECT_TRUE(decode::IsArchiveExtension("CBZ"));
    EXPECT_TRUE(decode::IsArchiveExtension("egg"));
    EXPECT_FALSE(decode::IsArchiveExtension("pdf"));
    EXPECT_TRUE(decode::IsPdfExtension("PDF"));
    EXPECT_FALSE(decode::IsPdfExtension("zip"));
}

TEST(CreateDecoder, UnclaimedExtensionsGetTheWicDecoder) {
    for (const char* path : {"/a/b.tif", "/a/noext", "/a/b.", "/a/b.j2c", "/a/b.xyz", "/photos.old/readme"}) {
        const auto decoder = decode::CreateDecoder(path);
        ASSERT_NE(decoder, nullptr) << path;
        EXPECT_NE(dynamic_cast<decode::WicDecoder*>(decoder.get()), nullptr) << path;
        EXPECT_EQ(decoder->GetPixels(), nullptr);
        EXPECT_EQ(decoder->GetWidth(), 0u);
    }
}

TEST(LoadImageFile, RefusesContainersWithoutTouchingTheFileSystem) {
    testing_support::TemporaryDirectory folder;
    const std::string archive = folder.Write("book.zip", std::string("PK\x03\x04"));
    for (const std::string& path : {archive + "::dir/a.png", archive, folder.File("doc.PDF"),
                                   folder.File("missing.cbz"), std::string("/nonexistent::x.jpg")}) {
        decode::DecodedImage image;
        EXPECT_FALSE(decode::LoadImageFile(path, 0, 0, false, image)) << path;
        EXPECT_FALSE(decode::IsValidImage(image));
    }
}

TEST(LoadImageFile, FailsCleanlyOnMissingEmptyAndGarbageFiles) {
    testing_support::TemporaryDirectory folder;
    const std::string empty = folder.Write("empty.png", std::string());
    const std::string garbage = folder.Write("garbage.jpg", std::string(4096, '\x42'));
    for (const std::string& path : {folder.File("missing.png"), empty, garbage, folder.Path().string()}) {
        decode::DecodedImage image;
        image.orientation = 6;
        EXPECT_FALSE(decode::LoadImageFile(path, 1920, 1080, false, image)) << path;
        EXPECT_EQ(image.orientation, 6u);
    }
}

TEST(CreateDecoder, JpegSetGetsTheJpegDecoderWhateverTheCase) {
    for (const char* path : {"/a/b.JPG", "/a/b.jpeg", "/a/b.jfif", "/a/b.jiff"}) {
        EXPECT_NE(dynamic_cast<decode::JpegTurboDecoder*>(decode::CreateDecoder(path).get()), nullptr) << path;
    }
}

TEST(LoadImageFile, RetriesWithTheWicDecoderOnlyForTheListedExtensions) {
    // A PNG under JPEG names: the JPEG library refuses it, and only some names earn the second chance.
    testing_support::TemporaryDirectory folder;
    const std::vector<uint8_t> png = testing_support::EncodeRgbaPng(6, 4, std::vector<uint8_t>(6 * 4 * 4, 200));
    ASSERT_FALSE(png.empty());
    for (const char* name : {"retried.jpeg", "retried.JPG"}) {
        decode::DecodedImage image;
        EXPECT_TRUE(decode::LoadImageFile(folder.Write(name, png), 0, 0, false, image)) << name;
        EXPECT_EQ(image.width, 6u);
        EXPECT_EQ(image.height, 4u);
    }
    for (const char* name : {"refused.jpe", "refused.jfif"}) {
        decode::DecodedImage image;
        EXPECT_FALSE(decode::LoadImageFile(folder.Write(name, png), 0, 0, false, image)) << name;
    }
    decode::DecodedImage unknown;
    EXPECT_TRUE(decode::LoadImageFile(folder.Write("by-content.xyz", png), 0, 0, false, unknown))
        << "unclaimed extensions reach the WIC decoder, which reads by content";
}

} // namespace
