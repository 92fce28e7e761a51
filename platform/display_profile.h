#pragma once

#include <cstdint>
#include <vector>

namespace platform {

// The ICC profile of the screen: the X11 root window's _ICC_PROFILE property (the freedesktop
// convention that colour daemons set). Empty when there is no display or no profile set.
std::vector<uint8_t> ReadDisplayIccProfile();

} // namespace platform
