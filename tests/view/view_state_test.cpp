#include <gtest/gtest.h>

#include <cmath>

#include "tests/view/recording_hooks.h"
#include "view/view_state.h"

using namespace view;

namespace {

void ExpectPoint(PointF actual, float x, float y) {
    EXPECT_NEAR(actual.x, x, 1e-3f);
    EXPECT_NEAR(actual.y, y, 1e-3f);
}

} // namespace

TEST(ViewState, ZoomStepsClampAtBothEnds) {
    RecordingHooks record;
    ViewState state;
    for (int i = 0; i < 18; ++i) {
        ZoomIn(state, record.hooks);
    }
    EXPECT_NEAR(state.zoom, std::pow(1.2, 18), 0.01);
    EXPECT_EQ(record.LastMessage(), "2662%");
    EXPECT_EQ(record.LastMessageMs(), 800u);
    for (int i = 18; i < 26; ++i) {
        ZoomIn(state, record.hooks);
    }
    EXPECT_EQ(state.zoom, 100.0f);
    EXPECT_EQ(record.LastMessage(), "10000%");

    state.zoom = 1.0f;
    for (int i = 0; i < 17; ++i) {
        ZoomOut(state, record.hooks);
    }
    EXPECT_EQ(state.zoom, 0.05f);
    ZoomIn(state, record.hooks);
    EXPECT_NEAR(state.zoom, 0.06f, 1e-6f);
    EXPECT_EQ(record.LastMessage(), "6%");

    state.zoom = 1.0f;
    ZoomWheel(state, ZoomDirection::In, record.hooks);
    EXPECT_NEAR(state.zoom, 1.1f, 1e-6f);
    ZoomWheel(state, ZoomDirection::Out, record.hooks);
    ZoomWheel(state, ZoomDirection::Out, record.hooks);
    EXPECT_NEAR(state.zoom, 1.0f / 1.1f, 1e-6f);
    EXPECT_EQ(record.LastMessage(), "91%");

    state.panX = 40;
    state.panY = -7;
    record.Clear();
    ZoomReset(state, record.hooks);
    EXPECT_EQ(state.zoom, 1.0f);
    EXPECT_EQ(state.panX, 0);
    EXPECT_EQ(state.panY, 0);
    EXPECT_EQ(record.calls, std::vector<std::string>{"repaint"});
}

TEST(ViewState, RotationWrapsOnceAndStaysInRange) {
    RecordingHooks record;
    ViewState state;
    RotateBy(state, -10, record.hooks);
    EXPECT_EQ(state.rotation, 350.0f);
    RotateBy(state, 90, record.hooks);
    EXPECT_EQ(state.rotation, 80.0f);
    RotateBy(state, -90, record.hooks);
    EXPECT_EQ(state.rotation, 350.0f);
    RotateBy(state, 10, record.hooks);
    EXPECT_EQ(state.rotation, 0.0f);
    SetRotation(state, 270, record.hooks);
    EXPECT_EQ(state.rotation, 270.0f);
    EXPECT_TRUE(record.messages.empty());

    EXPECT_EQ(NormalizeAngle(440), 80.0f);
    EXPECT_EQ(NormalizeAngle(-90), 270.0f);
    EXPECT_EQ(NormalizeAngle(720), 0.0f);
    EXPECT_EQ(NormalizeAngle(-1e-6f), 0.0f); // would round to 360 after adding 360
    EXPECT_EQ(NormalizeAngle(INFINITY), 0.0f);
    EXPECT_EQ(NormalizeAngle(NAN), 0.0f);
}

TEST(ViewState, ResetsTogglesAndOrientation) {
    RecordingHooks record;
    ViewState state;
    state.zoom = 3;
    state.panX = 5;
    state.panY = 6;
    state.rotation = 90;
    state.fitMode = FitMode::FitAlways;
    state.autoOrient = true;
    ToggleFlipHorizontal(state, record.hooks);
    ToggleFlipVertical(state, record.hooks);
    ToggleInvertColors(state, record.hooks);
    ToggleGammaBoost(state, record.hooks);
    EXPECT_TRUE(state.flipHorizontal && state.flipVertical && state.invertColors && state.gammaBoost);

    ResetView(state, record.hooks);
    EXPECT_EQ(state.zoom, 1.0f);
    EXPECT_EQ(state.rotation, 0.0f);
    EXPECT_FALSE(state.flipHorizontal || state.flipVertical || state.invertColors || state.gammaBoost);
    EXPECT_EQ(state.panX, 0.0f);
    EXPECT_EQ(state.fitMode, FitMode::FitAlways);
    EXPECT_TRUE(state.autoOrient);
    EXPECT_EQ(record.LastMessage(), "바르게 보기. 회전/반전/줌/패닝/보정 초기화");
    EXPECT_EQ(record.LastMessageMs(), 1000u);
    EXPECT_EQ(record.calls.back(), "repaint");

    ToggleAutoOrient(state, record.hooks);
    EXPECT_EQ(record.LastMessage(), "창크기 긴쪽으로 사진 방향 자동 설정 OFF");
    ToggleAutoOrient(state, record.hooks);
    EXPECT_EQ(record.LastMessage(), "창크기 긴쪽으로 사진 방향 자동 설정 ON");

    state.zoom = 2;
    state.panX = 9;
    state.rotation = 180;
    state.flipVertical = true;
    ResetForNewImage(state);
    EXPECT_EQ(state.zoom, 1.0f);
    EXPECT_EQ(state.panX, 0.0f);
    EXPECT_EQ(state.rotation, 180.0f);
    EXPECT_TRUE(state.flipVertical);

    EXPECT_EQ(OrientationRotationFromExif(3), 180.0f);
    EXPECT_EQ(OrientationRotationFromExif(6), 90.0f);
    EXPECT_EQ(OrientationRotationFromExif(8), 270.0f);
    for (int mirrored : {0, 1, 2, 4, 5, 7, 9, -1}) {
        EXPECT_EQ(OrientationRotationFromExif(mirrored), 0.0f) << mirrored;
    }

    ViewState copy = state;
    copy.isPreview = true;
    EXPECT_FALSE(state.isPreview);
    EXPECT_TRUE(copy.isPreview.Exchange(false));
}

TEST(ViewState, SetViewModeRows) {
    RecordingHooks record;
    ViewState state;
    LayoutState layout;

    SetViewMode(3, state, layout, record.hooks);
    EXPECT_TRUE(layout.webtoonMode);
    EXPECT_EQ(layout.webtoonWidth, 0u);
    EXPECT_EQ(record.calls, (std::vector<std::string>{"batch", "title", "message", "repaint"}));
    EXPECT_EQ(record.LastMessage(), "웹툰 100%");

    record.Clear();
    SetViewMode(5, state, layout, record.hooks);
    EXPECT_EQ(layout.webtoonWidth, 760u);
    EXPECT_EQ(record.calls, (std::vector<std::string>{"width 760", "batch", "title", "message", "repaint"}));
    EXPECT_EQ(record.LastMessage(), "웹툰 760px");
    SetViewMode(4, state, layout, record.hooks);
    EXPECT_EQ(record.LastMessage(), "웹툰 640px");
    SetViewMode(6, state, layout, record.hooks);
    EXPECT_EQ(record.LastMessage(), "웹툰 800px");
    EXPECT_EQ(state.fitMode, FitMode::FitShrinkOnly);

    record.Clear();
    SetViewMode(7, state, layout, record.hooks);
    EXPECT_TRUE(layout.dualView);
    EXPECT_FALSE(layout.webtoonMode);
    EXPECT_EQ(record.calls, (std::vector<std::string>{"prefetch", "message", "repaint", "title"}));
    EXPECT_EQ(record.LastMessage(), "2장 보기");
    record.Clear();
    ToggleDualView(layout, record.hooks);
    EXPECT_FALSE(layout.dualView);
    EXPECT_EQ(record.calls, (std::vector<std::string>{"message", "repaint"}));
    EXPECT_EQ(record.LastMessage(), "1장 보기");

    const std::pair<int, FitMode> fits[] = {
        {0, FitMode::FitShrinkOnly}, {1, FitMode::FitAlways}, {2, FitMode::ActualSize}};
    for (const auto& [mode, fit] : fits) {
        layout = {true, false, 0};
        record.Clear();
        SetViewMode(mode, state, layout, record.hooks);
        EXPECT_EQ(state.fitMode, fit);
        EXPECT_FALSE(layout.dualView || layout.webtoonMode);
        EXPECT_EQ(record.LastMessage(), FitModeText(fit));
        EXPECT_EQ(record.calls, (std::vector<std::string>{"load", "title", "message", "repaint"}));
    }
    EXPECT_STREQ(FitModeText(FitMode::FitShrinkOnly), "꽉차게 (작은건 원본)");
    EXPECT_STREQ(FitModeText(FitMode::ActualSize), "원본 크기");
    EXPECT_STREQ(FitModeText(FitMode::FitAlways), "꽉차게 (작은건 크게)");

    record.Clear();
    SetViewMode(8, state, layout, record.hooks);
    SetViewMode(-1, state, layout, record.hooks);
    EXPECT_EQ(record.calls, (std::vector<std::string>{"repaint", "repaint"}));

    // Unwired hooks are skipped.
    SetViewMode(4, state, layout, ViewHooks{});
    EXPECT_TRUE(layout.webtoonMode);
}

TEST(ImageTransform, OrientationSixInPinnedWindow) {
    ViewState state;
    state.orientationRotation = OrientationRotationFromExif(6);
    const float top = ImageRegionTop(true, FullscreenState::Windowed);
    EXPECT_EQ(top, 58.0f);
    EXPECT_EQ(ImageRegionTop(true, FullscreenState::Fullscreen), 0.0f);
    EXPECT_EQ(ImageRegionTop(false, FullscreenState::Windowed), 0.0f);

    const Matrix3x2 m = ComputeImageTransform(state, 4000, 3000, 800, 658, top);
    ExpectPoint(m.TransformPoint({2000, 1500}), 400, 358);
    // Turned clockwise: the stored top-left corner lands at the top right, scale 0.15.
    ExpectPoint(m.TransformPoint({0, 0}), 625, 58);
    const RectF bounds = m.TransformBounds({0, 0, 4000, 3000});
    EXPECT_NEAR(bounds.Width(), 450, 1e-3);
    EXPECT_NEAR(bounds.Height(), 600, 1e-3);

    // Auto-orientation in a landscape window turns the portrait result once more: 180 in total.
    state.autoOrient = true;
    EXPECT_EQ(EffectiveRotation(state, 4000, 3000, 800, 658), 180.0f);
    const Matrix3x2 turned = ComputeImageTransform(state, 4000, 3000, 800, 658, top);
    EXPECT_NEAR(turned.m11, -0.2f, 1e-6f); // min(600 / 3000, 800 / 4000)
    EXPECT_NEAR(turned.m22, -0.2f, 1e-6f);
    ExpectPoint(turned.TransformPoint({0, 0}), 800, 658);

    // Strict comparisons: a square window counts as portrait, a square image too.
    ViewState square;
    square.autoOrient = true;
    EXPECT_EQ(EffectiveRotation(square, 100, 100, 500, 500), 0.0f);
    EXPECT_EQ(EffectiveRotation(square, 100, 100, 600, 500), 90.0f);
    EXPECT_EQ(EffectiveRotation(square, 200, 100, 500, 500), 90.0f);
    EXPECT_EQ(EffectiveRotation(square, 100, 200, 500, 500), 0.0f);
}

TEST(ImageTransform, OnlyExactRightAnglesSwapTheSize) {
    ViewState state;
    state.rotation = 80; // 350 + 90 wrapped
    state.fitMode = FitMode::FitAlways;
    // Unswapped 400 × 100 in 800 × 600: scale 2; swapped it would be min(600 / 400, 800 / 100) = 1.5.
    const Matrix3x2 m = ComputeImageTransform(state, 400, 100, 800, 600, 0);
    EXPECT_NEAR(std::hypot(m.m11, m.m12), 2.0f, 1e-5f);
    state.rotation = 270;
    const Matrix3x2 right = ComputeImageTransform(state, 400, 100, 800, 600, 0);
    EXPECT_NEAR(std::hypot(right.m11, right.m12), 1.5f, 1e-5f);
    // Right angles are exact: integer corners stay integer.
    ExpectPoint(right.TransformPoint({0, 0}), 325, 600);
    EXPECT_EQ(right.m11, 0.0f);
}

TEST(ImageTransform, FitModesAndPreview) {
    ViewState state;
    auto scaleOf = [&](FitMode mode, bool preview) {
        state.fitMode = mode;
        state.isPreview = preview;
        return ComputeImageTransform(state, 100, 50, 800, 600, 0).m11;
    };
    EXPECT_EQ(scaleOf(FitMode::FitShrinkOnly, false), 1.0f);
    EXPECT_EQ(scaleOf(FitMode::FitAlways, false), 8.0f);
    EXPECT_EQ(scaleOf(FitMode::ActualSize, false), 1.0f);
    EXPECT_EQ(scaleOf(FitMode::FitShrinkOnly, true), 8.0f);
    EXPECT_EQ(scaleOf(FitMode::ActualSize, true), 8.0f);
    EXPECT_EQ(scaleOf(static_cast<FitMode>(7), true), 1.0f);

    // Large images shrink in both fit modes, the zoom multiplies on top, the pan moves the centre.
    state.isPreview = false;
    state.fitMode = FitMode::FitShrinkOnly;
    state.zoom = 2;
    state.panX = 10;
    state.panY = -20;
    const Matrix3x2 m = ComputeImageTransform(state, 1600, 600, 800, 600, 0);
    EXPECT_NEAR(m.m11, 1.0f, 1e-6f);
    ExpectPoint(m.TransformPoint({800, 300}), 410, 280);

    // Degenerate sizes never yield an infinite, negative or zero scale.
    EXPECT_EQ(FitScale(FitMode::FitAlways, false, 0, 50, 800, 600), 1.0f);
    EXPECT_EQ(FitScale(FitMode::FitAlways, false, 100, 50, 800, 0), 1.0f);
    state.zoom = 1;
    const Matrix3x2 tiny = ComputeImageTransform(state, 100, 50, 800, 40, 58);
    EXPECT_TRUE(std::isfinite(tiny.m11) && tiny.m11 > 0);
    EXPECT_EQ(ComputeImageRegion(800, 40, 58).height, 0.0f);
}

TEST(ImageTransform, MirroringActsOnScreenAxesAfterRotation) {
    ViewState state;
    state.fitMode = FitMode::ActualSize;
    state.rotation = 90;
    state.flipHorizontal = true;
    const Matrix3x2 m = ComputeImageTransform(state, 200, 100, 800, 600, 0);
    // Turned, the stored top-left corner is at the top right; mirrored left-right on screen it comes to
    // the top left. Mirroring the stored image first would have put it at the bottom right.
    ExpectPoint(m.TransformPoint({0, 0}), 350, 200);
    ExpectPoint(m.TransformPoint({200, 0}), 350, 400);

    state.flipHorizontal = false;
    state.flipVertical = true;
    ExpectPoint(ComputeImageTransform(state, 200, 100, 800, 600, 0).TransformPoint({0, 0}), 450, 400);
}

TEST(ViewState, CanPanAndDrag) {
    ViewState state;
    state.fitMode = FitMode::ActualSize;
    EXPECT_FALSE(CanPan(state, 802, 100, 800, 600, 0));
    EXPECT_TRUE(CanPan(state, 802.5f, 100, 800, 600, 0));
    EXPECT_FALSE(CanPan(state, 100, 602, 800, 658, 58));
    EXPECT_TRUE(CanPan(state, 100, 602.5f, 800, 658, 58));
    // The test ignores rotation, auto-orientation and the preview flag.
    state.rotation = 90;
    state.autoOrient = true;
    state.isPreview = true;
    EXPECT_TRUE(CanPan(state, 802.5f, 100, 800, 600, 0));
    // Fitted images overflow only through the zoom.
    state.fitMode = FitMode::FitShrinkOnly;
    EXPECT_FALSE(CanPan(state, 4000, 3000, 800, 600, 0));
    state.zoom = 1.2f;
    EXPECT_TRUE(CanPan(state, 4000, 3000, 800, 600, 0));
    state.fitMode = FitMode::FitAlways;
    state.zoom = 1;
    EXPECT_FALSE(CanPan(state, 10, 10, 800, 600, 0));
    EXPECT_FALSE(CanPan(state, 0, 0, 800, 600, 0));
    EXPECT_FALSE(CanPan(state, 4000, 3000, 0, 0, 0));

    RecordingHooks record;
    PanDrag drag;
    PanBy(state, drag, 50, 50, record.hooks);
    EXPECT_EQ(state.panX, 0.0f);
    BeginPan(drag, 100, 100);
    PanBy(state, drag, 130, 90, record.hooks);
    PanBy(state, drag, 5000, 90, record.hooks);
    EXPECT_EQ(state.panX, 4900.0f); // unclamped
    EXPECT_EQ(state.panY, -10.0f);
    EndPan(drag);
    EXPECT_EQ(MoveDrag(drag, 0, 0).x, 0.0f);
    ZoomReset(state, record.hooks);
    EXPECT_EQ(state.panX, 0.0f);
}

TEST(ViewState, SettingsRoundTripAndDamagedValues) {
    platform::Settings settings;
    settings.lastImageFilter = 2;
    settings.interpolationMode = 3;
    settings.dualView = true;
    settings.webtoonWidth = 760;
    ViewState state = ViewStateFromSettings(settings);
    LayoutState layout = LayoutStateFromSettings(settings);
    EXPECT_EQ(state.imageFilter, 2);
    EXPECT_EQ(state.interpolationMode, 3);
    EXPECT_EQ(state.zoom, 1.0f);
    EXPECT_EQ(state.fitMode, FitMode::FitShrinkOnly);
    EXPECT_TRUE(layout.dualView);
    EXPECT_EQ(layout.webtoonWidth, 760u);

    state.imageFilter = 1;
    layout = {false, true, 640};
    StoreViewSettings(state, layout, settings);
    EXPECT_EQ(settings.lastImageFilter, 1);
    EXPECT_FALSE(settings.dualView);
    EXPECT_TRUE(settings.webtoonMode);
    EXPECT_EQ(settings.webtoonWidth, 640);

    // A damaged file: no such filter, a negative width, both layouts on.
    settings.lastImageFilter = 9;
    settings.webtoonWidth = -1;
    settings.dualView = true;
    EXPECT_EQ(ViewStateFromSettings(settings).imageFilter, 0);
    layout = LayoutStateFromSettings(settings);
    EXPECT_EQ(layout.webtoonWidth, 0u);
    EXPECT_TRUE(layout.webtoonMode);
    EXPECT_FALSE(layout.dualView);
}
