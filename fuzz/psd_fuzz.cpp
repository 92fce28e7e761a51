// Photoshop documents (and whatever else FreeImage recognises) from memory.
#include "decode/psd_decoder.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    decode::PsdDecoder decoder;
    if (decoder.LoadFromMemory(data, size, 0, 0, false) && decoder.GetStride() != decoder.GetWidth() * 4) {
        __builtin_trap();
    }
    return 0;
}
