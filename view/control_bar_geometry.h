#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "view/geometry.h"
#include "view/strip_layout.h"
#include "view/view_hooks.h"
#include "view/view_state.h"

// The floating control bar at the bottom centre: layout, hit tests, the view-mode list, the page slider,
// the fade and press animation, and what each button does. Lengths scale with dpi/96.
namespace view {

constexpr int32_t kBarButtonCount = 14;
constexpr int32_t kOpenButton = 0;
constexpr int32_t kEyeButton = 1;
constexpr int32_t kSliderButton = 4;
constexpr int32_t kPinButton = 13;
constexpr int32_t kViewListEntryCount = 8;

enum class BarLayoutKind { Normal, Webtoon };

struct ControlBarLayout {
    RectF bar;
    float barRadius = 0;
    float slotSize = 0;
    // The slot of each button, absent for buttons the layout does not show. The slider's slot is its
    // whole rectangle.
    std::array<std::optional<RectF>, kBarButtonCount> slots;
    float slotsTop = 0;

    bool IsShown(int32_t index) const {
        return index >= 0 && index < kBarButtonCount && slots[static_cast<size_t>(index)].has_value();
    }
    const RectF& Slot(int32_t index) const { return *slots[static_cast<size_t>(index)]; }
    const RectF& Slider() const { return Slot(kSliderButton); }
};

ControlBarLayout ComputeControlBarLayout(float renderWidth, float renderHeight, BarLayoutKind kind,
                                         unsigned windowDpi);

// The button under a point, or −1; a bar that is neither shown nor pinned has no buttons.
int32_t ControlBarHitTest(const ControlBarLayout& layout, bool barShown, bool barPinned, float x, float y);

// The view-mode list above the eye button.
struct ViewListGeometry {
    RectF list;
    float radius = 0;
    std::array<RectF, kViewListEntryCount> entries;
    float entryRadius = 0;
    float labelInset = 0; // labels start this far right of the entry's left edge
};

ViewListGeometry ComputeViewListGeometry(const ControlBarLayout& layout, unsigned windowDpi);
int32_t ViewListHitTest(bool viewListOpen, const ViewListGeometry& geometry, float x, float y);
const char* ViewListEntryText(int32_t entry);
// The entry that matches the current layout and fit mode.
int32_t CurrentViewListEntry(const LayoutState& layout, FitMode fitMode);

// Button table texts: the icon file (nullptr for the slider) and the tooltip (nullptr when none).
enum class PinState { Unpinned, Pinned };
const char* ControlBarIconFile(int32_t index, PinState pin);
const char* ControlBarTooltip(int32_t index, PinState pin);

// The icon bitmaps' pixel size, and where an icon is drawn in its slot.
float ControlBarIconSize(unsigned windowDpi);
RectF ControlBarIconRect(const RectF& slot, float hoverScale, float pressScale);

// The page slider: track, filled part and knob for the current index of a list of count items.
struct SliderGeometry {
    RectF track;
    float trackRadius = 0;
    std::optional<RectF> fill; // absent for an empty list
    std::optional<PointF> knob;
    float knobRadius = 0;
};

SliderGeometry ComputeSliderGeometry(const RectF& slider, int32_t currentIndex, int32_t count,
                                     unsigned windowDpi);
// The fraction of a cursor x along the slider, in [0, 1].
float SliderFraction(float x, const RectF& slider, unsigned windowDpi);
// The item a fraction points at; −1 for an empty list.
int32_t SliderIndex(float fraction, int32_t count);
// "%d / %zu" of the previewed index + 1 and the count.
std::string FormatSliderPreviewLabel(int32_t index, int32_t count);

// A label or tooltip box above the bar, placed from its measured text.
struct BarLabelGeometry {
    RectF box;
    PointF textOrigin;
    float radius = 0;
};

// The page preview label while the cursor is over the slider at cursorX.
BarLabelGeometry ComputeSliderPreviewBox(float cursorX, const ControlBarLayout& layout, float textWidth,
                                         float textHeight, float renderWidth, unsigned windowDpi);
BarLabelGeometry ComputeBarTooltipBox(const RectF& slot, float textWidth, float textHeight, float renderWidth,
                                      unsigned windowDpi);

// Control bar state, on the window thread.
struct ControlBarState {
    bool barShown = false;
    bool barPinned = false;
    float barAlpha = 0;
    int32_t hoveredButton = -1;
    int32_t pressedButton = -1;
    float pressScale = 1.0f;
    float pressFlash = 0;
    std::array<float, kBarButtonCount> hoverScale{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    bool viewListOpen = false;
    int32_t viewListHover = -1;
    int32_t sliderHoverX = -1;
    bool IsScrubbing = false; // the page slider is being dragged
};

// Whether a pointer move at y should show the bar: near the bottom edge, over the bar or the open list,
// or pinned.
bool ShouldShowControlBar(const ControlBarState& state, float x, float y, float renderHeight,
                          const ControlBarLayout& layout, const ViewListGeometry& viewList,
                          unsigned windowDpi);
// Sets barShown; starts the 16 ms animation timer when it was not set.
void ShowControlBar(ControlBarState& state, const ViewHooks& hooks);
// Recomputes the hovered button, list entry and slider position for a pointer move; true when any
// changed (the caller repaints).
bool UpdateControlBarHover(ControlBarState& state, float x, float y, const ControlBarLayout& layout,
                           const ViewListGeometry& viewList);

struct BarAnimationStep {
    bool changed = false;   // repaint
    bool stopTimer = false; // the bar has faded out
};

// One tick of the 16 ms animation: fade, the hide line 110 units above the bottom, hover scales, press
// scale and flash. cursor is the pointer position in client coordinates.
BarAnimationStep StepControlBarAnimation(ControlBarState& state, PointF cursor, float renderHeight,
                                         const ControlBarLayout& layout, const ViewListGeometry& viewList,
                                         unsigned windowDpi, const ViewHooks& hooks);

// The pin button: toggles barPinned with its message; unpinning lets the bar fade.
void ToggleBarPin(ControlBarState& state, const ViewHooks& hooks);

// What a left press on the bar did.
enum class BarPress { None, ViewModeChosen, SliderScrubStarted, ButtonPressed };
// A left press: chooses a view mode from the open list, closes the list when the press is elsewhere than
// on the eye button, starts a slider drag (the caller captures the mouse and seeks) or starts a button's
// press animation.
BarPress PressControlBar(ControlBarState& state, float x, float y, const ControlBarLayout& layout,
                         const ViewListGeometry& viewList, ViewState& view, LayoutState& layoutState,
                         const ViewHooks& hooks);

enum class BarRelease { None, ScrubEnded, ButtonRun };
// A left release: ends a slider drag (load the page reached) or runs the button under the cursor. None
// means the caller ends its pan and scroll-bar drags.
BarRelease ReleaseControlBar(ControlBarState& state, float x, float y, const ControlBarLayout& layout,
                             ViewState& view, const ViewHooks& hooks);

// The action of a button (not the slider).
void RunBarButton(int32_t index, ControlBarState& state, ViewState& view, const ViewHooks& hooks);

// The slider seek outside the strip: a new index becomes current with zoom 1 and no pan, and is loaded.
// Returns the index reached (−1 for an empty list).
int32_t SeekFromSlider(float x, const RectF& slider, unsigned windowDpi, int32_t count, int32_t currentIndex,
                       ViewState& view, const ViewHooks& hooks);
// The slider seek in the strip: the page's top comes into view and its index becomes current.
int32_t SeekStripFromSlider(float x, const RectF& slider, unsigned windowDpi, int32_t count,
                            StripLayout& strip, float viewHeight, const ViewHooks& hooks);

} // namespace view
