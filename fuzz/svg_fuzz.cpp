// SVG documents from memory at a small render size (the cost of a render grows with its area).
#include "decode/svg_decoder.h"

#include <cstddef>
#include <cstdint>

// Fontconfig keeps its caches until exit.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    decode::SvgDecoder decoder;
    if (decoder.LoadFromMemory(data, size, 96, 64, false) &&
        (decoder.GetWidth() != 96 || decoder.GetHeight() != 64)) {
        __builtin_trap();
    }
    return 0;
}
