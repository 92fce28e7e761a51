#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace info {

struct URational {
    uint32_t numerator = 0;
    uint32_t denominator = 0;
};

struct SRational {
    int32_t numerator = 0;
    int32_t denominator = 0;
};

// One typed answer of the metadata query reader. The types follow what the imaging component reports
// for the same queries: a single EXIF SHORT is UInt16, several are UInt16Vector; ASCII is Ascii, the
// UTF-16 "XP" tags are Utf16; UNDEFINED is Blob; GIF flags are Bool. An absent or unreadable item is
// an Empty value, never an exception.
class MetadataValue {
public:
    enum class Type {
        Empty,
        Bool,
        UInt8,
        UInt16,
        UInt32,
        UInt64,
        Int8,
        Int16,
        Int32,
        Int64,
        Float,
        Double,
        Ascii,
        Utf16,
        Blob,
        URational,
        SRational,
        UInt8Vector,
        UInt16Vector,
        UInt32Vector,
        UInt64Vector,
        Int8Vector,
        Int16Vector,
        Int32Vector,
        Int64Vector,
        FloatVector,
        DoubleVector,
        URationalVector,
        SRationalVector,
    };

    MetadataValue() = default;

    // `type` must belong to the family of the factory (unsigned integers, signed integers, reals,
    // texts); a mismatch gives an Empty value.
    static MetadataValue Unsigned(Type type, std::vector<uint64_t> values);
    static MetadataValue Signed(Type type, std::vector<int64_t> values);
    static MetadataValue Real(Type type, std::vector<double> values);
    static MetadataValue URationals(std::vector<URational> values, bool asVector);
    static MetadataValue SRationals(std::vector<SRational> values, bool asVector);
    // Ascii: the bytes as stored, up to the first NUL; kept when they are UTF-8, otherwise read as
    // Latin-1. Utf16: little- or big-endian code units, up to the first NUL code unit.
    static MetadataValue AsciiText(std::string_view bytes);
    static MetadataValue Utf16Text(const uint8_t* units, size_t byteCount, bool bigEndian);
    static MetadataValue BlobOf(std::vector<uint8_t> bytes);

    Type GetType() const { return type; }
    bool IsEmpty() const { return type == Type::Empty; }
    bool IsVector() const;
    // Number of elements: 1 for a scalar, the length for vectors, the byte count of a blob or text.
    size_t Count() const;

    // Exact-type accessors: a value only when the stored type is exactly the one named.
    std::optional<bool> AsBool() const;
    std::optional<uint8_t> AsUInt8() const;
    std::optional<uint16_t> AsUInt16() const;
    std::optional<uint32_t> AsUInt32() const;
    std::optional<uint64_t> AsUInt64() const;
    std::optional<URational> AsURational() const;
    std::optional<SRational> AsSRational() const;
    std::optional<double> AsDouble() const; // Float or Double
    // Ascii or Utf16, as UTF-8.
    std::optional<std::string> AsString() const;

    // Lenient accessors for callers that only need a number: any unsigned scalar (Bool, UInt8 to
    // UInt64), or any integer scalar whose value fits.
    std::optional<uint64_t> AsUnsigned() const;
    std::optional<int64_t> AsSigned() const;

    // Elements of vectors (a scalar of the same family reads as one element); empty for other types.
    std::vector<uint64_t> UnsignedElements() const;
    std::vector<int64_t> SignedElements() const;
    std::vector<double> RealElements() const;
    const std::vector<URational>& URationalElements() const { return uRationals; }
    const std::vector<SRational>& SRationalElements() const { return sRationals; }
    const std::vector<uint8_t>& BlobBytes() const { return bytes; }

private:
    Type type = Type::Empty;
    std::vector<uint64_t> unsignedValues; // Bool, UInt8..UInt64 and their vectors
    std::vector<int64_t> signedValues;    // Int8..Int64 and their vectors
    std::vector<double> realValues;       // Float, Double and their vectors
    std::vector<URational> uRationals;
    std::vector<SRational> sRationals;
    std::string text; // Ascii and Utf16, as UTF-8
    std::vector<uint8_t> bytes;
};

} // namespace info
