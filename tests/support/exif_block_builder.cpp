#include "tests/support/exif_block_builder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <png.h>
#include <stdexcept>
#include <turbojpeg.h>

namespace testing_support {

void ExifBlockBuilder::Append16(std::vector<uint8_t>& out, uint16_t value) const {
    out.resize(out.size() + 2);
    Put16(out, out.size() - 2, value);
}

void ExifBlockBuilder::Append32(std::vector<uint8_t>& out, uint32_t value) const {
    out.resize(out.size() + 4);
    Put32(out, out.size() - 4, value);
}

void ExifBlockBuilder::Put16(std::vector<uint8_t>& block, size_t position, uint16_t value) const {
    block[position + (bigEndian ? 0 : 1)] = static_cast<uint8_t>(value >> 8);
    block[position + (bigEndian ? 1 : 0)] = static_cast<uint8_t>(value);
}

void ExifBlockBuilder::Put32(std::vector<uint8_t>& block, size_t position, uint32_t value) const {
    for (int i = 0; i < 4; ++i) {
        const uint8_t byte = static_cast<uint8_t>(value >> (8 * (3 - i)));
        block[position + (bigEndian ? i : 3 - i)] = byte;
    }
}

void ExifBlockBuilder::Add(Directory directory, uint16_t tag, uint16_t type, uint32_t count,
                           std::vector<uint8_t> data) {
    fields[directory].push_back(Field{tag, type, count, std::move(data)});
}

void ExifBlockBuilder::Short(Directory directory, uint16_t tag, std::vector<uint16_t> values) {
    std::vector<uint8_t> data;
    for (const uint16_t value : values) {
        Append16(data, value);
    }
    Add(directory, tag, 3, static_cast<uint32_t>(values.size()), std::move(data));
}

void ExifBlockBuilder::Long(Directory directory, uint16_t tag, std::vector<uint32_t> values) {
    std::vector<uint8_t> data;
    for (const uint32_t value : values) {
        Append32(data, value);
    }
    Add(directory, tag, 4, static_cast<uint32_t>(values.size()), std::move(data));
}

void ExifBlockBuilder::Ascii(Directory directory, uint16_t tag, const std::string& text) {
    std::vector<uint8_t> data(text.begin(), text.end());
    data.push_back(0);
    const uint32_t count = static_cast<uint32_t>(data.size());
    Add(directory, tag, 2, count, std::move(data));
}

void ExifBlockBuilder::Rational(Directory directory, uint16_t tag,
                                std::vector<std::pair<uint32_t, uint32_t>> values) {
    std::vector<uint8_t> data;
    for (const auto& [numerator, denominator] : values) {
        Append32(data, numerator);
        Append32(data, denominator);
    }
    Add(directory, tag, 5, static_cast<uint32_t>(values.size()), std::move(data));
}

void ExifBlockBuilder::SRational(Directory directory, uint16_t tag,
                                 std::vector<std::pair<int32_t, int32_t>> values) {
    std::vector<uint8_t> data;
    for (const auto& [numerator, denominator] : values) {
        Append32(data, static_cast<uint32_t>(numerator));
        Append32(data, static_cast<uint32_t>(denominator));
    }
    Add(directory, tag, 10, static_cast<uint32_t>(values.size()), std::move(data));
}

void ExifBlockBuilder::Bytes(Directory directory, uint16_t tag, uint16_t type, std::vector<uint8_t> bytes) {
    const uint32_t count = static_cast<uint32_t>(bytes.size());
    Add(directory, tag, type, count, std::move(bytes));
}

std::vector<uint8_t> ExifBlockBuilder::Build() {
    // Pointer entries with placeholders, so that every directory's size is known before layout.
    std::vector<Field> laid[kDirectoryCount];
    for (int d = 0; d < kDirectoryCount; ++d) {
        laid[d] = fields[d];
    }
    const auto addPointer = [&](Directory parent, uint16_t tag, Directory child) {
        if (!laid[child].empty()) {
            laid[parent].push_back(Field{tag, 4, 1, std::vector<uint8_t>(4, 0)});
        }
    };
    if (!laid[Interop].empty() && laid[Exif].empty()) {
        throw std::logic_error("an interoperability directory needs an EXIF directory");
    }
    addPointer(Exif, 40965, Interop);
    addPointer(Ifd0, 34665, Exif);
    addPointer(Ifd0, 34853, Gps);
    for (auto& list : laid) {
        std::stable_sort(list.begin(), list.end(),
                         [](const Field& a, const Field& b) { return a.tag < b.tag; });
    }

    const Directory order[] = {Ifd0, Ifd1, Exif, Gps, Interop};
    uint32_t cursor = 8;
    uint32_t dataOffsets[kDirectoryCount] = {};
    for (const Directory d : order) {
        offsets[d] = 0;
        nextPointers[d] = 0;
        if (laid[d].empty() && d != Ifd0) {
            continue;
        }
        offsets[d] = cursor;
        nextPointers[d] = cursor + 2 + 12 * static_cast<uint32_t>(laid[d].size());
        cursor = nextPointers[d] + 4;
        dataOffsets[d] = cursor;
        for (const Field& field : laid[d]) {
            if (field.data.size() > 4) {
                cursor += static_cast<uint32_t>((field.data.size() + 1) & ~size_t{1});
            }
        }
    }
    const auto pointerTo = [&](Directory d) {
        std::vector<uint8_t> bytes(4);
        Put32(bytes, 0, offsets[d]);
        return bytes;
    };
    for (Field& field : laid[Ifd0]) {
        if (field.tag == 34665 && !fields[Exif].empty()) {
            field.data = pointerTo(Exif);
        } else if (field.tag == 34853 && !fields[Gps].empty()) {
            field.data = pointerTo(Gps);
        }
    }
    for (Field& field : laid[Exif]) {
        if (field.tag == 40965 && !fields[Interop].empty()) {
            field.data = pointerTo(Interop);
        }
    }

    std::vector<uint8_t> block(cursor, 0);
    block[0] = block[1] = bigEndian ? 'M' : 'I';
    Put16(block, 2, 42);
    Put32(block, 4, offsets[Ifd0]);
    for (const Directory d : order) {
        if (offsets[d] == 0) {
            continue;
        }
        size_t position = offsets[d];
        Put16(block, position, static_cast<uint16_t>(laid[d].size()));
        position += 2;
        uint32_t data = dataOffsets[d];
        for (const Field& field : laid[d]) {
            Put16(block, position, field.tag);
            Put16(block, position + 2, field.type);
            Put32(block, position + 4, field.count);
            if (field.data.size() <= 4) {
                std::copy(field.data.begin(), field.data.end(),
                          block.begin() + static_cast<long>(position) + 8);
            } else {
                Put32(block, position + 8, data);
                std::copy(field.data.begin(), field.data.end(), block.begin() + data);
                data += static_cast<uint32_t>((field.data.size() + 1) & ~size_t{1});
            }
            position += 12;
        }
        const uint32_t next = (d == Ifd0 && offsets[Ifd1] != 0) ? offsets[Ifd1] : 0;
        Put32(block, position, next);
    }
    return block;
}

std::vector<uint8_t> JpegWithExif(const std::vector<uint8_t>& exif) {
    const int width = 16;
    const int height = 8;
    std::vector<uint8_t> rgb(width * height * 3);
    for (size_t i = 0; i < rgb.size(); ++i) {
        rgb[i] = static_cast<uint8_t>(i * 7);
    }
    tjhandle handle = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long jpegSize = 0;
    if (tjCompress2(handle, rgb.data(), width, 0, height, TJPF_RGB, &jpeg, &jpegSize, TJSAMP_420, 90, 0) !=
        0) {
        tjDestroy(handle);
        throw std::runtime_error("TurboJPEG could not compress");
    }
    std::vector<uint8_t> plain(jpeg, jpeg + jpegSize);
    tjFree(jpeg);
    tjDestroy(handle);

    const size_t segmentLength = 2 + 6 + exif.size();
    if (segmentLength > 0xFFFF) {
        throw std::length_error("an APP1 segment holds at most 65533 bytes");
    }
    const uint8_t header[] = {plain[0],
                              plain[1],
                              0xFF,
                              0xE1,
                              static_cast<uint8_t>(segmentLength >> 8),
                              static_cast<uint8_t>(segmentLength),
                              'E',
                              'x',
                              'i',
                              'f',
                              0,
                              0};
    // Copied into a presized buffer: GCC 12 misreads the equivalent chain of vector inserts at -O2.
    std::vector<uint8_t> out(sizeof header + exif.size() + plain.size() - 2);
    auto at = std::copy(std::begin(header), std::end(header), out.begin());
    at = std::copy(exif.begin(), exif.end(), at);
    std::copy(plain.begin() + 2, plain.end(), at);
    return out;
}

std::vector<uint8_t> PngWithExif(const std::vector<uint8_t>& exif) {
    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* memory = ::open_memstream(&buffer, &size);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(memory);
        std::free(buffer);
        throw std::runtime_error("libpng could not write");
    }
    png_init_io(png, memory);
    const int width = 4;
    const int height = 3;
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_byte> copy(exif.begin(), exif.end());
    png_set_eXIf_1(png, info, static_cast<png_uint_32>(copy.size()), copy.data());
    png_write_info(png, info);
    std::vector<png_byte> row(width * 3, 0x80);
    for (int y = 0; y < height; ++y) {
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(memory);
    std::vector<uint8_t> out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

} // namespace testing_support
