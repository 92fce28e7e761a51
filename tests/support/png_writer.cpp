#include "tests/support/png_writer.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <png.h>

namespace testing_support {

namespace {

struct WriteJob {
    uint32_t width;
    uint32_t height;
    const PngFormat* format;
    const std::function<void(uint32_t, uint8_t*)>* fillRow;
    uint8_t* rowBuffer;
};

[[noreturn]] void OnError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void OnWarning(png_structp, png_const_charp) {}

void AppendToVector(png_structp png, png_bytep data, size_t length) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}
void FlushNothing(png_structp) {}

// Holds only trivially destructible locals because libpng's errors arrive by longjmp. Returns 1 on success.
int WriteCore(png_structp png, png_infop info, WriteJob* job) {
    if (setjmp(png_jmpbuf(png)) != 0) {
        return 0;
    }
    const PngFormat& format = *job->format;
    png_set_compression_level(png, format.compressionLevel);
    png_set_IHDR(png, info, job->width, job->height, format.bitDepth, static_cast<int>(format.color),
                 format.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (format.color == PngColor::Palette) {
        png_color colors[256];
        const int count = static_cast<int>(format.palette.size() / 3);
        for (int i = 0; i < count && i < 256; ++i) {
            colors[i] = {format.palette[i * 3], format.palette[i * 3 + 1], format.palette[i * 3 + 2]};
        }
        png_set_PLTE(png, info, colors, count);
    }
    if (!format.transparency.empty()) {
        if (format.color == PngColor::Palette) {
            png_set_tRNS(png, info, format.transparency.data(), static_cast<int>(format.transparency.size()),
                         nullptr);
        } else {
            png_color_16 value{};
            const auto sample = [&](size_t i) {
                return static_cast<png_uint_16>((format.transparency[i * 2] << 8) |
                                                format.transparency[i * 2 + 1]);
            };
            if (format.color == PngColor::Gray && format.transparency.size() >= 2) {
                value.gray = sample(0);
            } else if (format.transparency.size() >= 6) {
                value.red = sample(0);
                value.green = sample(1);
                value.blue = sample(2);
            }
            png_set_tRNS(png, info, nullptr, 0, &value);
        }
    }
    if (!format.iccProfile.empty()) {
        png_set_iCCP(png, info, "icc", PNG_COMPRESSION_TYPE_BASE, format.iccProfile.data(),
                     static_cast<png_uint_32>(format.iccProfile.size()));
    }
    png_write_info(png, info);
    const int passes = png_set_interlace_handling(png);
    for (int pass = 0; pass < passes; ++pass) {
        for (uint32_t y = 0; y < job->height; ++y) {
            (*job->fillRow)(y, job->rowBuffer);
            png_write_row(png, job->rowBuffer);
        }
    }
    png_write_end(png, info);
    return 1;
}

bool Write(uint32_t width, uint32_t height, const PngFormat& format,
           const std::function<void(uint32_t, uint8_t*)>& fillRow, std::vector<uint8_t>* memory, FILE* file) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
    if (png == nullptr) {
        return false;
    }
    png_infop info = png_create_info_struct(png);
    std::vector<uint8_t> row(PngRowBytes(width, format));
    WriteJob job{width, height, &format, &fillRow, row.data()};
    if (memory != nullptr) {
        png_set_write_fn(png, memory, AppendToVector, FlushNothing);
    } else {
        png_init_io(png, file);
    }
    const bool ok = info != nullptr && WriteCore(png, info, &job) == 1;
    png_destroy_write_struct(&png, &info);
    return ok;
}

int Channels(PngColor color) {
    switch (color) {
    case PngColor::Rgb:
        return 3;
    case PngColor::GrayAlpha:
        return 2;
    case PngColor::Rgba:
        return 4;
    default:
        return 1;
    }
}

} // namespace

size_t PngRowBytes(uint32_t width, const PngFormat& format) {
    return (static_cast<size_t>(width) * Channels(format.color) * format.bitDepth + 7) / 8;
}

std::vector<uint8_t> EncodePng(uint32_t width, uint32_t height, const PngFormat& format,
                               const std::vector<uint8_t>& rows) {
    const size_t rowBytes = PngRowBytes(width, format);
    if (rows.size() < rowBytes * height) {
        return {};
    }
    std::vector<uint8_t> out;
    const bool ok = Write(
        width, height, format,
        [&](uint32_t y, uint8_t* row) { std::memcpy(row, rows.data() + y * rowBytes, rowBytes); }, &out,
        nullptr);
    return ok ? out : std::vector<uint8_t>{};
}

std::vector<uint8_t> EncodeRgbaPng(uint32_t width, uint32_t height, const std::vector<uint8_t>& rgba,
                                   bool interlaced) {
    PngFormat format;
    format.interlaced = interlaced;
    return EncodePng(width, height, format, rgba);
}

bool WritePngFile(const std::string& path, uint32_t width, uint32_t height, const PngFormat& format,
                  const std::function<void(uint32_t y, uint8_t* row)>& fillRow) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool ok = Write(width, height, format, fillRow, nullptr, file);
    return std::fclose(file) == 0 && ok;
}

} // namespace testing_support
