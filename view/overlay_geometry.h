#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "view/geometry.h"
#include "view/view_hooks.h"
#include "view/view_state.h"

// Timed messages, the first-image and last-image notices, and the welcome screen: their state, timing
// and geometry. Text is measured by the drawing layer and passed in.
namespace view {

// The three boxes stack at the top right: timed message, first-image notice, last-image notice.
enum class MessageSlot { Timed, FirstNotice, LastNotice };

struct MessageBoxGeometry {
    RectF box;
    RectF text; // the box shrunk by the padding
    float radius = 0;
};

// The box for a text measured at textWidth × textHeight with the message format. Nothing for an empty
// render surface.
std::optional<MessageBoxGeometry> ComputeMessageBox(float renderWidth, float renderHeight, float textWidth,
                                                    float textHeight, MessageSlot slot, unsigned windowDpi);

// The timed message: text, start tick and duration in milliseconds.
struct MessageState {
    std::string messageText;
    uint32_t messageStart = 0;
    uint32_t messageDuration = 1000;
};

// Replaces any running message and restarts the time; starts the 50 ms repaint timer.
void ShowMessage(MessageState& state, const std::string& text, uint32_t durationMs, uint32_t now,
                 const ViewHooks& hooks);

// The zoom percentage for 800 ms.
void ShowZoomMessage(MessageState& state, float zoom, uint32_t now, const ViewHooks& hooks);

// A message fades over its last quarter, at most 500 ms.
uint32_t MessageFadeLength(uint32_t durationMs);

// The opacity of the timed message at `now`, or nothing when there is none. A message whose time is up
// is cleared here and its timer stopped.
std::optional<float> StepMessage(MessageState& state, uint32_t now, const ViewHooks& hooks);

inline constexpr const char* kFirstImageNoticeText = "첫번째 이미지입니다";
inline constexpr const char* kLastImageNoticeText = "마지막 이미지입니다";
constexpr uint32_t kEdgeNoticeMs = 2000;

struct EdgeNoticeState {
    bool firstImageNotice = false;
    bool lastImageNotice = false;
};

// Called for each new current image: the notices show for two seconds on the first and the last image of
// a list of more than one, and vanish at once elsewhere.
void UpdateEdgeNotices(EdgeNoticeState& state, int32_t index, int32_t count, const ViewHooks& hooks);
// Timer 110 or 111 fired: clear its notice, stop it, repaint.
void EndEdgeNotice(EdgeNoticeState& state, ViewTimer timer, const ViewHooks& hooks);

// The welcome screen. Its clickable area is measured from this fixed text, centred in the whole render
// area, and enlarged by kWelcomeHitMargin.
inline constexpr const char* kWelcomeHitText = "이미지를 열거나 드래그하세요";
constexpr float kWelcomeHitMargin = 30.0f;
constexpr float kWelcomePhaseStep = 0.05f;
constexpr float kWelcomePhasePeriod = 6.28318f;

// Where the welcome line starts: centred in the area below the title offset (58 under a pinned title bar
// outside full screen, else 0).
PointF WelcomeTextOrigin(float renderWidth, float renderHeight, float textWidth, float textHeight,
                         float titleOffset);

// One frame's phase step, wrapped into [0, 2π].
float AdvanceWelcomePhase(float phase);

// The hit test of the welcome button for a measured kWelcomeHitText. A point inside the open view-mode
// list of the control bar does not hit.
bool WelcomeHitTest(float x, float y, float renderWidth, float renderHeight, float hitTextWidth,
                    float hitTextHeight, const std::optional<RectF>& openViewList);

// The animated decoration of the welcome line for one phase.
struct WelcomeGlowLayer {
    RectF rect;
    ColorF color;
};

struct WelcomeSparkle {
    PointF center;
    float radius = 0;
    float alpha = 0;
};

struct WelcomeFrame {
    std::array<WelcomeGlowLayer, 4> glow; // drawn in order, the widest first
    RectF textRect;
    ColorF textColor;
    std::array<WelcomeSparkle, 5> sparkles;
};

enum class WelcomeHover { Off, On };

WelcomeFrame ComputeWelcomeFrame(float phase, PointF origin, float textWidth, float textHeight,
                                 WelcomeHover hover);

} // namespace view
