#include "app/window_placement.h"

#include <algorithm>
#include <cstdlib>

namespace app {

int32_t ScaleByDpi(int32_t length, uint32_t dpi) {
    const int64_t product = static_cast<int64_t>(length) * static_cast<int64_t>(dpi);
    const int64_t rounded = product >= 0 ? (product + 48) / 96 : (product - 48) / 96;
    return static_cast<int32_t>(rounded);
}

ScreenRect DefaultWindowRect(uint32_t systemDpi, int32_t screenWidth, int32_t screenHeight) {
    const int32_t side = ScaleByDpi(800, systemDpi == 0 ? 96 : systemDpi);
    const int32_t x = (screenWidth - side) / 2;
    const int32_t y = (screenHeight - side) / 2;
    return {x, y, x + side, y + side};
}

namespace {

int64_t OverlapArea(const ScreenRect& a, const ScreenRect& b) {
    const int64_t width = static_cast<int64_t>(std::min(a.right, b.right)) - std::max(a.left, b.left);
    const int64_t height = static_cast<int64_t>(std::min(a.bottom, b.bottom)) - std::max(a.top, b.top);
    return width > 0 && height > 0 ? width * height : 0;
}

} // namespace

std::optional<StoredPlacement> RestoreWindowPlacement(const platform::Settings& settings,
                                                      const std::vector<Monitor>& monitors,
                                                      int32_t screenWidth, int32_t screenHeight) {
    const int32_t width = settings.windowW;
    const int32_t height = settings.windowH;
    if (!settings.rememberWindowPos || width <= 0 || height <= 0 || width > kMaxStoredWindowSide ||
        height > kMaxStoredWindowSide) {
        return std::nullopt;
    }
    // Computed in 64 bits: a damaged X or Y near the int32 limits must not overflow.
    const int64_t storedX = settings.windowX;
    const int64_t storedY = settings.windowY;
    const ScreenRect stored{static_cast<int32_t>(std::clamp<int64_t>(storedX, INT32_MIN, INT32_MAX - width)),
                            static_cast<int32_t>(std::clamp<int64_t>(storedY, INT32_MIN, INT32_MAX - height)),
                            0, 0};
    const ScreenRect touched{stored.left, stored.top, stored.left + width, stored.top + height};

    const Monitor* best = nullptr;
    int64_t bestArea = 0;
    for (const Monitor& monitor : monitors) {
        const int64_t area = OverlapArea(touched, monitor.bounds);
        if (area > bestArea) {
            bestArea = area;
            best = &monitor;
        }
    }

    int32_t x = 0;
    int32_t y = 0;
    if (best != nullptr) {
        const ScreenRect& work = best->workArea;
        x = touched.right < work.left + 50 ? work.left : touched.left;
        y = touched.bottom < work.top + 50 ? work.top : touched.top;
        if (x > work.right - 50) {
            x = work.right - width;
        }
        if (y > work.bottom - 50) {
            y = work.bottom - height;
        }
    } else {
        x = (screenWidth - width) / 2;
        y = (screenHeight - height) / 2;
    }
    return StoredPlacement{{x, y, x + width, y + height}, settings.windowMaximized};
}

} // namespace app
