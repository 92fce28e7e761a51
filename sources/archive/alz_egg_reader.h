#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The program's own readers for ALZ and EGG archives. A reader scans the archive's headers once when it
// is opened, keeps the file open for its whole life and extracts single entries into memory (stored as
// they are, deflated through zlib's raw inflate). A reader is not thread-safe: the archive bridge calls
// it under its ALZ/EGG lock only.
namespace sources::archive {

// No entry is extracted past this many bytes, whatever size the archive declares.
inline constexpr uint64_t kMaxArchiveEntryBytes = uint64_t{512} << 20;

struct EggEntry {
    std::string name; // entry path as stored, in UTF-8 (ALZ names converted from CP949)
    uint64_t uncompressedSize = 0;
    uint64_t compressedSize = 0;
    uint32_t crc = 0;        // as stored; never verified
    uint8_t method = 0;      // EGG: 0 stored, 1 deflate; ALZ: 0 stored, 2 deflate
    uint8_t protection = 0;  // non-zero: encrypted, never extracted
    uint64_t dataOffset = 0; // file offset of the entry's data
    uint32_t fileId = 0;     // EGG only
};

class ContainerReader {
public:
    virtual ~ContainerReader() = default;
    // Parsed entries in file order; an entry's index is its position here.
    virtual const std::vector<EggEntry>& Entries() const = 0;
    // The entry's uncompressed bytes; false for an index out of range, a protected entry, an unknown
    // method, a failed read, corrupt deflate data or an entry larger than kMaxArchiveEntryBytes.
    virtual bool ExtractEntry(uint32_t index, std::vector<uint8_t>& bytes) = 0;
};

// Open and parse; nullptr when the file cannot be opened or the parse finds no entry.
std::unique_ptr<ContainerReader> OpenEggReader(const std::string& path);
std::unique_ptr<ContainerReader> OpenAlzReader(const std::string& path);

// The same parsers over bytes in memory (tests and fuzzing).
std::unique_ptr<ContainerReader> OpenEggReaderFromMemory(std::vector<uint8_t> bytes);
std::unique_ptr<ContainerReader> OpenAlzReaderFromMemory(std::vector<uint8_t> bytes);

} // namespace sources::archive
