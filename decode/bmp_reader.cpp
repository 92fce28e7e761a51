#include "decode/bmp_reader.h"

#include "decode/png_reader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace decode {

namespace {

constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiRle8 = 1;
constexpr uint32_t kBiRle4 = 2;
constexpr uint32_t kBiBitfields = 3;
constexpr uint32_t kBiPng = 5;
constexpr uint32_t kBiAlphaBitfields = 6;
// Widths beyond this are refused before any row arithmetic; the builder caps the pixel count.
constexpr int64_t kMaxSide = int64_t{1} << 24;

uint16_t Read16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Read32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// One colour channel of a bit-field pixel: where it sits and how to widen it to 8 bits.
struct Channel {
    uint32_t mask = 0;
    uint32_t shift = 0;
    uint32_t maximum = 0;

    explicit Channel(uint32_t m = 0) : mask(m) {
        if (mask != 0) {
            shift = static_cast<uint32_t>(std::countr_zero(mask));
            maximum = mask >> shift;
        }
    }
    uint8_t Extract(uint32_t value) const {
        if (maximum == 0) {
            return 0;
        }
        const uint64_t raw = (value & mask) >> shift;
        return static_cast<uint8_t>((raw * 255 + maximum / 2) / maximum);
    }
};

struct DibLayout {
    uint32_t headerSize = 0;
    int64_t width = 0;
    int64_t height = 0; // rows of the colour bitmap
    bool topDown = false;
    uint32_t bitCount = 0;
    uint32_t compression = kBiRgb;
    Channel red, green, blue, alpha;
    bool hasAlpha = false;
    std::array<uint8_t, 256 * 4> palette{}; // BGRA, alpha 255
    uint32_t paletteSize = 0;
    size_t paletteEnd = 0; // offset just past the header, masks and palette
};

bool IsOs2V2(uint32_t headerSize) {
    return headerSize == 16 || headerSize == 64;
}

// Reads header, masks and palette. `dataEnd` limits where the palette may extend to.
bool ParseDibHeader(const uint8_t* data, size_t size, size_t dataEnd, DibLayout& layout) {
    if (size < 12) {
        return false;
    }
    layout.headerSize = Read32(data);
    const uint32_t headerSize = layout.headerSize;
    if (headerSize < 12 || headerSize > size || (headerSize > 12 && headerSize < 16)) {
        return false;
    }
    uint32_t colorsUsed = 0;
    size_t paletteEntrySize = 4;
    if (headerSize == 12) {
        layout.width = Read16(data + 4);
        layout.height = Read16(data + 6);
        layout.bitCount = Read16(data + 10);
        paletteEntrySize = 3;
    } else {
        layout.width = static_cast<int32_t>(Read32(data + 4));
        layout.height = static_cast<int32_t>(Read32(data + 8));
        layout.bitCount = Read16(data + 14);
        layout.compression = headerSize >= 20 ? Read32(data + 16) : kBiRgb;
        colorsUsed = headerSize >= 36 ? Read32(data + 32) : 0;
        if (IsOs2V2(headerSize) && layout.compression > kBiRle4) {
            return false; // OS/2 Huffman and RLE24 use these numbers
        }
    }
    if (layout.height < 0) {
        layout.topDown = true;
        layout.height = -layout.height;
    }
    if (layout.width <= 0 || layout.height == 0 || layout.width > kMaxSide || layout.height > kMaxSide) {
        return false;
    }

    size_t offset = headerSize;
    uint32_t masks[4] = {0, 0, 0, 0};
    bool alphaMaskDeclared = false;
    if (layout.compression == kBiBitfields || layout.compression == kBiAlphaBitfields) {
        const size_t maskCount = layout.compression == kBiAlphaBitfields ? 4 : 3;
        if (headerSize >= 52) {
            for (size_t i = 0; i < 3; ++i) {
                masks[i] = Read32(data + 40 + i * 4);
            }
            if (headerSize >= 56) {
                masks[3] = Read32(data + 52);
                alphaMaskDeclared = true;
            }
        } else if (headerSize == 40) {
            if (offset + maskCount * 4 > size) {
                return false;
            }
            for (size_t i = 0; i < maskCount; ++i) {
                masks[i] = Read32(data + offset + i * 4);
            }
            alphaMaskDeclared = maskCount == 4;
            offset += maskCount * 4;
        } else {
            return false;
        }
        if (layout.bitCount != 16 && layout.bitCount != 32) {
            return false;
        }
    } else if (layout.bitCount == 16) {
        masks[0] = 0x7C00;
        masks[1] = 0x03E0;
        masks[2] = 0x001F;
    } else if (layout.bitCount == 32) {
        // Plain 32-bit pixels are BGR plus an unused byte that must not be taken for alpha.
        masks[0] = 0x00FF0000;
        masks[1] = 0x0000FF00;
        masks[2] = 0x000000FF;
    }
    if (layout.bitCount == 16) {
        for (uint32_t& mask : masks) {
            mask &= 0xFFFF;
        }
    }
    layout.red = Channel(masks[0]);
    layout.green = Channel(masks[1]);
    layout.blue = Channel(masks[2]);
    layout.alpha = Channel(alphaMaskDeclared ? masks[3] : 0);
    layout.hasAlpha = layout.alpha.mask != 0;

    if (layout.compression == kBiPng) {
        // The PNG stream carries its own format; the header's bit count is 0 or meaningless.
        layout.paletteEnd = offset;
        return true;
    }
    switch (layout.bitCount) {
    case 1:
    case 2:
    case 4:
    case 8: {
        const uint32_t maximum = 1u << layout.bitCount;
        uint32_t count = colorsUsed == 0 || colorsUsed > maximum ? maximum : colorsUsed;
        const size_t limit = std::min(size, dataEnd);
        const size_t available = limit > offset ? (limit - offset) / paletteEntrySize : 0;
        count = static_cast<uint32_t>(std::min<size_t>(count, available));
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* entry = data + offset + i * paletteEntrySize;
            std::memcpy(&layout.palette[i * 4], entry, 3);
            layout.palette[i * 4 + 3] = 255;
        }
        layout.paletteSize = count;
        offset += static_cast<size_t>(count) * paletteEntrySize;
        break;
    }
    case 16:
    case 24:
    case 32:
        if (layout.compression == kBiRle4 || layout.compression == kBiRle8) {
            return false;
        }
        break;
    default:
        return false;
    }
    if ((layout.compression == kBiRle8 && layout.bitCount != 8) ||
        (layout.compression == kBiRle4 && layout.bitCount != 4)) {
        return false;
    }
    layout.paletteEnd = offset;
    return true;
}

uint64_t RowStride(const DibLayout& layout) {
    return ((static_cast<uint64_t>(layout.width) * layout.bitCount + 31) / 32) * 4;
}

// Converts one stored row to premultiplied BGRA.
void ConvertRow(const DibLayout& layout, const uint8_t* source, uint8_t* destination) {
    const auto width = static_cast<uint32_t>(layout.width);
    const uint32_t bits = layout.bitCount;
    if (bits <= 8) {
        const uint32_t perByte = 8 / bits;
        const uint32_t valueMask = (1u << bits) - 1;
        static constexpr uint8_t kBlack[4] = {0, 0, 0, 255};
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t shift = 8 - bits * (x % perByte + 1);
            const uint32_t index = (source[x / perByte] >> shift) & valueMask;
            const uint8_t* color = index < layout.paletteSize ? &layout.palette[index * 4] : kBlack;
            std::memcpy(destination + x * 4, color, 4);
        }
        return;
    }
    if (bits == 24) {
        for (uint32_t x = 0; x < width; ++x) {
            destination[x * 4] = source[x * 3];
            destination[x * 4 + 1] = source[x * 3 + 1];
            destination[x * 4 + 2] = source[x * 3 + 2];
            destination[x * 4 + 3] = 255;
        }
        return;
    }
    const bool plain32 = bits == 32 && layout.red.mask == 0x00FF0000 && layout.green.mask == 0x0000FF00 &&
                         layout.blue.mask == 0x000000FF &&
                         (!layout.hasAlpha || layout.alpha.mask == 0xFF000000);
    if (plain32) {
        std::memcpy(destination, source, static_cast<size_t>(width) * 4);
        if (layout.hasAlpha) {
            PremultiplyRow(destination, width);
        } else {
            SetOpaque(destination, width);
        }
        return;
    }
    for (uint32_t x = 0; x < width; ++x) {
        const uint32_t value = bits == 16 ? Read16(source + x * 2) : Read32(source + x * 4);
        uint8_t* pixel = destination + x * 4;
        pixel[0] = layout.blue.Extract(value);
        pixel[1] = layout.green.Extract(value);
        pixel[2] = layout.red.Extract(value);
        pixel[3] = layout.hasAlpha ? layout.alpha.Extract(value) : 255;
    }
    if (layout.hasAlpha) {
        PremultiplyRow(destination, width);
    }
}

// Expands an RLE4 or RLE8 stream into `out` run by run; pixels the stream skips stay transparent.
// Malformed streams simply end the image where they stop making sense.
bool DecodeRle(const DibLayout& layout, const uint8_t* data, size_t size, RasterBuilder& out) {
    const auto width = static_cast<uint32_t>(layout.width);
    const auto height = static_cast<uint32_t>(layout.height);
    const bool four = layout.compression == kBiRle4;
    uint32_t x = 0;
    uint32_t line = 0; // in stream order: the bottom row first unless top-down
    size_t position = 0;
    uint8_t run[255 * 4] = {};
    // Hands over `count` pixels whose palette indices `index(i)` gives, clipped to the row.
    const auto put = [&](uint32_t count, auto index) {
        static constexpr uint8_t kBlack[4] = {0, 0, 0, 255};
        const uint32_t visible = x < width ? std::min(count, width - x) : 0;
        for (uint32_t i = 0; i < visible; ++i) {
            const uint32_t entry = index(i);
            std::memcpy(run + i * 4, entry < layout.paletteSize ? &layout.palette[entry * 4] : kBlack, 4);
        }
        const uint32_t row = layout.topDown ? line : height - 1 - line;
        const bool ok = visible == 0 || out.PutPixels(row, x, 1, run, visible);
        x += count;
        return ok;
    };
    // Starts the output even when the stream draws nothing.
    if (!out.PutPixels(0, 0, 1, run, 0)) {
        return false;
    }
    while (position + 2 <= size && line < height) {
        const uint8_t count = data[position];
        const uint8_t value = data[position + 1];
        position += 2;
        if (count > 0) {
            if (!put(count,
                     [&](uint32_t i) { return four ? ((i % 2 == 0) ? value >> 4 : value & 0x0F) : value; })) {
                return false;
            }
            continue;
        }
        if (value == 0) {
            x = 0;
            ++line;
        } else if (value == 1) {
            break;
        } else if (value == 2) {
            if (position + 2 > size) {
                break;
            }
            x += data[position];
            line += data[position + 1];
            position += 2;
        } else {
            const size_t bytes = four ? (value + 1u) / 2 : value;
            if (position + bytes > size) {
                break;
            }
            const uint8_t* literal = data + position;
            if (!put(value, [&](uint32_t i) {
                    const uint8_t byte = literal[four ? i / 2 : i];
                    return four ? ((i % 2 == 0) ? byte >> 4 : byte & 0x0F) : byte;
                })) {
                return false;
            }
            position += (bytes + 1) & ~size_t{1};
        }
    }
    return true;
}

// Clears (to transparent) every pixel whose AND-mask bit is set. `mask` rows are bottom-up like the
// colour rows.
void ApplyAndMaskRow(const DibLayout& layout, const uint8_t* maskRow, uint8_t* destination) {
    const auto width = static_cast<uint32_t>(layout.width);
    for (uint32_t x = 0; x < width; ++x) {
        if ((maskRow[x / 8] >> (7 - x % 8)) & 1) {
            std::memset(destination + x * 4, 0, 4);
        }
    }
}

bool DecodeDibPixels(const uint8_t* data, size_t size, const DibLayout& layout, size_t pixelOffset,
                     DibKind kind, RasterBuilder& out) {
    if (layout.compression == kBiPng) {
        return pixelOffset < size && ReadPng(data + pixelOffset, size - pixelOffset, out, nullptr);
    }
    const auto width = static_cast<uint32_t>(layout.width);
    const auto height = static_cast<uint32_t>(layout.height);
    if (pixelOffset > size) {
        return false;
    }
    const uint8_t* pixels = data + pixelOffset;
    const size_t available = size - pixelOffset;

    if (layout.compression == kBiRle4 || layout.compression == kBiRle8) {
        // Every two bytes of a stream that writers fill row by row (each row ends with its own code)
        // cover at most one row's worth of pixels; a header declaring more is not a picture of this file.
        const uint64_t plausible = (available / 2) * std::max<uint64_t>(width, 255);
        return out.Begin(width, height, plausible) && DecodeRle(layout, pixels, available, out);
    }
    if (layout.compression != kBiRgb && layout.compression != kBiBitfields &&
        layout.compression != kBiAlphaBitfields) {
        return false;
    }

    const uint64_t stride = RowStride(layout);
    // The last row's padding is often left out by writers; everything else must be there.
    const uint64_t needed = stride * (height - 1) + (static_cast<uint64_t>(width) * layout.bitCount + 7) / 8;
    if (needed > available) {
        return false;
    }
    const uint8_t* mask = nullptr;
    uint64_t maskStride = 0;
    bool useMask = false;
    if (kind == DibKind::Icon) {
        maskStride = ((static_cast<uint64_t>(width) + 31) / 32) * 4;
        const uint64_t maskOffset = stride * height;
        if (maskOffset + maskStride * height <= available) {
            mask = pixels + maskOffset;
        }
        useMask = mask != nullptr;
        if (layout.bitCount == 32) {
            // A 32-bit icon's own alpha wins, unless it is empty (older writers leave it zero).
            bool anyAlpha = false;
            for (uint32_t y = 0; y < height && !anyAlpha; ++y) {
                const uint8_t* row = pixels + stride * y;
                for (uint32_t x = 0; x < width; ++x) {
                    if (row[x * 4 + 3] != 0) {
                        anyAlpha = true;
                        break;
                    }
                }
            }
            useMask = useMask && !anyAlpha;
        }
    }
    DibLayout effective = layout;
    if (kind == DibKind::Icon && layout.bitCount == 32 && !useMask) {
        effective.alpha = Channel(0xFF000000);
        effective.hasAlpha = true;
        if (mask == nullptr) {
            // Without a mask, decide by content as above.
            bool anyAlpha = false;
            for (uint32_t y = 0; y < height && !anyAlpha; ++y) {
                const uint8_t* row = pixels + stride * y;
                for (uint32_t x = 0; x < width && !anyAlpha; ++x) {
                    anyAlpha = row[x * 4 + 3] != 0;
                }
            }
            effective.hasAlpha = anyAlpha;
            effective.alpha = Channel(anyAlpha ? 0xFF000000 : 0);
        }
    }

    if (!out.Begin(width, height)) {
        return false;
    }
    for (uint32_t y = 0; y < height; ++y) {
        const uint32_t fileRow = layout.topDown ? y : height - 1 - y;
        uint8_t* row = out.RowBuffer();
        if (row == nullptr) {
            return false;
        }
        ConvertRow(effective, pixels + stride * fileRow, row);
        if (useMask) {
            ApplyAndMaskRow(effective, mask + maskStride * fileRow, row);
        }
        if (!out.CommitRow()) {
            return false;
        }
    }
    return true;
}

} // namespace

bool IsBmpSignature(const uint8_t* data, size_t size) {
    if (data == nullptr || size < 18 || data[0] != 'B' || data[1] != 'M') {
        return false;
    }
    const uint32_t headerSize = Read32(data + 14);
    return headerSize >= 12 && headerSize <= 124;
}

bool ReadBmp(const uint8_t* data, size_t size, RasterBuilder& out) {
    if (!IsBmpSignature(data, size)) {
        return false;
    }
    constexpr size_t kFileHeaderSize = 14;
    const uint8_t* dib = data + kFileHeaderSize;
    const size_t dibSize = size - kFileHeaderSize;
    const uint32_t bitsOffset = Read32(data + 10);
    // The palette may not run into the pixels the file header points at.
    const size_t dataEnd =
        bitsOffset > kFileHeaderSize && bitsOffset <= size ? bitsOffset - kFileHeaderSize : dibSize;
    DibLayout layout;
    if (!ParseDibHeader(dib, dibSize, dataEnd, layout)) {
        return false;
    }
    size_t pixelOffset = layout.paletteEnd;
    if (bitsOffset >= kFileHeaderSize + layout.headerSize && bitsOffset < size) {
        pixelOffset = bitsOffset - kFileHeaderSize;
    }
    return DecodeDibPixels(dib, dibSize, layout, pixelOffset, DibKind::Plain, out);
}

bool ReadDib(const uint8_t* data, size_t size, DibKind kind, RasterBuilder& out) {
    if (data == nullptr) {
        return false;
    }
    DibLayout layout;
    if (!ParseDibHeader(data, size, size, layout)) {
        return false;
    }
    if (kind == DibKind::Icon) {
        if (layout.topDown) {
            return false;
        }
        layout.height /= 2;
        if (layout.height == 0 || layout.compression == kBiRle4 || layout.compression == kBiRle8) {
            return false;
        }
    }
    return DecodeDibPixels(data, size, layout, layout.paletteEnd, kind, out);
}

} // namespace decode
