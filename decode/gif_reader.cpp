#include "decode/gif_reader.h"

#include <algorithm>
#include <cstring>
#include <gif_lib.h>
#include <memory>
#include <vector>

namespace decode {

namespace {

struct GifInput {
    const uint8_t* data;
    size_t size;
    size_t offset;
};

int ReadFromMemory(GifFileType* gif, GifByteType* destination, int length) {
    auto* input = static_cast<GifInput*>(gif->UserData);
    if (length <= 0) {
        return 0;
    }
    const size_t count = std::min(static_cast<size_t>(length), input->size - input->offset);
    std::memcpy(destination, input->data + input->offset, count);
    input->offset += count;
    return static_cast<int>(count);
}

struct GifCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};

// The frame's colours as BGRA, with the transparent index cleared. Indices past the colour table are
// black; a file without any table gets a grey ramp.
void BuildPalette(const ColorMapObject* map, int transparentIndex, uint8_t (&palette)[256][4]) {
    for (int i = 0; i < 256; ++i) {
        if (map != nullptr && map->Colors != nullptr) {
            if (i < map->ColorCount) {
                palette[i][0] = map->Colors[i].Blue;
                palette[i][1] = map->Colors[i].Green;
                palette[i][2] = map->Colors[i].Red;
            } else {
                palette[i][0] = palette[i][1] = palette[i][2] = 0;
            }
        } else {
            palette[i][0] = palette[i][1] = palette[i][2] = static_cast<uint8_t>(i);
        }
        palette[i][3] = 255;
    }
    if (transparentIndex >= 0 && transparentIndex < 256) {
        std::memset(palette[transparentIndex], 0, 4);
    }
}

// Moves the transparent index of the next frame out of a graphic control extension.
bool SkipExtension(GifFileType* gif, int& transparentIndex) {
    int code = 0;
    GifByteType* block = nullptr;
    if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) {
        return false;
    }
    if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr && block[0] >= 4) {
        transparentIndex = (block[1] & 1) != 0 ? block[4] : -1;
    }
    while (block != nullptr) {
        if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) {
            return false;
        }
    }
    return true;
}

// The most pixels `bytes` bytes of LZW data can stand for: codes take at least 3 bits, and the k-th code
// after a reset stands for at most k + 1 pixels, never more than the 4096 of the largest table.
uint64_t MaxLzwPixels(uint64_t bytes) {
    constexpr uint64_t kLongest = 4096;
    const uint64_t codes = bytes * 8 / 3;
    if (codes < kLongest) {
        return codes * (codes + 3) / 2;
    }
    return kLongest * (kLongest + 3) / 2 + (codes - kLongest) * kLongest;
}

} // namespace

bool IsGifSignature(const uint8_t* data, size_t size) {
    return data != nullptr && size >= 6 &&
           (std::memcmp(data, "GIF87a", 6) == 0 || std::memcmp(data, "GIF89a", 6) == 0);
}

bool ReadGif(const uint8_t* data, size_t size, RasterBuilder& out) {
    if (!IsGifSignature(data, size)) {
        return false;
    }
    GifInput input{data, size, 0};
    int error = 0;
    std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&input, ReadFromMemory, &error));
    if (!gif) {
        return false;
    }
    const auto canvasWidth = static_cast<uint32_t>(std::max(0, gif->SWidth));
    const auto canvasHeight = static_cast<uint32_t>(std::max(0, gif->SHeight));
    if (canvasWidth == 0 || canvasHeight == 0) {
        return false;
    }

    int transparentIndex = -1;
    for (;;) {
        GifRecordType record = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif.get(), &record) == GIF_ERROR) {
            return false;
        }
        if (record == EXTENSION_RECORD_TYPE) {
            if (!SkipExtension(gif.get(), transparentIndex)) {
                return false;
            }
            continue;
        }
        if (record == IMAGE_DESC_RECORD_TYPE) {
            break;
        }
        return false; // the trailer before any frame
    }
    if (DGifGetImageDesc(gif.get()) == GIF_ERROR) {
        return false;
    }
    const GifImageDesc& frame = gif->Image;
    if (frame.Width <= 0 || frame.Height <= 0 || frame.Left < 0 || frame.Top < 0) {
        return false;
    }
    uint8_t palette[256][4];
    BuildPalette(frame.ColorMap != nullptr ? frame.ColorMap : gif->SColorMap, transparentIndex, palette);

    std::vector<GifPixelType> line;
    std::vector<uint8_t> colors;
    try {
        line.resize(static_cast<size_t>(frame.Width));
        colors.resize(static_cast<size_t>(frame.Width) * 4);
    } catch (const std::bad_alloc&) {
        return false;
    }
    const auto left = static_cast<uint32_t>(frame.Left);
    const auto top = static_cast<uint32_t>(frame.Top);
    const auto frameWidth = static_cast<uint32_t>(frame.Width);
    const auto frameHeight = static_cast<uint32_t>(frame.Height);
    const uint32_t visibleWidth = left < canvasWidth ? std::min(canvasWidth - left, frameWidth) : 0;
    // The screen outside the frame stays transparent: only the frame's rows are handed over, so the
    // work follows the data, and the raster is the (reduced) output.
    if (!out.Begin(canvasWidth, canvasHeight, MaxLzwPixels(size))) {
        return false;
    }
    static constexpr uint32_t kStart[] = {0, 4, 2, 1};
    static constexpr uint32_t kStep[] = {8, 8, 4, 2};
    const int passes = frame.Interlace ? 4 : 1;
    uint32_t rowsDecoded = 0;
    for (int pass = 0; pass < passes; ++pass) {
        const uint32_t first = frame.Interlace ? kStart[pass] : 0;
        const uint32_t step = frame.Interlace ? kStep[pass] : 1;
        for (uint32_t row = first; row < frameHeight; row += step) {
            if (DGifGetLine(gif.get(), line.data(), frame.Width) == GIF_ERROR) {
                // Data that ends early keeps the rows decoded so far.
                return rowsDecoded > 0 && out.PutPixels(0, 0, 1, nullptr, 0);
            }
            ++rowsDecoded;
            if (top + uint64_t{row} >= canvasHeight || visibleWidth == 0 || !out.UsesRow(top + row)) {
                continue;
            }
            for (uint32_t x = 0; x < visibleWidth; ++x) {
                std::memcpy(&colors[x * 4], palette[line[x]], 4);
            }
            if (!out.PutPixels(top + row, left, 1, colors.data(), visibleWidth)) {
                return false;
            }
        }
    }
    // A frame wholly outside the screen leaves it transparent.
    return out.PutPixels(0, 0, 1, nullptr, 0);
}

} // namespace decode
