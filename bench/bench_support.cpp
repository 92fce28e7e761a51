#include "bench/bench_support.h"

#include <algorithm>
#include <fstream>
#include <memory>
#include <turbojpeg.h>

namespace bench {

bool WriteRgbJpeg(const std::string& path, const std::vector<uint8_t>& rgb, int width, int height, int flags,
                  int quality) {
    const std::unique_ptr<void, int (*)(tjhandle)> compressor(tjInitCompress(), tjDestroy);
    unsigned char* encoded = nullptr;
    unsigned long encodedSize = 0;
    if (!compressor || tjCompress2(compressor.get(), rgb.data(), width, 0, height, TJPF_RGB, &encoded,
                                   &encodedSize, TJSAMP_420, quality, flags) != 0) {
        tjFree(encoded);
        return false;
    }
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(encoded), static_cast<std::streamsize>(encodedSize));
    tjFree(encoded);
    return static_cast<bool>(file);
}

void BestRunReporter::ReportRuns(const std::vector<Run>& runs) {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
        if (run.run_type != Run::RT_Iteration || run.iterations == 0 || run.error_occurred) {
            continue;
        }
        const double milliseconds = run.real_accumulated_time / static_cast<double>(run.iterations) * 1000.0;
        auto [entry, inserted] = bestByName.try_emplace(run.run_name.function_name, milliseconds);
        if (!inserted) {
            entry->second = std::min(entry->second, milliseconds);
        }
    }
}

double BestRunReporter::Best(const std::string& name) const {
    const auto found = bestByName.find(name);
    return found == bestByName.end() ? -1.0 : found->second;
}

} // namespace bench
