// BMP files and headerless icon bitmaps through the project's own reader.
#include "decode/bmp_reader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

// Declared sizes up to the decoder's cap are legal but take seconds under the sanitizers; the fuzzer
// explores the parsing far better on images of at most 2^22 pixels (the wic target covers larger ones).
bool SmallEnough(const uint8_t* data, size_t size) {
    if (size < 26) {
        return false;
    }
    const auto read32 = [data](size_t at) {
        return static_cast<int32_t>(data[at] | data[at + 1] << 8 | data[at + 2] << 16 |
                                    static_cast<uint32_t>(data[at + 3]) << 24);
    };
    const int64_t width = std::llabs(read32(18));
    const int64_t height = std::llabs(read32(22));
    return width * height <= (int64_t{1} << 22);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!SmallEnough(data, size)) {
        return 0;
    }
    // Reduced (like a screen-sized load) and full size, so both the row scaler and direct rows run.
    decode::RasterBuilder reduced(decode::RasterRequest{64, 64, (size & 1) != 0, false});
    std::unique_ptr<uint8_t[]> pixels;
    if (decode::ReadBmp(data, size, reduced)) {
        reduced.Finish(pixels);
    }
    decode::RasterBuilder full(decode::RasterRequest{});
    if (decode::ReadDib(data + 14, size - 14, decode::DibKind::Icon, full)) {
        full.Finish(pixels);
    }
    return 0;
}
