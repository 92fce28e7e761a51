#include "decode/ultra_hdr.h"

#include <cstring>
#include <string_view>

namespace decode {

namespace {

constexpr std::string_view kXmpSignature{"http://ns.adobe.com/xap/1.0/\0", 29};
constexpr std::string_view kExtendedXmpSignature{"http://ns.adobe.com/xmp/extension/\0", 35};
constexpr std::string_view kGainMapNamespace{"http://ns.adobe.com/hdr-gain-map/1.0/"};
constexpr std::string_view kMpfSignature{"MPF\0", 4};

constexpr uint16_t kMpEntryTag = 0xB002;
constexpr size_t kMpEntrySize = 16;

bool StartsWith(const uint8_t* data, size_t length, std::string_view prefix) {
    return length >= prefix.size() && std::memcmp(data, prefix.data(), prefix.size()) == 0;
}

// Reads the TIFF-style integers of an MPF block in its declared byte order.
class TiffReader {
public:
    TiffReader(const uint8_t* data, size_t length, bool bigEndian)
        : data(data), length(length), bigEndian(bigEndian) {}

    bool Read16(size_t offset, uint16_t& value) const {
        if (offset > length || length - offset < 2) {
            return false;
        }
        const uint8_t* p = data + offset;
        value = bigEndian ? static_cast<uint16_t>(p[0] << 8 | p[1]) : static_cast<uint16_t>(p[1] << 8 | p[0]);
        return true;
    }

    bool Read32(size_t offset, uint32_t& value) const {
        if (offset > length || length - offset < 4) {
            return false;
        }
        const uint8_t* p = data + offset;
        value = bigEndian ? (uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3])
                          : (uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0]);
        return true;
    }

private:
    const uint8_t* data;
    size_t length;
    bool bigEndian;
};

// An MPF block (the payload after "MPF\0") lists a secondary image when one of its entries after the
// first points at a JPEG start-of-image inside the file. Entry offsets count from the block's start.
bool ListsSecondaryImage(const uint8_t* file, size_t fileSize, size_t blockOffset, size_t blockLength) {
    const uint8_t* block = file + blockOffset;
    if (blockLength < 8) {
        return false;
    }
    bool bigEndian = false;
    if (std::memcmp(block, "MM\0*", 4) == 0) {
        bigEndian = true;
    } else if (std::memcmp(block, "II*\0", 4) != 0) {
        return false;
    }
    const TiffReader reader(block, blockLength, bigEndian);
    uint32_t ifdOffset = 0;
    uint16_t entryCount = 0;
    if (!reader.Read32(4, ifdOffset) || !reader.Read16(ifdOffset, entryCount)) {
        return false;
    }
    for (uint32_t i = 0; i < entryCount; ++i) {
        const size_t entry = size_t{ifdOffset} + 2 + size_t{i} * 12;
        uint16_t tag = 0;
        uint32_t count = 0;
        uint32_t valueOffset = 0;
        if (!reader.Read16(entry, tag) || !reader.Read32(entry + 4, count) ||
            !reader.Read32(entry + 8, valueOffset)) {
            return false;
        }
        if (tag != kMpEntryTag) {
            continue;
        }
        const size_t images = count / kMpEntrySize;
        for (size_t image = 1; image < images; ++image) {
            const size_t record = size_t{valueOffset} + image * kMpEntrySize;
            uint32_t imageSize = 0;
            uint32_t imageOffset = 0;
            if (!reader.Read32(record + 4, imageSize) || !reader.Read32(record + 8, imageOffset)) {
                return false;
            }
            const uint64_t start = uint64_t{blockOffset} + imageOffset;
            if (imageOffset != 0 && imageSize >= 2 && start + imageSize <= fileSize && file[start] == 0xFF &&
                file[start + 1] == 0xD8) {
                return true;
            }
        }
        return false;
    }
    return false;
}

} // namespace

bool IsUltraHdrImage(const uint8_t* bytes, size_t size) {
    if (bytes == nullptr || size < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8) {
        return false;
    }
    bool hasGainMapXmp = false;
    bool hasSecondaryImage = false;
    size_t offset = 2;
    while (offset + 1 < size) {
        if (bytes[offset] != 0xFF) {
            ++offset; // stray bytes between segments
            continue;
        }
        const uint8_t marker = bytes[offset + 1];
        if (marker == 0xFF) {
            ++offset; // fill byte
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) {
            break; // the primary image's header ends at its first scan
        }
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
            offset += 2;
            continue;
        }
        if (offset + 4 > size) {
            break;
        }
        const size_t length = size_t{bytes[offset + 2]} << 8 | bytes[offset + 3];
        if (length < 2 || offset + 2 + length > size) {
            break;
        }
        const size_t payloadOffset = offset + 4;
        const size_t payloadLength = length - 2;
        const uint8_t* payload = bytes + payloadOffset;
        if (marker == 0xE1 && !hasGainMapXmp &&
            (StartsWith(payload, payloadLength, kXmpSignature) ||
             StartsWith(payload, payloadLength, kExtendedXmpSignature))) {
            const std::string_view text(reinterpret_cast<const char*>(payload), payloadLength);
            hasGainMapXmp = text.find(kGainMapNamespace) != std::string_view::npos;
        } else if (marker == 0xE2 && !hasSecondaryImage &&
                   StartsWith(payload, payloadLength, kMpfSignature)) {
            hasSecondaryImage = ListsSecondaryImage(bytes, size, payloadOffset + kMpfSignature.size(),
                                                    payloadLength - kMpfSignature.size());
        }
        if (hasGainMapXmp && hasSecondaryImage) {
            return true;
        }
        offset += 2 + length;
    }
    return false;
}

} // namespace decode
