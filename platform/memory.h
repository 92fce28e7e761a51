#pragma once

#include <cstdint>

namespace platform {

// Bytes of physical memory the kernel considers available to new work (MemAvailable of /proc/meminfo).
// Falls back to free pages when that line is missing; 0 when nothing can be read.
uint64_t AvailablePhysicalMemory();

} // namespace platform
