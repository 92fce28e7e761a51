#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// Encodes packed RGB rows (width x height x 3 bytes) as a 4:2:0 JPEG of quality 90 into `path`, with the
// TurboJPEG `flags` given (TJFLAG_FASTDCT, TJFLAG_ACCURATEDCT, ...). False when encoding or writing fails.
bool WriteRgbJpeg(const std::string& path, const std::vector<uint8_t>& rgb, int width, int height, int flags = 0);

} // namespace bench
