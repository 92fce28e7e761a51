#include <gtest/gtest.h>

#include "tests/view/recording_hooks.h"
#include "view/strip_layout.h"

using namespace view;

TEST(StripLayout, PageHeightsFollowTheColumn) {
    EXPECT_EQ(StripPageHeight(1600, 3000, 800), 1500.0f);
    EXPECT_EQ(StripPageHeight(0, 3000, 800), 0.0f);
    EXPECT_EQ(StripPageHeight(1600, 3000, 0), 1500.0f); // non-positive column counts as 800
    EXPECT_EQ(StripColumnWidth(640, 1920), 640.0f);
    EXPECT_EQ(StripColumnWidth(0, 1920), 1920.0f);
    EXPECT_EQ(StripColumnWidth(0, 0), 800.0f);
    EXPECT_EQ(StripColumnWidth(0, -5), 800.0f);

    // Full width: widening the window from 800 to 1000 grows every page by 25 % and lowers a scroll
    // position that would show empty space below the last page.
    StripLayout strip;
    EXPECT_FALSE(strip.AddPage(0, 100, 800));
    EXPECT_TRUE(strip.AddPage(800, 1000, 800));
    EXPECT_TRUE(strip.AddPage(400, 600, 800));
    EXPECT_EQ(strip.TotalHeight(), 2200.0f);
    strip.SetScroll(5000, 600);
    EXPECT_EQ(strip.Scroll(), 1600.0f);
    strip.Relayout(1000, 600);
    EXPECT_EQ(strip.PageHeight(0), 1250.0f);
    EXPECT_EQ(strip.TotalHeight(), 2750.0f);
    EXPECT_EQ(strip.Scroll(), 1600.0f);
    strip.Relayout(500, 600);
    EXPECT_EQ(strip.TotalHeight(), 1375.0f);
    EXPECT_EQ(strip.Scroll(), 775.0f);

    // A page arriving for another column width brings the earlier ones to it, so the total matches.
    strip.AddPage(100, 100, 760);
    EXPECT_EQ(strip.PageHeight(0), 950.0f);
    EXPECT_EQ(strip.TotalHeight(), 950.0f + 1140.0f + 760.0f);
}

TEST(StripLayout, ScrollingClampsAndFindsThePage) {
    StripLayout strip;
    strip.AddPage(800, 300, 800);
    strip.ScrollBy(kStripWheelStep, 600);
    EXPECT_EQ(strip.Scroll(), 0.0f); // shorter than the view
    EXPECT_EQ(strip.UpdateStripIndex(600), 0);

    strip.Clear();
    EXPECT_EQ(strip.UpdateStripIndex(600), -1);
    for (int i = 0; i < 5; ++i) {
        strip.AddPage(800, 1000, 800);
    }
    strip.ScrollBy(-kStripWheelStep, 600);
    EXPECT_EQ(strip.Scroll(), 0.0f);
    strip.ScrollBy(1000000, 600);
    EXPECT_EQ(strip.Scroll(), 4400.0f);
    EXPECT_EQ(strip.UpdateStripIndex(600), 4);
    strip.SetScroll(600, 600); // probe at 900: still the first page
    EXPECT_EQ(strip.UpdateStripIndex(600), 0);
    strip.SetScroll(701, 600); // probe at 1001
    EXPECT_EQ(strip.UpdateStripIndex(600), 1);

    EXPECT_TRUE(strip.ScrollToPage(4));
    EXPECT_EQ(strip.Scroll(), 4000.0f); // no upper clamp: the last page starts at the top
    EXPECT_FALSE(strip.ScrollToPage(5));
    EXPECT_FALSE(strip.ScrollToPage(-1));
    EXPECT_EQ(strip.Scroll(), 4000.0f);
    EXPECT_TRUE(strip.SeekToPage(4, 600)); // clamped to the scrollable range
    EXPECT_EQ(strip.Scroll(), 4000.0f);
    strip.SetScroll(0, 600);
    EXPECT_TRUE(strip.SeekToPage(40, 600)); // not arrived yet: the end of what is there
    EXPECT_EQ(strip.Scroll(), 4400.0f);
    EXPECT_TRUE(strip.SeekToPage(1, 600));
    EXPECT_EQ(strip.Scroll(), 1000.0f);

    ScrollStripByWheel(strip, 1, 600);
    EXPECT_EQ(strip.Scroll(), 900.0f);
    ScrollStripByWheel(strip, -960, 600);
    EXPECT_EQ(strip.Scroll(), 1000.0f);
    PanDrag drag;
    BeginPan(drag, 10, 500);
    DragStrip(strip, drag, 12, 530, 600); // pulling the strip down shows what lies above
    EXPECT_EQ(strip.Scroll(), 970.0f);
    DragStrip(strip, drag, 12, -5000, 600);
    EXPECT_EQ(strip.Scroll(), 4400.0f);

    // The pending start page is scrolled to once it arrives.
    strip.Clear();
    strip.SetStartIndex(2);
    strip.AddPage(800, 1000, 800);
    strip.AddPage(800, 1000, 800);
    EXPECT_EQ(strip.Scroll(), 0.0f);
    EXPECT_EQ(strip.StartIndex(), 2);
    strip.AddPage(800, 1000, 800);
    EXPECT_EQ(strip.Scroll(), 2000.0f);
    EXPECT_EQ(strip.StartIndex(), -1);
}

TEST(StripLayout, VisiblePagesAreCentredInTheColumn) {
    StripLayout strip;
    for (int i = 0; i < 4; ++i) {
        strip.AddPage(640, 640, 640);
    }
    strip.SetScroll(700, 700);
    const auto pages = strip.VisiblePages(1000, 700);
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].index, 1);
    EXPECT_EQ(pages[0].rect.left, 180.0f);
    EXPECT_EQ(pages[0].rect.right, 820.0f);
    EXPECT_EQ(pages[0].rect.top, -60.0f);
    EXPECT_EQ(pages[1].rect.top, 580.0f);
    EXPECT_EQ(strip.VisiblePages(1000, 579).size(), 1u);
    EXPECT_TRUE(StripLayout().VisiblePages(1000, 500).empty());
}

TEST(StripLayout, ScrollBarThumbAndSeek) {
    EXPECT_FALSE(ComputeStripScrollBar(800, 600, 500, 0, 96)); // shorter than the view
    EXPECT_FALSE(ComputeStripScrollBar(800, 600, 600, 0, 96)); // exactly the view
    EXPECT_FALSE(ComputeStripScrollBar(0, 600, 5000, 0, 96));
    EXPECT_FALSE(ComputeStripScrollBar(800, 0, 5000, 0, 96));

    const auto bar = ComputeStripScrollBar(800, 616, 6000, 0, 96);
    ASSERT_TRUE(bar);
    EXPECT_EQ(bar->track.left, 800 - 26 - 4);
    EXPECT_EQ(bar->track.top, 8.0f);
    EXPECT_EQ(bar->track.right, 792.0f);
    EXPECT_EQ(bar->track.bottom, 608.0f);
    EXPECT_NEAR(bar->thumb.Height(), 616.0f / 6000.0f * 600.0f, 1e-3);
    EXPECT_EQ(bar->thumb.top, 8.0f);
    const auto end = ComputeStripScrollBar(800, 616, 6000, 1e9f, 96);
    EXPECT_NEAR(end->thumb.bottom, 608.0f, 1e-3);

    // Many pages: the thumb keeps its minimum length (scaled), and seeking maps its centre.
    const auto longStrip = ComputeStripScrollBar(800, 616, 600000, 0, 192);
    EXPECT_EQ(longStrip->thumb.Height(), 40.0f);
    StripLayout strip;
    for (int i = 0; i < 100; ++i) {
        strip.AddPage(800, 6000, 800);
    }
    const RectF track = ComputeStripScrollBar(800, 616, strip.TotalHeight(), 0, 96)->track;
    strip.SeekStripFromScrollBar(track.top, track, 616, 96);
    EXPECT_EQ(strip.Scroll(), 0.0f);
    strip.SeekStripFromScrollBar(track.bottom + 50, track, 616, 96);
    EXPECT_EQ(strip.Scroll(), strip.TotalHeight() - 616);
    strip.SeekStripFromScrollBar(track.Center().y, track, 616, 96);
    EXPECT_NEAR(strip.Scroll(), (strip.TotalHeight() - 616) / 2, 1.0);

    // A track shorter than the minimum thumb: the thumb stays inside and seeking yields the top.
    const auto cramped = ComputeStripScrollBar(800, 30, 6000, 3000, 96);
    EXPECT_GE(cramped->thumb.top, cramped->track.top);
    EXPECT_LE(cramped->thumb.bottom, cramped->track.bottom);
    strip.SeekStripFromScrollBar(20, cramped->track, 30, 96);
    EXPECT_EQ(strip.Scroll(), 0.0f);

    const auto label = ComputeStripPageLabel(800, RectF{770, 100, 792, 140}, 40, 20, 96);
    EXPECT_EQ(label.textOrigin.x, 800 - 16 - 40 - 8);
    EXPECT_EQ(label.textOrigin.y, 110.0f);
    EXPECT_EQ(label.background.left, label.textOrigin.x - 4);
    EXPECT_EQ(label.background.bottom, 132.0f);
    EXPECT_EQ(FormatStripPageLabel(4, 12), "5/12");
}

TEST(StripLayout, ProgressBoxFadesAfterTheLoad) {
    StripProgressState state{true, 0};
    auto frame = StepStripProgress(state, true, 10, 5000);
    EXPECT_TRUE(frame.draw);
    EXPECT_EQ(frame.alpha, 1.0f);

    frame = StepStripProgress(state, false, 10, 7000);
    EXPECT_EQ(state.progressDoneTick, 7000u);
    EXPECT_EQ(frame.alpha, 1.0f);
    EXPECT_TRUE(frame.keepAnimating);
    frame = StepStripProgress(state, false, 10, 7250);
    EXPECT_NEAR(frame.alpha, 0.5f, 1e-6f);
    frame = StepStripProgress(state, false, 10, 7500);
    EXPECT_EQ(frame.alpha, 0.0f);
    EXPECT_TRUE(frame.draw);
    frame = StepStripProgress(state, false, 10, 7501);
    EXPECT_FALSE(frame.draw);
    EXPECT_TRUE(frame.repaint);
    EXPECT_FALSE(state.progressVisible);
    EXPECT_EQ(state.progressDoneTick, 0u);
    EXPECT_FALSE(StepStripProgress(state, false, 10, 7600).draw);

    // A tick count that wraps during the fade.
    state = {true, 0};
    StepStripProgress(state, false, 10, 0xFFFFFF00u);
    frame = StepStripProgress(state, false, 10, 0x10u);
    EXPECT_TRUE(frame.draw);
    EXPECT_NEAR(frame.alpha, 1.0f - 272.0f / 500.0f, 1e-5f);

    state = {true, 0};
    EXPECT_FALSE(StepStripProgress(state, true, 0, 1).draw);
    EXPECT_FALSE(state.progressVisible);

    const auto box = ComputeStripProgressBox(1000, 5, 10, 96);
    EXPECT_EQ(box.box.right, 980.0f);
    EXPECT_EQ(box.box.Width(), 224.0f);
    EXPECT_EQ(box.box.top, 20.0f);
    EXPECT_EQ(box.box.Height(), 62.0f);
    EXPECT_EQ(box.track.top, 20 + 12 + 18 + 12.0f);
    EXPECT_EQ(box.track.Width(), 200.0f);
    EXPECT_EQ(box.fill->Width(), 100.0f);
    EXPECT_FALSE(ComputeStripProgressBox(1000, 0, 10, 96).fill);
    EXPECT_EQ(ComputeStripProgressBox(1000, 15, 10, 96).fill->Width(), 200.0f);
    EXPECT_EQ(ComputeStripProgressBox(1000, 5, 10, 192).box.Height(), 124.0f);
    EXPECT_EQ(FormatStripProgressText(true, 3, 10), "로딩 중... 3/10");
    EXPECT_EQ(FormatStripProgressText(false, 10, 10), "완료! (10장)");
}

TEST(DualLayout, PagesAndPlacement) {
    EXPECT_EQ(PlanDualPages(0, 5).currentHalf, DualHalf::Left);
    EXPECT_TRUE(PlanDualPages(0, 5).showNext);
    EXPECT_EQ(PlanDualPages(2, 3).currentHalf, DualHalf::Left); // the last of three stands alone, left
    EXPECT_FALSE(PlanDualPages(2, 3).showNext);
    EXPECT_EQ(PlanDualPages(0, 1).currentHalf, DualHalf::Right); // a single image, right
    EXPECT_FALSE(PlanDualPages(0, 1).showNext);

    // A portrait page turned by 90 is fitted by its turned size: 1000 × 2000 → 2000 × 1000 in a
    // 500 × 600 half: scale 0.25, never above 1.
    const Matrix3x2 m = ComputeDualPageTransform(1000, 2000, 90, 0, 1000, 0, 600, DualHalf::Left);
    const RectF bounds = m.TransformBounds({0, 0, 1000, 2000});
    EXPECT_NEAR(bounds.left, 0, 1e-3);
    EXPECT_NEAR(bounds.right, 500, 1e-3);
    EXPECT_NEAR(bounds.top, 175, 1e-3);
    EXPECT_NEAR(bounds.bottom, 425, 1e-3);

    const Matrix3x2 small = ComputeDualPageTransform(100, 50, 270, 180, 1000, 58, 600, DualHalf::Right);
    const RectF smallBounds = small.TransformBounds({0, 0, 100, 50});
    // 270 + 180 wraps to 90: turned, and small pages are not enlarged.
    EXPECT_NEAR(smallBounds.Width(), 50, 1e-3);
    EXPECT_NEAR(smallBounds.Height(), 100, 1e-3);
    EXPECT_NEAR(smallBounds.Center().x, 750, 1e-3);
    EXPECT_NEAR(smallBounds.Center().y, 358, 1e-3);

    const WindowPlacement placement = WebtoonWindowPlacement(0, 0, 1921, 1040, 800);
    EXPECT_EQ(placement.width, 820);
    EXPECT_EQ(placement.left, 550);
    EXPECT_EQ(placement.top, 40);
    EXPECT_EQ(placement.height, 960);
    EXPECT_EQ(WebtoonWindowPlacement(100, 20, 800, 60, 640).height, 0);
}
