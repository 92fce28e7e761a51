#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The ordered list of items of the current source (a folder, an archive or a PDF document) and the
// position in it. Every other subsystem addresses images by their index in this list.
namespace sources {

// One item of the list, in one of three forms:
//   plain file     folder + "/" + file name (a backslash is an ordinary file-name character)
//   archive entry  archive path + "::" + entry name exactly as the archive stores it
//   PDF page       PDF path + "::" + page index in decimal, from 0
// The first "::" splits container and entry; a path without "::" is a plain file.
using ItemPath = std::string;

inline constexpr std::string_view kContainerSeparator = "::";

struct SplitPath {
    std::string_view container; // the whole path for a plain file
    std::string_view entry;     // empty for a plain file
    bool hasEntry = false;
};

SplitPath SplitItemPath(std::string_view path);

// True when the path names something inside a container (an archive entry or a PDF page).
bool IsContainerItem(std::string_view path);
// An archive entry: "::" with a container whose extension is not a PDF extension.
bool IsArchiveEntryPath(std::string_view path);
// A PDF page: "::" with a container that has a PDF extension.
bool IsPdfPagePath(std::string_view path);

// The name an item is known by: the text after the last "/" of a plain path; for an entry, the text
// after the last "/" or "\" of the entry name (archives store either separator).
std::string_view ItemFileName(std::string_view path);

// The process-wide list. Written only by the UI thread; every thread reads it under `mutex` and copies
// out what it needs, never decoding or touching the disk while holding it.
struct SourceListStore {
    std::mutex mutex;
    std::vector<ItemPath> items; // guarded by mutex
};

SourceListStore& SourceList();

// Position the user looks at; -1 while nothing is selected. Written by the UI thread under the list
// lock; read by the loader threads without it, which compare their snapshot after each slow step.
inline std::atomic<int32_t> CurrentIndex{-1};
// Direction of the last move, +1 or -1; orders the prefetch.
inline std::atomic<int32_t> NavigationDirection{1};
// A page turn waits for its first image: set by the step commands, cleared by the UI thread when an
// image, or the news that none can be shown, arrives for the item that is still current (so a result
// of an item the user has left never lets a second turn slip through).
inline std::atomic<bool> NavigationPending{false};
// Order applied after every listing (see sort_orders.h); not persisted.
inline std::atomic<uint32_t> SortMode{0};
// The list holds the pages of a PDF document shown page by page, with its page count.
inline std::atomic<bool> PdfPageMode{false};
inline std::atomic<int32_t> PdfPageCount{0};

// Locked helpers for readers on any thread.
ItemPath CopyItemPath(int32_t index); // empty when the index is outside the list
size_t SourceListCount();
std::vector<ItemPath> CopySourceList();

struct CurrentItem {
    int32_t index = -1;
    size_t count = 0;
    ItemPath path; // empty when the index is outside the list
};
// Index, count and path read together under one lock (window title, information panel).
CurrentItem SnapshotCurrentItem();

enum class StripEnd { Top, Bottom };

// Calls from this subsystem into the loader, the view and the window, which sit above it. The
// application installs them once at start-up on the UI thread; an unset hook does nothing (and a hook
// that answers a value answers false or 0).
struct SourceHooks {
    // Containers, built by the archive bridge and the PDF module.
    std::function<void(const std::string& path, const std::string& entryToSelect)> openArchive;
    std::function<void(const std::string& path)> openPdfDocument;
    std::function<void()> closeArchives;      // reset the 7-Zip and ALZ/EGG archive states
    std::function<void()> closeBatchDocument; // the webtoon batch's own PDF document
    std::function<void(int32_t page)> goToPage;

    // Loader.
    std::function<void()> requestLoad;
    std::function<void()> wakePrefetch;
    std::function<void()> cancelBatch;
    std::function<void()> clearCaches;       // ImageCache and PreviewCache (keyed by list index)
    std::function<void()> clearCurrentImage; // CurrentImageSlot emptied, IsPreviewShown false

    // View and window.
    std::function<bool()> isDualView;
    std::function<bool()> isWebtoonMode;
    std::function<void()> leaveWebtoonMode; // clear the strip and switch the layout off
    std::function<int32_t()> webtoonStripCount;
    std::function<void(int32_t index)> scrollStripToImage;
    std::function<void(StripEnd end)> scrollStripToEnd; // also takes CurrentIndex from the scroll
    std::function<void()> resetView;                    // zoom 1.0, pan 0
    std::function<void()> stopWelcomeScreen;
    std::function<void()> stopAnimation; // animation timer killed, frames released
    std::function<void()> updateWindowTitle;
    std::function<void()> repaint;
    std::function<void(const std::string& text, int milliseconds)> showMessage;
};

// Replaces every hook at once. UI thread only, before the hooks are used.
void SetSourceHooks(SourceHooks hooks);
const SourceHooks& Hooks();

// Runs a hook when it is set.
template <typename Hook, typename... Args> void CallHook(const Hook& hook, Args&&... args) {
    if (hook) {
        hook(std::forward<Args>(args)...);
    }
}

// Source reset shared by every open: the list emptied, no current item, caches and current image
// dropped.
void ResetSource();

// Installs a freshly built list (already sorted as wanted); CurrentIndex is left as it is.
void ReplaceSourceList(std::vector<ItemPath> items);

// CurrentIndex becomes the index of the first item equal to `path` (exact byte comparison); when none
// matches, `fallback` is used, or the index stays as it is when `fallback` is empty. Returns whether an
// item matched.
bool SelectItem(std::string_view path, std::optional<int32_t> fallback);

// The files of one folder ("" is the root) whose lower-cased, non-empty extension `keep` accepts, as
// folder + "/" + name, unsorted. Only regular files and links to them (or to nothing) are listed, hidden
// ones included; folders, pipes, sockets and devices are not. Nothing when the folder cannot be read.
std::optional<std::vector<std::string>>
ListFolderFiles(const std::string& folder, const std::function<bool(const std::string& ext)>& keep);

// The image files of one folder (by extension), unsorted and not recursive, as ListFolderFiles gives them.
std::optional<std::vector<ItemPath>> ListImageFolder(const std::string& folder);

// Opens whatever `path` names: a folder (with or without a trailing "/") becomes the list with its first
// image current; otherwise by the extension an archive, a PDF document, or an image whose folder
// becomes the list (sorted by SortMode, the opened image current). UI thread only.
void OpenPath(const std::string& path);

} // namespace sources
