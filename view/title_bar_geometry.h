#pragma once

#include <cstdint>
#include <optional>

#include "view/geometry.h"

// The drawn title bar: 58 units high at the top, logo, window title and six buttons at the right edge
// (settings, full screen, pin, minimise, maximise, close), its fade, hit tests and the delayed tooltip.
// The bar's height and button sizes are not scaled; logo, icons and text are, by dpi/96.
namespace view {

constexpr float kTitleBarButtonWidth = 55.0f;
constexpr float kTitleBarButtonsWidth = 6 * kTitleBarButtonWidth; // 330
constexpr float kTitleHoverLine = 71.0f;
constexpr uint32_t kTitleTooltipDelayMs = 200;
constexpr int32_t kTitleCloseButton = 6;

struct TitleBarState {
    bool titleBarPinned = false;
    bool titleHover = false;
    float titleAlpha = 0;
    int32_t titleHotButton = 0; // 1 … 6, 0 none
    uint32_t titleHotSince = 0;
    int32_t titleTipButton = 0;
    bool logoHover = false;
    bool fullscreen = false;

    // The pin keeps the bar only outside full screen.
    bool PinnedInWindow() const { return titleBarPinned && !fullscreen; }
    // Hit tests answer only while the bar shows.
    bool Showing() const { return titleHover || PinnedInWindow(); }
    bool ShouldDraw() const { return Showing() || titleAlpha > 0.01f; }
    float Opacity() const { return PinnedInWindow() ? 1.0f : titleAlpha; }
};

// Button i (1 … 6) of a render surface renderWidth wide.
RectF TitleButtonRect(int32_t button, float renderWidth);
int32_t TitleButtonHitTest(const TitleBarState& state, float x, float y, float renderWidth);
bool LogoHitTest(const TitleBarState& state, float x, float y, unsigned windowDpi);
bool CaptionHitTest(const TitleBarState& state, float x, float y, float renderWidth);

// A pointer move at y: near the top shows the bar; elsewhere only the pin keeps it.
void UpdateTitleHover(TitleBarState& state, float y);
// Moves titleAlpha 0.15 toward its target; true while it moves (the caller repaints).
bool StepTitleFade(TitleBarState& state);

// The hot button changed (or not): a change hides the tooltip and restarts its delay. True on a change.
bool SetTitleHotButton(TitleBarState& state, int32_t button, uint32_t now);
// Shows the tooltip once the same button has been hot for 200 ms; true when it appeared.
bool StepTitleTooltip(TitleBarState& state, uint32_t now);
// Frames are needed until the pending tooltip has appeared.
bool TitleTooltipPending(const TitleBarState& state);

// Where the window title is written, or nothing when that room is 100 units (scaled) or less.
std::optional<RectF> TitleTextRect(float renderWidth, unsigned windowDpi);
RectF TitleLogoRect(bool logoHover, unsigned windowDpi);
float TitleIconSize(unsigned windowDpi);
float TitleLogoBitmapSize(unsigned windowDpi);
RectF TitleIconRect(int32_t button, float renderWidth, unsigned windowDpi);

struct TitleTooltipGeometry {
    RectF box;
    PointF textOrigin;
};

// The tooltip below a button, from its measured text; at least 2 units inside both edges when it fits.
TitleTooltipGeometry ComputeTitleTooltip(int32_t button, float textWidth, float textHeight,
                                         float renderWidth);

enum class WindowShowState { Normal, Maximized };
// Tooltip of a button (nullptr for 0) and the icon file of buttons 1 … 3 (nullptr for the line figures).
const char* TitleButtonTooltip(int32_t button, bool titleBarPinned, WindowShowState show);
const char* TitleButtonIconFile(int32_t button, bool fullscreen, bool titleBarPinned);

} // namespace view
