// PNG fitting benchmarks for the WIC-format decoder.
//   bench_png --write-png PATH WIDTH HEIGHT   writes a generated RGBA PNG row by row
//   bench_png --fit PATH                      best of 10 in-process fits to 1920 x 1080, last line
//   png_fit_ms=... bench_png --fit-once PATH                 one fit (for peak-memory measurement from
//   outside) bench_png [benchmark flags]               Google Benchmark cases on a generated 4000 x 3000 PNG
#include "decode/wic_decoder.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <png.h>
#include <string>
#include <vector>

namespace {

// A photograph-like RGBA pattern: smooth gradients, mild texture, and a soft translucent band.
void FillRow(uint32_t width, uint32_t height, uint32_t y, uint8_t* row) {
    uint32_t noise = y * 2654435761u;
    for (uint32_t x = 0; x < width; ++x) {
        noise = noise * 1664525u + 1013904223u;
        const uint32_t jitter = (noise >> 28) & 7;
        uint8_t* p = row + static_cast<size_t>(x) * 4;
        p[0] = static_cast<uint8_t>(x * 255 / width + jitter);
        p[1] = static_cast<uint8_t>(y * 255 / height + jitter);
        p[2] = static_cast<uint8_t>(((x / 16 + y / 16) & 1) * 64 + 96 + jitter);
        const uint32_t band = y * 8 / height;
        p[3] = band == 3 ? static_cast<uint8_t>(128 + x * 127 / width) : 255;
    }
}

struct WriteJob {
    uint32_t width;
    uint32_t height;
    uint8_t* row;
};

[[noreturn]] void OnError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void OnWarning(png_structp, png_const_charp) {}

// libpng reports errors by longjmp: only trivially destructible locals here.
int WriteRows(png_structp png, png_infop info, WriteJob* job) {
    if (setjmp(png_jmpbuf(png)) != 0) {
        return 0;
    }
    png_set_IHDR(png, info, job->width, job->height, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (uint32_t y = 0; y < job->height; ++y) {
        FillRow(job->width, job->height, y, job->row);
        png_write_row(png, job->row);
    }
    png_write_end(png, info);
    return 1;
}

void AppendBytes(png_structp png, png_bytep data, size_t length) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}
void FlushNothing(png_structp) {}

bool WritePng(uint32_t width, uint32_t height, FILE* file, std::vector<uint8_t>* memory) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    std::vector<uint8_t> row(static_cast<size_t>(width) * 4);
    WriteJob job{width, height, row.data()};
    if (file != nullptr) {
        png_init_io(png, file);
    } else {
        png_set_write_fn(png, memory, AppendBytes, FlushNothing);
    }
    const bool ok = info != nullptr && WriteRows(png, info, &job) == 1;
    png_destroy_write_struct(&png, &info);
    return ok;
}

double FitMilliseconds(const std::string& path, uint32_t* width, uint32_t* height) {
    const auto start = std::chrono::steady_clock::now();
    decode::WicDecoder decoder;
    const bool ok = decoder.Load(path, 1920, 1080, true);
    const auto end = std::chrono::steady_clock::now();
    if (!ok) {
        return -1;
    }
    *width = decoder.GetWidth();
    *height = decoder.GetHeight();
    return std::chrono::duration<double, std::milli>(end - start).count();
}

const std::vector<uint8_t>& GeneratedPng() {
    static const std::vector<uint8_t> png = [] {
        std::vector<uint8_t> bytes;
        WritePng(4000, 3000, nullptr, &bytes);
        return bytes;
    }();
    return png;
}

void BM_PngFit1920x1080(benchmark::State& state) {
    const std::vector<uint8_t>& png = GeneratedPng();
    const bool highQuality = state.range(0) != 0;
    for (auto _ : state) {
        decode::WicDecoder decoder;
        if (!decoder.LoadFromMemory(png.data(), png.size(), 1920, 1080, highQuality)) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::DoNotOptimize(decoder.GetPixels());
    }
    state.SetItemsProcessed(state.iterations() * 4000 * 3000);
}
BENCHMARK(BM_PngFit1920x1080)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_PngFullSize(benchmark::State& state) {
    const std::vector<uint8_t>& png = GeneratedPng();
    for (auto _ : state) {
        decode::WicDecoder decoder;
        if (!decoder.LoadFromMemory(png.data(), png.size(), 0, 0, true)) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::DoNotOptimize(decoder.GetPixels());
    }
    state.SetItemsProcessed(state.iterations() * 4000 * 3000);
}
BENCHMARK(BM_PngFullSize)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--write-png") == 0) {
        FILE* file = std::fopen(argv[2], "wb");
        const bool ok =
            file != nullptr && WritePng(static_cast<uint32_t>(std::stoul(argv[3])),
                                        static_cast<uint32_t>(std::stoul(argv[4])), file, nullptr);
        return file != nullptr && std::fclose(file) == 0 && ok ? 0 : 1;
    }
    if (argc == 3 && (std::strcmp(argv[1], "--fit") == 0 || std::strcmp(argv[1], "--fit-once") == 0)) {
        const int runs = std::strcmp(argv[1], "--fit") == 0 ? 10 : 1;
        double best = -1;
        uint32_t width = 0;
        uint32_t height = 0;
        for (int i = 0; i < runs; ++i) {
            const double ms = FitMilliseconds(argv[2], &width, &height);
            if (ms < 0) {
                std::fprintf(stderr, "cannot decode %s\n", argv[2]);
                return 1;
            }
            best = best < 0 ? ms : std::min(best, ms);
        }
        std::printf("fitted to %ux%u\npng_fit_ms=%.2f\n", width, height, best);
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
