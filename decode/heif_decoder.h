#pragma once

#include "decode/decoder.h"

namespace decode {

// Starts libheif once for the process and loads the decoder plug-ins of the folder "plugins/libheif"
// beside the program (an absent or empty folder is harmless: the system's libheif has its decoders
// built in). Called at start-up before any loader thread runs; later calls do nothing.
void InitializeHeif();

// HEIF, HEIC and AVIF over libheif: the primary image, turned upright by the file's own rotation and
// mirroring properties as libheif applies them, so the picture needs no further EXIF rotation. With a
// target, an embedded thumbnail that still covers the fitted size is decoded instead of the full
// image; otherwise the target is ignored. AVIF files that libheif cannot read (image sequences) give
// their first frame through libavif.
class HeifDecoder : public IDecoder {
public:
    bool Load(const std::string& path, uint32_t targetWidth, uint32_t targetHeight,
              bool highQuality) override;
    uint32_t GetSourceWidth() const override { return sourceWidth != 0 ? sourceWidth : width; }
    uint32_t GetSourceHeight() const override { return sourceHeight != 0 ? sourceHeight : height; }
    bool LoadFromMemory(const uint8_t* bytes, uint64_t size, uint32_t targetWidth, uint32_t targetHeight,
                        bool highQuality) override;

private:
    bool DecodeWithLibheif(const uint8_t* bytes, size_t size, uint32_t targetWidth, uint32_t targetHeight);

    uint32_t sourceWidth = 0;
    uint32_t sourceHeight = 0;
};

} // namespace decode
