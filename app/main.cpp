// Skimora's entry point. The window is not wired in yet: the program reports what it would open.

#include "app/command_line.h"
#include "app/settings_store.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr const char* kUsage =
    "Usage: skimora [PATH]\n"
    "       skimora -sel ARCHIVE::ENTRY\n"
    "       skimora -select:ARCHIVE::ENTRY\n"
    "\n"
    "Opens an image, a folder's image, an archive or a PDF document and shows its neighbours.\n";

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("skimora %s\n", SKIMORA_VERSION);
        return 0;
    }
    app::LoadSettings();
    const app::CommandLineRequest request = app::ParseCommandLine(app::JoinArguments(argc, argv));
    if (request.selectEntry) {
        std::printf("would open: %s (entry: %s)\n", request.archivePath.c_str(), request.entryName.c_str());
    } else if (!request.path.empty()) {
        std::printf("would open: %s\n", request.path.c_str());
    } else {
        std::printf("would open: nothing (welcome screen)\n");
    }
    return 0;
}
