#include "platform/display_profile.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <memory>

namespace platform {

std::vector<uint8_t> ReadDisplayIccProfile() {
    std::vector<uint8_t> profile;
    const std::unique_ptr<Display, int (*)(Display*)> display(XOpenDisplay(nullptr), XCloseDisplay);
    if (!display) {
        return profile;
    }
    const Atom property = XInternAtom(display.get(), "_ICC_PROFILE", True);
    if (property == None) {
        return profile;
    }
    Atom actualType = None;
    int actualFormat = 0;
    unsigned long itemCount = 0;
    unsigned long bytesAfter = 0;
    unsigned char* data = nullptr;
    // Profiles are at most a few megabytes; the length is given in 32-bit units.
    constexpr long kMaxLongs = (16L << 20) / 4;
    if (XGetWindowProperty(display.get(), DefaultRootWindow(display.get()), property, 0, kMaxLongs, False,
                           AnyPropertyType, &actualType, &actualFormat, &itemCount, &bytesAfter,
                           &data) == Success &&
        data != nullptr) {
        // A profile longer than the limit would arrive cut short; that is no profile at all.
        if (actualFormat == 8 && itemCount > 0 && bytesAfter == 0) {
            profile.assign(data, data + itemCount);
        }
        XFree(data);
    }
    return profile;
}

} // namespace platform
