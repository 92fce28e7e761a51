// The BPG container parser and the HEVC layers behind it, as an archive entry reaches them.
#include "decode/bpg_decoder.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Huge declared pictures are legitimate up to the raster cap but cost seconds each under the
    // sanitizers; the header parser still sees them.
    decode::BpgHeader header;
    if (!decode::ParseBpgHeader(data, size, header) || uint64_t{header.width} * header.height > (1u << 20)) {
        return 0;
    }
    decode::BpgDecoder decoder;
    if (decoder.LoadFromMemory(data, size, 0, 0, false) && decoder.GetStride() != header.width * 4) {
        __builtin_trap();
    }
    return 0;
}
