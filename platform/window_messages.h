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
// shutdown) the message is dropped. The sink must itself be thread-safe: the window installs one that
// queues an event for its own thread; tests install a queue they read.
void PostToWindow(WindowMessage message);

// Installs or removes (empty function) the sink. Not to be called while background threads post.
void SetWindowMessageSink(WindowMessageSink sink);

} // namespace platform
