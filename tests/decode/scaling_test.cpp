#include "decode/image_scaler.h"
#include "decode/wic_decoder.h"
#include "decode/wic_raster.h"
#include "platform/settings.h"
#include "tests/support/png_writer.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

using decode::ComputeScaledSize;
using decode::WicDecoder;

TEST(ScaledSize, ReducesToFitButNeverEnlarges) {
    const auto expectSize = [](uint32_t sw, uint32_t sh, uint32_t tw, uint32_t th, bool full, uint32_t w,
                               uint32_t h) {
        const decode::ScaledSize size = ComputeScaledSize(sw, sh, tw, th, full);
        EXPECT_EQ(size.width, w) << sw << "x" << sh << " into " << tw << "x" << th;
        EXPECT_EQ(size.height, h) << sw << "x" << sh << " into " << tw << "x" << th;
    };
    expectSize(4000, 3000, 1920, 1080, false, 1440, 1080); // factor min(0.48, 0.36)
    expectSize(1000, 800, 1920, 1080, false, 1000, 800);   // fits: kept
    expectSize(4000, 3000, 1920, 1080, true, 4000, 3000);  // full decode asked for
    expectSize(10000, 1, 100, 100, false, 100, 1);
    expectSize(1, 10000, 100, 100, false, 1, 100);
    expectSize(30000, 2, 100, 100, false, 100, 1); // a side of 0 becomes 1
    expectSize(4000, 3000, 0, 1080, false, 4000, 3000);
    expectSize(4000, 3000, 1920, 0, false, 4000, 3000);
    expectSize(2000, 500, 1920, 1080, false, 1920, 480); // only the width is over
    expectSize(320, 320, 320, 320, false, 320, 320);
}

// Left half red, right half blue, with a one-pixel checkerboard band across the middle.
void FillTestRow(uint32_t width, uint32_t height, uint32_t y, uint8_t* row) {
    for (uint32_t x = 0; x < width; ++x) {
        uint8_t* p = row + x * 3;
        const bool checker = y >= height / 3 && y < 2 * height / 3;
        if (checker) {
            const uint8_t value = ((x + y) & 1) != 0 ? 255 : 0;
            p[0] = p[1] = p[2] = value;
        } else {
            p[0] = x < width / 2 ? 255 : 0;
            p[1] = 0;
            p[2] = x < width / 2 ? 0 : 255;
        }
    }
}

std::vector<uint8_t> TestPng(uint32_t width, uint32_t height, bool interlaced = false) {
    testing_support::PngFormat format;
    format.color = testing_support::PngColor::Rgb;
    format.compressionLevel = 1;
    format.interlaced = interlaced;
    std::vector<uint8_t> rows(static_cast<size_t>(width) * height * 3);
    for (uint32_t y = 0; y < height; ++y) {
        FillTestRow(width, height, y, rows.data() + static_cast<size_t>(y) * width * 3);
    }
    return testing_support::EncodePng(width, height, format, rows);
}

const uint8_t* Pixel(const WicDecoder& decoder, uint32_t x, uint32_t y) {
    return decoder.GetPixels() + static_cast<size_t>(y) * decoder.GetStride() + x * 4;
}

TEST(WicScaling, FitsLargeImagesToTheTargetWithBothFilters) {
    const std::vector<uint8_t> png = TestPng(4000, 3000);
    ASSERT_FALSE(png.empty());
    for (bool highQuality : {true, false}) {
        SCOPED_TRACE(highQuality ? "box" : "nearest");
        WicDecoder decoder;
        ASSERT_TRUE(decoder.LoadFromMemory(png.data(), png.size(), 1920, 1080, highQuality));
        EXPECT_EQ(decoder.GetWidth(), 1440u);
        EXPECT_EQ(decoder.GetHeight(), 1080u);
        EXPECT_EQ(decoder.GetStride(), 1440u * 4);
        EXPECT_EQ(decoder.GetSourceWidth(), 4000u);
        EXPECT_EQ(decoder.GetSourceHeight(), 3000u);
        const uint8_t* red = Pixel(decoder, 100, 50);
        EXPECT_EQ(red[2], 255);
        EXPECT_EQ(red[0], 0);
        const uint8_t* blue = Pixel(decoder, 1400, 1050);
        EXPECT_EQ(blue[0], 255);
        EXPECT_EQ(blue[2], 0);
        EXPECT_EQ(blue[3], 255);
        // The checkerboard averages to grey with the box filter; nearest neighbour keeps pure samples.
        int darkest = 255;
        int lightest = 0;
        for (uint32_t y = 400; y < 680; ++y) {
            for (uint32_t x = 100; x < 1300; x += 7) {
                darkest = std::min<int>(darkest, Pixel(decoder, x, y)[1]);
                lightest = std::max<int>(lightest, Pixel(decoder, x, y)[1]);
            }
        }
        if (highQuality) {
            EXPECT_GT(darkest, 90);
            EXPECT_LT(lightest, 165);
        } else {
            EXPECT_EQ(darkest, 0);
            EXPECT_EQ(lightest, 255);
        }
    }
}

TEST(WicScaling, KeepsSmallImagesAndHonoursFullDecode) {
    const platform::Settings saved = platform::GlobalSettings();
    const std::vector<uint8_t> small = TestPng(1000, 800);
    WicDecoder kept;
    ASSERT_TRUE(kept.LoadFromMemory(small.data(), small.size(), 1920, 1080, true));
    EXPECT_EQ(kept.GetWidth(), 1000u);
    EXPECT_EQ(kept.GetHeight(), 800u);

    const std::vector<uint8_t> large = TestPng(2400, 1800);
    platform::GlobalSettings().jpegFullDecode = true;
    WicDecoder full;
    const bool loaded = full.LoadFromMemory(large.data(), large.size(), 1920, 1080, true);
    platform::GlobalSettings() = saved;
    ASSERT_TRUE(loaded);
    EXPECT_EQ(full.GetWidth(), 2400u);
    EXPECT_EQ(full.GetHeight(), 1800u);

    WicDecoder noTarget;
    ASSERT_TRUE(noTarget.LoadFromMemory(large.data(), large.size(), 0, 0, true));
    EXPECT_EQ(noTarget.GetWidth(), 2400u);
}

TEST(WicScaling, ThinStripsKeepAtLeastOnePixel) {
    WicDecoder wide;
    const std::vector<uint8_t> widePng = TestPng(10000, 1);
    ASSERT_TRUE(wide.LoadFromMemory(widePng.data(), widePng.size(), 100, 100, true));
    EXPECT_EQ(wide.GetWidth(), 100u);
    EXPECT_EQ(wide.GetHeight(), 1u);
    WicDecoder tall;
    const std::vector<uint8_t> tallPng = TestPng(1, 10000);
    ASSERT_TRUE(tall.LoadFromMemory(tallPng.data(), tallPng.size(), 100, 100, false));
    EXPECT_EQ(tall.GetWidth(), 1u);
    EXPECT_EQ(tall.GetHeight(), 100u);
}

TEST(RasterBuilder, RowAndWholeModesAgreeAndMissingRowsFail) {
    const uint32_t width = 301;
    const uint32_t height = 199;
    std::vector<uint8_t> source(static_cast<size_t>(width) * height * 4);
    for (size_t i = 0; i < source.size(); ++i) {
        source[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
    }
    for (size_t i = 3; i < source.size(); i += 4) {
        source[i] = 255;
    }
    for (bool highQuality : {true, false}) {
        decode::RasterRequest request{97, 41, highQuality, false};
        decode::RasterBuilder rows(request);
        ASSERT_TRUE(rows.Begin(width, height));
        for (uint32_t y = 0; y < height; ++y) {
            uint8_t* row = rows.RowBuffer();
            ASSERT_NE(row, nullptr);
            std::memcpy(row, source.data() + static_cast<size_t>(y) * width * 4, width * 4);
            ASSERT_TRUE(rows.CommitRow());
        }
        EXPECT_EQ(rows.RowBuffer(), nullptr); // all rows are in
        decode::RasterBuilder whole(request);
        ASSERT_TRUE(whole.Begin(width, height));
        std::memcpy(whole.WholeBuffer(), source.data(), source.size());
        std::unique_ptr<uint8_t[]> fromRows;
        std::unique_ptr<uint8_t[]> fromWhole;
        ASSERT_TRUE(rows.Finish(fromRows));
        ASSERT_TRUE(whole.Finish(fromWhole));
        EXPECT_EQ(rows.OutputWidth(), 62u);
        EXPECT_EQ(rows.OutputHeight(), 41u);
        EXPECT_EQ(0, std::memcmp(fromRows.get(), fromWhole.get(), 62 * 41 * 4));
    }
    decode::RasterBuilder incomplete(decode::RasterRequest{});
    ASSERT_TRUE(incomplete.Begin(4, 4));
    ASSERT_NE(incomplete.RowBuffer(), nullptr);
    ASSERT_TRUE(incomplete.CommitRow());
    EXPECT_EQ(incomplete.WholeBuffer(), nullptr); // modes do not mix
    std::unique_ptr<uint8_t[]> pixels;
    EXPECT_FALSE(incomplete.Finish(pixels));

    decode::RasterBuilder oversized(decode::RasterRequest{});
    EXPECT_FALSE(oversized.Begin(1u << 15, (1u << 13) + 1)); // one row past 2^28 pixels
    decode::RasterBuilder empty(decode::RasterRequest{});
    EXPECT_FALSE(empty.Begin(0, 10));
    decode::RasterBuilder unstarted(decode::RasterRequest{});
    EXPECT_FALSE(unstarted.Finish(pixels));
}

} // namespace
