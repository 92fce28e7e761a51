#include "loader/image_cache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

namespace {

using loader::BuildPrefetchOrder;
using loader::CacheCapacityFor;
using loader::CacheMap;
using loader::TrimCache;

decode::DecodedImage Tiny(uint32_t width) {
    decode::DecodedImage image;
    image.width = width;
    image.height = 1;
    image.stride = width * 4;
    image.size = image.stride;
    image.pixels = std::make_unique<uint8_t[]>(image.size);
    return image;
}

std::vector<int32_t> Keys(const CacheMap& cache) {
    std::vector<int32_t> keys;
    for (const auto& entry : cache) {
        keys.push_back(entry.first);
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

CacheMap WithKeys(std::initializer_list<int32_t> keys) {
    CacheMap cache;
    for (int32_t key : keys) {
        cache.emplace(key, loader::CacheEntry{Tiny(1), "item " + std::to_string(key)});
    }
    return cache;
}

TEST(TrimCache, EvictsFarthestAndLargerIndexOnTies) {
    CacheMap cache = WithKeys({8, 9, 11, 12});
    TrimCache(cache, 10, 2);
    EXPECT_EQ(Keys(cache), (std::vector<int32_t>{9, 11}));

    // At equal distance the entry ahead of the center goes first.
    cache = WithKeys({9, 11});
    TrimCache(cache, 10, 1);
    EXPECT_EQ(Keys(cache), (std::vector<int32_t>{9}));

    cache = WithKeys({0, 5, 20, 21, 22});
    TrimCache(cache, 20, 3);
    EXPECT_EQ(Keys(cache), (std::vector<int32_t>{20, 21, 22}));

    // Nothing to do at or below the limit; a non-positive keep empties the cache.
    cache = WithKeys({1, 2, 3});
    TrimCache(cache, 100, 3);
    EXPECT_EQ(cache.size(), 3u);
    TrimCache(cache, 0, 0);
    EXPECT_TRUE(cache.empty());

    // Keys at the ends of the range do not overflow the distance.
    cache = WithKeys({INT32_MIN, INT32_MAX, 0});
    TrimCache(cache, INT32_MIN, 1);
    EXPECT_EQ(Keys(cache), (std::vector<int32_t>{INT32_MIN}));
}

TEST(TrimCache, EvictedPixelsStayValidForOtherHolders) {
    CacheMap cache;
    cache.emplace(0, loader::CacheEntry{Tiny(8), "a"});
    cache.emplace(50, loader::CacheEntry{Tiny(16), "b"});
    const decode::DecodedImage shown = cache.at(50).image;
    TrimCache(cache, 0, 1);
    ASSERT_FALSE(cache.contains(50));
    EXPECT_EQ(shown.pixels.use_count(), 1);
    EXPECT_EQ(shown.width, 16u);
}

TEST(CacheCapacity, FollowsTheMemoryBudget) {
    constexpr uint64_t kGiB = uint64_t{1} << 30;
    EXPECT_EQ(CacheCapacityFor(1920, 1080, 8 * kGiB), 100);
    EXPECT_EQ(CacheCapacityFor(1920, 1080, kGiB), 38);
    EXPECT_EQ(CacheCapacityFor(1920, 1080, 500'000'000), 25); // the 200 MiB floor
    EXPECT_EQ(CacheCapacityFor(3840, 2160, 8 * kGiB), 64);
    // 2 GiB ceiling: 64 GiB available is treated as 2 GiB.
    EXPECT_EQ(CacheCapacityFor(7680, 4320, 64 * kGiB), 16);
    // Nothing readable: the floor budget; a huge image still keeps ten.
    EXPECT_EQ(CacheCapacityFor(1920, 1080, 0), 25);
    EXPECT_EQ(CacheCapacityFor(30000, 30000, 8 * kGiB), 10);
    EXPECT_EQ(CacheCapacityFor(16, 16, 8 * kGiB), 100);
}

TEST(PrefetchOrder, DirectionOfTravelFirst) {
    std::vector<int32_t> forward;
    for (int32_t i = 11; i <= 20; ++i) {
        forward.push_back(i);
    }
    for (int32_t i = 9; i >= 0; --i) {
        forward.push_back(i);
    }
    EXPECT_EQ(BuildPrefetchOrder(10, 20, 1), forward);

    std::vector<int32_t> backward;
    for (int32_t i = 9; i >= 0; --i) {
        backward.push_back(i);
    }
    for (int32_t i = 11; i <= 20; ++i) {
        backward.push_back(i);
    }
    EXPECT_EQ(BuildPrefetchOrder(10, 20, -1), backward);

    // An odd capacity rounds the radius down; below two there is nothing to prefetch.
    EXPECT_EQ(BuildPrefetchOrder(0, 5, 1), (std::vector<int32_t>{1, 2, -1, -2}));
    EXPECT_TRUE(BuildPrefetchOrder(3, 1, 1).empty());
    EXPECT_TRUE(BuildPrefetchOrder(3, 0, -1).empty());
    EXPECT_EQ(BuildPrefetchOrder(INT32_MAX, 4, 1), (std::vector<int32_t>{INT32_MAX - 1, INT32_MAX - 2}));
}

TEST(CacheStore, InsertionFromAnEarlierListIsRefused) {
    loader::ClearCaches();
    const uint64_t before = loader::CacheGeneration();
    EXPECT_TRUE(loader::InsertIntoCache(loader::ImageCache(), 3, "/a/3.jpg", Tiny(4), before, 3, 20));
    EXPECT_TRUE(loader::IsCached(loader::ImageCache(), 3, "/a/3.jpg"));
    EXPECT_TRUE(loader::IsCached(loader::ImageCache(), 3));

    // An entry names the item it was decoded from: another item at the same position misses, until
    // the entry is replaced.
    EXPECT_FALSE(loader::IsCached(loader::ImageCache(), 3, "/a/7.jpg"));
    EXPECT_FALSE(loader::LookupCache(loader::ImageCache(), 3, "/a/7.jpg").has_value());
    EXPECT_EQ(loader::LookupCache(loader::ImageCache(), 3, "/a/3.jpg")->width, 4u);
    EXPECT_TRUE(loader::InsertIntoCache(loader::ImageCache(), 3, "/a/7.jpg", Tiny(5), before, 3, 20));
    EXPECT_EQ(loader::LookupCache(loader::ImageCache(), 3, "/a/7.jpg")->width, 5u);
    EXPECT_FALSE(loader::IsCached(loader::ImageCache(), 3, "/a/3.jpg"));

    // An open (or re-sort) empties the caches; a decode that began on the old list must not land.
    loader::ClearCaches();
    EXPECT_FALSE(loader::IsCached(loader::ImageCache(), 3));
    EXPECT_FALSE(loader::InsertIntoCache(loader::ImageCache(), 3, "/a/3.jpg", Tiny(4), before, 3, 20));
    EXPECT_FALSE(loader::InsertIntoCache(loader::PreviewCache(), 3, "/a/3.jpg", Tiny(4), before, 3, 16));
    EXPECT_FALSE(loader::LookupCache(loader::ImageCache(), 3).has_value());

    const uint64_t now = loader::CacheGeneration();
    for (int32_t key = 0; key < 30; ++key) {
        EXPECT_TRUE(loader::InsertIntoCache(loader::PreviewCache(), key, "p", Tiny(1), now, 29, 16));
    }
    std::lock_guard lock(loader::PreviewCache().mutex);
    EXPECT_EQ(Keys(loader::PreviewCache().entries).front(), 14);
    EXPECT_EQ(loader::PreviewCache().entries.size(), 16u);
}

} // namespace
