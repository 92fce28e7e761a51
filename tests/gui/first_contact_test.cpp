// What a new user meets first, on the real window: the stored settings at start-up, the welcome
// button, the open dialog, and images shown at their own pixel size.

#include "app/loader_feed.h"
#include "app/main_window.h"
#include "loader/loader_threads.h"
#include "platform/settings.h"
#include "sources/source_list.h"
#include "tests/gui/window_test_support.h"
#include "tests/support/jpeg_writer.h"
#include "tests/support/test_support.h"

#include "app/commands.h"

#include <QCoreApplication>
#include <QImage>
#include <QMouseEvent>

#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace {

using testing_support::WaitFor;

class FirstContactTest : public testing_support::RealWindowTest {
protected:
    // A new window made from `settings`, as a start-up with them would make it.
    void RestartWith(const platform::Settings& settings) {
        loader::StopLoaderThreads();
        window.reset(); // one main window at a time
        platform::GlobalSettings() = settings;
        window = std::make_unique<app::MainWindow>(app::LoaderImageFeed(), 96);
        window->PlaceAndShow();
        ASSERT_TRUE(WaitFor([this] { return window->isVisible() && window->GetCanvas().isValid(); }));
        loader::StartLoaderThreads(1280, 1024);
    }

    void Click(QPointF point) {
        QMouseEvent press(QEvent::MouseButtonPress, point, window->mapToGlobal(point), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window.get(), &press);
        QMouseEvent release(QEvent::MouseButtonRelease, point, window->mapToGlobal(point), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window.get(), &release);
    }

    testing_support::TemporaryDirectory folder;
};

TEST_F(FirstContactTest, StartUpUsesTheStoredSettingsAndTheDialogStartsWhereTheUserIs) {
    platform::Settings settings;
    settings.welcomeMsg = "어서 오세요";
    settings.webtoonWidth = 123;  // no such strip width
    settings.lastImageFilter = 7; // no such filter
    RestartWith(settings);
    EXPECT_EQ(window->State().overlay.welcome.welcomeText, "어서 오세요");
    EXPECT_EQ(window->State().layout.webtoonWidth, 0u);
    EXPECT_EQ(window->ViewState().imageFilter, 0);

    // Qt's own dialog texts are Korean.
    EXPECT_NE(QCoreApplication::translate("QFileDialog", "&Open"), QStringLiteral("&Open"));

    // A click on the welcome button without a move before it opens the dialog, in the working
    // directory while nothing is open...
    std::string startFolder = "unset";
    int asked = 0;
    window->SetFileChooser([&](const std::string& start) {
        ++asked;
        startFolder = start;
        return std::string();
    });
    window->StartWelcomeWhenIdle();
    Click(QPointF(window->width() / 2.0, window->height() / 2.0));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(startFolder, "");

    // ... and in the current item's folder once one is shown.
    const std::string image = folder.Write(
        "holiday/a.jpg",
        testing_support::EncodeJpeg(16, 16, [](uint32_t, uint32_t) { return testing_support::Rgb{}; }));
    sources::OpenPath(image);
    ASSERT_TRUE(WaitFor([this] { return window->GetCanvas().HasImage(); }));
    window->ShowOpenFileDialog();
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(startFolder, folder.File("holiday") + "/");
}

// The bounds of the pixels in `frame` that differ from the window background.
QRect ImageBounds(const QImage& frame) {
    QRect bounds;
    for (int y = 0; y < frame.height(); ++y) {
        for (int x = 0; x < frame.width(); ++x) {
            const QRgb pixel = frame.pixel(x, y);
            if (std::abs(qRed(pixel) - 0x20) > 8 || std::abs(qGreen(pixel) - 0x20) > 8 ||
                std::abs(qBlue(pixel) - 0x20) > 8) {
                bounds |= QRect(x, y, 1, 1);
            }
        }
    }
    return bounds;
}

// Images are placed by their own pixel size, whatever resolution their decode has: a small JPEG is
// not enlarged in "작은건 원본", and "원본 크기" shows a large photo pixel for pixel once the sharper
// decode has replaced the screen-bounded one.
TEST_F(FirstContactTest, ImagesShowAtTheirOwnPixelSize) {
    const std::string small =
        folder.Write("small/s.jpg", testing_support::EncodeJpeg(128, 128, [](uint32_t, uint32_t) {
                         return testing_support::Rgb{200, 60, 60};
                     }));
    sources::OpenPath(small);
    ASSERT_TRUE(WaitFor([this] { return window->GetCanvas().HasImage() && !window->ViewState().isPreview; }));
    EXPECT_EQ(ImageBounds(window->GetCanvas().grabFramebuffer()).size(), QSize(128, 128));

    // The accurate DCT, so that the decoded raster itself is the exact one-pixel checker.
    platform::GlobalSettings().jpegHighQuality = true;
    testing_support::JpegEncodeOptions options;
    options.quality = 100;
    options.chroma = testing_support::JpegChroma::Gray;
    const std::string large =
        folder.Write("large/checker.jpg", testing_support::EncodeJpeg(
                                              4000, 3000,
                                              [](uint32_t x, uint32_t y) {
                                                  const uint8_t level = (x + y) % 2 == 0 ? 0 : 255;
                                                  return testing_support::Rgb{level, level, level};
                                              },
                                              options));
    sources::OpenPath(large);
    ASSERT_TRUE(WaitFor([this] { return window->GetCanvas().HasImage() && !window->ViewState().isPreview; }));
    EXPECT_LT(window->GetCanvas().Image().width, 4000u); // bounded by the 1280 x 1024 screen
    window->RunCommand(static_cast<int32_t>(app::CommandId::ViewActualSize));
    ASSERT_TRUE(WaitFor([this] { return window->GetCanvas().Image().width == 4000; }));
    // Pixel for pixel: every neighbour of a pixel in the middle has the other shade.
    const QImage frame = window->GetCanvas().grabFramebuffer();
    const int centreX = frame.width() / 2;
    const int centreY = frame.height() / 2;
    int alternating = 0;
    for (int y = centreY - 8; y < centreY + 8; ++y) {
        for (int x = centreX - 8; x < centreX + 8; ++x) {
            alternating += std::abs(qGray(frame.pixel(x, y)) - qGray(frame.pixel(x + 1, y))) > 160 &&
                           std::abs(qGray(frame.pixel(x, y)) - qGray(frame.pixel(x, y + 1))) > 160;
        }
    }
    EXPECT_EQ(alternating, 16 * 16);
}

} // namespace
