#include "app/ui/overlay_state.h"

#include <chrono>

namespace app {

bool WelcomeInteractive(const WelcomeConditions& conditions) {
    return !conditions.hasImage && !conditions.dualView && !conditions.webtoonMode &&
           !conditions.failureShown;
}

bool WelcomeDrawn(const WelcomeConditions& conditions) {
    return WelcomeInteractive(conditions) && !conditions.loadPending && conditions.sourceListEmpty;
}

uint32_t OverlayTickCount() {
    const auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(sinceStart).count());
}

void ShowOverlayMessage(OverlayState& state, const std::string& text, uint32_t durationMs, uint32_t now,
                        const view::ViewHooks& hooks) {
    view::ShowMessage(state.message, text, durationMs, now, hooks);
}

void ShowOverlayZoomMessage(OverlayState& state, float zoom, uint32_t now, const view::ViewHooks& hooks) {
    view::ShowZoomMessage(state.message, zoom, now, hooks);
}

void UpdateOverlayEdgeNotices(OverlayState& state, int32_t index, int32_t count,
                              const view::ViewHooks& hooks) {
    view::UpdateEdgeNotices(state.edgeNotices, index, count, hooks);
}

bool OnOverlayTimer(OverlayState& state, view::ViewTimer timer, const view::ViewHooks& hooks) {
    switch (timer) {
    case view::ViewTimer::Message:
    case view::ViewTimer::Welcome:
        hooks.Repaint();
        return true;
    case view::ViewTimer::FirstNotice:
    case view::ViewTimer::LastNotice:
        view::EndEdgeNotice(state.edgeNotices, timer, hooks);
        return true;
    case view::ViewTimer::Animation:
        break;
    }
    return false;
}

void StartWelcomeAnimation(OverlayState& state, const view::ViewHooks& hooks) {
    if (state.welcome.welcomeTimerActive) {
        return;
    }
    hooks.StartTimer(view::ViewTimer::Welcome, 30);
    state.welcome.welcomeTimerActive = true;
}

void StopWelcomeAnimation(OverlayState& state, const view::ViewHooks& hooks) {
    if (state.welcome.welcomeTimerActive) {
        hooks.KillTimer(view::ViewTimer::Welcome);
        state.welcome.welcomeTimerActive = false;
    }
    if (state.welcome.welcomeHover) {
        state.welcome.welcomeHover = false;
        hooks.Repaint();
    }
}

void OnWelcomePointerMove(OverlayState& state, WelcomeAvailability availability, bool overButton,
                          const view::ViewHooks& hooks) {
    if (availability == WelcomeAvailability::Unavailable) {
        StopWelcomeAnimation(state, hooks);
        return;
    }
    StartWelcomeAnimation(state, hooks);
    if (state.welcome.welcomeHover != overButton) {
        state.welcome.welcomeHover = overButton;
        hooks.Repaint();
    }
}

OverlayPaintInput PrepareOverlayFrame(OverlayState& state, const OverlayFrameContext& context, uint32_t now,
                                      const view::ViewHooks& hooks) {
    OverlayPaintInput input;
    input.renderWidth = context.renderWidth;
    input.renderHeight = context.renderHeight;
    input.windowDpi = context.windowDpi == 0 ? 96 : context.windowDpi;
    if (const auto alpha = view::StepMessage(state.message, now, hooks)) {
        input.messageText = state.message.messageText;
        input.messageAlpha = *alpha;
    }
    input.firstImageNotice = state.edgeNotices.firstImageNotice;
    input.lastImageNotice = state.edgeNotices.lastImageNotice;
    input.failureText = state.failureNotice;
    input.showWelcome = context.welcomeDrawn;
    if (input.showWelcome) {
        // The phase moves with the frames drawn, so it stands still while the welcome screen is hidden.
        state.welcome.welcomePhase = view::AdvanceWelcomePhase(state.welcome.welcomePhase);
        input.welcomeText = state.welcome.welcomeText;
        input.welcomePhase = state.welcome.welcomePhase;
        input.welcomeHover = state.welcome.welcomeHover;
        input.titleOffset = context.titleOffset;
    }
    return input;
}

} // namespace app
