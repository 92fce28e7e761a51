#pragma once

namespace app {

// Whether a window can be shown: the display that Qt would use answers. Qt ends the process with an
// abort when it cannot reach its display, so the shell asks first and fails with a message instead.
// Platforms other than X11 and Wayland are assumed reachable.
bool DisplayReachable();

} // namespace app
