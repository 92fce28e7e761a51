#include "loader/batch.h"

#include "decode/format_registry.h"
#include "loader/loader_threads.h"
#include "platform/window_messages.h"
#include "sources/source_list.h"

#include <string>
#include <thread>
#include <vector>

namespace loader {

namespace {

// The one batch thread; its handle is touched only by StartBatch and CancelBatch.
std::mutex batchThreadMutex;
std::thread batchThread; // guarded by batchThreadMutex

bool BatchShouldStop() {
    return BatchCancel.load() || !WebtoonModeOn.load();
}

void AppendBatchItem(decode::DecodedImage image) {
    {
        std::lock_guard lock(BatchQueue().mutex);
        BatchQueue().images.push_back(std::move(image));
    }
    BatchDone.fetch_add(1);
    platform::PostToWindow(platform::WindowMessage::BatchItem);
}

// Every item of the list in order, at full size; an item that fails is skipped.
void ImageBatchThread() {
    const std::vector<sources::ItemPath> items = sources::CopySourceList();
    BatchTotal.store(static_cast<int32_t>(items.size()));
    BatchDone.store(0);
    const LoaderHooks& hooks = GetLoaderHooks();
    for (const sources::ItemPath& path : items) {
        if (BatchShouldStop()) {
            break;
        }
        decode::DecodedImage image;
        const bool decoded =
            sources::IsContainerItem(path)
                ? hooks.decodeArchiveEntry && hooks.decodeArchiveEntry(path, 0, 0, true, image)
                : decode::LoadImageFile(path, 0, 0, true, image);
        if (decoded && decode::IsValidImage(image)) {
            AppendBatchItem(std::move(image));
        }
    }
    BatchRunning.store(false);
    if (hooks.batchFinished) {
        hooks.batchFinished();
    }
}

// Every page of the document opened for the batch, rendered at the strip width.
void PageBatchThread(int32_t width) {
    const LoaderHooks& hooks = GetLoaderHooks();
    const int32_t pages = hooks.batchDocumentPages ? hooks.batchDocumentPages() : -1;
    if (pages < 1 || !hooks.renderBatchPage) {
        BatchRunning.store(false);
        return;
    }
    BatchTotal.store(pages);
    BatchDone.store(0);
    for (int32_t page = 0; page < pages; ++page) {
        if (BatchShouldStop()) {
            break;
        }
        decode::DecodedImage image;
        if (hooks.renderBatchPage(page, width, image) && decode::IsValidImage(image)) {
            AppendBatchItem(std::move(image));
        }
    }
    BatchRunning.store(false);
}

void JoinBatchThread() {
    std::lock_guard lock(batchThreadMutex);
    // The batch thread cannot wait for itself; its handle is then left for the next caller.
    if (batchThread.joinable() && batchThread.get_id() != std::this_thread::get_id()) {
        batchThread.join();
    }
}

} // namespace

BatchQueueStore& BatchQueue() {
    static BatchQueueStore store;
    return store;
}

std::optional<decode::DecodedImage> PopBatchItem() {
    std::lock_guard lock(BatchQueue().mutex);
    if (BatchQueue().images.empty()) {
        return std::nullopt;
    }
    decode::DecodedImage image = std::move(BatchQueue().images.front());
    BatchQueue().images.pop_front();
    return image;
}

void CancelBatch() {
    BatchCancel.store(true);
    JoinBatchThread();
}

void StartBatch() {
    CancelBatch();
    const LoaderHooks& hooks = GetLoaderHooks();
    if (hooks.clearWebtoonStrip) {
        hooks.clearWebtoonStrip();
    }
    {
        std::deque<decode::DecodedImage> released;
        std::lock_guard lock(BatchQueue().mutex);
        released.swap(BatchQueue().images);
    }
    BatchCancel.store(false);
    BatchRunning.store(true);
    BatchDone.store(0);
    BatchTotal.store(0);
    const int32_t width = hooks.batchTargetWidth ? hooks.batchTargetWidth() : 0;
    if (hooks.showLoadingProgress) {
        hooks.showLoadingProgress();
    }
    const bool pages = hooks.batchDocumentPages && hooks.batchDocumentPages() >= 0;
    std::lock_guard lock(batchThreadMutex);
    if (batchThread.joinable()) {
        // Only when the batch thread itself asked for a restart: it cannot be joined from itself, and
        // it ends on its own after this call returns.
        batchThread.detach();
    }
    batchThread = pages ? std::thread(PageBatchThread, width) : std::thread(ImageBatchThread);
}

} // namespace loader
