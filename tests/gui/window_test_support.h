#pragma once

// Shared ground for the tests that drive the real main window under Xvfb.

#include "app/loader_feed.h"
#include "app/main_window.h"
#include "loader/loader_threads.h"
#include "platform/settings.h"
#include "sources/source_list.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace testing_support {

// Runs the event loop until `done` holds; false when it never did within a generous bound.
inline bool WaitFor(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > 20000) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// A shown 96-dpi main window with its graphics and the loader threads running; default settings and an
// empty source before and after each test.
class RealWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::GlobalSettings() = platform::Settings{};
        sources::NavigationPending.store(false);
        window = std::make_unique<app::MainWindow>(app::LoaderImageFeed(), 96);
        window->PlaceAndShow();
        ASSERT_TRUE(WaitFor([this] { return window->isVisible() && window->GetCanvas().isValid(); }));
        ASSERT_TRUE(window->CreateGraphics());
        loader::StartLoaderThreads(1280, 1024);
    }

    void TearDown() override {
        loader::StopLoaderThreads();
        window.reset();
        sources::ReplaceSourceList({});
        sources::CurrentIndex.store(-1);
        sources::NavigationPending.store(false);
        loader::ClearCurrentImage();
    }

    std::unique_ptr<app::MainWindow> window;
};

} // namespace testing_support
