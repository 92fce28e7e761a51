#include "app/hook_wiring.h"

#include "info/exif_orientation.h"
#include "loader/image_cache.h"
#include "loader/loader_threads.h"
#include "platform/memory.h"
#include "sources/archive/archive_bridge.h"
#include "sources/pdf/pdf_document.h"
#include "sources/source_list.h"

#include <utility>

namespace app {

namespace {

// Extraction ahead in solid archives holds encoded pages, a small fraction of what their decoded
// images take: a quarter of the cache's budget.
uint64_t SolidWindowBytes() {
    return loader::CacheMemoryBudget(platform::AvailablePhysicalMemory()) / 4;
}

} // namespace

void InstallLoaderHooks() {
    sources::archive::ArchiveHooks archiveHooks;
    archiveHooks.readExifOrientation = [](const uint8_t* bytes, size_t size) {
        return info::ReadExifOrientation(bytes, size);
    };
    archiveHooks.solidWindowBytes = SolidWindowBytes;
    sources::archive::SetArchiveHooks(std::move(archiveHooks));

    loader::LoaderHooks hooks;
    // PDF pages: the open page document fitted to the screen; the batch's own document at the strip width.
    hooks.renderPdfPage = sources::RenderPdfPage;
    hooks.batchDocumentPages = sources::BatchDocumentPages;
    hooks.renderBatchPage = sources::RenderBatchPage;
    hooks.decodeArchiveEntry = sources::archive::DecodeArchiveEntry;
    hooks.extractArchiveEntry = sources::archive::ExtractArchiveEntryByName;
    loader::SetLoaderHooks(std::move(hooks));
}

void ConnectContainerHooks(sources::SourceHooks& hooks) {
    hooks.openPdfDocument = sources::OpenPdfDocument;
    hooks.closeBatchDocument = sources::CloseBatchDocument;
    hooks.goToPage = sources::GoToPage;
    hooks.openArchive = sources::archive::OpenArchive;
    hooks.closeArchives = sources::archive::CloseArchives;
}

} // namespace app
