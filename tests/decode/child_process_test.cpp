#include "decode/child_process.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

TEST(ChildProcess, ResultCountsOnlyAfterSuccessAndNormalExit) {
    using namespace std::chrono_literals;
    void* mapped = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(mapped, MAP_FAILED);
    auto* shared = static_cast<int*>(mapped);
    EXPECT_TRUE(decode::RunInChildProcess(
        [](void* context) {
            *static_cast<int*>(context) = 42;
            return true;
        },
        shared, 10s));
    EXPECT_EQ(*shared, 42);
    EXPECT_FALSE(decode::RunInChildProcess([](void*) { return false; }, nullptr, 10s));
    EXPECT_FALSE(decode::RunInChildProcess(
        [](void*) {
            raise(SIGSEGV);
            return true;
        },
        nullptr, 10s));
    EXPECT_FALSE(decode::RunInChildProcess(
        [](void*) {
            abort();
            return true;
        },
        nullptr, 10s));
    // Ending with status 0 before reporting success is still a failure.
    EXPECT_FALSE(decode::RunInChildProcess(
        [](void*) {
            _exit(0);
            return true;
        },
        nullptr, 10s));
    // A child that computes forever is killed at the limit.
    EXPECT_FALSE(decode::RunInChildProcess(
        [](void*) {
            volatile uint64_t spin = 0;
            for (;;) {
                spin = spin + 1;
            }
            return true;
        },
        nullptr, 300ms));
#if !defined(__SANITIZE_THREAD__)
    // One that waits without end, as on a lock held at the fork, is replaced by a new child; the work
    // succeeds once a child gets through. (ThreadSanitizer keeps a thread busy in the child, so there
    // only the limit ends such a child.)
    *shared = 0;
    EXPECT_TRUE(decode::RunInChildProcess(
        [](void* context) {
            auto* attempts = static_cast<std::atomic<int>*>(context);
            if (attempts->fetch_add(1) < 2) {
                for (;;) {
                    pause();
                }
            }
            return true;
        },
        shared, 10s));
    EXPECT_EQ(*shared, 3);
    EXPECT_FALSE(decode::RunInChildProcess(
        [](void*) {
            for (;;) {
                pause();
            }
            return true;
        },
        nullptr, 10s));
#endif
    // Beyond its memory cap an allocation fails (or, under a sanitizer, ends the child); below it works.
    const auto allocateAfterCap = [](void* context) {
        decode::LimitChildMemory(uint64_t{64} << 20);
        void* block = malloc(*static_cast<const uint64_t*>(context));
        if (block == nullptr) {
            return false;
        }
        static_cast<volatile char*>(block)[0] = 1;
        free(block);
        return true;
    };
    uint64_t bytes = uint64_t{1} << 30;
    EXPECT_FALSE(decode::RunInChildProcess(allocateAfterCap, &bytes, 10s));
    bytes = uint64_t{1} << 20;
    EXPECT_TRUE(decode::RunInChildProcess(allocateAfterCap, &bytes, 10s));
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    munmap(mapped, 4096);
}

} // namespace
