// Keys, context-menu commands, the options and about commands and dropped files on the real main
// window: each input goes through the window's own event handling.

#include "app/commands.h"
#include "app/loader_feed.h"
#include "app/main_window.h"
#include "loader/loader_threads.h"
#include "platform/settings.h"
#include "platform/settings_registry.h"
#include "sources/source_list.h"
#include "tests/gui/window_test_support.h"
#include "tests/support/jpeg_writer.h"
#include "tests/support/png_writer.h"
#include "tests/support/test_support.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QImage>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>

#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>

namespace {

using testing_support::WaitFor;

std::string SettingsFileText() {
    const std::vector<uint8_t> bytes =
        testing_support::ReadFileBytes(platform::SettingsRegistry::DefaultPath());
    return {bytes.begin(), bytes.end()};
}

class WindowCommandsTest : public testing_support::RealWindowTest {
protected:
    void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QKeyEvent event(QEvent::KeyPress, key, modifiers);
        QCoreApplication::sendEvent(window.get(), &event);
    }

    void Drop(const QList<QUrl>& urls) {
        QMimeData data;
        data.setUrls(urls);
        const QPointF point(100, 100);
        QDropEvent event(point, Qt::CopyAction, &data, Qt::NoButton, Qt::NoModifier);
        // Straight to the window: the application only routes drops that a drag session started.
        static_cast<QObject*>(window.get())->event(&event);
    }

    std::string ImageFile(const std::string& name) {
        return folder.Write(name, testing_support::EncodeJpeg(24, 16, [](uint32_t, uint32_t) {
                                return testing_support::Rgb{90, 90, 90};
                            }));
    }

    testing_support::TemporaryDirectory folder;
};

TEST_F(WindowCommandsTest, RotationKeysWrapAndTheRotateCommandTurnsRelative) {
    view::ViewState& state = window->ViewState();
    state.rotation = 355;
    Key(Qt::Key_R);
    EXPECT_EQ(state.rotation, 0.0f);
    state.rotation = 355;
    window->RunCommand(static_cast<int32_t>(app::CommandId::RotateRight));
    EXPECT_EQ(state.rotation, 85.0f);
    state.rotation = 5;
    Key(Qt::Key_E);
    EXPECT_EQ(state.rotation, 270.0f);
    Key(Qt::Key_Up, Qt::AltModifier);
    EXPECT_EQ(state.rotation, 0.0f);
    Key(Qt::Key_R, Qt::AltModifier);
    EXPECT_EQ(state.rotation, 10.0f);
}

TEST_F(WindowCommandsTest, CorrectionAndFilterKeys) {
    view::ViewState& state = window->ViewState();
    Key(Qt::Key_S);
    EXPECT_EQ(state.imageFilter, 2);
    Key(Qt::Key_I, Qt::ControlModifier); // inverts; the filter stays
    EXPECT_TRUE(state.invertColors);
    EXPECT_EQ(state.imageFilter, 2);
    Key(Qt::Key_I);
    EXPECT_EQ(state.imageFilter, 1);
    EXPECT_TRUE(state.invertColors);
    Key(Qt::Key_G, Qt::ControlModifier);
    EXPECT_TRUE(state.gammaBoost);
    Key(Qt::Key_U);
    EXPECT_EQ(state.imageFilter, 0);
    Key(Qt::Key_F5);
    EXPECT_EQ(state.interpolationMode, 0);
}

TEST_F(WindowCommandsTest, FlipAndFullScreenKeysAndEscInsideAndOutsideFullScreen) {
    view::ViewState& state = window->ViewState();
    Key(Qt::Key_F, Qt::ControlModifier); // flips, no full screen
    EXPECT_TRUE(state.flipVertical);
    EXPECT_FALSE(window->State().fullscreen);
    Key(Qt::Key_H);
    EXPECT_TRUE(state.flipHorizontal);

    Key(Qt::Key_F);
    EXPECT_TRUE(window->State().fullscreen);
    EXPECT_TRUE(window->windowState() & Qt::WindowFullScreen);
    // A changed zoom: Esc only resets the view and stays in full screen.
    state.zoom = 1.1f;
    state.panX = 12;
    Key(Qt::Key_Escape);
    EXPECT_EQ(state.zoom, 1.0f);
    EXPECT_EQ(state.panX, 0.0f);
    EXPECT_TRUE(window->State().fullscreen);
    // The reset view: Esc leaves full screen, and the window stays.
    Key(Qt::Key_Escape);
    EXPECT_FALSE(window->State().fullscreen);
    EXPECT_FALSE(window->windowState() & Qt::WindowFullScreen);
    EXPECT_TRUE(window->isVisible());
    // Outside full screen with the reset view Esc ends the program (closes the window).
    Key(Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(WindowCommandsTest, TheGraveKeyPinsTheTitleBarAndSavesAtOnce) {
    EXPECT_FALSE(window->State().titleBarPinned);
    Key(Qt::Key_QuoteLeft);
    EXPECT_TRUE(window->State().titleBarPinned);
    EXPECT_TRUE(platform::GlobalSettings().titleBarPinned);
    EXPECT_NE(SettingsFileText().find("\"TitleBarPinned\"=dword:00000001"), std::string::npos);
    Key(Qt::Key_AsciiTilde, Qt::ShiftModifier);
    EXPECT_FALSE(window->State().titleBarPinned);
    EXPECT_NE(SettingsFileText().find("\"TitleBarPinned\"=dword:00000000"), std::string::npos);
}

TEST_F(WindowCommandsTest, ContextMenuOptionsAboutAndExitCommands) {
    std::optional<app::CommandId> answer = app::CommandId::ToggleFullscreen;
    app::MenuState seen;
    window->Dialogs().contextMenu = [&](const app::MenuState& state, const QPoint&) {
        seen = state;
        return answer;
    };
    const QPoint point(50, 60);
    QContextMenuEvent click(QContextMenuEvent::Mouse, point, window->mapToGlobal(point));
    QCoreApplication::sendEvent(window.get(), &click);
    EXPECT_TRUE(window->State().fullscreen);
    EXPECT_FALSE(seen.fullscreen); // the snapshot was taken before the command
    answer = std::nullopt;         // dismissed: nothing happens
    QContextMenuEvent key(QContextMenuEvent::Keyboard, point, window->mapToGlobal(point));
    QCoreApplication::sendEvent(window.get(), &key);
    EXPECT_TRUE(seen.fullscreen);
    EXPECT_TRUE(window->State().fullscreen);

    // The options dialog saved a changed "ShowExifPanel": the panel follows it.
    int optionsRuns = 0;
    window->Dialogs().options = [&] {
        ++optionsRuns;
        return app::OptionsOutcome{true, true, true};
    };
    window->RunCommand(static_cast<int32_t>(app::CommandId::Options));
    EXPECT_EQ(optionsRuns, 1);
    EXPECT_TRUE(window->State().showInfoPanel);
    EXPECT_TRUE(loader::InfoPanelShown.load());
    window->Dialogs().options = [] { return app::OptionsOutcome{}; }; // cancelled: unchanged
    window->RunCommand(static_cast<int32_t>(app::CommandId::Options));
    EXPECT_TRUE(window->State().showInfoPanel);

    int aboutRuns = 0;
    window->Dialogs().about = [&] { ++aboutRuns; };
    window->RunCommand(static_cast<int32_t>(app::CommandId::About));
    EXPECT_EQ(aboutRuns, 1);
    window->RunCommand(12345); // no such command
    EXPECT_TRUE(window->isVisible());
    window->RunCommand(static_cast<int32_t>(app::CommandId::Exit));
    EXPECT_FALSE(window->isVisible());
}

TEST_F(WindowCommandsTest, DropOpensOnlyTheFirstFileAndRejectsUnknownTypes) {
    const std::string first = ImageFile("drop/a.jpg");
    const std::string other = ImageFile("elsewhere/b.jpg");
    Drop({QUrl::fromLocalFile(QString::fromStdString(first)),
          QUrl::fromLocalFile(QString::fromStdString(other)),
          QUrl::fromLocalFile(QString::fromStdString(other))});
    ASSERT_TRUE(WaitFor([this] { return window->GetCanvas().HasImage(); }));
    EXPECT_EQ(sources::SourceListCount(), 1u);
    EXPECT_EQ(sources::CopyItemPath(sources::CurrentIndex.load()), first);
    EXPECT_EQ(window->windowTitle().toStdString(), "drop/a.jpg [1/1] - 스키모라");

    const std::string text = folder.Write("drop/readme.txt", std::string("text"));
    Drop({QUrl::fromLocalFile(QString::fromStdString(text))});
    EXPECT_EQ(window->State().overlay.message.messageText, "지원하지 않는 파일 형식입니다");
    EXPECT_EQ(window->State().overlay.message.messageDuration, 2000u);
    EXPECT_TRUE(window->TimerRunning(view::ViewTimer::Message));
    EXPECT_EQ(sources::CopyItemPath(sources::CurrentIndex.load()), first); // nothing else changed

    // Archives and PDF documents go to their openers, with no entry to select.
    std::vector<std::string> opened;
    sources::SourceHooks hooks = sources::Hooks();
    hooks.openArchive = [&](const std::string& path, const std::string& entry) {
        opened.push_back("archive " + path + " [" + entry + "]");
    };
    hooks.openPdfDocument = [&](const std::string& path) { opened.push_back("pdf " + path); };
    sources::SetSourceHooks(hooks);
    Drop({QUrl::fromLocalFile("/data/Comics.CBZ")});
    Drop({QUrl::fromLocalFile("/data/paper.pdf")});
    EXPECT_EQ(opened, (std::vector<std::string>{"archive /data/Comics.CBZ []", "pdf /data/paper.pdf"}));
    // Without an opener for the kind, the drop is refused with the message rather than ignored.
    hooks.openArchive = nullptr;
    sources::SetSourceHooks(hooks);
    window->State().overlay.message.messageText.clear();
    Drop({QUrl::fromLocalFile("/data/other.zip")});
    EXPECT_EQ(window->State().overlay.message.messageText, "지원하지 않는 파일 형식입니다");
}

TEST_F(WindowCommandsTest, EdgeNoticesAndTheWelcomeTimerFollowTheImages) {
    window->StartWelcomeWhenIdle();
    EXPECT_TRUE(window->TimerRunning(view::ViewTimer::Welcome));
    const std::string first = ImageFile("edge/1.jpg");
    ImageFile("edge/2.jpg");
    sources::OpenPath(first);
    ASSERT_TRUE(WaitFor([this] { return window->GetCanvas().HasImage(); }));
    EXPECT_FALSE(window->TimerRunning(view::ViewTimer::Welcome));
    EXPECT_TRUE(window->State().overlay.edgeNotices.firstImageNotice);
    EXPECT_TRUE(window->TimerRunning(view::ViewTimer::FirstNotice));
}

// The resize border of the borderless frame, read through the cursor the window shows over it.
TEST(WindowFrame, ResizeBorderIsEightPixelsAt96DpiAndTwelveAt144) {
    for (const auto& [dpi, border] : {std::pair{96u, 8}, std::pair{144u, 12}}) {
        platform::GlobalSettings() = platform::Settings{};
        app::MainWindow window(app::ImageFeed{}, dpi);
        window.PlaceAndShow();
        ASSERT_TRUE(WaitFor([&] { return window.isVisible(); }));
        const auto cursorAt = [&](int x, int y) {
            const QPointF point(x, y);
            QMouseEvent move(QEvent::MouseMove, point, window.mapToGlobal(point), Qt::NoButton, Qt::NoButton,
                             Qt::NoModifier);
            QCoreApplication::sendEvent(&window, &move);
            return window.cursor().shape();
        };
        const int right = window.width() - 1;
        const int bottom = window.height() - 1;
        EXPECT_EQ(cursorAt(border - 1, 300), Qt::SizeHorCursor) << dpi;
        EXPECT_EQ(cursorAt(border, 300), Qt::ArrowCursor) << dpi;
        EXPECT_EQ(cursorAt(right - border + 1, 300), Qt::SizeHorCursor) << dpi;
        EXPECT_EQ(cursorAt(300, border - 1), Qt::SizeVerCursor) << dpi;
        EXPECT_EQ(cursorAt(300, bottom - border), Qt::ArrowCursor) << dpi;
        EXPECT_EQ(cursorAt(2, 2), Qt::SizeFDiagCursor) << dpi;
        EXPECT_EQ(cursorAt(right - 2, 2), Qt::SizeBDiagCursor) << dpi;
        EXPECT_EQ(cursorAt(2, bottom - 2), Qt::SizeBDiagCursor) << dpi;
        window.showFullScreen();
        window.State().fullscreen = true;
        EXPECT_EQ(cursorAt(1, 300), Qt::ArrowCursor) << dpi << ", full screen has no border";
    }
}

} // namespace

namespace {

// Pixels of `frame` inside `area` that differ from the background grey.
int DrawnPixels(const QImage& frame, const QRect& area) {
    int drawn = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb pixel = frame.pixel(x, y);
            if (std::abs(qRed(pixel) - 32) > 8 || std::abs(qGreen(pixel) - 32) > 8 ||
                std::abs(qBlue(pixel) - 32) > 8) {
                ++drawn;
            }
        }
    }
    return drawn;
}

TEST_F(WindowCommandsTest, PaintsTheWelcomeScreenAndTimedMessagesOverTheFrame) {
    QImage frame = window->GetCanvas().grabFramebuffer();
    const int width = frame.width();
    const int height = frame.height();
    EXPECT_GT(DrawnPixels(frame, QRect(width / 4, height / 2 - 40, width / 2, 80)), 50) << "welcome line";
    const QRect topRight(width - 300, 0, 300, 100);
    EXPECT_EQ(DrawnPixels(frame, topRight), 0);

    const std::string text = folder.Write("m/readme.txt", std::string("text"));
    window->OpenDroppedFile(text);
    frame = window->GetCanvas().grabFramebuffer();
    EXPECT_GT(DrawnPixels(frame, topRight), 50) << "the unsupported-type message";
}

} // namespace

namespace {

TEST(CanvasSampling, HighQualityCubicReadsTheMipLevelThatShrinksByLessThanTwo) {
    EXPECT_EQ(app::MipLevelFor(1.0f, 512, 512), 0u);
    EXPECT_EQ(app::MipLevelFor(2.5f, 512, 512), 0u);
    EXPECT_EQ(app::MipLevelFor(0.6f, 512, 512), 0u);
    EXPECT_EQ(app::MipLevelFor(0.5f, 512, 512), 1u);
    EXPECT_EQ(app::MipLevelFor(0.26f, 512, 512), 1u);
    EXPECT_EQ(app::MipLevelFor(0.25f, 512, 512), 2u);
    EXPECT_EQ(app::MipLevelFor(0.001f, 512, 8), 3u); // never past the last level of the short side
    EXPECT_EQ(app::MipLevelFor(0.0f, 512, 512), 0u);
    // A quarter-turned, half-size image: half a screen pixel per texel whatever the rotation.
    const view::Matrix3x2 turned{0, 0.5f, -0.5f, 0, 300, 10};
    EXPECT_NEAR(app::ScreenPixelsPerTexel(turned, 1000, 1000), 0.5f, 1e-6f);
    EXPECT_NEAR(app::ScreenPixelsPerTexel(turned, 1000, 500), 1.0f, 1e-6f); // a reduced texture
}

TEST_F(WindowCommandsTest, HighQualityCubicShrinksFineStripesToEvenGrey) {
    // One-pixel black and white columns shrunk four times: a prefiltered shrink gives mid grey
    // everywhere, where point-sampled cubic would alias into bands.
    std::vector<uint8_t> rgba(256 * 256 * 4, 255);
    for (uint32_t y = 0; y < 256; ++y) {
        for (uint32_t x = 0; x < 256; x += 2) {
            std::fill_n(&rgba[(y * 256 + x) * 4], 3, uint8_t{0});
        }
    }
    sources::OpenPath(folder.Write("stripes/s.png", testing_support::EncodeRgbaPng(256, 256, rgba)));
    ASSERT_TRUE(WaitFor([this] {
        loader::ImageSlot& slot = loader::CurrentImageSlot();
        std::lock_guard lock(slot.mutex);
        return window->GetCanvas().HasImage() && !window->ViewState().isPreview &&
               !sources::NavigationPending && slot.index == sources::CurrentIndex.load() && !slot.preview;
    }));
    window->ViewState().zoom = 0.25f;
    window->ViewState().interpolationMode = 3;
    window->GetCanvas().update();
    const QImage frame = window->GetCanvas().grabFramebuffer();
    const int centreX = frame.width() / 2;
    const int centreY = frame.height() / 2;
    for (int dx = -28; dx <= 28; dx += 3) {
        EXPECT_NEAR(qRed(frame.pixel(centreX + dx, centreY)), 128, 24) << dx;
    }
}

} // namespace

namespace {

TEST(CanvasTiles, SplitCoversTheBitmapRowByRowWithinTheLimit) {
    const std::vector<app::TileRect> tiles = app::SplitIntoTiles(300, 130, 128);
    ASSERT_EQ(tiles.size(), 6u);
    EXPECT_EQ(tiles[0].x, 0u);
    EXPECT_EQ(tiles[1].x, 128u);
    EXPECT_EQ(tiles[2].width, 44u); // 300 - 256
    EXPECT_EQ(tiles[3].y, 128u);
    EXPECT_EQ(tiles[3].height, 2u);
    uint64_t area = 0;
    for (const app::TileRect& tile : tiles) {
        EXPECT_LE(tile.width, 128u);
        EXPECT_LE(tile.height, 128u);
        area += uint64_t{tile.width} * tile.height;
    }
    EXPECT_EQ(area, 300u * 130u);
    EXPECT_EQ(app::SplitIntoTiles(64, 64, 64).size(), 1u);
    EXPECT_TRUE(app::SplitIntoTiles(0, 10, 64).empty());
}

TEST_F(WindowCommandsTest, ATiledImageLooksLikeTheSingleTextureUnderEveryFilter) {
    // Smooth colour ramps with a transparent corner: any seam, offset or clamp at a tile edge shows.
    std::vector<uint8_t> rgba(300 * 180 * 4);
    for (uint32_t y = 0; y < 180; ++y) {
        for (uint32_t x = 0; x < 300; ++x) {
            uint8_t* pixel = &rgba[(y * 300 + x) * 4];
            pixel[0] = static_cast<uint8_t>(x * 255 / 299);
            pixel[1] = static_cast<uint8_t>(y * 255 / 179);
            pixel[2] = static_cast<uint8_t>((x + y) % 256);
            pixel[3] = x < 40 && y < 40 ? 0 : 255;
        }
    }
    sources::OpenPath(folder.Write("tiles/t.png", testing_support::EncodeRgbaPng(300, 180, rgba)));
    ASSERT_TRUE(WaitFor([this] { return window->GetCanvas().HasImage() && !sources::NavigationPending; }));
    app::Canvas& canvas = window->GetCanvas();
    view::ViewState& state = window->ViewState();
    state.zoom = 2.0f;
    const auto render = [&](uint32_t maxTile) {
        canvas.SetMaxTileSize(maxTile);
        canvas.update();
        return canvas.grabFramebuffer();
    };
    for (const int32_t filter : {0, 1, 2}) {
        for (const int32_t mode : {0, 1, 2}) {
            state.imageFilter = filter;
            state.interpolationMode = mode;
            const QImage single = render(0);
            EXPECT_EQ(canvas.TileCount(), 1u);
            const QImage tiled = render(64); // 48-pixel cores inside 8-pixel aprons: 7 × 4 tiles
            EXPECT_EQ(canvas.TileCount(), 28u);
            ASSERT_EQ(single.size(), tiled.size());
            int worst = 0;
            for (int y = 0; y < single.height(); y += 3) {
                for (int x = 0; x < single.width(); x += 3) {
                    const QRgb a = single.pixel(x, y);
                    const QRgb b = tiled.pixel(x, y);
                    worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                      std::abs(qBlue(a) - qBlue(b))});
                }
            }
            // The aprons hide the tile edges: at most rounding differs.
            EXPECT_LE(worst, 1) << "filter " << filter << ", mode " << mode;
        }
    }
}

} // namespace

namespace {

TEST_F(WindowCommandsTest, StripWidthCommandsPlaceTheWindowOnTheWorkArea) {
    window->RunCommand(static_cast<int32_t>(app::CommandId::Webtoon760));
    EXPECT_TRUE(window->State().layout.webtoonMode);
    EXPECT_EQ(window->State().layout.webtoonWidth, 760u);
    ASSERT_TRUE(WaitFor([this] { return window->width() == 780; }));
    const QRect work = window->screen()->availableGeometry();
    EXPECT_EQ(window->height(), work.height() - 80);
    EXPECT_EQ(window->y(), work.top() + 40);
    EXPECT_EQ(window->x(), work.left() + (work.width() - 780) / 2);
}

} // namespace
