#include "info/tiff_structure.h"

#include <cstring>
#include <unordered_set>

namespace info {

namespace {

using Type = MetadataValue::Type;

enum FieldType : uint16_t {
    kByte = 1,
    kAscii = 2,
    kShort = 3,
    kLong = 4,
    kRational = 5,
    kSByte = 6,
    kUndefined = 7,
    kSShort = 8,
    kSLong = 9,
    kSRational = 10,
    kFloat = 11,
    kDouble = 12,
    kIfd = 13,
    kLong8 = 16,
    kSLong8 = 17,
    kIfd8 = 18,
};

// Bytes of one element; 0 for types this reader does not know.
uint64_t ElementSize(uint16_t type) {
    switch (type) {
    case kByte:
    case kAscii:
    case kSByte:
    case kUndefined:
        return 1;
    case kShort:
    case kSShort:
        return 2;
    case kLong:
    case kSLong:
    case kFloat:
    case kIfd:
        return 4;
    case kRational:
    case kSRational:
    case kDouble:
    case kLong8:
    case kSLong8:
    case kIfd8:
        return 8;
    default:
        return 0;
    }
}

// The "XP" tags hold UTF-16LE text in a BYTE array whatever the block's byte order.
bool IsWindowsTextTag(uint16_t tag) {
    return tag >= 0x9C9B && tag <= 0x9C9F;
}

uint64_t Load(const uint8_t* p, size_t size, bool bigEndian) {
    uint64_t value = 0;
    for (size_t i = 0; i < size; ++i) {
        value = value << 8 | p[bigEndian ? i : size - 1 - i];
    }
    return value;
}

} // namespace

bool TiffStructure::Open(ByteSource& byteSource, uint64_t blockBase, uint64_t blockLength) {
    source = nullptr;
    if (!byteSource.Contains(blockBase, blockLength) || blockLength < 8) {
        return false;
    }
    uint8_t header[16] = {};
    const size_t headerSize = blockLength >= 16 ? 16 : 8;
    if (!byteSource.Read(blockBase, header, headerSize)) {
        return false;
    }
    if (header[0] == 'I' && header[1] == 'I') {
        bigEndian = false;
    } else if (header[0] == 'M' && header[1] == 'M') {
        bigEndian = true;
    } else {
        return false;
    }
    const uint64_t magic = Load(header + 2, 2, bigEndian);
    if (magic == 42) {
        bigTiff = false;
        firstDirectory = Load(header + 4, 4, bigEndian);
    } else if (magic == 43 && headerSize == 16 && Load(header + 4, 2, bigEndian) == 8 &&
               Load(header + 6, 2, bigEndian) == 0) {
        bigTiff = true;
        firstDirectory = Load(header + 8, 8, bigEndian);
    } else {
        return false;
    }
    source = &byteSource;
    base = blockBase;
    length = blockLength;
    return true;
}

bool TiffStructure::ReadBlock(uint64_t offset, void* out, size_t count) {
    if (source == nullptr || offset > length || count > length - offset) {
        return false;
    }
    return source->Read(base + offset, out, count);
}

bool TiffStructure::ReadOffset(uint64_t offset, uint64_t& value) {
    uint8_t bytes[8];
    const size_t size = bigTiff ? 8 : 4;
    if (!ReadBlock(offset, bytes, size)) {
        return false;
    }
    value = Load(bytes, size, bigEndian);
    return true;
}

std::optional<uint64_t> TiffStructure::FirstDirectory() const {
    if (source == nullptr || firstDirectory == 0 || firstDirectory >= length) {
        return std::nullopt;
    }
    return firstDirectory;
}

bool TiffStructure::EntryTable(uint64_t directory, uint64_t& entryCount, uint64_t& firstEntry,
                               uint64_t* declaredCount) {
    const size_t countSize = bigTiff ? 8 : 2;
    uint8_t countBytes[8];
    if (directory == 0 || !ReadBlock(directory, countBytes, countSize)) {
        return false;
    }
    const uint64_t declared = Load(countBytes, countSize, bigEndian);
    if (declared > kMaxEntries) {
        return false;
    }
    // A directory cut short by the end of the block keeps the entries that are whole.
    const uint64_t entrySize = bigTiff ? 20 : 12;
    firstEntry = directory + countSize;
    const uint64_t available = (length - firstEntry) / entrySize;
    entryCount = declared < available ? declared : available;
    if (declaredCount != nullptr) {
        *declaredCount = declared;
    }
    return true;
}

std::optional<uint64_t> TiffStructure::NextDirectory(uint64_t directory) {
    uint64_t entryCount = 0;
    uint64_t firstEntry = 0;
    uint64_t declared = 0;
    if (!EntryTable(directory, entryCount, firstEntry, &declared) || declared != entryCount) {
        return std::nullopt;
    }
    const uint64_t entrySize = bigTiff ? 20 : 12;
    uint64_t next = 0;
    if (!ReadOffset(firstEntry + entryCount * entrySize, next) || next == 0 || next >= length) {
        return std::nullopt;
    }
    return next;
}

std::vector<uint64_t> TiffStructure::DirectoryChain(size_t maxCount) {
    std::vector<uint64_t> chain;
    std::unordered_set<uint64_t> visited;
    std::optional<uint64_t> directory = FirstDirectory();
    while (directory && chain.size() < maxCount && visited.insert(*directory).second) {
        uint64_t entryCount = 0;
        uint64_t firstEntry = 0;
        if (!EntryTable(*directory, entryCount, firstEntry)) {
            break;
        }
        chain.push_back(*directory);
        directory = NextDirectory(*directory);
    }
    return chain;
}

bool TiffStructure::FindEntry(uint64_t directory, uint16_t tag, Entry& entry) {
    uint64_t entryCount = 0;
    uint64_t firstEntry = 0;
    if (!EntryTable(directory, entryCount, firstEntry) || entryCount == 0) {
        return false;
    }
    const size_t entrySize = bigTiff ? 20 : 12;
    std::vector<uint8_t> table(static_cast<size_t>(entryCount) * entrySize);
    if (!ReadBlock(firstEntry, table.data(), table.size())) {
        return false;
    }
    for (uint64_t i = 0; i < entryCount; ++i) {
        const uint8_t* raw = table.data() + i * entrySize;
        if (Load(raw, 2, bigEndian) != tag) {
            continue;
        }
        entry.tag = tag;
        entry.type = static_cast<uint16_t>(Load(raw + 2, 2, bigEndian));
        entry.count = bigTiff ? Load(raw + 4, 8, bigEndian) : Load(raw + 4, 4, bigEndian);
        const uint64_t elementSize = ElementSize(entry.type);
        if (elementSize == 0 || entry.count == 0 || entry.count > kMaxValueBytes / elementSize) {
            return false;
        }
        entry.byteCount = entry.count * elementSize;
        const uint64_t valueField = firstEntry + i * entrySize + (bigTiff ? 12 : 8);
        const uint64_t inlineSize = bigTiff ? 8 : 4;
        if (entry.byteCount <= inlineSize) {
            entry.valuePosition = valueField;
        } else {
            entry.valuePosition = Load(raw + (bigTiff ? 12 : 8), bigTiff ? 8 : 4, bigEndian);
        }
        return entry.valuePosition <= length && entry.byteCount <= length - entry.valuePosition;
    }
    return false;
}

std::optional<uint64_t> TiffStructure::SubDirectory(uint64_t directory, uint16_t pointerTag) {
    Entry entry;
    if (!FindEntry(directory, pointerTag, entry)) {
        return std::nullopt;
    }
    uint64_t offset = 0;
    uint8_t bytes[8];
    if (entry.type == kLong || entry.type == kIfd) {
        if (!ReadBlock(entry.valuePosition, bytes, 4)) {
            return std::nullopt;
        }
        offset = Load(bytes, 4, bigEndian);
    } else if (entry.type == kLong8 || entry.type == kIfd8) {
        if (!ReadBlock(entry.valuePosition, bytes, 8)) {
            return std::nullopt;
        }
        offset = Load(bytes, 8, bigEndian);
    } else {
        return std::nullopt;
    }
    if (offset == 0 || offset >= length) {
        return std::nullopt;
    }
    return offset;
}

MetadataValue TiffStructure::ReadTag(uint64_t directory, uint16_t tag) {
    Entry entry;
    if (!FindEntry(directory, tag, entry)) {
        return {};
    }
    const bool bytewise = entry.type == kAscii || entry.type == kUndefined || IsWindowsTextTag(tag);
    if (!bytewise && entry.count > kMaxElements) {
        return {};
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(entry.byteCount));
    if (!ReadBlock(entry.valuePosition, bytes.data(), bytes.size())) {
        return {};
    }
    return Decode(entry, bytes);
}

MetadataValue TiffStructure::Decode(const Entry& entry, const std::vector<uint8_t>& bytes) const {
    const size_t count = static_cast<size_t>(entry.count);
    const uint8_t* p = bytes.data();
    const bool single = count == 1;
    if (IsWindowsTextTag(entry.tag) && (entry.type == kByte || entry.type == kUndefined)) {
        return MetadataValue::Utf16Text(p, bytes.size(), false);
    }
    switch (entry.type) {
    case kAscii:
        return MetadataValue::AsciiText(std::string_view(reinterpret_cast<const char*>(p), bytes.size()));
    case kUndefined:
        return MetadataValue::BlobOf(bytes);
    case kByte:
    case kShort:
    case kLong:
    case kIfd:
    case kLong8:
    case kIfd8: {
        const size_t size = static_cast<size_t>(ElementSize(entry.type));
        std::vector<uint64_t> values(count);
        for (size_t i = 0; i < count; ++i) {
            values[i] = Load(p + i * size, size, bigEndian);
        }
        Type type = Type::UInt64;
        if (size == 1) {
            type = single ? Type::UInt8 : Type::UInt8Vector;
        } else if (size == 2) {
            type = single ? Type::UInt16 : Type::UInt16Vector;
        } else if (size == 4) {
            type = single ? Type::UInt32 : Type::UInt32Vector;
        } else {
            type = single ? Type::UInt64 : Type::UInt64Vector;
        }
        return MetadataValue::Unsigned(type, std::move(values));
    }
    case kSByte:
    case kSShort:
    case kSLong:
    case kSLong8: {
        const size_t size = static_cast<size_t>(ElementSize(entry.type));
        std::vector<int64_t> values(count);
        for (size_t i = 0; i < count; ++i) {
            const uint64_t raw = Load(p + i * size, size, bigEndian);
            const unsigned shift = static_cast<unsigned>(64 - size * 8);
            values[i] = static_cast<int64_t>(raw << shift) >> shift;
        }
        Type type = Type::Int64;
        if (size == 1) {
            type = single ? Type::Int8 : Type::Int8Vector;
        } else if (size == 2) {
            type = single ? Type::Int16 : Type::Int16Vector;
        } else if (size == 4) {
            type = single ? Type::Int32 : Type::Int32Vector;
        } else {
            type = single ? Type::Int64 : Type::Int64Vector;
        }
        return MetadataValue::Signed(type, std::move(values));
    }
    case kRational: {
        std::vector<URational> values(count);
        for (size_t i = 0; i < count; ++i) {
            values[i].numerator = static_cast<uint32_t>(Load(p + i * 8, 4, bigEndian));
            values[i].denominator = static_cast<uint32_t>(Load(p + i * 8 + 4, 4, bigEndian));
        }
        return MetadataValue::URationals(std::move(values), !single);
    }
    case kSRational: {
        std::vector<SRational> values(count);
        for (size_t i = 0; i < count; ++i) {
            values[i].numerator = static_cast<int32_t>(static_cast<uint32_t>(Load(p + i * 8, 4, bigEndian)));
            values[i].denominator =
                static_cast<int32_t>(static_cast<uint32_t>(Load(p + i * 8 + 4, 4, bigEndian)));
        }
        return MetadataValue::SRationals(std::move(values), !single);
    }
    case kFloat: {
        std::vector<double> values(count);
        for (size_t i = 0; i < count; ++i) {
            const uint32_t bits = static_cast<uint32_t>(Load(p + i * 4, 4, bigEndian));
            float value = 0;
            std::memcpy(&value, &bits, sizeof value);
            values[i] = value;
        }
        return MetadataValue::Real(single ? Type::Float : Type::FloatVector, std::move(values));
    }
    case kDouble: {
        std::vector<double> values(count);
        for (size_t i = 0; i < count; ++i) {
            const uint64_t bits = Load(p + i * 8, 8, bigEndian);
            std::memcpy(&values[i], &bits, sizeof bits);
        }
        return MetadataValue::Real(single ? Type::Double : Type::DoubleVector, std::move(values));
    }
    default:
        return {};
    }
}

} // namespace info
