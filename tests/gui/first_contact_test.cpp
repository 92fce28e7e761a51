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

#include <QCoreApplication>
#include <QMouseEvent>

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

} // namespace
