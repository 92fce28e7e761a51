#pragma once

#include "decode/decoded_image.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The two index-keyed caches of decoded images, their trimming, the memory budget that sizes the
// image cache, and the order in which neighbours are prefetched.
namespace loader {

// An image with the item path it was decoded from. Keys are list positions, so an entry also names its
// item: a lookup for a position whose item is no longer that path misses, whatever the order in which
// a re-sort installs the new list and empties the caches.
struct CacheEntry {
    decode::DecodedImage image;
    std::string path;
};

using CacheMap = std::unordered_map<int32_t, CacheEntry>;

// Keys are positions in the source list, so both caches are emptied whenever the list is rebuilt or
// re-sorted. Entries share their pixels: a copy taken under the lock stays valid after eviction.
struct CacheStore {
    std::mutex mutex;
    CacheMap entries; // guarded by mutex
};

// Prefetched neighbours, decoded at most to the screen size. Written by the prefetch thread (insert,
// trim) and the UI thread (clear); read by the loader thread.
CacheStore& ImageCache();
// Quick previews (at most 320 x 320) of recently shown items. Written by the loader thread, cleared by
// the UI thread.
CacheStore& PreviewCache();

// How many images the image cache may hold; also sets the prefetch radius. 10..100 once a full image
// was decoded; not reset when another source opens.
inline std::atomic<int32_t> CacheCapacity{20};

inline constexpr int32_t kPreviewCacheKeep = 16;
inline constexpr int32_t kMinCacheCapacity = 10;
inline constexpr int32_t kMaxCacheCapacity = 100;
inline constexpr uint64_t kMinCacheBudget = uint64_t{200} << 20;
inline constexpr uint64_t kMaxCacheBudget = uint64_t{2} << 30;

// Changes every time the caches are emptied. Work that started from a list position remembers the
// value it saw before copying the item's path and stores or publishes its result only while the value
// is unchanged, so a result decoded for a previous list never lands under a key of the new one (even
// when the new list happens to put the user at the same index).
uint64_t CacheGeneration();

// Empties both caches and starts a new generation. UI thread, after the list was emptied or reordered.
void ClearCaches();

// Evicts entries until at most `keep` remain: the farthest from `center` first and, at equal distance,
// the larger index first. The caller holds the cache's lock.
void TrimCache(CacheMap& cache, int32_t center, int32_t keep);

// A shared reference to the image at `index` when there is one decoded from `path` (from any path when
// `path` is empty).
std::optional<decode::DecodedImage> LookupCache(CacheStore& cache, int32_t index, std::string_view path = {});
bool IsCached(CacheStore& cache, int32_t index, std::string_view path = {});

// Stores `image`, decoded from `path`, at `index` (replacing any entry) and trims around `center` to
// `keep`, all under the cache's lock, provided the caches were not emptied since `generation` was read.
// False when the entry was dropped for that reason.
bool InsertIntoCache(CacheStore& cache, int32_t index, std::string path, const decode::DecodedImage& image,
                     uint64_t generation, int32_t center, int32_t keep);

// The bytes decoded images may take: 3/10 of the available memory, held within 200 MiB..2 GiB.
uint64_t CacheMemoryBudget(uint64_t availableBytes);

// The image count the budget allows for images of width x height: 3/10 of the available memory, held
// within 200 MiB..2 GiB, divided by the image's byte size and held within 10..100.
int32_t CacheCapacityFor(uint32_t width, uint32_t height, uint64_t availableBytes);

// Recomputes CacheCapacity from the available physical memory for the current image's size.
void UpdateCacheCapacity(uint32_t width, uint32_t height);

// Positions to prefetch around `center` with capacity `capacity`: half = capacity / 2 positions in the
// direction of travel first (direction < 0 is backwards), then half in the other direction. The center
// itself never appears; positions outside the list are left for the caller to skip.
std::vector<int32_t> BuildPrefetchOrder(int32_t center, int32_t capacity, int32_t direction);

} // namespace loader
