#include "view/control_bar_geometry.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace view {

namespace {

constexpr float kSlot = 42;
constexpr float kPadding = 16;
constexpr float kSliderWidth = 180;
constexpr float kBarHeight = 52;
constexpr float kBottomGap = 32;
constexpr float kHideLine = 110;
constexpr float kFadeOutStep = 0.35f;
constexpr float kFadeInStep = 0.65f;
constexpr float kHoverScaleStep = 0.15f;
constexpr float kHoverScaleTarget = 1.3f;
constexpr float kPressScaleStep = 0.08f;
constexpr float kPressFlashStep = 0.15f;

// Moves value by step toward target and lands exactly on it (with slack for float rounding).
float StepToward(float value, float target, float step) {
    const float distance = target - value;
    if (std::fabs(distance) <= step + 1e-5f) {
        return target;
    }
    return distance > 0 ? value + step : value - step;
}

// Keeps a box of the given width at least `inset` inside [0, renderWidth]; the left edge wins when the
// box is wider than the room.
float KeepInside(float left, float width, float renderWidth, float inset) {
    left = std::min(left, renderWidth - inset - width);
    return std::max(left, inset);
}

} // namespace

ControlBarLayout ComputeControlBarLayout(float renderWidth, float renderHeight, BarLayoutKind kind,
                                         unsigned windowDpi) {
    const float b = Dip(kSlot, windowDpi);
    const float p = Dip(kPadding, windowDpi);
    const float s = Dip(kSliderWidth, windowDpi);
    const float height = Dip(kBarHeight, windowDpi);
    const float buttons = kind == BarLayoutKind::Normal ? 12.0f : 4.0f;

    ControlBarLayout layout;
    layout.slotSize = b;
    layout.barRadius = Dip(29, windowDpi);
    const float width = buttons * b + s + b + 5 * p;
    layout.bar.left = (renderWidth - width) / 2;
    layout.bar.right = layout.bar.left + width;
    layout.bar.top = renderHeight - height - Dip(kBottomGap, windowDpi);
    layout.bar.bottom = layout.bar.top + height;
    layout.slotsTop = layout.bar.top + (height - b) / 2;

    const float x0 = layout.bar.left + p;
    auto place = [&](int32_t index, float left, float width) {
        layout.slots[static_cast<size_t>(index)] =
            RectF{left, layout.slotsTop, left + width, layout.slotsTop + b};
    };
    for (int32_t i = 0; i < 4; ++i) {
        place(i, x0 + static_cast<float>(i) * b, b);
    }
    place(kSliderButton, x0 + 4 * b, s);
    if (kind == BarLayoutKind::Normal) {
        for (int32_t i = 5; i <= 12; ++i) {
            place(i, x0 + 4 * b + s + static_cast<float>(i - 5) * b, b);
        }
        place(kPinButton, x0 + 4 * b + s + 8 * b + p, b);
    } else {
        place(kPinButton, x0 + 4 * b + s + p, b);
    }
    return layout;
}

int32_t ControlBarHitTest(const ControlBarLayout& layout, bool barShown, bool barPinned, float x, float y) {
    if (!(barShown || barPinned) || !layout.bar.Contains(x, y)) {
        return -1;
    }
    for (int32_t i = 0; i < kBarButtonCount; ++i) {
        if (layout.IsShown(i) && layout.Slot(i).Contains(x, y)) {
            return i;
        }
    }
    return -1;
}

ViewListGeometry ComputeViewListGeometry(const ControlBarLayout& layout, unsigned windowDpi) {
    const float width = Dip(180, windowDpi);
    const float entry = Dip(42, windowDpi);
    const float inset = Dip(8, windowDpi);
    const float height = kViewListEntryCount * entry + Dip(16, windowDpi);
    const float centre = layout.Slot(kEyeButton).Center().x;

    ViewListGeometry geometry;
    geometry.radius = Dip(12, windowDpi);
    geometry.entryRadius = Dip(6, windowDpi);
    geometry.labelInset = Dip(12, windowDpi);
    geometry.list.bottom = layout.slotsTop - inset;
    geometry.list.top = geometry.list.bottom - height;
    geometry.list.left = centre - width / 2;
    geometry.list.right = centre + width / 2;
    for (size_t k = 0; k < geometry.entries.size(); ++k) {
        const float top = geometry.list.top + inset + entry * static_cast<float>(k);
        geometry.entries[k] = {geometry.list.left + inset, top, geometry.list.right - inset, top + entry};
    }
    return geometry;
}

int32_t ViewListHitTest(bool viewListOpen, const ViewListGeometry& geometry, float x, float y) {
    if (!viewListOpen || !geometry.list.Contains(x, y)) {
        return -1;
    }
    for (size_t k = 0; k < geometry.entries.size(); ++k) {
        if (geometry.entries[k].Contains(x, y)) {
            return static_cast<int32_t>(k);
        }
    }
    return -1;
}

const char* ViewListEntryText(int32_t entry) {
    static constexpr const char* kEntries[kViewListEntryCount] = {
        "1장씩 (작은건 원본)",     "1장씩 (작은건 크게)",
        "1장씩 (원본 크기)",       "이어보기(웹툰) 폭 100%",
        "이어보기(웹툰) 폭 640px", "이어보기(웹툰) 폭 760px",
        "이어보기(웹툰) 폭 800px", "2장씩 보기"};
    return entry >= 0 && entry < kViewListEntryCount ? kEntries[entry] : "";
}

int32_t CurrentViewListEntry(const LayoutState& layout, FitMode fitMode) {
    if (layout.dualView) {
        return 7;
    }
    if (layout.webtoonMode) {
        switch (layout.webtoonWidth) {
        case 0:
            return 3;
        case 640:
            return 4;
        case 800:
            return 6;
        default:
            return 5;
        }
    }
    switch (fitMode) {
    case FitMode::ActualSize:
        return 2;
    case FitMode::FitAlways:
        return 1;
    default:
        return 0;
    }
}

const char* ControlBarIconFile(int32_t index, PinState pin) {
    static constexpr const char* kIcons[kBarButtonCount] = {"folder_open.svg",
                                                            "eye.svg",
                                                            "chevron_left.svg",
                                                            "chevron_right.svg",
                                                            nullptr,
                                                            "zoom_out.svg",
                                                            "zoom_fit.svg",
                                                            "zoom_in.svg",
                                                            "arrow_rotate_counterclockwise.svg",
                                                            "arrow_rotate_clockwise.svg",
                                                            "flip_vertical.svg",
                                                            "flip_horizontal.svg",
                                                            "arrow_reset.svg",
                                                            "pin.svg"};
    if (index < 0 || index >= kBarButtonCount) {
        return nullptr;
    }
    if (index == kPinButton && pin == PinState::Pinned) {
        return "pin_off.svg";
    }
    return kIcons[index];
}

const char* ControlBarTooltip(int32_t index, PinState pin) {
    static constexpr const char* kTips[kBarButtonCount] = {
        "파일 열기 (O)", nullptr,          "이전 이미지 (←)", "다음 이미지 (→)", nullptr,
        "축소 (-)",      "줌 리셋 (Home)", "확대 (+)",        "왼쪽 회전 (E)",   "오른쪽 회전 (R)",
        "상하 반전 (V)", "좌우 반전 (H)",  "보정 초기화 (Z)", "컨트롤바 고정"};
    if (index < 0 || index >= kBarButtonCount) {
        return nullptr;
    }
    if (index == kPinButton && pin == PinState::Pinned) {
        return "고정 해제";
    }
    return kTips[index];
}

float ControlBarIconSize(unsigned windowDpi) {
    return Dip(kSlot, windowDpi) * 0.6f;
}

RectF ControlBarIconRect(const RectF& slot, float hoverScale, float pressScale) {
    const float size = 0.6f * slot.Width() * hoverScale * pressScale;
    const PointF centre = slot.Center();
    return {centre.x - size / 2, centre.y - size / 2, centre.x + size / 2, centre.y + size / 2};
}

SliderGeometry ComputeSliderGeometry(const RectF& slider, int32_t currentIndex, int32_t count,
                                     unsigned windowDpi) {
    SliderGeometry geometry;
    const float inset = Dip(8, windowDpi);
    const float half = Dip(2, windowDpi);
    const float middle = slider.Center().y;
    geometry.track = {slider.left + inset, middle - half, slider.right - inset, middle + half};
    geometry.trackRadius = Dip(2, windowDpi);
    geometry.knobRadius = Dip(8, windowDpi);
    if (count <= 0) {
        return geometry;
    }
    float fraction = count == 1 ? 0.5f : static_cast<float>(currentIndex) / static_cast<float>(count - 1);
    fraction = std::clamp(fraction, 0.0f, 1.0f);
    const float end = geometry.track.left + fraction * geometry.track.Width();
    geometry.fill = RectF{geometry.track.left, geometry.track.top, end, geometry.track.bottom};
    geometry.knob = PointF{end, middle};
    return geometry;
}

float SliderFraction(float x, const RectF& slider, unsigned windowDpi) {
    const float length = slider.Width() - Dip(16, windowDpi);
    if (!(length > 0)) {
        return 0;
    }
    return std::clamp((x - (slider.left + Dip(8, windowDpi))) / length, 0.0f, 1.0f);
}

int32_t SliderIndex(float fraction, int32_t count) {
    if (count <= 0) {
        return -1;
    }
    const double position = static_cast<double>(count - 1) * std::clamp(fraction, 0.0f, 1.0f) + 0.5;
    return std::clamp(static_cast<int32_t>(position), 0, count - 1);
}

std::string FormatSliderPreviewLabel(int32_t index, int32_t count) {
    char text[64];
    std::snprintf(text, sizeof text, "%d / %zu", index + 1, static_cast<size_t>(std::max(count, 0)));
    return text;
}

BarLabelGeometry ComputeSliderPreviewBox(float cursorX, const ControlBarLayout& layout, float textWidth,
                                         float textHeight, float renderWidth, unsigned windowDpi) {
    const float pad = Dip(6, windowDpi);
    const float width = textWidth + 2 * pad;
    const float height = textHeight + 2 * pad;
    BarLabelGeometry label;
    label.radius = Dip(4, windowDpi);
    label.box.left = KeepInside(cursorX - width / 2, width, renderWidth, Dip(5, windowDpi));
    label.box.right = label.box.left + width;
    label.box.bottom = layout.slotsTop - Dip(8, windowDpi);
    label.box.top = label.box.bottom - height;
    label.textOrigin = {label.box.left + pad, label.box.top + pad};
    return label;
}

BarLabelGeometry ComputeBarTooltipBox(const RectF& slot, float textWidth, float textHeight, float renderWidth,
                                      unsigned windowDpi) {
    const float pad = Dip(8, windowDpi);
    const float width = textWidth + 2 * pad;
    const float height = textHeight + 2 * pad;
    BarLabelGeometry tip;
    tip.radius = Dip(4, windowDpi);
    tip.box.left = KeepInside(slot.Center().x - width / 2, width, renderWidth, Dip(5, windowDpi));
    tip.box.right = tip.box.left + width;
    tip.box.bottom = slot.top - Dip(8, windowDpi);
    tip.box.top = tip.box.bottom - height;
    tip.textOrigin = {tip.box.left + pad, tip.box.top + pad};
    return tip;
}

bool ShouldShowControlBar(const ControlBarState& state, float x, float y, float renderHeight,
                          const ControlBarLayout& layout, const ViewListGeometry& viewList,
                          unsigned windowDpi) {
    return y > renderHeight - Dip(kHideLine, windowDpi) || layout.bar.Contains(x, y) ||
           (state.viewListOpen && viewList.list.Contains(x, y)) || state.barPinned;
}

void ShowControlBar(ControlBarState& state, const ViewHooks& hooks) {
    if (!state.barShown) {
        state.barShown = true;
        hooks.StartTimer(ViewTimer::Animation, 16);
    }
}

bool UpdateControlBarHover(ControlBarState& state, float x, float y, const ControlBarLayout& layout,
                           const ViewListGeometry& viewList) {
    const int32_t hovered = ControlBarHitTest(layout, state.barShown, state.barPinned, x, y);
    const int32_t entry = ViewListHitTest(state.viewListOpen, viewList, x, y);
    const int32_t sliderX = hovered == kSliderButton ? static_cast<int32_t>(x) : -1;
    const bool changed =
        hovered != state.hoveredButton || entry != state.viewListHover || sliderX != state.sliderHoverX;
    state.hoveredButton = hovered;
    state.viewListHover = entry;
    state.sliderHoverX = sliderX;
    return changed;
}

BarAnimationStep StepControlBarAnimation(ControlBarState& state, PointF cursor, float renderHeight,
                                         const ControlBarLayout& layout, const ViewListGeometry& viewList,
                                         unsigned windowDpi, const ViewHooks& hooks) {
    BarAnimationStep step;
    if (!state.barShown && !state.barPinned) {
        const float alpha = std::max(0.0f, state.barAlpha - kFadeOutStep);
        step.changed |= alpha != state.barAlpha;
        state.barAlpha = alpha;
        if (state.barAlpha <= 0) {
            step.stopTimer = true;
            step.changed |= state.hoveredButton != -1;
            state.hoveredButton = -1;
            hooks.KillTimer(ViewTimer::Animation);
        }
    } else {
        const float alpha = std::min(1.0f, state.barAlpha + kFadeInStep);
        step.changed |= alpha != state.barAlpha;
        state.barAlpha = alpha;
        if (state.barShown && !state.barPinned) {
            const bool overBar = layout.bar.Contains(cursor.x, cursor.y);
            const bool overList = state.viewListOpen && viewList.list.Contains(cursor.x, cursor.y);
            if (!overBar && !overList && cursor.y <= renderHeight - Dip(kHideLine, windowDpi)) {
                state.barShown = false;
            }
        }
    }

    for (int32_t i = 0; i < kBarButtonCount; ++i) {
        float& scale = state.hoverScale[static_cast<size_t>(i)];
        const float target = i == state.hoveredButton && i != kSliderButton ? kHoverScaleTarget : 1.0f;
        const float next = StepToward(scale, target, kHoverScaleStep);
        step.changed |= next != scale;
        scale = next;
    }

    if (state.pressedButton >= 0) {
        state.pressScale = std::min(1.0f, state.pressScale + kPressScaleStep);
        state.pressFlash = std::max(0.0f, state.pressFlash - kPressFlashStep);
        if (state.pressScale >= 1.0f && state.pressFlash <= 0) {
            state.pressedButton = -1;
        }
        step.changed = true;
    }
    if (step.changed) {
        hooks.Repaint();
    }
    return step;
}

void ToggleBarPin(ControlBarState& state, const ViewHooks& hooks) {
    state.barPinned = !state.barPinned;
    hooks.ShowMessage(state.barPinned ? "컨트롤바 고정" : "컨트롤바 고정 해제", 1000);
    if (!state.barPinned) {
        hooks.StartTimer(ViewTimer::Animation, 16);
    }
    hooks.Repaint();
}

BarPress PressControlBar(ControlBarState& state, float x, float y, const ControlBarLayout& layout,
                         const ViewListGeometry& viewList, ViewState& view, LayoutState& layoutState,
                         const ViewHooks& hooks) {
    const int32_t hit = ControlBarHitTest(layout, state.barShown, state.barPinned, x, y);
    if (state.viewListOpen) {
        const int32_t entry = ViewListHitTest(true, viewList, x, y);
        if (entry >= 0) {
            SetViewMode(entry, view, layoutState, hooks);
            state.viewListOpen = false;
            state.viewListHover = -1;
            hooks.Repaint();
            return BarPress::ViewModeChosen;
        }
        // The eye button's own release toggles the list; closing it here would reopen it.
        if (hit != kEyeButton) {
            state.viewListOpen = false;
            state.viewListHover = -1;
            hooks.Repaint();
        }
    }
    if (hit == kSliderButton) {
        state.IsScrubbing = true;
        return BarPress::SliderScrubStarted;
    }
    if (hit >= 0) {
        state.pressScale = 0.85f;
        state.pressFlash = 1.0f;
        state.pressedButton = hit;
        hooks.Repaint();
        return BarPress::ButtonPressed;
    }
    return BarPress::None;
}

BarRelease ReleaseControlBar(ControlBarState& state, float x, float y, const ControlBarLayout& layout,
                             ViewState& view, const ViewHooks& hooks) {
    if (state.IsScrubbing) {
        state.IsScrubbing = false;
        hooks.RequestLoad();
        hooks.WakePrefetch();
        return BarRelease::ScrubEnded;
    }
    const int32_t hit = ControlBarHitTest(layout, state.barShown, state.barPinned, x, y);
    if (hit >= 0 && hit != kSliderButton) {
        RunBarButton(hit, state, view, hooks);
        return BarRelease::ButtonRun;
    }
    return BarRelease::None;
}

void RunBarButton(int32_t index, ControlBarState& state, ViewState& view, const ViewHooks& hooks) {
    switch (index) {
    case 0:
        hooks.ShowOpenFileDialog();
        break;
    case 1:
        state.viewListOpen = !state.viewListOpen;
        state.viewListHover = -1;
        hooks.Repaint();
        break;
    case 2:
        hooks.GoToPreviousImage();
        break;
    case 3:
        hooks.GoToNextImage();
        break;
    case 5:
        ZoomOut(view, hooks);
        break;
    case 6:
        ZoomReset(view, hooks);
        break;
    case 7:
        ZoomIn(view, hooks);
        break;
    case 8:
        RotateBy(view, -90, hooks);
        break;
    case 9:
        RotateBy(view, 90, hooks);
        break;
    case 10:
        ToggleFlipVertical(view, hooks);
        break;
    case 11:
        ToggleFlipHorizontal(view, hooks);
        break;
    case 12:
        ResetView(view, hooks);
        break;
    case kPinButton:
        ToggleBarPin(state, hooks);
        break;
    default:
        break;
    }
}

int32_t SeekFromSlider(float x, const RectF& slider, unsigned windowDpi, int32_t count, int32_t currentIndex,
                       ViewState& view, const ViewHooks& hooks) {
    const int32_t index = SliderIndex(SliderFraction(x, slider, windowDpi), count);
    if (index < 0 || index == currentIndex) {
        return index;
    }
    hooks.StopAnimation();
    hooks.PublishCurrentIndex(index);
    ResetForNewImage(view);
    hooks.RequestLoad();
    hooks.WakePrefetch();
    hooks.Repaint();
    return index;
}

int32_t SeekStripFromSlider(float x, const RectF& slider, unsigned windowDpi, int32_t count,
                            StripLayout& strip, float viewHeight, const ViewHooks& hooks) {
    const int32_t index = SliderIndex(SliderFraction(x, slider, windowDpi), count);
    if (index < 0) {
        return index;
    }
    strip.SeekToPage(index, viewHeight);
    hooks.PublishCurrentIndex(index);
    hooks.UpdateWindowTitle();
    hooks.Repaint();
    return index;
}

} // namespace view
