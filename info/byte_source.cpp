#include "info/byte_source.h"

#include <algorithm>
#include <cstring>
#include <sys/stat.h>

namespace info {

namespace {

constexpr size_t kWindowSize = 64 * 1024;

} // namespace

bool ByteSource::ReadU16(uint64_t offset, bool bigEndian, uint16_t& value) {
    uint8_t b[2];
    if (!Read(offset, b, 2)) {
        return false;
    }
    value = bigEndian ? static_cast<uint16_t>(b[0] << 8 | b[1]) : static_cast<uint16_t>(b[1] << 8 | b[0]);
    return true;
}

bool ByteSource::ReadU32(uint64_t offset, bool bigEndian, uint32_t& value) {
    uint8_t b[4];
    if (!Read(offset, b, 4)) {
        return false;
    }
    value = 0;
    for (int i = 0; i < 4; ++i) {
        value = value << 8 | b[bigEndian ? i : 3 - i];
    }
    return true;
}

bool ByteSource::ReadU64(uint64_t offset, bool bigEndian, uint64_t& value) {
    uint8_t b[8];
    if (!Read(offset, b, 8)) {
        return false;
    }
    value = 0;
    for (int i = 0; i < 8; ++i) {
        value = value << 8 | b[bigEndian ? i : 7 - i];
    }
    return true;
}

bool ByteSource::ReadBytes(uint64_t offset, size_t count, std::vector<uint8_t>& bytes) {
    if (!Contains(offset, count)) {
        bytes.clear();
        return false;
    }
    bytes.resize(count);
    if (count == 0) {
        return true;
    }
    if (!Read(offset, bytes.data(), count)) {
        bytes.clear();
        return false;
    }
    return true;
}

MemoryByteSource::MemoryByteSource(std::vector<uint8_t> ownedBytes)
    : owned(std::move(ownedBytes)), bytes(owned.data()), size(owned.size()) {}

bool MemoryByteSource::Read(uint64_t offset, void* out, size_t count) {
    if (!Contains(offset, count)) {
        return false;
    }
    if (count != 0) {
        std::memcpy(out, bytes + offset, count);
    }
    return true;
}

std::unique_ptr<FileByteSource> FileByteSource::Open(const std::string& path) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        return nullptr;
    }
    struct stat status {};
    if (::fstat(::fileno(file.get()), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < 0) {
        return nullptr;
    }
    return std::unique_ptr<FileByteSource>(
        new FileByteSource(std::move(file), static_cast<uint64_t>(status.st_size)));
}

FileByteSource::FileByteSource(std::unique_ptr<std::FILE, FileCloser> file, uint64_t size)
    : file(std::move(file)), size(size) {}

bool FileByteSource::ReadDirect(uint64_t offset, void* out, size_t count) {
    if (::fseeko(file.get(), static_cast<off_t>(offset), SEEK_SET) != 0) {
        return false;
    }
    return std::fread(out, 1, count, file.get()) == count;
}

bool FileByteSource::Read(uint64_t offset, void* out, size_t count) {
    if (!Contains(offset, count)) {
        return false;
    }
    if (count == 0) {
        return true;
    }
    if (offset >= windowOffset && offset - windowOffset <= windowLength &&
        count <= windowLength - (offset - windowOffset)) {
        std::memcpy(out, window.data() + (offset - windowOffset), count);
        return true;
    }
    if (count > kWindowSize / 2) {
        return ReadDirect(offset, out, count);
    }
    window.resize(kWindowSize);
    const size_t length = static_cast<size_t>(std::min<uint64_t>(kWindowSize, size - offset));
    if (!ReadDirect(offset, window.data(), length)) {
        windowLength = 0;
        return false;
    }
    windowOffset = offset;
    windowLength = length;
    std::memcpy(out, window.data(), count);
    return true;
}

} // namespace info
