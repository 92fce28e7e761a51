// The LibRawDecoder from memory (as archive entries reach it), at full size and fitted to a small target.
#include "decode/libraw_decoder.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    decode::LibRawDecoder full;
    if (full.LoadFromMemory(data, size, 0, 0, false) && full.GetStride() != full.GetWidth() * 4) {
        __builtin_trap();
    }
    decode::LibRawDecoder fitted;
    fitted.LoadFromMemory(data, size, 100, 75, (size & 1) != 0);
    return 0;
}
