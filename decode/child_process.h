#pragma once

#include <chrono>
#include <cstdint>

namespace decode {

// An anonymous MAP_SHARED mapping: mapped before a fork, it is the one way a child's results come back.
// With `reserveLazily` no swap is reserved up front (MAP_NORESERVE), so a region sized for the largest
// possible result costs only the pages the child writes.
class SharedRegion {
public:
    explicit SharedRegion(uint64_t bytes, bool reserveLazily = false);
    SharedRegion(const SharedRegion&) = delete;
    SharedRegion& operator=(const SharedRegion&) = delete;
    ~SharedRegion();
    uint8_t* Data() const { return base; }

private:
    uint64_t bytes;
    uint8_t* base = nullptr;
};

// Runs `work(context)` in a forked child process, killing it once `limit` has passed. True only when
// `work` returned true and the child then exited normally: a crash, abort, hang or failure of the work
// ends only the child. A child stuck without using the processor is killed and `work` run again in a
// new one. Results come back only through MAP_SHARED memory mapped before the call. The child
// has a single thread, so `work` may use malloc but must not wait for other locks or log. The caller's
// signal handling is left alone; with SIGCHLD ignored the child's status is lost and the call fails.
bool RunInChildProcess(bool (*work)(void* context), void* context, std::chrono::milliseconds limit);

// For `work` above: from now on the child may take at most `bytes` of address space beyond what it
// holds already (everything inherited from the parent, shared regions included), so an absurd allocation
// fails there. May be called again to move the cap. The allocators of sanitizer builds work inside
// ranges reserved in advance, so there the child also counts its allocations and ends once they pass
// the cap.
void LimitChildMemory(uint64_t bytes);

} // namespace decode
