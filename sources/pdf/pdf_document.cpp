#include "sources/pdf/pdf_document.h"

#include "decode/format_registry.h"
#include "platform/files.h"
#include "sources/source_list.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace sources {

namespace {

using DocumentReference = std::shared_ptr<decode::PdfDocument>;

constexpr int kPageMessageMs = 800;

struct PageDocumentStore {
    std::mutex mutex;
    std::string path;           // guarded by mutex
    DocumentReference document; // guarded by mutex; null while closed
};

struct BatchDocumentStore {
    std::mutex mutex;
    DocumentReference document; // guarded by mutex; null while closed
};

// Both stores live until the process ends (never destroyed at exit, when the threads' MuPDF contexts
// may already be gone).
PageDocumentStore& PageDocument() {
    static PageDocumentStore* const store = new PageDocumentStore;
    return *store;
}

BatchDocumentStore& BatchDocument() {
    static BatchDocumentStore* const store = new BatchDocumentStore;
    return *store;
}

// Lets go of a document once no render runs in it. A render that took its reference earlier keeps the
// document alive until it ends and frees it then.
void ReleaseWhenIdle(DocumentReference document) {
    if (!document) {
        return;
    }
    { std::lock_guard idle(document->Mutex()); }
    document.reset();
}

DocumentReference OpenDocument(std::vector<uint8_t> bytes) {
    std::unique_ptr<decode::PdfDocument> document = decode::PdfDocument::Open(std::move(bytes));
    if (!document || document->PageCount() < 1) {
        return nullptr;
    }
    return DocumentReference(std::move(document));
}

DocumentReference OpenDocumentFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (!platform::ReadWholeFile(path, bytes, decode::kMaxPdfFileBytes)) {
        return nullptr;
    }
    return OpenDocument(std::move(bytes));
}

DocumentReference PageDocumentReference() {
    std::lock_guard lock(PageDocument().mutex);
    return PageDocument().document;
}

DocumentReference BatchDocumentReference() {
    std::lock_guard lock(BatchDocument().mutex);
    return BatchDocument().document;
}

void StorePageDocument(const std::string& path, DocumentReference document) {
    DocumentReference previous;
    {
        std::lock_guard lock(PageDocument().mutex);
        previous = std::exchange(PageDocument().document, std::move(document));
        PageDocument().path = path;
    }
    ReleaseWhenIdle(std::move(previous));
}

void StoreBatchDocument(DocumentReference document) {
    DocumentReference previous;
    {
        std::lock_guard lock(BatchDocument().mutex);
        previous = std::exchange(BatchDocument().document, std::move(document));
    }
    ReleaseWhenIdle(std::move(previous));
}

bool IsPdfFile(std::string_view path) {
    return !IsContainerItem(path) && decode::IsPdfExtension(decode::GetLowerExtension(path));
}

} // namespace

bool ParsePdfPagePath(std::string_view path, std::string& documentPath, int32_t& page) {
    const SplitPath split = SplitItemPath(path);
    if (!split.hasEntry) {
        return false;
    }
    const std::string number(split.entry);
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(number.c_str(), &end, 10);
    if (end == number.c_str() || errno == ERANGE || value < std::numeric_limits<int32_t>::min() ||
        value > std::numeric_limits<int32_t>::max()) {
        return false;
    }
    documentPath.assign(split.container);
    page = static_cast<int32_t>(value);
    return true;
}

PixelSize FitPageToScreen(double pageWidth, double pageHeight, uint32_t screenWidth, uint32_t screenHeight) {
    if (!(pageWidth > 0) || !(pageHeight > 0)) {
        return {};
    }
    if (screenWidth == 0 || screenHeight == 0) {
        return {decode::TruncatePdfPixels(pageWidth), decode::TruncatePdfPixels(pageHeight)};
    }
    const double scale = std::min(screenWidth / pageWidth, screenHeight / pageHeight);
    return {decode::TruncatePdfPixels(scale * pageWidth), decode::TruncatePdfPixels(scale * pageHeight)};
}

uint64_t PageHeightAtWidth(double pageWidth, double pageHeight, uint32_t width) {
    if (!(pageWidth > 0) || !(pageHeight > 0)) {
        return 0;
    }
    return decode::TruncatePdfPixels(width / pageWidth * pageHeight + 0.5);
}

void OpenPdfDocument(const std::string& path) {
    const SourceHooks& hooks = Hooks();
    CallHook(hooks.cancelBatch);
    CallHook(hooks.leaveWebtoonMode);
    CallHook(hooks.closeArchives);
    ClosePageDocument();
    PdfPageMode.store(false);
    PdfPageCount.store(0);
    CloseBatchDocument();
    CallHook(hooks.stopAnimation);
    ResetSource();
    CallHook(hooks.resetView);

    DocumentReference document = OpenDocumentFile(path);
    if (!document) {
        return;
    }
    const int32_t pages = document->PageCount();
    StorePageDocument(path, std::move(document));

    std::vector<ItemPath> items;
    items.reserve(static_cast<size_t>(pages));
    for (int32_t page = 0; page < pages; ++page) {
        items.push_back(path + std::string(kContainerSeparator) + std::to_string(page));
    }
    {
        SourceListStore& list = SourceList();
        std::lock_guard lock(list.mutex);
        list.items = std::move(items);
        CurrentIndex.store(0);
    }
    PdfPageMode.store(true);
    PdfPageCount.store(pages);
    CallHook(hooks.requestLoad);
    CallHook(hooks.wakePrefetch);
}

void ClosePageDocument() {
    StorePageDocument(std::string(), nullptr);
}

bool RenderPdfPage(const std::string& path, uint32_t screenWidth, uint32_t screenHeight,
                   decode::DecodedImage& image) {
    std::string documentPath;
    int32_t pageIndex = 0;
    if (!ParsePdfPagePath(path, documentPath, pageIndex)) {
        return false;
    }
    DocumentReference document;
    {
        std::lock_guard lock(PageDocument().mutex);
        if (!PageDocument().document || PageDocument().path != documentPath) {
            return false;
        }
        document = PageDocument().document;
    }
    std::lock_guard render(document->Mutex());
    const std::unique_ptr<decode::PdfPage> page = document->LoadPage(pageIndex);
    if (!page) {
        return false;
    }
    const PixelSize size = FitPageToScreen(page->Width(), page->Height(), screenWidth, screenHeight);
    return decode::PdfRenderSizeAllowed(size.width, size.height) &&
           page->Render(static_cast<uint32_t>(size.width), static_cast<uint32_t>(size.height), image);
}

bool RenderPdfPageAtWidth(decode::PdfDocument& document, int32_t page, int32_t width,
                          decode::DecodedImage& image) {
    if (width < 1) {
        return false;
    }
    const std::unique_ptr<decode::PdfPage> loaded = document.LoadPage(page);
    if (!loaded) {
        return false;
    }
    const uint64_t height =
        PageHeightAtWidth(loaded->Width(), loaded->Height(), static_cast<uint32_t>(width));
    return decode::PdfRenderSizeAllowed(static_cast<uint64_t>(width), height) &&
           loaded->Render(static_cast<uint32_t>(width), static_cast<uint32_t>(height), image);
}

void GoToPage(int32_t page) {
    const int32_t count = PdfPageCount.load();
    if (!PdfPageMode.load() || count < 1) {
        return;
    }
    const int32_t target = std::clamp(page, 0, count - 1);
    {
        SourceListStore& list = SourceList();
        std::lock_guard lock(list.mutex);
        const int32_t current = CurrentIndex.load();
        if (target == current) {
            return;
        }
        NavigationDirection.store(target > current ? +1 : -1);
        CurrentIndex.store(target);
    }
    const SourceHooks& hooks = Hooks();
    CallHook(hooks.requestLoad);
    CallHook(hooks.wakePrefetch);
    CallHook(hooks.updateWindowTitle);
    CallHook(hooks.showMessage, std::to_string(target + 1) + " / " + std::to_string(count) + " 페이지",
             kPageMessageMs);
    CallHook(hooks.repaint);
}

void PrepareBatchDocument() {
    const ItemPath current = CopyItemPath(CurrentIndex.load());
    if (current.empty()) {
        return;
    }
    DocumentReference opened;
    if (IsPdfPagePath(current)) {
        // The page document's bytes never change while it is open, so they are copied without its lock.
        if (const DocumentReference pageDocument = PageDocumentReference()) {
            opened = OpenDocument(pageDocument->Bytes());
        }
    } else if (IsPdfFile(current)) {
        opened = OpenDocumentFile(current);
    }
    if (opened) {
        StoreBatchDocument(std::move(opened));
    }
}

void PreparePageDocument() {
    const ItemPath current = CopyItemPath(CurrentIndex.load());
    if (IsPdfPagePath(current) || IsPdfFile(current)) {
        const std::string documentPath(SplitItemPath(current).container);
        if (!PageDocumentReference()) {
            const DocumentReference batch = BatchDocumentReference();
            DocumentReference rebuilt = batch && !batch->Bytes().empty() ? OpenDocument(batch->Bytes())
                                                                         : OpenDocumentFile(documentPath);
            if (rebuilt) {
                StorePageDocument(documentPath, std::move(rebuilt));
            }
        }
    }
    CloseBatchDocument();
}

void CloseBatchDocument() {
    StoreBatchDocument(nullptr);
}

int32_t BatchDocumentPages() {
    const DocumentReference document = BatchDocumentReference();
    return document ? document->PageCount() : -1;
}

bool RenderBatchPage(int32_t page, int32_t width, decode::DecodedImage& image) {
    const DocumentReference document = BatchDocumentReference();
    if (!document) {
        return false;
    }
    std::lock_guard render(document->Mutex());
    return RenderPdfPageAtWidth(*document, page, width, image);
}

} // namespace sources
