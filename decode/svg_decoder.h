#pragma once

#include "decode/decoder.h"

namespace decode {

// SVG and SVGZ documents rendered by librsvg into a premultiplied BGRA surface of the render size:
// the target, or 1920 x 1080 where the target is 0, fitted (aspect kept, centred) and on transparent
// ground. The source size is the document's intrinsic size in pixels, else its viewBox, else the
// render size.
//
// Hostile documents stay bounded: external files and URLs are never loaded (only data: URIs), the render
// size is capped, and librsvg's own limits stop runaway nesting and references.
class SvgDecoder : public IDecoder {
public:
    bool Load(const std::string& path, uint32_t targetWidth, uint32_t targetHeight,
              bool highQuality) override;
    uint32_t GetSourceWidth() const override { return sourceWidth != 0 ? sourceWidth : width; }
    uint32_t GetSourceHeight() const override { return sourceHeight != 0 ? sourceHeight : height; }
    // Archive entries render from memory just as files do.
    bool LoadFromMemory(const uint8_t* bytes, uint64_t size, uint32_t targetWidth, uint32_t targetHeight,
                        bool highQuality) override;

private:
    bool Render(const uint8_t* bytes, size_t size, uint32_t targetWidth, uint32_t targetHeight);

    uint32_t sourceWidth = 0;
    uint32_t sourceHeight = 0;
};

// Render sizes beyond these are reduced, aspect kept, before anything is allocated.
inline constexpr uint32_t kMaxSvgRenderSide = 16384;
inline constexpr uint64_t kMaxSvgRenderPixels = uint64_t{1} << 26;

} // namespace decode
