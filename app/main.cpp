// Skimora's entry point: settings, the main window, the command line, the event loop.

#include "app/command_line.h"
#include "app/display_check.h"
#include "app/icons_folder.h"
#include "app/open_failure.h"
#include "app/settings_store.h"
#include "decode/heif_decoder.h"
#include "platform/files.h"

#ifdef SKIMORA_WITH_WINDOW
#include "app/hook_wiring.h"
#include "app/loader_feed.h"
#include "app/main_window.h"
#include "decode/color_management.h"
#include "loader/image_cache.h"
#include "loader/loader_threads.h"
#include "platform/qt/qt_window_messages.h"
#include "platform/settings.h"
#include "sources/source_list.h"

#include <QApplication>
#include <QScreen>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr const char* kUsage =
    "Usage: skimora [PATH]\n"
    "       skimora -sel ARCHIVE::ENTRY\n"
    "       skimora -select:ARCHIVE::ENTRY\n"
    "       skimora --help | --version\n"
    "\n"
    "Opens an image, a folder's image, an archive or a PDF document and shows its neighbours.\n"
    "Only the first path is used; one that does not exist opens the welcome screen.\n"
    "\n"
    "  -sel ARCHIVE::ENTRY      open ARCHIVE at ENTRY (quote the word when it has spaces)\n"
    "  -select:ARCHIVE::ENTRY   the same as one word\n"
    "  -h, --help               print this command line and exit\n"
    "  --version                print the version and the icons folder in use, and exit\n"
    "\n"
    "Settings: $XDG_CONFIG_HOME/skimora/settings.reg. Keys, files and environment: man skimora\n";

// What the command line names, opened the way the user would open it. Missing paths open nothing.
void OpenRequest(const app::CommandLineRequest& request) {
#ifdef SKIMORA_WITH_WINDOW
    if (request.selectEntry) {
        if (platform::GetFileAttributes(request.archivePath)) {
            sources::CallHook(sources::Hooks().openArchive, request.archivePath,
                              request.archivePath + "::" + request.entryName);
        }
    } else if (!request.path.empty() && platform::GetFileAttributes(request.path)) {
        sources::OpenPath(request.path);
    }
#else
    if (request.selectEntry) {
        std::printf("would open: %s (entry: %s)\n", request.archivePath.c_str(), request.entryName.c_str());
    } else if (!request.path.empty()) {
        std::printf("would open: %s\n", request.path.c_str());
    } else {
        std::printf("would open: nothing (welcome screen)\n");
    }
#endif
}

#ifdef SKIMORA_WITH_WINDOW
// The window's DPI, fixed for its lifetime. Qt's own device-pixel scaling is off, so this is the
// screen's logical DPI and the program scales its lengths itself.
uint32_t ScreenDpi() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double dpi = screen != nullptr ? screen->logicalDotsPerInch() : 0.0;
    return dpi >= 1.0 && dpi < 10000.0 ? static_cast<uint32_t>(dpi + 0.5) : 96;
}

int RunWindow(int argc, char** argv, const app::CommandLineRequest& request) {
    if (!app::DisplayReachable()) {
        std::fputs("skimora: no display to show the window on\n", stderr);
        return 1;
    }
    // Lengths are scaled by the window's DPI as the rest of the program expects; Qt must not scale
    // them a second time.
    if (qEnvironmentVariableIsEmpty("QT_ENABLE_HIGHDPI_SCALING")) {
        qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    }
    QApplication application(argc, argv);
    // The display profile exists before any decode (it is opened only in display-profile mode).
    decode::OpenDisplayProfileForStartup();
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize screenSize = screen != nullptr ? screen->geometry().size() : QSize(0, 0);

    app::MainWindow window(app::LoaderImageFeed(), ScreenDpi());
    loader::DualViewShown.store(window.State().layout.dualView);
    loader::InfoPanelShown.store(window.State().showInfoPanel);
    app::InstallLoaderHooks();
    // The first decode runs while the window and its GL context are made: the window already receives
    // the threads' messages, and an image taken into view before the first frame is uploaded then.
    loader::StartLoaderThreads(static_cast<uint32_t>(std::max(0, screenSize.width())),
                               static_cast<uint32_t>(std::max(0, screenSize.height())));
    if (!request.selectEntry && !request.path.empty()) {
        window.OpenCommandLinePath(request.path);
    } else {
        OpenRequest(request);
    }
    window.PlaceAndShow();
    if (!window.CreateGraphics()) {
        loader::StopLoaderThreads();
        platform::ShowMessageBox(&window, "그래픽 초기화 실패", "오류", platform::MessageBoxIcon::None);
        return 1;
    }
    // Nothing opened (or the image is still on its way): the welcome screen animates until one arrives.
    window.StartWelcomeWhenIdle();
    const int exitCode = application.exec();
    // The threads stop before the window (their messages' receiver) goes away; then the caches and
    // the display profile go.
    loader::StopLoaderThreads();
    loader::ClearCaches();
    loader::ClearCurrentImage();
    decode::CloseDisplayProfile();
    return exitCode;
}
#endif

} // namespace

int main(int argc, char** argv) {
    // These answer without a display.
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("skimora %s\n", SKIMORA_VERSION);
        const std::string icons = app::IconsFolder();
        std::printf("icons: %s\n", icons.empty() ? "(not found)" : icons.c_str());
        return 0;
    }
    decode::InitializeHeif();
    app::LoadSettings();
    const app::CommandLineRequest request =
        app::WithAbsolutePaths(app::ParseCommandLine(app::JoinArguments(argc, argv)));
#ifdef SKIMORA_WITH_WINDOW
    return RunWindow(argc, argv, request);
#else
    OpenRequest(request);
    return 0;
#endif
}
