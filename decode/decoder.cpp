#include "decode/decoder.h"

namespace decode {

bool IDecoder::Load(const std::string& path, uint32_t, uint32_t, bool) { return LoadPath(path); }

bool IDecoder::LoadPath(const std::string& path) { return Load(path, 0, 0, false); }

bool IDecoder::LoadFromMemory(const uint8_t*, uint64_t, uint32_t, uint32_t, bool) { return false; }

void IDecoder::Reset() {
    pixels.reset();
    width = 0;
    height = 0;
    stride = 0;
}

} // namespace decode
