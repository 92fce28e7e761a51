#include "decode/ico_reader.h"

#include "decode/bmp_reader.h"
#include "decode/png_reader.h"

#include <algorithm>
#include <vector>

namespace decode {

namespace {

constexpr size_t kDirectoryHeaderSize = 6;
constexpr size_t kEntrySize = 16;

uint16_t Read16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Read32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

struct Entry {
    uint32_t width;
    uint32_t height;
    uint32_t bitCount;
    uint32_t size;
    uint32_t offset;
};

bool DecodeEntry(const uint8_t* data, size_t size, const Entry& entry, RasterBuilder& out) {
    if (entry.offset >= size) {
        return false;
    }
    // The directory's byte count is often wrong; the stream itself says how much it needs, bounded by the
    // end of the file.
    const uint8_t* bytes = data + entry.offset;
    const size_t available = size - entry.offset;
    if (IsPngSignature(bytes, available)) {
        return ReadPng(bytes, available, out, nullptr);
    }
    return ReadDib(bytes, available, DibKind::Icon, out);
}

} // namespace

bool IsIcoSignature(const uint8_t* data, size_t size) {
    if (data == nullptr || size < kDirectoryHeaderSize + kEntrySize) {
        return false;
    }
    const uint16_t type = Read16(data + 2);
    const uint16_t count = Read16(data + 4);
    if (Read16(data) != 0 || (type != 1 && type != 2) || count == 0) {
        return false;
    }
    // The first entry must point past the directory; this keeps the 4-byte signature from matching noise.
    const uint32_t offset = Read32(data + kDirectoryHeaderSize + 12);
    return data[kDirectoryHeaderSize + 3] == 0 && offset >= kDirectoryHeaderSize + kEntrySize * count;
}

bool ReadIco(const uint8_t* data, size_t size, RasterBuilder& out) {
    if (!IsIcoSignature(data, size)) {
        return false;
    }
    const uint16_t count = Read16(data + 4);
    std::vector<Entry> entries;
    for (uint32_t i = 0; i < count; ++i) {
        const size_t position = kDirectoryHeaderSize + i * kEntrySize;
        if (position + kEntrySize > size) {
            break;
        }
        const uint8_t* p = data + position;
        Entry entry{p[0] == 0 ? 256u : p[0], p[1] == 0 ? 256u : p[1], Read16(p + 6), Read32(p + 8),
                    Read32(p + 12)};
        if (entry.offset < size) {
            entries.push_back(entry);
        }
    }
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        const uint32_t areaA = a.width * a.height;
        const uint32_t areaB = b.width * b.height;
        return areaA != areaB ? areaA > areaB : a.bitCount > b.bitCount;
    });
    // A builder accepts one image only, so a failed entry ends the load; the largest entry is the one the
    // viewer wants and a broken one means a broken file.
    return !entries.empty() && DecodeEntry(data, size, entries.front(), out);
}

} // namespace decode
