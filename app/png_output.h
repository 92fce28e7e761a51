#pragma once

#include "decode/decoded_image.h"

#include <string>

namespace app {

// Writes a decoded raster as an 8-bit RGBA PNG file with straight (un-premultiplied) colours. False when
// the file cannot be written; a partly written file is then removed.
bool WriteRgbaPng(const decode::DecodedImage& image, const std::string& path);

} // namespace app
