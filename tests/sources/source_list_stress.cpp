// Readers on other threads see the list the way the loader threads do while the UI thread re-sorts and
// re-opens it.

#include "sources/sort_orders.h"
#include "sources/source_list.h"
#include "tests/sources/hook_recorder.h"
#include "tests/support/test_support.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

TEST(SourceListStress, ReSortingNeverShowsAnotherImageAsCurrent) {
    sources_test::HookRecorder recorder;
    testing_support::TemporaryDirectory folder;
    for (int i = 0; i < 300; ++i) {
        folder.Write("Page " + std::to_string(i * 7 % 300) + (i % 2 ? ".JPG" : ".png"), std::string());
    }
    const std::string current = folder.File("Page 123.JPG");
    sources::OpenPath(current);
    ASSERT_EQ(sources::CopyItemPath(sources::CurrentIndex.load()), current);

    std::atomic<bool> stop{false};
    std::atomic<int> mismatches{0};
    std::atomic<long> reads{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r) {
        readers.emplace_back([&] {
            while (!stop.load()) {
                // The index and the list change together under the lock, so the current item read in
                // one step is always the image the user looks at.
                const sources::CurrentItem item = sources::SnapshotCurrentItem();
                if (item.path != current || item.count != 300) {
                    mismatches.fetch_add(1);
                }
                reads.fetch_add(1);
            }
        });
    }
    for (int round = 0; round < 200; ++round) {
        sources::SortCommand(static_cast<uint32_t>(round % sources::kSortModeCount));
    }
    stop = true;
    for (std::thread& reader : readers) {
        reader.join();
    }
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(sources::CopyItemPath(sources::CurrentIndex.load()), current);
}

TEST(SourceListStress, ReadersSurviveReopening) {
    sources_test::HookRecorder recorder;
    testing_support::TemporaryDirectory folder;
    for (int i = 0; i < 100; ++i) {
        folder.Write(std::to_string(i) + ".jpg", std::string());
    }
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop.load()) {
            const int32_t index = sources::CurrentIndex.load();
            const std::string path = sources::CopyItemPath(index);
            // An index outside the list (-1 during the reset) gives an empty path, never a stale one.
            EXPECT_TRUE(path.empty() || path.rfind(folder.Path().string(), 0) == 0) << path;
        }
    });
    for (int round = 0; round < 50; ++round) {
        sources::OpenPath(folder.File(std::to_string(round) + ".jpg"));
    }
    stop = true;
    reader.join();
    EXPECT_EQ(sources::SourceListCount(), 100u);
}

TEST(SourceListStress, ReopeningNeverShowsTheListUnsorted) {
    sources_test::HookRecorder recorder;
    testing_support::TemporaryDirectory folder;
    for (int i = 0; i < 400; ++i) {
        folder.Write("img " + std::to_string(i * 37 % 400) + ".png", std::string());
    }
    std::atomic<bool> stop{false};
    std::atomic<int> unsorted{0};
    std::atomic<long> reads{0};
    std::thread reader([&] {
        while (!stop.load()) {
            // A loader thread copies the item at an index; in an unsorted list that is another image
            // than the one the index will name once the list is sorted.
            const std::vector<sources::ItemPath> items = sources::CopySourceList();
            if (items.empty()) {
                continue;
            }
            std::vector<sources::ItemPath> sorted = items;
            sources::SortItemPaths(sorted, sources::SortMode.load());
            if (sorted != items) {
                unsorted.fetch_add(1);
            }
            reads.fetch_add(1);
        }
    });
    for (int round = 0; round < 40; ++round) {
        sources::OpenPath(folder.File("img " + std::to_string(round) + ".png"));
    }
    // The last list stays, so a reader starved during the re-opens still gets to read it.
    for (int wait = 0; wait < 1000 && reads.load() == 0; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    stop = true;
    reader.join();
    EXPECT_EQ(unsorted.load(), 0);
    EXPECT_GT(reads.load(), 0);
}

} // namespace
