#include <gtest/gtest.h>

#include "view/title_bar_geometry.h"

using namespace view;

TEST(TitleBar, ButtonsLogoAndCaptionHitTests) {
    TitleBarState state;
    EXPECT_EQ(TitleButtonHitTest(state, 990, 10, 1000), 0); // hidden bar
    state.titleHover = true;
    EXPECT_EQ(TitleButtonRect(1, 1000).left, 670.0f);
    EXPECT_EQ(TitleButtonRect(6, 1000).right, 1000.0f);
    EXPECT_EQ(TitleButtonHitTest(state, 670, 0, 1000), 1);
    EXPECT_EQ(TitleButtonHitTest(state, 724.9f, 57.9f, 1000), 1);
    EXPECT_EQ(TitleButtonHitTest(state, 725, 10, 1000), 2);
    EXPECT_EQ(TitleButtonHitTest(state, 999, 10, 1000), kTitleCloseButton);
    EXPECT_EQ(TitleButtonHitTest(state, 990, 58, 1000), 0);
    EXPECT_EQ(TitleButtonHitTest(state, 669, 10, 1000), 0);

    EXPECT_TRUE(LogoHitTest(state, 12, 20, 96));
    EXPECT_FALSE(LogoHitTest(state, 34, 20, 96));
    EXPECT_TRUE(LogoHitTest(state, 50, 20, 192));
    EXPECT_FALSE(LogoHitTest(state, 20, 58, 96));

    EXPECT_TRUE(CaptionHitTest(state, 669, 58, 1000));
    EXPECT_FALSE(CaptionHitTest(state, 670, 10, 1000));
    EXPECT_FALSE(CaptionHitTest(state, 300, 59, 1000));

    // Pinned, the bar answers without hover, but not in full screen.
    state.titleHover = false;
    state.titleBarPinned = true;
    EXPECT_TRUE(CaptionHitTest(state, 100, 10, 1000));
    state.fullscreen = true;
    EXPECT_FALSE(CaptionHitTest(state, 100, 10, 1000));
}

TEST(TitleBar, HoverFadeAndTooltipDelay) {
    TitleBarState state;
    UpdateTitleHover(state, 70);
    EXPECT_TRUE(state.titleHover);
    UpdateTitleHover(state, 71);
    EXPECT_FALSE(state.titleHover);

    UpdateTitleHover(state, 10);
    int frames = 0;
    while (StepTitleFade(state)) {
        ++frames;
    }
    EXPECT_EQ(frames, 7);
    EXPECT_EQ(state.titleAlpha, 1.0f);
    EXPECT_TRUE(state.ShouldDraw());
    UpdateTitleHover(state, 300);
    StepTitleFade(state);
    EXPECT_NEAR(state.titleAlpha, 0.85f, 1e-6f);
    EXPECT_NEAR(state.Opacity(), 0.85f, 1e-6f);

    // Pinned outside full screen the bar stays whatever the pointer does, at full opacity.
    state.titleBarPinned = true;
    state.titleHover = true;
    UpdateTitleHover(state, 500);
    EXPECT_TRUE(state.titleHover);
    EXPECT_EQ(state.Opacity(), 1.0f);
    state.fullscreen = true;
    UpdateTitleHover(state, 500);
    EXPECT_FALSE(state.titleHover);

    TitleBarState tips;
    EXPECT_TRUE(SetTitleHotButton(tips, 3, 1000));
    EXPECT_FALSE(SetTitleHotButton(tips, 3, 1100));
    EXPECT_TRUE(TitleTooltipPending(tips));
    EXPECT_FALSE(StepTitleTooltip(tips, 1199));
    EXPECT_TRUE(StepTitleTooltip(tips, 1200));
    EXPECT_EQ(tips.titleTipButton, 3);
    EXPECT_FALSE(TitleTooltipPending(tips));
    SetTitleHotButton(tips, 4, 1300); // another button restarts the delay
    EXPECT_EQ(tips.titleTipButton, 0);
    EXPECT_FALSE(StepTitleTooltip(tips, 1450));
    SetTitleHotButton(tips, 0, 1460);
    EXPECT_FALSE(StepTitleTooltip(tips, 5000));
    EXPECT_EQ(tips.titleTipButton, 0);
    SetTitleHotButton(tips, 2, 0xFFFFFF00u);
    EXPECT_TRUE(StepTitleTooltip(tips, 0x10u)); // across a wrapped tick count
}

TEST(TitleBar, TextLogoAndTooltipPlacement) {
    ASSERT_TRUE(TitleTextRect(1000, 96));
    EXPECT_EQ(TitleTextRect(1000, 96)->left, 42.0f);
    EXPECT_EQ(TitleTextRect(1000, 96)->right, 660.0f);
    // The title needs more than 100 units: 330 + 42 + 10 + 100 is the narrowest window that still has none.
    EXPECT_FALSE(TitleTextRect(482, 96));
    EXPECT_TRUE(TitleTextRect(483, 96));
    EXPECT_FALSE(TitleTextRect(630, 192));
    EXPECT_TRUE(TitleTextRect(700, 192));

    const RectF logo = TitleLogoRect(false, 96);
    EXPECT_EQ(logo.left, 12.0f);
    EXPECT_EQ(logo.Width(), 22.0f);
    EXPECT_EQ(logo.Center().y, 29.0f);
    const RectF big = TitleLogoRect(true, 96);
    EXPECT_NEAR(big.Width(), 24.2f, 1e-5f);
    EXPECT_EQ(big.Center().x, logo.Center().x);
    EXPECT_EQ(TitleIconRect(6, 1000, 96).Center().x, 972.5f);

    const TitleTooltipGeometry tip = ComputeTitleTooltip(1, 80, 16, 1000);
    EXPECT_EQ(tip.box.Width(), 92.0f);
    EXPECT_EQ(tip.box.Center().x, TitleButtonRect(1, 1000).Center().x);
    EXPECT_EQ(tip.box.top, 66.0f);
    EXPECT_EQ(tip.box.bottom, 94.0f);
    EXPECT_EQ(tip.textOrigin.y, 72.0f);
    EXPECT_EQ(tip.textOrigin.x, tip.box.left + 6);
    // Leftmost button in a narrow window: the tooltip stays 2 units inside the right edge, and the close
    // button's tooltip does too.
    const TitleTooltipGeometry narrow = ComputeTitleTooltip(1, 200, 16, 300);
    EXPECT_EQ(narrow.box.left, 2.0f);
    EXPECT_LE(narrow.box.right, 298.0f);
    EXPECT_EQ(ComputeTitleTooltip(6, 80, 16, 1000).box.right, 998.0f);

    EXPECT_STREQ(TitleButtonTooltip(3, false, WindowShowState::Normal), "타이틀 바 고정(단축키:`)");
    EXPECT_STREQ(TitleButtonTooltip(3, true, WindowShowState::Normal), "타이틀 바 고정 해제(단축키:`)");
    EXPECT_STREQ(TitleButtonTooltip(5, false, WindowShowState::Maximized), "이전 크기로 복원");
    EXPECT_STREQ(TitleButtonTooltip(5, false, WindowShowState::Normal), "최대화");
    EXPECT_EQ(TitleButtonTooltip(0, false, WindowShowState::Normal), nullptr);
    EXPECT_STREQ(TitleButtonIconFile(2, true, false), "fullscreen_exit.svg");
    EXPECT_STREQ(TitleButtonIconFile(3, false, true), "pin_off.svg");
    EXPECT_EQ(TitleButtonIconFile(4, false, false), nullptr);
}
