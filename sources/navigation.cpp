#include "sources/navigation.h"

#include "decode/format_registry.h"
#include "platform/text.h"
#include "platform/trace.h"
#include "sources/source_list.h"

#include <algorithm>
#include <optional>

namespace sources {

namespace {

bool Ask(const std::function<bool()>& hook) {
    return hook && hook();
}

bool IsWebtoon() {
    return Ask(Hooks().isWebtoonMode);
}

// In the strip every decoded image is already on screen: a step only scrolls.
bool StepInStrip(int delta) {
    const SourceHooks& hooks = Hooks();
    const int32_t count = hooks.webtoonStripCount ? hooks.webtoonStripCount() : 0;
    int32_t target = 0;
    {
        SourceListStore& list = SourceList();
        std::lock_guard lock(list.mutex);
        target = CurrentIndex.load() + delta;
        if (target < 0 || target > count - 1) {
            return false;
        }
        CurrentIndex.store(target);
    }
    CallHook(hooks.scrollStripToImage, target);
    CallHook(hooks.updateWindowTitle);
    CallHook(hooks.repaint);
    return true;
}

void AfterStep(int32_t direction) {
    const SourceHooks& hooks = Hooks();
    CallHook(hooks.stopAnimation);
    PdfPageMode.store(false);
    PdfPageCount.store(0);
    NavigationDirection.store(direction);
    CallHook(hooks.resetView);
    NavigationPending.store(true);
    CallHook(hooks.requestLoad);
    CallHook(hooks.wakePrefetch);
    CallHook(hooks.updateWindowTitle);
}

bool StepIgnored() {
    return NavigationPending.load() && !IsWebtoon() && !Ask(Hooks().isDualView);
}

int32_t StepSize() {
    return Ask(Hooks().isDualView) ? 2 : 1;
}

// GoToFirstImage and GoToLastImage share everything but the target.
bool GoToEnd(StripEnd end) {
    const SourceHooks& hooks = Hooks();
    if (IsWebtoon()) {
        CallHook(hooks.scrollStripToEnd, end);
        return true;
    }
    const int32_t pages = PdfPageCount.load();
    if (PdfPageMode.load() && pages > 1) {
        CallHook(hooks.goToPage, end == StripEnd::Top ? 0 : pages - 1);
        return true;
    }
    bool moved = false;
    {
        SourceListStore& list = SourceList();
        std::lock_guard lock(list.mutex);
        const auto count = static_cast<int32_t>(list.items.size());
        const int32_t target = end == StripEnd::Top ? 0 : count - 1;
        if (count > 0 && CurrentIndex.load() != target) {
            CurrentIndex.store(target);
            moved = true;
        }
    }
    if (moved) {
        CallHook(hooks.requestLoad);
        CallHook(hooks.wakePrefetch);
        CallHook(hooks.updateWindowTitle);
    }
    return moved;
}

EdgeTimer UpdateEdge(bool& on, bool condition) {
    if (!condition) {
        on = false;
        return EdgeTimer::Stop;
    }
    if (on) {
        return EdgeTimer::Keep;
    }
    on = true;
    return EdgeTimer::Start;
}

bool IsContainerExtension(const std::string& ext) {
    // The archive set includes the formats read by the program's own readers (alz, egg).
    return decode::IsArchiveExtension(ext) || decode::IsPdfExtension(ext);
}

bool OpenAdjacentContainer(int delta) {
    if (NavigationPending.load()) {
        return false;
    }
    const ItemPath current = CopyItemPath(CurrentIndex.load());
    const std::string container(SplitItemPath(current).container);
    const std::string ext = decode::GetLowerExtension(container);
    if (container.empty() || ext.empty() || !IsContainerExtension(ext)) {
        return false;
    }
    const std::string target = GetAdjacent(container, delta);
    if (target.empty()) {
        return false;
    }
    OpenPath(target);
    return true;
}

} // namespace

bool GoToNextImage() {
    if (StepIgnored()) {
        return false;
    }
    if (IsWebtoon()) {
        return StepInStrip(+1);
    }
    const int32_t step = StepSize();
    bool moved = false;
    {
        SourceListStore& list = SourceList();
        std::lock_guard lock(list.mutex);
        const int64_t target = static_cast<int64_t>(CurrentIndex.load()) + step;
        if (target < static_cast<int64_t>(list.items.size())) {
            CurrentIndex.fetch_add(step);
            moved = true;
        }
    }
    if (moved) {
        AfterStep(+1);
    }
    return moved;
}

bool GoToPreviousImage() {
    if (StepIgnored()) {
        return false;
    }
    if (IsWebtoon()) {
        return StepInStrip(-1);
    }
    const int32_t step = StepSize();
    bool moved = false;
    {
        SourceListStore& list = SourceList();
        std::lock_guard lock(list.mutex);
        const int32_t index = CurrentIndex.load();
        if (index >= step) {
            CurrentIndex.fetch_sub(step);
            moved = true;
        } else if (index > 0) {
            // Dual view standing on index 1 goes back to the first item.
            CurrentIndex.store(0);
            moved = true;
        }
    }
    if (moved) {
        AfterStep(-1);
    }
    return moved;
}

bool GoToFirstImage() {
    return GoToEnd(StripEnd::Top);
}

bool GoToLastImage() {
    return GoToEnd(StripEnd::Bottom);
}

EdgeEventChanges UpdateEdgeEvents(EdgeEvents& events, int32_t index, size_t count) {
    EdgeEventChanges changes;
    changes.firstImage = UpdateEdge(events.firstImage, index == 0 && count > 1);
    changes.lastImage =
        UpdateEdge(events.lastImage, count > 1 && index >= 0 && static_cast<size_t>(index) == count - 1);
    return changes;
}

std::vector<std::string> ListSiblingContainers(const std::string& path) {
    const size_t separator = path.rfind('/');
    if (path.empty() || separator == std::string::npos) {
        return {};
    }
    // A path whose only separator leads it lies in the root folder.
    std::optional<std::vector<std::string>> siblings =
        ListFolderFiles(path.substr(0, separator), IsContainerExtension);
    if (!siblings) {
        return {};
    }
    std::stable_sort(siblings->begin(), siblings->end(), [](const std::string& a, const std::string& b) {
        return platform::LogicalCompare(a, b) < 0;
    });
    return std::move(*siblings);
}

std::string GetAdjacent(const std::string& path, int delta) {
    if (path.empty()) {
        return {};
    }
    const std::vector<std::string> siblings = ListSiblingContainers(path);
    if (siblings.empty()) {
        platform::DebugTrace("[GetAdjacent] siblings is empty\n");
        return {};
    }
    platform::DebugTrace("[GetAdjacent] siblings count: " + std::to_string(siblings.size()) + "\n");
    // The exact name first: in a case-sensitive folder "A.zip" and "a.zip" are different files. The
    // case-folded match still finds a container opened under a differently cased name.
    int64_t position = -1;
    const auto exact = std::find(siblings.begin(), siblings.end(), path);
    if (exact != siblings.end()) {
        position = exact - siblings.begin();
    } else {
        const std::string folded = platform::ToLowerText(path);
        for (size_t i = 0; i < siblings.size(); ++i) {
            if (platform::ToLowerText(siblings[i]) == folded) {
                position = static_cast<int64_t>(i);
                break;
            }
        }
    }
    platform::DebugTrace("[GetAdjacent] currentIndex: " + std::to_string(position) + "\n");
    if (position < 0) {
        platform::DebugTrace("[GetAdjacent] NOT FOUND in siblings. currentPath: " + path + "\n");
        return {};
    }
    const int64_t target = position + delta;
    if (target < 0 || target >= static_cast<int64_t>(siblings.size())) {
        platform::DebugTrace("[GetAdjacent] Out of bounds\n");
        return {};
    }
    const std::string& result = siblings[static_cast<size_t>(target)];
    platform::DebugTrace("[GetAdjacent] returning: " + result + "\n");
    return result;
}

bool OpenPreviousContainer() {
    return OpenAdjacentContainer(-1);
}

bool OpenNextContainer() {
    return OpenAdjacentContainer(+1);
}

} // namespace sources
