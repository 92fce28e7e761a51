#include "app/display_check.h"

#include <X11/Xlib.h>

#include <cstdlib>
#include <string_view>

namespace app {

namespace {

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

} // namespace

bool DisplayReachable() {
    const char* platformValue = std::getenv("QT_QPA_PLATFORM");
    const std::string_view platformName = platformValue != nullptr ? platformValue : "";
    if (!platformName.empty() && !platformName.starts_with("xcb")) {
        return true;
    }
    if (!IsSet("DISPLAY")) {
        // Without an explicit platform Qt picks Wayland when a compositor is announced.
        return platformName.empty() && IsSet("WAYLAND_DISPLAY");
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return false;
    }
    XCloseDisplay(display);
    return true;
}

} // namespace app
