#include "platform/trace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

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

} // namespace platform
