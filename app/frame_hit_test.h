#pragma once

#include <cstdint>

namespace app {

// Where a point of the borderless window's client area falls: the resize border, or the client area.
enum class FrameHit {
    Client,
    Left,
    Right,
    Top,
    Bottom,
    TopLeft,
    TopRight,
    BottomLeft,
    BottomRight,
};

enum class FrameState { Normal, MaximizedOrFullscreen };

// The resize border is max(8, 8 × dpi / 96) pixels wide along every edge; a maximised or full-screen
// window has none. Corners win over edges.
FrameHit HitTestFrame(int32_t x, int32_t y, int32_t clientWidth, int32_t clientHeight, uint32_t windowDpi,
                      FrameState state);

} // namespace app
