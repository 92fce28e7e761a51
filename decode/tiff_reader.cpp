#include "decode/tiff_reader.h"

#include "decode/color_management.h"

#include <algorithm>
#include <cstring>
#include <libyuv/convert_argb.h>
#include <memory>
#include <tiffio.h>
#include <vector>

namespace decode {

namespace {

// libtiff's own allocations for one strip or tile; far above any real strip, far below a bomb.
constexpr tmsize_t kMaxTiffAllocation = tmsize_t{256} << 20;
// The RGBA rows read per call.
constexpr uint64_t kMaxBandBytes = uint64_t{16} << 20;

struct TiffInput {
    const uint8_t* data;
    uint64_t size;
    uint64_t offset;
};

tmsize_t ReadProc(thandle_t handle, void* destination, tmsize_t length) {
    auto* input = static_cast<TiffInput*>(handle);
    if (length <= 0 || input->offset >= input->size) {
        return 0;
    }
    const uint64_t count = std::min<uint64_t>(static_cast<uint64_t>(length), input->size - input->offset);
    std::memcpy(destination, input->data + input->offset, count);
    input->offset += count;
    return static_cast<tmsize_t>(count);
}

tmsize_t WriteProc(thandle_t, void*, tmsize_t) {
    return 0;
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
    auto* input = static_cast<TiffInput*>(handle);
    uint64_t base = 0;
    if (whence == SEEK_CUR) {
        base = input->offset;
    } else if (whence == SEEK_END) {
        base = input->size;
    }
    if (offset > UINT64_MAX - base) {
        return static_cast<toff_t>(-1);
    }
    input->offset = base + offset;
    return input->offset;
}

int CloseProc(thandle_t) {
    return 0;
}
toff_t SizeProc(thandle_t handle) {
    return static_cast<TiffInput*>(handle)->size;
}
// The caller's bytes stand in for a mapping of the file, which libtiff only reads. Its unmapped reading
// of uncompressed tiles refuses valid files whose tile byte count exceeds the tile's size.
int MapProc(thandle_t handle, void** base, toff_t* size) {
    auto* input = static_cast<TiffInput*>(handle);
    *base = const_cast<uint8_t*>(input->data);
    *size = input->size;
    return 1;
}
void UnmapProc(thandle_t, void*, toff_t) {}

int IgnoreMessage(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

// Errors are counted: some decoding paths report a failure only through the error handler.
int CountError(TIFF*, void* errors, const char*, const char*, va_list) {
    ++*static_cast<int*>(errors);
    return 1;
}

// The most raw bytes one compressed byte can stand for under each compression, for judging a declared
// size against the data. Codecs without a simple bound (fax codes, which spend a bit on a blank row,
// LZMA, ZSTD, ...) get a generous one.
uint64_t MaximumExpansion(uint16_t compression) {
    switch (compression) {
    case COMPRESSION_NONE:
        return 1;
    case COMPRESSION_PACKBITS:
        return 64; // two bytes repeat one byte 128 times
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
        return 1032;
    case COMPRESSION_LZW:
        return 4096 * 8 / 9; // a 9-bit code at best for a 4096-byte string
    case COMPRESSION_JPEG:
        return 2048; // two bits at least for a block of 64 samples, and subsampled colour
    default:
        return uint64_t{1} << 16;
    }
}

// Whether the strips or tiles of the current directory hold enough data for the raw bytes they declare.
bool DeclaredDataPlausible(TIFF* tiff, uint64_t fileSize) {
    const bool tiled = TIFFIsTiled(tiff) != 0;
    const uint64_t chunks = tiled ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
    // Several strips keep their offsets in arrays of at least two bytes an entry.
    if (chunks == 0 || (chunks > 1 && chunks > fileSize / 2)) {
        return false;
    }
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
    const uint64_t expansion = MaximumExpansion(compression);
    uint64_t needed = 0;
    if (tiled) {
        needed = static_cast<uint64_t>(TIFFTileSize64(tiff)) * chunks;
    } else {
        // The last strip of each plane holds only the rows left.
        uint32_t height = 0;
        uint32_t rowsPerStrip = 0;
        TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        rowsPerStrip = std::clamp<uint32_t>(rowsPerStrip, 1, std::max<uint32_t>(height, 1));
        const uint64_t stripsPerPlane = (uint64_t{height} + rowsPerStrip - 1) / rowsPerStrip;
        const uint64_t planes = std::max<uint64_t>(1, chunks / std::max<uint64_t>(stripsPerPlane, 1));
        const uint64_t lastRows = height - (stripsPerPlane - 1) * rowsPerStrip;
        needed = planes * (static_cast<uint64_t>(TIFFStripSize64(tiff)) * (stripsPerPlane - 1) +
                           static_cast<uint64_t>(TIFFVStripSize64(tiff, static_cast<uint32_t>(lastRows))));
    }
    uint64_t stored = 0;
    for (uint32_t i = 0; i < chunks && stored * expansion < needed; ++i) {
        stored += TIFFGetStrileByteCount(tiff, i);
    }
    return needed <= stored * expansion;
}

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
struct OptionsDeleter {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

// Ends the RGBA state on every path out.
class RgbaImage {
public:
    RgbaImage() { std::memset(&image, 0, sizeof(image)); }
    ~RgbaImage() {
        if (begun) {
            TIFFRGBAImageEnd(&image);
        }
    }
    RgbaImage(const RgbaImage&) = delete;
    RgbaImage& operator=(const RgbaImage&) = delete;
    // Stops at the first error of a strip or tile, rather than going on with what the buffer held.
    bool Begin(TIFF* tiff) {
        char message[1024] = {};
        begun = TIFFRGBAImageBegin(&image, tiff, 1, message) != 0;
        return begun;
    }
    TIFFRGBAImage image;

private:
    bool begun = false;
};

// Whether the first extra sample is alpha already multiplied into the colours, as libtiff decides it: an
// associated alpha, or an unspecified one beside three colour samples.
bool AlphaIsAssociated(TIFF* tiff, uint16_t samples) {
    uint16_t count = 0;
    uint16_t* types = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &count, &types) != 1 || count == 0 || types == nullptr) {
        return false;
    }
    return types[0] == EXTRASAMPLE_ASSOCALPHA || (types[0] == EXTRASAMPLE_UNSPECIFIED && samples > 3);
}

// Premultiplied colours never exceed their alpha; a file's rounding may make them, which would overflow
// when the view blends.
void ClampToAlpha(uint8_t* pixels, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i, pixels += 4) {
        for (int c = 0; c < 3; ++c) {
            pixels[c] = std::min(pixels[c], pixels[3]);
        }
    }
}

// Reads one unsigned sample of `bits` bits (1..16) at sample index `index` of an MSB-first packed row.
uint32_t UnpackSample(const uint8_t* row, uint64_t index, uint32_t bits) {
    uint64_t bit = index * bits;
    uint32_t value = 0;
    for (uint32_t i = 0; i < bits; ++i, ++bit) {
        value = (value << 1) | ((row[bit / 8] >> (7 - bit % 8)) & 1);
    }
    return value;
}

// libtiff's RGBA interface knows 1, 2, 4, 8 and 16 bits only. Strip images with other integer depths
// (10, 12 and 14 bits are common from scanners and cameras), grey or RGB with optional alpha, are read
// scanline by scanline here and widened to 8 bits.
bool ReadUncommonDepth(TIFF* tiff, uint32_t width, uint32_t height, RasterBuilder& out) {
    uint16_t bits = 0;
    uint16_t samples = 1;
    uint16_t photometric = 0;
    uint16_t planar = PLANARCONFIG_CONTIG;
    uint16_t format = SAMPLEFORMAT_UINT;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
    if (TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric) != 1 || TIFFIsTiled(tiff) != 0 ||
        planar != PLANARCONFIG_CONTIG || format != SAMPLEFORMAT_UINT || bits == 0 || bits > 16) {
        return false;
    }
    const bool gray = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
    const uint32_t colorSamples = gray ? 1 : 3;
    if ((!gray && photometric != PHOTOMETRIC_RGB) || samples < colorSamples || samples > colorSamples + 1) {
        return false;
    }
    const bool hasAlpha = samples == colorSamples + 1;
    const bool premultiplied = hasAlpha && AlphaIsAssociated(tiff, samples);
    const tmsize_t scanlineSize = TIFFScanlineSize(tiff);
    // A row larger than libtiff's own allocation limit could never be read; refuse it before it is
    // allocated (a tiny file can declare gigabytes per row).
    if (scanlineSize <= 0 || scanlineSize > kMaxTiffAllocation ||
        uint64_t(scanlineSize) * 8 < uint64_t{width} * samples * bits || !out.Begin(width, height)) {
        return false;
    }
    const std::unique_ptr<uint8_t[]> scanline = AllocateRaster(static_cast<uint64_t>(scanlineSize));
    if (!scanline) {
        return false;
    }
    const uint32_t maximum = (1u << bits) - 1;
    const auto widen = [maximum](uint32_t value) {
        return static_cast<uint8_t>((value * 255 + maximum / 2) / maximum);
    };
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = out.RowBuffer();
        if (row == nullptr || TIFFReadScanline(tiff, scanline.get(), y, 0) < 0) {
            return false;
        }
        for (uint32_t x = 0; x < width; ++x) {
            const uint64_t first = uint64_t{x} * samples;
            uint8_t* pixel = row + uint64_t{x} * 4;
            if (gray) {
                uint8_t value = widen(UnpackSample(scanline.get(), first, bits));
                if (photometric == PHOTOMETRIC_MINISWHITE) {
                    value = static_cast<uint8_t>(255 - value);
                }
                pixel[0] = pixel[1] = pixel[2] = value;
            } else {
                pixel[2] = widen(UnpackSample(scanline.get(), first, bits));
                pixel[1] = widen(UnpackSample(scanline.get(), first + 1, bits));
                pixel[0] = widen(UnpackSample(scanline.get(), first + 2, bits));
            }
            pixel[3] = hasAlpha ? widen(UnpackSample(scanline.get(), first + colorSamples, bits)) : 255;
        }
        if (premultiplied) {
            ClampToAlpha(row, width);
        } else if (hasAlpha) {
            PremultiplyRow(row, width);
        }
        if (!out.CommitRow()) {
            return false;
        }
    }
    return true;
}

// CIE L*a*b* strip images of 8 or 16 bits (CIELab with signed a* and b*, or ICC Lab with offset ones),
// converted to sRGB through Little CMS; an extra sample is taken as alpha. Tiled and planar Lab images
// are left to libtiff's own conversion.
bool IsOwnLab(TIFF* tiff) {
    uint16_t photometric = 0;
    uint16_t bits = 0;
    uint16_t samples = 1;
    uint16_t planar = PLANARCONFIG_CONTIG;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    return TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric) == 1 &&
           (photometric == PHOTOMETRIC_CIELAB || photometric == PHOTOMETRIC_ICCLAB) &&
           (bits == 8 || bits == 16) && (samples == 3 || samples == 4) && planar == PLANARCONFIG_CONTIG &&
           TIFFIsTiled(tiff) == 0;
}

bool ReadLab(TIFF* tiff, uint32_t width, uint32_t height, RasterBuilder& out) {
    uint16_t photometric = 0;
    uint16_t bits = 0;
    uint16_t samples = 1;
    TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    const bool signedAxes = photometric == PHOTOMETRIC_CIELAB;
    const bool hasAlpha = samples == 4;
    const bool premultiplied = hasAlpha && AlphaIsAssociated(tiff, samples);
    const tmsize_t scanlineSize = TIFFScanlineSize(tiff);
    const uint64_t bytesPerSample = bits / 8;
    const LabToSrgb converter;
    if (!converter.IsValid() || scanlineSize <= 0 || scanlineSize > kMaxTiffAllocation ||
        uint64_t(scanlineSize) < uint64_t{width} * samples * bytesPerSample || !out.Begin(width, height)) {
        return false;
    }
    const std::unique_ptr<uint8_t[]> scanline = AllocateRaster(static_cast<uint64_t>(scanlineSize));
    const std::unique_ptr<uint8_t[]> labRow = AllocateRaster(uint64_t{width} * 3 * sizeof(float));
    if (!scanline || !labRow) {
        return false;
    }
    auto* lab = reinterpret_cast<float*>(labRow.get());
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = out.RowBuffer();
        if (row == nullptr || TIFFReadScanline(tiff, scanline.get(), y, 0) < 0) {
            return false;
        }
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t* pixel = scanline.get() + uint64_t{x} * samples * bytesPerSample;
            float* target = lab + uint64_t{x} * 3;
            if (bits == 8) {
                target[0] = pixel[0] * (100.0f / 255.0f);
                target[1] = signedAxes ? static_cast<int8_t>(pixel[1]) : pixel[1] - 128.0f;
                target[2] = signedAxes ? static_cast<int8_t>(pixel[2]) : pixel[2] - 128.0f;
                row[uint64_t{x} * 4 + 3] = hasAlpha ? pixel[3] : 255;
            } else {
                // Samples in the file's byte order were swapped to the host's by libtiff.
                uint16_t value[4] = {};
                std::memcpy(value, pixel, samples * bytesPerSample);
                target[0] = value[0] * (100.0f / 65535.0f);
                target[1] = signedAxes ? static_cast<int16_t>(value[1]) / 256.0f : value[1] / 256.0f - 128.0f;
                target[2] = signedAxes ? static_cast<int16_t>(value[2]) / 256.0f : value[2] / 256.0f - 128.0f;
                row[uint64_t{x} * 4 + 3] =
                    hasAlpha ? static_cast<uint8_t>((value[3] * 255u + 32767u) / 65535u) : 255;
            }
        }
        converter.Convert(lab, row, width);
        if (premultiplied) {
            ClampToAlpha(row, width);
        } else if (hasAlpha) {
            PremultiplyRow(row, width);
        }
        if (!out.CommitRow()) {
            return false;
        }
    }
    return true;
}

} // namespace

bool IsTiffSignature(const uint8_t* data, size_t size) {
    if (data == nullptr || size < 8) {
        return false;
    }
    const bool little = data[0] == 'I' && data[1] == 'I' && (data[2] == 42 || data[2] == 43) && data[3] == 0;
    const bool big = data[0] == 'M' && data[1] == 'M' && data[2] == 0 && (data[3] == 42 || data[3] == 43);
    return little || big;
}

bool ReadTiff(const uint8_t* data, size_t size, RasterBuilder& out, std::vector<uint8_t>* iccProfile) {
    if (!IsTiffSignature(data, size)) {
        return false;
    }
    std::unique_ptr<TIFFOpenOptions, OptionsDeleter> options(TIFFOpenOptionsAlloc());
    if (!options) {
        return false;
    }
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kMaxTiffAllocation);
    int errors = 0;
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), CountError, &errors);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), IgnoreMessage, nullptr);
    TiffInput input{data, size, 0};
    std::unique_ptr<TIFF, TiffCloser> tiff(TIFFClientOpenExt("memory", "r", &input, ReadProc, WriteProc,
                                                             SeekProc, CloseProc, SizeProc, MapProc,
                                                             UnmapProc, options.get()));
    if (!tiff) {
        return false;
    }
    uint32_t width = 0;
    uint32_t height = 0;
    if (TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width) != 1 ||
        TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height) != 1 || width == 0 || height == 0 ||
        uint64_t{width} * height > kMaxSourcePixels || !DeclaredDataPlausible(tiff.get(), size)) {
        return false;
    }
    // Errors while reading the directory were recovered from; from here on an error fails the image.
    errors = 0;
    if (IsOwnLab(tiff.get())) {
        return ReadLab(tiff.get(), width, height, out) && errors == 0;
    }
    char message[1024] = {};
    if (TIFFRGBAImageOK(tiff.get(), message) == 0) {
        return ReadUncommonDepth(tiff.get(), width, height, out) && errors == 0;
    }
    RgbaImage rgba;
    if (!rgba.Begin(tiff.get())) {
        return false;
    }
    // Rows as stored: asking for the file's own orientation turns off every flip.
    rgba.image.req_orientation = rgba.image.orientation;

    uint32_t bandRows = 0;
    if (TIFFIsTiled(tiff.get()) != 0) {
        TIFFGetField(tiff.get(), TIFFTAG_TILELENGTH, &bandRows);
    } else {
        TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_ROWSPERSTRIP, &bandRows);
    }
    // Whole strips or tile rows per call: a strip is decoded from its start up to the last row asked for.
    // A band is kept to kMaxBandBytes; a larger strip is then read in parts, each decoding it anew.
    bandRows = std::clamp<uint32_t>(bandRows, 1, height);
    if (uint64_t{bandRows} * width * 4 > kMaxBandBytes) {
        bandRows = static_cast<uint32_t>(std::max<uint64_t>(1, kMaxBandBytes / (uint64_t{width} * 4)));
    }
    if (uint64_t{bandRows} * width * 4 > kMaxRasterBytes || !out.Begin(width, height)) {
        return false;
    }
    auto band = AllocateRaster(uint64_t{bandRows} * width * 4);
    if (!band) {
        return false;
    }
    const uint64_t rowBytes = uint64_t{width} * 4;
    for (uint32_t y = 0; y < height; y += bandRows) {
        const uint32_t rows = std::min(bandRows, height - y);
        rgba.image.row_offset = static_cast<int>(y);
        rgba.image.col_offset = 0;
        if (TIFFRGBAImageGet(&rgba.image, reinterpret_cast<uint32_t*>(band.get()), width, rows) == 0 ||
            errors != 0) {
            return false;
        }
        for (uint32_t r = 0; r < rows; ++r) {
            uint8_t* row = out.RowBuffer();
            if (row == nullptr) {
                return false;
            }
            // libtiff packs R, G, B, A (premultiplied) into bytes in that order.
            libyuv::ABGRToARGB(band.get() + r * rowBytes, static_cast<int>(rowBytes), row,
                               static_cast<int>(rowBytes), static_cast<int>(width), 1);
            if (!out.CommitRow()) {
                return false;
            }
        }
    }
    if (iccProfile != nullptr) {
        uint32_t profileSize = 0;
        void* profile = nullptr;
        if (TIFFGetField(tiff.get(), TIFFTAG_ICCPROFILE, &profileSize, &profile) == 1 && profile != nullptr &&
            profileSize > 0) {
            const auto* bytes = static_cast<const uint8_t*>(profile);
            iccProfile->assign(bytes, bytes + profileSize);
        }
    }
    return true;
}

} // namespace decode
