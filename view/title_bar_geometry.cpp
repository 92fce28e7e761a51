#include "view/title_bar_geometry.h"

#include <algorithm>
#include <cmath>

#include "view/view_state.h"

namespace view {

RectF TitleButtonRect(int32_t button, float renderWidth) {
    const float i = static_cast<float>(button);
    return {renderWidth - (7 - i) * kTitleBarButtonWidth, 0, renderWidth - (6 - i) * kTitleBarButtonWidth,
            kTitleBarHeight};
}

int32_t TitleButtonHitTest(const TitleBarState& state, float x, float y, float renderWidth) {
    if (!state.Showing() || y < 0 || y >= kTitleBarHeight) {
        return 0;
    }
    for (int32_t button = 1; button <= 6; ++button) {
        const RectF rect = TitleButtonRect(button, renderWidth);
        if (x >= rect.left && x < rect.right) {
            return button;
        }
    }
    return 0;
}

bool LogoHitTest(const TitleBarState& state, float x, float y, unsigned windowDpi) {
    return state.Showing() && y >= 0 && y < kTitleBarHeight && x >= Dip(12, windowDpi) &&
           x < Dip(34, windowDpi);
}

bool CaptionHitTest(const TitleBarState& state, float x, float y, float renderWidth) {
    return state.Showing() && y >= 0 && y <= kTitleBarHeight && x < renderWidth - kTitleBarButtonsWidth;
}

void UpdateTitleHover(TitleBarState& state, float y) {
    if (y < kTitleHoverLine) {
        state.titleHover = true;
    } else if (!state.PinnedInWindow()) {
        state.titleHover = false;
    }
}

bool StepTitleFade(TitleBarState& state) {
    const float target = state.titleHover || state.PinnedInWindow() ? 1.0f : 0.0f;
    if (state.titleAlpha == target) {
        return false;
    }
    const float distance = target - state.titleAlpha;
    if (std::fabs(distance) <= 0.15f + 1e-5f) {
        state.titleAlpha = target;
    } else {
        state.titleAlpha += distance > 0 ? 0.15f : -0.15f;
    }
    return true;
}

bool SetTitleHotButton(TitleBarState& state, int32_t button, uint32_t now) {
    if (button == state.titleHotButton) {
        return false;
    }
    state.titleHotButton = button;
    state.titleTipButton = 0;
    state.titleHotSince = now;
    return true;
}

bool StepTitleTooltip(TitleBarState& state, uint32_t now) {
    if (!TitleTooltipPending(state) || now - state.titleHotSince < kTitleTooltipDelayMs) {
        return false;
    }
    state.titleTipButton = state.titleHotButton;
    return true;
}

bool TitleTooltipPending(const TitleBarState& state) {
    return state.titleHotButton != 0 && state.titleTipButton != state.titleHotButton;
}

std::optional<RectF> TitleTextRect(float renderWidth, unsigned windowDpi) {
    const RectF rect{Dip(12 + 22 + 8, windowDpi), 0, renderWidth - kTitleBarButtonsWidth - Dip(10, windowDpi),
                     kTitleBarHeight};
    if (rect.Width() <= Dip(100, windowDpi)) {
        return std::nullopt;
    }
    return rect;
}

RectF TitleLogoRect(bool logoHover, unsigned windowDpi) {
    float size = Dip(22, windowDpi);
    const float centreX = Dip(12, windowDpi) + size / 2;
    const float centreY = kTitleBarHeight / 2;
    if (logoHover) {
        size *= 1.1f;
    }
    return {centreX - size / 2, centreY - size / 2, centreX + size / 2, centreY + size / 2};
}

float TitleIconSize(unsigned windowDpi) {
    return Dip(20, windowDpi);
}

float TitleLogoBitmapSize(unsigned windowDpi) {
    return Dip(28, windowDpi);
}

RectF TitleIconRect(int32_t button, float renderWidth, unsigned windowDpi) {
    const PointF centre = TitleButtonRect(button, renderWidth).Center();
    const float half = TitleIconSize(windowDpi) / 2;
    return {centre.x - half, centre.y - half, centre.x + half, centre.y + half};
}

TitleTooltipGeometry ComputeTitleTooltip(int32_t button, float textWidth, float textHeight,
                                         float renderWidth) {
    const float width = textWidth + 12;
    const float centre = TitleButtonRect(button, renderWidth).Center().x;
    float left = std::max(centre - width / 2, 2.0f);
    // The right edge wins: a tooltip never runs off the side where the buttons are.
    left = std::min(left, renderWidth - 2 - width);
    TitleTooltipGeometry tip;
    tip.box = {left, 66, left + width, 66 + textHeight + 12};
    tip.textOrigin = {left + 6, 72};
    return tip;
}

const char* TitleButtonTooltip(int32_t button, bool titleBarPinned, WindowShowState show) {
    switch (button) {
    case 1:
        return "환경설정";
    case 2:
        return "전체화면";
    case 3:
        return titleBarPinned ? "타이틀 바 고정 해제(단축키:`)" : "타이틀 바 고정(단축키:`)";
    case 4:
        return "최소화";
    case 5:
        return show == WindowShowState::Maximized ? "이전 크기로 복원" : "최대화";
    case 6:
        return "닫기";
    default:
        return nullptr;
    }
}

const char* TitleButtonIconFile(int32_t button, bool fullscreen, bool titleBarPinned) {
    switch (button) {
    case 1:
        return "settings.svg";
    case 2:
        return fullscreen ? "fullscreen_exit.svg" : "fullscreen.svg";
    case 3:
        return titleBarPinned ? "pin_off.svg" : "pin.svg";
    default:
        return nullptr;
    }
}

} // namespace view
