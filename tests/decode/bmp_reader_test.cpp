#include "decode/bmp_reader.h"
#include "decode/wic_decoder.h"
#include "tests/support/test_support.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <gtest/gtest.h>

namespace {

using decode::WicDecoder;

void Put16(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    out[at] = static_cast<uint8_t>(value);
    out[at + 1] = static_cast<uint8_t>(value >> 8);
}
void Put32(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[at + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

struct BmpSpec {
    int32_t width = 1;
    int32_t height = 1; // negative: top-down
    uint16_t bits = 24;
    uint32_t compression = 0;
    uint32_t headerSize = 40;
    std::vector<uint8_t> palette; // 4 bytes an entry (3 for the 12-byte header)
    std::vector<uint32_t> masks;  // R, G, B(, A)
    std::vector<uint8_t> pixels;  // exactly as stored
};

// A BMP file as a writer would lay it out: file header, info header, masks, palette, pixels.
std::vector<uint8_t> MakeBmp(const BmpSpec& spec) {
    const bool masksAfterHeader = spec.headerSize == 40 && !spec.masks.empty();
    const size_t masksSize = masksAfterHeader ? spec.masks.size() * 4 : 0;
    const size_t pixelOffset = 14 + spec.headerSize + masksSize + spec.palette.size();
    std::vector<uint8_t> out(pixelOffset + spec.pixels.size());
    out[0] = 'B';
    out[1] = 'M';
    Put32(out, 2, static_cast<uint32_t>(out.size()));
    Put32(out, 10, static_cast<uint32_t>(pixelOffset));
    Put32(out, 14, spec.headerSize);
    if (spec.headerSize == 12) {
        Put16(out, 18, static_cast<uint32_t>(spec.width));
        Put16(out, 20, static_cast<uint32_t>(spec.height));
        Put16(out, 22, 1);
        Put16(out, 24, spec.bits);
    } else {
        Put32(out, 18, static_cast<uint32_t>(spec.width));
        Put32(out, 22, static_cast<uint32_t>(spec.height));
        Put16(out, 26, 1);
        Put16(out, 28, spec.bits);
        Put32(out, 30, spec.compression);
        Put32(out, 34, static_cast<uint32_t>(spec.pixels.size()));
        Put32(out, 46, static_cast<uint32_t>(spec.palette.size() / 4));
        if (spec.headerSize >= 52) {
            for (size_t i = 0; i < spec.masks.size(); ++i) {
                Put32(out, 54 + i * 4, spec.masks[i]);
            }
        }
    }
    size_t at = 14 + spec.headerSize;
    if (masksAfterHeader) {
        for (uint32_t mask : spec.masks) {
            Put32(out, at, mask);
            at += 4;
        }
    }
    std::copy(spec.palette.begin(), spec.palette.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
    std::copy(spec.pixels.begin(), spec.pixels.end(), out.begin() + static_cast<std::ptrdiff_t>(pixelOffset));
    return out;
}

std::array<int, 4> Pixel(const WicDecoder& decoder, uint32_t x, uint32_t y) {
    const uint8_t* p = decoder.GetPixels() + static_cast<size_t>(y) * decoder.GetStride() + x * 4;
    return {p[0], p[1], p[2], p[3]};
}

bool Decode(WicDecoder& decoder, const std::vector<uint8_t>& bytes) {
    return decoder.LoadFromMemory(bytes.data(), bytes.size(), 0, 0, true);
}

using Px = std::array<int, 4>;

TEST(BmpReader, DecodesEachDepthAndBothRowOrders) {
    // 2 x 2, 24-bit, bottom row stored first: blue, white / top: red, green.
    BmpSpec rgb;
    rgb.width = 2;
    rgb.height = 2;
    rgb.pixels = {255, 0, 0, 255, 255, 255, 0, 0, 0, 0, 255, 0, 255, 0, 0, 0};
    WicDecoder bottomUp;
    ASSERT_TRUE(Decode(bottomUp, MakeBmp(rgb)));
    EXPECT_EQ(bottomUp.GetWidth(), 2u);
    EXPECT_EQ(Pixel(bottomUp, 0, 0), (Px{0, 0, 255, 255}));
    EXPECT_EQ(Pixel(bottomUp, 1, 0), (Px{0, 255, 0, 255}));
    EXPECT_EQ(Pixel(bottomUp, 0, 1), (Px{255, 0, 0, 255}));
    EXPECT_EQ(Pixel(bottomUp, 1, 1), (Px{255, 255, 255, 255}));
    BmpSpec topDownSpec = rgb;
    topDownSpec.height = -2;
    topDownSpec.pixels = {0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 255, 255, 255, 0, 0};
    WicDecoder topDown;
    ASSERT_TRUE(Decode(topDown, MakeBmp(topDownSpec)));
    EXPECT_EQ(0, std::memcmp(topDown.GetPixels(), bottomUp.GetPixels(), 16));

    BmpSpec mono;
    mono.width = 3;
    mono.bits = 1;
    mono.palette = {0, 0, 0, 0, 255, 255, 255, 0};
    mono.pixels = {0b10100000, 0, 0, 0};
    WicDecoder bilevel;
    ASSERT_TRUE(Decode(bilevel, MakeBmp(mono)));
    EXPECT_EQ(Pixel(bilevel, 0, 0), (Px{255, 255, 255, 255}));
    EXPECT_EQ(Pixel(bilevel, 1, 0), (Px{0, 0, 0, 255}));

    BmpSpec nibbles;
    nibbles.width = 2;
    nibbles.bits = 4;
    nibbles.palette = {0, 0, 0, 0, 10, 20, 30, 0, 40, 50, 60, 0};
    nibbles.pixels = {0x12, 0, 0, 0};
    WicDecoder four;
    ASSERT_TRUE(Decode(four, MakeBmp(nibbles)));
    EXPECT_EQ(Pixel(four, 0, 0), (Px{10, 20, 30, 255}));
    EXPECT_EQ(Pixel(four, 1, 0), (Px{40, 50, 60, 255}));

    BmpSpec shortPalette;
    shortPalette.width = 2;
    shortPalette.bits = 8;
    shortPalette.palette = {1, 2, 3, 0, 4, 5, 6, 0};
    shortPalette.pixels = {1, 200, 0, 0}; // 200 is past the palette
    WicDecoder eight;
    ASSERT_TRUE(Decode(eight, MakeBmp(shortPalette)));
    EXPECT_EQ(Pixel(eight, 0, 0), (Px{4, 5, 6, 255}));
    EXPECT_EQ(Pixel(eight, 1, 0), (Px{0, 0, 0, 255}));

    BmpSpec five;
    five.width = 2;
    five.bits = 16;
    five.pixels = {0x00, 0x7C, 0x1F, 0x00}; // 555: red, blue
    WicDecoder sixteen;
    ASSERT_TRUE(Decode(sixteen, MakeBmp(five)));
    EXPECT_EQ(Pixel(sixteen, 0, 0), (Px{0, 0, 255, 255}));
    EXPECT_EQ(Pixel(sixteen, 1, 0), (Px{255, 0, 0, 255}));
    BmpSpec six = five;
    six.compression = 3;
    six.masks = {0xF800, 0x07E0, 0x001F};
    six.pixels = {0xE0, 0x07, 0x10, 0x00}; // 565: full green, half blue
    WicDecoder bitfields;
    ASSERT_TRUE(Decode(bitfields, MakeBmp(six)));
    EXPECT_EQ(Pixel(bitfields, 0, 0), (Px{0, 255, 0, 255}));
    EXPECT_EQ(Pixel(bitfields, 1, 0), (Px{132, 0, 0, 255}));

    // 32-bit without an alpha mask: the fourth byte is padding, never alpha.
    BmpSpec padded;
    padded.width = 2;
    padded.bits = 32;
    padded.pixels = {10, 20, 30, 0, 40, 50, 60, 128};
    WicDecoder opaque;
    ASSERT_TRUE(Decode(opaque, MakeBmp(padded)));
    EXPECT_EQ(Pixel(opaque, 0, 0), (Px{10, 20, 30, 255}));
    EXPECT_EQ(Pixel(opaque, 1, 0), (Px{40, 50, 60, 255}));
    // A version 5 header with an alpha mask: straight alpha, premultiplied on the way out.
    BmpSpec alpha = padded;
    alpha.headerSize = 124;
    alpha.compression = 3;
    alpha.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
    alpha.pixels = {100, 50, 200, 128, 9, 9, 9, 0};
    WicDecoder translucent;
    ASSERT_TRUE(Decode(translucent, MakeBmp(alpha)));
    EXPECT_EQ(Pixel(translucent, 0, 0), (Px{50, 25, 100, 128}));
    EXPECT_EQ(Pixel(translucent, 1, 0), (Px{0, 0, 0, 0}));

    BmpSpec os2;
    os2.headerSize = 12;
    os2.width = 1;
    os2.bits = 8;
    os2.palette = {0, 0, 0, 7, 8, 9};
    os2.pixels = {1, 0, 0, 0};
    WicDecoder core;
    ASSERT_TRUE(Decode(core, MakeBmp(os2)));
    EXPECT_EQ(Pixel(core, 0, 0), (Px{7, 8, 9, 255}));
}

TEST(BmpReader, RunLengthStreamsLeaveSkippedPixelsTransparent) {
    BmpSpec rle8;
    rle8.width = 4;
    rle8.height = 2;
    rle8.bits = 8;
    rle8.compression = 1;
    rle8.palette = {0, 0, 0, 0, 10, 10, 10, 0, 20, 20, 20, 0};
    // Bottom row: four of index 1. Top row: skip two, then two of index 2. End of bitmap.
    rle8.pixels = {4, 1, 0, 0, 0, 2, 2, 0, 2, 2, 0, 1};
    WicDecoder eight;
    ASSERT_TRUE(Decode(eight, MakeBmp(rle8)));
    EXPECT_EQ(Pixel(eight, 0, 1), (Px{10, 10, 10, 255}));
    EXPECT_EQ(Pixel(eight, 3, 1), (Px{10, 10, 10, 255}));
    EXPECT_EQ(Pixel(eight, 0, 0), (Px{0, 0, 0, 0}));
    EXPECT_EQ(Pixel(eight, 1, 0), (Px{0, 0, 0, 0}));
    EXPECT_EQ(Pixel(eight, 2, 0), (Px{20, 20, 20, 255}));

    BmpSpec rle4 = rle8;
    rle4.bits = 4;
    rle4.compression = 2;
    rle4.width = 5;
    rle4.height = 1;
    // A run alternating indices 1 and 2, then an absolute run of 3 pixels (2, 1, 2) padded to a word.
    rle4.pixels = {2, 0x12, 0, 3, 0x21, 0x20, 0, 1};
    WicDecoder four;
    ASSERT_TRUE(Decode(four, MakeBmp(rle4)));
    EXPECT_EQ(Pixel(four, 0, 0), (Px{10, 10, 10, 255}));
    EXPECT_EQ(Pixel(four, 1, 0), (Px{20, 20, 20, 255}));
    EXPECT_EQ(Pixel(four, 2, 0), (Px{20, 20, 20, 255}));
    EXPECT_EQ(Pixel(four, 3, 0), (Px{10, 10, 10, 255}));
    EXPECT_EQ(Pixel(four, 4, 0), (Px{20, 20, 20, 255}));

    // Runs and deltas that point outside the bitmap stop harmlessly.
    BmpSpec wild = rle8;
    wild.pixels = {255, 1, 0, 2, 255, 255, 0, 200, 1, 1, 1};
    WicDecoder clipped;
    EXPECT_TRUE(Decode(clipped, MakeBmp(wild)));
}

TEST(BmpReader, HostileHeadersFailCleanly) {
    BmpSpec valid;
    valid.width = 3;
    valid.height = 3;
    valid.pixels.assign(12 * 3, 7);
    const std::vector<uint8_t> good = MakeBmp(valid);
    WicDecoder decoder;
    ASSERT_TRUE(Decode(decoder, good));
    // Every truncation fails or decodes, never reads past the end (the sanitizers watch).
    for (size_t length = 1; length < good.size(); ++length) {
        WicDecoder cut;
        const std::vector<uint8_t> prefix(good.begin(), good.begin() + length);
        if (cut.LoadFromMemory(prefix.data(), prefix.size(), 0, 0, true)) {
            EXPECT_GE(length, good.size() - 3) << "only the last row's padding may be missing";
        }
    }
    const auto broken = [&](auto change) {
        BmpSpec spec = valid;
        change(spec);
        WicDecoder failing;
        return !Decode(failing, MakeBmp(spec)) && failing.GetPixels() == nullptr;
    };
    EXPECT_TRUE(broken([](BmpSpec& s) { s.width = 0; }));
    EXPECT_TRUE(broken([](BmpSpec& s) { s.height = 0; }));
    EXPECT_TRUE(broken([](BmpSpec& s) { s.height = INT32_MIN; }));
    EXPECT_TRUE(broken([](BmpSpec& s) { s.width = -3; }));
    EXPECT_TRUE(broken([](BmpSpec& s) { s.bits = 30000; }));
    EXPECT_TRUE(broken([](BmpSpec& s) { s.headerSize = 200; }));
    EXPECT_TRUE(broken([](BmpSpec& s) { s.compression = 1; })); // RLE8 with 24 bits
    EXPECT_TRUE(broken([](BmpSpec& s) { s.compression = 3; })); // bit fields with 24 bits
    EXPECT_TRUE(broken([](BmpSpec& s) {
        s.width = 3000000;
        s.height = 20000;
    }));
    EXPECT_TRUE(broken([](BmpSpec& s) { s.width = 30000; })); // rows the file does not hold
}

TEST(BmpSamples, EveryEncodingOfTheSamePictureDecodesAlike) {
    SKIP_WITHOUT_SAMPLES();
    const auto load = [](const char* name, WicDecoder& decoder) {
        return decoder.LoadPath((testing_support::SamplesDir() / "bmp" / name).string());
    };
    // bmpsuite stores one picture in many encodings; those with the same colours must agree exactly.
    const std::vector<std::vector<const char*>> groups = {
        {"bmpsuite_g_pal8v5.bmp", "bmpsuite_g_pal8topdown.bmp", "bmpsuite_g_pal8os2.bmp",
         "bmpsuite_g_pal8rle.bmp", "bmpsuite_q_pal8os2v2-16.bmp"},
        {"bmpsuite_g_rgb24.bmp", "bmpsuite_g_rgb32bf.bmp", "bmpsuite_q_rgb32fakealpha.bmp",
         "bmpsuite_q_rgb32h52.bmp"},
    };
    for (const auto& group : groups) {
        WicDecoder reference;
        ASSERT_TRUE(load(group.front(), reference));
        for (const char* name : group) {
            SCOPED_TRACE(name);
            WicDecoder other;
            ASSERT_TRUE(load(name, other));
            ASSERT_EQ(other.GetWidth(), 127u);
            ASSERT_EQ(other.GetHeight(), 64u);
            EXPECT_EQ(0, std::memcmp(other.GetPixels(), reference.GetPixels(), 127 * 64 * 4));
        }
    }
    WicDecoder reversed;
    WicDecoder normal;
    ASSERT_TRUE(load("bmpsuite_g_pal1wb.bmp", reversed));
    ASSERT_TRUE(load("bmpsuite_g_pal1.bmp", normal));
    EXPECT_EQ(0, std::memcmp(reversed.GetPixels(), normal.GetPixels(), 127 * 64 * 4));
    WicDecoder embeddedPng;
    ASSERT_TRUE(load("bmpsuite_q_rgb24png.bmp", embeddedPng));
    EXPECT_EQ(embeddedPng.GetWidth(), 127u);
    WicDecoder big;
    EXPECT_FALSE(load("bmpsuite_b_reallybig.bmp", big));
}

} // namespace
