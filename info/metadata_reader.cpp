#include "info/metadata_reader.h"

#include "info/byte_source.h"
#include "info/tiff_structure.h"
#include "platform/text.h"

#include <libheif/heif.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace info {

namespace {

using Type = MetadataValue::Type;

// Most frames listed for one file, and most bytes kept of one comment or application block.
constexpr size_t kMaxFrames = 100000;
constexpr size_t kMaxTextBytes = 64 * 1024;
// Garbage tolerated between JPEG markers before the walk gives up.
constexpr uint64_t kMaxJpegJunk = 64 * 1024;
constexpr size_t kMaxPngChunks = 1 << 20;

struct GifImage {
    uint16_t left = 0;
    uint16_t top = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    uint8_t packed = 0;
    bool hasControl = false;
    uint8_t controlPacked = 0;
    uint16_t delay = 0;
    uint8_t transparentIndex = 0;
    std::optional<std::string> comment;
};

struct GifData {
    uint8_t signature[6] = {};
    uint16_t width = 0;
    uint16_t height = 0;
    uint8_t packed = 0;
    uint8_t background = 0;
    uint8_t aspect = 0;
    uint64_t blocksStart = 0;
    // Filled by the first walk over the blocks.
    bool walked = false;
    bool hasApplication = false;
    std::vector<uint8_t> application;
    std::vector<uint8_t> applicationData;
    std::optional<std::string> comment;
    std::vector<GifImage> images;
};

struct ApngFrame {
    uint32_t sequence = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t x = 0;
    uint32_t y = 0;
    uint16_t delayNumerator = 0;
    uint16_t delayDenominator = 0;
    uint8_t disposeOp = 0;
    uint8_t blendOp = 0;
};

struct PngData {
    bool animated = false; // acTL before the first IDAT
    uint32_t numFrames = 0;
    uint32_t numPlays = 0;
    std::vector<ApngFrame> frames;
};

struct WebPFrame {
    uint32_t x = 0;
    uint32_t y = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t duration = 0;
    uint8_t flags = 0;
};

struct WebPData {
    bool hasCanvas = false;
    uint8_t flags = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    bool hasAnimation = false;
    uint32_t background = 0;
    uint16_t loopCount = 0;
    std::vector<WebPFrame> frames;
};

uint32_t LoadLe(const uint8_t* p, int size) {
    uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) {
        value = value << 8 | p[i];
    }
    return value;
}

uint32_t LoadBe(const uint8_t* p, int size) {
    uint32_t value = 0;
    for (int i = 0; i < size; ++i) {
        value = value << 8 | p[i];
    }
    return value;
}

MetadataValue U8(uint8_t v) {
    return MetadataValue::Unsigned(Type::UInt8, {v});
}
MetadataValue U16(uint16_t v) {
    return MetadataValue::Unsigned(Type::UInt16, {v});
}
MetadataValue U32(uint32_t v) {
    return MetadataValue::Unsigned(Type::UInt32, {v});
}
MetadataValue Flag(bool v) {
    return MetadataValue::Unsigned(Type::Bool, {v ? 1u : 0u});
}

bool NameIs(std::string_view name, std::string_view expected) {
    return platform::EqualsIgnoreCase(name, expected);
}

// "/a/b/c" → {"a", "b", "c"}; nothing for a path that does not start with "/" or has an empty name.
std::optional<std::vector<std::string_view>> SplitPath(std::string_view path) {
    if (path.size() < 2 || path[0] != '/') {
        return std::nullopt;
    }
    std::vector<std::string_view> names;
    size_t start = 1;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        if (end == start || names.size() >= 16) {
            return std::nullopt;
        }
        names.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

// "{ushort=274}" or "{uint=274}" (decimal, or hexadecimal after "0x") → 274; tags are 16-bit.
std::optional<uint16_t> ParseTagName(std::string_view name) {
    std::string_view rest;
    if (name.size() > 8 && NameIs(name.substr(0, 8), "{ushort=")) {
        rest = name.substr(8);
    } else if (name.size() > 6 && NameIs(name.substr(0, 6), "{uint=")) {
        rest = name.substr(6);
    } else {
        return std::nullopt;
    }
    if (rest.size() < 2 || rest.back() != '}') {
        return std::nullopt;
    }
    rest.remove_suffix(1);
    unsigned base = 10;
    if (rest.size() > 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) {
        base = 16;
        rest.remove_prefix(2);
    }
    if (rest.empty() || rest.size() > 6) {
        return std::nullopt;
    }
    uint32_t value = 0;
    for (const char c : rest) {
        uint32_t digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<uint32_t>(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = static_cast<uint32_t>(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = static_cast<uint32_t>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        value = value * base + digit;
    }
    if (value > 0xFFFF) {
        return std::nullopt;
    }
    return static_cast<uint16_t>(value);
}

bool IsDirectoryRoot(std::string_view name) {
    return NameIs(name, "ifd") || NameIs(name, "thumb");
}

// Skips GIF data sub-blocks starting at `position`; the position after the terminator, or nothing when
// the data ends first. When `collect` is given, up to kMaxTextBytes of the blocks are appended to it
// (with their size bytes when `withSizes`).
std::optional<uint64_t> WalkSubBlocks(ByteSource& source, uint64_t position, std::vector<uint8_t>* collect,
                                      bool withSizes) {
    std::vector<uint8_t> block;
    while (true) {
        uint8_t size = 0;
        if (!source.ReadU8(position, size)) {
            return std::nullopt;
        }
        if (size == 0) {
            return position + 1;
        }
        if (collect != nullptr && collect->size() < kMaxTextBytes) {
            if (!source.ReadBytes(position + 1, size, block)) {
                return std::nullopt;
            }
            if (withSizes) {
                collect->push_back(size);
            }
            collect->insert(collect->end(), block.begin(), block.end());
        }
        position += 1u + size;
    }
}

// libheif reads the container through these, seeking over the image data, so only the boxes that
// describe the items are read.
struct HeifSourceReader {
    ByteSource* source = nullptr;
    uint64_t position = 0;

    static int64_t Position(void* self) {
        return static_cast<int64_t>(static_cast<HeifSourceReader*>(self)->position);
    }
    static int Read(void* data, size_t size, void* self) {
        auto& reader = *static_cast<HeifSourceReader*>(self);
        if (!reader.source->Read(reader.position, data, size)) {
            return 1;
        }
        reader.position += size;
        return 0;
    }
    static int Seek(int64_t position, void* self) {
        auto& reader = *static_cast<HeifSourceReader*>(self);
        if (position < 0 || static_cast<uint64_t>(position) > reader.source->Size()) {
            return 1;
        }
        reader.position = static_cast<uint64_t>(position);
        return 0;
    }
    static heif_reader_grow_status WaitForFileSize(int64_t target, void* self) {
        const auto& reader = *static_cast<HeifSourceReader*>(self);
        return target >= 0 && static_cast<uint64_t>(target) <= reader.source->Size()
                   ? heif_reader_grow_status_size_reached
                   : heif_reader_grow_status_size_beyond_eof;
    }
};

bool IsHeifBrand(const uint8_t* brand) {
    for (const char* known :
         {"heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1", "mif2", "avif", "avis"}) {
        if (std::memcmp(brand, known, 4) == 0) {
            return true;
        }
    }
    return false;
}

// Boxes walked in a JPEG XL container before the search for its Exif box gives up.
constexpr int kMaxJxlBoxes = 4096;
// Largest EXIF item taken out of a HEIF file (the format allows one APP1-sized block in practice).
constexpr size_t kMaxHeifExifBytes = 16u << 20;

} // namespace

struct MetadataReader::State {
    std::unique_ptr<ByteSource> source;
    ContainerFormat format = ContainerFormat::Unknown;
    TiffStructure exif; // the EXIF block, or the TIFF file itself
    bool hasExif = false;
    bool chainBuilt = false;
    std::vector<uint64_t> tiffChain;
    GifData gif;
    PngData png;
    WebPData webp;

    bool Parse();
    bool ParseJpeg();
    bool ParsePng();
    bool ParseGif();
    bool ParseWebP();
    bool ParseHeif();
    bool ParseJxl();
    // An EXIF block behind the 4-byte offset of its TIFF header, as HEIF items and JPEG XL boxes keep it.
    bool OpenOffsetExifAt(uint64_t offset, uint64_t length);
    // An EXIF block at [offset, offset + length), with an optional "Exif\0\0" prefix.
    bool OpenExifAt(uint64_t offset, uint64_t length);
    void WalkGif();
    const std::vector<uint64_t>& TiffChain();
    uint32_t FrameCount();

    MetadataValue QueryExif(std::optional<uint64_t> start, const std::vector<std::string_view>& names,
                            size_t first);
    MetadataValue QueryContainer(const std::vector<std::string_view>& names);
    MetadataValue QueryFrame(uint32_t frame, const std::vector<std::string_view>& names);
    // The index of "ifd"/"thumb" when `names` is an EXIF path.
    std::optional<size_t> ExifPathStart(const std::vector<std::string_view>& names) const;
};

bool MetadataReader::State::OpenExifAt(uint64_t offset, uint64_t length) {
    uint8_t prefix[6] = {};
    if (length >= 6 && source->Read(offset, prefix, 6) && std::memcmp(prefix, "Exif\0", 5) == 0) {
        offset += 6;
        length -= 6;
    }
    hasExif = exif.Open(*source, offset, length);
    return hasExif;
}

bool MetadataReader::State::Parse() {
    uint8_t magic[12] = {};
    const size_t available = static_cast<size_t>(std::min<uint64_t>(source->Size(), sizeof magic));
    if (available < 4 || !source->Read(0, magic, available)) {
        return false;
    }
    if (magic[0] == 0xFF && magic[1] == 0xD8) {
        format = ContainerFormat::Jpeg;
        return ParseJpeg();
    }
    if (available >= 8 && std::memcmp(magic, "\x89PNG\r\n\x1a\n", 8) == 0) {
        format = ContainerFormat::Png;
        return ParsePng();
    }
    if (available >= 6 && (std::memcmp(magic, "GIF87a", 6) == 0 || std::memcmp(magic, "GIF89a", 6) == 0)) {
        format = ContainerFormat::Gif;
        return ParseGif();
    }
    if (available >= 12 && std::memcmp(magic, "RIFF", 4) == 0 && std::memcmp(magic + 8, "WEBP", 4) == 0) {
        format = ContainerFormat::WebP;
        return ParseWebP();
    }
    if (available >= 12 && std::memcmp(magic + 4, "ftyp", 4) == 0 && IsHeifBrand(magic + 8)) {
        format = ContainerFormat::Heif;
        return ParseHeif();
    }
    if (available >= 12 && std::memcmp(magic, "\0\0\0\x0CJXL \r\n\x87\n", 12) == 0) {
        format = ContainerFormat::JpegXl;
        return ParseJxl();
    }
    if (magic[0] == 0xFF && magic[1] == 0x0A) {
        format = ContainerFormat::JpegXl; // a bare codestream has no room for EXIF
        return true;
    }
    if (exif.Open(*source, 0, source->Size())) {
        format = ContainerFormat::Tiff;
        hasExif = true;
        return true;
    }
    return false;
}

bool MetadataReader::State::OpenOffsetExifAt(uint64_t offset, uint64_t length) {
    uint32_t skip = 0;
    if (length < 4 || !source->ReadU32(offset, true, skip) || skip > length - 4) {
        return false;
    }
    return OpenExifAt(offset + 4 + skip, length - 4 - skip);
}

bool MetadataReader::State::ParseHeif() {
    static const heif_reader callbacks = {1, HeifSourceReader::Position, HeifSourceReader::Read,
                                          HeifSourceReader::Seek, HeifSourceReader::WaitForFileSize};
    HeifSourceReader reader{source.get(), 0};
    const std::unique_ptr<heif_context, void (*)(heif_context*)> context(heif_context_alloc(),
                                                                         heif_context_free);
    if (!context ||
        heif_context_read_from_reader(context.get(), &callbacks, &reader, nullptr).code != heif_error_Ok) {
        return false;
    }
    heif_image_handle* rawHandle = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &rawHandle).code != heif_error_Ok) {
        return false;
    }
    const std::unique_ptr<heif_image_handle, void (*)(const heif_image_handle*)> handle(
        rawHandle, heif_image_handle_release);
    heif_item_id id = 0;
    if (heif_image_handle_get_list_of_metadata_block_IDs(handle.get(), "Exif", &id, 1) != 1) {
        return true; // a picture without EXIF
    }
    const size_t size = heif_image_handle_get_metadata_size(handle.get(), id);
    std::vector<uint8_t> block(size);
    if (size == 0 || size > kMaxHeifExifBytes ||
        heif_image_handle_get_metadata(handle.get(), id, block.data()).code != heif_error_Ok) {
        return true;
    }
    // The block is all that is queried from here on.
    source = std::make_unique<MemoryByteSource>(std::move(block));
    OpenOffsetExifAt(0, size);
    return true;
}

bool MetadataReader::State::ParseJxl() {
    uint64_t position = 0;
    for (int box = 0; box < kMaxJxlBoxes && position + 8 <= source->Size(); ++box) {
        uint32_t size32 = 0;
        uint8_t type[4] = {};
        if (!source->ReadU32(position, true, size32) || !source->Read(position + 4, type, 4)) {
            break;
        }
        uint64_t header = 8;
        uint64_t size = size32;
        if (size32 == 1) {
            if (!source->ReadU64(position + 8, true, size)) {
                break;
            }
            header = 16;
        } else if (size32 == 0) {
            size = source->Size() - position;
        }
        if (size < header || !source->Contains(position, size)) {
            break;
        }
        if (std::memcmp(type, "Exif", 4) == 0) {
            OpenOffsetExifAt(position + header, size - header);
            break;
        }
        position += size;
    }
    return true;
}

bool MetadataReader::State::ParseJpeg() {
    uint64_t position = 2;
    uint64_t junk = 0;
    while (true) {
        uint8_t byte = 0;
        if (!source->ReadU8(position, byte)) {
            break;
        }
        if (byte != 0xFF) {
            // Stray bytes between segments: skip them the way decoders do, within reason.
            if (++junk > kMaxJpegJunk) {
                break;
            }
            ++position;
            continue;
        }
        uint8_t marker = 0xFF;
        while (marker == 0xFF) {
            ++position;
            if (!source->ReadU8(position, marker)) {
                return true;
            }
        }
        ++position;
        if (marker == 0x00 || marker == 0x01 || marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7)) {
            continue; // no length field
        }
        if (marker == 0xD9 || marker == 0xDA) {
            break; // the end of the headers
        }
        uint16_t length = 0;
        if (!source->ReadU16(position, true, length) || length < 2) {
            break;
        }
        if (marker == 0xE1 && !hasExif && length >= 2 + 6) {
            uint8_t prefix[6] = {};
            if (source->Read(position + 2, prefix, 6) && std::memcmp(prefix, "Exif\0", 5) == 0) {
                const uint64_t end = std::min<uint64_t>(position + length, source->Size());
                hasExif = exif.Open(*source, position + 8, end - (position + 8));
            }
        }
        position += length;
    }
    return true;
}

bool MetadataReader::State::ParsePng() {
    uint64_t position = 8;
    bool seenImageData = false;
    bool seenAnimationControl = false;
    for (size_t chunk = 0; chunk < kMaxPngChunks; ++chunk) {
        uint8_t header[8];
        if (!source->Read(position, header, 8)) {
            break;
        }
        const uint32_t length = LoadBe(header, 4);
        const uint64_t data = position + 8;
        if (length > 0x7FFFFFFFu || !source->Contains(data, length)) {
            break;
        }
        const std::string_view type(reinterpret_cast<const char*>(header + 4), 4);
        if (type == "IDAT") {
            seenImageData = true;
        } else if (type == "IEND") {
            break;
        } else if (type == "acTL" && length >= 8 && !seenImageData && !seenAnimationControl) {
            uint8_t body[8];
            if (source->Read(data, body, 8)) {
                seenAnimationControl = true;
                png.numFrames = LoadBe(body, 4);
                png.numPlays = LoadBe(body + 4, 4);
            }
        } else if (type == "fcTL" && length >= 26 && png.frames.size() < kMaxFrames) {
            uint8_t body[26];
            if (source->Read(data, body, 26)) {
                ApngFrame frame;
                frame.sequence = LoadBe(body, 4);
                frame.width = LoadBe(body + 4, 4);
                frame.height = LoadBe(body + 8, 4);
                frame.x = LoadBe(body + 12, 4);
                frame.y = LoadBe(body + 16, 4);
                frame.delayNumerator = static_cast<uint16_t>(LoadBe(body + 20, 2));
                frame.delayDenominator = static_cast<uint16_t>(LoadBe(body + 22, 2));
                frame.disposeOp = body[24];
                frame.blendOp = body[25];
                png.frames.push_back(frame);
            }
        } else if (type == "eXIf" && !hasExif) {
            OpenExifAt(data, length);
        }
        position = data + length + 4;
    }
    png.animated = seenAnimationControl && !png.frames.empty();
    if (!png.animated) {
        png.frames.clear();
    }
    return true;
}

bool MetadataReader::State::ParseGif() {
    uint8_t header[13];
    if (!source->Read(0, header, 13)) {
        return false;
    }
    std::memcpy(gif.signature, header, 6);
    gif.width = static_cast<uint16_t>(LoadLe(header + 6, 2));
    gif.height = static_cast<uint16_t>(LoadLe(header + 8, 2));
    gif.packed = header[10];
    gif.background = header[11];
    gif.aspect = header[12];
    gif.blocksStart = 13;
    if (gif.packed & 0x80) {
        gif.blocksStart += 3u << ((gif.packed & 7) + 1);
    }
    return true;
}

void MetadataReader::State::WalkGif() {
    if (gif.walked) {
        return;
    }
    gif.walked = true;
    uint64_t position = gif.blocksStart;
    GifImage pending;
    std::vector<uint8_t> collected;
    while (gif.images.size() < kMaxFrames) {
        uint8_t introducer = 0;
        if (!source->ReadU8(position, introducer) || introducer == 0x3B) {
            return;
        }
        if (introducer == 0x21) {
            uint8_t label = 0;
            if (!source->ReadU8(position + 1, label)) {
                return;
            }
            position += 2;
            std::optional<uint64_t> next;
            if (label == 0xF9) {
                uint8_t body[5];
                if (source->Read(position, body, 5) && body[0] >= 4) {
                    pending.hasControl = true;
                    pending.controlPacked = body[1];
                    pending.delay = static_cast<uint16_t>(LoadLe(body + 2, 2));
                    pending.transparentIndex = body[4];
                }
                next = WalkSubBlocks(*source, position, nullptr, false);
            } else if (label == 0xFE) {
                collected.clear();
                next = WalkSubBlocks(*source, position, &collected, false);
                std::string text(collected.begin(), collected.end());
                pending.comment = text;
                if (!gif.comment) {
                    gif.comment = std::move(text);
                }
            } else if (label == 0xFF && !gif.hasApplication) {
                uint8_t size = 0;
                std::vector<uint8_t> identifier;
                if (source->ReadU8(position, size) && source->ReadBytes(position + 1, size, identifier)) {
                    collected.clear();
                    next = WalkSubBlocks(*source, position + 1 + size, &collected, true);
                    if (next) {
                        gif.hasApplication = true;
                        gif.application = std::move(identifier);
                        gif.applicationData = collected;
                    }
                }
            } else {
                next = WalkSubBlocks(*source, position, nullptr, false);
            }
            if (!next) {
                return;
            }
            position = *next;
        } else if (introducer == 0x2C) {
            uint8_t descriptor[9];
            if (!source->Read(position + 1, descriptor, 9)) {
                return;
            }
            pending.left = static_cast<uint16_t>(LoadLe(descriptor, 2));
            pending.top = static_cast<uint16_t>(LoadLe(descriptor + 2, 2));
            pending.width = static_cast<uint16_t>(LoadLe(descriptor + 4, 2));
            pending.height = static_cast<uint16_t>(LoadLe(descriptor + 6, 2));
            pending.packed = descriptor[8];
            gif.images.push_back(std::move(pending));
            pending = GifImage();
            position += 10;
            if (descriptor[8] & 0x80) {
                position += 3u << ((descriptor[8] & 7) + 1);
            }
            // The LZW code size, then the image data.
            const std::optional<uint64_t> next = WalkSubBlocks(*source, position + 1, nullptr, false);
            if (!next) {
                return;
            }
            position = *next;
        } else {
            return;
        }
    }
}

bool MetadataReader::State::ParseWebP() {
    uint32_t riffSize = 0;
    if (!source->ReadU32(4, false, riffSize)) {
        return false;
    }
    const uint64_t end = std::min<uint64_t>(uint64_t{riffSize} + 8, source->Size());
    uint64_t position = 12;
    while (position + 8 <= end) {
        uint8_t header[8];
        if (!source->Read(position, header, 8)) {
            break;
        }
        const uint32_t size = LoadLe(header + 4, 4);
        const uint64_t data = position + 8;
        if (size > end - data) {
            break;
        }
        const std::string_view fourcc(reinterpret_cast<const char*>(header), 4);
        if (fourcc == "VP8X" && size >= 10) {
            uint8_t body[10];
            if (source->Read(data, body, 10)) {
                webp.hasCanvas = true;
                webp.flags = body[0];
                webp.width = LoadLe(body + 4, 3) + 1;
                webp.height = LoadLe(body + 7, 3) + 1;
            }
        } else if (fourcc == "ANIM" && size >= 6) {
            uint8_t body[6];
            if (source->Read(data, body, 6)) {
                webp.hasAnimation = true;
                webp.background = LoadLe(body, 4);
                webp.loopCount = static_cast<uint16_t>(LoadLe(body + 4, 2));
            }
        } else if (fourcc == "ANMF" && size >= 16 && webp.frames.size() < kMaxFrames) {
            uint8_t body[16];
            if (source->Read(data, body, 16)) {
                WebPFrame frame;
                frame.x = LoadLe(body, 3) * 2;
                frame.y = LoadLe(body + 3, 3) * 2;
                frame.width = LoadLe(body + 6, 3) + 1;
                frame.height = LoadLe(body + 9, 3) + 1;
                frame.duration = LoadLe(body + 12, 3);
                frame.flags = body[15];
                webp.frames.push_back(frame);
            }
        } else if (fourcc == "EXIF" && !hasExif) {
            OpenExifAt(data, size);
        }
        position = data + size + (size & 1);
    }
    return true;
}

const std::vector<uint64_t>& MetadataReader::State::TiffChain() {
    if (!chainBuilt) {
        chainBuilt = true;
        tiffChain = exif.DirectoryChain();
    }
    return tiffChain;
}

uint32_t MetadataReader::State::FrameCount() {
    switch (format) {
    case ContainerFormat::Gif:
        WalkGif();
        return static_cast<uint32_t>(gif.images.size());
    case ContainerFormat::Png:
        return png.animated ? static_cast<uint32_t>(png.frames.size()) : 1;
    case ContainerFormat::WebP:
        return webp.frames.empty() ? 1 : static_cast<uint32_t>(webp.frames.size());
    case ContainerFormat::Tiff:
        return static_cast<uint32_t>(TiffChain().size());
    case ContainerFormat::Jpeg:
    case ContainerFormat::Heif:
    case ContainerFormat::JpegXl:
    case ContainerFormat::ExifBlock:
        return 1;
    case ContainerFormat::Unknown:
        break;
    }
    return 0;
}

std::optional<size_t> MetadataReader::State::ExifPathStart(const std::vector<std::string_view>& names) const {
    if (IsDirectoryRoot(names[0])) {
        return 0;
    }
    if ((NameIs(names[0], "app1") || NameIs(names[0], "exif")) && names.size() > 1 &&
        IsDirectoryRoot(names[1])) {
        return 1;
    }
    return std::nullopt;
}

MetadataValue MetadataReader::State::QueryExif(std::optional<uint64_t> directory,
                                               const std::vector<std::string_view>& names, size_t first) {
    if (!hasExif || !directory || first + 1 >= names.size()) {
        return {};
    }
    if (NameIs(names[first], "thumb")) {
        directory = exif.NextDirectory(*directory);
    }
    for (size_t i = first + 1; directory && i + 1 < names.size(); ++i) {
        const std::string_view name = names[i];
        if (NameIs(name, "exif")) {
            directory = exif.SubDirectory(*directory, kExifPointerTag);
        } else if (NameIs(name, "gps")) {
            directory = exif.SubDirectory(*directory, kGpsPointerTag);
        } else if (NameIs(name, "interop")) {
            directory = exif.SubDirectory(*directory, kInteropPointerTag);
        } else if (const std::optional<uint16_t> pointer = ParseTagName(name)) {
            directory = exif.SubDirectory(*directory, *pointer);
        } else {
            return {};
        }
    }
    const std::optional<uint16_t> tag = ParseTagName(names.back());
    if (!directory || !tag) {
        return {};
    }
    return exif.ReadTag(*directory, *tag);
}

MetadataValue MetadataReader::State::QueryContainer(const std::vector<std::string_view>& names) {
    if (const std::optional<size_t> start = ExifPathStart(names)) {
        return QueryExif(hasExif ? exif.FirstDirectory() : std::nullopt, names, *start);
    }
    if (names.size() != 2) {
        return {};
    }
    const std::string_view block = names[0];
    const std::string_view item = names[1];
    if (format == ContainerFormat::Gif) {
        if (NameIs(block, "logscrdesc")) {
            if (NameIs(item, "Signature")) {
                return MetadataValue::Unsigned(Type::UInt8Vector,
                                               std::vector<uint64_t>(gif.signature, gif.signature + 6));
            }
            if (NameIs(item, "Width")) {
                return U16(gif.width);
            }
            if (NameIs(item, "Height")) {
                return U16(gif.height);
            }
            if (NameIs(item, "GlobalColorTableFlag")) {
                return Flag(gif.packed & 0x80);
            }
            if (NameIs(item, "ColorResolution")) {
                return U8((gif.packed >> 4) & 7);
            }
            if (NameIs(item, "SortFlag")) {
                return Flag(gif.packed & 0x08);
            }
            if (NameIs(item, "GlobalColorTableSize")) {
                return U8(gif.packed & 7);
            }
            if (NameIs(item, "BackgroundColorIndex")) {
                return U8(gif.background);
            }
            if (NameIs(item, "PixelAspectRatio")) {
                return U8(gif.aspect);
            }
            return {};
        }
        if (NameIs(block, "appext")) {
            WalkGif();
            if (!gif.hasApplication) {
                return {};
            }
            if (NameIs(item, "Application")) {
                return MetadataValue::BlobOf(gif.application);
            }
            if (NameIs(item, "Data")) {
                return MetadataValue::BlobOf(gif.applicationData);
            }
            return {};
        }
        if (NameIs(block, "commentext") && NameIs(item, "TextEntry")) {
            WalkGif();
            return gif.comment ? MetadataValue::AsciiText(*gif.comment) : MetadataValue();
        }
        return {};
    }
    if (format == ContainerFormat::Png && NameIs(block, "acTL") && png.animated) {
        if (NameIs(item, "NumFrames")) {
            return U32(png.numFrames);
        }
        if (NameIs(item, "NumPlays")) {
            return U32(png.numPlays);
        }
        return {};
    }
    if (format == ContainerFormat::WebP) {
        if (NameIs(block, "VP8X") && webp.hasCanvas) {
            if (NameIs(item, "Flags")) {
                return U8(webp.flags);
            }
            if (NameIs(item, "Width")) {
                return U32(webp.width);
            }
            if (NameIs(item, "Height")) {
                return U32(webp.height);
            }
            return {};
        }
        if (NameIs(block, "ANIM") && webp.hasAnimation) {
            if (NameIs(item, "BackgroundColor")) {
                return U32(webp.background);
            }
            if (NameIs(item, "LoopCount")) {
                return U16(webp.loopCount);
            }
            return {};
        }
    }
    return {};
}

MetadataValue MetadataReader::State::QueryFrame(uint32_t frame, const std::vector<std::string_view>& names) {
    if (const std::optional<size_t> start = ExifPathStart(names)) {
        // Answered without counting frames: a GIF (which has no EXIF) is not walked for this.
        if (format == ContainerFormat::Tiff && frame > 0) {
            const std::vector<uint64_t>& chain = TiffChain();
            return frame < chain.size() ? QueryExif(chain[frame], names, *start) : MetadataValue();
        }
        // Frame 0 of a TIFF is IFD0; in other containers EXIF belongs to the first frame.
        if (frame != 0 || !hasExif) {
            return {};
        }
        return QueryExif(exif.FirstDirectory(), names, *start);
    }
    if (frame >= FrameCount()) {
        return {};
    }
    if (names.size() != 2) {
        return {};
    }
    const std::string_view block = names[0];
    const std::string_view item = names[1];
    if (format == ContainerFormat::Gif) {
        const GifImage& image = gif.images[frame];
        if (NameIs(block, "imgdesc")) {
            if (NameIs(item, "Left")) {
                return U16(image.left);
            }
            if (NameIs(item, "Top")) {
                return U16(image.top);
            }
            if (NameIs(item, "Width")) {
                return U16(image.width);
            }
            if (NameIs(item, "Height")) {
                return U16(image.height);
            }
            if (NameIs(item, "LocalColorTableFlag")) {
                return Flag(image.packed & 0x80);
            }
            if (NameIs(item, "InterlaceFlag")) {
                return Flag(image.packed & 0x40);
            }
            if (NameIs(item, "SortFlag")) {
                return Flag(image.packed & 0x20);
            }
            if (NameIs(item, "LocalColorTableSize")) {
                return U8(image.packed & 7);
            }
            return {};
        }
        if (NameIs(block, "grctlext") && image.hasControl) {
            if (NameIs(item, "Disposal")) {
                return U8((image.controlPacked >> 2) & 7);
            }
            if (NameIs(item, "UserInputFlag")) {
                return Flag(image.controlPacked & 0x02);
            }
            if (NameIs(item, "TransparencyFlag")) {
                return Flag(image.controlPacked & 0x01);
            }
            if (NameIs(item, "Delay")) {
                return U16(image.delay);
            }
            if (NameIs(item, "TransparentColorIndex")) {
                return U8(image.transparentIndex);
            }
            return {};
        }
        if (NameIs(block, "commentext") && NameIs(item, "TextEntry") && image.comment) {
            return MetadataValue::AsciiText(*image.comment);
        }
        return {};
    }
    if (format == ContainerFormat::Png && png.animated && NameIs(block, "fcTL")) {
        const ApngFrame& control = png.frames[frame];
        if (NameIs(item, "SequenceNumber")) {
            return U32(control.sequence);
        }
        if (NameIs(item, "Width")) {
            return U32(control.width);
        }
        if (NameIs(item, "Height")) {
            return U32(control.height);
        }
        if (NameIs(item, "XOffset")) {
            return U32(control.x);
        }
        if (NameIs(item, "YOffset")) {
            return U32(control.y);
        }
        if (NameIs(item, "DelayNumerator")) {
            return U16(control.delayNumerator);
        }
        if (NameIs(item, "DelayDenominator")) {
            return U16(control.delayDenominator);
        }
        if (NameIs(item, "DisposeOp")) {
            return U8(control.disposeOp);
        }
        if (NameIs(item, "BlendOp")) {
            return U8(control.blendOp);
        }
        if (NameIs(item, "FrameDelay")) {
            // The format reads a zero denominator as hundredths of a second.
            const uint32_t denominator = control.delayDenominator == 0 ? 100 : control.delayDenominator;
            return U32((uint32_t{control.delayNumerator} * 1000 + denominator / 2) / denominator);
        }
        return {};
    }
    if (format == ContainerFormat::WebP && !webp.frames.empty() && NameIs(block, "ANMF")) {
        const WebPFrame& animationFrame = webp.frames[frame];
        if (NameIs(item, "OffsetX")) {
            return U32(animationFrame.x);
        }
        if (NameIs(item, "OffsetY")) {
            return U32(animationFrame.y);
        }
        if (NameIs(item, "Width")) {
            return U32(animationFrame.width);
        }
        if (NameIs(item, "Height")) {
            return U32(animationFrame.height);
        }
        if (NameIs(item, "Duration")) {
            return U32(animationFrame.duration);
        }
        if (NameIs(item, "DisposalMethod")) {
            return U8(animationFrame.flags & 1);
        }
        if (NameIs(item, "BlendingMethod")) {
            return U8((animationFrame.flags >> 1) & 1);
        }
        return {};
    }
    return {};
}

MetadataReader::MetadataReader() = default;
MetadataReader::~MetadataReader() = default;
MetadataReader::MetadataReader(MetadataReader&&) noexcept = default;
MetadataReader& MetadataReader::operator=(MetadataReader&&) noexcept = default;

bool MetadataReader::OpenFile(const std::string& path) {
    Close();
    std::unique_ptr<FileByteSource> file = FileByteSource::Open(path);
    if (!file) {
        return false;
    }
    state = std::make_unique<State>();
    state->source = std::move(file);
    if (!state->Parse()) {
        state.reset();
        return false;
    }
    return true;
}

bool MetadataReader::Open(const uint8_t* bytes, size_t size) {
    Close();
    if (bytes == nullptr || size == 0) {
        return false;
    }
    state = std::make_unique<State>();
    state->source = std::make_unique<MemoryByteSource>(bytes, size);
    if (!state->Parse()) {
        state.reset();
        return false;
    }
    return true;
}

bool MetadataReader::OpenExifBlock(const uint8_t* bytes, size_t size) {
    Close();
    if (bytes == nullptr || size == 0) {
        return false;
    }
    state = std::make_unique<State>();
    state->source = std::make_unique<MemoryByteSource>(std::vector<uint8_t>(bytes, bytes + size));
    state->format = ContainerFormat::ExifBlock;
    bool opened = state->OpenExifAt(0, size);
    if (!opened && size >= 4) {
        // HEIF's EXIF items start with the offset of the TIFF header behind these four bytes.
        const uint32_t skip = LoadBe(bytes, 4);
        opened = skip <= size - 4 && state->OpenExifAt(4u + uint64_t{skip}, size - 4 - skip);
    }
    if (!opened) {
        state.reset();
        return false;
    }
    return true;
}

void MetadataReader::Close() {
    state.reset();
}

bool MetadataReader::IsOpen() const {
    return state != nullptr;
}

ContainerFormat MetadataReader::Format() const {
    return state ? state->format : ContainerFormat::Unknown;
}

uint32_t MetadataReader::FrameCount() const {
    return state ? state->FrameCount() : 0;
}

MetadataValue MetadataReader::Query(std::string_view path) const {
    if (!state) {
        return {};
    }
    const auto names = SplitPath(path);
    if (!names) {
        return {};
    }
    return state->QueryContainer(*names);
}

MetadataValue MetadataReader::QueryFrame(uint32_t frameIndex, std::string_view path) const {
    if (!state) {
        return {};
    }
    const auto names = SplitPath(path);
    if (!names) {
        return {};
    }
    return state->QueryFrame(frameIndex, *names);
}

} // namespace info
