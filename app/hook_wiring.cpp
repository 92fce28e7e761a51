#include "app/hook_wiring.h"

#include "loader/loader_threads.h"
#include "sources/pdf/pdf_document.h"
#include "sources/source_list.h"

#include <utility>

namespace app {

void InstallLoaderHooks() {
    loader::LoaderHooks hooks;
    // PDF pages: the open page document fitted to the screen; the batch's own document at the strip width.
    hooks.renderPdfPage = sources::RenderPdfPage;
    hooks.batchDocumentPages = sources::BatchDocumentPages;
    hooks.renderBatchPage = sources::RenderBatchPage;
    loader::SetLoaderHooks(std::move(hooks));
}

void ConnectContainerHooks(sources::SourceHooks& hooks) {
    hooks.openPdfDocument = sources::OpenPdfDocument;
    hooks.closeBatchDocument = sources::CloseBatchDocument;
    hooks.goToPage = sources::GoToPage;
}

} // namespace app
