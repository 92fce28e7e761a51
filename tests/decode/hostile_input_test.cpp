// Crafted files that once made the decoders allocate or work far beyond what their data holds, or take a
// library's error for success. Each must fail cleanly, or decode into a raster bounded by the output.
#include "decode/jpeg_turbo_decoder.h"
#include "decode/wic_decoder.h"
#include "tests/support/jpeg_writer.h"
#include "tests/support/png_writer.h"
#include "tests/support/test_support.h"

#include <atomic>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <tiffio.h>

// The sanitizer runtime's allocation hooks, present in the sanitizer builds only.
extern "C" {
int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, size_t),
                                              void (*)(const volatile void*)) __attribute__((weak));
size_t __sanitizer_get_allocated_size(const volatile void*) __attribute__((weak));
}

namespace {

// The peak of the bytes allocated and not yet freed while watching.
class AllocationWatch {
public:
    static bool Available() { return Installed(); }
    AllocationWatch() {
        live = 0;
        peak = 0;
        watching = Installed();
    }
    ~AllocationWatch() { watching = false; }
    int64_t PeakBytes() const { return peak; }

private:
    static bool Installed() {
        static const bool installed = __sanitizer_install_malloc_and_free_hooks != nullptr &&
                                      __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree) != 0;
        return installed;
    }
    static void OnMalloc(const volatile void*, size_t size) {
        if (watching) {
            const int64_t now = live += static_cast<int64_t>(size);
            int64_t seen = peak;
            while (now > seen && !peak.compare_exchange_weak(seen, now)) {
            }
        }
    }
    static void OnFree(const volatile void* pointer) {
        if (watching && pointer != nullptr) {
            live -= static_cast<int64_t>(__sanitizer_get_allocated_size(pointer));
        }
    }
    static inline std::atomic<bool> watching{false};
    static inline std::atomic<int64_t> live{0};
    static inline std::atomic<int64_t> peak{0};
};

void Put16(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

// A GIF whose screen is side x side with a 1 x 1 frame (35 bytes).
std::vector<uint8_t> TinyFrameGif(uint32_t side, bool interlaced) {
    std::vector<uint8_t> out = {'G', 'I', 'F', '8', '9', 'a'};
    Put16(out, side);
    Put16(out, side);
    out.insert(out.end(), {0x80, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x2C});
    Put32(out, 0);
    Put16(out, 1);
    Put16(out, 1);
    out.push_back(interlaced ? 0x40 : 0);
    out.insert(out.end(), {0x02, 0x02, 0x44, 0x01, 0x00, 0x3B});
    return out;
}

// An 8-bit RLE BMP of side x side: every row one run of colour 1 and an end-of-line code, or (short)
// only a few runs for the whole image.
std::vector<uint8_t> RleBmp(uint32_t side, bool everyRow) {
    std::vector<uint8_t> stream;
    for (uint32_t y = 0; y < (everyRow ? side : 1); ++y) {
        for (uint32_t x = 0; x < side; x += 255) {
            stream.push_back(static_cast<uint8_t>(std::min<uint32_t>(255, side - x)));
            stream.push_back(1);
        }
        stream.insert(stream.end(), {0, 0});
    }
    stream.insert(stream.end(), {0, 1});
    std::vector<uint8_t> out = {'B', 'M'};
    const uint32_t offset = 14 + 40 + 8;
    Put32(out, offset + static_cast<uint32_t>(stream.size()));
    Put32(out, 0);
    Put32(out, offset);
    for (const uint32_t value : {40u, side, side}) {
        Put32(out, value);
    }
    Put16(out, 1);
    Put16(out, 8);
    for (const uint32_t value : {1u, static_cast<uint32_t>(stream.size()), 2835u, 2835u, 2u, 0u}) {
        Put32(out, value);
    }
    out.insert(out.end(), {0, 0, 0xFF, 0, 0, 0xFF, 0, 0}); // red, green
    out.insert(out.end(), stream.begin(), stream.end());
    return out;
}

// An interlaced 1-bit grey PNG of side x side, all white; `complete` false keeps only its header.
std::vector<uint8_t> InterlacedPng(uint32_t side, bool complete) {
    testing_support::PngFormat format;
    format.color = testing_support::PngColor::Gray;
    format.bitDepth = 1;
    format.interlaced = true;
    format.compressionLevel = 9;
    std::vector<uint8_t> png = testing_support::EncodePng(
        complete ? side : 1, complete ? side : 1, format,
        std::vector<uint8_t>(
            testing_support::PngRowBytes(complete ? side : 1, format) * (complete ? side : 1), 0xFF));
    if (!complete) {
        // Declare side x side over the data of one pixel (the header's CRC is not checked by the reader's
        // caller; libpng checks it, so rewrite it too).
        for (int i = 0; i < 4; ++i) {
            png[16 + i] = png[20 + i] = static_cast<uint8_t>(side >> (24 - 8 * i));
        }
        uint32_t crc = 0xFFFFFFFF;
        for (size_t i = 12; i < 29; ++i) {
            crc ^= png[i];
            for (int bit = 0; bit < 8; ++bit) {
                crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
            }
        }
        crc = ~crc;
        for (int i = 0; i < 4; ++i) {
            png[29 + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
        }
    }
    return png;
}

// A progressive 8-bit grey JPEG of side x side with `scans` scans of (almost) no data.
std::vector<uint8_t> EmptyProgressiveJpeg(uint32_t side, int scans) {
    std::vector<uint8_t> out = {0xFF, 0xD8};
    const auto segment = [&out](uint8_t marker, std::vector<uint8_t> payload) {
        out.insert(out.end(), {0xFF, marker, static_cast<uint8_t>((payload.size() + 2) >> 8),
                               static_cast<uint8_t>(payload.size() + 2)});
        out.insert(out.end(), payload.begin(), payload.end());
    };
    std::vector<uint8_t> quantisation(65, 1);
    quantisation[0] = 0;
    segment(0xDB, quantisation);
    segment(0xC2, {8, static_cast<uint8_t>(side >> 8), static_cast<uint8_t>(side),
                   static_cast<uint8_t>(side >> 8), static_cast<uint8_t>(side), 1, 1, 0x11, 0});
    segment(0xC4, {0x00, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    segment(0xC4, {0x10, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xE0});
    for (int scan = 0; scan < scans; ++scan) {
        const bool dc = scan == 0 || scan % 2 == 0;
        segment(0xDA, {1, 1, 0, static_cast<uint8_t>(dc ? 0 : 1), static_cast<uint8_t>(dc ? 0 : 63),
                       static_cast<uint8_t>(scan == 0 ? 0x01 : (dc ? 0x10 : 0x00))});
        out.push_back(0);
    }
    out.insert(out.end(), {0xFF, 0xD9});
    return out;
}

// A TIFF written by libtiff: `fields` sets the tags, then `data` holds the raw samples of every strip
// (or tile), written whole.
std::vector<uint8_t> WriteTiff(const std::function<void(TIFF*)>& fields, const std::vector<uint8_t>& data,
                               bool tiled = false) {
    testing_support::TemporaryDirectory folder;
    const std::string path = folder.File("image.tif");
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    if (tiff == nullptr) {
        return {};
    }
    fields(tiff);
    const tmsize_t chunk = tiled ? TIFFTileSize(tiff) : TIFFStripSize(tiff);
    const uint32_t chunks = tiled ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
    for (uint32_t i = 0; i < chunks; ++i) {
        void* bytes = const_cast<uint8_t*>(data.data()) + static_cast<size_t>(chunk) * i;
        if ((tiled ? TIFFWriteEncodedTile(tiff, i, bytes, chunk)
                   : TIFFWriteEncodedStrip(tiff, i, bytes, chunk)) < 0) {
            TIFFClose(tiff);
            return {};
        }
    }
    TIFFClose(tiff);
    return testing_support::ReadFileBytes(path);
}

// 64 x 64 RGB, Deflate, in 16 x 16 tiles or 16-row strips, of varied samples.
std::vector<uint8_t> DeflateTiff(bool tiled) {
    std::vector<uint8_t> samples(64 * 64 * 3);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<uint8_t>(i * 7 + i / 190);
    }
    return WriteTiff(
        [tiled](TIFF* tiff) {
            TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, 64);
            TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, 64);
            TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
            TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
            TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
            TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
            TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
            if (tiled) {
                TIFFSetField(tiff, TIFFTAG_TILEWIDTH, 16);
                TIFFSetField(tiff, TIFFTAG_TILELENGTH, 16);
            } else {
                TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 16);
            }
        },
        // Tiles are written from the same buffer in tile order; any content will do.
        samples, tiled);
}

// Damages the compressed data of the third strip or tile (its zlib header kept).
std::vector<uint8_t> Damaged(std::vector<uint8_t> bytes) {
    testing_support::TemporaryDirectory folder;
    TIFF* tiff = TIFFOpen(folder.Write("image.tif", bytes).c_str(), "r");
    if (tiff == nullptr) {
        return {};
    }
    const uint64_t offset = TIFFGetStrileOffset(tiff, 2);
    const uint64_t count = TIFFGetStrileByteCount(tiff, 2);
    TIFFClose(tiff);
    for (uint64_t i = offset + 2; i + 4 < offset + count && i < bytes.size(); ++i) {
        bytes[i] ^= 0xA5;
    }
    return bytes;
}

// A side x side 8-bit grey TIFF in one strip whose data is a few bytes of the given compression.
std::vector<uint8_t> ShortStreamTiff(uint32_t side, uint16_t compression) {
    std::vector<uint8_t> out = {'I', 'I', 42, 0, 8, 0, 0, 0};
    const uint32_t entries[][3] = {{256, 4, side},        {257, 4, side}, {258, 3, 8},
                                   {259, 3, compression}, {262, 3, 1},    {273, 4, 0},
                                   {277, 3, 1},           {278, 4, side}, {279, 4, 12}};
    const uint32_t count = sizeof(entries) / sizeof(entries[0]);
    Put16(out, count);
    for (const auto& entry : entries) {
        Put16(out, entry[0]);
        Put16(out, entry[1]);
        Put32(out, 1);
        Put32(out, entry[0] == 273 ? 8 + 2 + count * 12 + 4 : entry[2]);
    }
    Put32(out, 0);
    out.insert(out.end(), {0x78, 0x9C, 0x63, 0x60, 0x18, 0x05, 0xA3, 0x60, 0x14, 0x0C, 0x77, 0x00});
    return out;
}

// A progressive JPEG whose decoding first warns (stray bytes before its second scan) and then fails (that
// scan names a Huffman table that was never defined).
std::vector<uint8_t> WarnsThenFailsJpeg() {
    std::vector<uint8_t> jpeg = testing_support::EncodeJpeg(
        32, 32, [](uint32_t x, uint32_t y) { return testing_support::NoisePixel(x, y); },
        testing_support::Progressive(testing_support::JpegOptions(90, testing_support::JpegChroma::Full444)));
    int scans = 0;
    for (size_t i = 2; i + 6 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA && ++scans == 2) {
            jpeg[i + 6] = 0x33; // the first component's tables: 3
            jpeg.insert(jpeg.begin() + static_cast<long>(i), {0x12, 0x34, 0x56});
            break;
        }
    }
    return jpeg;
}

struct HostileCase {
    const char* name;
    std::function<std::vector<uint8_t>()> make;
    uint32_t target;       // square target side; 0 for full size
    uint32_t decodedSide;  // 0: must fail
    int64_t maximumBytes;  // peak live allocation while decoding
    bool wicRoute = false; // JPEG data through the WIC-format decoder, the second chance for JPEGs
};

TEST(HostileInput, CraftedFilesFailOrDecodeWithinTheirOutput) {
    constexpr int64_t kMiB = 1 << 20;
    const HostileCase cases[] = {
        // Declared sizes no data could fill fail at once.
        {"35-byte GIF, 16384^2 screen", [] { return TinyFrameGif(16384, false); }, 1080, 0, kMiB},
        {"35-byte interlaced GIF", [] { return TinyFrameGif(16384, true); }, 1080, 0, kMiB},
        {"RLE8 BMP 16384^2 of one row", [] { return RleBmp(16384, false); }, 1080, 0, kMiB},
        {"interlaced PNG 16384^2 of one pixel", [] { return InterlacedPng(16384, false); }, 1080, 0, kMiB},
        {"progressive JPEG 16384^2, 256 empty scans", [] { return EmptyProgressiveJpeg(16384, 256); }, 1080,
         0, kMiB},
        // Plausible ones decode into the reduced output, never holding the 16 MiB source raster.
        {"GIF frame on a 2048^2 screen", [] { return TinyFrameGif(2048, false); }, 256, 256, 3 * kMiB},
        {"interlaced GIF frame on a 2048^2 screen", [] { return TinyFrameGif(2048, true); }, 256, 256,
         3 * kMiB},
        {"RLE8 BMP 2048^2", [] { return RleBmp(2048, true); }, 256, 256, 3 * kMiB},
        {"interlaced PNG 2048^2", [] { return InterlacedPng(2048, true); }, 256, 256, 3 * kMiB},
        {"progressive JPEG 2048^2, 40 empty scans", [] { return EmptyProgressiveJpeg(2048, 40); }, 256, 256,
         12 * kMiB},
        // A library's error is an error: no tile or strip of stale or invented pixels.
        {"tiled Deflate TIFF with a corrupt tile", [] { return Damaged(DeflateTiff(true)); }, 0, 0, kMiB},
        {"Deflate TIFF with a corrupt strip", [] { return Damaged(DeflateTiff(false)); }, 0, 0, kMiB},
        {"TIFF control: intact tiles", [] { return DeflateTiff(true); }, 0, 64, kMiB},
        {"JPEG that warns, then fails", WarnsThenFailsJpeg, 0, 0, kMiB},
        {"JPEG that warns, then fails, second chance", WarnsThenFailsJpeg, 0, 0, kMiB, true},
        {"16384^2 Deflate TIFF of 12 bytes", [] { return ShortStreamTiff(16384, COMPRESSION_ADOBE_DEFLATE); },
         1080, 0, kMiB},
        {"16384^2 LZMA TIFF of 12 bytes", [] { return ShortStreamTiff(16384, COMPRESSION_LZMA); }, 1080, 0,
         100 * kMiB},
    };
    for (const HostileCase& test : cases) {
        SCOPED_TRACE(test.name);
        const std::vector<uint8_t> bytes = test.make();
        ASSERT_FALSE(bytes.empty());
        for (const bool highQuality : {false, true}) {
            // The decoder the viewer picks: JPEG data goes to the JPEG decoder.
            std::unique_ptr<decode::IDecoder> chosen;
            if (bytes[0] == 0xFF && !test.wicRoute) {
                chosen = std::make_unique<decode::JpegTurboDecoder>();
            } else {
                chosen = std::make_unique<decode::WicDecoder>();
            }
            decode::IDecoder& decoder = *chosen;
            AllocationWatch watch;
            const bool decoded =
                decoder.LoadFromMemory(bytes.data(), bytes.size(), test.target, test.target, highQuality);
            const int64_t peak = watch.PeakBytes();
            EXPECT_EQ(decoded, test.decodedSide != 0);
            if (decoded) {
                EXPECT_EQ(decoder.GetWidth(), test.decodedSide);
                EXPECT_EQ(decoder.GetHeight(), test.decodedSide);
            } else {
                EXPECT_EQ(decoder.GetPixels(), nullptr);
            }
            if (AllocationWatch::Available()) {
                EXPECT_LE(peak, test.maximumBytes) << "high quality " << highQuality;
            }
        }
    }
}

} // namespace

namespace {

// One pixel of `bits`-bit samples, packed by the caller, with the given photometric and extra samples.
std::vector<uint8_t> OnePixelTiff(uint16_t bits, uint16_t samples, uint16_t photometric, uint16_t extra,
                                  const std::vector<uint8_t>& packed) {
    return WriteTiff(
        [&](TIFF* tiff) {
            TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, 1);
            TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, 1);
            TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, bits);
            TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples);
            TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, photometric);
            TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
            TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 1);
            if (extra != 0xFFFF) {
                TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &extra);
            }
        },
        packed);
}

TEST(HostileInput, ValidTiffsOnceRefusedOrMisconvertedDecode) {
    testing_support::TemporaryDirectory folder;
    // Uncompressed 16 x 16 tiles whose byte count is not what libtiff's unmapped reading expects.
    const std::string tiled = folder.File("tiled.tif");
    ASSERT_EQ(
        std::system(
            ("convert -size 64x48 gradient:red-blue -define tiff:tile-geometry=16x16 -compress none " + tiled)
                .c_str()),
        0);
    decode::WicDecoder tiles;
    ASSERT_TRUE(tiles.LoadPath(tiled));
    EXPECT_EQ(tiles.GetWidth(), 64u);
    const uint8_t* top = tiles.GetPixels();
    const uint8_t* bottom = tiles.GetPixels() + 47 * tiles.GetStride();
    EXPECT_GT(top[2], 240);    // red at the top
    EXPECT_GT(bottom[0], 240); // blue at the bottom

    struct PixelCase {
        const char* name;
        std::vector<uint8_t> tiff;
        uint8_t blue, green, red, alpha;
    };
    const PixelCase cases[] = {
        // 12-bit RGBA with associated alpha: half red over half coverage, already premultiplied.
        {"associated alpha",
         OnePixelTiff(12, 4, PHOTOMETRIC_RGB, EXTRASAMPLE_ASSOCALPHA, {0x80, 0x04, 0x00, 0x00, 0x08, 0x00}),
         0, 64, 128, 128},
        {"unassociated alpha",
         OnePixelTiff(12, 4, PHOTOMETRIC_RGB, EXTRASAMPLE_UNASSALPHA, {0x80, 0x04, 0x00, 0x00, 0x08, 0x00}),
         0, 32, 64, 128},
        // CIELab L* 50, neutral: sRGB 119 through Little CMS.
        {"CIELab grey", OnePixelTiff(8, 3, PHOTOMETRIC_CIELAB, 0xFFFF, {128, 0, 0}), 119, 119, 119, 255},
    };
    for (const PixelCase& test : cases) {
        SCOPED_TRACE(test.name);
        decode::WicDecoder decoder;
        ASSERT_TRUE(decoder.LoadFromMemory(test.tiff.data(), test.tiff.size(), 0, 0, true));
        const uint8_t* pixel = decoder.GetPixels();
        EXPECT_NEAR(pixel[0], test.blue, 2);
        EXPECT_NEAR(pixel[1], test.green, 2);
        EXPECT_NEAR(pixel[2], test.red, 2);
        EXPECT_NEAR(pixel[3], test.alpha, 1);
    }
}

} // namespace

namespace {

TEST(HostileInput, ImagesBeyondTheRasterCapOpenFitted) {
    // 16400 x 16400 is more than a raster may hold (2^28 pixels); read row by row it needs only the
    // fitted result.
    testing_support::TemporaryDirectory folder;
    const std::string path = folder.File("large.png");
    testing_support::PngFormat format;
    format.color = testing_support::PngColor::Gray;
    format.bitDepth = 1;
    constexpr uint32_t kSide = 16400;
    ASSERT_TRUE(testing_support::WritePngFile(path, kSide, kSide, format, [](uint32_t y, uint8_t* row) {
        std::memset(row, y < kSide / 2 ? 0x00 : 0xFF, (kSide + 7) / 8);
    }));
    decode::WicDecoder decoder;
    AllocationWatch watch;
    ASSERT_TRUE(decoder.Load(path, 1920, 1080, false));
    EXPECT_EQ(decoder.GetSourceWidth(), kSide);
    EXPECT_EQ(decoder.GetWidth(), 1080u);
    EXPECT_EQ(decoder.GetHeight(), 1080u);
    EXPECT_EQ(decoder.GetPixels()[0], 0);                            // black top half
    EXPECT_EQ(decoder.GetPixels()[1079 * decoder.GetStride()], 255); // white bottom half
    if (AllocationWatch::Available()) {
        EXPECT_LE(watch.PeakBytes(), int64_t{16} << 20);
    }
    // At full size it is beyond the cap and fails cleanly.
    decode::WicDecoder full;
    EXPECT_FALSE(full.Load(path, 0, 0, false));
}

} // namespace
