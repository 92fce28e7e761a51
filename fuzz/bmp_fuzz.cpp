// BMP files and headerless icon bitmaps through the project's own reader.
#include "decode/bmp_reader.h"

#include <cstddef>
#include <cstdint>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Reduced (like a screen-sized load) and full size, so both the row scaler and direct rows run.
    decode::RasterBuilder reduced(decode::RasterRequest{64, 64, (size & 1) != 0, false});
    std::unique_ptr<uint8_t[]> pixels;
    if (decode::ReadBmp(data, size, reduced)) {
        reduced.Finish(pixels);
    }
    decode::RasterBuilder full(decode::RasterRequest{});
    if (size > 14 && decode::ReadDib(data + 14, size - 14, decode::DibKind::Icon, full)) {
        full.Finish(pixels);
    }
    return 0;
}
