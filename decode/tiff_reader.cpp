#include "decode/tiff_reader.h"

#include <algorithm>
#include <cstring>
#include <libyuv/convert_argb.h>
#include <memory>
#include <tiffio.h>

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
        return false;
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
