#include "sources/navigation.h"

#include "platform/trace.h"
#include "tests/sources/hook_recorder.h"
#include "tests/support/test_support.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

// Tracing is decided once per process, so it is switched on before any test runs.
const bool kTraceRequested = ::setenv("SKIMORA_TRACE", "1", 0) == 0;

using sources_test::HookRecorder;
namespace fs = std::filesystem;

std::vector<std::string> Items(int count) {
    std::vector<std::string> items;
    for (int i = 0; i < count; ++i) {
        items.push_back("/f/" + std::to_string(i) + ".jpg");
    }
    return items;
}

TEST(Navigation, StepsOneAtATimeUntilTheImageArrives) {
    HookRecorder recorder;
    HookRecorder::SetList(Items(3), 0);
    sources::PdfPageMode = true;
    sources::PdfPageCount = 3;

    EXPECT_TRUE(sources::GoToNextImage());
    EXPECT_EQ(sources::CurrentIndex.load(), 1);
    EXPECT_EQ(sources::NavigationDirection.load(), 1);
    EXPECT_TRUE(sources::NavigationPending.load());
    EXPECT_FALSE(sources::PdfPageMode.load());
    EXPECT_EQ(sources::PdfPageCount.load(), 0);
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"stopAnimation", "resetView", "requestLoad",
                                                         "wakePrefetch", "updateWindowTitle"}));

    // A second press before the image arrives is ignored.
    recorder.events.clear();
    EXPECT_FALSE(sources::GoToNextImage());
    EXPECT_FALSE(sources::GoToPreviousImage());
    EXPECT_EQ(sources::CurrentIndex.load(), 1);
    EXPECT_TRUE(recorder.events.empty());

    sources::NavigationPending = false;
    EXPECT_TRUE(sources::GoToNextImage());
    sources::NavigationPending = false;
    EXPECT_FALSE(sources::GoToNextImage()); // at the end: nothing, not even a title update
    EXPECT_EQ(sources::CurrentIndex.load(), 2);
    EXPECT_FALSE(sources::NavigationPending.load());

    EXPECT_TRUE(sources::GoToPreviousImage());
    EXPECT_EQ(sources::CurrentIndex.load(), 1);
    EXPECT_EQ(sources::NavigationDirection.load(), -1);
    sources::NavigationPending = false;
    EXPECT_TRUE(sources::GoToPreviousImage());
    sources::NavigationPending = false;
    EXPECT_FALSE(sources::GoToPreviousImage());
    EXPECT_EQ(sources::CurrentIndex.load(), 0);

    // An empty list never moves.
    HookRecorder::SetList({}, -1);
    EXPECT_FALSE(sources::GoToNextImage());
    EXPECT_FALSE(sources::GoToPreviousImage());
    EXPECT_EQ(sources::CurrentIndex.load(), -1);
}

TEST(Navigation, DualViewStepsTwoAndStopsAtTheEdges) {
    HookRecorder recorder;
    recorder.dualView = true;
    HookRecorder::SetList(Items(5), 4);
    EXPECT_FALSE(sources::GoToNextImage());
    sources::CurrentIndex = 3;
    EXPECT_FALSE(sources::GoToNextImage()); // 3 + 2 is not below 5
    sources::CurrentIndex = 0;
    EXPECT_TRUE(sources::GoToNextImage());
    // Pending does not hold dual view back.
    EXPECT_TRUE(sources::GoToNextImage());
    EXPECT_EQ(sources::CurrentIndex.load(), 4);
    EXPECT_TRUE(sources::GoToPreviousImage());
    EXPECT_EQ(sources::CurrentIndex.load(), 2);
    sources::CurrentIndex = 1;
    EXPECT_TRUE(sources::GoToPreviousImage()); // dual view standing on index 1 goes to 0
    EXPECT_EQ(sources::CurrentIndex.load(), 0);
    EXPECT_FALSE(sources::GoToPreviousImage());
}

TEST(Navigation, WebtoonStepsOnlyScrollTheStrip) {
    HookRecorder recorder;
    recorder.webtoon = true;
    recorder.stripCount = 3;
    HookRecorder::SetList(Items(10), 1);
    sources::NavigationPending = true; // the strip ignores pending page turns
    EXPECT_TRUE(sources::GoToNextImage());
    EXPECT_EQ(sources::CurrentIndex.load(), 2);
    EXPECT_EQ(recorder.events,
              (std::vector<std::string>{"scrollStripToImage 2", "updateWindowTitle", "repaint"}));
    // Only images already in the strip can be reached, whatever the list holds.
    EXPECT_FALSE(sources::GoToNextImage());
    EXPECT_TRUE(sources::GoToPreviousImage());
    EXPECT_TRUE(sources::GoToPreviousImage());
    EXPECT_FALSE(sources::GoToPreviousImage());
    EXPECT_EQ(sources::CurrentIndex.load(), 0);
    EXPECT_FALSE(recorder.Saw("requestLoad"));

    recorder.events.clear();
    EXPECT_TRUE(sources::GoToLastImage());
    EXPECT_TRUE(sources::GoToFirstImage());
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"scrollStripToBottom", "scrollStripToTop"}));
}

TEST(Navigation, FirstAndLastJumpWithoutMarkingAPageTurn) {
    HookRecorder recorder;
    HookRecorder::SetList(Items(4), 2);
    sources::NavigationDirection = -1;
    EXPECT_TRUE(sources::GoToFirstImage());
    EXPECT_EQ(sources::CurrentIndex.load(), 0);
    EXPECT_EQ(recorder.events,
              (std::vector<std::string>{"requestLoad", "wakePrefetch", "updateWindowTitle"}));
    EXPECT_FALSE(sources::NavigationPending.load());
    EXPECT_EQ(sources::NavigationDirection.load(), -1);
    EXPECT_FALSE(sources::GoToFirstImage());
    EXPECT_TRUE(sources::GoToLastImage());
    EXPECT_EQ(sources::CurrentIndex.load(), 3);
    EXPECT_FALSE(sources::GoToLastImage());

    // PDF page mode hands the jump to the page navigation.
    recorder.events.clear();
    sources::PdfPageMode = true;
    sources::PdfPageCount = 7;
    EXPECT_TRUE(sources::GoToFirstImage());
    EXPECT_TRUE(sources::GoToLastImage());
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"goToPage 0", "goToPage 6"}));

    HookRecorder::SetList({}, -1);
    sources::PdfPageMode = false;
    EXPECT_FALSE(sources::GoToFirstImage());
    EXPECT_FALSE(sources::GoToLastImage());
}

TEST(EdgeEvents, RaisedOnArrivalAndClearedWhenTheConditionEnds) {
    using sources::EdgeTimer;
    sources::EdgeEvents events;
    sources::EdgeEventChanges changes = sources::UpdateEdgeEvents(events, 0, 1);
    EXPECT_FALSE(events.firstImage);
    EXPECT_FALSE(events.lastImage);
    EXPECT_EQ(changes.firstImage, EdgeTimer::Stop);

    changes = sources::UpdateEdgeEvents(events, 0, 5);
    EXPECT_TRUE(events.firstImage);
    EXPECT_EQ(changes.firstImage, EdgeTimer::Start);
    EXPECT_EQ(changes.lastImage, EdgeTimer::Stop);
    changes = sources::UpdateEdgeEvents(events, 0, 5);
    EXPECT_EQ(changes.firstImage, EdgeTimer::Keep);

    changes = sources::UpdateEdgeEvents(events, 4, 5);
    EXPECT_FALSE(events.firstImage);
    EXPECT_TRUE(events.lastImage);
    EXPECT_EQ(changes.firstImage, EdgeTimer::Stop);
    EXPECT_EQ(changes.lastImage, EdgeTimer::Start);
    // The timer fired and cleared the notice: pressing next at the end shows nothing new only while on.
    events.lastImage = false;
    changes = sources::UpdateEdgeEvents(events, 4, 5);
    EXPECT_EQ(changes.lastImage, EdgeTimer::Start);

    changes = sources::UpdateEdgeEvents(events, -1, 0);
    EXPECT_FALSE(events.firstImage);
    EXPECT_FALSE(events.lastImage);
}

struct ContainerFolder {
    ContainerFolder() {
        for (const char* name : {"b.zip", "a.pdf", "c.cbz", "notes.txt", "photo.jpg", "noext"}) {
            folder.Write(name, std::string());
        }
        fs::create_directory(folder.Path() / "d.zip");
    }
    std::string Path(const std::string& name) const { return folder.Path().string() + "/" + name; }
    testing_support::TemporaryDirectory folder;
};

TEST(SiblingContainers, ListsArchivesAndPdfsInLogicalOrder) {
    testing_support::TemporaryDirectory folder;
    const std::string dir = folder.Path().string();
    for (const char* name : {"vol10.cbz", "vol9.CBR", "vol1.egg", "Vol2.alz", "book.PDF", "a.jpg", "x.tar.gz",
                             "page.", "sub/inner.zip"}) {
        folder.Write(name, std::string());
    }
    EXPECT_EQ(sources::ListSiblingContainers(dir + "/vol1.egg"),
              (std::vector<std::string>{dir + "/book.PDF", dir + "/vol1.egg", dir + "/Vol2.alz",
                                        dir + "/vol9.CBR", dir + "/vol10.cbz", dir + "/x.tar.gz"}));
    EXPECT_TRUE(sources::ListSiblingContainers("").empty());
    EXPECT_TRUE(sources::ListSiblingContainers("vol1.egg").empty());
    EXPECT_TRUE(sources::ListSiblingContainers("/nonexistent-skimora-folder/a.zip").empty());
}

TEST(SiblingContainers, AdjacentFindsThePathExactlyOrByCase) {
    const ContainerFolder folder;
    EXPECT_EQ(sources::GetAdjacent(folder.Path("b.zip"), +1), folder.Path("c.cbz"));
    EXPECT_EQ(sources::GetAdjacent(folder.Path("b.zip"), -1), folder.Path("a.pdf"));
    EXPECT_EQ(sources::GetAdjacent(folder.Path("c.cbz"), +1), "");
    EXPECT_EQ(sources::GetAdjacent(folder.Path("a.pdf"), -1), "");
    EXPECT_EQ(sources::GetAdjacent(folder.Path("a.pdf"), +2), folder.Path("c.cbz"));
    // Opened under a differently cased name: still found; the result is the sibling as listed.
    EXPECT_EQ(sources::GetAdjacent(folder.Path("B.ZIP"), +1), folder.Path("c.cbz"));
    EXPECT_EQ(sources::GetAdjacent(folder.Path("gone.zip"), +1), "");
    EXPECT_EQ(sources::GetAdjacent("", +1), "");

    // Two names that differ only in case are two files here: each is found as itself.
    const std::string upper = folder.folder.Write("A.pdf", std::string());
    const std::string lower = folder.Path("a.pdf");
    EXPECT_EQ(sources::GetAdjacent(upper, 0), upper);
    EXPECT_EQ(sources::GetAdjacent(lower, 0), lower);
    EXPECT_NE(sources::GetAdjacent(upper, +1), sources::GetAdjacent(lower, +1));
}

TEST(SiblingContainers, TracesTheLookup) {
    if (!kTraceRequested || !platform::IsTraceEnabled()) {
        GTEST_SKIP() << "tracing was switched off for this process";
    }
    const ContainerFolder folder;
    testing::internal::CaptureStderr();
    sources::GetAdjacent(folder.Path("b.zip"), +1);
    sources::GetAdjacent(folder.Path("c.cbz"), +1);
    sources::GetAdjacent(folder.Path("gone.zip"), +1);
    sources::GetAdjacent("/nonexistent-skimora-folder/a.zip", +1);
    const std::string traces = testing::internal::GetCapturedStderr();
    EXPECT_EQ(traces, "[GetAdjacent] siblings count: 3\n"
                      "[GetAdjacent] currentIndex: 1\n"
                      "[GetAdjacent] returning: " +
                          folder.Path("c.cbz") +
                          "\n"
                          "[GetAdjacent] siblings count: 3\n"
                          "[GetAdjacent] currentIndex: 2\n"
                          "[GetAdjacent] Out of bounds\n"
                          "[GetAdjacent] siblings count: 3\n"
                          "[GetAdjacent] currentIndex: -1\n"
                          "[GetAdjacent] NOT FOUND in siblings. currentPath: " +
                          folder.Path("gone.zip") +
                          "\n"
                          "[GetAdjacent] siblings is empty\n");
}

TEST(ContainerNavigation, OpensTheNeighbouringArchiveOrPdf) {
    HookRecorder recorder;
    const ContainerFolder folder;
    HookRecorder::SetList({folder.Path("b.zip") + "::p1.jpg", folder.Path("b.zip") + "::p2.jpg"}, 1);
    EXPECT_TRUE(sources::OpenNextContainer());
    EXPECT_TRUE(sources::OpenPreviousContainer());
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"openArchive " + folder.Path("c.cbz"),
                                                         "openPdfDocument " + folder.Path("a.pdf")}));

    recorder.events.clear();
    HookRecorder::SetList({folder.Path("c.cbz") + "::dir/p.png"}, 0);
    EXPECT_FALSE(sources::OpenNextContainer());
    HookRecorder::SetList({folder.Path("a.pdf") + "::0", folder.Path("a.pdf") + "::1"}, 1);
    EXPECT_FALSE(sources::OpenPreviousContainer());
    EXPECT_TRUE(recorder.events.empty());
    EXPECT_TRUE(sources::OpenNextContainer());
    EXPECT_EQ(recorder.events, std::vector<std::string>{"openArchive " + folder.Path("b.zip")});

    // Ignored while a page turn is pending, for plain images and with nothing current.
    recorder.events.clear();
    sources::NavigationPending = true;
    EXPECT_FALSE(sources::OpenNextContainer());
    sources::NavigationPending = false;
    HookRecorder::SetList({folder.Path("photo.jpg")}, 0);
    EXPECT_FALSE(sources::OpenNextContainer());
    HookRecorder::SetList({folder.Path("b.zip") + "::p1.jpg"}, 5);
    EXPECT_FALSE(sources::OpenNextContainer());
    EXPECT_TRUE(recorder.events.empty());
}

TEST(ContainerNavigation, WalksARealSampleFolder) {
    SKIP_WITHOUT_SAMPLES();
    const fs::path folder = testing_support::SamplesDir() / "alz";
    if (!fs::exists(folder / "high.alz")) {
        GTEST_SKIP() << "no ALZ samples";
    }
    const std::vector<std::string> siblings = sources::ListSiblingContainers((folder / "high.alz").string());
    size_t expected = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string ext = entry.path().extension().string();
        expected += entry.is_regular_file() && (ext == ".alz" || ext == ".egg" || ext == ".zip") ? 1 : 0;
    }
    EXPECT_EQ(siblings.size(), expected);
    EXPECT_EQ(std::find(siblings.begin(), siblings.end(), (folder / "split.a00").string()), siblings.end());
    // Walking forward from the first visits every sibling once, names with emoji included.
    std::string at = siblings.front();
    size_t visited = 1;
    while (!(at = sources::GetAdjacent(at, +1)).empty()) {
        ++visited;
    }
    EXPECT_EQ(visited, siblings.size());
}

} // namespace
