// Lists a folder of 10,000 image files and sorts it in each order.
//
//   bench_sort [--folder DIR] [benchmark flags]
//
// With --benchmark_repetitions=N the summary takes each benchmark's fastest repetition.
// DIR (a fresh temporary folder by default) is filled with 10,000 empty files with camera-like names and
// spread modification times when it holds no files. The last line sums up the mean times:
//   list_ms=A name_ms=B natural_ms=C reverse_ms=D date_ms=E
// where list is the folder listing and each order is the sort of the listed folder in that order (the date
// order includes reading the 10,000 modification times). The open/N lines time a whole open of an image
// of the folder in order N: reset, listing, sorting and selection.

#include "sources/sort_orders.h"
#include "sources/source_list.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kFileCount = 10'000;

std::string benchFolder;
std::string openedImage;

// Names as cameras, phones and scanners write them, with mixed case and number widths.
std::string FileName(int i) {
    std::array<char, 96> name{};
    const int n = i / 8 + 1;
    switch (i % 8) {
    case 0:
        std::snprintf(name.data(), name.size(), "IMG_%04d.JPG", n);
        break;
    case 1:
        std::snprintf(name.data(), name.size(), "img_%04d.jpg", n);
        break;
    case 2:
        std::snprintf(name.data(), name.size(), "DSC%05d.JPG", n);
        break;
    case 3:
        std::snprintf(name.data(), name.size(), "Screenshot 2024-%02d-%02d at %02d.%02d.%02d.png", n % 12 + 1,
                      n % 28 + 1, n % 24, n % 60, n / 60 % 60);
        break;
    case 4:
        std::snprintf(name.data(), name.size(), "photo (%d).jpeg", n);
        break;
    case 5:
        std::snprintf(name.data(), name.size(), "P%07d.HEIC", n * 13);
        break;
    case 6:
        std::snprintf(name.data(), name.size(), "vacation_%d_edit.webp", n);
        break;
    default:
        std::snprintf(name.data(), name.size(), "스캔_%03d.png", n);
        break;
    }
    return name.data();
}

bool FolderHasFiles(const std::string& folder) {
    std::error_code error;
    return std::filesystem::directory_iterator(folder, error) != std::filesystem::directory_iterator();
}

// Empty files with modification times spread over a year (a fixed pseudo-random sequence).
bool FillFolder(const std::string& folder) {
    uint32_t state = 12345;
    const time_t base = 1'700'000'000;
    for (int i = 0; i < kFileCount; ++i) {
        const std::string path = folder + "/" + FileName(i);
        const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (descriptor < 0) {
            return false;
        }
        state = state * 1'103'515'245u + 12'345u;
        const struct timespec times[2] = {{base, 0}, {base + static_cast<time_t>(state % 31'536'000), 0}};
        ::futimens(descriptor, times);
        ::close(descriptor);
    }
    return true;
}

void BM_List(benchmark::State& state) {
    for (auto _ : state) {
        auto items = sources::ListImageFolder(benchFolder);
        benchmark::DoNotOptimize(items);
    }
}

void BM_Sort(benchmark::State& state) {
    const auto mode = static_cast<uint32_t>(state.range(0));
    const std::vector<sources::ItemPath> listed = *sources::ListImageFolder(benchFolder);
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<sources::ItemPath> items = listed;
        state.ResumeTiming();
        sources::SortItemPaths(items, mode);
        benchmark::DoNotOptimize(items);
    }
}

void BM_Open(benchmark::State& state) {
    sources::SortMode = static_cast<uint32_t>(state.range(0));
    for (auto _ : state) {
        sources::OpenPath(openedImage);
        benchmark::DoNotOptimize(sources::CurrentIndex.load());
    }
}

// Prints as usual and keeps each benchmark's mean time in milliseconds.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    SummaryReporter() : ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && run.iterations > 0) {
                const double seconds = run.real_accumulated_time / static_cast<double>(run.iterations);
                // With repetitions the fastest one counts: on a shared machine the others mostly measure
                // the neighbours.
                const auto [entry, added] =
                    millisecondsByName.try_emplace(run.benchmark_name(), seconds * 1000.0);
                if (!added) {
                    entry->second = std::min(entry->second, seconds * 1000.0);
                }
            }
        }
    }
    double Milliseconds(const std::string& name) const {
        const auto found = millisecondsByName.find(name);
        return found == millisecondsByName.end() ? -1.0 : found->second;
    }

private:
    std::map<std::string, double> millisecondsByName;
};

} // namespace

int main(int argc, char** argv) {
    std::vector<char*> arguments;
    std::string temporary;
    for (int i = 0; i < argc; ++i) {
        if (std::string(argv[i]) == "--folder" && i + 1 < argc) {
            benchFolder = argv[++i];
        } else {
            arguments.push_back(argv[i]);
        }
    }
    if (benchFolder.empty()) {
        std::string pattern = (std::filesystem::temp_directory_path() / "skimora-sort-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::fprintf(stderr, "cannot create a temporary folder\n");
            return 1;
        }
        benchFolder = temporary = pattern;
    }
    if (!FolderHasFiles(benchFolder) && !FillFolder(benchFolder)) {
        std::fprintf(stderr, "cannot fill %s\n", benchFolder.c_str());
        return 1;
    }
    openedImage = benchFolder + "/" + FileName(kFileCount / 2);

    benchmark::RegisterBenchmark("list", BM_List)->Unit(benchmark::kMillisecond);
    for (const int mode : {0, 1, 2, 3}) {
        benchmark::RegisterBenchmark("sort", BM_Sort)->Arg(mode)->Unit(benchmark::kMillisecond);
    }
    for (const int mode : {0, 1, 2, 3}) {
        benchmark::RegisterBenchmark("open", BM_Open)->Arg(mode)->Unit(benchmark::kMillisecond);
    }
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (!temporary.empty()) {
        std::error_code error;
        std::filesystem::remove_all(temporary, error);
    }
    std::printf("list_ms=%.2f name_ms=%.2f natural_ms=%.2f reverse_ms=%.2f date_ms=%.2f\n",
                reporter.Milliseconds("list"), reporter.Milliseconds("sort/0"),
                reporter.Milliseconds("sort/1"), reporter.Milliseconds("sort/2"),
                reporter.Milliseconds("sort/3"));
    return 0;
}
