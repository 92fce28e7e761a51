// The information panel's layer in the real main window: where it starts, Tab and the options dialog
// sliding it, its width at two DPIs, and when its surface is redrawn. Frames are read back from the GL
// canvas; the slide runs on a clock the test sets.

#include "app/commands.h"
#include "app/loader_feed.h"
#include "app/main_window.h"
#include "loader/loader_threads.h"
#include "platform/qt/qt_window_messages.h"
#include "platform/settings.h"
#include "sources/source_list.h"
#include "tests/gui/window_test_support.h"
#include "tests/support/png_writer.h"
#include "tests/support/test_support.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QKeyEvent>

#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace {

using testing_support::WaitFor;

constexpr QRgb kPanelColour = 0xFFC800C8;
constexpr QRgb kBackground = 0xFF202020;

bool Near(QRgb pixel, QRgb expected) {
    return std::abs(qRed(pixel) - qRed(expected)) <= 2 && std::abs(qGreen(pixel) - qGreen(expected)) <= 2 &&
           std::abs(qBlue(pixel) - qBlue(expected)) <= 2;
}

// The number of columns from the left edge, along row y, that show the panel's colour.
int PanelColumns(const QImage& frame, int y) {
    int x = 0;
    while (x < frame.width() && Near(frame.pixel(x, y), kPanelColour)) {
        ++x;
    }
    return x;
}

class InfoPanelWindowTest : public ::testing::Test {
protected:
    void TearDown() override {
        loader::StopLoaderThreads();
        window.reset();
        sources::ReplaceSourceList({});
        sources::CurrentIndex.store(-1);
        sources::NavigationPending.store(false);
        loader::ClearCurrentImage();
        loader::InfoPanelShown.store(false);
    }

    // A window at `dpi` with "ShowExifPanel" stored as `panelShown`. Unless `realContent`, the panel
    // paints itself opaque in kPanelColour so that its place is visible in the frame.
    void Open(uint32_t dpi, bool panelShown, bool realContent = false) {
        platform::GlobalSettings() = platform::Settings{};
        platform::GlobalSettings().showExifPanel = panelShown;
        sources::NavigationPending.store(false);
        window = std::make_unique<app::MainWindow>(app::LoaderImageFeed(), dpi);
        window->SetPanelClock([this] { return now; });
        if (!realContent) {
            window->InfoPanel().SetContentPainter([this](QPainter& painter, const QRectF& panel) {
                ++contentDraws;
                painter.fillRect(panel, QColor::fromRgba(kPanelColour));
            });
        }
        window->PlaceAndShow();
        ASSERT_TRUE(WaitFor([this] { return window->isVisible() && window->GetCanvas().isValid(); }));
        ASSERT_TRUE(window->CreateGraphics());
        loader::StartLoaderThreads(1280, 1024);
    }

    void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QKeyEvent event(QEvent::KeyPress, key, modifiers);
        QCoreApplication::sendEvent(window.get(), &event);
    }

    QImage Frame() { return window->GetCanvas().grabFramebuffer(); }
    int Middle() const { return window->GetCanvas().height() / 2; }

    uint32_t now = 100000;
    int contentDraws = 0;
    std::unique_ptr<app::MainWindow> window;
};

TEST_F(InfoPanelWindowTest, StartsShownWhenStoredOnAndTabSlidesItOutAndIn) {
    Open(96, true);
    EXPECT_EQ(window->InfoPanelOffsetNow(), 0.0f);
    EXPECT_FALSE(window->TimerRunning(view::ViewTimer::Animation));
    QImage frame = Frame();
    EXPECT_EQ(PanelColumns(frame, 0), 360);
    EXPECT_EQ(PanelColumns(frame, Middle()), 360);
    EXPECT_EQ(PanelColumns(frame, frame.height() - 1), 360); // as tall as the client area
    EXPECT_EQ(frame.pixel(360, Middle()), kBackground);
    EXPECT_EQ(window->InfoPanel().Surface().height(), window->GetCanvas().height());

    Key(Qt::Key_Tab); // out
    EXPECT_FALSE(window->State().showInfoPanel);
    EXPECT_FALSE(loader::InfoPanelShown.load());
    EXPECT_TRUE(window->TimerRunning(view::ViewTimer::Animation));
    EXPECT_EQ(PanelColumns(Frame(), Middle()), 360);
    now += 125;
    EXPECT_EQ(window->InfoPanelOffsetNow(), -180.0f);
    EXPECT_EQ(PanelColumns(Frame(), Middle()), 180);
    now += 130;
    frame = Frame();
    EXPECT_EQ(PanelColumns(frame, Middle()), 0);
    EXPECT_EQ(frame.pixel(0, Middle()), kBackground);
    // The next tick of timer 104 sees the slide finished and stops the timer.
    ASSERT_TRUE(WaitFor([this] { return !window->TimerRunning(view::ViewTimer::Animation); }));
    EXPECT_EQ(window->InfoPanelOffsetNow(), -360.0f);

    const int drawsBefore = contentDraws;
    Key(Qt::Key_Backtab); // in again; the surface is redrawn for it
    EXPECT_TRUE(window->State().showInfoPanel);
    EXPECT_TRUE(loader::InfoPanelShown.load());
    EXPECT_EQ(contentDraws, drawsBefore + 1);
    EXPECT_EQ(window->InfoPanelOffsetNow(), -360.0f);
    now += 50;
    const float midway = window->InfoPanelOffsetNow();
    EXPECT_GT(midway, -360.0f);
    EXPECT_LT(midway, 0.0f);
    EXPECT_EQ(PanelColumns(Frame(), Middle()), 72);
    now += 300;
    EXPECT_EQ(PanelColumns(Frame(), Middle()), 360);
    ASSERT_TRUE(WaitFor([this] { return !window->TimerRunning(view::ViewTimer::Animation); }));
}

TEST_F(InfoPanelWindowTest, StartsHiddenWhenStoredOffAndSlidesInOnTheRealClock) {
    Open(96, false);
    EXPECT_EQ(window->InfoPanelOffsetNow(), -360.0f);
    EXPECT_EQ(PanelColumns(Frame(), Middle()), 0);
    EXPECT_EQ(contentDraws, 0); // a hidden panel is not drawn

    window->SetPanelClock({}); // the program's own clock
    window->RunCommand(static_cast<int32_t>(app::CommandId::ToggleInfoPanel));
    EXPECT_TRUE(window->State().showInfoPanel);
    EXPECT_EQ(contentDraws, 1);
    ASSERT_TRUE(WaitFor([this] { return !window->TimerRunning(view::ViewTimer::Animation); }));
    EXPECT_EQ(window->InfoPanelOffsetNow(), 0.0f);
    const QImage frame = Frame();
    EXPECT_EQ(PanelColumns(frame, Middle()), 360);
    EXPECT_EQ(frame.pixel(360, Middle()), kBackground);
}

TEST_F(InfoPanelWindowTest, IsScaledWithTheWindowDpi) {
    Open(144, true);
    EXPECT_EQ(window->InfoPanel().Width(), 540);
    ASSERT_GT(window->GetCanvas().width(), 540);
    QImage frame = Frame();
    EXPECT_EQ(window->InfoPanel().Surface().width(), 540);
    EXPECT_EQ(PanelColumns(frame, Middle()), 540);
    Key(Qt::Key_Tab);
    now += 125;
    EXPECT_EQ(PanelColumns(Frame(), Middle()), 270);
    now += 125;
    EXPECT_EQ(PanelColumns(Frame(), Middle()), 0);
}

TEST_F(InfoPanelWindowTest, OptionsDialogSlidesThePanelWhenItsChoiceChanged) {
    Open(96, false);
    window->Dialogs().options = [] { return app::OptionsOutcome{true, true, true}; };
    window->RunCommand(static_cast<int32_t>(app::CommandId::Options));
    EXPECT_TRUE(window->State().showInfoPanel);
    EXPECT_EQ(contentDraws, 1);
    EXPECT_TRUE(window->TimerRunning(view::ViewTimer::Animation));
    now += 250;
    EXPECT_EQ(PanelColumns(Frame(), Middle()), 360);

    // Saved without a change: no slide, no redraw.
    now += 1000;
    window->RunCommand(static_cast<int32_t>(app::CommandId::Options));
    EXPECT_EQ(contentDraws, 1);
    EXPECT_EQ(window->InfoPanelOffsetNow(), 0.0f);

    window->Dialogs().options = [] { return app::OptionsOutcome{true, false, true}; };
    window->RunCommand(static_cast<int32_t>(app::CommandId::Options));
    EXPECT_FALSE(window->State().showInfoPanel);
    now += 125;
    EXPECT_EQ(PanelColumns(Frame(), Middle()), 180);
}

TEST_F(InfoPanelWindowTest, SurfaceIsRedrawnOnResizeNewImageAndGatheredInformationOnlyWhenShown) {
    Open(96, true);
    Frame();
    const int drawsAfterFirstFrame = contentDraws;
    EXPECT_GE(drawsAfterFirstFrame, 1);

    window->resize(window->width(), 500);
    ASSERT_TRUE(WaitFor([this] { return window->GetCanvas().height() == 500; }));
    QImage frame = Frame();
    EXPECT_EQ(window->InfoPanel().Surface().height(), 500);
    EXPECT_EQ(PanelColumns(frame, 499), 360);
    EXPECT_GT(contentDraws, drawsAfterFirstFrame);

    int draws = contentDraws;
    QCoreApplication::postEvent(window.get(),
                                new platform::WindowMessageEvent(platform::WindowMessage::InfoReady));
    ASSERT_TRUE(WaitFor([&] { return contentDraws > draws; }));

    // A new image in view redraws the shown panel.
    testing_support::TemporaryDirectory folder;
    std::vector<uint8_t> rgba(32 * 32 * 4, 255);
    draws = contentDraws;
    sources::OpenPath(folder.Write("white.png", testing_support::EncodeRgbaPng(32, 32, rgba)));
    ASSERT_TRUE(WaitFor([this] { return window->GetCanvas().HasImage(); }));
    EXPECT_GT(contentDraws, draws);

    // Hidden: neither the gathered information nor a resize draws it.
    Key(Qt::Key_Tab);
    draws = contentDraws;
    QCoreApplication::postEvent(window.get(),
                                new platform::WindowMessageEvent(platform::WindowMessage::InfoReady));
    window->resize(window->width(), 450);
    ASSERT_TRUE(WaitFor([this] { return window->GetCanvas().height() == 450; }));
    now += 1000;
    frame = Frame();
    EXPECT_EQ(contentDraws, draws);
    EXPECT_EQ(PanelColumns(frame, 10), 0);
}

TEST_F(InfoPanelWindowTest, ThePanelWithoutContentLeavesTheFrameUnchanged) {
    // The panel has no background of its own; until it has text, showing it changes no pixel.
    Open(96, true, true);
    const QImage frame = Frame();
    EXPECT_EQ(frame.pixel(0, Middle()), kBackground);
    EXPECT_EQ(frame.pixel(180, 10), kBackground);
    EXPECT_EQ(frame.pixel(359, frame.height() - 1), kBackground);
    EXPECT_FALSE(window->InfoPanel().Visible(window->InfoPanelOffsetNow()));
}

} // namespace
