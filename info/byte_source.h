#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace info {

// Random access to the bytes of one file or buffer, for the metadata parsers. Every read is
// bounds-checked: a read that would reach past the end fails and copies nothing useful. Not
// thread-safe (the file form keeps a read window); one reader uses it on one thread.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Copies `count` bytes at `offset` into `out`; false when they are not all inside the source.
    virtual bool Read(uint64_t offset, void* out, size_t count) = 0;

    bool ReadU8(uint64_t offset, uint8_t& value) { return Read(offset, &value, 1); }
    bool ReadU16(uint64_t offset, bool bigEndian, uint16_t& value);
    bool ReadU32(uint64_t offset, bool bigEndian, uint32_t& value);
    bool ReadU64(uint64_t offset, bool bigEndian, uint64_t& value);
    // Reads `count` bytes into `bytes` (resized); fails without allocating when they are not inside.
    bool ReadBytes(uint64_t offset, size_t count, std::vector<uint8_t>& bytes);
    bool Contains(uint64_t offset, uint64_t count) const {
        return offset <= Size() && count <= Size() - offset;
    }
};

// A caller's buffer, borrowed: it must outlive the source.
class MemoryByteSource final : public ByteSource {
public:
    MemoryByteSource(const uint8_t* bytes, size_t size) : bytes(bytes), size(bytes != nullptr ? size : 0) {}
    // Owns a copy of its bytes.
    explicit MemoryByteSource(std::vector<uint8_t> owned);
    uint64_t Size() const override { return size; }
    bool Read(uint64_t offset, void* out, size_t count) override;

private:
    std::vector<uint8_t> owned;
    const uint8_t* bytes;
    size_t size;
};

// A file opened for reading, read through a small window so that the many short reads of a container
// walk do not each reach the operating system.
class FileByteSource final : public ByteSource {
public:
    // Null when the path cannot be opened as a regular file.
    static std::unique_ptr<FileByteSource> Open(const std::string& path);
    uint64_t Size() const override { return size; }
    bool Read(uint64_t offset, void* out, size_t count) override;

private:
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    FileByteSource(std::unique_ptr<std::FILE, FileCloser> file, uint64_t size);
    bool ReadDirect(uint64_t offset, void* out, size_t count);

    std::unique_ptr<std::FILE, FileCloser> file;
    uint64_t size;
    std::vector<uint8_t> window;
    uint64_t windowOffset = 0;
    size_t windowLength = 0;
};

} // namespace info
