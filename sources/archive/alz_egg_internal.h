#pragma once

// Shared by the ALZ and EGG readers: the byte source both parsers read through (a file kept open or
// bytes in memory), a cursor that counts the bytes consumed, and the reader that extracts entries.

#include "sources/archive/alz_egg_reader.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sources::archive {

// Random-access bytes of one archive. Reads are all-or-nothing.
class ArchiveByteSource {
public:
    virtual ~ArchiveByteSource() = default;
    virtual uint64_t Size() const = 0;
    virtual bool ReadAt(uint64_t offset, void* out, size_t length) = 0;
};

// A regular file opened for reading, kept open until the source is destroyed; nullptr when it cannot be
// opened or is not a regular file.
std::unique_ptr<ArchiveByteSource> OpenFileByteSource(const std::string& path);
std::unique_ptr<ArchiveByteSource> MakeMemoryByteSource(std::vector<uint8_t> bytes);

// Sequential little-endian reads with the parser's own position. Every read and skip is checked
// against the size of the source: one that would pass the end fails and leaves the position unchanged.
class ArchiveCursor {
public:
    explicit ArchiveCursor(ArchiveByteSource& source) : source(source), size(source.Size()) {}

    uint64_t Position() const { return position; }
    uint64_t Size() const { return size; }
    bool AtEnd() const { return position >= size; }

    bool Read(void* out, size_t length);
    bool ReadU8(uint8_t& value);
    bool ReadU16(uint16_t& value);
    bool ReadU32(uint32_t& value);
    bool ReadU64(uint64_t& value);
    // Reads a little-endian unsigned integer of 1, 2, 4 or 8 bytes.
    bool ReadSized(size_t width, uint64_t& value);
    bool Skip(uint64_t length);
    bool Rewind(uint64_t length);

private:
    ArchiveByteSource& source;
    uint64_t size;
    uint64_t position = 0;
};

// Entries listed past this count are dropped: a hostile archive of tiny headers cannot make the entry
// list many times larger than the file.
inline constexpr size_t kMaxArchiveEntries = size_t{1} << 20;

// What a parser hands to the reader: the entries in file order, and for each whether its data is not
// the single block described by the entry (an EGG file stored in several blocks), so that extraction
// refuses it instead of returning part of the file.
struct ParsedArchive {
    std::vector<EggEntry> entries;
    std::vector<bool> incomplete;
};

// The reader over a parsed archive. `deflateMethod` is the format's method code for raw deflate.
std::unique_ptr<ContainerReader> MakeContainerReader(std::unique_ptr<ArchiveByteSource> source,
                                                     ParsedArchive parsed, uint8_t deflateMethod);

} // namespace sources::archive
