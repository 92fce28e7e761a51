#include "platform/window_messages.h"

#include <mutex>

namespace platform {

namespace {
std::mutex sinkMutex;
WindowMessageSink messageSink; // guarded by sinkMutex
} // namespace

void PostToWindow(WindowMessage message) {
    WindowMessageSink sink;
    {
        std::lock_guard lock(sinkMutex);
        sink = messageSink;
    }
    if (sink) {
        sink(message);
    }
}

void SetWindowMessageSink(WindowMessageSink sink) {
    std::lock_guard lock(sinkMutex);
    messageSink = std::move(sink);
}

} // namespace platform
