// Posting threads against a receiver that removes its sink and goes away at once: after the removal
// returns, no post may reach the old receiver.

#include "platform/window_messages.h"

#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <vector>

namespace {

TEST(WindowMessageSink, ARemovedSinkIsNeverCalledAgain) {
    std::atomic<bool> running{true};
    std::vector<std::thread> posters;
    for (int i = 0; i < 3; ++i) {
        posters.emplace_back([&running] {
            while (running.load()) {
                platform::PostToWindow(platform::WindowMessage::ImageReady);
            }
        });
    }
    uint64_t received = 0;
    for (int round = 0; round < 500; ++round) {
        // The receiver lives on the heap, so a late call through its sink is a use after free.
        auto receiver = std::make_unique<uint64_t>(0);
        platform::SetWindowMessageSink([target = receiver.get()](platform::WindowMessage) { ++*target; });
        std::this_thread::yield();
        platform::SetWindowMessageSink({});
        received += *receiver;
        receiver.reset();
    }
    running.store(false);
    for (std::thread& poster : posters) {
        poster.join();
    }
    EXPECT_GT(received, 0u);
}

} // namespace
