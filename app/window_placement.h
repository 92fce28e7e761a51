#pragma once

#include "platform/settings.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace app {

struct ScreenRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0; // exclusive
    int32_t bottom = 0;

    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
};

struct Monitor {
    ScreenRect bounds;
    ScreenRect workArea; // the bounds without panels and docks
};

// n × dpi / 96 rounded to nearest, halves away from zero (as MulDiv rounds).
int32_t ScaleByDpi(int32_t length, uint32_t dpi);

// The window's first rectangle: 800 × 800 × dpi / 96 (dpi 0 counts as 96) centred on the primary screen.
ScreenRect DefaultWindowRect(uint32_t systemDpi, int32_t screenWidth, int32_t screenHeight);

// Stored sizes above this are damaged values, not windows; they are ignored like a missing rectangle.
inline constexpr int32_t kMaxStoredWindowSide = 16384;

struct StoredPlacement {
    ScreenRect rect;
    bool maximized = false;
};

// Where a remembered window goes: nothing when "RememberWindowPos" is off or no rectangle is stored.
// On the monitor the stored rectangle overlaps most, a window showing less than 50 pixels of that
// monitor's work area is pulled back onto it with its stored size; a rectangle that touches no monitor
// is centred on the primary screen.
std::optional<StoredPlacement> RestoreWindowPlacement(const platform::Settings& settings,
                                                      const std::vector<Monitor>& monitors,
                                                      int32_t screenWidth, int32_t screenHeight);

} // namespace app
