#pragma once

#include <cstddef>
#include <cstdint>

namespace decode {

// Smaller files are never treated as gain-map images: below this size a gain map saves nothing worth a
// second decode, and the ordinary scaled decode is faster.
inline constexpr uint64_t kUltraHdrMinimumFileSize = 2 * 1024 * 1024;

// True when a JPEG is an Ultra HDR (gain-map) image: its primary image carries an MPF index that lists a
// secondary JPEG lying inside the file, and XMP that declares the gain-map namespace
// (http://ns.adobe.com/hdr-gain-map/1.0/). Only the primary image's header segments are read; every read
// is bounded by `size`.
bool IsUltraHdrImage(const uint8_t* bytes, size_t size);

} // namespace decode
