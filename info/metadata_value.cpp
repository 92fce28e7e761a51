#include "info/metadata_value.h"

#include "platform/text.h"

#include <limits>

namespace info {

namespace {

using Type = MetadataValue::Type;

bool IsUnsignedFamily(Type type) {
    switch (type) {
    case Type::Bool:
    case Type::UInt8:
    case Type::UInt16:
    case Type::UInt32:
    case Type::UInt64:
    case Type::UInt8Vector:
    case Type::UInt16Vector:
    case Type::UInt32Vector:
    case Type::UInt64Vector:
        return true;
    default:
        return false;
    }
}

bool IsSignedFamily(Type type) {
    switch (type) {
    case Type::Int8:
    case Type::Int16:
    case Type::Int32:
    case Type::Int64:
    case Type::Int8Vector:
    case Type::Int16Vector:
    case Type::Int32Vector:
    case Type::Int64Vector:
        return true;
    default:
        return false;
    }
}

bool IsRealFamily(Type type) {
    return type == Type::Float || type == Type::Double || type == Type::FloatVector ||
           type == Type::DoubleVector;
}

bool IsValidUtf8(std::string_view text) {
    size_t position = 0;
    while (position < text.size()) {
        const size_t start = position;
        const char32_t codePoint = platform::DecodeUtf8(text, position);
        // U+FFFD decoded from anything but its own three bytes marks an invalid sequence.
        if (codePoint == 0xFFFD && position - start != 3) {
            return false;
        }
    }
    return true;
}

} // namespace

MetadataValue MetadataValue::Unsigned(Type type, std::vector<uint64_t> values) {
    MetadataValue value;
    if (IsUnsignedFamily(type) && !values.empty() && (values.size() == 1 || type >= Type::UInt8Vector)) {
        value.type = type;
        value.unsignedValues = std::move(values);
    }
    return value;
}

MetadataValue MetadataValue::Signed(Type type, std::vector<int64_t> values) {
    MetadataValue value;
    if (IsSignedFamily(type) && !values.empty() && (values.size() == 1 || type >= Type::UInt8Vector)) {
        value.type = type;
        value.signedValues = std::move(values);
    }
    return value;
}

MetadataValue MetadataValue::Real(Type type, std::vector<double> values) {
    MetadataValue value;
    if (IsRealFamily(type) && !values.empty() && (values.size() == 1 || type >= Type::UInt8Vector)) {
        value.type = type;
        value.realValues = std::move(values);
    }
    return value;
}

MetadataValue MetadataValue::URationals(std::vector<URational> values, bool asVector) {
    MetadataValue value;
    if (!values.empty() && (asVector || values.size() == 1)) {
        value.type = asVector ? Type::URationalVector : Type::URational;
        value.uRationals = std::move(values);
    }
    return value;
}

MetadataValue MetadataValue::SRationals(std::vector<SRational> values, bool asVector) {
    MetadataValue value;
    if (!values.empty() && (asVector || values.size() == 1)) {
        value.type = asVector ? Type::SRationalVector : Type::SRational;
        value.sRationals = std::move(values);
    }
    return value;
}

MetadataValue MetadataValue::AsciiText(std::string_view stored) {
    const size_t end = stored.find('\0');
    if (end != std::string_view::npos) {
        stored = stored.substr(0, end);
    }
    MetadataValue value;
    value.type = Type::Ascii;
    if (IsValidUtf8(stored)) {
        value.text = stored;
    } else {
        for (const char c : stored) {
            platform::AppendUtf8(value.text, static_cast<unsigned char>(c));
        }
    }
    return value;
}

MetadataValue MetadataValue::Utf16Text(const uint8_t* units, size_t byteCount, bool bigEndian) {
    std::u16string wide;
    for (size_t i = 0; i + 1 < byteCount; i += 2) {
        const char16_t unit = bigEndian ? static_cast<char16_t>(units[i] << 8 | units[i + 1])
                                        : static_cast<char16_t>(units[i] | units[i + 1] << 8);
        if (unit == 0) {
            break;
        }
        wide.push_back(unit);
    }
    MetadataValue value;
    value.type = Type::Utf16;
    value.text = platform::Utf16ToUtf8(wide);
    return value;
}

MetadataValue MetadataValue::BlobOf(std::vector<uint8_t> stored) {
    MetadataValue value;
    value.type = Type::Blob;
    value.bytes = std::move(stored);
    return value;
}

bool MetadataValue::IsVector() const {
    return type >= Type::UInt8Vector;
}

size_t MetadataValue::Count() const {
    if (type == Type::Empty) {
        return 0;
    }
    if (IsUnsignedFamily(type)) {
        return unsignedValues.size();
    }
    if (IsSignedFamily(type)) {
        return signedValues.size();
    }
    if (IsRealFamily(type)) {
        return realValues.size();
    }
    if (type == Type::URational || type == Type::URationalVector) {
        return uRationals.size();
    }
    if (type == Type::SRational || type == Type::SRationalVector) {
        return sRationals.size();
    }
    if (type == Type::Blob) {
        return bytes.size();
    }
    return text.size();
}

std::optional<bool> MetadataValue::AsBool() const {
    if (type != Type::Bool) {
        return std::nullopt;
    }
    return unsignedValues[0] != 0;
}

std::optional<uint8_t> MetadataValue::AsUInt8() const {
    if (type != Type::UInt8) {
        return std::nullopt;
    }
    return static_cast<uint8_t>(unsignedValues[0]);
}

std::optional<uint16_t> MetadataValue::AsUInt16() const {
    if (type != Type::UInt16) {
        return std::nullopt;
    }
    return static_cast<uint16_t>(unsignedValues[0]);
}

std::optional<uint32_t> MetadataValue::AsUInt32() const {
    if (type != Type::UInt32) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(unsignedValues[0]);
}

std::optional<uint64_t> MetadataValue::AsUInt64() const {
    if (type != Type::UInt64) {
        return std::nullopt;
    }
    return unsignedValues[0];
}

std::optional<URational> MetadataValue::AsURational() const {
    if (type != Type::URational) {
        return std::nullopt;
    }
    return uRationals[0];
}

std::optional<SRational> MetadataValue::AsSRational() const {
    if (type != Type::SRational) {
        return std::nullopt;
    }
    return sRationals[0];
}

std::optional<double> MetadataValue::AsDouble() const {
    if (type != Type::Float && type != Type::Double) {
        return std::nullopt;
    }
    return realValues[0];
}

std::optional<std::string> MetadataValue::AsString() const {
    if (type != Type::Ascii && type != Type::Utf16) {
        return std::nullopt;
    }
    return text;
}

std::optional<uint64_t> MetadataValue::AsUnsigned() const {
    if (IsUnsignedFamily(type) && !IsVector()) {
        return unsignedValues[0];
    }
    return std::nullopt;
}

std::optional<int64_t> MetadataValue::AsSigned() const {
    if (IsSignedFamily(type) && !IsVector()) {
        return signedValues[0];
    }
    if (IsUnsignedFamily(type) && !IsVector() &&
        unsignedValues[0] <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
        return static_cast<int64_t>(unsignedValues[0]);
    }
    return std::nullopt;
}

std::vector<uint64_t> MetadataValue::UnsignedElements() const {
    return unsignedValues;
}

std::vector<int64_t> MetadataValue::SignedElements() const {
    return signedValues;
}

std::vector<double> MetadataValue::RealElements() const {
    return realValues;
}

} // namespace info
