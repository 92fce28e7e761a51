#pragma once

#include "tests/support/test_support.h"

#include <cstdint>
#include <string>
#include <vector>

// Real encoded images for the loader's tests and benchmark: each picture is a gradient whose colours
// depend on a seed, so images of one folder differ in content as well as in size.
namespace testing_support {

// Baseline JPEG (4:2:0, quality 85) encoded by TurboJPEG's compressor; empty on failure.
std::vector<uint8_t> EncodeLoaderJpeg(uint32_t width, uint32_t height, uint32_t seed);
// Opaque 8-bit RGB PNG encoded by libpng; empty on failure.
std::vector<uint8_t> EncodeLoaderPng(uint32_t width, uint32_t height, uint32_t seed);

enum class LoaderImageKind { Jpeg, Png, Alternating };

// Writes `count` images named "img_000.jpg", "img_001.png", ... into `folder` (zero-padded so that
// every sort order agrees with the numbering) and returns their paths in that order. Image i gets the
// size (width + 8 i) x height, so its size identifies it.
std::vector<std::string> WriteLoaderImages(const TemporaryDirectory& folder, int count, LoaderImageKind kind,
                                           uint32_t width, uint32_t height);

} // namespace testing_support
