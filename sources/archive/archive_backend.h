#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// What the archive bridge asks of a library that reads one kind of archive (7-Zip's library, or
// libarchive for RAR and compressed tar files): its entries, one entry into memory, and a sequential
// pass over many entries for archives that can only be read in order.
namespace sources::archive {

// One image entry of the open archive.
struct ArchiveEntry {
    uint32_t entryIndex = 0; // the library's item index, or the position in the ALZ/EGG reader's list
    std::string entryName;   // the entry's path inside the archive, as stored (UTF-8)
    std::string fileName;    // the entry name after its last "/" or "\"
    uint64_t size = 0;       // uncompressed size as the archive reports it; 0 when it reports none
};

// An item as a backend lists it, before the bridge keeps the images.
struct ListedItem {
    uint32_t index = 0;
    std::string name;
    uint64_t size = 0;
    bool isDirectory = false;
};

// Receives the entries of a sequential pass on the pass's thread.
class PassSink {
public:
    enum class Decision { Keep, Skip, Abort };
    virtual ~PassSink() = default;
    // Before the item `index` is extracted: keep its bytes, skip them, or end the pass. May block.
    virtual Decision Begin(uint32_t index) = 0;
    // After a kept item: its bytes, or failure.
    virtual void Finish(uint32_t index, std::vector<uint8_t>&& bytes, bool succeeded) = 0;
    // Polled while data flows: true ends the pass as soon as the library lets it.
    virtual bool Cancelled() const = 0;
};

class ArchiveBackend {
public:
    virtual ~ArchiveBackend() = default;
    // Every item of the archive, directories included, in the library's order.
    virtual const std::vector<ListedItem>& Items() const = 0;
    // Decoding one item costs decoding the items before it (solid blocks, compressed tar streams).
    virtual bool IsSolid() const = 0;
    // The item's uncompressed bytes (`expectedSize` reserved up front when not 0); false when it cannot
    // be extracted or grows past kMaxArchiveEntryBytes.
    virtual bool ExtractItem(uint32_t index, uint64_t expectedSize, std::vector<uint8_t>& bytes) = 0;
    // Offers the items of `indices` (ascending) to `sink` in that order in one pass of the library.
    // Returns when the pass is done, failed, or the sink asked to stop.
    virtual void RunPass(const std::vector<uint32_t>& indices, PassSink& sink) = 0;
};

} // namespace sources::archive
