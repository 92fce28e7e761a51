// Page turns through a folder of large JPEGs with the real loader threads, on a 1920 x 1080 screen:
//   (a) a turn served from the image cache: request to image-ready message (Google Benchmark);
//   (b) paging forward at 5 turns a second for 60 turns after a 1 s head start: the share of turns whose
//       full image was ready within 50 ms, and the median time to the full image;
//   (c) the peak resident set while paging 300 turns, against the memory the cache is allowed.
// Usage: bench_page_turns [--images N] [--folder DIR] [benchmark flags]. Without --folder the images
// (4000 x 3000, quality 90) are generated into a temporary folder and removed afterwards.
// Last line: cache_hit_us=A ready_share=B median_full_ms=C peak_rss_mb=D
#include "bench/bench_support.h"
#include "decode/decoded_image.h"
#include "loader/image_cache.h"
#include "loader/loader_threads.h"
#include "platform/memory.h"
#include "platform/window_messages.h"
#include "sources/source_list.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <turbojpeg.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr uint32_t kScreenWidth = 1920;
constexpr uint32_t kScreenHeight = 1080;
constexpr uint32_t kImageWidth = 4000;
constexpr uint32_t kImageHeight = 3000;

// A photograph-like picture: smooth colour fields with fine grain, so that the coefficients (and the
// decoding work) resemble a camera image rather than a flat gradient.
bool WriteJpeg(const std::string& path, uint32_t seed) {
    std::vector<uint8_t> rgb(size_t{kImageWidth} * kImageHeight * 3);
    std::mt19937 random(seed);
    for (uint32_t y = 0; y < kImageHeight; ++y) {
        for (uint32_t x = 0; x < kImageWidth; ++x) {
            uint8_t* pixel = &rgb[(size_t{y} * kImageWidth + x) * 3];
            const uint32_t grain = random() % 24;
            pixel[0] = static_cast<uint8_t>((x * 200 / kImageWidth + seed * 29 + grain) & 0xFF);
            pixel[1] = static_cast<uint8_t>((y * 200 / kImageHeight + seed * 13 + grain) & 0xFF);
            pixel[2] = static_cast<uint8_t>((((x / 64) ^ (y / 64)) * 7 + seed * 41 + grain) & 0xFF);
        }
    }
    return bench::WriteRgbJpeg(path, rgb, kImageWidth, kImageHeight);
}

// What the window would see: each image-ready message with the slot's position and kind.
struct Arrival {
    int32_t index = -1;
    bool preview = false;
    Clock::time_point time;
};

class Window {
public:
    Window() {
        platform::SetWindowMessageSink([this](platform::WindowMessage message) { Receive(message); });
    }
    ~Window() { platform::SetWindowMessageSink({}); }

    // Waits for the full image of `index` until `deadline`; its arrival time when it came.
    std::optional<Clock::time_point> WaitForFull(int32_t index, Clock::time_point deadline) {
        std::unique_lock lock(mutex);
        std::optional<Clock::time_point> arrived;
        changed.wait_until(lock, deadline, [&] {
            for (const Arrival& arrival : arrivals) {
                if (arrival.index == index && !arrival.preview) {
                    arrived = arrival.time;
                    return true;
                }
            }
            return false;
        });
        return arrived;
    }
    void Forget() {
        std::lock_guard lock(mutex);
        arrivals.clear();
    }

private:
    void Receive(platform::WindowMessage message) {
        if (message != platform::WindowMessage::ImageReady) {
            return;
        }
        Arrival arrival;
        arrival.time = Clock::now();
        {
            loader::ImageSlot& slot = loader::CurrentImageSlot();
            std::lock_guard lock(slot.mutex);
            arrival.index = slot.index;
            arrival.preview = slot.preview;
        }
        {
            std::lock_guard lock(mutex);
            arrivals.push_back(arrival);
        }
        changed.notify_all();
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Arrival> arrivals; // guarded by mutex
};

Window* window = nullptr;
int32_t imageCount = 0;

void Turn(int32_t index) {
    const int32_t previous = sources::CurrentIndex.load();
    sources::NavigationDirection.store(index < previous ? -1 : 1);
    sources::CurrentIndex.store(index);
    sources::NavigationPending.store(true);
    loader::RequestLoad();
    loader::WakePrefetch();
}

// (a) Ten neighbours are put into the image cache and the prefetcher is held back (as while the slider
// is dragged), so every turn is a cache hit: lookup, publication and the message to the window.
void BM_CacheHitTurn(benchmark::State& state) {
    loader::IsScrubbing.store(true);
    loader::ClearCaches();
    const uint64_t generation = loader::CacheGeneration();
    constexpr int32_t kCached = 10;
    for (int32_t index = 0; index < kCached; ++index) {
        decode::DecodedImage image;
        const std::string path = sources::CopyItemPath(index);
        if (!loader::DecodeFullItem(path, kScreenWidth, kScreenHeight, image)) {
            state.SkipWithError("the JPEG decoder failed");
            return;
        }
        loader::InsertIntoCache(loader::ImageCache(), index, path, image, generation, 0, kCached);
    }
    int32_t index = 0;
    for (auto _ : state) {
        index = (index + 1) % kCached;
        window->Forget();
        const Clock::time_point start = Clock::now();
        Turn(index);
        const std::optional<Clock::time_point> arrived = window->WaitForFull(index, start + 5s);
        if (!arrived) {
            state.SkipWithError("a cached turn was not published");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(*arrived - start).count());
    }
    loader::IsScrubbing.store(false);
    loader::ClearCaches();
}
BENCHMARK(BM_CacheHitTurn)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(500);

// The usual console table (on standard error, so that standard output ends with the summary line),
// keeping the cache-hit figure.
class Recorder : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_name.function_name == "BM_CacheHitTurn" && !run.error_occurred) {
                cacheHitMicroseconds = run.GetAdjustedRealTime();
            }
        }
    }
    double cacheHitMicroseconds = -1;
};

// Starts a fresh source at position 0 and lets the prefetcher run for `headStart`.
void Reopen(Clock::duration headStart) {
    loader::ClearCaches();
    loader::ClearCurrentImage();
    sources::CurrentIndex.store(-1);
    window->Forget();
    Turn(0);
    window->WaitForFull(0, Clock::now() + 30s);
    std::this_thread::sleep_for(headStart);
}

struct PagingResult {
    double readyShare = 0;
    double medianFullMs = 0;
};

// (b) A turn every 200 ms; a turn whose full image has not come when the next turn is due counts as
// not ready, with the whole period as its time.
PagingResult PageForward(int turns, Clock::duration period) {
    Reopen(1s);
    std::vector<double> fullMs;
    int ready = 0;
    const Clock::time_point start = Clock::now();
    for (int turn = 1; turn <= turns; ++turn) {
        const int32_t index = turn % imageCount;
        const Clock::time_point due = start + period * (turn - 1);
        std::this_thread::sleep_until(due);
        window->Forget();
        const Clock::time_point turned = Clock::now();
        Turn(index);
        const std::optional<Clock::time_point> arrived = window->WaitForFull(index, due + period);
        const double milliseconds =
            std::chrono::duration<double, std::milli>((arrived ? *arrived : due + period) - turned).count();
        fullMs.push_back(milliseconds);
        ready += arrived && milliseconds <= 50.0 ? 1 : 0;
    }
    std::sort(fullMs.begin(), fullMs.end());
    const size_t middle = fullMs.size() / 2;
    PagingResult result;
    result.readyShare = static_cast<double>(ready) / turns;
    result.medianFullMs = fullMs.size() % 2 == 1 ? fullMs[middle] : (fullMs[middle - 1] + fullMs[middle]) / 2;
    return result;
}

uint64_t StatusKibibytes(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t length = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, length, field) == 0) {
            return std::strtoull(line.c_str() + length + 1, nullptr, 10);
        }
    }
    return 0;
}

// (c) 300 turns back and forth over the folder, one every 100 ms once the full image of the previous
// turn is shown, measuring the resident-set high-water mark from the start of the paging.
double PeakRssWhilePaging(int turns) {
    {
        std::ofstream clear("/proc/self/clear_refs");
        clear << "5"; // resets the high-water mark to the current resident set
    }
    Reopen(0s);
    int32_t index = 0;
    int32_t step = 1;
    for (int turn = 0; turn < turns; ++turn) {
        if (index + step < 0 || index + step >= imageCount) {
            step = -step;
        }
        index += step;
        const Clock::time_point due = Clock::now() + 100ms;
        window->Forget();
        Turn(index);
        window->WaitForFull(index, Clock::now() + 30s);
        std::this_thread::sleep_until(due);
    }
    return static_cast<double>(StatusKibibytes("VmHWM:")) / 1024.0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<char*> remaining = {argv[0]};
    std::string folder;
    imageCount = 100;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--images") == 0 && i + 1 < argc) {
            imageCount = std::max(12, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--folder") == 0 && i + 1 < argc) {
            folder = argv[++i];
        } else {
            remaining.push_back(argv[i]);
        }
    }
    std::filesystem::path generated;
    if (folder.empty()) {
        std::string pattern = (std::filesystem::temp_directory_path() / "skimora-turns-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::fprintf(stderr, "cannot create a temporary folder\n");
            return 1;
        }
        generated = folder = pattern;
    }
    std::vector<std::string> paths;
    for (int32_t i = 0; i < imageCount; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/photo_%03d.jpg", i);
        paths.push_back(folder + name);
        if (!std::filesystem::exists(paths.back()) && !WriteJpeg(paths.back(), static_cast<uint32_t>(i))) {
            std::fprintf(stderr, "cannot write %s\n", paths.back().c_str());
            return 1;
        }
    }
    std::fprintf(stderr, "%d images of %u x %u in %s\n", imageCount, kImageWidth, kImageHeight,
                 folder.c_str());

    const uint64_t available = platform::AvailablePhysicalMemory();
    Window messages;
    window = &messages;
    sources::SourceHooks hooks;
    loader::ConnectSourceHooks(hooks);
    sources::SetSourceHooks(std::move(hooks));
    sources::ResetSource();
    sources::ReplaceSourceList(paths);
    loader::StartLoaderThreads(kScreenWidth, kScreenHeight);

    int remainingCount = static_cast<int>(remaining.size());
    benchmark::Initialize(&remainingCount, remaining.data());
    Recorder recorder;
    recorder.SetOutputStream(&std::cerr);
    recorder.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&recorder);

    const PagingResult paging = PageForward(60, 200ms);
    std::fprintf(stderr, "paging at 5 turns/s: ready within 50 ms %.3f, median to full image %.2f ms\n",
                 paging.readyShare, paging.medianFullMs);

    const double peakMb = PeakRssWhilePaging(300);
    uint64_t imageBytes = 0;
    {
        loader::ImageSlot& slot = loader::CurrentImageSlot();
        std::lock_guard lock(slot.mutex);
        imageBytes = slot.image.size;
    }
    const int32_t capacity = loader::CacheCapacity.load();
    const uint64_t budget =
        std::clamp<uint64_t>(available / 10 * 3, loader::kMinCacheBudget, loader::kMaxCacheBudget);
    const double allowedMb =
        static_cast<double>(std::max<uint64_t>(std::min<uint64_t>(budget, capacity * imageBytes),
                                               uint64_t{loader::kMinCacheCapacity} * imageBytes)) /
        (1024.0 * 1024.0);
    std::fprintf(
        stderr,
        "available %.0f MiB, budget %.0f MiB, capacity %d images of %.1f MiB: cache may hold %.0f MiB; "
        "peak RSS %.0f MiB (target <= %.0f)\n",
        available / 1048576.0, budget / 1048576.0, capacity, imageBytes / 1048576.0, allowedMb, peakMb,
        allowedMb + 150);

    loader::StopLoaderThreads();
    sources::SetSourceHooks({});
    window = nullptr;
    if (!generated.empty()) {
        std::error_code error;
        std::filesystem::remove_all(generated, error);
    }
    std::printf("cache_hit_us=%.1f ready_share=%.3f median_full_ms=%.2f peak_rss_mb=%.0f\n",
                recorder.cacheHitMicroseconds, paging.readyShare, paging.medianFullMs, peakMb);
    return 0;
}
