#include "sources/sort_orders.h"

#include "platform/files.h"
#include "platform/text.h"

#include <algorithm>
#include <array>
#include <fcntl.h>
#include <numeric>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace sources {

namespace {

constexpr std::array<std::string_view, kSortModeCount> kSortMessages = {
    "일반 정렬",
    "자연 정렬",
    "역순 정렬",
    "수정일 정렬",
};

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Maps a code point to a key that orders like its UTF-16 code units: characters beyond U+FFFF (lead
// surrogates D800..DBFF) sort after U+D7FF but before U+E000..U+FFFF.
uint32_t Utf16OrderKey(char32_t c) {
    if (c < 0xD800) {
        return c;
    }
    if (c >= 0x10000) {
        return 0xD800 + (c - 0x10000);
    }
    return c + 0x100000;
}

size_t Utf16Length(std::string_view text) {
    size_t length = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte & 0xC0) != 0x80) {
            length += byte >= 0xF0 ? 2 : 1;
        }
    }
    return length;
}

// The path split at "/" and, inside a container, also at "\" (archives store either); "::" does not
// split, so the container's name and the entry's first component form one component. Empty components
// are dropped.
std::vector<std::string_view> NameComponents(std::string_view path) {
    std::vector<std::string_view> components;
    const size_t entryStart = path.find(kContainerSeparator);
    size_t start = 0;
    for (size_t i = 0; i <= path.size(); ++i) {
        const bool atEnd = i == path.size();
        const bool separator =
            !atEnd &&
            (path[i] == '/' || (path[i] == '\\' && entryStart != std::string_view::npos && i > entryStart));
        if (atEnd || separator) {
            if (i > start) {
                components.push_back(path.substr(start, i - start));
            }
            start = i + 1;
        }
    }
    return components;
}

// Depth-first order of the name tree: at each level the files (last components) come first, then the
// folders, each group by name. A name that is both a file and a folder keeps both: the file with the
// files, its contents with the folders.
int CompareNameTree(const std::vector<std::string_view>& a, const std::vector<std::string_view>& b) {
    const size_t shared = std::min(a.size(), b.size());
    size_t k = 0;
    while (k < shared && a[k] == b[k]) {
        ++k;
    }
    if (k == a.size() || k == b.size()) {
        if (a.size() == b.size()) {
            return 0;
        }
        return a.size() < b.size() ? -1 : 1;
    }
    const bool aIsFile = k + 1 == a.size();
    const bool bIsFile = k + 1 == b.size();
    if (aIsFile != bIsFile) {
        return aIsFile ? -1 : 1;
    }
    if (const int order = CompareUtf16(a[k], b[k]); order != 0) {
        return order;
    }
    return a[k].compare(b[k]) < 0 ? -1 : 1;
}

void SortByNameTree(std::vector<ItemPath>& items, bool reverse) {
    std::vector<std::vector<std::string_view>> components;
    components.reserve(items.size());
    for (const ItemPath& item : items) {
        components.push_back(NameComponents(item));
    }
    std::vector<size_t> order(items.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::sort(order.begin(), order.end(), [&](size_t x, size_t y) {
        if (const int byTree = CompareNameTree(components[x], components[y]); byTree != 0) {
            return byTree < 0;
        }
        // Different spellings of one tree path ("a//b", "a/b") stay distinct items in a fixed order.
        return items[x] < items[y];
    });
    std::vector<ItemPath> sorted;
    sorted.reserve(items.size());
    for (const size_t index : order) {
        if (sorted.empty() || sorted.back() != items[index]) {
            sorted.push_back(std::move(items[index]));
        }
    }
    if (reverse) {
        std::reverse(sorted.begin(), sorted.end());
    }
    items = std::move(sorted);
}

// Reads modification times of many files, resolving each folder once: the items of a list usually share
// one folder, and a lookup relative to it costs a fraction of one through the whole path.
class ModificationTimes {
public:
    ModificationTimes() = default;
    ModificationTimes(const ModificationTimes&) = delete;
    ModificationTimes& operator=(const ModificationTimes&) = delete;
    ~ModificationTimes() { CloseFolder(); }

    std::optional<int64_t> Read(const std::string& path) {
        const size_t separator = path.rfind('/');
        if (separator == std::string::npos) {
            return FromAttributes(path);
        }
        const std::string_view folder(path.data(), separator);
        if (!folderOpen || folder != openFolder) {
            CloseFolder();
            openFolder.assign(folder);
            const std::string opened = openFolder.empty() ? std::string("/") : openFolder;
            folderDescriptor = ::open(opened.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            folderOpen = true;
        }
        if (folderDescriptor < 0) {
            return FromAttributes(path);
        }
        struct stat info {};
        if (::fstatat(folderDescriptor, path.c_str() + separator + 1, &info, 0) != 0) {
            return std::nullopt;
        }
        return static_cast<int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 +
               static_cast<int64_t>(info.st_mtim.tv_nsec);
    }

private:
    static std::optional<int64_t> FromAttributes(const std::string& path) {
        if (const auto attributes = platform::GetFileAttributes(path)) {
            return attributes->lastWriteTime;
        }
        return std::nullopt;
    }

    void CloseFolder() {
        if (folderDescriptor >= 0) {
            ::close(folderDescriptor);
        }
        folderDescriptor = -1;
        folderOpen = false;
    }

    std::string openFolder;
    int folderDescriptor = -1;
    bool folderOpen = false;
};

// Each file's time is read once; entries of containers have none and gather after the files that do.
// The stable sort keeps equal times in list order.
void SortByDate(std::vector<ItemPath>& items) {
    std::vector<std::optional<int64_t>> times(items.size());
    ModificationTimes reader;
    for (size_t i = 0; i < items.size(); ++i) {
        if (!IsContainerItem(items[i])) {
            times[i] = reader.Read(items[i]);
        }
    }
    std::vector<size_t> order(items.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](size_t x, size_t y) {
        if (!times[x]) {
            return false;
        }
        return !times[y] || *times[x] < *times[y];
    });
    std::vector<ItemPath> sorted;
    sorted.reserve(items.size());
    for (const size_t index : order) {
        sorted.push_back(std::move(items[index]));
    }
    items = std::move(sorted);
}

bool AllPdfPages(const std::vector<ItemPath>& items) {
    return !items.empty() &&
           std::all_of(items.begin(), items.end(), [](const ItemPath& item) { return IsPdfPagePath(item); });
}

} // namespace

std::string_view SortModeMessage(uint32_t mode) {
    return mode < kSortModeCount ? kSortMessages[mode] : "";
}

int CompareUtf16(std::string_view a, std::string_view b) {
    const size_t shared = std::min(a.size(), b.size());
    size_t first = 0;
    while (first < shared && a[first] == b[first]) {
        ++first;
    }
    if (first == shared) {
        if (a.size() == b.size()) {
            return 0;
        }
        return a.size() < b.size() ? -1 : 1;
    }
    const auto byteA = static_cast<unsigned char>(a[first]);
    const auto byteB = static_cast<unsigned char>(b[first]);
    if (byteA < 0x80 && byteB < 0x80) {
        return byteA < byteB ? -1 : 1;
    }
    size_t i = 0;
    size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const uint32_t keyA = Utf16OrderKey(platform::DecodeUtf8(a, i));
        const uint32_t keyB = Utf16OrderKey(platform::DecodeUtf8(b, j));
        if (keyA != keyB) {
            return keyA < keyB ? -1 : 1;
        }
    }
    if (i < a.size() || j < b.size()) {
        return i < a.size() ? 1 : -1;
    }
    return 0;
}

bool NaturalCompare(std::string_view pathA, std::string_view pathB) {
    const std::string_view a = ItemFileName(pathA);
    const std::string_view b = ItemFileName(pathB);
    size_t i = 0;
    size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            // Compared as numbers of any length: significant digits first by count, then by value.
            if (const int order = platform::CompareDigitRuns(a, i, b, j); order != 0) {
                return order < 0;
            }
            continue;
        }
        const uint32_t lowerA = Utf16OrderKey(platform::ToLowerChar(platform::DecodeUtf8(a, i)));
        const uint32_t lowerB = Utf16OrderKey(platform::ToLowerChar(platform::DecodeUtf8(b, j)));
        if (lowerA != lowerB) {
            return lowerA < lowerB;
        }
    }
    return Utf16Length(a) < Utf16Length(b);
}

void SortItemPaths(std::vector<ItemPath>& items, uint32_t mode) {
    // Page i of a document must stay at index i: page navigation and the page counter use the index.
    if (items.size() < 2 || AllPdfPages(items)) {
        return;
    }
    switch (mode) {
    case kSortByName:
        SortByNameTree(items, false);
        break;
    case kSortNatural:
        // Stable, so that names the comparison cannot tell apart keep their listing order; a merge sort
        // also stays within bounds for the few name sets on which this comparison is not transitive.
        std::stable_sort(items.begin(), items.end(),
                         [](const ItemPath& a, const ItemPath& b) { return NaturalCompare(a, b); });
        break;
    case kSortByNameReverse:
        SortByNameTree(items, true);
        break;
    case kSortByDate:
        SortByDate(items);
        break;
    default:
        break;
    }
}

void SortSourceList() {
    std::vector<ItemPath> items = CopySourceList();
    SortItemPaths(items, SortMode.load());
    ReplaceSourceList(std::move(items));
}

void SortCommand(uint32_t mode) {
    if (mode >= kSortModeCount) {
        return;
    }
    std::optional<ItemPath> current;
    std::vector<ItemPath> items;
    SourceListStore& list = SourceList();
    {
        std::lock_guard lock(list.mutex);
        const int32_t index = CurrentIndex.load();
        if (index >= 0 && static_cast<size_t>(index) < list.items.size()) {
            current = list.items[static_cast<size_t>(index)];
        }
        items = list.items;
    }
    SortMode.store(mode);
    SortItemPaths(items, mode);
    {
        // The new order and the index that follows the current image change together.
        std::lock_guard lock(list.mutex);
        list.items = std::move(items);
        if (current) {
            const auto found = std::find(list.items.begin(), list.items.end(), *current);
            if (found != list.items.end()) {
                CurrentIndex.store(static_cast<int32_t>(found - list.items.begin()));
            }
        }
    }
    const SourceHooks& hooks = Hooks();
    CallHook(hooks.clearCaches);
    CallHook(hooks.wakePrefetch);
    CallHook(hooks.showMessage, std::string(SortModeMessage(mode)), 1000);
    CallHook(hooks.repaint);
}

} // namespace sources
