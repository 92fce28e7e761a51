#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace bench {

// Encodes packed RGB rows (width x height x 3 bytes) as a 4:2:0 JPEG of `quality` into `path`, with the
// TurboJPEG `flags` given (TJFLAG_FASTDCT, TJFLAG_ACCURATEDCT, ...). False when encoding or writing fails.
bool WriteRgbJpeg(const std::string& path, const std::vector<uint8_t>& rgb, int width, int height, int flags = 0,
                  int quality = 90);

// The console report, keeping each case's best (lowest) wall time per iteration in milliseconds: the
// least disturbed run on a shared machine.
class BestRunReporter : public benchmark::ConsoleReporter {
public:
    explicit BestRunReporter(OutputOptions options) : ConsoleReporter(options) {}
    void ReportRuns(const std::vector<Run>& runs) override;
    // -1 when no run of `name` was reported.
    double Best(const std::string& name) const;

private:
    std::map<std::string, double> bestByName;
};

} // namespace bench
