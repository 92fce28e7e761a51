#include "platform/window_messages.h"

#include <mutex>

namespace platform {

namespace {
std::mutex sinkMutex;
WindowMessageSink messageSink; // guarded by sinkMutex
} // namespace

void PostToWindow(WindowMessage message) {
    // The sink runs under the lock, so a replacement or removal waits for every post in progress: once
    // SetWindowMessageSink returns, the old sink (and the window it names) is never called again.
    std::lock_guard lock(sinkMutex);
    if (messageSink) {
        messageSink(message);
    }
}

void SetWindowMessageSink(WindowMessageSink sink) {
    WindowMessageSink previous;
    std::lock_guard lock(sinkMutex);
    previous = std::move(messageSink);
    messageSink = std::move(sink);
    // The previous sink is destroyed after the lock is released (declared before the guard).
}

} // namespace platform
