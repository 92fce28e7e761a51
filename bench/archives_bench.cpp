// Archives through the viewer's own path: the archive bridge opened as the window opens it, the real
// loader and prefetch threads on a 1920 x 1080 screen, page turns as fast as each full image arrives.
//   bench_archives --make-pages DIR COUNT   writes COUNT 1200 x 1800 JPEG pages p001.jpg... into DIR
//   bench_archives CBZ SOLID7Z              measures both archives
// Last line: cbz_first_ms=A cbz_all_ms=B solid_first_ms=C solid_p100_ms=D solid_all_ms=E
#include "app/hook_wiring.h"
#include "bench/bench_support.h"
#include "loader/loader_threads.h"
#include "platform/window_messages.h"
#include "sources/archive/archive_bridge.h"
#include "sources/source_list.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <turbojpeg.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr uint32_t kPageWidth = 1200;
constexpr uint32_t kPageHeight = 1800;

// A scanned-page look: paper tone, dark strokes in panels, fine grain.
bool WritePage(const std::string& path, uint32_t seed) {
    std::vector<uint8_t> rgb(size_t{kPageWidth} * kPageHeight * 3);
    std::mt19937 random(seed);
    for (uint32_t y = 0; y < kPageHeight; ++y) {
        for (uint32_t x = 0; x < kPageWidth; ++x) {
            uint8_t* pixel = &rgb[(size_t{y} * kPageWidth + x) * 3];
            const uint32_t grain = random() % 16;
            const bool stroke =
                ((x * 7 + y * 3 + seed * 11) / 37) % 9 == 0 || (x / 300 + y / 450 + seed) % 5 == 0;
            const uint8_t base =
                stroke ? static_cast<uint8_t>(40 + grain) : static_cast<uint8_t>(225 + grain / 2);
            pixel[0] = base;
            pixel[1] = static_cast<uint8_t>(base - (stroke ? 0 : 8));
            pixel[2] = static_cast<uint8_t>(base - (stroke ? 0 : 20) + (seed % 7));
        }
    }
    return bench::WriteRgbJpeg(path, rgb, kPageWidth, kPageHeight);
}

// What the window would see: the full images that arrived, by list position.
class Window {
public:
    Window() {
        platform::SetWindowMessageSink([this](platform::WindowMessage message) { Receive(message); });
    }
    ~Window() { platform::SetWindowMessageSink({}); }

    bool WaitForFull(int32_t index, Clock::duration timeout) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, [&] { return arrived.size() > 0 && arrived.back() == index; });
    }
    void Forget() {
        std::lock_guard lock(mutex);
        arrived.clear();
    }

private:
    void Receive(platform::WindowMessage message) {
        if (message != platform::WindowMessage::ImageReady) {
            return;
        }
        int32_t index = -1;
        {
            loader::ImageSlot& slot = loader::CurrentImageSlot();
            std::lock_guard lock(slot.mutex);
            if (slot.preview) {
                return;
            }
            index = slot.index;
        }
        {
            std::lock_guard lock(mutex);
            arrived.push_back(index);
        }
        changed.notify_all();
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int32_t> arrived; // guarded by mutex
};

double Milliseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

void Turn(int32_t index) {
    sources::NavigationDirection.store(index < sources::CurrentIndex.load() ? -1 : 1);
    sources::CurrentIndex.store(index);
    loader::RequestLoad();
    loader::WakePrefetch();
}

// Opens the archive and shows `first`; then, when `turnAll`, every page in order. Milliseconds to the
// first image and to the last, or -1 when an image did not come.
struct Run {
    double firstMs = -1;
    double allMs = -1;
};

Run Measure(Window& window, const std::string& archive, int32_t first, bool turnAll) {
    Run run;
    sources::archive::CloseArchives();
    window.Forget();
    const Clock::time_point start = Clock::now();
    sources::OpenPath(archive);
    if (first != 0) {
        Turn(first);
    }
    if (!window.WaitForFull(first, 60s)) {
        return run;
    }
    run.firstMs = Milliseconds(Clock::now() - start);
    if (!turnAll) {
        return run;
    }
    const auto count = static_cast<int32_t>(sources::SourceListCount());
    for (int32_t index = first + 1; index < count; ++index) {
        Turn(index);
        if (!window.WaitForFull(index, 60s)) {
            return run;
        }
    }
    run.allMs = Milliseconds(Clock::now() - start);
    return run;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--make-pages") {
        const int count = std::stoi(argv[3]);
        for (int i = 1; i <= count; ++i) {
            char name[32];
            std::snprintf(name, sizeof(name), "/p%03d.jpg", i);
            if (!WritePage(std::string(argv[2]) + name, static_cast<uint32_t>(i))) {
                std::fprintf(stderr, "cannot write page %d\n", i);
                return 1;
            }
        }
        return 0;
    }
    if (argc != 3) {
        std::fputs("usage: bench_archives --make-pages DIR COUNT | bench_archives CBZ SOLID7Z\n", stderr);
        return 2;
    }
    Window window;
    app::InstallLoaderHooks();
    sources::SourceHooks hooks;
    loader::ConnectSourceHooks(hooks);
    app::ConnectContainerHooks(hooks);
    sources::SetSourceHooks(std::move(hooks));
    loader::StartLoaderThreads(1920, 1080);

    const Run cbz = Measure(window, argv[1], 0, true);
    const Run solidHundredth = Measure(window, argv[2], 99, false);
    const Run solid = Measure(window, argv[2], 0, true);
    std::fprintf(stderr, "solid passes in the in-order run: %u\n", sources::archive::SolidPassesStarted());
    loader::StopLoaderThreads();
    sources::archive::CloseArchives();
    std::printf(
        "cbz_first_ms=%.0f cbz_all_ms=%.0f solid_first_ms=%.0f solid_p100_ms=%.0f solid_all_ms=%.0f\n",
        cbz.firstMs, cbz.allMs, solid.firstMs, solidHundredth.firstMs, solid.allMs);
    return 0;
}
