// Everything the WIC-format decoder recognises by content, at full size and fitted to a small target.
#include "decode/wic_decoder.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    decode::WicDecoder full;
    full.LoadFromMemory(data, size, 0, 0, true);
    decode::WicDecoder fitted;
    fitted.LoadFromMemory(data, size, 100, 75, (size & 1) != 0);
    return 0;
}
