#include "app/png_output.h"

#include <png.h>

#include <cstdio>
#include <vector>

namespace app {

bool WriteRgbaPng(const decode::DecodedImage& image, const std::string& path) {
    std::vector<uint8_t> rgba(static_cast<size_t>(image.width) * image.height * 4);
    for (uint32_t y = 0; y < image.height; ++y) {
        const uint8_t* source = image.pixels.get() + static_cast<size_t>(y) * image.stride;
        uint8_t* target = rgba.data() + static_cast<size_t>(y) * image.width * 4;
        for (uint32_t x = 0; x < image.width; ++x, source += 4, target += 4) {
            const unsigned alpha = source[3];
            const auto straight = [alpha](unsigned value) -> uint8_t {
                if (alpha == 0) {
                    return 0;
                }
                const unsigned result = (value * 255 + alpha / 2) / alpha;
                return static_cast<uint8_t>(result > 255 ? 255 : result);
            };
            target[0] = straight(source[2]);
            target[1] = straight(source[1]);
            target[2] = straight(source[0]);
            target[3] = static_cast<uint8_t>(alpha);
        }
    }
    png_image output{};
    output.version = PNG_IMAGE_VERSION;
    output.width = image.width;
    output.height = image.height;
    output.format = PNG_FORMAT_RGBA;
    const bool ok = png_image_write_to_file(&output, path.c_str(), 0, rgba.data(), 0, nullptr) != 0;
    png_image_free(&output);
    if (!ok) {
        std::remove(path.c_str());
    }
    return ok;
}

} // namespace app
