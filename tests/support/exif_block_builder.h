#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

// Builds a TIFF-structured EXIF block byte by byte, in either byte order: IFD0 with optional EXIF,
// GPS and interoperability directories (their pointer tags are added automatically) and an optional
// IFD1. Values longer than four bytes go to a data area after their directory.
class ExifBlockBuilder {
public:
    enum Directory { Ifd0, Exif, Gps, Interop, Ifd1, kDirectoryCount };

    explicit ExifBlockBuilder(bool bigEndian) : bigEndian(bigEndian) {}

    // Raw entry: `data` is already in the block's byte order (use the helpers below).
    void Add(Directory directory, uint16_t tag, uint16_t type, uint32_t count, std::vector<uint8_t> data);
    void Short(Directory directory, uint16_t tag, std::vector<uint16_t> values);
    void Long(Directory directory, uint16_t tag, std::vector<uint32_t> values);
    void Ascii(Directory directory, uint16_t tag, const std::string& text);
    void Rational(Directory directory, uint16_t tag, std::vector<std::pair<uint32_t, uint32_t>> values);
    void SRational(Directory directory, uint16_t tag, std::vector<std::pair<int32_t, int32_t>> values);
    void Bytes(Directory directory, uint16_t tag, uint16_t type, std::vector<uint8_t> bytes);

    std::vector<uint8_t> Build();
    // After Build: where a directory starts and where its next-directory pointer lies (0 when absent).
    uint32_t DirectoryOffset(Directory directory) const { return offsets[directory]; }
    uint32_t NextPointerPosition(Directory directory) const { return nextPointers[directory]; }

    // Writes a 16/32-bit value into `block` at `position` in this builder's byte order.
    void Put16(std::vector<uint8_t>& block, size_t position, uint16_t value) const;
    void Put32(std::vector<uint8_t>& block, size_t position, uint32_t value) const;

private:
    struct Field {
        uint16_t tag;
        uint16_t type;
        uint32_t count;
        std::vector<uint8_t> data;
    };
    void Append16(std::vector<uint8_t>& out, uint16_t value) const;
    void Append32(std::vector<uint8_t>& out, uint32_t value) const;

    bool bigEndian;
    std::vector<Field> fields[kDirectoryCount];
    uint32_t offsets[kDirectoryCount] = {};
    uint32_t nextPointers[kDirectoryCount] = {};
};

// Container wrappers around an EXIF block, made with the real encoders where the format has one.
// A baseline JPEG (TurboJPEG) with an APP1 "Exif" segment after SOI.
std::vector<uint8_t> JpegWithExif(const std::vector<uint8_t>& exif);
// A PNG (libpng) with an eXIf chunk.
std::vector<uint8_t> PngWithExif(const std::vector<uint8_t>& exif);

} // namespace testing_support
