#include "app/settings_store.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    platform::SettingsRegistry registry("/nonexistent/settings.reg");
    registry.Parse(std::string(reinterpret_cast<const char*>(data), size));
    platform::Settings settings;
    app::LoadSettings(registry, settings);
    // What we write must read back as the same values.
    platform::SettingsRegistry again("/nonexistent/settings.reg");
    again.Parse(registry.Serialize());
    platform::Settings reread;
    app::LoadSettings(again, reread);
    if (reread.welcomeMsg != settings.welcomeMsg || reread.windowX != settings.windowX) {
        __builtin_trap();
    }
    return 0;
}
