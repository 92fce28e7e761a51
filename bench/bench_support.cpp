#include "bench/bench_support.h"

#include <fstream>
#include <memory>
#include <turbojpeg.h>

namespace bench {

bool WriteRgbJpeg(const std::string& path, const std::vector<uint8_t>& rgb, int width, int height, int flags) {
    const std::unique_ptr<void, int (*)(tjhandle)> compressor(tjInitCompress(), tjDestroy);
    unsigned char* encoded = nullptr;
    unsigned long encodedSize = 0;
    if (!compressor || tjCompress2(compressor.get(), rgb.data(), width, 0, height, TJPF_RGB, &encoded,
                                   &encodedSize, TJSAMP_420, 90, flags) != 0) {
        tjFree(encoded);
        return false;
    }
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(encoded), static_cast<std::streamsize>(encodedSize));
    tjFree(encoded);
    return static_cast<bool>(file);
}

} // namespace bench
