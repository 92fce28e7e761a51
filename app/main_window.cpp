#include "app/main_window.h"

#include "app/frame_hit_test.h"
#include "app/open_failure.h"
#include "app/settings_store.h"
#include "app/ui/about_box.h"
#include "app/ui/context_menu.h"
#include "app/ui/key_input.h"
#include "app/ui/overlay_painter.h"
#include "app/window_placement.h"
#include "app/window_title.h"
#include "decode/format_registry.h"
#include "info/exif_orientation.h"
#include "loader/loader_threads.h"
#include "platform/files.h"
#include "platform/qt/qt_window_messages.h"
#include "platform/settings.h"
#include "platform/trace.h"
#include "sources/navigation.h"
#include "sources/pdf/pdf_document.h"
#include "sources/sort_orders.h"
#include "sources/source_list.h"
#include "view/strip_layout.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLibraryInfo>
#include <QLocale>
#include <QMimeData>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QScreen>
#include <QTimerEvent>
#include <QTranslator>
#include <QUrl>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QWindow>

#include <cmath>
#include <cstdio>
#include <memory>
#include <utility>

namespace app {

namespace {

constexpr QRgb kWindowBackground = 0x202020;
constexpr const char* kUnsupportedDropText = "지원하지 않는 파일 형식입니다";
constexpr uint32_t kUnsupportedDropMs = 2000;

bool IsContainerExtension(const std::string& extension) {
    return decode::IsArchiveExtension(extension) || decode::IsPdfExtension(extension);
}

std::string FilterPatterns(std::initializer_list<decode::ExtensionFamily> families) {
    std::string patterns;
    for (const decode::ExtensionFamily family : families) {
        for (const std::string& extension : decode::ExtensionsOf(family)) {
            if (!patterns.empty()) {
                patterns += ' ';
            }
            patterns += "*." + extension;
        }
    }
    return patterns;
}

Qt::Edges EdgesOf(FrameHit hit) {
    switch (hit) {
    case FrameHit::Left:
        return Qt::LeftEdge;
    case FrameHit::Right:
        return Qt::RightEdge;
    case FrameHit::Top:
        return Qt::TopEdge;
    case FrameHit::Bottom:
        return Qt::BottomEdge;
    case FrameHit::TopLeft:
        return Qt::TopEdge | Qt::LeftEdge;
    case FrameHit::TopRight:
        return Qt::TopEdge | Qt::RightEdge;
    case FrameHit::BottomLeft:
        return Qt::BottomEdge | Qt::LeftEdge;
    case FrameHit::BottomRight:
        return Qt::BottomEdge | Qt::RightEdge;
    case FrameHit::Client:
        break;
    }
    return {};
}

Qt::CursorShape ResizeCursorOf(FrameHit hit) {
    switch (hit) {
    case FrameHit::Left:
    case FrameHit::Right:
        return Qt::SizeHorCursor;
    case FrameHit::Top:
    case FrameHit::Bottom:
        return Qt::SizeVerCursor;
    case FrameHit::TopLeft:
    case FrameHit::BottomRight:
        return Qt::SizeFDiagCursor;
    case FrameHit::TopRight:
    case FrameHit::BottomLeft:
        return Qt::SizeBDiagCursor;
    case FrameHit::Client:
        break;
    }
    return Qt::ArrowCursor;
}

std::vector<Monitor> AttachedMonitors() {
    std::vector<Monitor> monitors;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect bounds = screen->geometry();
        const QRect work = screen->availableGeometry();
        monitors.push_back(
            {{bounds.left(), bounds.top(), bounds.left() + bounds.width(), bounds.top() + bounds.height()},
             {work.left(), work.top(), work.left() + work.width(), work.top() + work.height()}});
    }
    return monitors;
}

// Qt's own texts (the file dialog's buttons and labels) in Korean like the rest of the interface,
// from the system's Qt translations. Installed once per application.
void InstallKoreanQtTranslations() {
    static bool installed = false;
    if (installed || QCoreApplication::instance() == nullptr) {
        return;
    }
    installed = true;
    auto translator = std::make_unique<QTranslator>();
    if (translator->load(QLocale(QLocale::Korean, QLocale::SouthKorea), QStringLiteral("qtbase"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        translator->setParent(QCoreApplication::instance()); // the application owns it from here
        QCoreApplication::installTranslator(translator.release());
    }
}

} // namespace

const std::string& OpenFileFilter() {
    static const std::string filter = [] {
        using decode::ExtensionFamily;
        const std::string all = FilterPatterns(
            {ExtensionFamily::Jpeg, ExtensionFamily::WebP, ExtensionFamily::Photoshop, ExtensionFamily::Bpg,
             ExtensionFamily::OpenExr, ExtensionFamily::Jpeg2000, ExtensionFamily::Pdf,
             ExtensionFamily::HeifAvif, ExtensionFamily::Svg, ExtensionFamily::JpegXl, ExtensionFamily::Raw,
             ExtensionFamily::Wic, ExtensionFamily::Archives});
        const std::string archives = FilterPatterns({ExtensionFamily::Archives}) + " *.alz *.egg";
        const std::string pdf = FilterPatterns({ExtensionFamily::Pdf});
        return "이미지/압축/PDF (" + all + ");;압축 파일 (" + archives + ");;PDF 파일 (" + pdf +
               ");;모든 파일 (*)";
    }();
    return filter;
}

MainWindow::MainWindow(ImageFeed feed, uint32_t windowDpi)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint), feed(std::move(feed)), infoPanel(windowDpi) {
    setObjectName("SkimoraStd");
    InstallKoreanQtTranslations();
    setWindowTitle(QString::fromUtf8(kInitialWindowTitle));
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor::fromRgb(kWindowBackground));
    setPalette(palette);
    setAutoFillBackground(true);
    setMouseTracking(true);
    setAcceptDrops(true);
    setFocusPolicy(Qt::StrongFocus);

    state.windowDpi = windowDpi == 0 ? 96 : windowDpi;
    const platform::Settings& settings = platform::GlobalSettings();
    state.titleBarPinned = settings.titleBarPinned;
    state.showInfoPanel = settings.showExifPanel;
    PlaceInfoPanel(panelSlide, state.showInfoPanel);
    // Stored values a damaged settings file could hold fall back to their defaults.
    const view::LayoutState storedLayout = view::LayoutStateFromSettings(settings);
    state.layout.dualView = storedLayout.dualView;
    state.layout.webtoonWidth = storedLayout.webtoonWidth;
    viewState.imageFilter = view::ViewStateFromSettings(settings).imageFilter;
    viewState.interpolationMode =
        settings.interpolationMode >= 0 && settings.interpolationMode <= 3 ? settings.interpolationMode : 1;
    state.overlay.welcome.welcomeText = settings.welcomeMsg;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        state.screenWidth = screen->geometry().width();
        state.screenHeight = screen->geometry().height();
    }

    canvas = new Canvas({&viewState, [this] { return RegionTop(); },
                         [this](const std::function<QPainter&()>& painter) { PaintOverlays(painter); }},
                        this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(canvas);

    fileChooser = [this](const std::string& startFolder) {
        return QFileDialog::getOpenFileName(this, QString(), QString::fromStdString(startFolder),
                                            QString::fromStdString(OpenFileFilter()))
            .toStdString();
    };
    dialogs.contextMenu = [this](const MenuState& menuState, const QPoint& globalPosition) {
        return TrackContextMenu(menuState, globalPosition, this);
    };
    dialogs.options = [this] { return RunOptionsDialog(this); };
    dialogs.about = [this] { ShowAboutBox(this); };
    InstallHooks();
    InstallCommandHooks();
    platform::TraceSinceProcessStart("main window made");
}

MainWindow::~MainWindow() {
    for (auto& [id, timer] : timers) {
        timer.stop();
    }
    platform::RemoveQtWindowMessageSink();
    sources::SetSourceHooks({});
}

void MainWindow::InstallHooks() {
    viewHooks.repaint = [this] { Repaint(); };
    viewHooks.updateWindowTitle = [this] { UpdateWindowTitle(); };
    viewHooks.requestLoad = [] { sources::CallHook(sources::Hooks().requestLoad); };
    viewHooks.wakePrefetch = [] { sources::CallHook(sources::Hooks().wakePrefetch); };
    viewHooks.showMessage = [this](const std::string& text, uint32_t milliseconds) {
        ShowOverlayMessage(state.overlay, text, milliseconds, OverlayTickCount(), viewHooks);
    };
    viewHooks.startTimer = [this](view::ViewTimer timer, uint32_t milliseconds) {
        StartViewTimer(timer, milliseconds);
    };
    viewHooks.killTimer = [this](view::ViewTimer timer) { KillViewTimer(timer); };
    viewHooks.publishCurrentIndex = [](int32_t index) { sources::CurrentIndex.store(index); };
    viewHooks.showOpenFileDialog = [this] { ShowOpenFileDialog(); };
    viewHooks.selectWebtoonWidth = [this](uint32_t columnWidth) {
        // On the work area of the window's monitor, without changing the z-order.
        const QScreen* screen = this->screen() != nullptr ? this->screen() : QGuiApplication::primaryScreen();
        if (screen == nullptr || state.fullscreen) {
            return;
        }
        const QRect work = screen->availableGeometry();
        const view::WindowPlacement placement =
            view::WebtoonWindowPlacement(work.left(), work.top(), work.width(), work.height(), columnWidth);
        if (isMaximized()) {
            showNormal();
        }
        setGeometry(placement.left, placement.top, placement.width, placement.height);
    };
    viewHooks.goToPreviousImage = [] { sources::GoToPreviousImage(); };
    viewHooks.goToNextImage = [] { sources::GoToNextImage(); };

    sources::SourceHooks hooks;
    if (feed.connectSourceHooks) {
        feed.connectSourceHooks(hooks);
    }
    hooks.isDualView = [this] { return state.layout.dualView; };
    hooks.isWebtoonMode = [this] { return state.layout.webtoonMode; };
    hooks.resetView = [this] { view::ResetForNewImage(viewState); };
    hooks.updateWindowTitle = [this] { UpdateWindowTitle(); };
    hooks.repaint = [this] { Repaint(); };
    hooks.showMessage = [this](const std::string& text, int milliseconds) {
        viewHooks.ShowMessage(text, static_cast<uint32_t>(std::max(0, milliseconds)));
    };
    hooks.stopWelcomeScreen = [this] { StopWelcomeAnimation(state.overlay, viewHooks); };
    sources::SetSourceHooks(std::move(hooks));

    platform::InstallQtWindowMessageSink(this);
}

void MainWindow::PlaceAndShow() {
    const platform::Settings& settings = platform::GlobalSettings();
    const std::optional<StoredPlacement> stored =
        RestoreWindowPlacement(settings, AttachedMonitors(), state.screenWidth, state.screenHeight);
    if (stored) {
        setGeometry(stored->rect.left, stored->rect.top, stored->rect.Width(), stored->rect.Height());
        if (stored->maximized) {
            showMaximized();
            return;
        }
    } else {
        const ScreenRect rect = DefaultWindowRect(state.windowDpi, state.screenWidth, state.screenHeight);
        setGeometry(rect.left, rect.top, rect.Width(), rect.Height());
    }
    show();
}

bool MainWindow::CreateGraphics() {
    const QOpenGLContext* context = canvas->context();
    return context != nullptr && context->isValid() && canvas->GraphicsReady();
}

float MainWindow::RegionTop() const {
    return view::ImageRegionTop(state.titleBarPinned, state.fullscreen ? view::FullscreenState::Fullscreen
                                                                       : view::FullscreenState::Windowed);
}

void MainWindow::Repaint() {
    canvas->update();
    RequestSharperImageWhenNeeded();
}

void MainWindow::RequestSharperImageWhenNeeded() {
    if (!canvas->HasImage() || viewState.isPreview || state.layout.dualView || state.layout.webtoonMode) {
        return;
    }
    const decode::DecodedImage& image = canvas->Image();
    const view::Matrix3x2 matrix = view::ComputeImageTransform(
        viewState, canvas->ImageWidth(), canvas->ImageHeight(), static_cast<float>(canvas->width()),
        static_cast<float>(canvas->height()), RegionTop());
    const loader::RefinementSize needed =
        loader::NeededRasterSize(decode::SourceWidthOf(image), decode::SourceHeightOf(image),
                                 std::sqrt(std::fabs(matrix.Determinant())));
    // A few pixels short of the need is rounding, not blur.
    if (needed.width <= image.width + 2 && needed.height <= image.height + 2) {
        return;
    }
    const int32_t index = sources::CurrentIndex.load();
    if (refinementAsked && refinementAsked->index == index && refinementAsked->size.width >= needed.width &&
        refinementAsked->size.height >= needed.height) {
        return; // already on its way (or as good as the memory budget allows)
    }
    refinementAsked = RefinementAsked{index, needed};
    loader::RequestRefinement(index, needed.width, needed.height);
}

void MainWindow::UpdateWindowTitle() {
    setWindowTitle(QString::fromStdString(FormatWindowTitle(sources::SnapshotCurrentItem())));
}

void MainWindow::ToggleFullscreen() {
    if (!state.fullscreen) {
        maximizedBeforeFullscreen = isMaximized();
        state.fullscreen = true;
        showFullScreen();
    } else {
        state.fullscreen = false;
        showNormal();
        if (maximizedBeforeFullscreen) {
            showMaximized();
        }
    }
    Repaint();
}

void MainWindow::ShowOpenFileDialog() {
    // The dialog runs its own event loop: a second request while it is open is ignored.
    if (openDialogBusy) {
        return;
    }
    openDialogBusy = true;
    // The dialog starts where the user is: the folder of the current item (of its archive or document
    // for an entry); with nothing open, the working directory.
    const std::string current(ContainerPathOf(sources::CopyItemPath(sources::CurrentIndex.load())));
    const size_t separator = current.rfind('/');
    const std::string startFolder =
        separator == std::string::npos ? std::string() : current.substr(0, separator + 1);
    const std::string path = fileChooser ? fileChooser(startFolder) : std::string();
    if (!path.empty()) {
        sources::OpenPath(path);
    }
    openDialogBusy = false;
}

void MainWindow::OpenCommandLinePath(const std::string& path) {
    loader::LoadFailure failure = CheckCommandLinePath(path);
    if (failure == loader::LoadFailure::None) {
        sources::OpenPath(path);
        if (sources::SourceListCount() > 0) {
            // A decode that fails later is reported when its news arrives.
            commandLinePath = path;
            return;
        }
        const std::string extension = decode::GetLowerExtension(path);
        const sources::SourceHooks& hooks = sources::Hooks();
        const std::optional<platform::FileAttributes> attributes = platform::GetFileAttributes(path);
        if (attributes && attributes->isDirectory) {
            failure = loader::LoadFailure::NoImages;
        } else if ((decode::IsArchiveExtension(extension) && !hooks.openArchive) ||
                   (decode::IsPdfExtension(extension) && !hooks.openPdfDocument)) {
            failure = loader::LoadFailure::Unsupported;
        } else if (!IsContainerExtension(extension)) {
            failure = loader::LoadFailure::Unreadable; // its folder could not be listed
        } else {
            return; // the container's opener has said what went wrong
        }
    }
    std::fputs(OpenFailureLine(path, failure).c_str(), stderr);
    ShowFailure(path, failure);
    // Nothing is listed, so the title names what was asked for.
    setWindowTitle(QString::fromStdString(std::string(sources::ItemFileName(path)) + " - 스키모라"));
}

void MainWindow::ShowFailure(const std::string& itemPath, loader::LoadFailure failure) {
    state.overlay.failureNotice = OpenFailureNotice(itemPath, failure);
    StopWelcomeAnimation(state.overlay, viewHooks);
    Repaint();
}

void MainWindow::OnImageReady() {
    const ShownImage shown = feed.currentImage ? feed.currentImage() : ShownImage{};
    // A result for an item the user has already left: the current item's own is on its way, and the
    // page turn waits for that one.
    if (shown.index != sources::CurrentIndex.load()) {
        return;
    }
    sources::NavigationPending.store(false);
    const sources::ItemPath path = sources::CopyItemPath(shown.index);
    if (shown.failure != loader::LoadFailure::None) {
        // No stale picture under this item's name: the notice says what cannot be shown and why.
        canvas->ClearImage();
        ShowFailure(path, shown.failure);
        if (!commandLinePath.empty() && path == commandLinePath) {
            std::fputs(OpenFailureLine(path, shown.failure).c_str(), stderr);
        }
        commandLinePath.clear();
        UpdateWindowTitle();
        return;
    }
    // The raster stays as stored; the view turns it by the file's EXIF orientation. Archive entries
    // and PDF pages are shown as decoded.
    // The preview and the full image of one item arrive one after the other: the file is read once.
    if (path != orientationPath) {
        orientationPath = path;
        orientationCode =
            !path.empty() && !sources::IsContainerItem(path) ? info::ReadExifOrientation(path) : 1;
    }
    viewState.orientationRotation = view::OrientationRotationFromExif(static_cast<int>(orientationCode));
    if (decode::IsValidImage(shown.image)) {
        platform::TraceSinceProcessStart(shown.preview ? "first preview taken into view"
                                                       : "first full image taken into view");
        viewState.isPreview = shown.preview;
        canvas->SetImage(shown.image);
        state.overlay.failureNotice.clear();
        commandLinePath.clear();
        StopWelcomeAnimation(state.overlay, viewHooks);
    }
    if (state.showInfoPanel) {
        DrawInfoPanel();
    }
    UpdateWindowTitle();
    UpdateOverlayEdgeNotices(state.overlay, sources::CurrentIndex.load(),
                             static_cast<int32_t>(sources::SourceListCount()), viewHooks);
}

bool MainWindow::event(QEvent* event) {
    if (event->type() == platform::WindowMessageEvent::EventType()) {
        switch (static_cast<platform::WindowMessageEvent*>(event)->Message()) {
        case platform::WindowMessage::ImageReady:
            OnImageReady();
            break;
        case platform::WindowMessage::NextReady:
            if (state.layout.dualView) {
                Repaint();
            }
            break;
        case platform::WindowMessage::InfoReady:
            if (state.showInfoPanel) {
                DrawInfoPanel();
                Repaint();
            }
            break;
        case platform::WindowMessage::BatchItem:
            break;
        }
        return true;
    }
    return QWidget::event(event);
}

void MainWindow::wheelEvent(QWheelEvent* event) {
    // Only the vertical wheel turns pages; one step per event whatever its size.
    const int delta = event->angleDelta().y();
    if (delta == 0) {
        event->ignore();
        return;
    }
    event->accept();
    if (sources::SourceListCount() == 0) {
        ShowOpenFileDialog();
        return;
    }
    if (state.layout.webtoonMode) {
        return;
    }
    if (event->modifiers() & Qt::ControlModifier) {
        view::ZoomWheel(viewState, delta > 0 ? view::ZoomDirection::In : view::ZoomDirection::Out, viewHooks);
        return;
    }
    if (delta > 0) {
        sources::GoToPreviousImage();
    } else {
        sources::GoToNextImage();
    }
}

bool MainWindow::CanPanNow() const {
    if (!canvas->HasImage()) {
        return false;
    }
    return view::CanPan(viewState, canvas->ImageWidth(), canvas->ImageHeight(),
                        static_cast<float>(canvas->width()), static_cast<float>(canvas->height()),
                        RegionTop());
}

void MainWindow::UpdateCursor(const QPointF& position) {
    const FrameHit hit = HitTestFrame(static_cast<int32_t>(position.x()), static_cast<int32_t>(position.y()),
                                      width(), height(), state.windowDpi,
                                      state.fullscreen || isMaximized() ? FrameState::MaximizedOrFullscreen
                                                                        : FrameState::Normal);
    if (hit != FrameHit::Client) {
        setCursor(ResizeCursorOf(hit));
    } else if (panDrag.active) {
        setCursor(Qt::SizeAllCursor);
    } else if (CanPanNow()) {
        setCursor(Qt::OpenHandCursor);
    } else if (state.overlay.welcome.welcomeHover) {
        setCursor(Qt::PointingHandCursor);
    } else {
        setCursor(Qt::ArrowCursor);
    }
}

void MainWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::MiddleButton) {
        ToggleFullscreen();
        return;
    }
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const QPointF position = event->position();
    const FrameHit hit = HitTestFrame(static_cast<int32_t>(position.x()), static_cast<int32_t>(position.y()),
                                      width(), height(), state.windowDpi,
                                      state.fullscreen || isMaximized() ? FrameState::MaximizedOrFullscreen
                                                                        : FrameState::Normal);
    QWindow* handle = windowHandle();
    if (hit != FrameHit::Client) {
        if (handle != nullptr) {
            handle->startSystemResize(EdgesOf(hit));
        }
        return;
    }
    // The press itself is hit-tested: a click without a move before it has no hover state yet.
    welcomePressed =
        WelcomeInteractive(CurrentWelcomeConditions()) &&
        WelcomeButtonHitTest(static_cast<float>(position.x()), static_cast<float>(position.y()),
                             static_cast<float>(canvas->width()), static_cast<float>(canvas->height()),
                             state.windowDpi, std::nullopt);
    if (welcomePressed) {
        return; // the release opens the file dialog
    }
    if (!CanPanNow()) {
        // An image that fits (or no image) cannot be dragged: the press moves the window instead.
        if (!state.fullscreen && handle != nullptr) {
            handle->startSystemMove();
        }
        return;
    }
    view::BeginPan(panDrag, static_cast<float>(position.x()), static_cast<float>(position.y()));
    UpdateCursor(position);
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) {
    const QPointF position = event->position();
    if (panDrag.active) {
        view::PanBy(viewState, panDrag, static_cast<float>(position.x()), static_cast<float>(position.y()),
                    viewHooks);
        Repaint();
    }
    const bool interactive = WelcomeInteractive(CurrentWelcomeConditions());
    const bool overButton =
        interactive &&
        WelcomeButtonHitTest(static_cast<float>(position.x()), static_cast<float>(position.y()),
                             static_cast<float>(canvas->width()), static_cast<float>(canvas->height()),
                             state.windowDpi, std::nullopt);
    OnWelcomePointerMove(state.overlay,
                         interactive ? WelcomeAvailability::Interactive : WelcomeAvailability::Unavailable,
                         overButton, viewHooks);
    UpdateCursor(position);
}

void MainWindow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    if (panDrag.active) {
        view::EndPan(panDrag);
        UpdateCursor(event->position());
        Repaint();
        return;
    }
    if (std::exchange(welcomePressed, false) && WelcomeInteractive(CurrentWelcomeConditions())) {
        ShowOpenFileDialog();
    }
}

void MainWindow::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        ShowOpenFileDialog();
    }
}

void MainWindow::SaveStateToSettings() {
    platform::Settings& settings = platform::GlobalSettings();
    WindowPlacement placement;
    placement.maximized = isMaximized();
    placement.fullScreen = state.fullscreen || isFullScreen();
    const QRect normal = normalGeometry().isValid() ? normalGeometry() : geometry();
    placement.normalX = normal.x();
    placement.normalY = normal.y();
    placement.normalWidth = normal.width();
    placement.normalHeight = normal.height();
    CaptureWindowPlacement(placement, settings);
    settings.showExifPanel = state.showInfoPanel;
    settings.dualView = state.layout.dualView;
    settings.webtoonMode = state.layout.webtoonMode;
    settings.webtoonWidth = static_cast<int32_t>(state.layout.webtoonWidth);
    settings.lastImageFilter = viewState.imageFilter;
    SaveSettings();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    SaveStateToSettings();
    for (auto& [id, timer] : timers) {
        timer.stop();
    }
    setAcceptDrops(false);
    event->accept();
}

// --- Timers -------------------------------------------------------------------------------------

void MainWindow::StartViewTimer(view::ViewTimer timer, uint32_t milliseconds) {
    if (timer == view::ViewTimer::Animation) {
        animationTickRequested = true;
    }
    timers[timer].start(static_cast<int>(std::max<uint32_t>(1, milliseconds)), this);
}

void MainWindow::KillViewTimer(view::ViewTimer timer) {
    if (timer == view::ViewTimer::Animation) {
        animationTickRequested = false;
        if (panelSlide.running) {
            return; // the slide still needs the ticks; its end stops the timer
        }
    }
    const auto found = timers.find(timer);
    if (found != timers.end()) {
        found->second.stop();
    }
}

bool MainWindow::TimerRunning(view::ViewTimer timer) const {
    const auto found = timers.find(timer);
    return found != timers.end() && found->second.isActive();
}

WelcomeConditions MainWindow::CurrentWelcomeConditions() const {
    WelcomeConditions conditions;
    conditions.hasImage = canvas->HasImage();
    conditions.dualView = state.layout.dualView;
    conditions.webtoonMode = state.layout.webtoonMode;
    conditions.loadPending = sources::NavigationPending.load();
    conditions.sourceListEmpty = sources::SourceListCount() == 0;
    conditions.failureShown = !state.overlay.failureNotice.empty();
    return conditions;
}

void MainWindow::StartWelcomeWhenIdle() {
    // Only when the welcome screen is drawn: while an opened image is on its way the animation timer
    // would repaint the whole window every 30 ms for nothing and hold up the image's arrival.
    if (WelcomeDrawn(CurrentWelcomeConditions())) {
        StartWelcomeAnimation(state.overlay, viewHooks);
    }
}

void MainWindow::PaintOverlays(const std::function<QPainter&()>& painter) {
    OverlayFrameContext context;
    context.renderWidth = static_cast<float>(canvas->width());
    context.renderHeight = static_cast<float>(canvas->height());
    context.windowDpi = state.windowDpi;
    context.welcomeDrawn = WelcomeDrawn(CurrentWelcomeConditions());
    context.titleOffset = RegionTop();
    const OverlayPaintInput input =
        PrepareOverlayFrame(state.overlay, context, OverlayTickCount(), viewHooks);
    if (!input.messageText.empty() || input.firstImageNotice || input.lastImageNotice || input.showWelcome ||
        !input.failureText.empty()) {
        app::PaintOverlays(painter(), input);
    }

    // The information panel lies above everything else in the frame.
    if (infoPanel.Resize(canvas->height()) && state.showInfoPanel) {
        DrawInfoPanel();
    }
    const float offset = InfoPanelOffsetNow();
    if (infoPanel.Visible(offset)) {
        infoPanel.Composite(painter(), offset);
    }
}

// --- Information panel --------------------------------------------------------------------------

float MainWindow::InfoPanelOffsetNow() const {
    return InfoPanelOffset(panelSlide, static_cast<float>(infoPanel.Width()), PanelTick());
}

uint32_t MainWindow::PanelTick() const {
    return panelClock ? panelClock() : OverlayTickCount();
}

void MainWindow::SlideInfoPanel() {
    StartInfoPanelSlide(panelSlide, state.showInfoPanel, PanelTick());
    QBasicTimer& tick = timers[view::ViewTimer::Animation];
    if (!tick.isActive()) {
        tick.start(16, this);
    }
    Repaint();
}

void MainWindow::DrawInfoPanel() {
    // Before the first frame the surface does not exist yet: it is made at the client's height.
    infoPanel.Resize(canvas->height());
    infoPanel.Redraw();
}

void MainWindow::RequestCurrentImageInfo() {
    const int32_t index = sources::CurrentIndex.load();
    const sources::ItemPath path = sources::CopyItemPath(index);
    if (!path.empty()) {
        loader::RequestInfo(path, index);
    }
}

void MainWindow::timerEvent(QTimerEvent* event) {
    for (auto& [id, timer] : timers) {
        if (timer.timerId() != event->timerId()) {
            continue;
        }
        if (OnOverlayTimer(state.overlay, id, viewHooks)) {
            return;
        }
        if (id == view::ViewTimer::Animation && panelSlide.running &&
            !AdvanceInfoPanelSlide(panelSlide, PanelTick()) && !animationTickRequested) {
            timer.stop();
        }
        Repaint(); // the panel's slide, the control-bar and progress animations
        return;
    }
    QWidget::timerEvent(event);
}

// --- Keys, commands and the context menu --------------------------------------------------------

void MainWindow::InstallCommandHooks() {
    commandHooks.toggleFullscreen = [this] { ToggleFullscreen(); };
    commandHooks.closeWindow = [this] { close(); };
    commandHooks.showOptions = [this] { ShowOptions(); };
    commandHooks.showAbout = [this] {
        if (dialogs.about) {
            dialogs.about();
        }
    };
    commandHooks.toggleInfoPanel = [this] { ToggleInfoPanel(); };
    commandHooks.setNavigationDirection = [](int32_t direction) {
        sources::NavigationDirection.store(direction);
    };
    commandHooks.goToPage = [](int32_t page) { sources::CallHook(sources::Hooks().goToPage, page); };
    commandHooks.openAdjacentContainer = [this](int32_t direction) { OpenAdjacentContainer(direction); };
    commandHooks.sortCommand = [](uint32_t mode) { sources::SortCommand(mode); };
    commandHooks.saveTitleBarPinned = [](bool pinned) {
        platform::GlobalSettings().titleBarPinned = pinned;
        SaveSettings();
    };
    commandHooks.cancelBatch = [] { sources::CallHook(sources::Hooks().cancelBatch); };
    commandHooks.closeBatchDocument = [] { sources::CallHook(sources::Hooks().closeBatchDocument); };
    commandHooks.prepareBatchDocument = sources::PrepareBatchDocument;
    commandHooks.preparePageDocument = sources::PreparePageDocument;
}

KeyContext MainWindow::SnapshotKeyContext() const {
    KeyContext context;
    context.webtoonMode = state.layout.webtoonMode;
    context.renderTargetReady = canvas->GraphicsReady();
    context.renderHeight = static_cast<float>(canvas->height());
    context.webtoonWidth = state.layout.webtoonWidth;
    context.fullScreen = state.fullscreen;
    context.navigationPending = sources::NavigationPending.load();
    context.pdfPageMode = sources::PdfPageMode.load();
    context.pdfPageCount = sources::PdfPageCount.load();
    context.currentIndex = sources::CurrentIndex.load();
    context.itemCount = static_cast<int32_t>(sources::SourceListCount());
    context.fitMode = static_cast<int32_t>(viewState.fitMode);
    context.zoom = viewState.zoom;
    context.panX = viewState.panX;
    context.panY = viewState.panY;
    context.rotation = viewState.rotation;
    const sources::ItemPath path = sources::CopyItemPath(context.currentIndex);
    context.currentInContainer =
        !path.empty() && IsContainerExtension(decode::GetLowerExtension(ContainerPathOf(path)));
    return context;
}

MenuState MainWindow::SnapshotMenuState() const {
    MenuState menu;
    menu.webtoonMode = state.layout.webtoonMode;
    menu.webtoonWidth = state.layout.webtoonWidth;
    menu.dualView = state.layout.dualView;
    menu.fitMode = static_cast<int32_t>(viewState.fitMode);
    menu.autoOrient = viewState.autoOrient;
    menu.showInfoPanel = state.showInfoPanel;
    menu.fullscreen = state.fullscreen;
    menu.sortMode = sources::SortMode.load();
    return menu;
}

void MainWindow::Execute(const Action& action) {
    ExecuteAction(action, {viewState, state.layout, state.titleBarPinned, viewHooks, commandHooks});
    loader::DualViewShown.store(state.layout.dualView);
}

void MainWindow::RunCommand(int32_t id) {
    Execute(ActionForCommand(id));
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    const Action action = ActionForKey(KeyInputFromEvent(*event), SnapshotKeyContext());
    if (action.operation == Operation::None && action.message.empty()) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    Execute(action);
}

void MainWindow::contextMenuEvent(QContextMenuEvent* event) {
    event->accept();
    ShowContextMenuAt(event->globalPos());
}

void MainWindow::ShowContextMenuAt(const QPoint& globalPosition) {
    if (!dialogs.contextMenu) {
        return;
    }
    const std::optional<CommandId> chosen = dialogs.contextMenu(SnapshotMenuState(), globalPosition);
    if (chosen) {
        RunCommand(static_cast<int32_t>(*chosen));
    }
}

void MainWindow::ShowOptions() {
    if (!dialogs.options) {
        return;
    }
    const OptionsOutcome outcome = dialogs.options();
    state.overlay.welcome.welcomeText = platform::GlobalSettings().welcomeMsg;
    if (ApplyOptionsOutcome(outcome, state.showInfoPanel)) {
        loader::InfoPanelShown.store(state.showInfoPanel);
        SlideInfoPanel();
        if (state.showInfoPanel) {
            // The record may still describe an image seen before the panel was hidden.
            RequestCurrentImageInfo();
            DrawInfoPanel();
        }
    }
}

void MainWindow::ToggleInfoPanel() {
    state.showInfoPanel = !state.showInfoPanel;
    loader::InfoPanelShown.store(state.showInfoPanel);
    if (state.showInfoPanel) {
        RequestCurrentImageInfo();
        DrawInfoPanel();
    }
    SlideInfoPanel();
}

void MainWindow::OpenAdjacentContainer(int32_t direction) {
    const sources::ItemPath path = sources::CopyItemPath(sources::CurrentIndex.load());
    const std::string container(ContainerPathOf(path));
    if (container.empty() || !IsContainerExtension(decode::GetLowerExtension(container))) {
        return;
    }
    const std::string adjacent = sources::GetAdjacent(container, direction);
    if (!adjacent.empty()) {
        sources::OpenPath(adjacent);
    }
}

// --- Drops --------------------------------------------------------------------------------------

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData() != nullptr && event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
    }
}

void MainWindow::dropEvent(QDropEvent* event) {
    // Only the first dropped file counts.
    const QMimeData* data = event->mimeData();
    if (data != nullptr) {
        for (const QUrl& url : data->urls()) {
            if (url.isLocalFile()) {
                OpenDroppedFile(url.toLocalFile().toStdString());
                break;
            }
        }
    }
    event->acceptProposedAction();
}

void MainWindow::OpenDroppedFile(const std::string& path) {
    if (path.empty()) {
        return;
    }
    const std::string extension = decode::GetLowerExtension(path);
    const sources::SourceHooks& hooks = sources::Hooks();
    // A container kind whose reader this build lacks is unsupported, not silently dropped.
    if (decode::IsPdfExtension(extension) && hooks.openPdfDocument) {
        hooks.openPdfDocument(path);
    } else if (decode::IsArchiveExtension(extension) && hooks.openArchive) {
        hooks.openArchive(path, std::string());
    } else if (!extension.empty() && decode::IsImageExtension(extension)) {
        sources::OpenPath(path);
    } else {
        viewHooks.ShowMessage(kUnsupportedDropText, kUnsupportedDropMs);
    }
}

} // namespace app
