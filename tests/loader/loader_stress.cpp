#include "loader/loader_threads.h"

#include "loader_harness.h"
#include "tests/support/loader_images.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <random>
#include <thread>

namespace {

using loader_testing::DecodedSize;
using loader_testing::Eventually;
using loader_testing::FullImageSizes;
using loader_testing::LoaderHarness;
using loader_testing::Size;
using testing_support::LoaderImageKind;
using testing_support::TemporaryDirectory;
using testing_support::WriteLoaderImages;

constexpr int kImages = 100;
constexpr int kMoves = 1000;
constexpr uint32_t kScreenWidth = 480;
constexpr uint32_t kScreenHeight = 360;

struct Move {
    uint64_t publicationsBefore = 0; // slot publications counted when the position changed
    int32_t index = -1;
};

struct Publication {
    uint64_t number = 0;
    int32_t index = -1;
    bool preview = false;
    Size size;
};

// The UI thread's part: changes the position the way navigation does, noting which publications came
// before it. The note and the change are made under the slot lock, and the loader checks and stores
// under the same lock, so every publication is ordered exactly against every move.
void MoveTo(std::vector<Move>& moves, int32_t index) {
    const int32_t previous = sources::CurrentIndex.load();
    {
        loader::ImageSlot& slot = loader::CurrentImageSlot();
        std::lock_guard lock(slot.mutex);
        moves.push_back({slot.publications, index});
        sources::NavigationDirection.store(index < previous ? -1 : 1);
        sources::CurrentIndex.store(index);
    }
    loader::RequestLoad();
    loader::WakePrefetch();
}

TEST(LoaderStress, RandomMovesNeverShowAStaleImageAndEndOnTheLastPosition) {
    TemporaryDirectory folder;
    const std::vector<std::string> paths =
        WriteLoaderImages(folder, kImages, LoaderImageKind::Alternating, 800, 600);

    std::mutex publishedMutex;
    std::vector<Publication> published; // guarded by publishedMutex
    std::atomic<int> nextReady{0};
    std::atomic<int> infoReady{0};
    platform::SetWindowMessageSink([&](platform::WindowMessage message) {
        if (message == platform::WindowMessage::NextReady) {
            ++nextReady;
        } else if (message == platform::WindowMessage::InfoReady) {
            ++infoReady;
        }
        if (message != platform::WindowMessage::ImageReady) {
            return;
        }
        Publication publication;
        {
            loader::ImageSlot& slot = loader::CurrentImageSlot();
            std::lock_guard lock(slot.mutex);
            publication = {
                slot.publications, slot.index, slot.preview, {slot.image.width, slot.image.height}};
        }
        std::lock_guard lock(publishedMutex);
        published.push_back(publication);
    });

    loader::LoaderHooks hooks;
    std::atomic<int> gathered{0};
    hooks.gatherFileInfo = [&](const std::string& path) {
        if (!testing_support::ReadFileBytes(path).empty()) {
            ++gathered;
        }
    };
    std::vector<Move> moves;
    {
        LoaderHarness harness(hooks, kScreenWidth, kScreenHeight);
        LoaderHarness::SetList(paths);
        loader::DualViewShown.store(true);
        loader::InfoPanelShown.store(true);

        std::mt19937 random(20240611);
        std::uniform_int_distribution<int32_t> anywhere(0, kImages - 1);
        std::uniform_int_distribution<int> pause(1, 4);
        int32_t position = 0;
        for (int move = 0; move < kMoves; ++move) {
            // Mostly page turns in runs, sometimes a jump, now and then a re-listing of the folder.
            if (move % 250 == 125) {
                LoaderHarness::SetList(paths);
            }
            const int choice = static_cast<int>(random() % 10);
            if (choice < 6) {
                position = std::min(position + 1, kImages - 1);
            } else if (choice < 8) {
                position = std::max(position - 1, 0);
            } else {
                position = anywhere(random);
            }
            MoveTo(moves, position);
            if (move % 100 == 50) {
                loader::IsScrubbing.store(!loader::IsScrubbing.load());
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
        }
        loader::IsScrubbing.store(false);
        const int32_t last = moves.back().index;

        ASSERT_TRUE(Eventually([&] {
            loader::ImageSlot& slot = loader::CurrentImageSlot();
            std::lock_guard lock(slot.mutex);
            return slot.index == last && !slot.preview;
        })) << "the last position never got its full image";
        {
            loader::ImageSlot& slot = loader::CurrentImageSlot();
            std::lock_guard lock(slot.mutex);
            const std::vector<Size> sizes =
                FullImageSizes(paths[static_cast<size_t>(last)], kScreenWidth, kScreenHeight);
            EXPECT_NE(std::find(sizes.begin(), sizes.end(), Size{slot.image.width, slot.image.height}),
                      sizes.end());
        }
        loader::StopLoaderThreads();
        EXPECT_FALSE(loader::LoaderThreadsRunning());
    }
    platform::SetWindowMessageSink({});

    // Every publication carried the position that was current when it was stored, and the image of
    // that position at the size its kind asks for.
    std::map<std::pair<int32_t, bool>, std::vector<Size>> expected;
    size_t previews = 0;
    for (const Publication& publication : published) {
        auto governing = std::find_if(moves.rbegin(), moves.rend(), [&](const Move& move) {
            return move.publicationsBefore < publication.number;
        });
        ASSERT_NE(governing, moves.rend()) << "an image was shown before any move";
        EXPECT_EQ(publication.index, governing->index)
            << "publication " << publication.number << " showed a position the user had left";
        ASSERT_GE(publication.index, 0);
        const auto key = std::make_pair(publication.index, publication.preview);
        if (!expected.contains(key)) {
            const std::string& path = paths[static_cast<size_t>(publication.index)];
            expected[key] = publication.preview ? std::vector<Size>{DecodedSize(path, 320, 320)}
                                                : FullImageSizes(path, kScreenWidth, kScreenHeight);
        }
        EXPECT_NE(std::find(expected[key].begin(), expected[key].end(), publication.size),
                  expected[key].end())
            << "position " << publication.index;
        previews += publication.preview ? 1 : 0;
    }
    EXPECT_GT(published.size(), previews);
    EXPECT_GT(gathered.load(), 0);
    EXPECT_GT(infoReady.load(), 0);
    RecordProperty("publications", static_cast<int>(published.size()));
    RecordProperty("previews", static_cast<int>(previews));
    RecordProperty("nextReady", nextReady.load());
}

// A re-sort empties the caches while the loader works (without asking for a load: the current item
// stays current). When that lands between the loader's last check and its store, the store is
// refused; the loader must then serve the position again, or the page turn never gets its image.
TEST(LoaderStress, CachesEmptiedJustBeforeAStoreDoNotLoseTheImage) {
    std::atomic<bool> armed{false};
    std::atomic<bool> stop{false};
    std::atomic<uint32_t> delay{0};
    loader::LoaderHooks hooks;
    hooks.decodeArchiveEntry = [&](const std::string& path, uint32_t, uint32_t, bool,
                                   decode::DecodedImage& image) {
        if (path == sources::CopyItemPath(sources::CurrentIndex.load())) {
            armed.store(true); // the clearing follows right after this decode returns
        }
        image.pixels = std::shared_ptr<uint8_t[]>(new uint8_t[4 * 4 * 4]());
        image.width = 4;
        image.height = 4;
        image.stride = 16;
        image.size = 64;
        return true;
    };
    loader_testing::MessageRecorder recorder;
    LoaderHarness harness(hooks, kScreenWidth, kScreenHeight);
    LoaderHarness::SetList({"/book.cbz::1.png", "/book.cbz::2.png"});
    std::thread clearer([&] {
        while (!stop.load()) {
            if (!armed.exchange(false)) {
                std::this_thread::yield();
                continue;
            }
            // A varying pause, so that over the rounds the clearing falls at every point of the
            // loader's way from the decode to the store.
            for (uint32_t spin = delay.load() * 40; spin > 0; --spin) {
                std::atomic_signal_fence(std::memory_order_seq_cst);
            }
            loader::ClearCaches();
        }
    });
    int lost = 0;
    for (int round = 0; round < 300 && lost == 0; ++round) {
        recorder.Clear();
        delay.store(static_cast<uint32_t>(round * 7 % 101));
        const int32_t index = round % 2;
        LoaderHarness::MoveTo(index);
        const bool shown = recorder.WaitFor(
            [index](const std::vector<loader_testing::Received>& received) {
                return std::any_of(received.begin(), received.end(), [index](const auto& item) {
                    return item.message == platform::WindowMessage::ImageReady && item.index == index;
                });
            },
            std::chrono::seconds(20));
        lost += shown ? 0 : 1;
    }
    stop.store(true);
    clearer.join();
    EXPECT_EQ(lost, 0);
}

} // namespace
