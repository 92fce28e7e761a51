#pragma once

#include "app/canvas.h"
#include "app/commands.h"
#include "app/info_panel_layer.h"
#include "app/menu_model.h"
#include "app/ui/command_executor.h"
#include "app/ui/options_dialog.h"
#include "app/ui/overlay_state.h"
#include "decode/decoded_image.h"
#include "loader/load_failure.h"
#include "loader/loader_threads.h"
#include "sources/source_list.h"
#include "view/view_state.h"

#include <QBasicTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace app {

// The image in the current-image slot, copied under the slot's lock.
struct ShownImage {
    decode::DecodedImage image;
    bool preview = false; // a quick preview; the full decode follows
    int32_t index = -1;   // the list position the image (or the failure) belongs to
    loader::LoadFailure failure = loader::LoadFailure::None; // set, with no image, when none can be shown
};

// Where the window's images come from (the loader threads in the program). connectSourceHooks fills
// the loader's part of the sources' hooks (requestLoad, wakePrefetch, cancelBatch, clearCaches,
// clearCurrentImage); on ImageReady the window takes currentImage.
struct ImageFeed {
    std::function<void(sources::SourceHooks&)> connectSourceHooks;
    std::function<ShownImage()> currentImage;
};

// The process-wide state of the main window. Window thread only.
struct MainWindowState {
    uint32_t windowDpi = 96; // taken once at creation; every scaled length is n × windowDpi / 96
    int32_t screenWidth = 0; // primary screen at start-up: the loader's largest decode size
    int32_t screenHeight = 0;
    bool fullscreen = false;
    bool titleBarPinned = false;
    bool showInfoPanel = false;
    view::LayoutState layout;
    OverlayState overlay; // timed message, edge notices, welcome screen
};

// The window's modal interactions, replaceable so that tests can answer them without a nested event
// loop. Each default runs the real dialog or menu.
struct WindowDialogs {
    std::function<std::optional<CommandId>(const MenuState& state, const QPoint& globalPosition)> contextMenu;
    std::function<OptionsOutcome()> options;
    std::function<void()> about;
};

// The borderless dark main window ("SkimoraStd"). It owns the canvas, the view state and the window
// operations of the shell; it installs itself as the sources' window hooks and as the receiver of the
// background threads' messages for its lifetime (one main window at a time).
class MainWindow : public QWidget {
    Q_OBJECT

public:
    MainWindow(ImageFeed feed, uint32_t windowDpi);
    ~MainWindow() override;

    // Places the window (the remembered rectangle, or 800 × 800 × dpi / 96 centred) and shows it.
    void PlaceAndShow();
    // True when the canvas has a working GL context and its shaders; call after PlaceAndShow.
    bool CreateGraphics();

    void UpdateWindowTitle();
    // Full screen on the window's monitor, or back to the placement it had before (maximised again when
    // it was).
    void ToggleFullscreen();
    // Runs the open-file dialog (one at a time), starting in the current item's folder, and opens the
    // chosen file.
    void ShowOpenFileDialog();
    // Opens an absolute path named on the command line. What cannot be opened (missing, unreadable, of
    // no known type, a folder without images, or a file whose decode fails) is reported once on
    // standard error as "skimora: cannot open PATH: reason" and in the window.
    void OpenCommandLinePath(const std::string& path);
    // The centred notice that names an item that cannot be shown; empty when none is shown.
    const std::string& FailureNotice() const { return state.overlay.failureNotice; }
    // Replaces the file dialog, e.g. in tests: answers the chosen path or empty for a cancel.
    void SetFileChooser(std::function<std::string(const std::string& startFolder)> chooser) {
        fileChooser = std::move(chooser);
    }

    // Writes the placement and run-time preferences back and saves the settings (at close).
    void SaveStateToSettings();

    // A context-menu command identifier, carried out like the menu's choice; unknown numbers do nothing.
    void RunCommand(int32_t id);
    // A dropped file: a PDF document, an archive or an image by its extension; anything else only shows
    // the unsupported-type message.
    void OpenDroppedFile(const std::string& path);
    // Starts the welcome animation when the welcome screen is drawn: nothing shown or loading, an empty
    // list and neither layout on (the last start-up step).
    void StartWelcomeWhenIdle();
    bool TimerRunning(view::ViewTimer timer) const;
    WindowDialogs& Dialogs() { return dialogs; }

    // Starts the information panel's slide towards `showInfoPanel` (after it changed) on timer 104.
    void SlideInfoPanel();
    // Redraws the information panel's surface from the published record.
    void DrawInfoPanel();
    InfoPanelLayer& InfoPanel() { return infoPanel; }
    // Replaces the panel slide's millisecond clock (OverlayTickCount), e.g. in tests.
    void SetPanelClock(std::function<uint32_t()> clock) { panelClock = std::move(clock); }
    // The panel's horizontal offset as the next frame draws it: 0 shown, −width hidden.
    float InfoPanelOffsetNow() const;

    Canvas& GetCanvas() { return *canvas; }
    view::ViewState& ViewState() { return viewState; }
    MainWindowState& State() { return state; }

protected:
    bool event(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void InstallHooks();
    void InstallCommandHooks();
    KeyContext SnapshotKeyContext() const;
    MenuState SnapshotMenuState() const;
    void Execute(const Action& action);
    void ShowContextMenuAt(const QPoint& globalPosition);
    void ShowOptions();
    void ToggleInfoPanel();
    void RequestCurrentImageInfo();
    uint32_t PanelTick() const;
    void OpenAdjacentContainer(int32_t direction);
    void StartViewTimer(view::ViewTimer timer, uint32_t milliseconds);
    void KillViewTimer(view::ViewTimer timer);
    WelcomeConditions CurrentWelcomeConditions() const;
    void PaintOverlays(const std::function<QPainter&()>& painter);
    void OnImageReady();
    // Asks the loader for a raster that covers the size the current image is drawn at, when the one in
    // view is smaller (actual size, zoomed in, or a fitted view larger than the screen-bounded decode).
    void RequestSharperImageWhenNeeded();
    void ShowFailure(const std::string& itemPath, loader::LoadFailure failure);
    void Repaint();
    float RegionTop() const;
    bool CanPanNow() const;
    void UpdateCursor(const QPointF& position);

    ImageFeed feed;
    MainWindowState state;
    view::ViewState viewState;
    view::ViewHooks viewHooks;
    CommandHooks commandHooks;
    WindowDialogs dialogs;
    std::map<view::ViewTimer, QBasicTimer> timers;
    // Timer 104 ticks while the panel slides or while its other users (the control bar and progress
    // animations) asked for it through the view hooks; each side stopping leaves it to the other.
    bool animationTickRequested = false;
    InfoPanelLayer infoPanel;
    InfoPanelSlide panelSlide;
    std::function<uint32_t()> panelClock;
    view::PanDrag panDrag;
    Canvas* canvas = nullptr;
    // The file dialog: given the folder to start in, answers the chosen path or empty for a cancel.
    std::function<std::string(const std::string& startFolder)> fileChooser;
    bool openDialogBusy = false;
    bool maximizedBeforeFullscreen = false;
    std::string orientationPath; // the item whose EXIF orientation orientationCode holds
    uint32_t orientationCode = 1;
    std::string commandLinePath; // until its first image or failure: reported on standard error
    struct RefinementAsked {
        int32_t index = -1;
        loader::RefinementSize size;
    };
    std::optional<RefinementAsked> refinementAsked; // the last sharper raster asked for
    bool welcomePressed = false; // a left press landed on the welcome button; its release opens the dialog
};

// The open-file dialog's filter: "이미지/압축/PDF", "압축 파일", "PDF 파일", "모든 파일", in Qt's
// "description (*.a *.b);;…" form. Built once.
const std::string& OpenFileFilter();

} // namespace app
