#include "tests/support/loader_images.h"

#include <cstdio>
#include <memory>
#include <png.h>
#include <turbojpeg.h>

namespace testing_support {

namespace {

std::vector<uint8_t> GradientRgb(uint32_t width, uint32_t height, uint32_t seed) {
    std::vector<uint8_t> rgb(size_t{width} * height * 3);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* pixel = &rgb[(size_t{y} * width + x) * 3];
            pixel[0] = static_cast<uint8_t>(x * 255 / (width > 1 ? width - 1 : 1) + seed * 37);
            pixel[1] = static_cast<uint8_t>(y * 255 / (height > 1 ? height - 1 : 1) + seed * 11);
            pixel[2] = static_cast<uint8_t>(seed * 53 + ((x / 16 + y / 16) % 2) * 40);
        }
    }
    return rgb;
}

struct TurboJpegCloser {
    void operator()(void* handle) const { tjDestroy(handle); }
};

} // namespace

std::vector<uint8_t> EncodeLoaderJpeg(uint32_t width, uint32_t height, uint32_t seed) {
    const std::vector<uint8_t> rgb = GradientRgb(width, height, seed);
    std::unique_ptr<void, TurboJpegCloser> handle(tjInitCompress());
    if (!handle) {
        return {};
    }
    unsigned char* encoded = nullptr;
    unsigned long encodedSize = 0;
    if (tjCompress2(handle.get(), rgb.data(), static_cast<int>(width), static_cast<int>(width * 3),
                    static_cast<int>(height), TJPF_RGB, &encoded, &encodedSize, TJSAMP_420, 85, 0) != 0) {
        tjFree(encoded);
        return {};
    }
    std::vector<uint8_t> bytes(encoded, encoded + encodedSize);
    tjFree(encoded);
    return bytes;
}

std::vector<uint8_t> EncodeLoaderPng(uint32_t width, uint32_t height, uint32_t seed) {
    const std::vector<uint8_t> rgb = GradientRgb(width, height, seed);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = PNG_FORMAT_RGB;
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&image, nullptr, &size, 0, rgb.data(), 0, nullptr)) {
        return {};
    }
    std::vector<uint8_t> bytes(size);
    if (!png_image_write_to_memory(&image, bytes.data(), &size, 0, rgb.data(), 0, nullptr)) {
        return {};
    }
    bytes.resize(size);
    return bytes;
}

std::vector<std::string> WriteLoaderImages(const TemporaryDirectory& folder, int count, LoaderImageKind kind,
                                           uint32_t width, uint32_t height) {
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
        const bool png = kind == LoaderImageKind::Png || (kind == LoaderImageKind::Alternating && i % 2 == 1);
        char name[32];
        std::snprintf(name, sizeof name, "img_%03d.%s", i, png ? "png" : "jpg");
        const uint32_t imageWidth = width + static_cast<uint32_t>(i) * 8;
        const uint32_t seed = static_cast<uint32_t>(i);
        paths.push_back(folder.Write(name, png ? EncodeLoaderPng(imageWidth, height, seed)
                                               : EncodeLoaderJpeg(imageWidth, height, seed)));
    }
    return paths;
}

} // namespace testing_support
