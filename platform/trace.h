#pragma once

#include <string_view>

namespace platform {

// Writes one developer trace line to stderr when the environment has SKIMORA_TRACE=1.
// Safe to call from any thread; a line feed is added when the text has none.
void DebugTrace(std::string_view text);

bool IsTraceEnabled();

} // namespace platform
