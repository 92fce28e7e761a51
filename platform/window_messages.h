#pragma once

#include <functional>

namespace platform {

// The four notifications that background threads post to the main window. Each carries no data:
// the receiver reads the shared slots.
enum class WindowMessage {
    ImageReady = 1, // a new image is in the current-image slot
    BatchItem = 2,  // the webtoon batch queue holds new pages
    NextReady = 3,  // the prefetch thread stored a neighbour in the cache
    InfoReady = 4,  // the information thread gathered the panel's text
};

using WindowMessageSink = std::function<void(WindowMessage)>;

// Posts a message to the main window from any thread. Without a sink (no window yet, or after
// shutdown) the message is dropped. The sink is called under the sink lock: it must be quick, must not
// wait for another thread and must not post or replace the sink itself (the window's queues an event
// for its own thread; tests append to a queue they read).
void PostToWindow(WindowMessage message);

// Installs or removes (empty function) the sink, from any thread. It waits for posts in progress, so
// after it returns the previous sink is never called again: a receiver may go away right after
// removing its sink, whatever the background threads are doing.
void SetWindowMessageSink(WindowMessageSink sink);

} // namespace platform
