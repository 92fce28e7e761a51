#include "platform/trace.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace platform {

bool IsTraceEnabled() {
    static const bool enabled = [] {
        const char* value = std::getenv("SKIMORA_TRACE");
        return value != nullptr && std::strcmp(value, "1") == 0;
    }();
    return enabled;
}

void DebugTrace(std::string_view text) {
    if (!IsTraceEnabled()) {
        return;
    }
    static std::mutex traceMutex;
    std::string line(text);
    if (line.empty() || line.back() != '\n') {
        line.push_back('\n');
    }
    std::lock_guard lock(traceMutex);
    std::fwrite(line.data(), 1, line.size(), stderr);
}

namespace {

// Milliseconds since boot at which this process started (field 22 of /proc/self/stat, in clock ticks).
double ProcessStartMs() {
    std::ifstream stat("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')'); // the command name may hold spaces
    if (close == std::string::npos) {
        return 0;
    }
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    for (int index = 3; index <= 22 && fields >> field; ++index) {
    }
    const long ticks = ::sysconf(_SC_CLK_TCK);
    return ticks > 0 ? std::stod(field) * 1000.0 / static_cast<double>(ticks) : 0;
}

} // namespace

void TraceSinceProcessStart(std::string_view step) {
    if (!IsTraceEnabled()) {
        return;
    }
    static std::mutex stepsMutex;
    static std::vector<std::string> traced; // guarded by stepsMutex
    {
        std::lock_guard lock(stepsMutex);
        if (std::find(traced.begin(), traced.end(), step) != traced.end()) {
            return;
        }
        traced.emplace_back(step);
    }
    static const double start = ProcessStartMs();
    timespec now{};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    const double elapsed =
        static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6 - start;
    char line[160];
    std::snprintf(line, sizeof line, "[Start-up] %.*s %.1f ms",
                  static_cast<int>(std::min<size_t>(step.size(), 100)), step.data(), elapsed);
    DebugTrace(line);
}

} // namespace platform
