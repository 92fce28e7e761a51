#include <gtest/gtest.h>

#include "tests/view/recording_hooks.h"
#include "view/control_bar_geometry.h"

using namespace view;

TEST(ControlBarLayout, WidthsSlotsAndHitTest) {
    const ControlBarLayout normal = ComputeControlBarLayout(1000, 800, BarLayoutKind::Normal, 96);
    EXPECT_EQ(normal.bar.Width(), 806.0f);
    EXPECT_EQ(normal.bar.left, 97.0f);
    EXPECT_EQ(normal.bar.top, 800 - 52 - 32.0f);
    EXPECT_EQ(normal.slotsTop, normal.bar.top + 5);
    EXPECT_EQ(normal.Slot(0).left, 113.0f);
    EXPECT_EQ(normal.Slider().left, 113 + 168.0f);
    EXPECT_EQ(normal.Slider().Width(), 180.0f);
    EXPECT_EQ(normal.Slot(5).left, 113 + 168 + 180.0f);
    EXPECT_EQ(normal.Slot(12).left, 113 + 168 + 180 + 7 * 42.0f);
    EXPECT_EQ(normal.Slot(kPinButton).left, 113 + 168 + 180 + 8 * 42 + 16.0f);
    EXPECT_LE(normal.Slot(kPinButton).right, normal.bar.right);

    const ControlBarLayout strip = ComputeControlBarLayout(1000, 800, BarLayoutKind::Webtoon, 96);
    EXPECT_EQ(strip.bar.Width(), 470.0f);
    for (int32_t hidden = 5; hidden <= 12; ++hidden) {
        EXPECT_FALSE(strip.IsShown(hidden));
    }
    EXPECT_EQ(strip.Slot(kPinButton).left, strip.bar.left + 16 + 168 + 180 + 16);
    EXPECT_EQ(ComputeControlBarLayout(2000, 1600, BarLayoutKind::Normal, 192).bar.Width(), 1612.0f);

    const PointF eye = normal.Slot(kEyeButton).Center();
    EXPECT_EQ(ControlBarHitTest(normal, false, false, eye.x, eye.y), -1); // a faded-out bar has no buttons
    EXPECT_EQ(ControlBarHitTest(normal, true, false, eye.x, eye.y), kEyeButton);
    EXPECT_EQ(ControlBarHitTest(normal, false, true, eye.x, eye.y), kEyeButton);
    // Edges are inclusive; the shared edge of two slots belongs to the first.
    EXPECT_EQ(ControlBarHitTest(normal, true, false, normal.Slot(1).left, normal.slotsTop), 0);
    EXPECT_EQ(ControlBarHitTest(normal, true, false, normal.Slider().Center().x, normal.slotsTop + 1),
              kSliderButton);
    // Inside the bar but between slots (the bar's padding) hits nothing; outside the bar neither.
    EXPECT_EQ(ControlBarHitTest(normal, true, false, normal.bar.left + 2, eye.y), -1);
    EXPECT_EQ(ControlBarHitTest(normal, true, false, eye.x, normal.bar.top - 1), -1);
    const PointF pin = strip.Slot(kPinButton).Center();
    EXPECT_EQ(ControlBarHitTest(strip, true, false, pin.x, pin.y), kPinButton);
    EXPECT_EQ(ControlBarHitTest(strip, true, false, strip.bar.right - 3, pin.y), -1);
}

TEST(ControlBarLayout, ViewListEntriesAndCurrentEntry) {
    const ControlBarLayout layout = ComputeControlBarLayout(1000, 800, BarLayoutKind::Normal, 96);
    const ViewListGeometry list = ComputeViewListGeometry(layout, 96);
    EXPECT_EQ(list.list.Width(), 180.0f);
    EXPECT_EQ(list.list.Center().x, layout.Slot(kEyeButton).Center().x);
    EXPECT_EQ(list.list.Height(), 8 * 42 + 16.0f);
    EXPECT_EQ(list.list.bottom, layout.slotsTop - 8);
    EXPECT_EQ(list.entries[0].top, list.list.top + 8);
    EXPECT_EQ(list.entries[7].bottom, list.list.bottom - 8);
    EXPECT_EQ(list.entries[3].left, list.list.left + 8);

    const PointF third = list.entries[2].Center();
    EXPECT_EQ(ViewListHitTest(true, list, third.x, third.y), 2);
    EXPECT_EQ(ViewListHitTest(false, list, third.x, third.y), -1);
    EXPECT_EQ(ViewListHitTest(true, list, list.list.left + 2, third.y), -1);
    EXPECT_EQ(ViewListHitTest(true, list, third.x, list.list.bottom + 3), -1);

    EXPECT_EQ(CurrentViewListEntry({true, false, 0}, FitMode::ActualSize), 7);
    EXPECT_EQ(CurrentViewListEntry({false, true, 0}, FitMode::ActualSize), 3);
    EXPECT_EQ(CurrentViewListEntry({false, true, 640}, FitMode::ActualSize), 4);
    EXPECT_EQ(CurrentViewListEntry({false, true, 760}, FitMode::ActualSize), 5);
    EXPECT_EQ(CurrentViewListEntry({false, true, 123}, FitMode::ActualSize), 5);
    EXPECT_EQ(CurrentViewListEntry({false, true, 800}, FitMode::ActualSize), 6);
    EXPECT_EQ(CurrentViewListEntry({}, FitMode::ActualSize), 2);
    EXPECT_EQ(CurrentViewListEntry({}, FitMode::FitAlways), 1);
    EXPECT_EQ(CurrentViewListEntry({}, FitMode::FitShrinkOnly), 0);
    EXPECT_STREQ(ViewListEntryText(3), "이어보기(웹툰) 폭 100%");
    EXPECT_STREQ(ViewListEntryText(7), "2장씩 보기");
    EXPECT_STREQ(ViewListEntryText(8), "");

    EXPECT_STREQ(ControlBarIconFile(kPinButton, PinState::Pinned), "pin_off.svg");
    EXPECT_STREQ(ControlBarIconFile(kPinButton, PinState::Unpinned), "pin.svg");
    EXPECT_EQ(ControlBarIconFile(kSliderButton, PinState::Unpinned), nullptr);
    EXPECT_STREQ(ControlBarTooltip(kPinButton, PinState::Pinned), "고정 해제");
    EXPECT_STREQ(ControlBarTooltip(2, PinState::Pinned), "이전 이미지 (←)");
    EXPECT_EQ(ControlBarTooltip(kEyeButton, PinState::Unpinned), nullptr);
    EXPECT_EQ(ControlBarTooltip(14, PinState::Unpinned), nullptr);
}

TEST(ControlBarSlider, FractionIndexAndLabels) {
    const ControlBarLayout layout = ComputeControlBarLayout(1000, 800, BarLayoutKind::Normal, 96);
    const RectF slider = layout.Slider();
    EXPECT_EQ(SliderFraction(slider.left, slider, 96), 0.0f);
    EXPECT_EQ(SliderFraction(slider.left + 8 + 82, slider, 96), 0.5f);
    EXPECT_EQ(SliderFraction(slider.right + 40, slider, 96), 1.0f);
    EXPECT_EQ(SliderIndex(0.5f, 11), 5);
    EXPECT_EQ(SliderIndex(0.44f, 11), 4);
    EXPECT_EQ(SliderIndex(0.46f, 11), 5);
    EXPECT_EQ(SliderIndex(1.0f, 11), 10);
    EXPECT_EQ(SliderIndex(0.7f, 1), 0);
    EXPECT_EQ(SliderIndex(0.7f, 0), -1);
    EXPECT_EQ(FormatSliderPreviewLabel(4, 11), "5 / 11");

    const SliderGeometry empty = ComputeSliderGeometry(slider, 0, 0, 96);
    EXPECT_EQ(empty.track.Width(), 164.0f);
    EXPECT_EQ(empty.track.Height(), 4.0f);
    EXPECT_FALSE(empty.fill || empty.knob);
    EXPECT_EQ(ComputeSliderGeometry(slider, 0, 1, 96).knob->x, empty.track.Center().x);
    EXPECT_EQ(ComputeSliderGeometry(slider, 10, 11, 96).knob->x, empty.track.right);
    EXPECT_EQ(ComputeSliderGeometry(slider, 99, 11, 96).knob->x, empty.track.right);

    // Labels stay 5 units inside the render width.
    const BarLabelGeometry label = ComputeSliderPreviewBox(slider.Center().x, layout, 50, 20, 1000, 96);
    EXPECT_EQ(label.box.Width(), 62.0f);
    EXPECT_EQ(label.box.Center().x, slider.Center().x);
    EXPECT_EQ(label.box.bottom, layout.slotsTop - 8);
    EXPECT_EQ(ComputeSliderPreviewBox(990, layout, 50, 20, 1000, 96).box.right, 995.0f);
    EXPECT_EQ(ComputeSliderPreviewBox(2, layout, 50, 20, 1000, 96).box.left, 5.0f);
    const BarLabelGeometry tip = ComputeBarTooltipBox(layout.Slot(0), 60, 18, 1000, 96);
    EXPECT_EQ(tip.box.Width(), 76.0f);
    EXPECT_EQ(tip.box.bottom, layout.Slot(0).top - 8);
    EXPECT_EQ(tip.textOrigin.x, tip.box.left + 8);

    RecordingHooks record;
    ViewState view;
    view.zoom = 3;
    EXPECT_EQ(SeekFromSlider(slider.left + 8 + 82, slider, 96, 11, 5, view, record.hooks), 5);
    EXPECT_TRUE(record.calls.empty()); // the same index: nothing happens
    EXPECT_EQ(SeekFromSlider(slider.right, slider, 96, 11, 5, view, record.hooks), 10);
    EXPECT_EQ(record.calls,
              (std::vector<std::string>{"stop animation", "index 10", "load", "prefetch", "repaint"}));
    EXPECT_EQ(view.zoom, 1.0f);
    record.Clear();
    EXPECT_EQ(SeekFromSlider(slider.right, slider, 96, 0, 0, view, record.hooks), -1);
    EXPECT_TRUE(record.calls.empty());

    StripLayout strip;
    for (int i = 0; i < 10; ++i) {
        strip.AddPage(800, 1000, 800);
    }
    EXPECT_EQ(SeekStripFromSlider(slider.left + 8 + 82, slider, 96, 10, strip, 600, record.hooks), 5);
    EXPECT_EQ(strip.Scroll(), 5000.0f);
    EXPECT_EQ(SeekStripFromSlider(slider.right, slider, 96, 10, strip, 600, record.hooks), 9);
    EXPECT_EQ(strip.Scroll(), 9000.0f);
    strip.AddPage(800, 100, 800); // a short last page: its top is past the scrollable range
    EXPECT_EQ(SeekStripFromSlider(slider.right, slider, 96, 11, strip, 600, record.hooks), 10);
    EXPECT_EQ(strip.Scroll(), 9500.0f);
}

TEST(ControlBarAnimation, FadeHoverPressAndHideLine) {
    RecordingHooks record;
    const ControlBarLayout layout = ComputeControlBarLayout(1000, 1000, BarLayoutKind::Normal, 96);
    const ViewListGeometry list = ComputeViewListGeometry(layout, 96);
    ControlBarState state;
    const PointF bottom{500, 995};

    EXPECT_TRUE(ShouldShowControlBar(state, bottom.x, bottom.y, 1000, layout, list, 96));
    EXPECT_FALSE(ShouldShowControlBar(state, 500, 890, 1000, layout, list, 96));
    ShowControlBar(state, record.hooks);
    ShowControlBar(state, record.hooks);
    EXPECT_EQ(record.calls, std::vector<std::string>{"start 104 16"});

    StepControlBarAnimation(state, bottom, 1000, layout, list, 96, record.hooks);
    EXPECT_NEAR(state.barAlpha, 0.65f, 1e-6f);
    StepControlBarAnimation(state, bottom, 1000, layout, list, 96, record.hooks);
    EXPECT_EQ(state.barAlpha, 1.0f);

    // Hover: 16 ms → 1.15, 32 ms → exactly 1.3; the slider never grows.
    const PointF zoomIn = layout.Slot(7).Center();
    EXPECT_TRUE(UpdateControlBarHover(state, zoomIn.x, zoomIn.y, layout, list));
    EXPECT_FALSE(UpdateControlBarHover(state, zoomIn.x, zoomIn.y, layout, list));
    EXPECT_EQ(state.hoveredButton, 7);
    StepControlBarAnimation(state, zoomIn, 1000, layout, list, 96, record.hooks);
    EXPECT_NEAR(state.hoverScale[7], 1.15f, 1e-6f);
    StepControlBarAnimation(state, zoomIn, 1000, layout, list, 96, record.hooks);
    EXPECT_EQ(state.hoverScale[7], 1.3f);
    const PointF slider = layout.Slider().Center();
    UpdateControlBarHover(state, slider.x, slider.y, layout, list);
    EXPECT_EQ(state.sliderHoverX, static_cast<int32_t>(slider.x));
    StepControlBarAnimation(state, slider, 1000, layout, list, 96, record.hooks);
    EXPECT_EQ(state.hoverScale[kSliderButton], 1.0f);
    EXPECT_NEAR(state.hoverScale[7], 1.15f, 1e-6f);

    // A press: scale 0.85 back to 1 and flash 1 down to 0, then the press is over.
    ViewState view;
    LayoutState layoutState;
    EXPECT_EQ(PressControlBar(state, zoomIn.x, zoomIn.y, layout, list, view, layoutState, record.hooks),
              BarPress::ButtonPressed);
    EXPECT_EQ(state.pressScale, 0.85f);
    int ticks = 0;
    while (state.pressedButton >= 0 && ticks < 20) {
        StepControlBarAnimation(state, zoomIn, 1000, layout, list, 96, record.hooks);
        ++ticks;
    }
    EXPECT_EQ(ticks, 7);
    EXPECT_EQ(state.pressScale, 1.0f);
    EXPECT_EQ(state.pressFlash, 0.0f);
    EXPECT_EQ(ReleaseControlBar(state, zoomIn.x, zoomIn.y, layout, view, record.hooks),
              BarRelease::ButtonRun);
    EXPECT_NEAR(view.zoom, 1.2f, 1e-6f);

    // Moving up to the middle hides the bar once the cursor is at or above 890; it fades in three ticks.
    UpdateControlBarHover(state, 500, 891, layout, list);
    StepControlBarAnimation(state, {500, 891}, 1000, layout, list, 96, record.hooks);
    EXPECT_TRUE(state.barShown);
    StepControlBarAnimation(state, {500, 890}, 1000, layout, list, 96, record.hooks);
    EXPECT_FALSE(state.barShown);
    record.Clear();
    BarAnimationStep step;
    for (int i = 0; i < 3; ++i) {
        step = StepControlBarAnimation(state, {500, 500}, 1000, layout, list, 96, record.hooks);
    }
    EXPECT_EQ(state.barAlpha, 0.0f);
    EXPECT_TRUE(step.stopTimer);
    EXPECT_EQ(record.calls.back(), "repaint");
    EXPECT_NE(std::find(record.calls.begin(), record.calls.end(), "kill 104"), record.calls.end());
    // A click on the hidden bar does nothing.
    const PointF reset = layout.Slot(12).Center();
    EXPECT_EQ(PressControlBar(state, reset.x, reset.y, layout, list, view, layoutState, record.hooks),
              BarPress::None);
    EXPECT_EQ(ReleaseControlBar(state, reset.x, reset.y, layout, view, record.hooks), BarRelease::None);
    EXPECT_NEAR(view.zoom, 1.2f, 1e-6f);

    // The open list keeps the bar even above the hide line.
    state.barShown = true;
    state.viewListOpen = true;
    const PointF entry = list.entries[0].Center();
    StepControlBarAnimation(state, entry, 1000, layout, list, 96, record.hooks);
    EXPECT_TRUE(state.barShown);
    EXPECT_TRUE(ShouldShowControlBar(state, entry.x, entry.y, 1000, layout, list, 96));
}

TEST(ControlBarInput, ViewListPinAndButtons) {
    RecordingHooks record;
    const ControlBarLayout layout = ComputeControlBarLayout(1000, 1000, BarLayoutKind::Normal, 96);
    const ViewListGeometry list = ComputeViewListGeometry(layout, 96);
    ControlBarState state;
    state.barShown = true;
    ViewState view;
    LayoutState layoutState;
    const PointF eye = layout.Slot(kEyeButton).Center();

    PressControlBar(state, eye.x, eye.y, layout, list, view, layoutState, record.hooks);
    ReleaseControlBar(state, eye.x, eye.y, layout, view, record.hooks);
    EXPECT_TRUE(state.viewListOpen);
    // A press on the eye button does not close the list; its release does.
    PressControlBar(state, eye.x, eye.y, layout, list, view, layoutState, record.hooks);
    EXPECT_TRUE(state.viewListOpen);
    ReleaseControlBar(state, eye.x, eye.y, layout, view, record.hooks);
    EXPECT_FALSE(state.viewListOpen);

    RunBarButton(kEyeButton, state, view, record.hooks);
    const PointF dual = list.entries[7].Center();
    record.Clear();
    EXPECT_EQ(PressControlBar(state, dual.x, dual.y, layout, list, view, layoutState, record.hooks),
              BarPress::ViewModeChosen);
    EXPECT_TRUE(layoutState.dualView);
    EXPECT_FALSE(state.viewListOpen);
    EXPECT_EQ(record.messages.back().first, "2장 보기");

    RunBarButton(kEyeButton, state, view, record.hooks);
    EXPECT_EQ(PressControlBar(state, 10, 10, layout, list, view, layoutState, record.hooks), BarPress::None);
    EXPECT_FALSE(state.viewListOpen); // a press elsewhere closes it

    const PointF slider = layout.Slider().Center();
    EXPECT_EQ(PressControlBar(state, slider.x, slider.y, layout, list, view, layoutState, record.hooks),
              BarPress::SliderScrubStarted);
    EXPECT_TRUE(state.IsScrubbing);
    record.Clear();
    EXPECT_EQ(ReleaseControlBar(state, 0, 0, layout, view, record.hooks), BarRelease::ScrubEnded);
    EXPECT_EQ(record.calls, (std::vector<std::string>{"load", "prefetch"}));

    record.Clear();
    RunBarButton(kPinButton, state, view, record.hooks);
    EXPECT_TRUE(state.barPinned);
    EXPECT_EQ(record.LastMessage(), "컨트롤바 고정");
    RunBarButton(kPinButton, state, view, record.hooks);
    EXPECT_EQ(record.LastMessage(), "컨트롤바 고정 해제");
    EXPECT_NE(std::find(record.calls.begin(), record.calls.end(), "start 104 16"), record.calls.end());

    record.Clear();
    for (int32_t button : {0, 2, 3, 8, 8, 11, 10, 5, 12, 6}) {
        RunBarButton(button, state, view, record.hooks);
    }
    EXPECT_EQ(record.calls[0], "open dialog");
    EXPECT_EQ(record.calls[1], "previous");
    EXPECT_EQ(record.calls[2], "next");
    EXPECT_EQ(view.rotation, 0.0f); // reset by button 12
    EXPECT_FALSE(view.flipHorizontal || view.flipVertical);
    EXPECT_EQ(view.zoom, 1.0f);
    EXPECT_NEAR(ControlBarIconRect(layout.Slot(0), 1.3f, 0.85f).Width(), 0.6f * 42 * 1.3f * 0.85f, 1e-4f);
}
