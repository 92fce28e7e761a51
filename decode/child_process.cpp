#include "decode/child_process.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <new>
#include <poll.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define SKIMORA_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define SKIMORA_SANITIZED 1
#endif
#endif
#if defined(SKIMORA_SANITIZED)
// From the sanitizer runtimes' allocator interface (its header is not installed with every compiler).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*mallocHook)(const volatile void*, size_t),
                                                         void (*freeHook)(const volatile void*));
extern "C" void __sanitizer_set_death_callback(void (*callback)());
extern "C" size_t __sanitizer_get_allocated_size(const volatile void* pointer);
#endif

namespace decode {

namespace {

// Written by the child as its last act, so that an exit code of 0 from anywhere else is not success.
constexpr uint32_t kChildSucceeded = 0x4A585244;
static_assert(std::atomic<uint32_t>::is_always_lock_free);

// Runs in the forked child: only system calls and `work` until _exit, so no exit handler (leak
// checking included) runs.
[[noreturn]] void RunChild(bool (*work)(void*), void* context, std::atomic<uint32_t>* status, pid_t parent) {
    // A crash must end the child quietly: no crash reporter or sanitizer handler inherited from the
    // parent, no core dump per corrupt file.
    struct sigaction defaults = {};
    defaults.sa_handler = SIG_DFL;
    for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS}) {
        ::sigaction(signal, &defaults, nullptr);
    }
    const struct rlimit noCore = {0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    // Nor may it outlive the parent.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    if (::getppid() != parent) {
        ::_exit(1);
    }
#if defined(SKIMORA_SANITIZED)
    // A fault the sanitizer finds in the child is reported, but ends only the child: nothing the
    // parent registered for its own death (a fuzzer's crash dump) runs here.
    __sanitizer_set_death_callback(nullptr);
#endif
    // Should the work allocate without bound, memory pressure takes this child rather than the viewer.
    const int oomScore = ::open("/proc/self/oom_score_adj", O_WRONLY | O_CLOEXEC);
    if (oomScore >= 0) {
        [[maybe_unused]] const ssize_t written = ::write(oomScore, "1000", 4);
        ::close(oomScore);
    }
    if (!work(context)) {
        ::_exit(1);
    }
    status->store(kChildSucceeded, std::memory_order_release);
    ::_exit(0);
}

bool ReapChild(pid_t child, int& status) {
    for (;;) {
        const pid_t reaped = ::waitpid(child, &status, 0);
        if (reaped == child) {
            return true;
        }
        if (reaped < 0 && errno != EINTR) {
            return false;
        }
    }
}

// A child that used no processor time for this long waits for a lock that another thread held at the
// fork and that will never come free in the child. glibc's malloc is made safe for this, but sanitizer
// allocators are not. Such a child is killed and the work forked again.
constexpr auto kStallTime = std::chrono::milliseconds(500);
constexpr auto kCheckInterval = std::chrono::milliseconds(50);
constexpr int kForkAttempts = 4;

int64_t ProcessorTimeNs(clockid_t clock) {
    timespec time = {};
    return ::clock_gettime(clock, &time) == 0 ? int64_t{time.tv_sec} * 1'000'000'000 + time.tv_nsec : -1;
}

// Waits for `child` to end, killing it once `limit` has passed or when it stalls (`stalled` set). True
// with its wait status once reaped.
bool WaitForChild(pid_t child, std::chrono::milliseconds limit, bool& stalled, int& status) {
    using Clock = std::chrono::steady_clock;
    stalled = false;
    const auto deadline = Clock::now() + limit;
    // A pidfd wakes this thread the moment the child ends, and a kill through it cannot reach a process
    // that reused the number. It is close-on-exec by construction.
    int pidfd = -1;
#if defined(SYS_pidfd_open) && defined(SYS_pidfd_send_signal)
    pidfd = static_cast<int>(::syscall(SYS_pidfd_open, child, 0));
#endif
    clockid_t processorClock = {};
    const bool watchProcessor = ::clock_getcpuclockid(child, &processorClock) == 0;
    int64_t lastProcessorTime = -1;
    auto lastProgress = Clock::now();
    long pauseNs = 50'000;
    bool ended = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            break;
        }
        if (pidfd >= 0) {
            pollfd entry = {pidfd, POLLIN, 0};
            const int ready = ::poll(
                &entry, 1, static_cast<int>(left < kCheckInterval ? left.count() : kCheckInterval.count()));
            if (ready > 0) {
                ended = true;
                break;
            }
            if (ready < 0 && errno != EINTR) {
                ::close(pidfd);
                pidfd = -1;
            }
        } else {
            const pid_t reaped = ::waitpid(child, &status, WNOHANG);
            if (reaped == child) {
                return true;
            }
            if (reaped < 0 && errno != EINTR) {
                return false; // reaped elsewhere: its number may already belong to another process
            }
            const timespec pause = {0, pauseNs};
            ::nanosleep(&pause, nullptr);
            pauseNs = pauseNs < 2'000'000 ? pauseNs * 2 : pauseNs;
        }
        const int64_t processorTime = watchProcessor ? ProcessorTimeNs(processorClock) : -1;
        if (processorTime < 0 || processorTime != lastProcessorTime) {
            lastProcessorTime = processorTime;
            lastProgress = Clock::now();
        } else if (Clock::now() - lastProgress >= kStallTime) {
            stalled = true;
            break;
        }
    }
    if (!ended) {
#if defined(SYS_pidfd_open) && defined(SYS_pidfd_send_signal)
        if (pidfd >= 0) {
            ::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0);
        } else {
            ::kill(child, SIGKILL);
        }
#else
        ::kill(child, SIGKILL);
#endif
    }
    if (pidfd >= 0) {
        ::close(pidfd);
    }
    return ReapChild(child, status);
}

#if defined(SKIMORA_SANITIZED)
// The sanitizers' allocators take their memory from ranges reserved up front, out of sight of the
// address-space limit, so the child counts what it allocates itself: the bytes allocated since the
// cap was set, less those freed, may not exceed it. 0 while no cap is set.
std::atomic<uint64_t> allocationCap{0};
std::atomic<int64_t> allocatedBytes{0};

void CountAllocation(const volatile void*, size_t size) {
    const uint64_t cap = allocationCap.load(std::memory_order_relaxed);
    const int64_t total = allocatedBytes.fetch_add(int64_t(size), std::memory_order_relaxed) + int64_t(size);
    if (cap != 0 && total > 0 && uint64_t(total) > cap) {
        ::_exit(1);
    }
}

void CountFree(const volatile void* pointer) {
    allocatedBytes.fetch_sub(int64_t(__sanitizer_get_allocated_size(pointer)), std::memory_order_relaxed);
}
#endif

// The address space the process holds now, from /proc/self/statm (read with system calls only).
uint64_t AddressSpaceInUse() {
    const int file = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (file < 0) {
        return 0;
    }
    char text[64] = {};
    const ssize_t length = ::read(file, text, sizeof(text) - 1);
    ::close(file);
    uint64_t pages = 0;
    for (ssize_t i = 0; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
        pages = pages * 10 + uint64_t(text[i] - '0');
    }
    return pages * uint64_t(::sysconf(_SC_PAGESIZE));
}

} // namespace

SharedRegion::SharedRegion(uint64_t bytes, bool reserveLazily) : bytes(bytes) {
    const int flags = MAP_SHARED | MAP_ANONYMOUS | (reserveLazily ? MAP_NORESERVE : 0);
    void* mapped = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, flags, -1, 0);
    base = mapped == MAP_FAILED ? nullptr : static_cast<uint8_t*>(mapped);
}

SharedRegion::~SharedRegion() {
    if (base != nullptr) {
        ::munmap(base, bytes);
    }
}

bool RunInChildProcess(bool (*work)(void* context), void* context, std::chrono::milliseconds limit) {
    SharedRegion statusPage(sizeof(std::atomic<uint32_t>));
    if (statusPage.Data() == nullptr) {
        return false;
    }
    auto* status = new (statusPage.Data()) std::atomic<uint32_t>(0);
    for (int attempt = 0; attempt < kForkAttempts; ++attempt) {
        status->store(0, std::memory_order_relaxed);
        const pid_t parent = ::getpid();
        const pid_t child = ::fork();
        if (child < 0) {
            return false;
        }
        if (child == 0) {
            RunChild(work, context, status, parent);
        }
        bool stalled = false;
        int waitStatus = 0;
        if (!WaitForChild(child, limit, stalled, waitStatus)) {
            return false;
        }
        if (!stalled) {
            return WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) == 0 &&
                   status->load(std::memory_order_acquire) == kChildSucceeded;
        }
    }
    return false;
}

void LimitChildMemory(uint64_t bytes) {
#if defined(SKIMORA_SANITIZED)
    static bool hooked = false;
    if (!hooked) {
        hooked = __sanitizer_install_malloc_and_free_hooks(CountAllocation, CountFree) != 0;
    }
    allocatedBytes.store(0, std::memory_order_relaxed);
    allocationCap.store(bytes == 0 ? 1 : bytes, std::memory_order_relaxed);
#endif
    // The cap counts from what the child holds now, so the huge ranges a sanitizer reserves up front
    // do not matter.
    const uint64_t inUse = AddressSpaceInUse();
    if (inUse == 0) {
        return;
    }
    struct rlimit limit = {};
    if (::getrlimit(RLIMIT_AS, &limit) != 0) {
        return;
    }
    limit.rlim_cur =
        limit.rlim_max == RLIM_INFINITY || inUse + bytes < limit.rlim_max ? inUse + bytes : limit.rlim_max;
    ::setrlimit(RLIMIT_AS, &limit);
}

} // namespace decode
