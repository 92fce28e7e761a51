#include "loader/image_cache.h"

#include "platform/memory.h"

#include <algorithm>
#include <utility>

namespace loader {

namespace {
std::atomic<uint64_t> cacheGeneration{0};
} // namespace

CacheStore& ImageCache() {
    static CacheStore store;
    return store;
}

CacheStore& PreviewCache() {
    static CacheStore store;
    return store;
}

uint64_t CacheGeneration() {
    return cacheGeneration.load();
}

void ClearCaches() {
    // The generation moves first: an insertion racing with the clear is refused either by the changed
    // generation or removed by the clear that follows it.
    cacheGeneration.fetch_add(1);
    CacheMap released;
    {
        std::lock_guard lock(ImageCache().mutex);
        released.swap(ImageCache().entries);
    }
    {
        CacheMap previews;
        std::lock_guard lock(PreviewCache().mutex);
        previews.swap(PreviewCache().entries);
    }
    // The rasters are freed here, outside the locks, when nothing else holds them.
}

void TrimCache(CacheMap& cache, int32_t center, int32_t keep) {
    const size_t limit = static_cast<size_t>(std::max(keep, 0));
    if (cache.size() <= limit) {
        return;
    }
    // Distances in 64 bits: |key - center| overflows 32 bits for keys far apart.
    std::vector<std::pair<int64_t, int32_t>> order;
    order.reserve(cache.size());
    for (const auto& entry : cache) {
        const int64_t distance = static_cast<int64_t>(entry.first) - static_cast<int64_t>(center);
        order.emplace_back(distance < 0 ? -distance : distance, entry.first);
    }
    std::sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a > b; });
    const size_t evicted = cache.size() - limit;
    for (size_t n = 0; n < evicted; ++n) {
        cache.erase(order[n].second);
    }
}

std::optional<decode::DecodedImage> LookupCache(CacheStore& cache, int32_t index, std::string_view path) {
    std::lock_guard lock(cache.mutex);
    const auto found = cache.entries.find(index);
    if (found == cache.entries.end() || (!path.empty() && found->second.path != path)) {
        return std::nullopt;
    }
    return found->second.image;
}

bool IsCached(CacheStore& cache, int32_t index, std::string_view path) {
    std::lock_guard lock(cache.mutex);
    const auto found = cache.entries.find(index);
    return found != cache.entries.end() && (path.empty() || found->second.path == path);
}

bool InsertIntoCache(CacheStore& cache, int32_t index, std::string path, const decode::DecodedImage& image,
                     uint64_t generation, int32_t center, int32_t keep) {
    std::lock_guard lock(cache.mutex);
    if (cacheGeneration.load() != generation) {
        return false;
    }
    cache.entries.insert_or_assign(index, CacheEntry{image, std::move(path)});
    TrimCache(cache.entries, center, keep);
    return true;
}

uint64_t CacheMemoryBudget(uint64_t availableBytes) {
    return std::clamp(availableBytes / 10u * 3u + availableBytes % 10u * 3u / 10u, kMinCacheBudget,
                      kMaxCacheBudget);
}

int32_t CacheCapacityFor(uint32_t width, uint32_t height, uint64_t availableBytes) {
    const uint64_t bytes = uint64_t{width} * uint64_t{height} * 4u;
    if (bytes == 0) {
        return CacheCapacity.load();
    }
    const uint64_t budget = CacheMemoryBudget(availableBytes);
    const uint64_t count = std::clamp<uint64_t>(budget / bytes, kMinCacheCapacity, kMaxCacheCapacity);
    return static_cast<int32_t>(count);
}

void UpdateCacheCapacity(uint32_t width, uint32_t height) {
    CacheCapacity.store(CacheCapacityFor(width, height, platform::AvailablePhysicalMemory()));
}

std::vector<int32_t> BuildPrefetchOrder(int32_t center, int32_t capacity, int32_t direction) {
    const int32_t half = capacity / 2;
    std::vector<int32_t> order;
    if (half < 1) {
        return order;
    }
    order.reserve(static_cast<size_t>(half) * 2);
    const int64_t first = direction < 0 ? -1 : 1;
    for (int64_t side : {first, -first}) {
        for (int64_t step = 1; step <= half; ++step) {
            const int64_t position = static_cast<int64_t>(center) + side * step;
            if (position >= INT32_MIN && position <= INT32_MAX) {
                order.push_back(static_cast<int32_t>(position));
            }
        }
    }
    return order;
}

} // namespace loader
