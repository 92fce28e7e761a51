// ICO and CUR directories with their BMP and PNG entries.
#include "decode/ico_reader.h"

#include <cstddef>
#include <cstdint>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    decode::RasterBuilder builder(
        decode::RasterRequest{(size & 2) != 0 ? 24u : 0u, 24, (size & 1) != 0, false});
    std::unique_ptr<uint8_t[]> pixels;
    if (decode::ReadIco(data, size, builder)) {
        builder.Finish(pixels);
    }
    return 0;
}
