#include "decode/color_management.h"
#include "decode/wic_decoder.h"
#include "platform/settings.h"
#include "tests/support/png_writer.h"
#include "tests/support/test_support.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <lcms2.h>
#include <sys/resource.h>
#include <thread>
#include <turbojpeg.h>

namespace {

using decode::WicDecoder;
using testing_support::EncodePng;
using testing_support::EncodeRgbaPng;
using testing_support::PngColor;
using testing_support::PngFormat;

PngFormat Format(PngColor color, int bitDepth) {
    PngFormat format;
    format.color = color;
    format.bitDepth = bitDepth;
    return format;
}

struct Bgra {
    int b, g, r, a;
};

Bgra PixelAt(const WicDecoder& decoder, uint32_t x, uint32_t y) {
    const uint8_t* p = decoder.GetPixels() + static_cast<size_t>(y) * decoder.GetStride() + x * 4;
    return {p[0], p[1], p[2], p[3]};
}

void ExpectPixel(const WicDecoder& decoder, uint32_t x, uint32_t y, Bgra expected, int tolerance = 0) {
    const Bgra actual = PixelAt(decoder, x, y);
    SCOPED_TRACE(testing::Message() << "pixel " << x << "," << y);
    EXPECT_NEAR(actual.b, expected.b, tolerance);
    EXPECT_NEAR(actual.g, expected.g, tolerance);
    EXPECT_NEAR(actual.r, expected.r, tolerance);
    EXPECT_NEAR(actual.a, expected.a, tolerance);
}

bool DecodeBytes(WicDecoder& decoder, const std::vector<uint8_t>& bytes, uint32_t targetWidth = 0,
                 uint32_t targetHeight = 0, bool highQuality = true) {
    return decoder.LoadFromMemory(bytes.data(), bytes.size(), targetWidth, targetHeight, highQuality);
}

std::vector<uint8_t> EncodeJpeg(uint32_t width, uint32_t height, uint8_t red, uint8_t green, uint8_t blue) {
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < rgb.size(); i += 3) {
        rgb[i] = red;
        rgb[i + 1] = green;
        rgb[i + 2] = blue;
    }
    tjhandle handle = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    const int status = tjCompress2(handle, rgb.data(), static_cast<int>(width), 0, static_cast<int>(height),
                                   TJPF_RGB, &jpeg, &size, TJSAMP_444, 95, 0);
    std::vector<uint8_t> bytes;
    if (status == 0) {
        bytes.assign(jpeg, jpeg + size);
    }
    tjFree(jpeg);
    tjDestroy(handle);
    return bytes;
}

// Restores the preferences a test changes.
class SettingsGuard {
public:
    SettingsGuard() : saved(platform::GlobalSettings()) {}
    ~SettingsGuard() { platform::GlobalSettings() = saved; }

private:
    platform::Settings saved;
};

TEST(WicDecoderPng, DecodesEachColourTypeAndDepthToPremultipliedBgra) {
    WicDecoder rgba;
    // Opaque red, half-transparent orange, fully transparent white.
    ASSERT_TRUE(
        DecodeBytes(rgba, EncodeRgbaPng(3, 1, {255, 0, 0, 255, 200, 100, 50, 128, 255, 255, 255, 0})));
    EXPECT_EQ(rgba.GetWidth(), 3u);
    EXPECT_EQ(rgba.GetHeight(), 1u);
    EXPECT_EQ(rgba.GetStride(), 12u);
    ExpectPixel(rgba, 0, 0, {0, 0, 255, 255});
    ExpectPixel(rgba, 1, 0, {25, 50, 100, 128}, 1);
    ExpectPixel(rgba, 2, 0, {0, 0, 0, 0});

    PngFormat rgb16 = Format(PngColor::Rgb, 16);
    WicDecoder deep;
    ASSERT_TRUE(DecodeBytes(deep, EncodePng(1, 1, rgb16, {0xFF, 0xFF, 0x80, 0x00, 0x00, 0x00})));
    ExpectPixel(deep, 0, 0, {0, 128, 255, 255}, 1);

    PngFormat gray1 = Format(PngColor::Gray, 1);
    WicDecoder bilevel;
    ASSERT_TRUE(DecodeBytes(bilevel, EncodePng(3, 1, gray1, {0b10100000})));
    ExpectPixel(bilevel, 0, 0, {255, 255, 255, 255});
    ExpectPixel(bilevel, 1, 0, {0, 0, 0, 255});

    PngFormat gray4 = Format(PngColor::Gray, 4);
    WicDecoder nibble;
    ASSERT_TRUE(DecodeBytes(nibble, EncodePng(2, 1, gray4, {0x8F})));
    ExpectPixel(nibble, 0, 0, {0x88, 0x88, 0x88, 255});
    ExpectPixel(nibble, 1, 0, {255, 255, 255, 255});

    PngFormat palette = Format(PngColor::Palette, 2);
    palette.palette = {1, 2, 3, 90, 80, 70, 10, 20, 30};
    palette.transparency = {255, 0};
    WicDecoder indexed;
    ASSERT_TRUE(DecodeBytes(indexed, EncodePng(3, 1, palette, {0b00011000})));
    ExpectPixel(indexed, 0, 0, {3, 2, 1, 255});
    ExpectPixel(indexed, 1, 0, {0, 0, 0, 0});
    ExpectPixel(indexed, 2, 0, {30, 20, 10, 255});

    PngFormat grayAlpha = Format(PngColor::GrayAlpha, 8);
    WicDecoder shaded;
    ASSERT_TRUE(DecodeBytes(shaded, EncodePng(2, 1, grayAlpha, {200, 255, 200, 0})));
    ExpectPixel(shaded, 0, 0, {200, 200, 200, 255});
    ExpectPixel(shaded, 1, 0, {0, 0, 0, 0});

    PngFormat gray16 = Format(PngColor::Gray, 16);
    gray16.transparency = {0x12, 0x34};
    WicDecoder keyed;
    ASSERT_TRUE(DecodeBytes(keyed, EncodePng(2, 1, gray16, {0x12, 0x34, 0xFF, 0xFF})));
    ExpectPixel(keyed, 0, 0, {0, 0, 0, 0});
    ExpectPixel(keyed, 1, 0, {255, 255, 255, 255});
}

TEST(WicDecoderPng, InterlacedAndProgressiveRowsGiveTheSamePixels) {
    const uint32_t width = 37;
    const uint32_t height = 23;
    std::vector<uint8_t> rgba(width * height * 4);
    for (uint32_t i = 0; i < width * height; ++i) {
        rgba[i * 4] = static_cast<uint8_t>(i * 7);
        rgba[i * 4 + 1] = static_cast<uint8_t>(i * 13);
        rgba[i * 4 + 2] = static_cast<uint8_t>(i * 3);
        rgba[i * 4 + 3] = static_cast<uint8_t>(i % 3 == 0 ? 255 : i * 11);
    }
    WicDecoder plain;
    WicDecoder interlaced;
    ASSERT_TRUE(DecodeBytes(plain, EncodeRgbaPng(width, height, rgba, false)));
    ASSERT_TRUE(DecodeBytes(interlaced, EncodeRgbaPng(width, height, rgba, true)));
    ASSERT_EQ(interlaced.GetWidth(), width);
    ASSERT_EQ(interlaced.GetHeight(), height);
    EXPECT_EQ(0, std::memcmp(plain.GetPixels(), interlaced.GetPixels(), width * height * 4));
    // Premultiplied: no colour byte exceeds its alpha.
    for (uint32_t i = 0; i < width * height; ++i) {
        const uint8_t* p = plain.GetPixels() + i * 4;
        ASSERT_LE(std::max({p[0], p[1], p[2]}), p[3]) << "pixel " << i;
    }
    // Reduced, both paths (band by band from rows, and from the whole raster) agree too.
    WicDecoder plainSmall;
    WicDecoder interlacedSmall;
    ASSERT_TRUE(DecodeBytes(plainSmall, EncodeRgbaPng(width, height, rgba, false), 10, 10));
    ASSERT_TRUE(DecodeBytes(interlacedSmall, EncodeRgbaPng(width, height, rgba, true), 10, 10));
    ASSERT_EQ(plainSmall.GetWidth(), 10u);
    ASSERT_EQ(plainSmall.GetHeight(), 6u);
    ASSERT_EQ(interlacedSmall.GetWidth(), 10u);
    EXPECT_EQ(0, std::memcmp(plainSmall.GetPixels(), interlacedSmall.GetPixels(), 10 * 6 * 4));
}

TEST(WicDecoder, RecognisesTheFormatByContentNotByName) {
    testing_support::TemporaryDirectory folder;
    const std::string pngNamedJpg =
        folder.Write("photo.jpg", EncodeRgbaPng(2, 2, std::vector<uint8_t>(16, 255)));
    WicDecoder png;
    ASSERT_TRUE(png.Load(pngNamedJpg, 0, 0, false));
    EXPECT_EQ(png.GetWidth(), 2u);
    ExpectPixel(png, 1, 1, {255, 255, 255, 255});

    const std::vector<uint8_t> jpeg = EncodeJpeg(64, 48, 0, 0, 255);
    ASSERT_FALSE(jpeg.empty());
    const std::string jpegNamedPng = folder.Write("picture.png", jpeg);
    WicDecoder fromFile;
    ASSERT_TRUE(fromFile.LoadPath(jpegNamedPng));
    EXPECT_EQ(fromFile.GetWidth(), 64u);
    EXPECT_EQ(fromFile.GetHeight(), 48u);
    ExpectPixel(fromFile, 20, 20, {255, 0, 0, 255}, 4);
    WicDecoder reduced;
    ASSERT_TRUE(DecodeBytes(reduced, jpeg, 16, 16));
    EXPECT_EQ(reduced.GetWidth(), 16u);
    EXPECT_EQ(reduced.GetHeight(), 12u);
    EXPECT_EQ(reduced.GetSourceWidth(), 64u);
    // A JPEG whose data ends early still shows what arrived.
    const std::vector<uint8_t> cut(jpeg.begin(), jpeg.end() - 6);
    WicDecoder truncated;
    ASSERT_TRUE(DecodeBytes(truncated, cut));
    EXPECT_EQ(truncated.GetHeight(), 48u);

    WicDecoder failing;
    const std::vector<uint8_t> text = {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'};
    EXPECT_FALSE(failing.LoadPath(folder.Write("notes.bmp", text)));
    EXPECT_FALSE(failing.LoadPath(folder.File("missing.png")));
    EXPECT_FALSE(failing.LoadFromMemory(nullptr, 10, 0, 0, true));
    EXPECT_FALSE(failing.LoadFromMemory(text.data(), 0, 0, 0, true));
    EXPECT_EQ(failing.GetPixels(), nullptr);
    EXPECT_EQ(failing.GetWidth(), 0u);

    // A second load replaces the first raster; a failed one leaves nothing behind.
    WicDecoder reused;
    ASSERT_TRUE(DecodeBytes(reused, EncodeRgbaPng(2, 2, std::vector<uint8_t>(16, 255))));
    ASSERT_TRUE(DecodeBytes(reused, EncodeRgbaPng(3, 1, std::vector<uint8_t>(12, 0))));
    EXPECT_EQ(reused.GetWidth(), 3u);
    EXPECT_FALSE(DecodeBytes(reused, text));
    EXPECT_EQ(reused.GetPixels(), nullptr);
}

TEST(WicDecoder, TruncatedAndCorruptPngsFailCleanly) {
    std::vector<uint8_t> rgba(64 * 64 * 4);
    for (size_t i = 0; i < rgba.size(); ++i) {
        rgba[i] = static_cast<uint8_t>(i * 31 + i / 7);
    }
    const std::vector<uint8_t> png = EncodeRgbaPng(64, 64, rgba);
    for (size_t cut : {size_t{8}, size_t{20}, size_t{40}, png.size() / 2, png.size() - 20}) {
        WicDecoder decoder;
        EXPECT_FALSE(DecodeBytes(decoder, std::vector<uint8_t>(png.begin(), png.begin() + cut))) << cut;
        EXPECT_EQ(decoder.GetPixels(), nullptr);
    }
    std::vector<uint8_t> corrupt = png;
    for (size_t i = 60; i < corrupt.size() - 20; i += 13) {
        corrupt[i] ^= 0x5A;
    }
    WicDecoder decoder;
    EXPECT_FALSE(DecodeBytes(decoder, corrupt));

    // A header declaring 2^20 x 2^20 pixels is refused before anything is allocated.
    std::vector<uint8_t> huge = EncodeRgbaPng(1, 1, {1, 2, 3, 4});
    huge[16] = 0x00;
    huge[17] = 0x10;
    huge[20] = 0x00;
    huge[21] = 0x10;
    EXPECT_FALSE(DecodeBytes(decoder, huge));
}

std::vector<uint8_t> LinearRgbProfile() {
    cmsCIExyY white;
    cmsWhitePointFromTemp(&white, 6504);
    const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
    cmsToneCurve* curves[3] = {linear, linear, linear};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    std::vector<uint8_t> bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    cmsFreeToneCurve(linear);
    return bytes;
}

TEST(WicDecoder, EmbeddedProfilesFollowTheColourManagementMode) {
    SettingsGuard guard;
    decode::CloseDisplayProfile();
    PngFormat format = Format(PngColor::Rgba, 8);
    format.iccProfile = LinearRgbProfile();
    // Mid grey, and the same grey at half coverage.
    const std::vector<uint8_t> png = EncodePng(2, 1, format, {128, 128, 128, 255, 128, 128, 128, 128});
    ASSERT_FALSE(png.empty());

    platform::GlobalSettings().colorManagement = 0;
    WicDecoder off;
    ASSERT_TRUE(DecodeBytes(off, png));
    ExpectPixel(off, 0, 0, {128, 128, 128, 255});

    // Linear 0.5 is about 188 in sRGB (the screen has no profile here).
    platform::GlobalSettings().colorManagement = 1;
    WicDecoder during;
    ASSERT_TRUE(DecodeBytes(during, png));
    ExpectPixel(during, 0, 0, {188, 188, 188, 255}, 3);
    ExpectPixel(during, 1, 0, {94, 94, 94, 128}, 3);

    // Mode 2 waits for the display profile that start-up opens.
    platform::GlobalSettings().colorManagement = 2;
    WicDecoder notOpened;
    ASSERT_TRUE(DecodeBytes(notOpened, png));
    ExpectPixel(notOpened, 0, 0, {128, 128, 128, 255});
    decode::OpenDisplayProfile();
    WicDecoder after;
    ASSERT_TRUE(DecodeBytes(after, png));
    decode::CloseDisplayProfile();
    ExpectPixel(after, 0, 0, {188, 188, 188, 255}, 3);
    ExpectPixel(after, 1, 0, {94, 94, 94, 128}, 3);

    // Without an embedded profile nothing changes in any mode.
    platform::GlobalSettings().colorManagement = 1;
    WicDecoder plain;
    ASSERT_TRUE(DecodeBytes(plain, EncodeRgbaPng(1, 1, {128, 128, 128, 255})));
    ExpectPixel(plain, 0, 0, {128, 128, 128, 255});
}

// A 2 x 2 8-bit grey TIFF whose directory chain loops back onto its only directory.
std::vector<uint8_t> LoopingTiff(uint32_t nextDirectory) {
    std::vector<uint8_t> out = {'I', 'I', 42, 0, 8, 0, 0, 0};
    const auto put16 = [&out](uint32_t value) {
        out.push_back(static_cast<uint8_t>(value));
        out.push_back(static_cast<uint8_t>(value >> 8));
    };
    const auto put32 = [&](uint32_t value) {
        put16(value & 0xFFFF);
        put16(value >> 16);
    };
    const uint16_t entries[][3] = {{256, 3, 2}, {257, 3, 2}, {258, 3, 8}, {259, 3, 1},
                                   {262, 3, 1}, {273, 4, 0}, {278, 3, 2}, {279, 4, 4}};
    const uint32_t dataOffset = 8 + 2 + 8 * 12 + 4;
    put16(8);
    for (const auto& entry : entries) {
        put16(entry[0]);
        put16(entry[1]);
        put32(1);
        put32(entry[0] == 273 ? dataOffset : entry[2]);
    }
    put32(nextDirectory);
    for (uint8_t value : {0, 85, 170, 255}) {
        out.push_back(value);
    }
    return out;
}

TEST(WicDecoder, TiffDirectoryLoopsDoNotHang) {
    for (uint32_t next : {8u, 0u}) {
        WicDecoder decoder;
        ASSERT_TRUE(DecodeBytes(decoder, LoopingTiff(next))) << next;
        EXPECT_EQ(decoder.GetWidth(), 2u);
        ExpectPixel(decoder, 1, 0, {85, 85, 85, 255});
        ExpectPixel(decoder, 0, 1, {170, 170, 170, 255});
    }
    // The first directory pointing at the header itself is refused.
    std::vector<uint8_t> selfish = LoopingTiff(0);
    selfish[4] = 0;
    WicDecoder decoder;
    EXPECT_FALSE(DecodeBytes(decoder, selfish));
}

TEST(WicDecoderSamples, GifFirstFrameSitsOnItsLogicalScreen) {
    SKIP_WITHOUT_SAMPLES();
    WicDecoder offset;
    ASSERT_TRUE(offset.LoadPath(
        (testing_support::SamplesDir() / "gif/pillow_first_frame_transparency.gif").string()));
    EXPECT_EQ(offset.GetWidth(), 75u);
    EXPECT_EQ(offset.GetHeight(), 50u);
    ExpectPixel(offset, 0, 0, {0, 0, 0, 0}); // left of the frame: uncovered
    // Transparent pixels are fully clear, visible ones fully opaque.
    for (uint32_t y = 0; y < 50; ++y) {
        for (uint32_t x = 0; x < 75; ++x) {
            const Bgra p = PixelAt(offset, x, y);
            ASSERT_TRUE(p.a == 0 || p.a == 255);
            if (p.a == 0) {
                ASSERT_EQ(p.b + p.g + p.r, 0);
            }
        }
    }
    WicDecoder interlaced;
    ASSERT_TRUE(interlaced.LoadPath(
        (testing_support::SamplesDir() / "gif/gifsuite_animated_loop_interlaced.gif").string()));
    EXPECT_EQ(interlaced.GetWidth(), 100u);
    WicDecoder bomb;
    EXPECT_FALSE(
        bomb.LoadPath((testing_support::SamplesDir() / "gif/pillow_decompression_bomb.gif").string()));
}

TEST(WicDecoderSamples, TiffAndJpegXrDecodeTheirFirstImage) {
    SKIP_WITHOUT_SAMPLES();
    const auto dir = testing_support::SamplesDir();
    WicDecoder multipage;
    ASSERT_TRUE(multipage.LoadPath((dir / "tiff/pillow_multipage.tiff").string()));
    EXPECT_EQ(multipage.GetWidth(), 10u);
    // Orientation 6 is left to the viewer: rows come as stored.
    WicDecoder rotated;
    ASSERT_TRUE(rotated.LoadPath((dir / "tiff/pillow_g4_orientation_6.tif").string()));
    EXPECT_EQ(rotated.GetWidth(), 88u);
    EXPECT_EQ(rotated.GetHeight(), 590u);
    WicDecoder reduced;
    ASSERT_TRUE(reduced.Load((dir / "tiff/sharp_G31D_MULTI.TIF").string(), 300, 300, true));
    EXPECT_EQ(reduced.GetSourceWidth(), 2464u);
    EXPECT_LE(reduced.GetWidth(), 300u);
    EXPECT_EQ(reduced.GetHeight(), 300u);
    // Directory entries that make jxrlib assert (an orientation out of range, a camera make stored as a
    // number) are dropped before it sees them.
    std::vector<uint8_t> hostile = testing_support::ReadFileBytes(dir / "jxr/imagecodecs_sample.jxr");
    ASSERT_GT(hostile.size(), 200u);
    const size_t directory = hostile[4] | hostile[5] << 8;
    const size_t transformation = directory + 2 + 1 * 12;
    ASSERT_EQ(hostile[transformation], 0x02);
    hostile[transformation + 8] = 200;
    const size_t resolution = directory + 2 + 4 * 12;
    ASSERT_EQ(hostile[resolution], 0x82);
    hostile[resolution] = 0x0F;
    hostile[resolution + 1] = 0x01;
    hostile[resolution + 2] = 3;
    WicDecoder sanitized;
    ASSERT_TRUE(DecodeBytes(sanitized, hostile));
    EXPECT_EQ(sanitized.GetWidth(), 100u);
    WicDecoder jxr;
    ASSERT_TRUE(jxr.LoadPath((dir / "jxr/imagecodecs_rgba32.jxr").string()));
    EXPECT_EQ(jxr.GetWidth(), 100u);
    for (uint32_t i = 0; i < 100 * 100; ++i) {
        ASSERT_EQ(jxr.GetPixels()[i * 4 + 3], 255);
    }
    // Image data that faults inside jxrlib fails the load, at full size and fitted, and nothing else.
    std::vector<uint8_t> corrupt = testing_support::ReadFileBytes(dir / "jxr/imagecodecs_rgba32.jxr");
    ASSERT_GT(corrupt.size(), 1180u);
    for (size_t i = 1164; i < 1180; ++i) {
        corrupt[i] ^= 0xFF;
    }
    WicDecoder faulty;
    EXPECT_FALSE(DecodeBytes(faulty, corrupt));
    EXPECT_FALSE(DecodeBytes(faulty, corrupt, 40, 40, false));
    EXPECT_TRUE(faulty.LoadPath((dir / "jxr/imagecodecs_rgba32.jxr").string()));
    EXPECT_EQ(faulty.GetWidth(), 100u);
}

TEST(WicDecoderSamples, ConcurrentLoadsMatchSingleThreadedOnes) {
    SKIP_WITHOUT_SAMPLES();
    const auto dir = testing_support::SamplesDir();
    const std::vector<std::string> files = {
        (dir / "png/pillow_icc_profile.png").string(), (dir / "gif/pillow_iss634_42frames.gif").string(),
        (dir / "bmp/bmpsuite_g_pal8rle.bmp").string(), (dir / "ico/pillow_multisize.ico").string(),
        (dir / "tiff/pillow_hopper_lzw.tif").string(), (dir / "jxr/imagecodecs_sample.jxr").string(),
    };
    std::vector<std::vector<uint8_t>> expected;
    for (const std::string& file : files) {
        WicDecoder decoder;
        ASSERT_TRUE(decoder.Load(file, 64, 64, true)) << file;
        expected.emplace_back(decoder.GetPixels(),
                              decoder.GetPixels() + decoder.GetStride() * decoder.GetHeight());
    }
    std::vector<int> mismatches(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 5; ++round) {
                for (size_t i = 0; i < files.size(); ++i) {
                    const size_t index = (i + static_cast<size_t>(t)) % files.size();
                    WicDecoder decoder;
                    if (!decoder.Load(files[index], 64, 64, true) ||
                        !std::equal(expected[index].begin(), expected[index].end(), decoder.GetPixels())) {
                        ++mismatches[static_cast<size_t>(t)];
                    }
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

// An uncompressed one-row TIFF of the given width and sample layout, with a few bytes of pixel data.
std::vector<uint8_t> DeclaredTiff(uint32_t width, uint16_t bits, uint16_t samples, uint16_t photometric) {
    std::vector<uint8_t> out = {'I', 'I', 42, 0, 8, 0, 0, 0};
    const auto put16 = [&out](uint32_t value) {
        out.push_back(static_cast<uint8_t>(value));
        out.push_back(static_cast<uint8_t>(value >> 8));
    };
    const auto put32 = [&](uint32_t value) {
        put16(value & 0xFFFF);
        put16(value >> 16);
    };
    const uint32_t entries[][3] = {{256, 4, width},   {257, 3, 1},           {258, 3, bits},
                                   {259, 3, 1},       {262, 3, photometric}, {273, 4, 0},
                                   {277, 3, samples}, {278, 3, 1},           {279, 4, 16}};
    const uint32_t count = sizeof(entries) / sizeof(entries[0]);
    const uint32_t dataOffset = 8 + 2 + count * 12 + 4;
    put16(count);
    for (const auto& entry : entries) {
        put16(entry[0]);
        put16(entry[1]);
        put32(1);
        put32(entry[0] == 273 ? dataOffset : entry[2]);
    }
    put32(0);
    out.resize(out.size() + 16, 0x55);
    return out;
}

long PeakResidentKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

TEST(WicDecoder, HugeDeclaredTiffRowsFailWithoutBeingAllocated) {
    // 2^28 pixels of four 12-bit samples: a 1.5 GiB scanline declared by a 150-byte file. The pixel
    // count is within the cap; the row must still not be allocated, let alone zeroed.
    const long before = PeakResidentKilobytes();
    WicDecoder rgba;
    EXPECT_FALSE(DecodeBytes(rgba, DeclaredTiff(1u << 28, 12, 4, 2)));
    WicDecoder gray;
    EXPECT_FALSE(DecodeBytes(gray, DeclaredTiff(1u << 28, 14, 2, 1)));
    EXPECT_LT(PeakResidentKilobytes() - before, 512L * 1024);
}

} // namespace
