#include "app/frame_hit_test.h"

#include <algorithm>

namespace app {

FrameHit HitTestFrame(int32_t x, int32_t y, int32_t clientWidth, int32_t clientHeight, uint32_t windowDpi,
                      FrameState state) {
    if (state == FrameState::MaximizedOrFullscreen) {
        return FrameHit::Client;
    }
    const int32_t border = std::max<int32_t>(8, static_cast<int32_t>(8 * windowDpi / 96));
    const bool left = x < border;
    const bool right = x >= clientWidth - border;
    const bool top = y < border;
    const bool bottom = y >= clientHeight - border;
    if (top && left) {
        return FrameHit::TopLeft;
    }
    if (top && right) {
        return FrameHit::TopRight;
    }
    if (bottom && left) {
        return FrameHit::BottomLeft;
    }
    if (bottom && right) {
        return FrameHit::BottomRight;
    }
    if (left) {
        return FrameHit::Left;
    }
    if (right) {
        return FrameHit::Right;
    }
    if (top) {
        return FrameHit::Top;
    }
    if (bottom) {
        return FrameHit::Bottom;
    }
    return FrameHit::Client;
}

} // namespace app
