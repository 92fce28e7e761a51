#pragma once

#include "platform/settings.h"
#include "platform/settings_registry.h"

namespace app {

// The window's placement as the window layer reports it.
struct WindowPlacement {
    bool maximized = false;
    bool fullScreen = false;
    // The normal (restored) rectangle in screen pixels.
    int32_t normalX = 0;
    int32_t normalY = 0;
    int32_t normalWidth = 0;
    int32_t normalHeight = 0;
};

// Fills `settings` from the stored values. Missing values and values of the wrong type keep what the
// record holds (the defaults at start-up). The window rectangle is read only when "RememberWindowPos"
// is on.
void LoadSettings(const platform::SettingsRegistry& registry, platform::Settings& settings);
// Writes every value into the registry in the fixed order; the window rectangle only when
// "RememberWindowPos" is on (otherwise the stored one stays as it was). Values already stored under
// other names are kept.
void StoreSettings(const platform::Settings& settings, platform::SettingsRegistry& registry);

// The process-wide forms over the user's settings file. Failures are silent.
void LoadSettings();
void SaveSettings();

// Copies the window placement into the settings when "RememberWindowPos" is on. In full screen or
// maximised the last normal rectangle stays.
void CaptureWindowPlacement(const WindowPlacement& placement, platform::Settings& settings);

} // namespace app
