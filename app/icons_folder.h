#pragma once

#include <string>

namespace app {

// The folder of the program's icons and logo. Installed, it is <prefix>/share/skimora/icons beside the
// program's bin/ folder (so a moved prefix keeps working); a build tree has the same layout, and a
// folder "icons" right beside the executable is accepted as well. Empty when none of them exists.
std::string IconsFolder();

// The same lookup from a given folder of the executable. Tests.
std::string IconsFolderFrom(const std::string& executableFolder);

} // namespace app
