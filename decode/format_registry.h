#pragma once

#include "decode/decoded_image.h"
#include "decode/decoder.h"

#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>

namespace decode {

// The fixed extension sets (lower case, no dot). What a file is, is decided by its extension alone.
enum class ExtensionFamily {
    Wic,
    Jpeg,
    Raw,
    WebP,
    Photoshop,
    Bpg,
    OpenExr,
    Jpeg2000,
    Pdf,
    HeifAvif,
    Svg,
    JpegXl,
    Archives,
};

inline constexpr int kExtensionFamilyCount = 13;

using ExtensionSet = std::unordered_set<std::string>;

const ExtensionSet& ExtensionsOf(ExtensionFamily family);

// The characters after the last "." of the whole path, lower-cased; empty when there is no "." or the
// path ends with one. Path separators are not special: "/photos.old/readme" gives "old/readme".
std::string GetLowerExtension(std::string_view path);

// The extension must already be lower case.
bool IsImageExtension(const std::string& ext);
// These lower-case their argument first.
bool IsArchiveExtension(std::string_view ext);
bool IsPdfExtension(std::string_view ext);

// A new, empty decoder for the path's extension (the WIC-format decoder for everything unclaimed).
std::unique_ptr<IDecoder> CreateDecoder(const std::string& path);

// Decodes a plain file into `image`, bounded by the target (0 x 0: full size). Archive entries ("::"),
// archives and PDF documents are refused. A failed jpg/jpeg/webp/avif/avifs/heic/heif load is retried
// once with the WIC-format decoder. The orientation field is left as the caller set it.
bool LoadImageFile(const std::string& path, uint32_t targetWidth, uint32_t targetHeight, bool highQuality,
                   DecodedImage& image);

} // namespace decode
