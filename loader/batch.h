#pragma once

#include "decode/decoded_image.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

// The webtoon batch: one background thread at a time that decodes every item of the list (or renders
// every page of the batch PDF document) at full size, in list order, for the continuous strip.
namespace loader {

// Decoded pages waiting for the UI thread, first in first out. The window pops exactly one image per
// platform::WindowMessage::BatchItem.
struct BatchQueueStore {
    std::mutex mutex;
    std::deque<decode::DecodedImage> images; // guarded by mutex
};

BatchQueueStore& BatchQueue();
std::optional<decode::DecodedImage> PopBatchItem();

inline std::atomic<bool> BatchCancel{false};
inline std::atomic<bool> BatchRunning{false};
// Progress of the running batch: usable images so far, and items in all.
inline std::atomic<int32_t> BatchDone{0};
inline std::atomic<int32_t> BatchTotal{0};

// Cancels and joins any running batch, clears the strip and the queue, and starts a new batch at the
// target width: the page variant when a PDF document is open for the batch, else the image variant.
// UI thread.
void StartBatch();
// Sets the cancel flag and joins the batch thread when there is one (it stops after the item it is
// decoding). UI thread.
void CancelBatch();

} // namespace loader
