#include "platform/memory.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace platform {

uint64_t AvailablePhysicalMemory() {
    if (FILE* file = std::fopen("/proc/meminfo", "r")) {
        char line[256];
        unsigned long long kibibytes = 0;
        bool found = false;
        while (std::fgets(line, sizeof line, file) != nullptr) {
            if (std::sscanf(line, "MemAvailable: %llu kB", &kibibytes) == 1) {
                found = true;
                break;
            }
        }
        std::fclose(file);
        if (found) {
            return static_cast<uint64_t>(kibibytes) * 1024u;
        }
    }
    const long pages = sysconf(_SC_AVPHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) {
        return 0;
    }
    return static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
}

} // namespace platform
