// JPEG 2000 from memory: the container codec, then the bare codestream, at a reduced resolution (full-size
// decodes of headers that declare hundreds of megapixels are legitimate but take minutes under the
// sanitizers).
#include "decode/j2k_decoder.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    decode::J2kDecoder decoder;
    const uint32_t target = 64;
    if (decoder.LoadFromMemory(data, size, target, target, false) &&
        decoder.GetStride() != decoder.GetWidth() * 4) {
        __builtin_trap();
    }
    return 0;
}
