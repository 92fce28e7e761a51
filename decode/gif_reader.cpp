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
    try {
        line.resize(static_cast<size_t>(frame.Width));
    } catch (const std::bad_alloc&) {
        return false;
    }
    const auto left = static_cast<uint32_t>(frame.Left);
    const auto top = static_cast<uint32_t>(frame.Top);
    const auto frameWidth = static_cast<uint32_t>(frame.Width);
    const auto frameHeight = static_cast<uint32_t>(frame.Height);
    const uint32_t visibleEnd = left < canvasWidth ? std::min(canvasWidth, left + frameWidth) : left;
    auto paint = [&](uint8_t* canvasRow) {
        for (uint32_t x = left; x < visibleEnd; ++x) {
            std::memcpy(canvasRow + x * 4, palette[line[x - left]], 4);
        }
    };
    if (!out.Begin(canvasWidth, canvasHeight)) {
        return false;
    }
    uint32_t rowsDecoded = 0;
    bool broken = false;

    if (frame.Interlace) {
        uint8_t* canvas = out.WholeBuffer();
        if (canvas == nullptr) {
            return false;
        }
        static constexpr uint32_t kStart[] = {0, 4, 2, 1};
        static constexpr uint32_t kStep[] = {8, 8, 4, 2};
        for (int pass = 0; pass < 4 && !broken; ++pass) {
            for (uint32_t row = kStart[pass]; row < frameHeight; row += kStep[pass]) {
                if (DGifGetLine(gif.get(), line.data(), frame.Width) == GIF_ERROR) {
                    broken = true;
                    break;
                }
                ++rowsDecoded;
                if (top + row < canvasHeight) {
                    paint(canvas + static_cast<uint64_t>(top + row) * canvasWidth * 4);
                }
            }
        }
        return rowsDecoded > 0;
    }

    for (uint32_t y = 0; y < canvasHeight; ++y) {
        uint8_t* row = out.RowBuffer();
        if (row == nullptr) {
            return false;
        }
        std::memset(row, 0, static_cast<size_t>(canvasWidth) * 4);
        if (!broken && y >= top && y - top < frameHeight) {
            if (DGifGetLine(gif.get(), line.data(), frame.Width) == GIF_ERROR) {
                broken = true;
            } else {
                ++rowsDecoded;
                paint(row);
            }
        }
        if (!out.CommitRow()) {
            return false;
        }
    }
    return rowsDecoded > 0 || top >= canvasHeight;
}

} // namespace decode
