#include "info/exif_orientation.h"
#include "info/metadata_reader.h"
#include "tests/support/exif_block_builder.h"
#include "tests/support/test_support.h"

#include <cstring>
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <tiffio.h>
#include <zlib.h>

namespace {

using info::ContainerFormat;
using info::MetadataReader;
using info::MetadataValue;
using testing_support::ExifBlockBuilder;
using Type = MetadataValue::Type;

// A camera-like EXIF block: the values the information panel and the orientation read.
std::vector<uint8_t> CameraExif(bool bigEndian, uint16_t orientation = 6) {
    ExifBlockBuilder exif(bigEndian);
    exif.Ascii(ExifBlockBuilder::Ifd0, 271, "Canon");
    exif.Ascii(ExifBlockBuilder::Ifd0, 272, "EOS 5D");
    exif.Short(ExifBlockBuilder::Ifd0, 274, {orientation});
    exif.Ascii(ExifBlockBuilder::Ifd0, 305, "Skimora test 1.0");
    exif.Short(ExifBlockBuilder::Ifd0, 258, {8, 8, 8});
    // "XPTitle" in UTF-16LE whatever the byte order: "사진".
    exif.Bytes(ExifBlockBuilder::Ifd0, 0x9C9B, 1, {0xAC, 0xC0, 0xC4, 0xC9, 0, 0});
    exif.Rational(ExifBlockBuilder::Exif, 33434, {{1, 250}});
    exif.Rational(ExifBlockBuilder::Exif, 33437, {{28, 10}});
    exif.Short(ExifBlockBuilder::Exif, 34855, {400});
    exif.Ascii(ExifBlockBuilder::Exif, 36867, "2024:05:01 12:34:56");
    exif.SRational(ExifBlockBuilder::Exif, 37380, {{-2, 3}});
    exif.Short(ExifBlockBuilder::Exif, 37383, {5});
    exif.Short(ExifBlockBuilder::Exif, 37385, {1});
    exif.Rational(ExifBlockBuilder::Exif, 37386, {{50, 1}});
    exif.Short(ExifBlockBuilder::Exif, 40961, {65535});
    exif.Short(ExifBlockBuilder::Exif, 41987, {0});
    exif.Short(ExifBlockBuilder::Exif, 41989, {75});
    exif.Ascii(ExifBlockBuilder::Exif, 42036, "EF50mm f/1.8");
    exif.Bytes(ExifBlockBuilder::Exif, 36864, 7, {'0', '2', '3', '2'});
    exif.Ascii(ExifBlockBuilder::Interop, 1, "R98");
    exif.Ascii(ExifBlockBuilder::Gps, 1, "N");
    exif.Rational(ExifBlockBuilder::Gps, 2, {{37, 1}, {33, 1}, {594, 10}});
    exif.Ascii(ExifBlockBuilder::Gps, 3, "E");
    exif.Rational(ExifBlockBuilder::Gps, 4, {{126, 1}, {58, 1}, {0, 0}});
    exif.Rational(ExifBlockBuilder::Gps, 6, {{381, 10}});
    exif.Short(ExifBlockBuilder::Ifd1, 259, {6});
    return exif.Build();
}

void ExpectCameraValues(const MetadataReader& reader, const std::string& label) {
    SCOPED_TRACE(label);
    EXPECT_EQ(reader.QueryFrame(0, "/app1/ifd/{ushort=271}").AsString(), "Canon");
    EXPECT_EQ(reader.QueryFrame(0, "/app1/ifd/{ushort=272}").AsString(), "EOS 5D");
    EXPECT_EQ(reader.QueryFrame(0, "/app1/ifd/{ushort=274}").AsUInt16(), 6);
    EXPECT_EQ(reader.QueryFrame(0, "/app1/ifd/{ushort=305}").AsString(), "Skimora test 1.0");
    const MetadataValue bits = reader.QueryFrame(0, "/app1/ifd/{ushort=258}");
    EXPECT_EQ(bits.GetType(), Type::UInt16Vector);
    EXPECT_EQ(bits.UnsignedElements(), (std::vector<uint64_t>{8, 8, 8}));
    const MetadataValue title = reader.QueryFrame(0, "/app1/ifd/{ushort=40091}");
    EXPECT_EQ(title.GetType(), Type::Utf16);
    EXPECT_EQ(title.AsString(), "사진");

    const MetadataValue exposure = reader.QueryFrame(0, "/app1/ifd/exif/{ushort=33434}");
    ASSERT_TRUE(exposure.AsURational());
    EXPECT_EQ(exposure.AsURational()->numerator, 1u);
    EXPECT_EQ(exposure.AsURational()->denominator, 250u);
    EXPECT_EQ(reader.QueryFrame(0, "/app1/ifd/exif/{ushort=33437}").AsURational()->numerator, 28u);
    EXPECT_EQ(reader.QueryFrame(0, "/app1/ifd/exif/{ushort=34855}").AsUInt16(), 400);
    EXPECT_EQ(reader.QueryFrame(0, "/app1/ifd/exif/{ushort=36867}").AsString(), "2024:05:01 12:34:56");
    const auto bias = reader.QueryFrame(0, "/app1/ifd/exif/{ushort=37380}").AsSRational();
    ASSERT_TRUE(bias);
    EXPECT_EQ(bias->numerator, -2);
    EXPECT_EQ(bias->denominator, 3);
    EXPECT_EQ(reader.QueryFrame(0, "/app1/ifd/exif/{ushort=37383}").AsUInt16(), 5);
    EXPECT_EQ(reader.QueryFrame(0, "/app1/ifd/exif/{ushort=37385}").AsUInt16(), 1);
    EXPECT_EQ(reader.QueryFrame(0, "/app1/ifd/exif/{ushort=37386}").AsURational()->numerator, 50u);
    EXPECT_EQ(reader.QueryFrame(0, "/app1/ifd/exif/{ushort=40961}").AsUInt16(), 65535);
    EXPECT_EQ(reader.QueryFrame(0, "/app1/ifd/exif/{ushort=41987}").AsUInt16(), 0);
    EXPECT_EQ(reader.QueryFrame(0, "/app1/ifd/exif/{ushort=41989}").AsUInt16(), 75);
    EXPECT_EQ(reader.QueryFrame(0, "/app1/ifd/exif/{ushort=42036}").AsString(), "EF50mm f/1.8");
    const MetadataValue version = reader.QueryFrame(0, "/app1/ifd/exif/{ushort=36864}");
    EXPECT_EQ(version.GetType(), Type::Blob);
    EXPECT_EQ(version.BlobBytes(), (std::vector<uint8_t>{'0', '2', '3', '2'}));
    EXPECT_EQ(reader.QueryFrame(0, "/app1/ifd/exif/interop/{ushort=1}").AsString(), "R98");

    EXPECT_EQ(reader.QueryFrame(0, "/app1/ifd/gps/{ushort=1}").AsString(), "N");
    const MetadataValue latitude = reader.QueryFrame(0, "/app1/ifd/gps/{ushort=2}");
    EXPECT_EQ(latitude.GetType(), Type::URationalVector);
    ASSERT_EQ(latitude.URationalElements().size(), 3u);
    EXPECT_EQ(latitude.URationalElements()[2].numerator, 594u);
    EXPECT_EQ(latitude.URationalElements()[2].denominator, 10u);
    EXPECT_EQ(reader.QueryFrame(0, "/app1/ifd/gps/{ushort=3}").AsString(), "E");
    EXPECT_EQ(reader.QueryFrame(0, "/app1/ifd/gps/{ushort=4}").URationalElements().size(), 3u);
    EXPECT_EQ(reader.QueryFrame(0, "/app1/ifd/gps/{ushort=6}").AsURational()->numerator, 381u);
    EXPECT_EQ(reader.QueryFrame(0, "/app1/thumb/{ushort=259}").AsUInt16(), 6);

    // The container answers EXIF as frame 0 does; types are exact, absent tags are empty.
    EXPECT_EQ(reader.Query("/app1/ifd/{ushort=274}").AsUInt16(), 6);
    EXPECT_FALSE(reader.QueryFrame(0, "/app1/ifd/{ushort=274}").AsUInt32());
    EXPECT_EQ(reader.QueryFrame(0, "/app1/ifd/{ushort=274}").AsUnsigned(), 6u);
    EXPECT_TRUE(reader.QueryFrame(0, "/app1/ifd/{ushort=306}").IsEmpty());
    EXPECT_TRUE(reader.QueryFrame(0, "/app1/ifd/gps/{ushort=5}").IsEmpty());
    EXPECT_TRUE(reader.QueryFrame(1, "/app1/ifd/{ushort=274}").IsEmpty());
}

TEST(MetadataReader, JpegExifInBothByteOrdersFromBufferAndFile) {
    testing_support::TemporaryDirectory folder;
    for (const bool bigEndian : {false, true}) {
        const std::vector<uint8_t> jpeg = testing_support::JpegWithExif(CameraExif(bigEndian));
        const std::string label = bigEndian ? "big-endian" : "little-endian";
        MetadataReader reader;
        ASSERT_TRUE(reader.Open(jpeg.data(), jpeg.size()));
        EXPECT_EQ(reader.Format(), ContainerFormat::Jpeg);
        EXPECT_EQ(reader.FrameCount(), 1u);
        ExpectCameraValues(reader, label + " buffer");

        const std::string path = folder.Write(label + ".jpg", jpeg);
        MetadataReader fromFile;
        ASSERT_TRUE(fromFile.OpenFile(path));
        ExpectCameraValues(fromFile, label + " file");
    }
}

TEST(MetadataReader, EveryContainerAnswersTheJpegAndItsOwnPathForms) {
    const std::vector<uint8_t> exif = CameraExif(true);
    const std::vector<uint8_t> png = testing_support::PngWithExif(exif);
    MetadataReader reader;
    ASSERT_TRUE(reader.Open(png.data(), png.size()));
    EXPECT_EQ(reader.Format(), ContainerFormat::Png);
    ExpectCameraValues(reader, "png");
    for (const char* path : {"/eXIf/ifd/{ushort=274}", "/ifd/{ushort=274}", "/APP1/IFD/{USHORT=274}",
                             "/app1/ifd/{uint=274}", "/app1/ifd/{ushort=0x112}"}) {
        EXPECT_EQ(reader.QueryFrame(0, path).AsUInt16(), 6) << path;
    }
    // The EXIF pointer followed by number, as a directory.
    EXPECT_EQ(reader.QueryFrame(0, "/app1/ifd/{ushort=34665}/{ushort=34855}").AsUInt16(), 400);
    for (const char* path : {"", "/", "app1/ifd/{ushort=274}", "/app1//{ushort=274}",
                             "/app1/ifd/{ushort=70000}", "/app1/ifd/{ushort=}", "/app1/ifd/{ushort=27x}",
                             "/app1/ifd/exif", "/app1/ifd", "/app1/{ushort=274}", "/app1/ifd/{ushort=274}/",
                             "/app1/ifd/makernote/{ushort=1}", "/logscrdesc/Width", "/fcTL/FrameDelay"}) {
        EXPECT_TRUE(reader.QueryFrame(0, path).IsEmpty()) << path;
    }

    // A bare block, with and without the "Exif\0\0" prefix and behind HEIF's offset field.
    std::vector<uint8_t> prefixed = {'E', 'x', 'i', 'f', 0, 0};
    prefixed.insert(prefixed.end(), exif.begin(), exif.end());
    std::vector<uint8_t> heif = {0, 0, 0, 6, 'E', 'x', 'i', 'f', 0, 0};
    heif.insert(heif.end(), exif.begin(), exif.end());
    for (const std::vector<uint8_t>* block :
         std::vector<const std::vector<uint8_t>*>{&exif, &prefixed, &heif}) {
        MetadataReader bare;
        ASSERT_TRUE(bare.OpenExifBlock(block->data(), block->size()));
        EXPECT_EQ(bare.Format(), ContainerFormat::ExifBlock);
        ExpectCameraValues(bare, "bare block");
    }
    MetadataReader none;
    EXPECT_FALSE(none.OpenExifBlock(png.data(), png.size()));
    EXPECT_FALSE(none.Open(nullptr, 10));
    EXPECT_FALSE(none.OpenFile("/nonexistent/photo.jpg"));
    EXPECT_TRUE(none.QueryFrame(0, "/app1/ifd/{ushort=274}").IsEmpty());
    EXPECT_EQ(none.FrameCount(), 0u);
}

TEST(MetadataReader, ValueTypesFollowTheStoredFieldTypes) {
    for (const bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
        ExifBlockBuilder exif(bigEndian);
        std::vector<uint8_t> sshort(2);
        exif.Put16(sshort, 0, static_cast<uint16_t>(-300));
        exif.Add(ExifBlockBuilder::Ifd0, 1000, 8, 1, sshort);
        std::vector<uint8_t> slong(4);
        exif.Put32(slong, 0, static_cast<uint32_t>(-70000));
        exif.Add(ExifBlockBuilder::Ifd0, 1001, 9, 1, slong);
        std::vector<uint8_t> floats(8);
        uint32_t bits = 0;
        const float half = 0.5f;
        std::memcpy(&bits, &half, 4);
        exif.Put32(floats, 0, bits);
        exif.Put32(floats, 4, bits);
        exif.Add(ExifBlockBuilder::Ifd0, 1002, 11, 2, floats);
        exif.Bytes(ExifBlockBuilder::Ifd0, 1003, 1, {7});
        exif.Bytes(ExifBlockBuilder::Ifd0, 1004, 6, {0xFF, 0x01});
        exif.Long(ExifBlockBuilder::Ifd0, 1005, {4000000000u});
        exif.Long(ExifBlockBuilder::Ifd0, 1006, {1, 2, 3});
        // Latin-1 text (not UTF-8), and text without its terminating NUL.
        exif.Bytes(ExifBlockBuilder::Ifd0, 1007, 2, {'C', 'a', 'f', 0xE9, 0});
        exif.Bytes(ExifBlockBuilder::Ifd0, 1008, 2, {'a', 'b', 'c', 'd', 'e'});
        exif.SRational(ExifBlockBuilder::Ifd0, 1009, {{-1, 2}, {3, -4}});
        exif.Add(ExifBlockBuilder::Ifd0, 1010, 99, 1, {1, 2, 3, 4}); // unknown field type
        exif.Ascii(ExifBlockBuilder::Ifd0, 1011,
                   "Galaxy \xEC\x82\xAC\xEC\xA7\x84 \xEF\xBF\xBD"); // UTF-8 kept
        const std::vector<uint8_t> block = exif.Build();
        MetadataReader reader;
        ASSERT_TRUE(reader.OpenExifBlock(block.data(), block.size()));

        const MetadataValue shortValue = reader.Query("/ifd/{ushort=1000}");
        EXPECT_EQ(shortValue.GetType(), Type::Int16);
        EXPECT_EQ(shortValue.AsSigned(), -300);
        EXPECT_FALSE(shortValue.AsUnsigned());
        EXPECT_EQ(reader.Query("/ifd/{ushort=1001}").AsSigned(), -70000);
        const MetadataValue floatValues = reader.Query("/ifd/{ushort=1002}");
        EXPECT_EQ(floatValues.GetType(), Type::FloatVector);
        EXPECT_EQ(floatValues.RealElements(), (std::vector<double>{0.5, 0.5}));
        EXPECT_EQ(reader.Query("/ifd/{ushort=1003}").AsUInt8(), 7);
        const MetadataValue signedBytes = reader.Query("/ifd/{ushort=1004}");
        EXPECT_EQ(signedBytes.GetType(), Type::Int8Vector);
        EXPECT_EQ(signedBytes.SignedElements(), (std::vector<int64_t>{-1, 1}));
        EXPECT_EQ(reader.Query("/ifd/{ushort=1005}").AsUInt32(), 4000000000u);
        EXPECT_EQ(reader.Query("/ifd/{ushort=1006}").GetType(), Type::UInt32Vector);
        EXPECT_EQ(reader.Query("/ifd/{ushort=1007}").AsString(), "Café");
        EXPECT_EQ(reader.Query("/ifd/{ushort=1008}").AsString(), "abcde");
        const MetadataValue rationals = reader.Query("/ifd/{ushort=1009}");
        EXPECT_EQ(rationals.GetType(), Type::SRationalVector);
        ASSERT_EQ(rationals.SRationalElements().size(), 2u);
        EXPECT_EQ(rationals.SRationalElements()[1].denominator, -4);
        EXPECT_TRUE(reader.Query("/ifd/{ushort=1010}").IsEmpty());
        EXPECT_EQ(reader.Query("/ifd/{ushort=1011}").AsString(), "Galaxy 사진 \uFFFD");
    }
}

TEST(MetadataReader, HostileExifBlocksFailCleanly) {
    ExifBlockBuilder builder(false);
    builder.Short(ExifBlockBuilder::Ifd0, 274, {3});
    builder.Rational(ExifBlockBuilder::Ifd0, 282, {{72, 1}});
    builder.Short(ExifBlockBuilder::Exif, 34855, {100});
    builder.Short(ExifBlockBuilder::Ifd1, 259, {6});
    const std::vector<uint8_t> valid = builder.Build();
    const uint32_t ifd0 = builder.DirectoryOffset(ExifBlockBuilder::Ifd0);
    const uint32_t exifDirectory = builder.DirectoryOffset(ExifBlockBuilder::Exif);
    // Entries of IFD0 are sorted: 274, 282, 34665.
    const size_t resolutionEntry = ifd0 + 2 + 12;
    const size_t exifPointerEntry = ifd0 + 2 + 24;

    const auto orientationOf = [](const std::vector<uint8_t>& block) {
        MetadataReader reader;
        if (!reader.OpenExifBlock(block.data(), block.size())) {
            return MetadataValue();
        }
        return reader.Query("/app1/ifd/{ushort=274}");
    };
    const auto query = [](const std::vector<uint8_t>& block, const char* path) {
        MetadataReader reader;
        EXPECT_TRUE(reader.OpenExifBlock(block.data(), block.size()));
        return reader.Query(path);
    };

    std::vector<uint8_t> block = valid;
    builder.Put32(block, resolutionEntry + 8, 0xFFFFFFF0u); // value far outside
    EXPECT_TRUE(query(block, "/ifd/{ushort=282}").IsEmpty());
    EXPECT_EQ(orientationOf(block).AsUInt16(), 3);

    block = valid;
    builder.Put32(block, resolutionEntry + 4, 0xFFFFFFFFu); // absurd count
    EXPECT_TRUE(query(block, "/ifd/{ushort=282}").IsEmpty());

    block = valid;
    builder.Put32(block, exifPointerEntry + 8, static_cast<uint32_t>(valid.size() + 100));
    EXPECT_TRUE(query(block, "/ifd/exif/{ushort=34855}").IsEmpty());
    EXPECT_EQ(orientationOf(block).AsUInt16(), 3);

    block = valid;
    builder.Put32(block, exifPointerEntry + 8, ifd0); // the EXIF directory is IFD0 itself
    EXPECT_EQ(query(block, "/ifd/exif/exif/exif/exif/{ushort=274}").AsUInt16(), 3);

    block = valid;
    builder.Put32(block, builder.NextPointerPosition(ExifBlockBuilder::Ifd1), ifd0); // IFD1 → IFD0 loop
    EXPECT_EQ(query(block, "/thumb/{ushort=259}").AsUInt16(), 6);

    block = valid;
    builder.Put16(block, ifd0, 65535); // entry count past the end: whole entries are still read
    EXPECT_EQ(orientationOf(block).AsUInt16(), 3);
    EXPECT_TRUE(query(block, "/thumb/{ushort=259}").IsEmpty());

    block = valid;
    builder.Put16(block, exifDirectory, 0); // empty directory
    EXPECT_TRUE(query(block, "/ifd/exif/{ushort=34855}").IsEmpty());

    block = valid;
    builder.Put32(block, 4, 0); // no IFD0
    EXPECT_TRUE(query(block, "/ifd/{ushort=274}").IsEmpty());

    // Every truncation opens or fails, and never reads past its end.
    for (size_t size = 0; size <= valid.size(); ++size) {
        const std::vector<uint8_t> cut(valid.begin(), valid.begin() + static_cast<long>(size));
        const MetadataValue value = orientationOf(cut);
        EXPECT_TRUE(value.IsEmpty() || value.AsUInt16() == 3) << size;
    }
    for (const std::vector<uint8_t>& header : {std::vector<uint8_t>{'I', 'I', 42, 0},
                                               {'X', 'X', 42, 0, 8, 0, 0, 0},
                                               {'I', 'I', 43, 0, 8, 0, 0, 0},
                                               {'M', 'M', 0, 41, 0, 0, 0, 8}}) {
        MetadataReader reader;
        EXPECT_FALSE(reader.OpenExifBlock(header.data(), header.size()));
    }
}

// Writes `pages` pages with libtiff; page i is (i + 1) * 4 pixels wide with orientation i + 1.
std::vector<uint8_t> WriteTiff(const testing_support::TemporaryDirectory& folder, const char* mode,
                               int pages) {
    const std::string path = folder.File(std::string("pages-") + mode + ".tif");
    TIFF* tiff = TIFFOpen(path.c_str(), mode);
    if (tiff == nullptr) {
        return {};
    }
    for (int page = 0; page < pages; ++page) {
        const uint32_t width = static_cast<uint32_t>(page + 1) * 4;
        TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, 2u);
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tiff, TIFFTAG_ORIENTATION, page + 1);
        TIFFSetField(tiff, TIFFTAG_MAKE, "Scanner");
        std::vector<uint8_t> row(width, 0x40);
        for (uint32_t y = 0; y < 2; ++y) {
            TIFFWriteScanline(tiff, row.data(), y, 0);
        }
        TIFFWriteDirectory(tiff);
    }
    TIFFClose(tiff);
    return testing_support::ReadFileBytes(path);
}

TEST(MetadataReader, TiffPagesAreFramesInEveryFlavour) {
    testing_support::TemporaryDirectory folder;
    for (const char* mode : {"wl", "wb", "w8"}) {
        SCOPED_TRACE(mode);
        const std::vector<uint8_t> tiff = WriteTiff(folder, mode, 3);
        ASSERT_FALSE(tiff.empty());
        MetadataReader reader;
        ASSERT_TRUE(reader.Open(tiff.data(), tiff.size()));
        EXPECT_EQ(reader.Format(), ContainerFormat::Tiff);
        ASSERT_EQ(reader.FrameCount(), 3u);
        for (uint32_t page = 0; page < 3; ++page) {
            const MetadataValue width = reader.QueryFrame(page, "/ifd/{ushort=256}");
            EXPECT_EQ(width.AsUnsigned(), (page + 1) * 4) << page;
            EXPECT_EQ(reader.QueryFrame(page, "/app1/ifd/{ushort=274}").AsUInt16(), page + 1) << page;
        }
        EXPECT_EQ(reader.Query("/ifd/{ushort=271}").AsString(), "Scanner");
        EXPECT_TRUE(reader.QueryFrame(3, "/ifd/{ushort=256}").IsEmpty());
        EXPECT_EQ(info::ReadExifOrientation(tiff.data(), tiff.size()), 1u);
    }

    // Directory chains that loop back end at the first repeated directory.
    std::vector<uint8_t> tiff = WriteTiff(folder, "wl", 3);
    MetadataReader reader;
    ASSERT_TRUE(reader.Open(tiff.data(), tiff.size()));
    const uint32_t first = tiff[4] | tiff[5] << 8 | tiff[6] << 16 | static_cast<uint32_t>(tiff[7]) << 24;
    const uint16_t entries = static_cast<uint16_t>(tiff[first] | tiff[first + 1] << 8);
    const size_t next = first + 2 + 12u * entries;
    for (const uint32_t target : {first, 0u}) {
        std::vector<uint8_t> looped = tiff;
        // IFD0 → IFD0, or (target 0) the last directory → IFD0.
        size_t position = next;
        if (target == 0) {
            uint32_t directory = first;
            for (int page = 0; page < 2; ++page) {
                const size_t pointer = directory + 2 + 12u * (looped[directory] | looped[directory + 1] << 8);
                directory = looped[pointer] | looped[pointer + 1] << 8 | looped[pointer + 2] << 16 |
                            static_cast<uint32_t>(looped[pointer + 3]) << 24;
            }
            position = directory + 2 + 12u * (looped[directory] | looped[directory + 1] << 8);
        }
        std::memcpy(looped.data() + position, &first, 4);
        MetadataReader loopReader;
        ASSERT_TRUE(loopReader.Open(looped.data(), looped.size()));
        EXPECT_EQ(loopReader.FrameCount(), target == first ? 1u : 3u);
    }
}

int WriteToVector(GifFileType* gif, const GifByteType* bytes, int length) {
    auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
    out->insert(out->end(), bytes, bytes + length);
    return length;
}

// A 20 x 10 animation: frame 0 without a control extension, frame 1 at (5, 2) with delay 5,
// disposal 2 and transparency, frame 2 after a comment with delay 0; looping forever.
std::vector<uint8_t> AnimatedGif() {
    std::vector<uint8_t> out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, WriteToVector, &error);
    GifColorType colors[4] = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    ColorMapObject* map = GifMakeMapObject(4, colors);
    EGifSetGifVersion(gif, true);
    EGifPutScreenDesc(gif, 20, 10, 2, 3, map);
    EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE);
    EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0");
    const uint8_t loop[3] = {1, 0, 0};
    EGifPutExtensionBlock(gif, 3, loop);
    EGifPutExtensionTrailer(gif);
    const auto putFrame = [&](int left, int top, int width, int height) {
        EGifPutImageDesc(gif, left, top, width, height, false, nullptr);
        std::vector<GifPixelType> line(width, 1);
        for (int y = 0; y < height; ++y) {
            EGifPutLine(gif, line.data(), width);
        }
    };
    putFrame(0, 0, 20, 10);
    GraphicsControlBlock control{};
    control.DisposalMode = DISPOSE_BACKGROUND;
    control.DelayTime = 5;
    control.TransparentColor = 3;
    GifByteType extension[4];
    EGifGCBToExtension(&control, extension);
    EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, extension);
    putFrame(5, 2, 4, 4);
    EGifPutComment(gif, "third frame");
    control = GraphicsControlBlock{};
    control.DisposalMode = DISPOSE_DO_NOT;
    control.TransparentColor = NO_TRANSPARENT_COLOR;
    EGifGCBToExtension(&control, extension);
    EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, extension);
    putFrame(0, 0, 20, 10);
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return out;
}

TEST(MetadataReader, GifScreenFramesAndExtensions) {
    const std::vector<uint8_t> gif = AnimatedGif();
    MetadataReader reader;
    ASSERT_TRUE(reader.Open(gif.data(), gif.size()));
    EXPECT_EQ(reader.Format(), ContainerFormat::Gif);
    EXPECT_EQ(reader.Query("/logscrdesc/Width").AsUInt16(), 20);
    EXPECT_EQ(reader.Query("/logscrdesc/Height").AsUInt16(), 10);
    EXPECT_EQ(reader.Query("/logscrdesc/GlobalColorTableFlag").AsBool(), true);
    EXPECT_EQ(reader.Query("/logscrdesc/GlobalColorTableSize").AsUInt8(), 1);
    EXPECT_EQ(reader.Query("/logscrdesc/BackgroundColorIndex").AsUInt8(), 3);
    EXPECT_EQ(reader.Query("/appext/Application").BlobBytes(),
              (std::vector<uint8_t>{'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'}));
    EXPECT_EQ(reader.Query("/appext/Data").BlobBytes(), (std::vector<uint8_t>{3, 1, 0, 0}));
    EXPECT_EQ(reader.Query("/commentext/TextEntry").AsString(), "third frame");
    EXPECT_TRUE(reader.Query("/grctlext/Delay").IsEmpty());

    ASSERT_EQ(reader.FrameCount(), 3u);
    EXPECT_TRUE(reader.QueryFrame(0, "/grctlext/Delay").IsEmpty());
    EXPECT_EQ(reader.QueryFrame(0, "/imgdesc/Width").AsUInt16(), 20);
    EXPECT_EQ(reader.QueryFrame(1, "/imgdesc/Left").AsUInt16(), 5);
    EXPECT_EQ(reader.QueryFrame(1, "/imgdesc/Top").AsUInt16(), 2);
    EXPECT_EQ(reader.QueryFrame(1, "/imgdesc/Height").AsUInt16(), 4);
    EXPECT_EQ(reader.QueryFrame(1, "/grctlext/Delay").AsUInt16(), 5);
    EXPECT_EQ(reader.QueryFrame(1, "/grctlext/Disposal").AsUInt8(), 2);
    EXPECT_EQ(reader.QueryFrame(1, "/grctlext/TransparencyFlag").AsBool(), true);
    EXPECT_EQ(reader.QueryFrame(1, "/grctlext/TransparentColorIndex").AsUInt8(), 3);
    EXPECT_TRUE(reader.QueryFrame(1, "/commentext/TextEntry").IsEmpty());
    EXPECT_EQ(reader.QueryFrame(2, "/commentext/TextEntry").AsString(), "third frame");
    EXPECT_EQ(reader.QueryFrame(2, "/grctlext/Delay").AsUInt16(), 0);
    EXPECT_EQ(reader.QueryFrame(2, "/grctlext/Disposal").AsUInt8(), 1);
    EXPECT_EQ(reader.QueryFrame(2, "/grctlext/TransparencyFlag").AsBool(), false);
    EXPECT_TRUE(reader.QueryFrame(3, "/imgdesc/Left").IsEmpty());
    EXPECT_TRUE(reader.QueryFrame(1, "/logscrdesc/Width").IsEmpty());

    // Cut anywhere, the file keeps the frames whose descriptors are whole.
    uint32_t previous = 0;
    for (size_t size = 13; size <= gif.size(); ++size) {
        MetadataReader cut;
        ASSERT_TRUE(cut.Open(gif.data(), size));
        const uint32_t frames = cut.FrameCount();
        EXPECT_GE(frames, previous);
        EXPECT_LE(frames, 3u);
        previous = frames;
    }
    EXPECT_EQ(previous, 3u);
}

void AppendChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    const uint32_t length = static_cast<uint32_t>(data.size());
    out.insert(out.end(), {static_cast<uint8_t>(length >> 24), static_cast<uint8_t>(length >> 16),
                           static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)});
    const size_t typeStart = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    const uint32_t crc =
        static_cast<uint32_t>(crc32(0, out.data() + typeStart, static_cast<uInt>(out.size() - typeStart)));
    out.insert(out.end(), {static_cast<uint8_t>(crc >> 24), static_cast<uint8_t>(crc >> 16),
                           static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc)});
}

std::vector<uint8_t> Be32(std::initializer_list<uint32_t> values) {
    std::vector<uint8_t> out;
    for (const uint32_t v : values) {
        out.insert(out.end(), {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                               static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)});
    }
    return out;
}

std::vector<uint8_t> FrameControl(uint32_t sequence, uint32_t x, uint32_t y, uint16_t numerator,
                                  uint16_t denominator, uint8_t dispose) {
    std::vector<uint8_t> body = Be32({sequence, 4, 3, x, y});
    body.insert(body.end(),
                {static_cast<uint8_t>(numerator >> 8), static_cast<uint8_t>(numerator),
                 static_cast<uint8_t>(denominator >> 8), static_cast<uint8_t>(denominator), dispose, 1});
    return body;
}

// Turns a libpng still image into a two-frame APNG that reuses the image data for the second frame.
// `controlAfterData` puts acTL after IDAT, which makes the file a still image again.
std::vector<uint8_t> ApngFrom(const std::vector<uint8_t>& png, bool controlAfterData) {
    std::vector<uint8_t> out(png.begin(), png.begin() + 8);
    size_t position = 8;
    while (position + 12 <= png.size()) {
        const uint32_t length =
            png[position] << 24 | png[position + 1] << 16 | png[position + 2] << 8 | png[position + 3];
        const std::string type(png.begin() + static_cast<long>(position) + 4,
                               png.begin() + static_cast<long>(position) + 8);
        const std::vector<uint8_t> data(png.begin() + static_cast<long>(position) + 8,
                                        png.begin() + static_cast<long>(position) + 8 + length);
        if (type == "IDAT") {
            if (!controlAfterData) {
                AppendChunk(out, "acTL", Be32({2, 0}));
            }
            AppendChunk(out, "fcTL", FrameControl(0, 0, 0, 1, 0, 1));
            AppendChunk(out, "IDAT", data);
            if (controlAfterData) {
                AppendChunk(out, "acTL", Be32({2, 0}));
            }
            AppendChunk(out, "fcTL", FrameControl(1, 2, 1, 1, 30, 2));
            std::vector<uint8_t> frameData = Be32({2});
            frameData.insert(frameData.end(), data.begin(), data.end());
            AppendChunk(out, "fdAT", frameData);
        } else {
            AppendChunk(out, type.c_str(), data);
        }
        position += 12 + length;
    }
    return out;
}

TEST(MetadataReader, ApngFrameControlsAreFrames) {
    const std::vector<uint8_t> still = testing_support::PngWithExif(CameraExif(false, 8));
    const std::vector<uint8_t> apng = ApngFrom(still, false);
    MetadataReader reader;
    ASSERT_TRUE(reader.Open(apng.data(), apng.size()));
    EXPECT_EQ(reader.Query("/acTL/NumFrames").AsUInt32(), 2u);
    EXPECT_EQ(reader.Query("/acTL/NumPlays").AsUInt32(), 0u);
    ASSERT_EQ(reader.FrameCount(), 2u);
    EXPECT_EQ(reader.QueryFrame(0, "/fcTL/FrameDelay").AsUInt32(), 10u); // 1/100 s by default
    EXPECT_EQ(reader.QueryFrame(0, "/fcTL/DisposeOp").AsUInt8(), 1);
    EXPECT_EQ(reader.QueryFrame(1, "/fcTL/FrameDelay").AsUInt32(), 33u);
    EXPECT_EQ(reader.QueryFrame(1, "/fcTL/DelayDenominator").AsUInt16(), 30);
    EXPECT_EQ(reader.QueryFrame(1, "/fcTL/XOffset").AsUInt32(), 2u);
    EXPECT_EQ(reader.QueryFrame(1, "/fcTL/YOffset").AsUInt32(), 1u);
    EXPECT_EQ(reader.QueryFrame(1, "/fcTL/DisposeOp").AsUInt8(), 2);
    EXPECT_EQ(reader.QueryFrame(1, "/fcTL/BlendOp").AsUInt8(), 1);
    EXPECT_EQ(reader.QueryFrame(1, "/fcTL/SequenceNumber").AsUInt32(), 1u);
    EXPECT_TRUE(reader.QueryFrame(2, "/fcTL/FrameDelay").IsEmpty());
    EXPECT_EQ(reader.QueryFrame(0, "/app1/ifd/{ushort=274}").AsUInt16(), 8);
    EXPECT_EQ(info::ReadExifOrientation(apng.data(), apng.size()), 8u);

    const std::vector<uint8_t> late = ApngFrom(still, true);
    ASSERT_TRUE(reader.Open(late.data(), late.size()));
    EXPECT_EQ(reader.FrameCount(), 1u);
    EXPECT_TRUE(reader.Query("/acTL/NumFrames").IsEmpty());
    EXPECT_TRUE(reader.QueryFrame(0, "/fcTL/FrameDelay").IsEmpty());
}

void AppendRiffChunk(std::vector<uint8_t>& out, const char* fourcc, const std::vector<uint8_t>& data) {
    out.insert(out.end(), fourcc, fourcc + 4);
    const uint32_t size = static_cast<uint32_t>(data.size());
    out.insert(out.end(), {static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
                           static_cast<uint8_t>(size >> 16), static_cast<uint8_t>(size >> 24)});
    out.insert(out.end(), data.begin(), data.end());
    if (size & 1) {
        out.push_back(0);
    }
}

std::vector<uint8_t> Le24(uint32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16)};
}

std::vector<uint8_t> WebPFile(const std::vector<uint8_t>& exif) {
    std::vector<uint8_t> chunks = {'W', 'E', 'B', 'P'};
    std::vector<uint8_t> canvas = {0x1A, 0, 0, 0};
    for (const uint32_t v : {99u, 49u}) {
        const auto bytes = Le24(v);
        canvas.insert(canvas.end(), bytes.begin(), bytes.end());
    }
    AppendRiffChunk(chunks, "VP8X", canvas);
    AppendRiffChunk(chunks, "ANIM", {0xFF, 0xFF, 0xFF, 0xFF, 3, 0});
    const auto frame = [&](uint32_t x, uint32_t y, uint32_t duration, uint8_t flags) {
        std::vector<uint8_t> body;
        for (const uint32_t v : {x / 2, y / 2, 9u, 4u, duration}) {
            const auto bytes = Le24(v);
            body.insert(body.end(), bytes.begin(), bytes.end());
        }
        body.push_back(flags);
        AppendRiffChunk(body, "VP8L", {0x2F, 9, 0x40, 0, 0});
        AppendRiffChunk(chunks, "ANMF", body);
    };
    frame(0, 0, 90, 0);
    frame(20, 10, 120, 3);
    std::vector<uint8_t> prefixed = {'E', 'x', 'i', 'f', 0, 0};
    prefixed.insert(prefixed.end(), exif.begin(), exif.end());
    AppendRiffChunk(chunks, "EXIF", prefixed);
    std::vector<uint8_t> out = {'R', 'I', 'F', 'F'};
    const uint32_t size = static_cast<uint32_t>(chunks.size());
    out.insert(out.end(), {static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
                           static_cast<uint8_t>(size >> 16), static_cast<uint8_t>(size >> 24)});
    out.insert(out.end(), chunks.begin(), chunks.end());
    return out;
}

TEST(MetadataReader, WebPAnimationAndExifChunks) {
    const std::vector<uint8_t> webp = WebPFile(CameraExif(true, 3));
    MetadataReader reader;
    ASSERT_TRUE(reader.Open(webp.data(), webp.size()));
    EXPECT_EQ(reader.Format(), ContainerFormat::WebP);
    EXPECT_EQ(reader.Query("/VP8X/Width").AsUInt32(), 100u);
    EXPECT_EQ(reader.Query("/VP8X/Height").AsUInt32(), 50u);
    EXPECT_EQ(reader.Query("/ANIM/LoopCount").AsUInt16(), 3);
    ASSERT_EQ(reader.FrameCount(), 2u);
    EXPECT_EQ(reader.QueryFrame(0, "/ANMF/Duration").AsUInt32(), 90u);
    EXPECT_EQ(reader.QueryFrame(1, "/ANMF/Duration").AsUInt32(), 120u);
    EXPECT_EQ(reader.QueryFrame(1, "/ANMF/OffsetX").AsUInt32(), 20u);
    EXPECT_EQ(reader.QueryFrame(1, "/ANMF/OffsetY").AsUInt32(), 10u);
    EXPECT_EQ(reader.QueryFrame(1, "/ANMF/Width").AsUInt32(), 10u);
    EXPECT_EQ(reader.QueryFrame(1, "/ANMF/DisposalMethod").AsUInt8(), 1);
    EXPECT_EQ(reader.QueryFrame(1, "/ANMF/BlendingMethod").AsUInt8(), 1);
    EXPECT_EQ(reader.QueryFrame(0, "/exif/ifd/{ushort=274}").AsUInt16(), 3);
    EXPECT_EQ(info::ReadExifOrientation(webp.data(), webp.size()), 3u);

    // A RIFF size larger than the file, and chunk sizes past the end, stop the walk cleanly.
    std::vector<uint8_t> damaged = webp;
    damaged[4] = damaged[5] = damaged[6] = 0xFF;
    damaged[7] = 0x7F;
    ASSERT_TRUE(reader.Open(damaged.data(), damaged.size()));
    EXPECT_EQ(reader.FrameCount(), 2u);
    damaged = webp;
    damaged[12 + 4 + 3] = 0xFF; // VP8X size
    ASSERT_TRUE(reader.Open(damaged.data(), damaged.size()));
    EXPECT_EQ(reader.FrameCount(), 1u);
    EXPECT_TRUE(reader.Query("/VP8X/Width").IsEmpty());
}

TEST(MetadataReader, JpegSegmentWalkToleratesJunkAndStopsAtTheScan) {
    std::vector<uint8_t> jpeg = testing_support::JpegWithExif(CameraExif(false, 5));
    // Fill bytes and stray garbage before the APP1 segment.
    std::vector<uint8_t> junk(jpeg.begin(), jpeg.begin() + 2);
    junk.insert(junk.end(), {0x00, 0x13, 0x37, 0xFF, 0xFF});
    junk.insert(junk.end(), jpeg.begin() + 3, jpeg.end());
    EXPECT_EQ(info::ReadExifOrientation(junk.data(), junk.size()), 5u);

    // An APP1 that is not EXIF comes first; the EXIF one after it still counts.
    std::vector<uint8_t> xmpFirst(jpeg.begin(), jpeg.begin() + 2);
    const std::string xmp = "http://ns.adobe.com/xap/1.0/";
    xmpFirst.insert(xmpFirst.end(), {0xFF, 0xE1, 0, static_cast<uint8_t>(2 + xmp.size() + 1)});
    xmpFirst.insert(xmpFirst.end(), xmp.begin(), xmp.end());
    xmpFirst.push_back(0);
    xmpFirst.insert(xmpFirst.end(), jpeg.begin() + 2, jpeg.end());
    EXPECT_EQ(info::ReadExifOrientation(xmpFirst.data(), xmpFirst.size()), 5u);

    // A segment length that runs past the end, or below 2, ends the walk without EXIF.
    std::vector<uint8_t> bad = jpeg;
    bad[5] = 1;
    bad[4] = 0;
    EXPECT_EQ(info::ReadExifOrientation(bad.data(), bad.size()), 1u);
    for (size_t size = 0; size < 40; ++size) {
        EXPECT_EQ(info::ReadExifOrientation(jpeg.data(), size), 1u) << size;
    }
}

} // namespace
