#include "app/icons_folder.h"

#include <filesystem>
#include <system_error>

namespace app {

std::string IconsFolderFrom(const std::string& executableFolder) {
    const std::filesystem::path base(executableFolder);
    for (const std::filesystem::path& candidate :
         {base / ".." / "share" / "skimora" / "icons", base / "icons"}) {
        std::error_code error;
        if (std::filesystem::is_directory(candidate, error)) {
            return std::filesystem::weakly_canonical(candidate, error).string();
        }
    }
    return {};
}

std::string IconsFolder() {
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || executable.empty()) {
        return {};
    }
    return IconsFolderFrom(executable.parent_path().string());
}

} // namespace app
