// The fitted decode (1920 x 1080, as a page load asks for it) of one file per decoder family, through
// the viewer's own entry point LoadImageFile.
//
//   bench_decoders FAMILY=FILE... [benchmark flags]
//   bench_decoders --write-exr FILE WIDTH HEIGHT
//
// Families whose extension still falls through to the WIC-format decoder in this build (no dedicated
// decoder) are skipped with a note on stderr. --write-exr writes a synthetic half-float RGB picture and
// exits (no Debian tool writes OpenEXR). Each case keeps the best of its runs; the last line sums up as
// FAMILY_ms=T pairs.

#include "bench/bench_support.h"
#include "decode/format_registry.h"
#include "decode/wic_decoder.h"

#include <benchmark/benchmark.h>
#include <tinyexr.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

bool WriteExr(const std::string& path, int width, int height) {
    std::vector<float> rgb(size_t(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const float u = float(x) / width;
            const float v = float(y) / height;
            float* p = rgb.data() + (size_t(y) * width + x) * 3;
            const float shapes = 0.5f + 0.5f * std::sin(u * 17.0f + std::cos(v * 11.0f) * 3.0f);
            p[0] = 4.0f * u * shapes;
            p[1] = 2.0f * v + 0.1f * std::sin(float(x) * 0.31f);
            p[2] = 0.25f + shapes * (1.0f - v);
        }
    }
    const char* error = nullptr;
    if (SaveEXR(rgb.data(), width, height, 3, 1, path.c_str(), &error) != TINYEXR_SUCCESS) {
        std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), error != nullptr ? error : "");
        FreeEXRErrorMessage(error);
        return false;
    }
    return true;
}

void FittedDecode(benchmark::State& state, const std::string& path) {
    for (auto _ : state) {
        decode::DecodedImage image;
        if (!decode::LoadImageFile(path, 1920, 1080, false, image)) {
            state.SkipWithError("decode failed");
            return;
        }
        benchmark::DoNotOptimize(image.pixels.get());
        state.counters["width"] = image.width;
        state.counters["height"] = image.height;
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--write-exr") == 0) {
        return WriteExr(argv[2], std::atoi(argv[3]), std::atoi(argv[4])) ? 0 : 1;
    }
    std::vector<char*> remaining = {argv[0]};
    std::vector<std::string> families;
    for (int i = 1; i < argc; ++i) {
        const char* equals = std::strchr(argv[i], '=');
        if (argv[i][0] == '-' || equals == nullptr) {
            remaining.push_back(argv[i]);
            continue;
        }
        const std::string family(argv[i], static_cast<size_t>(equals - argv[i]));
        const std::string path(equals + 1);
        // Before its decoder exists, a family's files reach the WIC-format decoder, which is no measure.
        const auto decoder = decode::CreateDecoder(path);
        if (dynamic_cast<decode::WicDecoder*>(decoder.get()) != nullptr) {
            std::fprintf(stderr, "skipping %s: no dedicated decoder in this build\n", family.c_str());
            continue;
        }
        families.push_back(family);
        benchmark::RegisterBenchmark(family.c_str(),
                                     [path](benchmark::State& state) { FittedDecode(state, path); })
            ->Iterations(1)
            ->Repetitions(5)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    int remainingCount = static_cast<int>(remaining.size());
    benchmark::Initialize(&remainingCount, remaining.data());
    bench::BestRunReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_Defaults
                                                   : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::string summary;
    for (const std::string& family : families) {
        const double best = reporter.Best(family);
        if (best >= 0.0) {
            char text[64];
            std::snprintf(text, sizeof text, "%s%s_ms=%.2f", summary.empty() ? "" : " ", family.c_str(), best);
            summary += text;
        }
    }
    std::printf("%s\n", summary.c_str());
    return 0;
}
