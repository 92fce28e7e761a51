#pragma once

#include "decode/decoder.h"

#include <cstddef>
#include <cstdint>

struct opj_image;

namespace decode {

// JPEG 2000 through OpenJPEG: JP2/JPX containers and raw codestreams (.j2k, .j2c). Files pick the
// codec by extension; memory tries the container first, then the bare codestream. A target size makes
// the decoder stop at the smallest wavelet resolution that still covers the fitted picture, so a
// screen-sized decode of a large image does not cost a full one.
class J2kDecoder : public IDecoder {
public:
    bool Load(const std::string& path, uint32_t targetWidth, uint32_t targetHeight,
              bool highQuality) override;
    bool LoadFromMemory(const uint8_t* bytes, uint64_t size, uint32_t targetWidth, uint32_t targetHeight,
                        bool highQuality) override;

private:
    bool Convert(const opj_image* image);
};

// The number of halvings (wavelet levels dropped) that keeps a width x height picture at least as
// large as its fit into targetWidth x targetHeight, at most maxReduction. 0 without a target.
uint32_t ChooseJ2kReduction(uint32_t width, uint32_t height, uint32_t targetWidth, uint32_t targetHeight,
                            uint32_t maxReduction);

// Samples scaled to 8 bits: shifted right by (precision - 8) above 8 bits, left by (8 - precision) below;
// signed samples are first offset by half their range.
uint8_t ScaleJ2kSample(int32_t value, uint32_t precision, bool isSigned);

} // namespace decode
