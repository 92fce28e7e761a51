#include "sources/archive/archive_bridge.h"

#include "decode/format_registry.h"
#include "decode/wic_decoder.h"
#include "platform/trace.h"
#include "sources/archive/alz_egg_reader.h"
#include "sources/archive/archive_route.h"
#include "sources/archive/solid_window.h"
#include "sources/pdf/pdf_document.h"
#include "sources/sort_orders.h"
#include "sources/source_list.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>

namespace sources::archive {

namespace {

constexpr int kArchiveMessageMs = 1000;
constexpr const char* kLibraryMissingText = "7z.dll을 찾을 수 없습니다";
constexpr const char* kNoHandlerText = "아카이브 형식을 지원하지 않습니다";
constexpr const char* kCannotOpenText = "압축 파일을 열 수 없습니다";
constexpr const char* kCannotReadText = "아카이브를 읽을 수 없습니다";
constexpr const char* kNoImagesText = "아카이브에 이미지가 없습니다";

ArchiveHooks& MutableArchiveHooks() {
    static ArchiveHooks hooks;
    return hooks;
}

// The archive read through a library (7-Zip, or libarchive for RAR and compressed tar).
struct LibraryArchiveState {
    std::mutex extractionMutex; // taken before `mutex`; serialises extractions of non-solid archives
    std::mutex mutex;
    // Guarded by mutex:
    std::string path;
    std::vector<ArchiveEntry> entries;
    std::unordered_map<std::string, uint32_t> indexByName;
    std::unordered_map<uint32_t, uint64_t> sizeByIndex;
    std::shared_ptr<ArchiveBackend> backend;
    std::shared_ptr<SolidWindow> window; // set for solid archives: every extraction goes through it
};

// The archive read by the program's own ALZ or EGG reader.
struct ContainerState {
    std::mutex mutex;
    // Guarded by mutex:
    std::string path;
    std::vector<ArchiveEntry> entries;
    std::unique_ptr<ContainerReader> reader;
};

LibraryArchiveState& LibraryState() {
    static LibraryArchiveState state;
    return state;
}

ContainerState& AlzEggState() {
    static ContainerState state;
    return state;
}

void ShowArchiveMessage(const char* text) {
    CallHook(Hooks().showMessage, std::string(text), kArchiveMessageMs);
}

std::string FileNameOf(const std::string& name) {
    const size_t last = name.find_last_of("/\\");
    return last == std::string::npos ? name : name.substr(last + 1);
}

void SortEntries(std::vector<ArchiveEntry>& entries) {
    std::stable_sort(entries.begin(), entries.end(), [](const ArchiveEntry& a, const ArchiveEntry& b) {
        return NaturalCompare(a.fileName, b.fileName);
    });
}

void ResetLibraryState() {
    LibraryArchiveState& state = LibraryState();
    std::shared_ptr<SolidWindow> window;
    std::shared_ptr<ArchiveBackend> backend;
    {
        std::lock_guard lock(state.mutex);
        window = std::move(state.window);
        backend = std::move(state.backend);
        state.path.clear();
        state.entries.clear();
        state.indexByName.clear();
        state.sizeByIndex.clear();
    }
    // Outside the lock: stopping joins the extraction pass.
    if (window) {
        window->Stop();
    }
}

void ResetContainerState() {
    ContainerState& state = AlzEggState();
    std::unique_ptr<ContainerReader> reader;
    std::lock_guard lock(state.mutex);
    reader = std::move(state.reader);
    state.path.clear();
    state.entries.clear();
}

uint64_t WindowBudget() {
    const ArchiveHooks& hooks = MutableArchiveHooks();
    return hooks.solidWindowBytes ? std::max<uint64_t>(hooks.solidWindowBytes(), 1) : kDefaultWindowBytes;
}

// The library open: routes, opens, keeps the image entries. Shows the message of a failure.
bool OpenLibraryArchive(const std::string& path) {
    std::unique_ptr<ArchiveBackend> opened;
    switch (OpenArchiveBackend(path, opened)) {
    case BackendOpenResult::Opened:
        break;
    case BackendOpenResult::LibraryMissing:
        ShowArchiveMessage(kLibraryMissingText);
        return false;
    case BackendOpenResult::NoHandler:
        ShowArchiveMessage(kNoHandlerText);
        return false;
    case BackendOpenResult::CannotOpenFile:
        ShowArchiveMessage(kCannotOpenText);
        return false;
    case BackendOpenResult::CannotRead:
        ShowArchiveMessage(kCannotReadText);
        return false;
    }
    std::shared_ptr<ArchiveBackend> backend(std::move(opened));

    std::vector<ArchiveEntry> entries;
    for (const ListedItem& item : backend->Items()) {
        if (IsListedImage(item.name, item.isDirectory)) {
            entries.push_back({item.index, item.name, FileNameOf(item.name), item.size});
        }
    }
    SortEntries(entries);
    if (entries.empty()) {
        ShowArchiveMessage(kNoImagesText);
        return false;
    }

    std::shared_ptr<SolidWindow> window;
    if (backend->IsSolid()) {
        std::vector<ArchiveEntry> inArchiveOrder = entries;
        std::sort(inArchiveOrder.begin(), inArchiveOrder.end(),
                  [](const ArchiveEntry& a, const ArchiveEntry& b) { return a.entryIndex < b.entryIndex; });
        std::vector<uint32_t> order;
        std::vector<uint64_t> sizes;
        for (const ArchiveEntry& entry : inArchiveOrder) {
            order.push_back(entry.entryIndex);
            sizes.push_back(entry.size);
        }
        window = std::make_shared<SolidWindow>(backend, std::move(order), std::move(sizes), WindowBudget());
        platform::DebugTrace("[Archive] solid archive, extraction ahead for " + path + "\n");
    }

    ResetLibraryState();
    LibraryArchiveState& state = LibraryState();
    std::lock_guard lock(state.mutex);
    state.path = path;
    for (const ArchiveEntry& entry : entries) {
        state.indexByName.emplace(entry.entryName, entry.entryIndex);
        state.sizeByIndex.emplace(entry.entryIndex, entry.size);
    }
    state.entries = std::move(entries);
    state.backend = std::move(backend);
    state.window = std::move(window);
    return true;
}

bool OpenContainerArchive(const std::string& path, bool egg) {
    ResetLibraryState();
    ContainerState& state = AlzEggState();
    std::lock_guard lock(state.mutex);
    state.reader.reset();
    state.path.clear();
    state.entries.clear();
    std::unique_ptr<ContainerReader> reader = egg ? OpenEggReader(path) : OpenAlzReader(path);
    if (!reader) { // the EGG reader traces its own open outcome
        return false;
    }
    std::vector<ArchiveEntry> entries;
    const std::vector<EggEntry>& parsed = reader->Entries();
    for (size_t i = 0; i < parsed.size(); ++i) {
        if (IsListedImage(parsed[i].name, false)) {
            entries.push_back({static_cast<uint32_t>(i), parsed[i].name, FileNameOf(parsed[i].name),
                               parsed[i].uncompressedSize});
        }
    }
    SortEntries(entries);
    if (entries.empty()) {
        return false;
    }
    state.path = path;
    state.entries = std::move(entries);
    state.reader = std::move(reader);
    return true;
}

// The entry index for a name: the ALZ/EGG archive first, then the library archive.
bool FindEntryIndex(const std::string& archivePath, const std::string& entryName, uint32_t& index) {
    {
        ContainerState& state = AlzEggState();
        std::lock_guard lock(state.mutex);
        if (state.reader && archivePath == state.path) {
            for (const ArchiveEntry& entry : state.entries) {
                if (entry.entryName == entryName) {
                    index = entry.entryIndex;
                    return true;
                }
            }
            return false;
        }
    }
    LibraryArchiveState& state = LibraryState();
    std::lock_guard lock(state.mutex);
    if (archivePath != state.path) {
        return false;
    }
    const auto found = state.indexByName.find(entryName);
    if (found == state.indexByName.end()) {
        return false;
    }
    index = found->second;
    return true;
}

} // namespace

void SetArchiveHooks(ArchiveHooks hooks) {
    MutableArchiveHooks() = std::move(hooks);
}

bool IsListedImage(const std::string& name, bool isDirectory) {
    if (isDirectory || name.empty()) {
        return false;
    }
    const std::string ext = decode::GetLowerExtension(name);
    if (ext.empty() || !decode::IsImageExtension(ext)) {
        return false;
    }
    // macOS adds resource forks under "__MACOSX/" and "._" companions beside the files; they carry
    // an image's name but no image.
    const std::string fileName = FileNameOf(name);
    if (fileName.starts_with("._")) {
        return false;
    }
    const std::string_view path = name;
    return !(path.starts_with("__MACOSX/") || path.starts_with("__MACOSX\\") ||
             path.find("/__MACOSX/") != std::string_view::npos ||
             path.find("\\__MACOSX\\") != std::string_view::npos);
}

void CloseArchives() {
    ResetLibraryState();
    ResetContainerState();
}

void OpenArchive(const std::string& path, const std::string& entryToSelect) {
    const SourceHooks& hooks = Hooks();
    // A running extraction of the previous archive finishes first.
    { std::lock_guard wait(LibraryState().extractionMutex); }
    CallHook(hooks.cancelBatch);
    if (hooks.isWebtoonMode && hooks.isWebtoonMode()) {
        CallHook(hooks.leaveWebtoonMode);
    }
    // The page-mode PDF document (waiting for a running render) and the batch's document go with it.
    ClosePageDocument();
    CallHook(hooks.closeBatchDocument);
    PdfPageMode.store(false);
    PdfPageCount.store(0);
    CallHook(hooks.stopAnimation);
    ResetSource();
    CallHook(hooks.resetView);

    // The previous archive's handles and memory go before the next archive is read.
    CloseArchives();
    const std::string ext = decode::GetLowerExtension(path);
    bool opened = false;
    std::vector<ArchiveEntry> entries;
    if (ext == "egg" || ext == "alz") {
        opened = OpenContainerArchive(path, ext == "egg");
        if (opened) {
            ContainerState& state = AlzEggState();
            std::lock_guard lock(state.mutex);
            entries = state.entries;
        }
    } else {
        opened = OpenLibraryArchive(path);
        if (opened) {
            LibraryArchiveState& state = LibraryState();
            std::lock_guard lock(state.mutex);
            entries = state.entries;
        }
    }
    if (!opened) {
        return;
    }
    std::vector<ItemPath> items;
    items.reserve(entries.size());
    for (const ArchiveEntry& entry : entries) {
        items.push_back(path + std::string(kContainerSeparator) + entry.entryName);
    }
    SortItemPaths(items, SortMode.load());
    ReplaceSourceList(std::move(items));
    CurrentIndex.store(0);
    if (!entryToSelect.empty()) {
        SelectItem(entryToSelect, std::nullopt);
    }
    CallHook(hooks.requestLoad);
    CallHook(hooks.wakePrefetch);
}

bool ExtractArchiveEntry(const std::string& archivePath, uint32_t index, std::vector<uint8_t>& bytes) {
    bytes.clear();
    {
        ContainerState& state = AlzEggState();
        std::lock_guard lock(state.mutex);
        if (state.reader && archivePath == state.path) {
            if (index < state.reader->Entries().size() &&
                state.reader->Entries()[index].uncompressedSize > kMaxArchiveEntryBytes) {
                return false;
            }
            return state.reader->ExtractEntry(index, bytes) && !bytes.empty();
        }
    }
    LibraryArchiveState& state = LibraryState();
    std::shared_ptr<SolidWindow> window;
    {
        std::lock_guard lock(state.mutex);
        if (archivePath != state.path || !state.backend) {
            return false;
        }
        window = state.window;
    }
    if (window) {
        // Solid: served by the pass running ahead, with no extraction lock (the pass is the only
        // reader of the archive).
        return window->Get(index, bytes) && !bytes.empty();
    }
    std::lock_guard extraction(state.extractionMutex);
    std::shared_ptr<ArchiveBackend> backend;
    uint64_t size = 0;
    {
        std::lock_guard lock(state.mutex);
        if (archivePath != state.path || !state.backend) {
            return false;
        }
        backend = state.backend;
        if (const auto found = state.sizeByIndex.find(index); found != state.sizeByIndex.end()) {
            size = found->second;
        }
    }
    return backend->ExtractItem(index, size, bytes);
}

bool ExtractArchiveEntryByName(const std::string& archivePath, const std::string& entryName,
                               std::vector<uint8_t>& bytes) {
    uint32_t index = 0;
    return FindEntryIndex(archivePath, entryName, index) && ExtractArchiveEntry(archivePath, index, bytes);
}

bool DecodeArchiveEntry(const std::string& itemPath, uint32_t maxWidth, uint32_t maxHeight, bool highQuality,
                        decode::DecodedImage& image) {
    const SplitPath split = SplitItemPath(itemPath);
    if (!split.hasEntry) {
        return false;
    }
    const std::string archivePath(split.container);
    const std::string entryName(split.entry);
    std::vector<uint8_t> bytes;
    if (!ExtractArchiveEntryByName(archivePath, entryName, bytes)) {
        return false;
    }
    std::unique_ptr<decode::IDecoder> decoder = decode::CreateDecoder(entryName);
    bool loaded = decoder->LoadFromMemory(bytes.data(), bytes.size(), maxWidth, maxHeight, highQuality);
    if (!loaded) {
        decoder = std::make_unique<decode::WicDecoder>();
        loaded = decoder->LoadFromMemory(bytes.data(), bytes.size(), maxWidth, maxHeight, highQuality);
    }
    decode::DecodedImage decoded;
    if (!loaded || !decode::CopyOutDecoder(*decoder, decoded)) {
        return false;
    }
    const ArchiveHooks& hooks = MutableArchiveHooks();
    decoded.orientation =
        hooks.readExifOrientation ? hooks.readExifOrientation(bytes.data(), bytes.size()) : 1;
    if (!decode::IsValidImage(decoded)) {
        return false;
    }
    image = std::move(decoded);
    return true;
}

std::vector<ArchiveEntry> OpenArchiveEntries() {
    {
        ContainerState& state = AlzEggState();
        std::lock_guard lock(state.mutex);
        if (state.reader) {
            return state.entries;
        }
    }
    LibraryArchiveState& state = LibraryState();
    std::lock_guard lock(state.mutex);
    return state.entries;
}

uint32_t SolidPassesStarted() {
    LibraryArchiveState& state = LibraryState();
    std::shared_ptr<SolidWindow> window;
    {
        std::lock_guard lock(state.mutex);
        window = state.window;
    }
    return window ? window->PassesStarted() : 0;
}

} // namespace sources::archive
