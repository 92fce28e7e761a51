#include "view/overlay_geometry.h"

#include <algorithm>
#include <cmath>

namespace view {

namespace {

float SlotTop(MessageSlot slot) {
    switch (slot) {
    case MessageSlot::FirstNotice:
        return 70;
    case MessageSlot::LastNotice:
        return 120;
    case MessageSlot::Timed:
        break;
    }
    return 20;
}

} // namespace

std::optional<MessageBoxGeometry> ComputeMessageBox(float renderWidth, float renderHeight, float textWidth,
                                                    float textHeight, MessageSlot slot, unsigned windowDpi) {
    if (!(renderWidth > 0 && renderHeight > 0)) {
        return std::nullopt;
    }
    const float padding = Dip(12, windowDpi);
    const float margin = Dip(20, windowDpi);
    const float top = Dip(SlotTop(slot), windowDpi);
    MessageBoxGeometry geometry;
    geometry.radius = Dip(6, windowDpi);
    geometry.box = {renderWidth - margin - (textWidth + 2 * padding), top, renderWidth - margin,
                    top + textHeight + 2 * padding};
    geometry.text = geometry.box.Inflated(-padding);
    return geometry;
}

void ShowMessage(MessageState& state, const std::string& text, uint32_t durationMs, uint32_t now,
                 const ViewHooks& hooks) {
    state.messageText = text;
    state.messageStart = now;
    state.messageDuration = durationMs;
    hooks.StartTimer(ViewTimer::Message, 50);
    hooks.Repaint();
}

void ShowZoomMessage(MessageState& state, float zoom, uint32_t now, const ViewHooks& hooks) {
    ShowMessage(state, FormatZoomMessage(zoom), 800, now, hooks);
}

uint32_t MessageFadeLength(uint32_t durationMs) {
    return std::min<uint32_t>(durationMs / 4, 500);
}

std::optional<float> StepMessage(MessageState& state, uint32_t now, const ViewHooks& hooks) {
    if (state.messageText.empty()) {
        return std::nullopt;
    }
    const uint32_t elapsed = now - state.messageStart; // unsigned: survives a wrapped tick count
    if (elapsed > state.messageDuration) {
        state.messageText.clear();
        hooks.KillTimer(ViewTimer::Message);
        return std::nullopt;
    }
    const uint32_t fade = MessageFadeLength(state.messageDuration);
    // With fade 0 this branch cannot be reached: elapsed ≤ duration here.
    if (elapsed > state.messageDuration - fade) {
        return static_cast<float>(state.messageDuration - elapsed) / static_cast<float>(fade);
    }
    return 1.0f;
}

void UpdateEdgeNotices(EdgeNoticeState& state, int32_t index, int32_t count, const ViewHooks& hooks) {
    if (index == 0 && count > 1) {
        if (!state.firstImageNotice) {
            hooks.StartTimer(ViewTimer::FirstNotice, kEdgeNoticeMs);
        }
        state.firstImageNotice = true;
    } else {
        state.firstImageNotice = false;
        hooks.KillTimer(ViewTimer::FirstNotice);
    }
    if (index == count - 1 && count > 1) {
        if (!state.lastImageNotice) {
            hooks.StartTimer(ViewTimer::LastNotice, kEdgeNoticeMs);
        }
        state.lastImageNotice = true;
    } else {
        state.lastImageNotice = false;
        hooks.KillTimer(ViewTimer::LastNotice);
    }
    hooks.Repaint();
}

void EndEdgeNotice(EdgeNoticeState& state, ViewTimer timer, const ViewHooks& hooks) {
    if (timer == ViewTimer::FirstNotice) {
        state.firstImageNotice = false;
    } else if (timer == ViewTimer::LastNotice) {
        state.lastImageNotice = false;
    } else {
        return;
    }
    hooks.KillTimer(timer);
    hooks.Repaint();
}

PointF WelcomeTextOrigin(float renderWidth, float renderHeight, float textWidth, float textHeight,
                         float titleOffset) {
    return {(renderWidth - textWidth) / 2, (renderHeight - titleOffset - textHeight) / 2 + titleOffset};
}

float AdvanceWelcomePhase(float phase) {
    phase += kWelcomePhaseStep;
    if (phase > kWelcomePhasePeriod) {
        phase -= kWelcomePhasePeriod;
    }
    return phase;
}

bool WelcomeHitTest(float x, float y, float renderWidth, float renderHeight, float hitTextWidth,
                    float hitTextHeight, const std::optional<RectF>& openViewList) {
    if (!(renderWidth > 0 && renderHeight > 0)) {
        return false;
    }
    if (openViewList && openViewList->Contains(x, y)) {
        return false;
    }
    const float left = (renderWidth - hitTextWidth) / 2;
    const float top = (renderHeight - hitTextHeight) / 2;
    const RectF area = RectF{left, top, left + hitTextWidth, top + hitTextHeight}.Inflated(kWelcomeHitMargin);
    return area.Contains(x, y);
}

WelcomeFrame ComputeWelcomeFrame(float phase, PointF origin, float textWidth, float textHeight,
                                 WelcomeHover hover) {
    WelcomeFrame frame;
    const float pulse = (std::sin(2 * phase) + 1) / 2;
    const float hue = std::fmod(phase * 0.5f, 1.0f) * 6.28318f;
    for (int k = 3; k >= 0; --k) {
        const float spread = static_cast<float>(k + 1) * 3;
        WelcomeGlowLayer& layer = frame.glow[static_cast<size_t>(3 - k)];
        layer.rect = {origin.x - spread, origin.y - spread, origin.x + textWidth + spread,
                      origin.y + textHeight + spread};
        layer.color = {std::sin(hue) * 0.4f + 0.3f, std::sin(hue + 2.094f) * 0.3f + 0.6f,
                       std::sin(hue + 4.188f) * 0.1f + 0.9f,
                       (0.15f - 0.03f * static_cast<float>(k)) * (0.3f * pulse + 0.7f)};
    }
    frame.textRect = {origin.x, origin.y, origin.x + textWidth, origin.y + textHeight};
    if (hover == WelcomeHover::On) {
        const float g = 0.1f * pulse + 0.9f;
        frame.textColor = {1.0f, 0.85f * g, 0.4f * g, 1.0f};
    } else {
        frame.textColor = {0.85f + 0.15f * pulse, 0.85f + 0.15f * pulse, 1.0f, 1.0f};
    }
    for (size_t i = 0; i < frame.sparkles.size(); ++i) {
        const float q = static_cast<float>(i) * 1.256f + phase;
        WelcomeSparkle& sparkle = frame.sparkles[i];
        sparkle.alpha = (std::sin(2 * q) + 1) * 0.3f;
        sparkle.radius = 1.5f * std::sin(q) + 2.0f;
        sparkle.center = {origin.x + (std::fmod(q * 0.3f, 1.0f) * 0.8f + 0.1f) * textWidth,
                          origin.y + textHeight / 2 + std::sin(3 * q) * textHeight * 0.4f};
    }
    return frame;
}

} // namespace view
