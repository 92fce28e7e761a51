// Decodes one large JPEG photograph the way the viewer does.
//
//   bench_jpeg [--jpeg FILE] [--write-jpeg FILE] [benchmark flags]
//
// --write-jpeg writes the generated 6000 x 4000 quality-90 test photograph to FILE and exits; --jpeg
// decodes FILE instead of a freshly generated one. Each case runs 10 single decodes and keeps the best.
// The last line sums up:
//   fit_ms=A cover_ms=B full_ms=C full_mps=D
// fit: the page load fitted to 1920 x 1080 (fast DCT); cover: the same with the cover rule and accurate
// DCT; full: the whole image at full size (fast DCT), with its rate in megapixels per second.

#include "bench/bench_support.h"
#include "decode/jpeg_turbo_decoder.h"
#include "platform/settings.h"

#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

constexpr uint32_t kWidth = 6000;
constexpr uint32_t kHeight = 4000;

std::string jpegPath;

// A synthetic photograph: broad colour gradients, some large soft shapes, fine texture and sensor-like
// noise, so that the entropy coder has about as much to do as with a real photo at quality 90.
uint8_t Channel(double value) {
    return static_cast<uint8_t>(std::clamp(value, 0.0, 255.0));
}

std::vector<uint8_t> PhotographRgb() {
    std::vector<uint8_t> rgb(size_t{kWidth} * kHeight * 3);
    uint32_t seed = 12345;
    for (uint32_t y = 0; y < kHeight; ++y) {
        for (uint32_t x = 0; x < kWidth; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const double noise = static_cast<double>(seed >> 24) / 255.0 * 10.0 - 5.0;
            const double u = static_cast<double>(x) / kWidth;
            const double v = static_cast<double>(y) / kHeight;
            const double shapes = 40.0 * std::sin(u * 9.0 + std::cos(v * 7.0) * 2.0) * std::cos(v * 5.0);
            const double texture = 14.0 * std::sin(x * 0.37 + y * 0.11) * std::sin(y * 0.29 - x * 0.05);
            uint8_t* p = rgb.data() + (size_t{y} * kWidth + x) * 3;
            p[0] = Channel(70 + 120 * u + shapes + texture + noise);
            p[1] = Channel(90 + 80 * v - shapes * 0.5 + texture + noise);
            p[2] = Channel(160 - 100 * v + shapes * 0.3 - texture + noise);
        }
    }
    return rgb;
}

bool WritePhotograph(const std::string& path) {
    const std::vector<uint8_t> rgb = PhotographRgb();
    return bench::WriteRgbJpeg(path, rgb, kWidth, kHeight, TJFLAG_ACCURATEDCT);
}

void Decode(benchmark::State& state, uint32_t targetWidth, uint32_t targetHeight, bool cover, bool accurate) {
    platform::Settings& settings = platform::GlobalSettings();
    settings.jpegHighQuality = accurate;
    settings.jpegFullDecode = false;
    settings.colorManagement = 0;
    uint64_t pixels = 0;
    for (auto _ : state) {
        decode::JpegTurboDecoder decoder;
        if (!decoder.Load(jpegPath, targetWidth, targetHeight, cover)) {
            state.SkipWithError("decode failed");
            return;
        }
        pixels += uint64_t{decoder.GetWidth()} * decoder.GetHeight();
        benchmark::DoNotOptimize(decoder.GetPixels());
    }
    state.counters["MP/s"] =
        benchmark::Counter(static_cast<double>(pixels) / 1e6, benchmark::Counter::kIsRate);
}

void BM_JpegFit(benchmark::State& state) {
    Decode(state, 1920, 1080, false, false);
}
void BM_JpegCover(benchmark::State& state) {
    Decode(state, 1920, 1080, true, true);
}
void BM_JpegFull(benchmark::State& state) {
    Decode(state, 0, 0, false, false);
}

// Single decodes, best of ten: the least disturbed run on a shared machine.
#define SKIMORA_JPEG_CASE(name)                                                                              \
    BENCHMARK(name)->Iterations(1)->Repetitions(10)->Unit(benchmark::kMillisecond)->UseRealTime()
SKIMORA_JPEG_CASE(BM_JpegFit);
SKIMORA_JPEG_CASE(BM_JpegCover);
SKIMORA_JPEG_CASE(BM_JpegFull);

} // namespace

int main(int argc, char** argv) {
    std::vector<char*> remaining = {argv[0]};
    std::string writePath;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--jpeg") == 0 && i + 1 < argc) {
            jpegPath = argv[++i];
        } else if (std::strcmp(argv[i], "--write-jpeg") == 0 && i + 1 < argc) {
            writePath = argv[++i];
        } else {
            remaining.push_back(argv[i]);
        }
    }
    if (!writePath.empty()) {
        if (!WritePhotograph(writePath)) {
            std::fprintf(stderr, "cannot write %s\n", writePath.c_str());
            return 1;
        }
        return 0;
    }
    std::string temporary;
    if (jpegPath.empty()) {
        temporary =
            (std::filesystem::temp_directory_path() / ("skimora-bench-" + std::to_string(getpid()) + ".jpg"))
                .string();
        if (!WritePhotograph(temporary)) {
            std::fprintf(stderr, "cannot write %s\n", temporary.c_str());
            return 1;
        }
        jpegPath = temporary;
    }
    int remainingCount = static_cast<int>(remaining.size());
    benchmark::Initialize(&remainingCount, remaining.data());
    // Colour only on a terminal: the comparison script reads this output through a pipe.
    bench::BestRunReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_Defaults
                                                   : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (!temporary.empty()) {
        std::filesystem::remove(temporary);
    }
    const double full = reporter.Best("BM_JpegFull");
    const double rate = full > 0 ? static_cast<double>(kWidth) * kHeight / 1e6 / (full / 1000.0) : -1.0;
    std::printf("fit_ms=%.2f cover_ms=%.2f full_ms=%.2f full_mps=%.1f\n", reporter.Best("BM_JpegFit"),
                reporter.Best("BM_JpegCover"), full, rate);
    return 0;
}
