#include "decode/ico_reader.h"
#include "decode/wic_decoder.h"
#include "tests/support/png_writer.h"
#include "tests/support/test_support.h"

#include <array>
#include <gtest/gtest.h>

namespace {

using decode::WicDecoder;
using Px = std::array<int, 4>;

void Put16(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    out.at(at) = static_cast<uint8_t>(value);
    out.at(at + 1) = static_cast<uint8_t>(value >> 8);
}
void Put32(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out.at(at + i) = static_cast<uint8_t>(value >> (8 * i));
    }
}

struct IconEntry {
    uint32_t width;
    uint32_t height;
    uint16_t bits;
    std::vector<uint8_t> data; // a DIB (header, palette, colour rows, mask rows) or a PNG stream
};

// An icon bitmap: 40-byte header with the doubled height, palette, colour rows and AND-mask rows, both
// bottom-up. `pixel(x, y)` gives the stored bytes of a pixel (palette index or BGR(A)), `masked(x, y)`
// the mask bit.
template <typename PixelFn, typename MaskFn>
std::vector<uint8_t> MakeIconDib(uint32_t width, uint32_t height, uint16_t bits,
                                 const std::vector<uint8_t>& palette, PixelFn pixel, MaskFn masked) {
    const size_t stride = ((width * bits + 31) / 32) * 4;
    const size_t maskStride = ((width + 31) / 32) * 4;
    std::vector<uint8_t> out(40 + palette.size() + (stride + maskStride) * height);
    Put32(out, 0, 40);
    Put32(out, 4, width);
    Put32(out, 8, height * 2);
    Put16(out, 12, 1);
    Put16(out, 14, bits);
    Put32(out, 32, static_cast<uint32_t>(palette.size() / 4));
    std::copy(palette.begin(), palette.end(), out.begin() + 40);
    const size_t colors = 40 + palette.size();
    const size_t mask = colors + stride * height;
    for (uint32_t row = 0; row < height; ++row) {
        const uint32_t y = height - 1 - row;
        for (uint32_t x = 0; x < width; ++x) {
            const std::vector<uint8_t> bytes = pixel(x, y);
            std::copy(bytes.begin(), bytes.end(), out.begin() + colors + row * stride + x * bytes.size());
            if (masked(x, y)) {
                out[mask + row * maskStride + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
            }
        }
    }
    return out;
}

std::vector<uint8_t> MakeIco(uint16_t type, const std::vector<IconEntry>& entries) {
    std::vector<uint8_t> out(6 + entries.size() * 16);
    Put16(out, 2, type);
    Put16(out, 4, static_cast<uint32_t>(entries.size()));
    for (size_t i = 0; i < entries.size(); ++i) {
        const size_t at = 6 + i * 16;
        out[at] = static_cast<uint8_t>(entries[i].width == 256 ? 0 : entries[i].width);
        out[at + 1] = static_cast<uint8_t>(entries[i].height == 256 ? 0 : entries[i].height);
        Put16(out, at + 4, 1);
        Put16(out, at + 6, entries[i].bits);
        Put32(out, at + 8, static_cast<uint32_t>(entries[i].data.size()));
        Put32(out, at + 12, static_cast<uint32_t>(out.size()));
        out.insert(out.end(), entries[i].data.begin(), entries[i].data.end());
    }
    return out;
}

Px Pixel(const WicDecoder& decoder, uint32_t x, uint32_t y) {
    const uint8_t* p = decoder.GetPixels() + static_cast<size_t>(y) * decoder.GetStride() + x * 4;
    return {p[0], p[1], p[2], p[3]};
}

bool Decode(WicDecoder& decoder, const std::vector<uint8_t>& bytes) {
    return decoder.LoadFromMemory(bytes.data(), bytes.size(), 0, 0, true);
}

std::vector<uint8_t> SmallAlphaIcon() {
    return MakeIconDib(
        16, 16, 32, {},
        [](uint32_t, uint32_t) {
            return std::vector<uint8_t>{100, 50, 200, 128};
        },
        [](uint32_t, uint32_t) { return true; });
}

// 32 x 32, 8-bit palette: left half colour 1, right half colour 2, the top-left quarter masked out.
std::vector<uint8_t> MaskedPaletteIcon() {
    const std::vector<uint8_t> palette = {0, 0, 0, 0, 10, 20, 30, 0, 40, 50, 60, 0};
    return MakeIconDib(
        32, 32, 8, palette,
        [](uint32_t x, uint32_t) { return std::vector<uint8_t>{uint8_t(x < 16 ? 1 : 2)}; },
        [](uint32_t x, uint32_t y) { return x < 16 && y < 16; });
}

TEST(IcoReader, PicksTheLargestEntryAndAppliesItsMask) {
    const std::vector<uint8_t> png48 =
        testing_support::EncodeRgbaPng(24, 24, std::vector<uint8_t>(24 * 24 * 4, 9));
    const std::vector<uint8_t> icon =
        MakeIco(1, {{16, 16, 32, SmallAlphaIcon()}, {32, 32, 8, MaskedPaletteIcon()}, {24, 24, 32, png48}});
    WicDecoder decoder;
    ASSERT_TRUE(Decode(decoder, icon));
    EXPECT_EQ(decoder.GetWidth(), 32u);
    EXPECT_EQ(decoder.GetHeight(), 32u);
    EXPECT_EQ(Pixel(decoder, 0, 0), (Px{0, 0, 0, 0}));
    EXPECT_EQ(Pixel(decoder, 15, 15), (Px{0, 0, 0, 0}));
    EXPECT_EQ(Pixel(decoder, 0, 16), (Px{10, 20, 30, 255}));
    EXPECT_EQ(Pixel(decoder, 31, 0), (Px{40, 50, 60, 255}));

    // A cursor is the same directory with type 2.
    WicDecoder cursor;
    ASSERT_TRUE(Decode(cursor, MakeIco(2, {{32, 32, 8, MaskedPaletteIcon()}})));
    EXPECT_EQ(Pixel(cursor, 31, 31), (Px{40, 50, 60, 255}));
}

TEST(IcoReader, AlphaBitmapsAndPngEntries) {
    // A 32-bit bitmap's own alpha wins over its (here all-set) mask, premultiplied.
    WicDecoder alpha;
    ASSERT_TRUE(Decode(alpha, MakeIco(1, {{16, 16, 32, SmallAlphaIcon()}})));
    EXPECT_EQ(Pixel(alpha, 3, 3), (Px{50, 25, 100, 128}));
    // With an all-zero alpha channel the mask decides, and visible pixels are opaque.
    const std::vector<uint8_t> noAlpha = MakeIconDib(
        4, 4, 32, {},
        [](uint32_t, uint32_t) {
            return std::vector<uint8_t>{1, 2, 3, 0};
        },
        [](uint32_t x, uint32_t) { return x == 0; });
    WicDecoder masked;
    ASSERT_TRUE(Decode(masked, MakeIco(1, {{4, 4, 32, noAlpha}})));
    EXPECT_EQ(Pixel(masked, 0, 2), (Px{0, 0, 0, 0}));
    EXPECT_EQ(Pixel(masked, 1, 2), (Px{1, 2, 3, 255}));

    std::vector<uint8_t> rgba(48 * 48 * 4);
    for (size_t i = 0; i < rgba.size(); i += 4) {
        rgba[i] = 255; // red
        rgba[i + 3] = i < rgba.size() / 2 ? 255 : 0;
    }
    WicDecoder png;
    ASSERT_TRUE(Decode(png, MakeIco(1, {{48, 48, 32, testing_support::EncodeRgbaPng(48, 48, rgba)}})));
    EXPECT_EQ(png.GetWidth(), 48u);
    EXPECT_EQ(Pixel(png, 5, 5), (Px{0, 0, 255, 255}));
    EXPECT_EQ(Pixel(png, 5, 40), (Px{0, 0, 0, 0}));
}

TEST(IcoReader, HostileDirectoriesFailCleanly) {
    const std::vector<uint8_t> good = MakeIco(1, {{32, 32, 8, MaskedPaletteIcon()}});
    const auto fails = [](std::vector<uint8_t> bytes) {
        WicDecoder decoder;
        return !Decode(decoder, bytes) && decoder.GetPixels() == nullptr;
    };
    EXPECT_TRUE(fails(MakeIco(1, {})));
    std::vector<uint8_t> outside = good;
    Put32(outside, 6 + 12, 1u << 30); // entry offset beyond the file
    EXPECT_TRUE(fails(outside));
    std::vector<uint8_t> bomb = good;
    Put32(bomb, 22 + 4, 0xFFFF); // DIB header: 65535 x 65535 in a 1 KB file
    Put32(bomb, 22 + 8, 0xFFFF * 2);
    EXPECT_TRUE(fails(bomb));
    std::vector<uint8_t> topDown = good;
    Put32(topDown, 22 + 8, static_cast<uint32_t>(-64));
    EXPECT_TRUE(fails(topDown));
    for (size_t length = 1; length < good.size(); length += 7) {
        // An exact-size copy, so that the sanitizers see any read past the end.
        const std::vector<uint8_t> prefix(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length));
        WicDecoder cut;
        cut.LoadFromMemory(prefix.data(), prefix.size(), 0, 0, true);
    }
}

TEST(IcoSamples, RealIconsAndCursors) {
    SKIP_WITHOUT_SAMPLES();
    const auto path = [](const char* name) {
        return (testing_support::SamplesDir() / "ico" / name).string();
    };
    WicDecoder multisize;
    ASSERT_TRUE(multisize.LoadPath(path("pillow_multisize.ico")));
    EXPECT_EQ(multisize.GetWidth(), 256u);
    WicDecoder python;
    ASSERT_TRUE(python.LoadPath(path("pillow_python.ico")));
    EXPECT_EQ(python.GetWidth(), 48u);
    EXPECT_EQ(Pixel(python, 0, 0)[3], 0); // the corner of the logo is clear
    WicDecoder cursor;
    ASSERT_TRUE(cursor.LoadPath(path("pillow_mask_1.cur")));
    EXPECT_EQ(cursor.GetWidth(), 1u);
    EXPECT_EQ(cursor.GetHeight(), 4u);
    WicDecoder none;
    EXPECT_FALSE(none.LoadPath(path("pillow_no_cursors.cur")));
    WicDecoder bomb;
    EXPECT_FALSE(bomb.LoadPath(path("pillow_decompression_bomb.ico")));
}

} // namespace
