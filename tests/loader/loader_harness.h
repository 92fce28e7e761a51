#pragma once

#include "decode/decoded_image.h"
#include "decode/format_registry.h"
#include "loader/batch.h"
#include "loader/image_cache.h"
#include "loader/loader_threads.h"
#include "platform/window_messages.h"
#include "sources/source_list.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace loader_testing {

// One message as the window would have received it, with what the current-image slot held when an
// image-ready message was posted (the sink runs on the posting thread, right after the store).
struct Received {
    platform::WindowMessage message{};
    int32_t index = -1;
    bool preview = false;
    uint32_t width = 0;
    uint32_t height = 0;
    const uint8_t* pixels = nullptr;
    uint64_t publication = 0;
    loader::LoadFailure failure = loader::LoadFailure::None;
};

// Queues every posted message for the test. Create it before the threads start and destroy it after
// they were joined.
class MessageRecorder {
public:
    MessageRecorder() {
        platform::SetWindowMessageSink([this](platform::WindowMessage message) { Record(message); });
    }
    ~MessageRecorder() { platform::SetWindowMessageSink({}); }
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    // Waits (generously) until the predicate holds over everything received so far.
    bool WaitFor(const std::function<bool(const std::vector<Received>&)>& done,
                 std::chrono::seconds timeout = std::chrono::seconds(60)) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, [&] { return done(received); });
    }
    std::vector<Received> Snapshot() {
        std::lock_guard lock(mutex);
        return received;
    }
    size_t Count(platform::WindowMessage message) {
        std::lock_guard lock(mutex);
        size_t count = 0;
        for (const Received& item : received) {
            count += item.message == message ? 1 : 0;
        }
        return count;
    }
    void Clear() {
        std::lock_guard lock(mutex);
        received.clear();
    }

private:
    void Record(platform::WindowMessage message) {
        Received item;
        item.message = message;
        if (message == platform::WindowMessage::ImageReady) {
            loader::ImageSlot& slot = loader::CurrentImageSlot();
            std::lock_guard lock(slot.mutex);
            item.index = slot.index;
            item.preview = slot.preview;
            item.width = slot.image.width;
            item.height = slot.image.height;
            item.pixels = slot.image.pixels.get();
            item.publication = slot.publications;
            item.failure = slot.failure;
        }
        {
            std::lock_guard lock(mutex);
            received.push_back(item);
        }
        changed.notify_all();
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Received> received; // guarded by mutex
};

// Installs the hooks, connects the source list to the loader and starts the threads; stops and joins
// them and resets every piece of shared state on destruction.
class LoaderHarness {
public:
    explicit LoaderHarness(loader::LoaderHooks hooks = {}, uint32_t screenWidth = 480,
                           uint32_t screenHeight = 360, bool startThreads = true) {
        ResetShared();
        loader::SetLoaderHooks(std::move(hooks));
        sources::SourceHooks sourceHooks;
        loader::ConnectSourceHooks(sourceHooks);
        sources::SetSourceHooks(std::move(sourceHooks));
        if (startThreads) {
            loader::StartLoaderThreads(screenWidth, screenHeight);
        } else {
            loader::ScreenWidth.store(screenWidth);
            loader::ScreenHeight.store(screenHeight);
            loader::Running.store(true);
        }
    }
    ~LoaderHarness() {
        loader::StopLoaderThreads();
        ResetShared();
        sources::SetSourceHooks({});
        loader::SetLoaderHooks({});
    }
    LoaderHarness(const LoaderHarness&) = delete;
    LoaderHarness& operator=(const LoaderHarness&) = delete;

    // A new list, as an open would install it: caches and slot emptied first.
    static void SetList(std::vector<std::string> items) {
        sources::ResetSource();
        sources::ReplaceSourceList(std::move(items));
    }
    // A page turn as the navigation makes it.
    static void MoveTo(int32_t index, int32_t direction = 1) {
        sources::NavigationDirection.store(direction);
        sources::CurrentIndex.store(index);
        loader::RequestLoad();
        loader::WakePrefetch();
    }

private:
    static void ResetShared() {
        loader::ClearCaches();
        loader::ClearCurrentImage();
        sources::ReplaceSourceList({});
        sources::CurrentIndex.store(-1);
        sources::NavigationDirection.store(1);
        loader::CacheCapacity.store(20);
        loader::IsScrubbing.store(false);
        loader::DualViewShown.store(false);
        loader::InfoPanelShown.store(false);
        loader::WebtoonModeOn.store(false);
        while (loader::PopBatchItem()) {
        }
    }
};

// The size the real decoders give for a file under a bound, for comparison with what the threads made.
struct Size {
    uint32_t width = 0;
    uint32_t height = 0;
    bool operator==(const Size&) const = default;
};
inline Size DecodedSize(const std::string& path, uint32_t maxWidth, uint32_t maxHeight) {
    decode::DecodedImage image;
    if (!decode::LoadImageFile(path, maxWidth, maxHeight, false, image)) {
        return {};
    }
    return {image.width, image.height};
}

// The sizes a full image of `path` may have on a screen of maxWidth x maxHeight: the screen-bounded
// decode (prefetched neighbours), and for a JPEG loaded as the current item, the decode covering its
// size fitted to the screen.
inline std::vector<Size> FullImageSizes(const std::string& path, uint32_t maxWidth, uint32_t maxHeight) {
    std::vector<Size> sizes = {DecodedSize(path, maxWidth, maxHeight)};
    decode::DecodedImage preview;
    if (decode::GetLowerExtension(path) == "jpg" && decode::LoadImageFile(path, 320, 320, false, preview)) {
        const float fit = std::min(static_cast<float>(maxWidth) / static_cast<float>(preview.sourceWidth),
                                   static_cast<float>(maxHeight) / static_cast<float>(preview.sourceHeight));
        const loader::RefinementSize fitted =
            loader::NeededRasterSize(preview.sourceWidth, preview.sourceHeight, fit);
        decode::DecodedImage covering;
        if (decode::LoadImageFile(path, fitted.width, fitted.height, true, covering)) {
            sizes.push_back({covering.width, covering.height});
        }
    }
    return sizes;
}

// Bounded polling for states that produce no message.
inline bool Eventually(const std::function<bool()>& condition,
                       std::chrono::seconds timeout = std::chrono::seconds(60)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

} // namespace loader_testing
