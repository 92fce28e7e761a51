#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

// Why an item could not be shown, and the memory of items that failed, so that a neighbour that does
// not decode is not decoded again on every prefetch pass.
namespace loader {

enum class LoadFailure {
    None,
    Missing,     // the file (or the folder) does not exist
    Unreadable,  // it exists but cannot be read (permissions, a folder where a file was expected)
    Empty,       // a file of 0 bytes
    NoImages,    // a folder without image files
    Unsupported, // no decoder reads files of its type
    Undecodable, // a decoder tried and failed: corrupt, truncated or over a limit
};

// Why a plain file (or an item inside a container, whose container is examined) failed to decode,
// from what the file system says about it; Undecodable when the file itself looks fine.
LoadFailure DescribeLoadFailure(const std::string& path);

// Items whose decode failed, keyed by their path and the cache generation (see CacheGeneration) in
// which they failed: a new listing or order forgets them all. Thread-safe.
class FailedItems {
public:
    void Remember(const std::string& path, uint64_t generation, LoadFailure failure);
    // The remembered failure of `path` in `generation`, or None.
    LoadFailure Lookup(const std::string& path, uint64_t generation) const;

private:
    mutable std::mutex mutex;
    uint64_t generation = 0;                            // guarded by mutex
    std::unordered_map<std::string, LoadFailure> items; // guarded by mutex
};

FailedItems& FailedItemList();

} // namespace loader
