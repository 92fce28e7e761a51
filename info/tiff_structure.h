#pragma once

#include "info/byte_source.h"
#include "info/metadata_value.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace info {

// The tags that lead from one image file directory to another.
inline constexpr uint16_t kExifPointerTag = 34665;
inline constexpr uint16_t kGpsPointerTag = 34853;
inline constexpr uint16_t kInteropPointerTag = 40965;

// A TIFF-structured block inside a byte source: a whole TIFF file (classic or BigTIFF, either byte
// order), or the EXIF block of another container. Directory offsets are relative to the block's
// start, as the format stores them; every offset, count and size is checked against the block before
// anything is read, and values larger than the caps below read as absent. Directories are read on
// demand, so a query costs only the directories on its path.
class TiffStructure {
public:
    // Largest value read: text and blobs (bytes) and numeric vectors (elements).
    static constexpr uint64_t kMaxValueBytes = 4u << 20;
    static constexpr uint64_t kMaxElements = 1u << 18;
    // Most entries read from one directory, and most directories followed along a chain.
    static constexpr uint64_t kMaxEntries = 65535;
    static constexpr size_t kMaxChainLength = 65536;

    // Reads the header at `base`; false when the block is not TIFF-structured. `source` must outlive
    // this object.
    bool Open(ByteSource& source, uint64_t base, uint64_t length);
    bool IsOpen() const { return source != nullptr; }
    bool IsBigEndian() const { return bigEndian; }
    bool IsBigTiff() const { return bigTiff; }

    // Offset of IFD0 (nothing when it lies outside the block).
    std::optional<uint64_t> FirstDirectory() const;
    // The directory that follows `directory` in its chain; nothing at the end or on a bad offset.
    std::optional<uint64_t> NextDirectory(uint64_t directory);
    // IFD0, IFD1, ... following the chain. Stops at the end, at an offset outside the block, at a
    // directory already visited (a loop) and after `maxCount` directories.
    std::vector<uint64_t> DirectoryChain(size_t maxCount = kMaxChainLength);
    // The directory named by a pointer tag (EXIF, GPS, interoperability, or any LONG/IFD tag).
    std::optional<uint64_t> SubDirectory(uint64_t directory, uint16_t pointerTag);
    // The typed value of `tag` in `directory`; Empty when absent, malformed or too large.
    MetadataValue ReadTag(uint64_t directory, uint16_t tag);

private:
    struct Entry {
        uint16_t tag = 0;
        uint16_t type = 0;
        uint64_t count = 0;
        uint64_t valuePosition = 0; // block-relative offset of the value bytes
        uint64_t byteCount = 0;
    };

    bool EntryTable(uint64_t directory, uint64_t& entryCount, uint64_t& firstEntry,
                    uint64_t* declaredCount = nullptr);
    bool FindEntry(uint64_t directory, uint16_t tag, Entry& entry);
    bool ReadBlock(uint64_t offset, void* out, size_t count);
    bool ReadOffset(uint64_t offset, uint64_t& value); // 4 or 8 bytes, by flavour
    MetadataValue Decode(const Entry& entry, const std::vector<uint8_t>& bytes) const;

    ByteSource* source = nullptr;
    uint64_t base = 0;
    uint64_t length = 0;
    bool bigEndian = false;
    bool bigTiff = false;
    uint64_t firstDirectory = 0;
};

} // namespace info
