#pragma once

#include "decode/wic_raster.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace decode {

// The JPEG XR container ("II" 0xBC).
bool IsJxrSignature(const uint8_t* data, size_t size);

// Decodes a JPEG XR image (.jxr, .wdp, .hdp) with jxrlib, converted to 32-bit BGR and made opaque. The
// embedded colour profile is copied to `iccProfile` when given.
bool ReadJxr(const uint8_t* data, size_t size, RasterBuilder& out, std::vector<uint8_t>* iccProfile);

// Runs `work(context)` in a forked child process, killing it once `limit` has passed. True only when
// `work` returned true and the child then exited normally: a crash, abort, hang or failure of the work
// ends only the child. A child stuck without using the processor is killed and `work` run again in a
// new one. Results come back only through MAP_SHARED memory mapped before the call. The child
// has a single thread, so `work` may use malloc but must not wait for other locks or log. The caller's
// signal handling is left alone; with SIGCHLD ignored the child's status is lost and the call fails.
bool RunInChildProcess(bool (*work)(void* context), void* context, std::chrono::milliseconds limit);

} // namespace decode
