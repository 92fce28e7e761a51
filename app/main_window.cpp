#include "app/main_window.h"

#include "app/frame_hit_test.h"
#include "app/settings_store.h"
#include "app/window_placement.h"
#include "app/window_title.h"
#include "decode/format_registry.h"
#include "info/exif_orientation.h"
#include "platform/qt/qt_window_messages.h"
#include "platform/settings.h"
#include "sources/navigation.h"
#include "sources/source_list.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QScreen>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QWindow>

namespace app {

namespace {

constexpr QRgb kWindowBackground = 0x202020;

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
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint), feed(std::move(feed)) {
    setObjectName("SkimoraStd");
    setWindowTitle(QString::fromUtf8(kInitialWindowTitle));
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor::fromRgb(kWindowBackground));
    setPalette(palette);
    setAutoFillBackground(true);
    setMouseTracking(true);
    setAcceptDrops(false);

    state.windowDpi = windowDpi == 0 ? 96 : windowDpi;
    const platform::Settings& settings = platform::GlobalSettings();
    state.titleBarPinned = settings.titleBarPinned;
    state.showInfoPanel = settings.showExifPanel;
    state.layout.dualView = settings.dualView;
    state.layout.webtoonWidth = settings.webtoonWidth > 0 ? static_cast<uint32_t>(settings.webtoonWidth) : 0;
    viewState.imageFilter = settings.lastImageFilter;
    viewState.interpolationMode =
        settings.interpolationMode >= 0 && settings.interpolationMode <= 3 ? settings.interpolationMode : 1;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        state.screenWidth = screen->geometry().width();
        state.screenHeight = screen->geometry().height();
    }

    canvas = new Canvas({&viewState, [this] { return RegionTop(); }}, this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(canvas);

    fileChooser = [this] {
        return QFileDialog::getOpenFileName(this, QString(), QString(),
                                            QString::fromStdString(OpenFileFilter()))
            .toStdString();
    };
    InstallHooks();
}

MainWindow::~MainWindow() {
    platform::RemoveQtWindowMessageSink();
    sources::SetSourceHooks({});
}

void MainWindow::InstallHooks() {
    viewHooks.repaint = [this] { Repaint(); };
    viewHooks.updateWindowTitle = [this] { UpdateWindowTitle(); };
    viewHooks.requestLoad = [] { sources::CallHook(sources::Hooks().requestLoad); };
    viewHooks.wakePrefetch = [] { sources::CallHook(sources::Hooks().wakePrefetch); };

    sources::SourceHooks hooks;
    if (feed.connectSourceHooks) {
        feed.connectSourceHooks(hooks);
    }
    hooks.isDualView = [this] { return state.layout.dualView; };
    hooks.isWebtoonMode = [this] { return state.layout.webtoonMode; };
    hooks.resetView = [this] { view::ResetForNewImage(viewState); };
    hooks.updateWindowTitle = [this] { UpdateWindowTitle(); };
    hooks.repaint = [this] { Repaint(); };
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
    const std::string path = fileChooser ? fileChooser() : std::string();
    if (!path.empty()) {
        sources::OpenPath(path);
    }
    openDialogBusy = false;
}

void MainWindow::OnImageReady() {
    sources::NavigationPending.store(false);
    const ShownImage shown = feed.currentImage ? feed.currentImage() : ShownImage{};
    // The raster stays as stored; the view turns it by the file's EXIF orientation. Archive entries
    // and PDF pages are shown as decoded.
    // The preview and the full image of one item arrive one after the other: the file is read once.
    const sources::ItemPath path = sources::CopyItemPath(sources::CurrentIndex.load());
    if (path != orientationPath) {
        orientationPath = path;
        orientationCode =
            !path.empty() && !sources::IsContainerItem(path) ? info::ReadExifOrientation(path) : 1;
    }
    viewState.orientationRotation = view::OrientationRotationFromExif(static_cast<int>(orientationCode));
    if (decode::IsValidImage(shown.image)) {
        viewState.isPreview = shown.preview;
        canvas->SetImage(shown.image);
    }
    UpdateWindowTitle();
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
        case platform::WindowMessage::BatchItem:
        case platform::WindowMessage::InfoReady:
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
    const decode::DecodedImage& image = canvas->Image();
    return view::CanPan(viewState, static_cast<float>(image.width), static_cast<float>(image.height),
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
    UpdateCursor(position);
}

void MainWindow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && panDrag.active) {
        view::EndPan(panDrag);
        UpdateCursor(event->position());
        Repaint();
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
    event->accept();
}

} // namespace app
