#pragma once

#include <string_view>

namespace platform {

// Writes one developer trace line to stderr when the environment has SKIMORA_TRACE=1.
// Safe to call from any thread; a line feed is added when the text has none.
void DebugTrace(std::string_view text);

bool IsTraceEnabled();

// When tracing: "[Start-up] <step> <ms>" with the milliseconds since the process started (from the
// kernel's start time of the process, so the dynamic loader's work is counted too; that start time has
// the kernel's clock-tick resolution, 10 ms here). Each step is traced once per process.
void TraceSinceProcessStart(std::string_view step);

} // namespace platform
