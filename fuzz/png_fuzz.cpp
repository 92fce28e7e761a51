// PNG images (interlaced passes, every depth) through libpng and the project's reader, fitted to a small
// target and to one a small image fits unscaled.
#include "decode/png_reader.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (const decode::RasterRequest request : {decode::RasterRequest{64, 48, (size & 1) != 0, false},
                                                decode::RasterRequest{512, 512, true, false}}) {
        decode::RasterBuilder builder(request);
        std::unique_ptr<uint8_t[]> pixels;
        std::vector<uint8_t> profile;
        if (decode::ReadPng(data, size, builder, &profile)) {
            builder.Finish(pixels);
        }
    }
    return 0;
}
