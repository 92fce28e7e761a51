// The window's arithmetic and texts without drawing: title, placement, resize border, dialog filter.

#include "app/frame_hit_test.h"
#include "app/main_window.h"
#include "app/window_placement.h"
#include "app/window_title.h"

#include <gtest/gtest.h>

namespace {

sources::CurrentItem Item(std::string path, int32_t index, size_t count) {
    return {index, count, std::move(path)};
}

TEST(WindowTitle, NamesTheItemByItsKindWithFrameAndPositionCounters) {
    EXPECT_EQ(app::FormatWindowTitle(Item("/home/u/pics/cats/a.jpg", 2, 10)), "cats/a.jpg [3/10] - 스키모라");
    EXPECT_EQ(app::FormatWindowTitle(Item("/comics/vol1.zip::sub/p01.png", 0, 40)),
              "vol1.zip::sub/p01.png [1/40] - 스키모라");
    EXPECT_EQ(app::FormatWindowTitle(Item("/doc/Manual.PDF::4", 4, 12)), "Manual.PDF [5/12] - 스키모라");
    EXPECT_EQ(app::FormatWindowTitle(Item("/x/folder/anim.gif", 0, 1), {2, 8}),
              "folder/anim.gif [2/8] [1/1] - 스키모라");
    // One frame is no animation; a name without a folder stands alone; a backslash is a name character.
    EXPECT_EQ(app::FormatWindowTitle(Item("/x/f/still.gif", 0, 1), {1, 1}), "f/still.gif [1/1] - 스키모라");
    EXPECT_EQ(app::FormatWindowTitle(Item("a.jpg", 0, 1)), "a.jpg [1/1] - 스키모라");
    EXPECT_EQ(app::FormatWindowTitle(Item("/p/dir\\x.jpg", 0, 2)), "p/dir\\x.jpg [1/2] - 스키모라");
    EXPECT_EQ(app::FormatWindowTitle(Item("/top.jpg", 0, 1)), "/top.jpg [1/1] - 스키모라");
    // No current item.
    EXPECT_EQ(app::FormatWindowTitle(Item("", -1, 0)), "스키모라 Skimora");
    EXPECT_EQ(app::FormatWindowTitle(Item("", 3, 2)), "스키모라 Skimora");
}

TEST(WindowPlacement, DefaultIsDpiScaledAndCentred) {
    const app::ScreenRect rect = app::DefaultWindowRect(96, 1920, 1080);
    EXPECT_EQ(rect.left, 560);
    EXPECT_EQ(rect.top, 140);
    EXPECT_EQ(rect.Width(), 800);
    EXPECT_EQ(app::DefaultWindowRect(144, 1920, 1080).Width(), 1200);
    EXPECT_EQ(app::DefaultWindowRect(0, 1920, 1080).Width(), 800);
    EXPECT_EQ(app::ScaleByDpi(8, 120), 10);
    EXPECT_EQ(app::ScaleByDpi(7, 120), 9); // 8.75 rounds up
}

TEST(WindowPlacement, PullsFarAwayWindowsBackAndCentresOrphans) {
    const std::vector<app::Monitor> monitors = {
        {{0, 0, 1920, 1080}, {0, 0, 1920, 1040}},
        {{1920, 0, 3840, 1080}, {1920, 30, 3840, 1080}},
    };
    platform::Settings settings;
    settings.windowW = -1;
    EXPECT_FALSE(app::RestoreWindowPlacement(settings, monitors, 1920, 1080)); // never saved

    settings.windowW = 800;
    settings.windowH = 600;
    settings.windowX = 100;
    settings.windowY = 100;
    settings.windowMaximized = true;
    auto placed = app::RestoreWindowPlacement(settings, monitors, 1920, 1080);
    ASSERT_TRUE(placed);
    EXPECT_EQ(placed->rect.left, 100);
    EXPECT_EQ(placed->rect.Width(), 800);
    EXPECT_TRUE(placed->maximized);

    // Mostly left of the first monitor's work area: its left edge goes to the work area's left edge.
    settings.windowX = -760;
    placed = app::RestoreWindowPlacement(settings, monitors, 1920, 1080);
    ASSERT_TRUE(placed);
    EXPECT_EQ(placed->rect.left, 0);
    EXPECT_EQ(placed->rect.top, 100);

    // Past the second monitor's right edge minus 50: flush with it.
    settings.windowX = 3800;
    placed = app::RestoreWindowPlacement(settings, monitors, 1920, 1080);
    ASSERT_TRUE(placed);
    EXPECT_EQ(placed->rect.left, 3840 - 800);

    // A monitor that is gone: centred on the primary screen with the stored size.
    settings.windowX = 9000;
    placed = app::RestoreWindowPlacement(settings, monitors, 1920, 1080);
    ASSERT_TRUE(placed);
    EXPECT_EQ(placed->rect.left, (1920 - 800) / 2);
    EXPECT_EQ(placed->rect.top, (1080 - 600) / 2);

    // Damaged values fail cleanly: absurd sizes are ignored, extreme positions do not overflow.
    settings.windowW = 2'000'000'000;
    EXPECT_FALSE(app::RestoreWindowPlacement(settings, monitors, 1920, 1080));
    settings.windowW = 800;
    settings.windowX = INT32_MAX;
    settings.windowY = INT32_MIN;
    placed = app::RestoreWindowPlacement(settings, monitors, 1920, 1080);
    ASSERT_TRUE(placed);
    EXPECT_EQ(placed->rect.Width(), 800);

    settings.rememberWindowPos = false;
    settings.windowX = 100;
    EXPECT_FALSE(app::RestoreWindowPlacement(settings, monitors, 1920, 1080));
}

TEST(FrameHitTest, BorderIsEightPixelsScaledAndAbsentWhenMaximised) {
    using app::FrameHit;
    using app::FrameState;
    EXPECT_EQ(app::HitTestFrame(7, 300, 800, 600, 96, FrameState::Normal), FrameHit::Left);
    EXPECT_EQ(app::HitTestFrame(8, 300, 800, 600, 96, FrameState::Normal), FrameHit::Client);
    EXPECT_EQ(app::HitTestFrame(792, 300, 800, 600, 96, FrameState::Normal), FrameHit::Right);
    EXPECT_EQ(app::HitTestFrame(3, 3, 800, 600, 96, FrameState::Normal), FrameHit::TopLeft);
    EXPECT_EQ(app::HitTestFrame(799, 599, 800, 600, 96, FrameState::Normal), FrameHit::BottomRight);
    EXPECT_EQ(app::HitTestFrame(400, 595, 800, 600, 96, FrameState::Normal), FrameHit::Bottom);
    EXPECT_EQ(app::HitTestFrame(11, 300, 800, 600, 144, FrameState::Normal), FrameHit::Left);
    EXPECT_EQ(app::HitTestFrame(12, 300, 800, 600, 144, FrameState::Normal), FrameHit::Client);
    EXPECT_EQ(app::HitTestFrame(7, 50, 800, 600, 72, FrameState::Normal), FrameHit::Left); // never below 8
    EXPECT_EQ(app::HitTestFrame(0, 0, 800, 600, 96, FrameState::MaximizedOrFullscreen), FrameHit::Client);
}

TEST(OpenFileFilter, ListsTheFourEntriesInOrder) {
    const std::string& filter = app::OpenFileFilter();
    const size_t images = filter.find("이미지/압축/PDF (");
    const size_t archives = filter.find(";;압축 파일 (");
    const size_t pdf = filter.find(";;PDF 파일 (");
    const size_t all = filter.find(";;모든 파일 (*)");
    EXPECT_EQ(images, 0u);
    ASSERT_NE(archives, std::string::npos);
    ASSERT_NE(pdf, std::string::npos);
    ASSERT_NE(all, std::string::npos);
    EXPECT_LT(archives, pdf);
    EXPECT_LT(pdf, all);
    const std::string first = filter.substr(0, archives);
    EXPECT_NE(first.find("*.jpg"), std::string::npos);
    EXPECT_NE(first.find("*.png"), std::string::npos);
    EXPECT_NE(first.find("*.zip"), std::string::npos);
    EXPECT_LT(first.find("*.jpg"), first.find("*.png")); // JPEG family before the WIC formats
    EXPECT_NE(filter.find("*.alz *.egg)"), std::string::npos);
    EXPECT_EQ(&filter, &app::OpenFileFilter());
}

} // namespace
