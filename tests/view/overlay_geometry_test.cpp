#include <gtest/gtest.h>

#include "tests/view/recording_hooks.h"
#include "view/overlay_geometry.h"

using namespace view;

TEST(MessageBox, GeometryAndStacking) {
    const auto timed = ComputeMessageBox(1000, 700, 100, 20, MessageSlot::Timed, 96);
    ASSERT_TRUE(timed);
    EXPECT_EQ(timed->box.right, 980.0f);
    EXPECT_EQ(timed->box.left, 980.0f - 124.0f);
    EXPECT_EQ(timed->box.top, 20.0f);
    EXPECT_EQ(timed->box.bottom, 64.0f);
    EXPECT_EQ(timed->text.left, timed->box.left + 12);
    EXPECT_EQ(timed->text.bottom, 52.0f);
    EXPECT_EQ(timed->radius, 6.0f);
    EXPECT_EQ(ComputeMessageBox(1000, 700, 100, 20, MessageSlot::FirstNotice, 96)->box.top, 70.0f);
    EXPECT_EQ(ComputeMessageBox(1000, 700, 100, 20, MessageSlot::LastNotice, 96)->box.top, 120.0f);
    const auto scaled = ComputeMessageBox(1000, 700, 100, 20, MessageSlot::LastNotice, 144);
    EXPECT_EQ(scaled->box.top, 180.0f);
    EXPECT_EQ(scaled->box.right, 970.0f);
    EXPECT_EQ(scaled->box.Width(), 136.0f);
    EXPECT_FALSE(ComputeMessageBox(0, 700, 100, 20, MessageSlot::Timed, 96));
    EXPECT_FALSE(ComputeMessageBox(1000, 0, 100, 20, MessageSlot::Timed, 96));
}

TEST(MessageBox, FadesOverTheLastQuarterAtMost500Ms) {
    EXPECT_EQ(MessageFadeLength(800), 200u);
    EXPECT_EQ(MessageFadeLength(1000), 250u);
    EXPECT_EQ(MessageFadeLength(2000), 500u);
    EXPECT_EQ(MessageFadeLength(10000), 500u);
    EXPECT_EQ(MessageFadeLength(100), 25u);

    RecordingHooks record;
    MessageState state;
    EXPECT_FALSE(StepMessage(state, 0, record.hooks));

    ShowMessage(state, "first", 2000, 1000, record.hooks);
    ShowMessage(state, "100%", 800, 1050, record.hooks); // replaces the first and restarts the time
    EXPECT_EQ(state.messageText, "100%");
    EXPECT_EQ(record.calls.front(), "start 100 50");
    EXPECT_EQ(*StepMessage(state, 1050 + 600, record.hooks), 1.0f);
    EXPECT_NEAR(*StepMessage(state, 1050 + 700, record.hooks), 0.5f, 1e-6f);
    EXPECT_EQ(*StepMessage(state, 1050 + 800, record.hooks), 0.0f);
    record.Clear();
    EXPECT_FALSE(StepMessage(state, 1050 + 801, record.hooks));
    EXPECT_TRUE(state.messageText.empty());
    EXPECT_EQ(record.calls, std::vector<std::string>{"kill 100"});

    ShowZoomMessage(state, 1.2f * 1.2f, 0, record.hooks);
    EXPECT_EQ(state.messageText, "144%");
    EXPECT_EQ(state.messageDuration, 800u);

    ShowMessage(state, "mode", 1000, 0, record.hooks);
    EXPECT_EQ(*StepMessage(state, 750, record.hooks), 1.0f);
    EXPECT_NEAR(*StepMessage(state, 875, record.hooks), 0.5f, 1e-6f);

    ShowMessage(state, "error", 2000, 0, record.hooks);
    EXPECT_EQ(*StepMessage(state, 1500, record.hooks), 1.0f);
    EXPECT_NEAR(*StepMessage(state, 1750, record.hooks), 0.5f, 1e-6f);

    ShowMessage(state, "short", 100, 0xFFFFFFF0u, record.hooks); // across a wrapped tick count
    EXPECT_EQ(*StepMessage(state, 0xFFFFFFF0u + 75, record.hooks), 1.0f);
    EXPECT_NEAR(*StepMessage(state, 79u, record.hooks), 0.2f, 1e-6f); // elapsed 95, past the wrap
    EXPECT_FALSE(StepMessage(state, 0xFFFFFFF0u + 101, record.hooks));

    ShowMessage(state, "instant", 2, 0, record.hooks); // fade length 0
    EXPECT_EQ(*StepMessage(state, 2, record.hooks), 1.0f);
    EXPECT_FALSE(StepMessage(state, 3, record.hooks));
}

TEST(EdgeNotices, FirstAndLastImageOfAList) {
    RecordingHooks record;
    EdgeNoticeState state;
    UpdateEdgeNotices(state, 1, 3, record.hooks);
    EXPECT_FALSE(state.firstImageNotice || state.lastImageNotice);
    record.Clear();
    UpdateEdgeNotices(state, 0, 3, record.hooks);
    EXPECT_TRUE(state.firstImageNotice);
    EXPECT_EQ(record.calls, (std::vector<std::string>{"start 110 2000", "kill 111", "repaint"}));
    record.Clear();
    UpdateEdgeNotices(state, 0, 3, record.hooks); // already shown: the timer is not restarted
    EXPECT_EQ(record.calls.front(), "kill 111");
    UpdateEdgeNotices(state, 1, 3, record.hooks); // moving away hides it at once
    EXPECT_FALSE(state.firstImageNotice);
    UpdateEdgeNotices(state, 2, 3, record.hooks);
    EXPECT_TRUE(state.lastImageNotice);
    record.Clear();
    EndEdgeNotice(state, ViewTimer::LastNotice, record.hooks);
    EXPECT_FALSE(state.lastImageNotice);
    EXPECT_EQ(record.calls, (std::vector<std::string>{"kill 111", "repaint"}));

    UpdateEdgeNotices(state, 0, 1, record.hooks); // a single image shows neither
    EXPECT_FALSE(state.firstImageNotice || state.lastImageNotice);
    UpdateEdgeNotices(state, 0, 0, record.hooks);
    EXPECT_FALSE(state.firstImageNotice || state.lastImageNotice);
    EXPECT_STREQ(kFirstImageNoticeText, "첫번째 이미지입니다");
    EXPECT_STREQ(kLastImageNoticeText, "마지막 이미지입니다");
}

TEST(Welcome, TextCentredBelowTitleButtonCentredInWindow) {
    const PointF plain = WelcomeTextOrigin(1000, 700, 200, 40, 0);
    EXPECT_EQ(plain.x, 400.0f);
    EXPECT_EQ(plain.y, 330.0f);
    const PointF pinned = WelcomeTextOrigin(1000, 700, 200, 40, 58);
    EXPECT_EQ(pinned.y, (700 - 58 - 40) / 2.0f + 58);

    // The clickable area ignores the title offset and reaches 30 units beyond the measured text.
    EXPECT_TRUE(WelcomeHitTest(370, 300, 1000, 700, 200, 40, std::nullopt));
    EXPECT_TRUE(WelcomeHitTest(630, 400, 1000, 700, 200, 40, std::nullopt));
    EXPECT_FALSE(WelcomeHitTest(369, 350, 1000, 700, 200, 40, std::nullopt));
    EXPECT_FALSE(WelcomeHitTest(500, 401, 1000, 700, 200, 40, std::nullopt));
    const RectF list{450, 200, 650, 360};
    EXPECT_FALSE(WelcomeHitTest(500, 350, 1000, 700, 200, 40, list));
    EXPECT_TRUE(WelcomeHitTest(400, 350, 1000, 700, 200, 40, list));
    EXPECT_FALSE(WelcomeHitTest(0, 0, 0, 0, 0, 0, std::nullopt));

    float phase = 6.3f;
    phase = AdvanceWelcomePhase(phase);
    EXPECT_NEAR(phase, 6.35f - 6.28318f, 1e-5f);
    EXPECT_NEAR(AdvanceWelcomePhase(0), 0.05f, 1e-7f);

    const WelcomeFrame frame = ComputeWelcomeFrame(0, {100, 200}, 300, 40, WelcomeHover::Off);
    EXPECT_EQ(frame.glow[0].rect.left, 100 - 12.0f); // widest first
    EXPECT_EQ(frame.glow[3].rect.left, 100 - 3.0f);
    EXPECT_NEAR(frame.glow[0].color.a, (0.15f - 0.09f) * (0.3f * 0.5f + 0.7f), 1e-6f);
    EXPECT_NEAR(frame.textColor.r, 0.925f, 1e-6f);
    const WelcomeFrame warm = ComputeWelcomeFrame(0, {100, 200}, 300, 40, WelcomeHover::On);
    EXPECT_EQ(warm.textColor.r, 1.0f);
    EXPECT_NEAR(warm.textColor.g, 0.85f * 0.95f, 1e-6f);
    for (const WelcomeSparkle& sparkle : frame.sparkles) {
        EXPECT_GE(sparkle.center.x, 100 + 0.1f * 300 - 1e-3f);
        EXPECT_LE(sparkle.center.x, 100 + 0.9f * 300 + 1e-3f);
        EXPECT_GE(sparkle.radius, 0.5f);
        EXPECT_LE(sparkle.alpha, 0.6f);
    }
}
