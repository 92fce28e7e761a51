#include "decode/tiff_reader.h"

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
int MapProc(thandle_t, void**, toff_t*) {
    return 0;
}
void UnmapProc(thandle_t, void*, toff_t) {}

int IgnoreMessage(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
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
    bool Begin(TIFF* tiff) {
        char message[1024] = {};
        begun = TIFFRGBAImageBegin(&image, tiff, 0, message) != 0;
        return begun;
    }
    TIFFRGBAImage image;

private:
    bool begun = false;
};

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
        if (hasAlpha) {
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
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), IgnoreMessage, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), IgnoreMessage, nullptr);
    TiffInput input{data, size, 0};
    // "m": read through the callbacks only, never from a mapping of the caller's bytes.
    std::unique_ptr<TIFF, TiffCloser> tiff(TIFFClientOpenExt("memory", "rm", &input, ReadProc, WriteProc,
                                                             SeekProc, CloseProc, SizeProc, MapProc,
                                                             UnmapProc, options.get()));
    if (!tiff) {
        return false;
    }
    uint32_t width = 0;
    uint32_t height = 0;
    if (TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width) != 1 ||
        TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height) != 1 || width == 0 || height == 0 ||
        uint64_t{width} * height > kMaxDecodedPixels) {
        return false;
    }
    char message[1024] = {};
    if (TIFFRGBAImageOK(tiff.get(), message) == 0) {
        return ReadUncommonDepth(tiff.get(), width, height, out);
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
    // Whole strips or tile rows per call: a strip is decoded whole whatever part of it is asked for.
    bandRows = std::clamp<uint32_t>(bandRows, 1, height);
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
        if (TIFFRGBAImageGet(&rgba.image, reinterpret_cast<uint32_t*>(band.get()), width, rows) == 0) {
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
