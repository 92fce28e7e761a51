#include "info/exif_orientation.h"
#include "tests/support/exif_block_builder.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

using testing_support::ExifBlockBuilder;

std::vector<uint8_t> JpegWithOrientation(bool bigEndian, uint16_t type, std::vector<uint8_t> value) {
    ExifBlockBuilder exif(bigEndian);
    const uint32_t count = type == 3 ? static_cast<uint32_t>(value.size() / 2) : 1;
    exif.Add(ExifBlockBuilder::Ifd0, 274, type, count, std::move(value));
    return testing_support::JpegWithExif(exif.Build());
}

TEST(ReadExifOrientation, OnlyAShortCodeFromOneToEightCounts) {
    for (const bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
        ExifBlockBuilder helper(bigEndian);
        const auto shortValue = [&](uint16_t code) {
            std::vector<uint8_t> bytes(2);
            helper.Put16(bytes, 0, code);
            return bytes;
        };
        for (uint16_t code = 1; code <= 8; ++code) {
            const std::vector<uint8_t> jpeg = JpegWithOrientation(bigEndian, 3, shortValue(code));
            EXPECT_EQ(info::ReadExifOrientation(jpeg.data(), jpeg.size()), code);
        }
        // Codes outside 1..8 are not orientations.
        for (const uint16_t code : {0, 9, 65535}) {
            const std::vector<uint8_t> jpeg = JpegWithOrientation(bigEndian, 3, shortValue(code));
            EXPECT_EQ(info::ReadExifOrientation(jpeg.data(), jpeg.size()), 1u) << code;
        }
        // Another type than a single SHORT is not read as an orientation.
        std::vector<uint8_t> longValue(4);
        helper.Put32(longValue, 0, 6);
        std::vector<uint8_t> jpeg = JpegWithOrientation(bigEndian, 4, longValue);
        EXPECT_EQ(info::ReadExifOrientation(jpeg.data(), jpeg.size()), 1u);
        std::vector<uint8_t> twoShorts = shortValue(6);
        const std::vector<uint8_t> second = shortValue(6);
        twoShorts.insert(twoShorts.end(), second.begin(), second.end());
        jpeg = JpegWithOrientation(bigEndian, 3, twoShorts);
        EXPECT_EQ(info::ReadExifOrientation(jpeg.data(), jpeg.size()), 1u);
    }

    const std::vector<uint8_t> jpeg = JpegWithOrientation(false, 3, {6, 0});
    EXPECT_EQ(info::ReadExifOrientation(nullptr, jpeg.size()), 1u);
    EXPECT_EQ(info::ReadExifOrientation(jpeg.data(), 0), 1u);
    testing_support::TemporaryDirectory folder;
    EXPECT_EQ(info::ReadExifOrientation(folder.Write("turned.jpg", jpeg)), 6u);
    EXPECT_EQ(info::ReadExifOrientation(folder.Path().string()), 1u); // a folder
    EXPECT_EQ(info::ReadExifOrientation(folder.File("missing.jpg")), 1u);
    EXPECT_EQ(info::ReadExifOrientation(folder.Write("empty.jpg", std::vector<uint8_t>())), 1u);
}

} // namespace
