#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace info {

// The EXIF orientation (tag 274 of IFD0, "/app1/ifd/{ushort=274}") of an image in memory or on disk:
// 1 to 8, and 1 when the file cannot be read, has no EXIF, stores the tag with another type than
// SHORT or holds a code outside 1..8.
uint32_t ReadExifOrientation(const uint8_t* bytes, size_t size);
uint32_t ReadExifOrientation(const std::string& path);

} // namespace info
