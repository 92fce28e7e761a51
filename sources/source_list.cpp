#include "sources/source_list.h"

#include "decode/format_registry.h"
#include "sources/pdf/pdf_document.h"
#include "sources/sort_orders.h"

#include <dirent.h>
#include <memory>
#include <sys/stat.h>

namespace sources {

namespace {

SourceHooks& MutableHooks() {
    static SourceHooks hooks;
    return hooks;
}

struct DirectoryCloser {
    void operator()(DIR* directory) const { ::closedir(directory); }
};

// Whether a directory entry can be an item: a regular file, or a link to one. Folders are skipped, and
// so are pipes, sockets and devices, which could block a reader forever. A dangling link is listed like
// a file (it then fails to load like any unreadable file).
bool IsListableFile(const std::string& folder, const dirent& entry) {
    if (entry.d_type == DT_REG) {
        return true;
    }
    if (entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN) {
        return false;
    }
    struct stat info {};
    const std::string full = (folder == "/" ? std::string() : folder) + "/" + entry.d_name;
    if (::stat(full.c_str(), &info) != 0) {
        return entry.d_type == DT_LNK;
    }
    return S_ISREG(info.st_mode);
}

// The folder a path names, without trailing "/" ("" for the root), or nothing when it names no
// folder. Links to folders count as folders.
std::optional<std::string> FolderNamedBy(const std::string& path) {
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return std::nullopt;
    }
    std::string folder = path;
    while (!folder.empty() && folder.back() == '/') {
        folder.pop_back();
    }
    return folder;
}

} // namespace

SplitPath SplitItemPath(std::string_view path) {
    const size_t separator = path.find(kContainerSeparator);
    if (separator == std::string_view::npos) {
        return {path, {}, false};
    }
    return {path.substr(0, separator), path.substr(separator + kContainerSeparator.size()), true};
}

bool IsContainerItem(std::string_view path) {
    return path.find(kContainerSeparator) != std::string_view::npos;
}

bool IsPdfPagePath(std::string_view path) {
    const SplitPath split = SplitItemPath(path);
    return split.hasEntry && decode::IsPdfExtension(decode::GetLowerExtension(split.container));
}

bool IsArchiveEntryPath(std::string_view path) {
    return IsContainerItem(path) && !IsPdfPagePath(path);
}

std::string_view ItemFileName(std::string_view path) {
    const SplitPath split = SplitItemPath(path);
    if (split.hasEntry) {
        const size_t last = split.entry.find_last_of("/\\");
        return last == std::string_view::npos ? split.entry : split.entry.substr(last + 1);
    }
    const size_t last = path.rfind('/');
    return last == std::string_view::npos ? path : path.substr(last + 1);
}

SourceListStore& SourceList() {
    static SourceListStore store;
    return store;
}

ItemPath CopyItemPath(int32_t index) {
    SourceListStore& list = SourceList();
    std::lock_guard lock(list.mutex);
    if (index < 0 || static_cast<size_t>(index) >= list.items.size()) {
        return {};
    }
    return list.items[static_cast<size_t>(index)];
}

size_t SourceListCount() {
    SourceListStore& list = SourceList();
    std::lock_guard lock(list.mutex);
    return list.items.size();
}

std::vector<ItemPath> CopySourceList() {
    SourceListStore& list = SourceList();
    std::lock_guard lock(list.mutex);
    return list.items;
}

CurrentItem SnapshotCurrentItem() {
    SourceListStore& list = SourceList();
    std::lock_guard lock(list.mutex);
    CurrentItem current;
    current.index = CurrentIndex.load();
    current.count = list.items.size();
    if (current.index >= 0 && static_cast<size_t>(current.index) < current.count) {
        current.path = list.items[static_cast<size_t>(current.index)];
    }
    return current;
}

void SetSourceHooks(SourceHooks hooks) {
    MutableHooks() = std::move(hooks);
}

const SourceHooks& Hooks() {
    return MutableHooks();
}

void ResetSource() {
    {
        SourceListStore& list = SourceList();
        std::lock_guard lock(list.mutex);
        list.items.clear();
        CurrentIndex.store(-1);
    }
    CallHook(Hooks().clearCaches);
    CallHook(Hooks().clearCurrentImage);
}

void ReplaceSourceList(std::vector<ItemPath> items) {
    SourceListStore& list = SourceList();
    std::lock_guard lock(list.mutex);
    list.items = std::move(items);
}

bool SelectItem(std::string_view path, std::optional<int32_t> fallback) {
    SourceListStore& list = SourceList();
    std::lock_guard lock(list.mutex);
    for (size_t i = 0; i < list.items.size(); ++i) {
        if (list.items[i] == path) {
            CurrentIndex.store(static_cast<int32_t>(i));
            return true;
        }
    }
    if (fallback) {
        CurrentIndex.store(*fallback);
    }
    return false;
}

std::optional<std::vector<std::string>>
ListFolderFiles(const std::string& folder, const std::function<bool(const std::string& ext)>& keep) {
    const std::string enumerated = folder.empty() ? std::string("/") : folder;
    const std::unique_ptr<DIR, DirectoryCloser> directory(::opendir(enumerated.c_str()));
    if (!directory) {
        return std::nullopt;
    }
    std::vector<std::string> files;
    while (const dirent* entry = ::readdir(directory.get())) {
        const std::string_view name = entry->d_name;
        const std::string ext = decode::GetLowerExtension(name);
        if (ext.empty() || !keep(ext) || !IsListableFile(enumerated, *entry)) {
            continue;
        }
        std::string file;
        file.reserve(folder.size() + 1 + name.size());
        file.append(folder).append("/").append(name);
        files.push_back(std::move(file));
    }
    return files;
}

std::optional<std::vector<ItemPath>> ListImageFolder(const std::string& folder) {
    return ListFolderFiles(folder, [](const std::string& ext) { return decode::IsImageExtension(ext); });
}

void OpenPath(const std::string& path) {
    const SourceHooks& hooks = Hooks();
    const std::optional<std::string> folderPath = FolderNamedBy(path);
    const std::string ext = folderPath ? std::string() : decode::GetLowerExtension(path);
    if (decode::IsArchiveExtension(ext)) {
        CallHook(hooks.openArchive, path, std::string());
        return;
    }
    if (decode::IsPdfExtension(ext)) {
        CallHook(hooks.openPdfDocument, path);
        return;
    }

    CallHook(hooks.closeArchives);
    ClosePageDocument(); // the previous PDF document's bytes are not kept behind a folder
    if (hooks.isWebtoonMode && hooks.isWebtoonMode()) {
        CallHook(hooks.cancelBatch);
        CallHook(hooks.closeBatchDocument);
        CallHook(hooks.leaveWebtoonMode);
    }
    PdfPageMode.store(false);
    PdfPageCount.store(0);
    CallHook(hooks.stopWelcomeScreen);
    CallHook(hooks.stopAnimation);

    // A backslash is part of a file name here; only "/" separates folders. A folder opens at its first
    // image in the sort order.
    const size_t separator = path.rfind('/');
    if (!folderPath && separator == std::string::npos) {
        return;
    }
    const std::string folder = folderPath ? *folderPath : path.substr(0, separator);

    ResetSource();
    // The folder is read with no lock held; the list is empty and nothing is current meanwhile.
    std::optional<std::vector<ItemPath>> items = ListImageFolder(folder);
    if (!items) {
        return;
    }
    // Sorted before it is installed: a loader thread holding an index from before the reset must not
    // copy an item of the unsorted listing, which that index will not name once the list is sorted.
    SortItemPaths(*items, SortMode.load());
    ReplaceSourceList(std::move(*items));
    SelectItem(folderPath ? std::string_view() : std::string_view(path), 0);

    CallHook(hooks.resetView);
    CallHook(hooks.cancelBatch);
    CallHook(hooks.closeBatchDocument);
    CallHook(hooks.requestLoad);
    CallHook(hooks.wakePrefetch);
}

} // namespace sources
