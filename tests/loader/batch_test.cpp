#include "loader/batch.h"

#include "loader_harness.h"
#include "tests/support/loader_images.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

using loader_testing::DecodedSize;
using loader_testing::Eventually;
using loader_testing::LoaderHarness;
using loader_testing::MessageRecorder;
using loader_testing::Size;
using platform::WindowMessage;
using testing_support::LoaderImageKind;
using testing_support::TemporaryDirectory;
using testing_support::WriteLoaderImages;

std::vector<Size> DrainQueue() {
    std::vector<Size> sizes;
    while (std::optional<decode::DecodedImage> image = loader::PopBatchItem()) {
        sizes.push_back({image->width, image->height});
    }
    return sizes;
}

TEST(BatchThread, DecodesEveryItemInOrderAtFullSizeSkippingFailures) {
    TemporaryDirectory folder;
    std::vector<std::string> paths = WriteLoaderImages(folder, 4, LoaderImageKind::Alternating, 900, 500);
    const std::string corrupt = folder.Write("broken.png", std::string("\x89PNG\r\n\x1a\n truncated"));
    std::atomic<int> cleared{0};
    std::atomic<int> progressShown{0};
    std::atomic<int> finished{0};
    loader::LoaderHooks hooks;
    hooks.clearWebtoonStrip = [&] { ++cleared; };
    hooks.showLoadingProgress = [&] { ++progressShown; };
    hooks.batchFinished = [&] { ++finished; };
    hooks.batchTargetWidth = [] { return 640; };
    // An archive entry, decoded by the stand-in for the archive bridge at full size with high quality.
    hooks.decodeArchiveEntry = [&](const std::string&, uint32_t width, uint32_t height, bool highQuality,
                                   decode::DecodedImage& image) {
        return width == 0 && height == 0 && highQuality &&
               decode::LoadImageFile(paths[0], width, height, highQuality, image);
    };
    MessageRecorder recorder;
    LoaderHarness harness(hooks);
    std::vector<std::string> list = paths;
    list.insert(list.begin() + 2, corrupt);
    list.push_back(folder.File("set.zip") + "::a.jpg");
    LoaderHarness::SetList(list);
    loader::WebtoonModeOn.store(true);

    loader::StartBatch();
    ASSERT_TRUE(Eventually([&] { return finished.load() == 1; }));
    EXPECT_FALSE(loader::BatchRunning.load());
    EXPECT_EQ(loader::BatchTotal.load(), 6);
    EXPECT_EQ(loader::BatchDone.load(), 5);
    EXPECT_EQ(cleared.load(), 1);
    EXPECT_EQ(progressShown.load(), 1);
    EXPECT_EQ(recorder.Count(WindowMessage::BatchItem), 5u);
    const std::vector<Size> expected = {DecodedSize(paths[0], 0, 0), DecodedSize(paths[1], 0, 0),
                                        DecodedSize(paths[2], 0, 0), DecodedSize(paths[3], 0, 0),
                                        DecodedSize(paths[0], 0, 0)};
    EXPECT_EQ(expected[1], (Size{908, 500})); // full size, not bounded by the screen
    EXPECT_EQ(DrainQueue(), expected);

    // With webtoon mode off the batch stops before its first item.
    loader::WebtoonModeOn.store(false);
    loader::StartBatch();
    ASSERT_TRUE(Eventually([&] { return finished.load() == 2; }));
    EXPECT_EQ(loader::BatchDone.load(), 0);
    EXPECT_TRUE(DrainQueue().empty());
}

TEST(BatchThread, PageVariantRendersEveryPageAtTheStripWidth) {
    TemporaryDirectory folder;
    const std::vector<std::string> paths = WriteLoaderImages(folder, 1, LoaderImageKind::Jpeg, 400, 300);
    std::mutex pagesMutex;
    std::vector<std::pair<int32_t, int32_t>> rendered; // guarded by pagesMutex
    std::atomic<int> finished{0};
    loader::LoaderHooks hooks;
    hooks.batchDocumentPages = [] { return 3; };
    hooks.batchTargetWidth = [] { return 760; };
    hooks.batchFinished = [&] { ++finished; };
    hooks.renderBatchPage = [&](int32_t page, int32_t width, decode::DecodedImage& image) {
        {
            std::lock_guard lock(pagesMutex);
            rendered.emplace_back(page, width);
        }
        return page != 1 && decode::LoadImageFile(paths[0], 0, 0, true, image);
    };
    MessageRecorder recorder;
    LoaderHarness harness(hooks);
    loader::WebtoonModeOn.store(true);

    loader::StartBatch();
    ASSERT_TRUE(Eventually([] { return !loader::BatchRunning.load(); }));
    loader::CancelBatch(); // joins the finished thread
    EXPECT_EQ(loader::BatchTotal.load(), 3);
    EXPECT_EQ(loader::BatchDone.load(), 2);
    EXPECT_EQ(recorder.Count(WindowMessage::BatchItem), 2u);
    EXPECT_EQ(DrainQueue().size(), 2u);
    EXPECT_EQ(finished.load(), 0); // the page batch starts no animation
    std::lock_guard lock(pagesMutex);
    EXPECT_EQ(rendered, (std::vector<std::pair<int32_t, int32_t>>{{0, 760}, {1, 760}, {2, 760}}));
}

TEST(BatchThread, CancelStopsAfterTheCurrentItemAndRestartEmptiesTheQueue) {
    TemporaryDirectory folder;
    const std::vector<std::string> paths = WriteLoaderImages(folder, 1, LoaderImageKind::Png, 300, 200);
    std::atomic<int32_t> rendering{0};
    loader::LoaderHooks hooks;
    hooks.batchDocumentPages = [] { return 100000; };
    hooks.renderBatchPage = [&](int32_t page, int32_t, decode::DecodedImage& image) {
        rendering.store(page);
        return decode::LoadImageFile(paths[0], 0, 0, true, image);
    };
    LoaderHarness harness(hooks);
    loader::WebtoonModeOn.store(true);

    loader::StartBatch();
    ASSERT_TRUE(Eventually([] { return loader::BatchDone.load() >= 3; }));
    loader::CancelBatch();
    const int32_t done = loader::BatchDone.load();
    EXPECT_LT(done, 100000);
    EXPECT_LE(rendering.load(), done); // nothing started after the one being rendered
    EXPECT_FALSE(loader::BatchRunning.load());

    // A new batch starts from an empty queue; leaving webtoon mode stops it too.
    loader::StartBatch();
    ASSERT_TRUE(Eventually([] { return loader::BatchDone.load() >= 1; }));
    loader::WebtoonModeOn.store(false);
    ASSERT_TRUE(Eventually([] { return !loader::BatchRunning.load(); }));
    loader::CancelBatch();
    EXPECT_EQ(DrainQueue().size(), static_cast<size_t>(loader::BatchDone.load()));
}

} // namespace
