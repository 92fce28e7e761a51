#include "decode/decoded_image.h"
#include "decode/decoder.h"

#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace {

// A width x height raster whose pixel (x, y) holds the value y * 100 + x in its first 32 bits.
decode::DecodedImage MakeNumbered(uint32_t width, uint32_t height, uint32_t orientation) {
    decode::DecodedImage image;
    image.width = width;
    image.height = height;
    image.stride = width * 4;
    image.size = uint64_t{image.stride} * height;
    image.orientation = orientation;
    image.pixels = std::shared_ptr<uint8_t[]>(new uint8_t[image.size]);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t value = y * 100 + x;
            std::memcpy(image.pixels.get() + (y * width + x) * 4, &value, 4);
        }
    }
    return image;
}

uint32_t PixelAt(const decode::DecodedImage& image, uint32_t x, uint32_t y) {
    uint32_t value;
    std::memcpy(&value, image.pixels.get() + uint64_t{y} * image.stride + x * 4, 4);
    return value;
}

TEST(IsValidImage, NeedsPixelsAndEveryNonZeroSize) {
    decode::DecodedImage image = MakeNumbered(3, 2, 1);
    EXPECT_TRUE(decode::IsValidImage(image));
    for (int field = 0; field < 4; ++field) {
        decode::DecodedImage broken = image;
        if (field == 0) {
            broken.pixels.reset();
        } else if (field == 1) {
            broken.size = 0;
        } else if (field == 2) {
            broken.width = 0;
        } else {
            broken.height = 0;
        }
        EXPECT_FALSE(decode::IsValidImage(broken)) << field;
    }
    EXPECT_FALSE(decode::IsValidImage(decode::DecodedImage{}));
}

TEST(ApplyOrientation, TurnsThreeSixAndEight) {
    // Orientation 6 on 3 x 2: a 2 x 3 image, stride 8, size 24; the top-left pixel ends top-right.
    decode::DecodedImage six = MakeNumbered(3, 2, 6);
    ASSERT_TRUE(decode::ApplyOrientation(six));
    EXPECT_EQ(six.width, 2u);
    EXPECT_EQ(six.height, 3u);
    EXPECT_EQ(six.stride, 8u);
    EXPECT_EQ(six.size, 24u);
    EXPECT_EQ(six.orientation, 1u);
    EXPECT_EQ(PixelAt(six, 1, 0), 0u);   // source (0,0)
    EXPECT_EQ(PixelAt(six, 0, 0), 100u); // source (0,1)
    EXPECT_EQ(PixelAt(six, 0, 2), 102u); // source (2,1)

    decode::DecodedImage eight = MakeNumbered(3, 2, 8);
    ASSERT_TRUE(decode::ApplyOrientation(eight));
    EXPECT_EQ(eight.width, 2u);
    EXPECT_EQ(eight.height, 3u);
    EXPECT_EQ(PixelAt(eight, 0, 2), 0u);   // source (0,0) goes to (y, width-1-x)
    EXPECT_EQ(PixelAt(eight, 1, 0), 102u); // source (2,1)

    decode::DecodedImage three = MakeNumbered(3, 2, 3);
    ASSERT_TRUE(decode::ApplyOrientation(three));
    EXPECT_EQ(three.width, 3u);
    EXPECT_EQ(three.height, 2u);
    EXPECT_EQ(three.stride, 12u);
    EXPECT_EQ(three.size, 24u);
    EXPECT_EQ(PixelAt(three, 0, 0), 102u);
    EXPECT_EQ(PixelAt(three, 2, 1), 0u);
}

TEST(ApplyOrientation, MirroredCodesKeepTheRasterAndOutOfRangeCodesChangeNothing) {
    for (const uint32_t code : {2u, 4u, 5u, 7u}) {
        decode::DecodedImage image = MakeNumbered(3, 2, code);
        const uint8_t* before = image.pixels.get();
        ASSERT_TRUE(decode::ApplyOrientation(image));
        EXPECT_EQ(image.pixels.get(), before) << code;
        EXPECT_EQ(image.width, 3u);
        EXPECT_EQ(image.orientation, 1u) << code;
    }
    for (const uint32_t code : {0u, 1u, 9u, 0xFFFFFFFFu}) {
        decode::DecodedImage image = MakeNumbered(3, 2, code);
        ASSERT_TRUE(decode::ApplyOrientation(image));
        EXPECT_EQ(image.orientation, code);
        EXPECT_EQ(image.width, 3u);
    }
}

TEST(ApplyOrientation, EarlierCopiesKeepTheOldRaster) {
    decode::DecodedImage image = MakeNumbered(4, 3, 6);
    const decode::DecodedImage copy = image;
    EXPECT_EQ(image.pixels.use_count(), 2);
    ASSERT_TRUE(decode::ApplyOrientation(image));
    EXPECT_EQ(copy.width, 4u);
    EXPECT_EQ(PixelAt(copy, 3, 2), 203u);
    EXPECT_EQ(copy.pixels.use_count(), 1);
    EXPECT_NE(copy.pixels.get(), image.pixels.get());
}

class FakeDecoder : public decode::IDecoder {
public:
    bool Load(const std::string& path, uint32_t, uint32_t, bool) override {
        lastPath = path;
        if (path == "fail") {
            return false;
        }
        width = 2;
        height = 2;
        stride = 8;
        pixels.reset(new uint8_t[16]);
        std::memset(pixels.get(), 0x5A, 16);
        return true;
    }
    std::string lastPath;
};

TEST(IDecoder, BaseOperationsForwardAndCopyOutTakesTheRaster) {
    FakeDecoder decoder;
    EXPECT_FALSE(decoder.LoadFromMemory(nullptr, 0, 0, 0, false));
    EXPECT_EQ(decoder.ReservedQuery(), 0u);
    EXPECT_FALSE(decoder.LoadPath("fail"));
    EXPECT_EQ(decoder.lastPath, "fail");

    decode::DecodedImage image;
    EXPECT_FALSE(decode::CopyOutDecoder(decoder, image)) << "nothing loaded yet";
    EXPECT_FALSE(decode::IsValidImage(image));

    ASSERT_TRUE(decoder.LoadPath("ok"));
    EXPECT_EQ(decoder.GetSourceWidth(), 2u);
    ASSERT_TRUE(decode::CopyOutDecoder(decoder, image));
    EXPECT_TRUE(decode::IsValidImage(image));
    EXPECT_EQ(image.size, 16u);
    EXPECT_EQ(image.stride, 8u);
    EXPECT_EQ(image.orientation, 1u) << "the caller's orientation is left alone";
    EXPECT_EQ(image.pixels[15], 0x5A);
    EXPECT_EQ(decoder.GetPixels(), nullptr) << "the record never points into decoder memory";
}

} // namespace
