// The main window on a real X server: frames read back from the GL canvas, the title, the wheel.

#include "app/loader_feed.h"
#include "app/main_window.h"
#include "app/window_title.h"
#include "loader/loader_threads.h"
#include "platform/settings.h"
#include "platform/settings_registry.h"
#include "sources/source_list.h"
#include "tests/gui/window_test_support.h"
#include "tests/support/exif_block_builder.h"
#include "tests/support/jpeg_writer.h"
#include "tests/support/png_writer.h"
#include "tests/support/test_support.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QMouseEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace {

using testing_support::Rgb;
using testing_support::WaitFor;

void ProcessPending() {
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

struct Grey {
    int red;
    int green;
    int blue;
};

void ExpectPixel(const QImage& frame, int x, int y, Grey expected, int tolerance, const char* what) {
    const QRgb pixel = frame.pixel(x, y);
    EXPECT_NEAR(qRed(pixel), expected.red, tolerance) << what << " at " << x << "," << y;
    EXPECT_NEAR(qGreen(pixel), expected.green, tolerance) << what << " at " << x << "," << y;
    EXPECT_NEAR(qBlue(pixel), expected.blue, tolerance) << what << " at " << x << "," << y;
}

constexpr Grey kBackground{32, 32, 32};
constexpr Grey kLightCell{0xCC, 0xCC, 0xCC};
constexpr Grey kDarkCell{0x99, 0x99, 0x99};

class MainWindowTest : public testing_support::RealWindowTest {
protected:
    // The page turn has ended and the full image (not its preview) of the current item is in view.
    bool FullImageShown() {
        if (sources::NavigationPending || !window->GetCanvas().HasImage() || window->ViewState().isPreview) {
            return false;
        }
        loader::ImageSlot& slot = loader::CurrentImageSlot();
        std::lock_guard lock(slot.mutex);
        return slot.index == sources::CurrentIndex.load() && !slot.preview;
    }

    std::string Title() const { return window->windowTitle().toStdString(); }

    // Opens `path` and waits until its image is in view.
    void OpenAndWait(const std::string& path) {
        sources::OpenPath(path);
        ASSERT_TRUE(WaitFor([this] { return FullImageShown(); }));
    }

    void Wheel(int delta) {
        const QPointF centre(window->width() / 2.0, window->height() / 2.0);
        QWheelEvent event(centre, window->mapToGlobal(centre), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(window.get(), &event);
    }

    QImage Frame() { return window->GetCanvas().grabFramebuffer(); }

    testing_support::TemporaryDirectory folder;
};

TEST_F(MainWindowTest, IsTheDarkBorderlessWindowAndClearsToTheBackgroundGrey) {
    EXPECT_EQ(window->objectName().toStdString(), "SkimoraStd");
    EXPECT_TRUE(window->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(window->width(), 800);
    EXPECT_EQ(window->height(), 800);
    EXPECT_EQ(Title(), app::kInitialWindowTitle);
    const QImage frame = Frame();
    ASSERT_EQ(frame.width(), window->GetCanvas().width());
    ExpectPixel(frame, 10, 10, kBackground, 1, "empty window");
    ExpectPixel(frame, frame.width() / 2, frame.height() / 2, kBackground, 1, "empty window");
}

TEST_F(MainWindowTest, DrawsAJpegUprightAndCentredAtItsDecodedSizeWhenItFits) {
    // Quadrants red, blue / green, white. The JPEG decoder may enlarge a small picture by DCT scaling,
    // so the expected rectangle is the decoded image's size; it fits the window and is not enlarged.
    const auto quadrant = [](uint32_t x, uint32_t y) {
        if (y < 50) {
            return x < 100 ? Rgb{230, 20, 20} : Rgb{20, 20, 230};
        }
        return x < 100 ? Rgb{20, 200, 20} : Rgb{250, 250, 250};
    };
    OpenAndWait(folder.Write(
        "four.jpg",
        testing_support::EncodeJpeg(200, 100, quadrant,
                                    testing_support::JpegOptions(95, testing_support::JpegChroma::Full444))));
    const int width = static_cast<int>(window->GetCanvas().Image().width);
    const int height = static_cast<int>(window->GetCanvas().Image().height);
    ASSERT_EQ(width, height * 2);
    ASSERT_LE(width, 800);
    const QImage frame = Frame();
    const int left = (frame.width() - width) / 2;
    const int top = (frame.height() - height) / 2;
    const int quarterX = width / 4;
    const int quarterY = height / 4;
    ExpectPixel(frame, left + quarterX, top + quarterY, {230, 20, 20}, 12, "top left");
    ExpectPixel(frame, left + 3 * quarterX, top + quarterY, {20, 20, 230}, 12, "top right");
    ExpectPixel(frame, left + quarterX, top + 3 * quarterY, {20, 200, 20}, 12, "bottom left");
    ExpectPixel(frame, left + 3 * quarterX, top + 3 * quarterY, {250, 250, 250}, 12, "bottom right");
    ExpectPixel(frame, left + 2, top + 2, {230, 20, 20}, 16, "just inside the corner");
    ExpectPixel(frame, left - 3, top + quarterY, kBackground, 1, "left of the image");
    ExpectPixel(frame, left + width + 2, top + quarterY, kBackground, 1, "right of the image");
    ExpectPixel(frame, left + quarterX, top + height + 2, kBackground, 1, "below the image");
    ExpectPixel(frame, left + quarterX, top - 3, kBackground, 1, "above the image");
}

TEST_F(MainWindowTest, TurnsTheImageByItsExifOrientation) {
    // Left half red, right half blue, tagged "turn 90 degrees clockwise" (6): red ends on top.
    testing_support::ExifBlockBuilder exif(false);
    exif.Short(testing_support::ExifBlockBuilder::Ifd0, 274, {6});
    std::vector<uint8_t> payload = {'E', 'x', 'i', 'f', 0, 0};
    const std::vector<uint8_t> block = exif.Build();
    payload.insert(payload.end(), block.begin(), block.end());
    const auto halves = [](uint32_t x, uint32_t) { return x < 100 ? Rgb{230, 20, 20} : Rgb{20, 20, 230}; };
    OpenAndWait(folder.Write(
        "turned.jpg", testing_support::EncodeJpeg(
                          200, 100, halves,
                          testing_support::WithSegments(testing_support::JpegOptions(95),
                                                        {testing_support::JpegSegment{0xE1, payload}}))));
    EXPECT_EQ(window->ViewState().orientationRotation, 90.0f);
    const int along = static_cast<int>(window->GetCanvas().Image().width); // now vertical on screen
    const QImage frame = Frame();
    const int centreX = frame.width() / 2;
    const int top = (frame.height() - along) / 2;
    ExpectPixel(frame, centreX, top + along / 4, {230, 20, 20}, 14, "upper half");
    ExpectPixel(frame, centreX, top + 3 * along / 4, {20, 20, 230}, 14, "lower half");
    ExpectPixel(frame, centreX + along / 4 + 4, frame.height() / 2, kBackground, 1,
                "right of the turned image");
}

TEST_F(MainWindowTest, ShowsTheCheckerboardUnderTransparencyScaledWithTheZoom) {
    // 64 × 64: left half fully transparent, right half opaque green.
    std::vector<uint8_t> rgba(64 * 64 * 4, 0);
    for (uint32_t y = 0; y < 64; ++y) {
        for (uint32_t x = 32; x < 64; ++x) {
            uint8_t* pixel = &rgba[(y * 64 + x) * 4];
            pixel[1] = 200;
            pixel[3] = 255;
        }
    }
    OpenAndWait(folder.Write("alpha.png", testing_support::EncodeRgbaPng(64, 64, rgba)));

    QImage frame = Frame();
    int left = (frame.width() - 64) / 2;
    int top = (frame.height() - 64) / 2;
    ExpectPixel(frame, left + 8, top + 8, kLightCell, 2, "cell (0,0)");
    ExpectPixel(frame, left + 24, top + 8, kDarkCell, 2, "cell (1,0)");
    ExpectPixel(frame, left + 8, top + 24, kDarkCell, 2, "cell (0,1)");
    ExpectPixel(frame, left + 24, top + 24, kLightCell, 2, "cell (1,1)");
    ExpectPixel(frame, left + 48, top + 8, {0, 200, 0}, 2, "opaque half");

    // At zoom 2 a cell covers 32 × 32 screen pixels.
    window->ViewState().zoom = 2.0f;
    window->GetCanvas().update();
    frame = Frame();
    left = (frame.width() - 128) / 2;
    top = (frame.height() - 128) / 2;
    ExpectPixel(frame, left + 16, top + 16, kLightCell, 2, "zoomed cell (0,0)");
    ExpectPixel(frame, left + 30, top + 16, kLightCell, 2, "zoomed cell (0,0), right edge");
    ExpectPixel(frame, left + 34, top + 16, kDarkCell, 2, "zoomed cell (1,0)");
    ExpectPixel(frame, left + 16, top + 48, kDarkCell, 2, "zoomed cell (0,1)");
}

TEST_F(MainWindowTest, SamplesNearestOrLinearByInterpolationMode) {
    // A black and a white pixel enlarged 100 times: nearest keeps two flat halves, linear blends them.
    const std::vector<uint8_t> rgba = {0, 0, 0, 255, 255, 255, 255, 255};
    OpenAndWait(folder.Write("pair.png", testing_support::EncodeRgbaPng(2, 1, rgba)));
    view::ViewState& state = window->ViewState();
    state.zoom = 100.0f;

    state.interpolationMode = 0;
    window->GetCanvas().update();
    QImage frame = Frame();
    const int centreX = frame.width() / 2;
    const int centreY = frame.height() / 2;
    ExpectPixel(frame, centreX - 10, centreY, {0, 0, 0}, 1, "nearest, left of the seam");
    ExpectPixel(frame, centreX + 10, centreY, {255, 255, 255}, 1, "nearest, right of the seam");

    state.interpolationMode = 1;
    window->GetCanvas().update();
    frame = Frame();
    const int blended = qRed(frame.pixel(centreX - 10, centreY));
    EXPECT_GT(blended, 60);
    EXPECT_LT(blended, 195);

    // Cubic stays between black and white and rises across the seam.
    state.interpolationMode = 2;
    window->GetCanvas().update();
    frame = Frame();
    EXPECT_LT(qRed(frame.pixel(centreX - 30, centreY)), qRed(frame.pixel(centreX + 30, centreY)));
}

TEST_F(MainWindowTest, AppliesSoftenSharpenInversionAndGamma) {
    // 64 × 32 opaque: grey 100 on the left half, grey 150 on the right.
    std::vector<uint8_t> rgba(64 * 32 * 4, 255);
    for (uint32_t y = 0; y < 32; ++y) {
        for (uint32_t x = 0; x < 64; ++x) {
            const uint8_t level = x < 32 ? 100 : 150;
            std::fill_n(&rgba[(y * 64 + x) * 4], 3, level);
        }
    }
    OpenAndWait(folder.Write("steps.png", testing_support::EncodeRgbaPng(64, 32, rgba)));
    view::ViewState& state = window->ViewState();
    const auto redAt = [this](int imageX) {
        const QImage frame = Frame();
        return qRed(frame.pixel((frame.width() - 64) / 2 + imageX, frame.height() / 2));
    };
    EXPECT_NEAR(redAt(31), 100, 1);
    EXPECT_NEAR(redAt(32), 150, 1);

    state.imageFilter = 2; // sharpen: 5 × centre minus the four neighbours
    EXPECT_NEAR(redAt(31), 50, 2);
    EXPECT_NEAR(redAt(32), 200, 2);
    EXPECT_NEAR(redAt(16), 100, 1);

    state.imageFilter = 1; // soften: the step becomes a ramp
    const int beforeStep = redAt(30);
    const int afterStep = redAt(33);
    EXPECT_GT(beforeStep, 102);
    EXPECT_LT(afterStep, 148);
    EXPECT_LT(beforeStep, afterStep);
    EXPECT_NEAR(redAt(16), 100, 1);

    state.imageFilter = 0;
    state.invertColors = true;
    EXPECT_NEAR(redAt(16), 155, 1);
    EXPECT_NEAR(redAt(48), 105, 1);

    state.invertColors = false;
    state.gammaBoost = true; // (100 / 255)^0.8 = 0.473
    EXPECT_NEAR(redAt(16), 121, 2);
}

TEST_F(MainWindowTest, TitleNamesFolderFilePositionAndTheWheelTurnsPages) {
    const auto jpeg = [](uint8_t shade) {
        return testing_support::EncodeJpeg(40, 30, [shade](uint32_t, uint32_t) {
            return Rgb{shade, shade, shade};
        });
    };
    const std::string first = folder.Write("cats/a.jpg", jpeg(40));
    folder.Write("cats/b.jpg", jpeg(120));
    folder.Write("cats/c.jpg", jpeg(200));
    folder.Write("cats/notes.txt", std::string("not an image"));

    OpenAndWait(first);
    EXPECT_EQ(Title(), "cats/a.jpg [1/3] - 스키모라");

    Wheel(-120);
    EXPECT_EQ(Title(), "cats/b.jpg [2/3] - 스키모라");
    // A second turn before the first image arrived is ignored.
    Wheel(-120);
    EXPECT_EQ(Title(), "cats/b.jpg [2/3] - 스키모라");
    ASSERT_TRUE(WaitFor([this] { return FullImageShown(); }));
    const QImage frame = Frame();
    ExpectPixel(frame, frame.width() / 2, frame.height() / 2, {120, 120, 120}, 6, "b.jpg in view");

    Wheel(-120);
    ASSERT_TRUE(WaitFor([this] { return FullImageShown(); }));
    EXPECT_EQ(Title(), "cats/c.jpg [3/3] - 스키모라");
    Wheel(-120); // past the end: stays
    ProcessPending();
    EXPECT_EQ(Title(), "cats/c.jpg [3/3] - 스키모라");

    Wheel(120);
    ASSERT_TRUE(WaitFor([this] { return FullImageShown(); }));
    EXPECT_EQ(Title(), "cats/b.jpg [2/3] - 스키모라");

    // A horizontal scroll (no vertical delta) turns nothing.
    Wheel(0);
    ProcessPending();
    EXPECT_EQ(Title(), "cats/b.jpg [2/3] - 스키모라");
}

TEST_F(MainWindowTest, AnUnreadableItemIsNamedWithoutAStalePictureAndDoesNotBlockTheNextTurn) {
    const std::string first = folder.Write(
        "set/1.jpg", testing_support::EncodeJpeg(16, 16, [](uint32_t, uint32_t) { return Rgb{}; }));
    folder.Write("set/2.jpg", std::string(500, '\x55'));
    folder.Write("set/3.jpg", testing_support::EncodeJpeg(16, 16, [](uint32_t, uint32_t) { return Rgb{}; }));
    OpenAndWait(first);

    Wheel(-120);
    EXPECT_EQ(Title(), "set/2.jpg [2/3] - 스키모라");
    ASSERT_TRUE(WaitFor([] { return !sources::NavigationPending; }));
    EXPECT_FALSE(window->GetCanvas().HasImage()); // the previous image does not pose as this one
    EXPECT_EQ(window->FailureNotice(),
              "이미지를 열 수 없습니다\n2.jpg\n손상되었거나 디코딩할 수 없는 이미지입니다");
    Wheel(-120);
    EXPECT_EQ(Title(), "set/3.jpg [3/3] - 스키모라");
    ASSERT_TRUE(WaitFor([this] { return window->GetCanvas().HasImage(); }));
    EXPECT_EQ(window->FailureNotice(), "");
}

TEST_F(MainWindowTest, CtrlWheelZoomsInsteadOfTurning) {
    const auto jpeg = testing_support::EncodeJpeg(16, 16, [](uint32_t, uint32_t) { return Rgb{}; });
    const std::string first = folder.Write("z/1.jpg", jpeg);
    folder.Write("z/2.jpg", jpeg);
    OpenAndWait(first);
    const QPointF centre(window->width() / 2.0, window->height() / 2.0);
    QWheelEvent zoomIn(centre, window->mapToGlobal(centre), QPoint(), QPoint(0, 120), Qt::NoButton,
                       Qt::ControlModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(window.get(), &zoomIn);
    EXPECT_NEAR(window->ViewState().zoom, 1.1f, 1e-5f);
    QWheelEvent zoomOut(centre, window->mapToGlobal(centre), QPoint(), QPoint(0, -120), Qt::NoButton,
                        Qt::ControlModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(window.get(), &zoomOut);
    QCoreApplication::sendEvent(window.get(), &zoomOut);
    EXPECT_NEAR(window->ViewState().zoom, 1.0f / 1.1f, 1e-5f);
    EXPECT_EQ(Title(), "z/1.jpg [1/2] - 스키모라");
}

TEST_F(MainWindowTest, MiddleButtonTogglesFullScreenAndBack) {
    const auto middle = [this] {
        const QPointF point(100, 100);
        QMouseEvent press(QEvent::MouseButtonPress, point, window->mapToGlobal(point), Qt::MiddleButton,
                          Qt::MiddleButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window.get(), &press);
    };
    window->showMaximized();
    middle();
    EXPECT_TRUE(window->State().fullscreen);
    EXPECT_TRUE(window->windowState() & Qt::WindowFullScreen);
    middle();
    EXPECT_FALSE(window->State().fullscreen);
    EXPECT_FALSE(window->windowState() & Qt::WindowFullScreen);
    EXPECT_TRUE(window->windowState() & Qt::WindowMaximized);
}

TEST_F(MainWindowTest, ClosingSavesThePlacementThatTheNextWindowRestores) {
    platform::GlobalSettings().rememberWindowPos = true;
    window->setGeometry(100, 120, 640, 480);
    ProcessPending();
    window->close();
    const platform::Settings saved = platform::GlobalSettings();
    EXPECT_EQ(saved.windowX, 100);
    EXPECT_EQ(saved.windowY, 120);
    EXPECT_EQ(saved.windowW, 640);
    EXPECT_EQ(saved.windowH, 480);
    EXPECT_FALSE(saved.windowMaximized);
    const std::vector<uint8_t> file =
        testing_support::ReadFileBytes(platform::SettingsRegistry::DefaultPath());
    const std::string text(file.begin(), file.end());
    EXPECT_NE(text.find("\"WindowX\"=dword:00000064"), std::string::npos) << text;

    loader::StopLoaderThreads();
    window.reset(); // one main window at a time
    window = std::make_unique<app::MainWindow>(app::LoaderImageFeed(), 96);
    window->PlaceAndShow();
    ASSERT_TRUE(WaitFor([this] { return window->isVisible(); }));
    EXPECT_EQ(window->geometry(), QRect(100, 120, 640, 480));
}

TEST_F(MainWindowTest, AWheelTurnOverAnEmptyWindowOpensTheFileDialogOnce) {
    const std::string path = folder.Write(
        "pick/x.jpg", testing_support::EncodeJpeg(16, 16, [](uint32_t, uint32_t) { return Rgb{}; }));
    int asked = 0;
    window->SetFileChooser([&](const std::string&) {
        ++asked;
        // The dialog pumps events: a second request meanwhile must not open another one.
        window->ShowOpenFileDialog();
        return path;
    });
    Wheel(-120);
    EXPECT_EQ(asked, 1);
    ASSERT_TRUE(WaitFor([this] { return window->GetCanvas().HasImage(); }));
    EXPECT_EQ(Title(), "pick/x.jpg [1/1] - 스키모라");
}

} // namespace
