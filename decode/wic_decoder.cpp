#include "decode/wic_decoder.h"

namespace decode {

// No system codec is wired in yet: every load is refused rather than faked.
bool WicDecoder::Load(const std::string&, uint32_t, uint32_t, bool) { return false; }

bool WicDecoder::LoadPath(const std::string& path) { return Load(path, 0, 0, true); }

bool WicDecoder::LoadFromMemory(const uint8_t*, uint64_t, uint32_t, uint32_t, bool) { return false; }

} // namespace decode
