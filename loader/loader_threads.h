#pragma once

#include "decode/decoded_image.h"
#include "loader/load_failure.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace sources {
struct SourceHooks;
}

// The background threads that decode the current item and its neighbours and gather the information
// panel's text, and the request protocol between them and the UI thread. The UI thread asks for work
// only by changing sources::CurrentIndex and calling RequestLoad and WakePrefetch; results come back
// through the shared slots below plus one platform::PostToWindow message each.
namespace loader {

// Work owned by subsystems that sit above or beside the loader, installed once by the application
// before StartLoaderThreads (never while the threads run). The hooks are called on background threads
// and must be safe there. An unset hook fails: it decodes nothing and gathers nothing.
struct LoaderHooks {
    // Decodes an archive entry ("archive::entry") from memory; same contract as decode::LoadImageFile.
    std::function<bool(const std::string& path, uint32_t maxWidth, uint32_t maxHeight, bool highQuality,
                       decode::DecodedImage& image)>
        decodeArchiveEntry;
    // Renders a page ("document.pdf::n") of the open PDF document fitted to the given screen size.
    std::function<bool(const std::string& path, uint32_t screenWidth, uint32_t screenHeight,
                       decode::DecodedImage& image)>
        renderPdfPage;

    // Information panel: gathers a plain file's information into the panel's record.
    std::function<void(const std::string& path)> gatherFileInfo;
    // Reads an entry of the open archive (found by its name) into memory; false when no open archive
    // holds it.
    std::function<bool(const std::string& archivePath, const std::string& entryName,
                       std::vector<uint8_t>& bytes)>
        extractArchiveEntry;
    // Gathers the information of an encoded image held in memory, known by its entry name.
    std::function<void(const std::vector<uint8_t>& bytes, const std::string& entryName)> gatherMemoryInfo;

    // Webtoon batch (see batch.h). Called by StartBatch on the UI thread unless noted.
    std::function<void()> clearWebtoonStrip;   // under the strip's own lock
    std::function<int32_t()> batchTargetWidth; // the strip width, or the surface width for full width
    std::function<void()> showLoadingProgress; // progress box shown, its completion time cleared
    // Pages of the document opened for the batch, or -1 when no document is open for it (the list is
    // then decoded as images). Called on the UI thread by StartBatch and again on the batch thread.
    std::function<int32_t()> batchDocumentPages;
    // Renders one page of the batch document at a pixel width (batch thread).
    std::function<bool(int32_t page, int32_t width, decode::DecodedImage& image)> renderBatchPage;
    // The image batch ended (batch thread): the window starts its 16 ms animation timer and repaints.
    // It must hand that to the UI thread without waiting for it: the UI thread may be joining the batch.
    std::function<void()> batchFinished;
};

void SetLoaderHooks(LoaderHooks hooks);
const LoaderHooks& GetLoaderHooks();

// False ends the loader and prefetch loops. Set by StartLoaderThreads, cleared by StopLoaderThreads.
inline std::atomic<bool> Running{true};
// The slot holds a preview and the full decode of its item is still running; the prefetcher waits.
inline std::atomic<bool> IsPreviewShown{false};
// The user drags the position slider; the prefetcher waits.
inline std::atomic<bool> IsScrubbing{false};
// Bound of every full decode: the primary screen's size, set before the threads start.
inline std::atomic<uint32_t> ScreenWidth{1920};
inline std::atomic<uint32_t> ScreenHeight{1080};

// The window's state that the threads consult, mirrored here by the UI thread whenever it changes.
inline std::atomic<bool> DualViewShown{false};
inline std::atomic<bool> InfoPanelShown{false};
inline std::atomic<bool> WebtoonModeOn{false};

// The image the UI shows. Only the loader thread stores into it (and the UI thread empties it on a
// source reset); the UI thread reads it under the lock after platform::WindowMessage::ImageReady.
struct ImageSlot {
    std::mutex mutex;
    decode::DecodedImage image; // guarded by mutex, like every field below
    int32_t index = -1;         // the list position the image belongs to
    bool preview = false;       // a quick preview; the full image follows
    // Set with an empty image when the item at `index` cannot be shown; the window then says why
    // instead of leaving the previous picture under the new item's name.
    LoadFailure failure = LoadFailure::None;
    uint64_t publications = 0; // counts the stores, so a reader can tell a new image from one it has
};

ImageSlot& CurrentImageSlot();

// Empties the slot (pixels released, index -1) and clears IsPreviewShown. UI thread, on a source reset.
void ClearCurrentImage();

// Asks the loader thread to bring the item at CurrentIndex into the slot. After every change of
// CurrentIndex and every (re)opening of a source.
void RequestLoad();
// Wakes the prefetcher for a pass around CurrentIndex. With RequestLoad, and when the slider is
// released.
void WakePrefetch();
// A raster size in pixels.
struct RefinementSize {
    uint32_t width = 0;
    uint32_t height = 0;
};

// The raster size that shows a picture of sourceWidth x sourceHeight drawn at `scale` screen pixels per
// source pixel without blur: the source size scaled down (never up), rounded up.
RefinementSize NeededRasterSize(uint32_t sourceWidth, uint32_t sourceHeight, float scale);
// `wanted` shrunk, keeping its aspect, until a 32-bit raster of it fits `budgetBytes`.
RefinementSize WithinMemoryBudget(RefinementSize wanted, uint64_t budgetBytes);

// Asks the loader thread to decode the item at `index` again, in the background, so that its raster
// covers width x height (bounded by the memory budget: 3/10 of the available memory within
// 200 MiB..2 GiB). The result replaces the image in the slot, like a full image replaces its preview,
// when it is still current and larger than what the slot holds. UI thread.
void RequestRefinement(int32_t index, uint32_t width, uint32_t height);

// Asks the information thread to gather the item `path` at list position `index`.
void RequestInfo(const std::string& path, int32_t index);

// Decodes an item as the loader and prefetcher do: PDF pages rendered, archive entries decoded from
// memory, plain files through decode::LoadImageFile, bounded by maxWidth x maxHeight, quality flag off.
// True only for a usable image.
bool DecodeFullItem(const std::string& path, uint32_t maxWidth, uint32_t maxHeight,
                    decode::DecodedImage& image);

// One pass of the prefetcher on the calling thread (the prefetch thread's work after each wake-up): the
// neighbours of CurrentIndex in BuildPrefetchOrder's order, each decoded like DecodeFullItem into the
// image cache unless already there or already failed in this list (FailedItemList), until the pass is
// done, Running is cleared or the user moves.
void RunPrefetchPass();

// Starts the loader, then the prefetch, then (unless it runs) the information thread, with full
// decodes bounded by the given screen size (0 keeps the current bound). UI thread. Does nothing while
// the threads run.
void StartLoaderThreads(uint32_t screenWidth, uint32_t screenHeight);
// Shutdown: Running cleared, the loader and prefetch threads woken, the information thread stopped and
// joined, then the loader and the prefetch thread joined, and both caches emptied. A webtoon batch
// still running is cancelled and joined first. UI thread; a running decode is finished, not aborted.
void StopLoaderThreads();
bool LoaderThreadsRunning();

// Fills the loader's part of the source list's hooks: requestLoad, wakePrefetch, cancelBatch,
// clearCaches and clearCurrentImage.
void ConnectSourceHooks(sources::SourceHooks& hooks);

} // namespace loader
