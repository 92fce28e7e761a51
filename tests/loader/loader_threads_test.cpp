#include "loader/loader_threads.h"

#include "loader_harness.h"
#include "sources/sort_orders.h"
#include "tests/support/loader_images.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace {

using loader_testing::DecodedSize;
using loader_testing::Eventually;
using loader_testing::LoaderHarness;
using loader_testing::MessageRecorder;
using loader_testing::Received;
using loader_testing::Size;
using platform::WindowMessage;
using testing_support::LoaderImageKind;
using testing_support::TemporaryDirectory;
using testing_support::WriteLoaderImages;

constexpr uint32_t kScreenWidth = 480;
constexpr uint32_t kScreenHeight = 360;

bool HasFullImage(const std::vector<Received>& received, int32_t index) {
    for (const Received& item : received) {
        if (item.message == WindowMessage::ImageReady && item.index == index && !item.preview) {
            return true;
        }
    }
    return false;
}

std::vector<Received> ImagesOf(const std::vector<Received>& received) {
    std::vector<Received> images;
    for (const Received& item : received) {
        if (item.message == WindowMessage::ImageReady) {
            images.push_back(item);
        }
    }
    return images;
}

// A hook that stands in for the archive bridge or the PDF renderer with a real decode of a real file.
bool DecodeStandIn(const std::string& file, uint32_t maxWidth, uint32_t maxHeight,
                   decode::DecodedImage& image) {
    return decode::LoadImageFile(file, maxWidth, maxHeight, false, image);
}

TEST(LoaderThread, MissShowsPreviewThenScreenBoundedImageAndHitShowsNoPreview) {
    TemporaryDirectory folder;
    const std::vector<std::string> paths =
        WriteLoaderImages(folder, 6, LoaderImageKind::Alternating, 1200, 900);
    MessageRecorder recorder;
    LoaderHarness harness({}, kScreenWidth, kScreenHeight);
    LoaderHarness::SetList(paths);
    // The prefetcher stays idle while the slider is dragged, so every turn below is a miss.
    loader::IsScrubbing.store(true);

    std::map<int32_t, const uint8_t*> previews;
    for (int32_t index : {2, 3, 2}) { // a JPEG, a PNG, and back
        recorder.Clear();
        LoaderHarness::MoveTo(index);
        ASSERT_TRUE(recorder.WaitFor([&](const auto& received) { return HasFullImage(received, index); }));
        const std::vector<Received> images = ImagesOf(recorder.Snapshot());
        ASSERT_EQ(images.size(), 2u);
        EXPECT_TRUE(images[0].preview);
        EXPECT_EQ(images[0].index, index);
        EXPECT_EQ((Size{images[0].width, images[0].height}), DecodedSize(paths[index], 320, 320));
        EXPECT_LE(images[0].width, 320u);
        EXPECT_FALSE(images[1].preview);
        EXPECT_EQ(images[1].index, index);
        const Size screenBounded = DecodedSize(paths[index], kScreenWidth, kScreenHeight);
        if (decode::GetLowerExtension(paths[index]) == "jpg") {
            // A JPEG covers its size fitted to the screen, so a window as large as the screen draws it
            // sharp; still a reduced decode.
            EXPECT_GE(images[1].width, screenBounded.width);
            EXPECT_GE(images[1].height, screenBounded.height);
        } else {
            EXPECT_EQ((Size{images[1].width, images[1].height}), screenBounded);
        }
        EXPECT_LT(images[1].width, 1200u); // bounded by the screen, not by the image
        EXPECT_FALSE(loader::IsPreviewShown.load());
        // The full current image is not put into the image cache; its preview is kept and reused.
        EXPECT_FALSE(loader::IsCached(loader::ImageCache(), index));
        EXPECT_TRUE(loader::IsCached(loader::PreviewCache(), index));
        if (previews.contains(index)) {
            EXPECT_EQ(images[0].pixels, previews[index]);
        }
        previews[index] = images[0].pixels;
    }

    // The prefetcher fills the neighbours; turning to one of them is served from the cache at once.
    loader::IsScrubbing.store(false);
    loader::WakePrefetch();
    ASSERT_TRUE(Eventually([] { return loader::IsCached(loader::ImageCache(), 4); }));
    const decode::DecodedImage cached = *loader::LookupCache(loader::ImageCache(), 4);
    recorder.Clear();
    LoaderHarness::MoveTo(4);
    ASSERT_TRUE(recorder.WaitFor([](const auto& received) { return HasFullImage(received, 4); }));
    const std::vector<Received> images = ImagesOf(recorder.Snapshot());
    ASSERT_EQ(images.size(), 1u);
    EXPECT_FALSE(images[0].preview);
    EXPECT_EQ(images[0].pixels, cached.pixels.get()); // the cached raster itself, shared
    EXPECT_FALSE(loader::IsPreviewShown.load());
    EXPECT_FALSE(loader::IsCached(loader::PreviewCache(), 4));
    loader::ImageSlot& slot = loader::CurrentImageSlot();
    std::lock_guard lock(slot.mutex);
    EXPECT_EQ(slot.index, 4);
    EXPECT_FALSE(slot.preview);
    EXPECT_EQ(slot.image.pixels.get(), cached.pixels.get());
}

TEST(LoaderThread, ContainerItemsGoThroughTheirHooksWithoutPreview) {
    TemporaryDirectory folder;
    const std::vector<std::string> paths = WriteLoaderImages(folder, 2, LoaderImageKind::Jpeg, 1000, 700);
    std::mutex callsMutex;
    std::vector<std::string> calls; // guarded by callsMutex
    loader::LoaderHooks hooks;
    hooks.decodeArchiveEntry = [&](const std::string& path, uint32_t width, uint32_t height, bool highQuality,
                                   decode::DecodedImage& image) {
        std::lock_guard lock(callsMutex);
        calls.push_back("zip " + path + " " + std::to_string(width) + "x" + std::to_string(height) +
                        (highQuality ? " hq" : ""));
        return DecodeStandIn(paths[0], width, height, image);
    };
    hooks.renderPdfPage = [&](const std::string& path, uint32_t width, uint32_t height,
                              decode::DecodedImage& image) {
        std::lock_guard lock(callsMutex);
        calls.push_back("pdf " + path + " " + std::to_string(width) + "x" + std::to_string(height));
        return DecodeStandIn(paths[1], width, height, image);
    };
    MessageRecorder recorder;
    LoaderHarness harness(hooks, kScreenWidth, kScreenHeight);
    const std::string entry = folder.File("book.cbz") + "::pages/01.jpg";
    const std::string page = folder.File("doc.pdf") + "::0";
    LoaderHarness::SetList({entry, page});

    LoaderHarness::MoveTo(0);
    ASSERT_TRUE(recorder.WaitFor([](const auto& received) { return HasFullImage(received, 0); }));
    std::vector<Received> images = ImagesOf(recorder.Snapshot());
    ASSERT_EQ(images.size(), 1u); // the first image-ready already carries the full image
    EXPECT_EQ((Size{images[0].width, images[0].height}), DecodedSize(paths[0], kScreenWidth, kScreenHeight));

    recorder.Clear();
    LoaderHarness::MoveTo(1);
    ASSERT_TRUE(recorder.WaitFor([](const auto& received) { return HasFullImage(received, 1); }));
    images = ImagesOf(recorder.Snapshot());
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ((Size{images[0].width, images[0].height}), DecodedSize(paths[1], kScreenWidth, kScreenHeight));
    EXPECT_FALSE(loader::IsCached(loader::PreviewCache(), 0));
    EXPECT_FALSE(loader::IsCached(loader::PreviewCache(), 1));

    std::lock_guard lock(callsMutex);
    EXPECT_NE(std::find(calls.begin(), calls.end(), "zip " + entry + " 480x360"), calls.end());
    EXPECT_NE(std::find(calls.begin(), calls.end(), "pdf " + page + " 480x360"), calls.end());
}

TEST(LoaderThread, FailuresAreToldAndReleaseThePrefetcher) {
    TemporaryDirectory folder;
    const std::vector<std::string> paths = WriteLoaderImages(folder, 1, LoaderImageKind::Png, 700, 500);
    const std::string corrupt =
        folder.Write("broken.jpg", std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 0xE0, 0, 16});
    const std::string empty = folder.Write("empty.png", std::vector<uint8_t>{});
    MessageRecorder recorder;
    LoaderHarness harness({}, kScreenWidth, kScreenHeight); // no container hooks installed
    const std::string archive = folder.Write("a.zip", std::vector<uint8_t>{'P', 'K', 3, 4});
    LoaderHarness::SetList({paths[0], corrupt, archive + "::x.jpg", folder.File("gone.png"), empty});

    LoaderHarness::MoveTo(0);
    ASSERT_TRUE(recorder.WaitFor([](const auto& received) { return HasFullImage(received, 0); }));

    // Items that cannot be shown publish no picture but the reason, for the item that is current.
    const std::pair<int32_t, loader::LoadFailure> failures[] = {
        {2, loader::LoadFailure::Undecodable},
        {3, loader::LoadFailure::Missing},
        {4, loader::LoadFailure::Empty},
    };
    for (const auto& [index, failure] : failures) {
        LoaderHarness::MoveTo(index);
        ASSERT_TRUE(recorder.WaitFor([index = index](const auto& received) {
            return !received.empty() && received.back().index == index &&
                   received.back().failure != loader::LoadFailure::None;
        })) << index;
        const Received last = recorder.Snapshot().back();
        EXPECT_EQ(last.failure, failure) << index;
        EXPECT_EQ(last.pixels, nullptr) << index;
        EXPECT_FALSE(loader::IsCached(loader::ImageCache(), index));
    }

    // A kept preview of the corrupt item is the best picture there is: it becomes final, so the
    // prefetcher does not keep waiting for a full image that will never come.
    const uint64_t generation = loader::CacheGeneration();
    decode::DecodedImage preview;
    ASSERT_TRUE(decode::LoadImageFile(paths[0], 320, 320, false, preview));
    ASSERT_TRUE(loader::InsertIntoCache(loader::PreviewCache(), 1, corrupt, preview, generation, 1, 16));
    recorder.Clear();
    LoaderHarness::MoveTo(1);
    ASSERT_TRUE(recorder.WaitFor([](const auto& received) { return HasFullImage(received, 1); }));
    EXPECT_TRUE(Eventually([] { return !loader::IsPreviewShown.load(); }));
    EXPECT_EQ(recorder.Snapshot().back().pixels, preview.pixels.get());
}

TEST(Refinement, CoversTheDrawnSizeWithinTheBudget) {
    struct Case {
        uint32_t width, height;
        float scale;
        loader::RefinementSize needed;
    };
    const Case cases[] = {
        {4000, 3000, 1.0f, {4000, 3000}},
        {4000, 3000, 2.5f, {4000, 3000}}, // never more than the source
        {4000, 3000, 0.36f, {1440, 1080}},
        {3, 3, 0.01f, {1, 1}},
    };
    for (const Case& test : cases) {
        const loader::RefinementSize needed = loader::NeededRasterSize(test.width, test.height, test.scale);
        EXPECT_EQ(needed.width, test.needed.width) << test.scale;
        EXPECT_EQ(needed.height, test.needed.height) << test.scale;
    }
    const loader::RefinementSize within = loader::WithinMemoryBudget({20000, 20000}, uint64_t{400} << 20);
    EXPECT_LE(uint64_t{within.width} * within.height * 4, uint64_t{400} << 20);
    EXPECT_GT(within.width, 9000u);
    EXPECT_EQ(within.width, within.height);
    EXPECT_EQ(loader::WithinMemoryBudget({4000, 3000}, uint64_t{400} << 20).width, 4000u);
}

TEST(PrefetchPass, FollowsTheDirectionAndSkipsWhatIsOutsideOrCached) {
    TemporaryDirectory folder;
    const std::vector<std::string> files = WriteLoaderImages(folder, 1, LoaderImageKind::Jpeg, 64, 48);
    std::vector<std::string> rendered;
    loader::LoaderHooks hooks;
    // The pass runs on this thread; the hook records the order in which pages are decoded.
    hooks.renderPdfPage = [&](const std::string& path, uint32_t width, uint32_t height,
                              decode::DecodedImage& image) {
        rendered.push_back(path.substr(path.find("::") + 2));
        return path.ends_with("::12") ? false : DecodeStandIn(files[0], width, height, image);
    };
    MessageRecorder recorder;
    LoaderHarness harness(hooks, kScreenWidth, kScreenHeight, false);
    std::vector<std::string> pages;
    for (int i = 0; i < 30; ++i) {
        pages.push_back(folder.File("doc.pdf") + "::" + std::to_string(i));
    }
    auto pass = [&](int32_t center, int32_t direction, int32_t capacity = 20) {
        rendered.clear();
        sources::CurrentIndex.store(center);
        sources::NavigationDirection.store(direction);
        loader::CacheCapacity.store(capacity);
        loader::RunPrefetchPass();
        std::string order;
        for (const std::string& page : rendered) {
            order += (order.empty() ? "" : " ") + page;
        }
        return order;
    };

    LoaderHarness::SetList(pages);
    EXPECT_EQ(pass(10, 1), "11 12 13 14 15 16 17 18 19 20 9 8 7 6 5 4 3 2 1 0");
    EXPECT_EQ(pass(10, 1), ""); // everything around is cached already, or failed in this list
    LoaderHarness::SetList(pages);
    EXPECT_EQ(pass(10, -1), "9 8 7 6 5 4 3 2 1 0 11 12 13 14 15 16 17 18 19 20");
    LoaderHarness::SetList(pages);
    EXPECT_EQ(pass(0, 1), "1 2 3 4 5 6 7 8 9 10");
    LoaderHarness::SetList(pages);
    EXPECT_EQ(pass(27, -1), "26 25 24 23 22 21 20 19 18 17 28 29");

    // Moving on with a smaller capacity keeps what is near and trims what is far.
    EXPECT_EQ(pass(28, 1, 6), "27");
    {
        std::lock_guard lock(loader::ImageCache().mutex);
        std::set<int32_t> keys;
        for (const auto& entry : loader::ImageCache().entries) {
            keys.insert(entry.first);
        }
        EXPECT_EQ(keys, (std::set<int32_t>{24, 25, 26, 27, 28, 29}));
    }

    // In dual view the window hears about the second page.
    loader::DualViewShown.store(true);
    LoaderHarness::SetList(pages);
    recorder.Clear();
    pass(5, 1);
    EXPECT_EQ(recorder.Count(WindowMessage::NextReady), 1u);
    loader::DualViewShown.store(false);
    LoaderHarness::SetList(pages);
    recorder.Clear();
    pass(5, 1);
    EXPECT_EQ(recorder.Count(WindowMessage::NextReady), 0u);

    // A stopped loader does nothing.
    LoaderHarness::SetList(pages);
    loader::Running.store(false);
    EXPECT_EQ(pass(5, 1), "");
}

std::map<std::string, Size> ExpectedSizes(const std::vector<std::string>& paths) {
    std::map<std::string, Size> sizes;
    for (const std::string& path : paths) {
        sizes[path] = DecodedSize(path, kScreenWidth, kScreenHeight);
    }
    return sizes;
}

// Every cached entry is the image of the item now at its key.
void ExpectCacheMatchesList(const std::map<std::string, Size>& sizes) {
    const std::vector<std::string> list = sources::CopySourceList();
    std::lock_guard lock(loader::ImageCache().mutex);
    for (const auto& [index, entry] : loader::ImageCache().entries) {
        ASSERT_LT(static_cast<size_t>(index), list.size());
        EXPECT_EQ(entry.path, list[static_cast<size_t>(index)])
            << "entry " << index << " is from an old list";
        EXPECT_EQ((Size{entry.image.width, entry.image.height}), sizes.at(list[static_cast<size_t>(index)]))
            << "entry " << index << " is not " << list[static_cast<size_t>(index)];
    }
}

TEST(Caches, EmptiedWhenTheListIsReopenedOrResorted) {
    TemporaryDirectory first;
    TemporaryDirectory second;
    const std::vector<std::string> oldPaths = WriteLoaderImages(first, 8, LoaderImageKind::Jpeg, 900, 600);
    const std::vector<std::string> newPaths = WriteLoaderImages(second, 8, LoaderImageKind::Png, 700, 640);
    std::map<std::string, Size> sizes = ExpectedSizes(oldPaths);
    sizes.merge(ExpectedSizes(newPaths));
    std::set<std::pair<uint32_t, uint32_t>> oldSizes;
    for (const std::string& path : oldPaths) {
        oldSizes.emplace(sizes[path].width, sizes[path].height);
    }
    for (const std::string& path : newPaths) {
        ASSERT_FALSE(oldSizes.contains({sizes[path].width, sizes[path].height}))
            << "sizes must tell folders apart";
    }

    MessageRecorder recorder;
    LoaderHarness harness({}, kScreenWidth, kScreenHeight);
    sources::OpenPath(oldPaths[0]);
    ASSERT_EQ(sources::CurrentIndex.load(), 0);
    ASSERT_TRUE(Eventually([] { return loader::IsCached(loader::ImageCache(), 3); }));

    // The same position in another folder: nothing decoded for the first folder may be shown.
    sources::OpenPath(newPaths[0]);
    ASSERT_EQ(sources::CurrentIndex.load(), 0);
    ExpectCacheMatchesList(sizes);
    ASSERT_TRUE(recorder.WaitFor([&](const auto& received) {
        for (const Received& item : received) {
            if (item.message == WindowMessage::ImageReady && !item.preview &&
                Size{item.width, item.height} == sizes[newPaths[0]]) {
                return true;
            }
        }
        return false;
    }));
    ASSERT_TRUE(Eventually([] { return loader::IsCached(loader::ImageCache(), 5); }));
    ExpectCacheMatchesList(sizes);

    // Reverse name order: every key now names another image.
    sources::SortCommand(2);
    ASSERT_EQ(sources::CopyItemPath(0), newPaths[7]);
    ExpectCacheMatchesList(sizes);
    {
        std::lock_guard lock(loader::PreviewCache().mutex);
        EXPECT_TRUE(loader::PreviewCache().entries.empty());
    }
    ASSERT_TRUE(Eventually([] { return loader::IsCached(loader::ImageCache(), 3); }));
    ExpectCacheMatchesList(sizes);
    sources::SortMode.store(0);
}

TEST(Caches, AnEntryOfAnotherItemAtTheSamePositionIsNotServed) {
    TemporaryDirectory folder;
    const std::vector<std::string> paths = WriteLoaderImages(folder, 4, LoaderImageKind::Jpeg, 900, 600);
    MessageRecorder recorder;
    LoaderHarness harness({}, kScreenWidth, kScreenHeight);
    LoaderHarness::SetList(paths);
    loader::IsScrubbing.store(true);

    // As if a re-sort had installed the new order while the caches still held the old one.
    const uint64_t generation = loader::CacheGeneration();
    decode::DecodedImage other;
    ASSERT_TRUE(decode::LoadImageFile(paths[3], kScreenWidth, kScreenHeight, false, other));
    ASSERT_TRUE(loader::InsertIntoCache(loader::ImageCache(), 1, paths[3], other, generation, 1, 20));
    ASSERT_TRUE(loader::InsertIntoCache(loader::PreviewCache(), 1, paths[3], other, generation, 1, 16));
    LoaderHarness::MoveTo(1);
    ASSERT_TRUE(recorder.WaitFor([](const auto& received) { return HasFullImage(received, 1); }));
    const std::vector<Received> images = ImagesOf(recorder.Snapshot());
    ASSERT_EQ(images.size(), 2u);
    for (const Received& image : images) {
        EXPECT_NE(image.pixels, other.pixels.get());
    }
    // Decoded from the item itself (a JPEG: covering its size fitted to the screen).
    const Size screenBounded = DecodedSize(paths[1], kScreenWidth, kScreenHeight);
    EXPECT_GE(images[1].width, screenBounded.width);
    EXPECT_GE(images[1].height, screenBounded.height);
    EXPECT_TRUE(loader::IsCached(loader::PreviewCache(), 1, paths[1])); // the stale preview was replaced

    // The prefetcher replaces a stale neighbour too.
    ASSERT_TRUE(loader::InsertIntoCache(loader::ImageCache(), 2, paths[3], other, generation, 1, 20));
    loader::IsScrubbing.store(false);
    loader::WakePrefetch();
    EXPECT_TRUE(Eventually([&] { return loader::IsCached(loader::ImageCache(), 2, paths[2]); }));
}

TEST(InfoThread, GathersTheCurrentItemAndTellsThePanel) {
    TemporaryDirectory folder;
    const std::vector<std::string> paths = WriteLoaderImages(folder, 1, LoaderImageKind::Jpeg, 320, 240);
    std::mutex gatheredMutex;
    std::vector<std::string> gathered; // guarded by gatheredMutex
    loader::LoaderHooks hooks;
    hooks.gatherFileInfo = [&](const std::string& path) {
        std::lock_guard lock(gatheredMutex);
        gathered.push_back("file " + path);
    };
    hooks.extractArchiveEntry = [&](const std::string& archive, const std::string& entry,
                                    std::vector<uint8_t>& bytes) {
        if (archive != folder.File("set.zip")) {
            return false;
        }
        bytes = testing_support::ReadFileBytes(paths[0]);
        return entry == "dir/a.jpg";
    };
    hooks.gatherMemoryInfo = [&](const std::vector<uint8_t>& bytes, const std::string& entry) {
        std::lock_guard lock(gatheredMutex);
        gathered.push_back("memory " + entry + " " + std::to_string(bytes.size()));
    };
    MessageRecorder recorder;
    LoaderHarness harness(hooks, kScreenWidth, kScreenHeight);
    loader::InfoPanelShown.store(true);
    LoaderHarness::SetList(
        {paths[0], folder.File("set.zip") + "::dir/a.jpg", folder.File("book.pdf") + "::0"});

    const auto infoCount = [&](size_t wanted) {
        return recorder.WaitFor([&](const auto& received) {
            size_t count = 0;
            for (const Received& item : received) {
                count += item.message == WindowMessage::InfoReady ? 1 : 0;
            }
            return count >= wanted;
        });
    };
    LoaderHarness::MoveTo(0);
    ASSERT_TRUE(infoCount(1));
    LoaderHarness::MoveTo(1);
    ASSERT_TRUE(infoCount(2));
    // A PDF page is in no archive: nothing is gathered, but the panel still hears about it.
    LoaderHarness::MoveTo(2);
    ASSERT_TRUE(infoCount(3));
    {
        std::lock_guard lock(gatheredMutex);
        const std::vector<std::string> expected = {
            "file " + paths[0],
            "memory dir/a.jpg " + std::to_string(testing_support::ReadFileBytes(paths[0]).size())};
        EXPECT_EQ(gathered, expected);
    }

    // A request for an item that is no longer current is dropped; with the panel hidden nothing is asked.
    loader::RequestInfo(paths[0], 1);
    loader::InfoPanelShown.store(false);
    recorder.Clear();
    LoaderHarness::MoveTo(0);
    ASSERT_TRUE(recorder.WaitFor([](const auto& received) { return HasFullImage(received, 0); }));
    std::lock_guard lock(gatheredMutex);
    EXPECT_EQ(gathered.size(), 2u);
    EXPECT_EQ(recorder.Count(WindowMessage::InfoReady), 0u);
}

TEST(LoaderThreads, StopJoinsWhileWorkIsPendingAndStartsAgain) {
    TemporaryDirectory folder;
    const std::vector<std::string> paths =
        WriteLoaderImages(folder, 12, LoaderImageKind::Alternating, 1600, 1200);
    MessageRecorder recorder;
    {
        LoaderHarness harness({}, kScreenWidth, kScreenHeight);
        LoaderHarness::SetList(paths);
        for (int32_t index = 0; index < 12; ++index) {
            LoaderHarness::MoveTo(index);
        }
        loader::StopLoaderThreads(); // a decode may be running: it is finished, then the threads end
        EXPECT_FALSE(loader::LoaderThreadsRunning());
        EXPECT_FALSE(loader::IsCached(loader::ImageCache(), 10));
        EXPECT_FALSE(loader::IsCached(loader::PreviewCache(), 11));

        loader::StartLoaderThreads(kScreenWidth, kScreenHeight);
        recorder.Clear();
        LoaderHarness::MoveTo(5, -1);
        ASSERT_TRUE(recorder.WaitFor([](const auto& received) { return HasFullImage(received, 5); }));
    }
    EXPECT_FALSE(loader::LoaderThreadsRunning());
}

} // namespace
