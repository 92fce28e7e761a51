#pragma once

#include "sources/archive/archive_backend.h"

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>
#include <vector>

namespace sources::archive {

// Extraction ahead for archives that can only be read in order (solid 7z and RAR archives, compressed
// tar files). Taking entries one by one from such an archive decodes everything before each entry again;
// instead one background pass runs through the entries in archive order and keeps their bytes in a
// window of at most `budgetBytes`, centred on the entry asked for last. Entries asked for in order are
// served by that one pass; an entry the pass has already gone by (and the window no longer holds)
// restarts the pass from it.
//
// Thread-safe: the loader, prefetch, information and batch threads ask concurrently. The pass is the
// only user of the backend while the window lives.
class SolidWindow {
public:
    // `order`: the archive indices the pass extracts, ascending; `sizes`: their reported sizes.
    SolidWindow(std::shared_ptr<ArchiveBackend> backend, std::vector<uint32_t> order,
                std::vector<uint64_t> sizes, uint64_t budgetBytes);
    ~SolidWindow(); // stops and joins the pass
    SolidWindow(const SolidWindow&) = delete;
    SolidWindow& operator=(const SolidWindow&) = delete;

    // The entry's bytes; waits for the pass to reach it. False when it cannot be extracted, is not in
    // the order, or the window was stopped.
    bool Get(uint32_t archiveIndex, std::vector<uint8_t>& bytes);

    // Ends the pass and makes every waiting and later Get fail. Joins the pass thread.
    void Stop();

    // How often a pass was started (tests and the benchmark read it).
    uint32_t PassesStarted() const;

private:
    class Sink;
    friend class Sink;

    // All below guarded by mutex.
    void StartPassLocked(size_t position, std::unique_lock<std::mutex>& lock);
    void StopPassLocked(std::unique_lock<std::mutex>& lock);
    bool EvictOneLocked(size_t incoming);
    size_t PassStartFor(size_t position) const;
    void RunPass(size_t start, uint64_t generation);

    std::shared_ptr<ArchiveBackend> backend;
    const std::vector<uint32_t> order;
    const std::vector<uint64_t> sizes;
    std::unordered_map<uint32_t, size_t> positionOf;
    const uint64_t budgetBytes;

    mutable std::mutex mutex;
    std::condition_variable changed;
    std::map<size_t, std::shared_ptr<const std::vector<uint8_t>>> held; // by position
    uint64_t heldBytes = 0;
    std::set<size_t> failed;       // positions the running pass could not extract
    std::multiset<size_t> waiting; // positions that Get calls wait for
    size_t cursor = 0;             // position asked for last
    std::thread pass;
    bool passRunning = false;
    bool passAbort = false;
    bool stopped = false;
    bool restarting = false; // a caller is joining the pass thread
    size_t passStart = 0;
    size_t passNext = 0; // the pass has gone by every position below this one
    uint64_t passGeneration = 0;
    uint32_t passesStarted = 0;
};

} // namespace sources::archive
