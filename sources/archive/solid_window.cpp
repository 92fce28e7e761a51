#include "sources/archive/solid_window.h"

#include "platform/trace.h"

#include <algorithm>
#include <utility>

namespace sources::archive {

namespace {

size_t Distance(size_t a, size_t b) {
    return a > b ? a - b : b - a;
}

} // namespace

// Connects one pass of the backend to the window; every call comes from the pass thread.
class SolidWindow::Sink final : public PassSink {
public:
    Sink(SolidWindow& window, uint64_t generation) : window(window), generation(generation) {}

    Decision Begin(uint32_t index) override {
        std::unique_lock lock(window.mutex);
        const auto found = window.positionOf.find(index);
        if (found == window.positionOf.end()) {
            return Decision::Skip;
        }
        const size_t position = found->second;
        if (position >= window.passNext) {
            window.passNext = position;
        }
        const uint64_t need = std::max<uint64_t>(window.sizes[position], 1);
        for (;;) {
            if (Ended()) {
                return Decision::Abort;
            }
            if (window.held.contains(position)) {
                return Decision::Skip; // kept by an earlier pass
            }
            if (window.heldBytes + need <= window.budgetBytes) {
                return Decision::Keep;
            }
            if (window.EvictOneLocked(position)) {
                continue;
            }
            // Full of entries nearer to the reader than this one. Someone waiting for it, or an empty
            // window, takes it anyway (one entry over the budget at most); a reader waiting further on
            // does not wait for room that only its own request would make.
            if (window.waiting.contains(position) || window.held.empty()) {
                return Decision::Keep;
            }
            if (!window.waiting.empty() && *window.waiting.rbegin() > position) {
                window.passNext = position + 1;
                return Decision::Skip;
            }
            window.changed.wait(lock);
        }
    }

    void Finish(uint32_t index, std::vector<uint8_t>&& bytes, bool succeeded) override {
        std::lock_guard lock(window.mutex);
        const auto found = window.positionOf.find(index);
        if (found == window.positionOf.end() || Ended()) {
            return;
        }
        const size_t position = found->second;
        if (succeeded) {
            bytes.shrink_to_fit();
            window.heldBytes += bytes.size();
            window.held[position] = std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
            window.failed.erase(position);
        } else {
            window.failed.insert(position);
        }
        window.passNext = std::max(window.passNext, position + 1);
        window.changed.notify_all();
    }

    bool Cancelled() const override {
        std::lock_guard lock(window.mutex);
        return Ended();
    }

private:
    bool Ended() const { return window.passAbort || window.stopped || window.passGeneration != generation; }

    SolidWindow& window;
    const uint64_t generation;
};

SolidWindow::SolidWindow(std::shared_ptr<ArchiveBackend> backend, std::vector<uint32_t> order,
                         std::vector<uint64_t> sizes, uint64_t budgetBytes)
    : backend(std::move(backend)), order(std::move(order)), sizes(std::move(sizes)),
      budgetBytes(budgetBytes) {
    for (size_t i = 0; i < this->order.size(); ++i) {
        positionOf.emplace(this->order[i], i);
    }
}

SolidWindow::~SolidWindow() {
    Stop();
}

void SolidWindow::Stop() {
    std::unique_lock lock(mutex);
    stopped = true;
    StopPassLocked(lock);
    held.clear();
    heldBytes = 0;
    changed.notify_all();
}

uint32_t SolidWindow::PassesStarted() const {
    std::lock_guard lock(mutex);
    return passesStarted;
}

void SolidWindow::StopPassLocked(std::unique_lock<std::mutex>& lock) {
    // One caller at a time joins and replaces the pass thread.
    changed.wait(lock, [&] { return !restarting; });
    passAbort = true;
    changed.notify_all();
    if (pass.joinable()) {
        restarting = true;
        std::thread finished = std::move(pass);
        lock.unlock();
        finished.join();
        lock.lock();
        restarting = false;
        changed.notify_all();
    }
    passRunning = false;
}

void SolidWindow::StartPassLocked(size_t position, std::unique_lock<std::mutex>& lock) {
    StopPassLocked(lock);
    if (stopped) {
        return;
    }
    passAbort = false;
    passRunning = true;
    passStart = position;
    passNext = position;
    failed.clear();
    ++passGeneration;
    ++passesStarted;
    platform::DebugTrace("[Archive] extraction pass from entry " + std::to_string(position) + "\n");
    pass = std::thread([this, position, generation = passGeneration] { RunPass(position, generation); });
}

void SolidWindow::RunPass(size_t start, uint64_t generation) {
    Sink sink(*this, generation);
    const std::vector<uint32_t> indices(order.begin() + static_cast<std::ptrdiff_t>(start), order.end());
    backend->RunPass(indices, sink);
    std::lock_guard lock(mutex);
    if (passGeneration == generation) {
        passRunning = false;
        passNext = order.size();
        changed.notify_all();
    }
}

bool SolidWindow::EvictOneLocked(size_t incoming) {
    // The entry farthest from the reader goes, provided it is farther than the one coming in; entries
    // someone waits for stay.
    const size_t incomingDistance = Distance(incoming, cursor);
    auto victim = held.end();
    size_t victimDistance = incomingDistance;
    for (auto it = held.begin(); it != held.end(); ++it) {
        const size_t distance = Distance(it->first, cursor);
        if (distance > victimDistance && !waiting.contains(it->first)) {
            victim = it;
            victimDistance = distance;
        }
    }
    if (victim == held.end()) {
        return false;
    }
    heldBytes -= victim->second->size();
    held.erase(victim);
    return true;
}

size_t SolidWindow::PassStartFor(size_t position) const {
    // A little before the entry asked for: readers step back as well as forward (the prefetcher goes
    // both ways, and archives are not always stored in the order the list shows them), and entries
    // taken on the way cost no extra pass. Half the budget goes behind.
    size_t start = position;
    uint64_t behind = 0;
    while (start > 0 && behind + sizes[start - 1] <= budgetBytes / 2) {
        behind += sizes[start - 1];
        --start;
    }
    return start;
}

bool SolidWindow::Get(uint32_t archiveIndex, std::vector<uint8_t>& bytes) {
    bytes.clear();
    std::unique_lock lock(mutex);
    const auto found = positionOf.find(archiveIndex);
    if (found == positionOf.end()) {
        return false;
    }
    const size_t position = found->second;
    cursor = position;
    changed.notify_all(); // the pass may be waiting for the reader to move on
    bool restarted = false;
    std::shared_ptr<const std::vector<uint8_t>> result;
    waiting.insert(position);
    for (;;) {
        if (stopped) {
            break;
        }
        if (restarting) {
            changed.wait(lock);
            continue;
        }
        if (const auto it = held.find(position); it != held.end()) {
            result = it->second;
            break;
        }
        const bool covered = passRunning && position >= passStart && position < passNext;
        if (covered && failed.contains(position)) {
            break;
        }
        const bool ahead = passRunning && position >= passNext;
        if (!ahead) {
            // Gone by (or no pass): start again from this entry, once per request.
            if (restarted && !passRunning) {
                break;
            }
            restarted = true;
            StartPassLocked(PassStartFor(position), lock);
            continue;
        }
        changed.wait(lock);
    }
    waiting.erase(waiting.find(position));
    changed.notify_all();
    lock.unlock();
    if (!result) {
        return false;
    }
    bytes = *result;
    return true;
}

} // namespace sources::archive
