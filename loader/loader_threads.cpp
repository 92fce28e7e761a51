#include "loader/loader_threads.h"

#include "decode/format_registry.h"
#include "loader/batch.h"
#include "loader/image_cache.h"
#include "platform/memory.h"
#include "platform/trace.h"
#include "platform/window_messages.h"
#include "sources/source_list.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <optional>
#include <thread>

namespace loader {

namespace {

using namespace std::chrono_literals;

constexpr uint32_t kPreviewSize = 320;

LoaderHooks& MutableHooks() {
    static LoaderHooks hooks;
    return hooks;
}

// Request flags are atomic so that they can be tested without the lock, but every change that a
// sleeper must see is made under the matching lock, so no wake-up falls between test and wait.
struct LoaderSignal {
    std::mutex mutex;
    std::condition_variable condition;
    std::atomic<bool> loadRequest{false};
    std::atomic<bool> refinementRequest{false};
    int32_t refinementIndex = -1;  // guarded by mutex
    RefinementSize refinementSize; // guarded by mutex
};

struct PrefetchSignal {
    std::mutex mutex;
    std::condition_variable condition;
    std::atomic<bool> wake{false};
};

struct InfoHandoff {
    std::mutex mutex;
    std::condition_variable condition;
    std::atomic<bool> request{false};
    std::atomic<bool> running{false};
    std::string path;   // guarded by mutex
    int32_t index = -1; // guarded by mutex
};

LoaderSignal& LoaderState() {
    static LoaderSignal state;
    return state;
}

PrefetchSignal& PrefetchState() {
    static PrefetchSignal state;
    return state;
}

InfoHandoff& InfoState() {
    static InfoHandoff state;
    return state;
}

// The thread objects; touched only by StartLoaderThreads and StopLoaderThreads on the UI thread.
struct Threads {
    std::thread loader;
    std::thread prefetch;
    std::thread info;
    bool started = false;
};

Threads& ThreadObjects() {
    static Threads threads;
    return threads;
}

// Whether the position and the list seen when the work began are still the user's.
bool StillCurrent(int32_t index, uint64_t generation) {
    return sources::CurrentIndex.load() == index && CacheGeneration() == generation;
}

// Stores an image into the slot when it still belongs to the current position, and tells the window.
// The check and the store happen under the slot lock, so a store never follows a reset of the slot by
// a source change that the check did not see.
bool Publish(int32_t index, uint64_t generation, const decode::DecodedImage& image, bool preview,
             LoadFailure failure = LoadFailure::None) {
    ImageSlot& slot = CurrentImageSlot();
    decode::DecodedImage previous;
    {
        std::lock_guard lock(slot.mutex);
        if (!StillCurrent(index, generation)) {
            return false;
        }
        previous = std::move(slot.image);
        slot.image = image;
        slot.index = index;
        slot.preview = preview;
        slot.failure = failure;
        ++slot.publications;
        IsPreviewShown.store(preview);
    }
    platform::PostToWindow(platform::WindowMessage::ImageReady);
    return true;
}

// Publishes a full image. A store refused because the caches were emptied after the last check (a
// re-sort, which asks for no load) raises the request again: nothing else would bring this position
// its image.
void ServeAgainUnlessPublished(int32_t index, uint64_t generation, const decode::DecodedImage& image) {
    if (!Publish(index, generation, image, false)) {
        RequestLoad();
    }
}

// Decodes an item so that its raster covers width x height (the smallest reduction that still does,
// where the decoder can choose one).
bool DecodeItemCovering(const std::string& path, uint32_t width, uint32_t height,
                        decode::DecodedImage& image) {
    const LoaderHooks& hooks = GetLoaderHooks();
    bool decoded = false;
    if (sources::IsPdfPagePath(path)) {
        decoded = hooks.renderPdfPage && hooks.renderPdfPage(path, width, height, image);
    } else if (sources::IsContainerItem(path)) {
        decoded = hooks.decodeArchiveEntry && hooks.decodeArchiveEntry(path, width, height, true, image);
    } else {
        decoded = decode::LoadImageFile(path, width, height, true, image);
    }
    return decoded && decode::IsValidImage(image);
}

// The current item's full decode. A plain JPEG file whose source size the preview told is decoded to
// cover its size fitted to the screen (never enlarged): a raster bounded by the screen would be drawn
// enlarged, and soft, in a window as large as the screen. Everything else is bounded by the screen.
bool DecodeCurrentItem(const std::string& path, const decode::DecodedImage* preview,
                       decode::DecodedImage& image) {
    const uint32_t screenWidth = ScreenWidth.load();
    const uint32_t screenHeight = ScreenHeight.load();
    if (preview != nullptr && preview->sourceWidth != 0 && preview->sourceHeight != 0 &&
        !sources::IsContainerItem(path) &&
        decode::ExtensionsOf(decode::ExtensionFamily::Jpeg).contains(decode::GetLowerExtension(path))) {
        const float fit =
            std::min(static_cast<float>(screenWidth) / static_cast<float>(preview->sourceWidth),
                     static_cast<float>(screenHeight) / static_cast<float>(preview->sourceHeight));
        const RefinementSize fitted = NeededRasterSize(preview->sourceWidth, preview->sourceHeight, fit);
        if (DecodeItemCovering(path, fitted.width, fitted.height, image)) {
            return true;
        }
    }
    return DecodeFullItem(path, screenWidth, screenHeight, image);
}

// One request of the loader thread: the item at CurrentIndex from the image cache, else its preview
// followed by a full decode bounded by the screen. Work for a position the user has left is dropped
// and the request raised again, so the newest position always wins.
void ServeCurrentItem() {
    const int32_t index = sources::CurrentIndex.load();
    // Read before the path: a result is kept only while the list it was taken from is still the list.
    const uint64_t generation = CacheGeneration();
    const std::string path = sources::CopyItemPath(index);
    if (path.empty()) {
        std::this_thread::sleep_for(10ms);
        return;
    }
    if (InfoPanelShown.load()) {
        RequestInfo(path, index);
    }

    const std::optional<decode::DecodedImage> cached = LookupCache(ImageCache(), index, path);
    if (!StillCurrent(index, generation)) {
        RequestLoad();
        return;
    }
    if (cached && decode::IsValidImage(*cached)) {
        ServeAgainUnlessPublished(index, generation, *cached);
        return;
    }

    std::optional<decode::DecodedImage> preview = LookupCache(PreviewCache(), index, path);
    // An item that already failed in this list is not decoded again: its kept preview is final, or the
    // window hears why nothing can be shown.
    if (const LoadFailure known = FailedItemList().Lookup(path, generation); known != LoadFailure::None) {
        if (preview && decode::IsValidImage(*preview)) {
            ServeAgainUnlessPublished(index, generation, *preview);
        } else {
            Publish(index, generation, {}, false, known);
        }
        return;
    }
    // Archive entries and PDF pages have no quick preview.
    if (!preview && !sources::IsContainerItem(path)) {
        decode::DecodedImage quick;
        if (decode::LoadImageFile(path, kPreviewSize, kPreviewSize, false, quick) &&
            decode::IsValidImage(quick)) {
            InsertIntoCache(PreviewCache(), index, path, quick, generation, sources::CurrentIndex.load(),
                            kPreviewCacheKeep);
            preview = std::move(quick);
        }
    }
    if (!StillCurrent(index, generation)) {
        RequestLoad();
        return;
    }
    const bool previewShown = preview && decode::IsValidImage(*preview);
    platform::TraceSinceProcessStart("first preview decoded");
    if (previewShown) {
        Publish(index, generation, *preview, true);
    }

    decode::DecodedImage full;
    const bool decoded = DecodeCurrentItem(path, previewShown ? &*preview : nullptr, full);
    platform::TraceSinceProcessStart("first full decode done");
    if (!StillCurrent(index, generation)) {
        RequestLoad();
        return;
    }
    if (!decoded) {
        // The item's own preview is the best picture there is and becomes final; without one the
        // window is told why nothing can be shown (the previous picture must not stay under this
        // item's name). Either publication ends the page turn's wait on the window thread, and no full
        // decode runs any more for the prefetcher to wait for.
        if (previewShown) {
            ServeAgainUnlessPublished(index, generation, *preview);
            return;
        }
        const LoadFailure failure = DescribeLoadFailure(path);
        FailedItemList().Remember(path, generation, failure);
        Publish(index, generation, {}, false, failure);
        return;
    }
    UpdateCacheCapacity(full.width, full.height);
    ServeAgainUnlessPublished(index, generation, full);
}

// The sharper raster the window asked for, decoded to cover the size it draws the image at. Dropped
// when the user has moved on or the slot already holds as many pixels.
void ServeRefinement() {
    LoaderSignal& state = LoaderState();
    int32_t index = -1;
    RefinementSize wanted;
    {
        std::lock_guard lock(state.mutex);
        index = state.refinementIndex;
        wanted = state.refinementSize;
    }
    const uint64_t generation = CacheGeneration();
    const std::string path = sources::CopyItemPath(index);
    if (path.empty() || !StillCurrent(index, generation)) {
        return;
    }
    const RefinementSize target = WithinMemoryBudget(
        wanted, std::clamp(platform::AvailablePhysicalMemory() / 10u * 3u, kMinCacheBudget, kMaxCacheBudget));
    const auto slotPixels = [index] {
        ImageSlot& slot = CurrentImageSlot();
        std::lock_guard lock(slot.mutex);
        return slot.index == index && !slot.preview ? uint64_t{slot.image.width} * slot.image.height : 0;
    };
    const uint64_t before = slotPixels();
    if (before == 0 || before >= uint64_t{target.width} * target.height) {
        return;
    }
    decode::DecodedImage sharper;
    if (!DecodeItemCovering(path, target.width, target.height, sharper) || !StillCurrent(index, generation) ||
        uint64_t{sharper.width} * sharper.height <= slotPixels()) {
        return;
    }
    Publish(index, generation, sharper, false);
}

void LoaderThread() {
    LoaderSignal& state = LoaderState();
    for (;;) {
        {
            std::unique_lock lock(state.mutex);
            state.condition.wait(lock, [&] {
                return state.loadRequest.load() || state.refinementRequest.load() || !Running.load();
            });
        }
        if (!Running.load()) {
            return;
        }
        // A page turn comes before a sharper copy of the page being left.
        if (state.loadRequest.exchange(false)) {
            ServeCurrentItem();
        } else if (state.refinementRequest.exchange(false)) {
            ServeRefinement();
        }
    }
}

} // namespace

void RunPrefetchPass() {
    const int32_t center = sources::CurrentIndex.load();
    if (center < 0) {
        return;
    }
    const std::vector<int32_t> order =
        BuildPrefetchOrder(center, CacheCapacity.load(), sources::NavigationDirection.load());
    for (const int32_t index : order) {
        if (!Running.load() || sources::CurrentIndex.load() != center) {
            return;
        }
        if (index < 0) {
            continue;
        }
        const uint64_t generation = CacheGeneration();
        std::string path = sources::CopyItemPath(index); // empty past the end of the list
        if (path.empty() || IsCached(ImageCache(), index, path) ||
            FailedItemList().Lookup(path, generation) != LoadFailure::None) {
            continue;
        }
        decode::DecodedImage image;
        if (!DecodeFullItem(path, ScreenWidth.load(), ScreenHeight.load(), image)) {
            // Remembered for this list, so that a corrupt neighbour is not decoded on every pass.
            FailedItemList().Remember(path, generation, DescribeLoadFailure(path));
            continue;
        }
        const int32_t current = sources::CurrentIndex.load();
        if (InsertIntoCache(ImageCache(), index, std::move(path), image, generation, current,
                            CacheCapacity.load()) &&
            DualViewShown.load() && index == current + 1) {
            platform::PostToWindow(platform::WindowMessage::NextReady);
        }
    }
}

namespace {

void PrefetchThread() {
    PrefetchSignal& state = PrefetchState();
    for (;;) {
        {
            std::unique_lock lock(state.mutex);
            const auto deadline = std::chrono::steady_clock::now() + 100ms;
            state.condition.wait_until(lock, deadline, [&] { return state.wake.load() || !Running.load(); });
            state.wake.store(false);
        }
        if (!Running.load()) {
            return;
        }
        // The current image comes first, and nothing is decoded while the slider is dragged.
        if (IsScrubbing.load() || IsPreviewShown.load()) {
            continue;
        }
        RunPrefetchPass();
    }
}

void GatherInfo(const std::string& path) {
    const LoaderHooks& hooks = GetLoaderHooks();
    const sources::SplitPath split = sources::SplitItemPath(path);
    if (!split.hasEntry) {
        if (hooks.gatherFileInfo) {
            hooks.gatherFileInfo(path);
        }
        return;
    }
    // A PDF page is in no archive: nothing is gathered for it.
    std::vector<uint8_t> bytes;
    const std::string container(split.container);
    const std::string entry(split.entry);
    if (hooks.extractArchiveEntry && hooks.extractArchiveEntry(container, entry, bytes) &&
        hooks.gatherMemoryInfo) {
        hooks.gatherMemoryInfo(bytes, entry);
    }
}

void InfoThread() {
    InfoHandoff& state = InfoState();
    for (;;) {
        std::string path;
        int32_t index = -1;
        {
            std::unique_lock lock(state.mutex);
            state.condition.wait(lock, [&] { return state.request.load() || !state.running.load(); });
            if (!state.running.load()) {
                return;
            }
            if (state.request.exchange(false)) {
                path = std::move(state.path);
                state.path.clear();
                index = state.index;
            }
        }
        if (path.empty() || index < 0 || index != sources::CurrentIndex.load()) {
            continue;
        }
        GatherInfo(path);
        if (index == sources::CurrentIndex.load() && InfoPanelShown.load()) {
            platform::PostToWindow(platform::WindowMessage::InfoReady);
        }
    }
}

} // namespace

void SetLoaderHooks(LoaderHooks hooks) {
    MutableHooks() = std::move(hooks);
}

const LoaderHooks& GetLoaderHooks() {
    return MutableHooks();
}

ImageSlot& CurrentImageSlot() {
    static ImageSlot slot;
    return slot;
}

void ClearCurrentImage() {
    ImageSlot& slot = CurrentImageSlot();
    decode::DecodedImage released;
    std::lock_guard lock(slot.mutex);
    released = std::move(slot.image);
    slot.image = decode::DecodedImage{};
    slot.index = -1;
    slot.preview = false;
    slot.failure = LoadFailure::None;
    IsPreviewShown.store(false);
}

RefinementSize NeededRasterSize(uint32_t sourceWidth, uint32_t sourceHeight, float scale) {
    if (!(scale < 1.0f)) {
        return {sourceWidth, sourceHeight};
    }
    const auto scaled = [scale](uint32_t length) {
        return std::max<uint32_t>(
            1, static_cast<uint32_t>(std::ceil(static_cast<double>(length) * scale - 1e-3)));
    };
    return {std::min(sourceWidth, scaled(sourceWidth)), std::min(sourceHeight, scaled(sourceHeight))};
}

RefinementSize WithinMemoryBudget(RefinementSize wanted, uint64_t budgetBytes) {
    const uint64_t bytes = uint64_t{wanted.width} * wanted.height * 4u;
    if (bytes <= budgetBytes || bytes == 0) {
        return wanted;
    }
    const double shrink = std::sqrt(static_cast<double>(budgetBytes) / static_cast<double>(bytes));
    RefinementSize within{std::max<uint32_t>(1, static_cast<uint32_t>(wanted.width * shrink)),
                          std::max<uint32_t>(1, static_cast<uint32_t>(wanted.height * shrink))};
    return within;
}

void RequestRefinement(int32_t index, uint32_t width, uint32_t height) {
    LoaderSignal& state = LoaderState();
    {
        std::lock_guard lock(state.mutex);
        state.refinementIndex = index;
        state.refinementSize = {width, height};
        state.refinementRequest.store(true);
    }
    state.condition.notify_one();
}

void RequestLoad() {
    LoaderSignal& state = LoaderState();
    {
        std::lock_guard lock(state.mutex);
        state.loadRequest.store(true);
    }
    state.condition.notify_one();
}

void WakePrefetch() {
    PrefetchSignal& state = PrefetchState();
    {
        std::lock_guard lock(state.mutex);
        state.wake.store(true);
    }
    state.condition.notify_one();
}

void RequestInfo(const std::string& path, int32_t index) {
    InfoHandoff& state = InfoState();
    {
        std::lock_guard lock(state.mutex);
        state.path = path;
        state.index = index;
        state.request.store(true);
    }
    state.condition.notify_one();
}

bool DecodeFullItem(const std::string& path, uint32_t maxWidth, uint32_t maxHeight,
                    decode::DecodedImage& image) {
    const LoaderHooks& hooks = GetLoaderHooks();
    bool decoded = false;
    if (sources::IsPdfPagePath(path)) {
        decoded = hooks.renderPdfPage && hooks.renderPdfPage(path, maxWidth, maxHeight, image);
    } else if (sources::IsContainerItem(path)) {
        decoded =
            hooks.decodeArchiveEntry && hooks.decodeArchiveEntry(path, maxWidth, maxHeight, false, image);
    } else {
        decoded = decode::LoadImageFile(path, maxWidth, maxHeight, false, image);
    }
    return decoded && decode::IsValidImage(image);
}

void StartLoaderThreads(uint32_t screenWidth, uint32_t screenHeight) {
    Threads& threads = ThreadObjects();
    if (threads.started) {
        return;
    }
    if (screenWidth > 0 && screenHeight > 0) {
        ScreenWidth.store(screenWidth);
        ScreenHeight.store(screenHeight);
    }
    Running.store(true);
    threads.loader = std::thread(LoaderThread);
    threads.prefetch = std::thread(PrefetchThread);
    if (!InfoState().running.exchange(true)) {
        threads.info = std::thread(InfoThread);
    }
    threads.started = true;
}

void StopLoaderThreads() {
    Threads& threads = ThreadObjects();
    // Normally already done when the window went away; a thread object left joinable would end the
    // process.
    CancelBatch();

    Running.store(false);
    // Each flag change is followed by taking the sleeper's lock, so a thread between its test and its
    // wait cannot miss the wake-up.
    { std::lock_guard lock(LoaderState().mutex); }
    LoaderState().condition.notify_all();
    { std::lock_guard lock(PrefetchState().mutex); }
    PrefetchState().condition.notify_all();

    InfoHandoff& info = InfoState();
    if (info.running.exchange(false)) {
        { std::lock_guard lock(info.mutex); }
        info.condition.notify_one();
        if (threads.info.joinable()) {
            threads.info.join();
        }
    }
    if (threads.loader.joinable()) {
        threads.loader.join();
    }
    if (threads.prefetch.joinable()) {
        threads.prefetch.join();
    }
    ClearCaches();
    threads.started = false;
}

bool LoaderThreadsRunning() {
    return ThreadObjects().started;
}

void ConnectSourceHooks(sources::SourceHooks& hooks) {
    hooks.requestLoad = RequestLoad;
    hooks.wakePrefetch = WakePrefetch;
    hooks.cancelBatch = CancelBatch;
    hooks.clearCaches = ClearCaches;
    hooks.clearCurrentImage = ClearCurrentImage;
}

} // namespace loader
