// Page-turn latency of the real main window: with the next image already in the image cache, the time
// from a wheel event (one notch down) to the first presented frame (QOpenGLWidget::frameSwapped) that
// shows that image's full decode. Median of 50 turns through generated 3000 x 2000 JPEGs. Run under an
// X server (bench/turn_latency.sh uses Xvfb). Target: turn_ms <= 16.
// Usage: bench_turn_latency [--turns N]
// Last line: turn_ms=A
#include "app/loader_feed.h"
#include "app/main_window.h"
#include "bench/bench_support.h"
#include "loader/image_cache.h"
#include "loader/loader_threads.h"
#include "sources/source_list.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <turbojpeg.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kImageWidth = 3000;
constexpr int kImageHeight = 2000;

bool WriteJpeg(const std::string& path, uint32_t seed) {
    std::vector<unsigned char> rgb(static_cast<size_t>(kImageWidth) * kImageHeight * 3);
    std::mt19937 random(seed);
    for (int y = 0; y < kImageHeight; ++y) {
        for (int x = 0; x < kImageWidth; ++x) {
            unsigned char* pixel = &rgb[(static_cast<size_t>(y) * kImageWidth + x) * 3];
            const uint32_t grain = random() % 24;
            pixel[0] = static_cast<unsigned char>((x * 200 / kImageWidth + seed * 29 + grain) & 0xFF);
            pixel[1] = static_cast<unsigned char>((y * 180 / kImageHeight + seed * 13 + grain) & 0xFF);
            pixel[2] = static_cast<unsigned char>(((x + y) * 90 / kImageWidth + grain) & 0xFF);
        }
    }
    return bench::WriteRgbJpeg(path, rgb, kImageWidth, kImageHeight, TJFLAG_FASTDCT);
}

bool ProcessUntil(const std::function<bool()>& done, int limitMs = 30000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > limitMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return true;
}

bool FullImageShown(app::MainWindow& window) {
    if (sources::NavigationPending || !window.GetCanvas().HasImage() || window.ViewState().isPreview) {
        return false;
    }
    loader::ImageSlot& slot = loader::CurrentImageSlot();
    std::lock_guard lock(slot.mutex);
    return slot.index == sources::CurrentIndex.load() && !slot.preview;
}

} // namespace

int main(int argc, char** argv) {
    int turns = 50;
    int windowWidth = 0; // 0: the window's own default size
    int windowHeight = 0;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--turns") == 0) {
            turns = std::clamp(std::atoi(argv[i + 1]), 1, 500);
        } else if (std::strcmp(argv[i], "--window") == 0 &&
                   std::sscanf(argv[i + 1], "%dx%d", &windowWidth, &windowHeight) != 2) {
            windowWidth = windowHeight = 0;
        }
    }
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("skimora-turn-latency-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder / "config");
    ::setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
    ::setenv("QT_ENABLE_HIGHDPI_SCALING", "0", 1);

    std::vector<std::string> paths;
    for (int i = 0; i <= turns; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "%03d.jpg", i);
        paths.push_back((folder / name).string());
        if (!WriteJpeg(paths.back(), static_cast<uint32_t>(i + 1))) {
            std::fprintf(stderr, "could not write %s\n", paths.back().c_str());
            return 1;
        }
    }

    int exitCode = 0;
    {
        QApplication application(argc, argv);
        const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
        app::MainWindow window(app::LoaderImageFeed(), 96);
        window.PlaceAndShow();
        if (windowWidth > 0 && windowHeight > 0) {
            window.setGeometry(0, 0, windowWidth, windowHeight);
        }
        if (!ProcessUntil([&] { return window.isVisible() && window.GetCanvas().isValid(); }) ||
            !window.CreateGraphics()) {
            std::fprintf(stderr, "no GL window\n");
            return 1;
        }
        loader::StartLoaderThreads(static_cast<uint32_t>(screen.width()),
                                   static_cast<uint32_t>(screen.height()));

        Clock::time_point wheelAt;
        Clock::time_point presentedAt;
        bool waiting = false;
        QObject::connect(&window.GetCanvas(), &QOpenGLWidget::frameSwapped, [&] {
            if (waiting && FullImageShown(window)) {
                presentedAt = Clock::now();
                waiting = false;
            }
        });

        sources::OpenPath(paths.front());
        std::vector<double> samples;
        if (!ProcessUntil([&] { return FullImageShown(window); })) {
            std::fprintf(stderr, "the first image never arrived\n");
            exitCode = 1;
        }
        for (int turn = 0; turn < turns && exitCode == 0; ++turn) {
            const int32_t next = sources::CurrentIndex.load() + 1;
            if (!ProcessUntil([&] { return loader::IsCached(loader::ImageCache(), next, paths[next]); })) {
                std::fprintf(stderr, "image %d was never prefetched\n", next);
                exitCode = 1;
                break;
            }
            // Let the prefetcher finish its pass: a turn is measured on a machine at rest, as a reader
            // turns pages.
            size_t cached = 0;
            for (int quiet = 0; quiet < 10;) {
                QThread::msleep(20);
                QCoreApplication::processEvents(QEventLoop::AllEvents);
                std::lock_guard lock(loader::ImageCache().mutex);
                const size_t now = loader::ImageCache().entries.size();
                quiet = now == cached ? quiet + 1 : 0;
                cached = now;
            }
            const QPointF centre(window.width() / 2.0, window.height() / 2.0);
            QWheelEvent wheel(centre, window.mapToGlobal(centre), QPoint(), QPoint(0, -120), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            // Blocking waits only: a polling loop here would take a core from the threads being timed.
            QEventLoop loop;
            QObject::connect(&window.GetCanvas(), &QOpenGLWidget::frameSwapped, &loop, [&] {
                if (!waiting) {
                    loop.quit();
                }
            });
            QTimer::singleShot(10000, &loop, &QEventLoop::quit);
            waiting = true;
            wheelAt = Clock::now();
            QCoreApplication::sendEvent(&window, &wheel);
            if (waiting) {
                loop.exec();
            }
            if (waiting) {
                std::fprintf(stderr, "turn %d never presented\n", turn);
                exitCode = 1;
                break;
            }
            samples.push_back(std::chrono::duration<double, std::milli>(presentedAt - wheelAt).count());
        }
        loader::StopLoaderThreads();
        if (!samples.empty()) {
            std::sort(samples.begin(), samples.end());
            const double median = samples[samples.size() / 2];
            std::printf("turns=%zu min_ms=%.2f max_ms=%.2f\n", samples.size(), samples.front(),
                        samples.back());
            std::printf("turn_ms=%.2f\n", median);
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return exitCode;
}
