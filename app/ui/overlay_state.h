#pragma once

#include "platform/settings.h"
#include "view/overlay_geometry.h"
#include "view/view_hooks.h"

#include <cstdint>
#include <string>

// What the window keeps for its on-screen messages, the first-image and last-image notices and the
// welcome screen, and the operations on it. Qt-free; the drawing is in overlay_painter.h. Window thread
// only.
//
// How the window drives it (all times are OverlayTickCount() milliseconds):
//  - Feedback texts: ShowOverlayMessage / ShowOverlayZoomMessage (also the view hooks' showMessage).
//    They start timer 100 (50 ms) and repaint; a new message replaces the running one at once and runs
//    for its own full time.
//  - Each new current image taken into view: UpdateOverlayEdgeNotices(index, count), which starts timer
//    110 or 111 (2000 ms) for the first-image or last-image notice, or stops them.
//  - Start-up with nothing opened and no layout on: StartWelcomeAnimation (timer 103, 30 ms).
//  - Every mouse move: OnWelcomePointerMove with whether the welcome screen can be interacted with
//    (WelcomeInteractive) and, if so, WelcomeButtonHitTest of overlay_painter.h at the cursor. It starts
//    timer 103 on the first move, repaints when the hover changes and stops the animation once an image
//    or a layout is shown. While welcome.welcomeHover is set the cursor is the pointing hand; a left
//    release with it set opens the file dialog.
//  - A timer event with one of the ids 100, 103, 110, 111: OnOverlayTimer. 100 and 103 only repaint;
//    110 and 111 clear their notice, stop themselves and repaint.
//  - Each paint: PrepareOverlayFrame (which ends a timed-out message and stops timer 100, and advances
//    the welcome phase when the welcome screen is drawn), then PaintWelcome after the background, the
//    strip's overlays, then PaintMessages (or PaintOverlays for both when there is nothing between).
namespace app {

struct WelcomeState {
    std::string welcomeText = platform::Settings{}.welcomeMsg; // the setting "WelcomeMsg", as loaded
    float welcomePhase = 0;                                    // radians, [0, 2π]
    bool welcomeHover = false;                                 // the cursor is over the button area
    bool welcomeTimerActive = false;                           // timer 103 runs
};

struct OverlayState {
    view::MessageState message;
    view::EdgeNoticeState edgeNotices;
    WelcomeState welcome;
    // The centred notice of an item that cannot be shown (title, file name, reason, one per line);
    // empty while none is shown. It stays until an image arrives.
    std::string failureNotice;
};

// What one frame of the overlays draws, in drawing units of the render surface.
struct OverlayPaintInput {
    float renderWidth = 0;
    float renderHeight = 0;
    unsigned windowDpi = 96;
    std::string messageText; // empty: no timed message
    float messageAlpha = 1;  // the timed message's fade, (0, 1]
    bool firstImageNotice = false;
    bool lastImageNotice = false;
    bool showWelcome = false;
    std::string welcomeText;
    float welcomePhase = 0;
    bool welcomeHover = false;
    float titleOffset = 0;   // the pinned title bar's height outside full screen, else 0
    std::string failureText; // the failure notice, drawn centred; empty: none
};

// What decides whether the welcome screen shows.
struct WelcomeConditions {
    bool hasImage = false;
    bool dualView = false;
    bool webtoonMode = false;
    bool loadPending = false;
    bool sourceListEmpty = true;
    bool failureShown = false; // the failure notice takes the welcome screen's place
};

// The welcome button answers the pointer while no image or failure notice is shown and neither layout
// is on.
bool WelcomeInteractive(const WelcomeConditions& conditions);
// It is drawn only when, in addition, nothing is loading and the source list is empty.
bool WelcomeDrawn(const WelcomeConditions& conditions);

// A millisecond tick count that wraps like a 32-bit counter; the message timing survives the wrap.
uint32_t OverlayTickCount();

void ShowOverlayMessage(OverlayState& state, const std::string& text, uint32_t durationMs, uint32_t now,
                        const view::ViewHooks& hooks);
// The zoom percentage ("%.0f%%" of zoom × 100) for 800 ms.
void ShowOverlayZoomMessage(OverlayState& state, float zoom, uint32_t now, const view::ViewHooks& hooks);
void UpdateOverlayEdgeNotices(OverlayState& state, int32_t index, int32_t count,
                              const view::ViewHooks& hooks);

// Handles a tick of timer 100, 103, 110 or 111; false for any other timer.
bool OnOverlayTimer(OverlayState& state, view::ViewTimer timer, const view::ViewHooks& hooks);

// Timer 103 at 30 ms, unless it already runs.
void StartWelcomeAnimation(OverlayState& state, const view::ViewHooks& hooks);
// Stops timer 103 and clears the hover (repainting when it was set).
void StopWelcomeAnimation(OverlayState& state, const view::ViewHooks& hooks);

enum class WelcomeAvailability { Unavailable, Interactive };

// overButton is the hit test at the cursor; it is ignored when the welcome screen is unavailable.
void OnWelcomePointerMove(OverlayState& state, WelcomeAvailability availability, bool overButton,
                          const view::ViewHooks& hooks);

// The frame's context as the window sees it.
struct OverlayFrameContext {
    float renderWidth = 0;
    float renderHeight = 0;
    unsigned windowDpi = 96;
    bool welcomeDrawn = false; // WelcomeDrawn of the current state
    float titleOffset = 0;     // view::ImageRegionTop(titleBarPinned, fullscreen)
};

// Called once per painted frame, before painting the overlays.
OverlayPaintInput PrepareOverlayFrame(OverlayState& state, const OverlayFrameContext& context, uint32_t now,
                                      const view::ViewHooks& hooks);

} // namespace app
