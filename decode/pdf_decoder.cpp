#include "decode/pdf_decoder.h"

#include "platform/files.h"
#include "platform/trace.h"

#include <mupdf/fitz.h>
#include <mupdf/pdf.h>

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <new>

namespace decode {

namespace {

// Every page object needs at least this many bytes of the file; a page count above size / this is a lie.
constexpr uint64_t kMinBytesPerPage = 16;

std::array<std::mutex, FZ_LOCK_MAX>& LockTable() {
    static std::array<std::mutex, FZ_LOCK_MAX> mutexes;
    return mutexes;
}

void LockMuPdf(void*, int lock) {
    LockTable()[static_cast<size_t>(lock)].lock();
}

void UnlockMuPdf(void*, int lock) {
    LockTable()[static_cast<size_t>(lock)].unlock();
}

// MuPDF's own complaints about damaged files belong in the developer trace, not on stderr.
void TraceMuPdfMessage(void*, const char* message) {
    platform::DebugTrace(std::string("[PDF] mupdf: ") + message);
}

// The base context, made once and kept for the process's life (clones share its store and caches).
fz_context* BaseContext() {
    static fz_context* const base = [] {
        static fz_locks_context locks{nullptr, LockMuPdf, UnlockMuPdf};
        fz_context* context = fz_new_context(nullptr, &locks, FZ_STORE_DEFAULT);
        if (context != nullptr) {
            fz_set_error_callback(context, TraceMuPdfMessage, nullptr);
            fz_set_warning_callback(context, TraceMuPdfMessage, nullptr);
        }
        return context;
    }();
    return base;
}

struct ThreadContextHolder {
    fz_context* context = nullptr;
    ~ThreadContextHolder() {
        if (context != nullptr) {
            fz_drop_context(context);
        }
    }
};

// The calling thread's clone of the base context; null when MuPDF could not make one.
fz_context* ThreadContext() {
    thread_local ThreadContextHolder holder;
    if (holder.context == nullptr) {
        if (fz_context* base = BaseContext()) {
            holder.context = fz_clone_context(base);
            if (holder.context != nullptr) {
                fz_set_error_callback(holder.context, TraceMuPdfMessage, nullptr);
                fz_set_warning_callback(holder.context, TraceMuPdfMessage, nullptr);
            }
        }
    }
    return holder.context;
}

// The MuPDF calls live in these small functions: fz_try unwinds with longjmp, which must not cross a
// frame that owns C++ objects.
fz_document* OpenMuPdfDocument(fz_context* context, const uint8_t* bytes, size_t size, PdfOpenError* error,
                               int* pages) {
    fz_stream* volatile stream = nullptr;
    pdf_document* volatile document = nullptr;
    volatile PdfOpenError reason = PdfOpenError::Format;
    fz_try(context) {
        stream = fz_open_memory(context, bytes, size);
        document = pdf_open_document_with_stream(context, stream);
        if (pdf_needs_password(context, document)) {
            reason = PdfOpenError::Password;
            fz_throw(context, FZ_ERROR_GENERIC, "the document needs a password");
        }
        *pages = pdf_count_pages(context, document);
    }
    fz_always(context) {
        fz_drop_stream(context, stream);
    }
    fz_catch(context) {
        fz_drop_document(context, document != nullptr ? &document->super : nullptr);
        *error = reason;
        return nullptr;
    }
    return &document->super;
}

fz_page* LoadMuPdfPage(fz_context* context, fz_document* document, int index, fz_rect* bounds) {
    fz_page* volatile page = nullptr;
    fz_try(context) {
        page = fz_load_page(context, document, index);
        *bounds = fz_bound_page(context, page);
    }
    fz_catch(context) {
        fz_drop_page(context, page);
        return nullptr;
    }
    return page;
}

bool RenderMuPdfPage(fz_context* context, fz_page* page, fz_matrix transform, int width, int height,
                     uint8_t* samples) {
    fz_pixmap* volatile pixmap = nullptr;
    fz_device* volatile device = nullptr;
    volatile bool rendered = false;
    fz_try(context) {
        pixmap = fz_new_pixmap_with_data(context, fz_device_bgr(context), width, height, nullptr, 1,
                                         width * 4, samples);
        fz_clear_pixmap_with_value(context, pixmap, 0xFF);
        device = fz_new_draw_device(context, fz_identity, pixmap);
        fz_run_page(context, page, device, transform, nullptr);
        fz_close_device(context, device);
        rendered = true;
    }
    fz_always(context) {
        fz_drop_device(context, device);
        fz_drop_pixmap(context, pixmap);
    }
    fz_catch(context) {
        return false;
    }
    return rendered;
}

void Trace(const char* text) {
    platform::DebugTrace(text);
}

} // namespace

uint64_t TruncatePdfPixels(double value) {
    if (!(value > 0)) {
        return 0;
    }
    if (value >= static_cast<double>(UINT32_MAX)) {
        return UINT32_MAX;
    }
    return static_cast<uint64_t>(value + 1e-7);
}

bool PdfRenderSizeAllowed(uint64_t width, uint64_t height) {
    return width >= 1 && height >= 1 && width <= kMaxPdfRenderSide && height <= kMaxPdfRenderSide &&
           width * height <= kMaxPdfRenderPixels;
}

std::unique_ptr<PdfDocument> PdfDocument::Open(std::vector<uint8_t> bytes, PdfOpenError* error) {
    PdfOpenError ignored = PdfOpenError::None;
    PdfOpenError& reason = error != nullptr ? *error : ignored;
    reason = PdfOpenError::Format;
    fz_context* context = ThreadContext();
    if (context == nullptr || bytes.empty()) {
        return nullptr;
    }
    std::unique_ptr<PdfDocument> result(new PdfDocument());
    result->bytes = std::move(bytes);
    int pages = 0;
    result->document =
        OpenMuPdfDocument(context, result->bytes.data(), result->bytes.size(), &reason, &pages);
    if (result->document == nullptr) {
        return nullptr;
    }
    const uint64_t plausible =
        std::min<uint64_t>(kMaxPdfPages, std::max<uint64_t>(1, result->bytes.size() / kMinBytesPerPage));
    result->pageCount = static_cast<int32_t>(std::clamp<int64_t>(pages, 0, static_cast<int64_t>(plausible)));
    reason = PdfOpenError::None;
    return result;
}

PdfDocument::~PdfDocument() {
    if (document != nullptr) {
        if (fz_context* context = ThreadContext()) {
            fz_drop_document(context, document);
        }
    }
}

std::unique_ptr<PdfPage> PdfDocument::LoadPage(int32_t index) {
    fz_context* context = ThreadContext();
    if (context == nullptr || index < 0 || index >= pageCount) {
        return nullptr;
    }
    fz_rect bounds{};
    fz_page* page = LoadMuPdfPage(context, document, index, &bounds);
    if (page == nullptr) {
        return nullptr;
    }
    std::unique_ptr<PdfPage> result(new PdfPage());
    result->page = page;
    result->x0 = bounds.x0;
    result->y0 = bounds.y0;
    result->width = std::isfinite(bounds.x1 - bounds.x0) ? std::max(0.0, double(bounds.x1) - bounds.x0) : 0.0;
    result->height =
        std::isfinite(bounds.y1 - bounds.y0) ? std::max(0.0, double(bounds.y1) - bounds.y0) : 0.0;
    return result;
}

PdfPage::~PdfPage() {
    if (fz_context* context = ThreadContext()) {
        fz_drop_page(context, page);
    }
}

bool PdfPage::Render(uint32_t pixelWidth, uint32_t pixelHeight, DecodedImage& image) {
    if (!PdfRenderSizeAllowed(pixelWidth, pixelHeight)) {
        return false;
    }
    const uint64_t stride = uint64_t{pixelWidth} * 4;
    const uint64_t size = stride * pixelHeight;
    std::shared_ptr<uint8_t[]> pixels(new (std::nothrow) uint8_t[size]);
    if (!pixels || !RenderInto(pixelWidth, pixelHeight, pixels.get())) {
        return false;
    }
    image.pixels = std::move(pixels);
    image.size = size;
    image.width = pixelWidth;
    image.height = pixelHeight;
    image.stride = static_cast<uint32_t>(stride);
    image.orientation = 1;
    return true;
}

bool PdfPage::RenderInto(uint32_t pixelWidth, uint32_t pixelHeight, uint8_t* samples) {
    fz_context* context = ThreadContext();
    if (context == nullptr || !PdfRenderSizeAllowed(pixelWidth, pixelHeight) || !(width > 0) ||
        !(height > 0)) {
        return false;
    }
    const double scaleX = pixelWidth / width;
    const double scaleY = pixelHeight / height;
    const fz_matrix transform = fz_concat(fz_translate(static_cast<float>(-x0), static_cast<float>(-y0)),
                                          fz_scale(static_cast<float>(scaleX), static_cast<float>(scaleY)));
    return RenderMuPdfPage(context, page, transform, static_cast<int>(pixelWidth),
                           static_cast<int>(pixelHeight), samples);
}

bool PdfDecoder::Load(const std::string& path, uint32_t targetWidth, uint32_t targetHeight, bool) {
    Trace("[PDF] Load called");
    Reset();
    if (!platform::ReadWholeFile(path, document, kMaxPdfFileBytes)) {
        Trace("[PDF] Failed to open file");
        return false;
    }
    return DecodeFromBuffer(targetWidth, targetHeight);
}

bool PdfDecoder::LoadFromMemory(const uint8_t* bytes, uint64_t size, uint32_t targetWidth,
                                uint32_t targetHeight, bool) {
    Trace("[PDF] LoadFromMemory called");
    Reset();
    if (bytes == nullptr || size == 0 || size > kMaxPdfFileBytes) {
        return false;
    }
    document.assign(bytes, bytes + size);
    return DecodeFromBuffer(targetWidth, targetHeight);
}

bool PdfDecoder::DecodeFromBuffer(uint32_t targetWidth, uint32_t targetHeight) {
    Trace("[PDF] DecodeFromBuffer called");
    // The bytes move into the document, which MuPDF reads for as long as it is open.
    PdfOpenError error = PdfOpenError::None;
    std::unique_ptr<PdfDocument> pdf = PdfDocument::Open(std::move(document), &error);
    document.clear();
    char line[160];
    if (!pdf) {
        std::snprintf(line, sizeof line, "[PDF] FPDF_LoadMemDocument failed, error: %lu",
                      static_cast<unsigned long>(error));
        Trace(line);
        return false;
    }
    Trace("[PDF] Document loaded");
    if (pdf->PageCount() < 1) {
        Trace("[PDF] No pages in document");
        return false;
    }
    const std::unique_ptr<PdfPage> page = pdf->LoadPage(0);
    if (!page) {
        Trace("[PDF] FPDF_LoadPage failed");
        return false;
    }
    uint64_t pixelWidth = TruncatePdfPixels(page->Width() * 150.0 / 72.0 + 0.5);
    uint64_t pixelHeight = TruncatePdfPixels(page->Height() * 150.0 / 72.0 + 0.5);
    std::snprintf(line, sizeof line, "[PDF] Page size: %" PRIu64 " x %" PRIu64 " (%.1f x %.1f points)",
                  pixelWidth, pixelHeight, page->Width(), page->Height());
    Trace(line);
    // A page larger than the target is rendered straight at the fitted size, never scaled afterwards.
    if (targetWidth > 0 && targetHeight > 0 && (pixelWidth > targetWidth || pixelHeight > targetHeight)) {
        const double scale =
            std::min(double(targetWidth) / double(pixelWidth), double(targetHeight) / double(pixelHeight));
        pixelWidth = std::max<uint64_t>(1, TruncatePdfPixels(double(pixelWidth) * scale));
        pixelHeight = std::max<uint64_t>(1, TruncatePdfPixels(double(pixelHeight) * scale));
    }
    std::unique_ptr<uint8_t[]> raster;
    if (PdfRenderSizeAllowed(pixelWidth, pixelHeight)) {
        raster.reset(new (std::nothrow) uint8_t[pixelWidth * pixelHeight * 4]);
    }
    if (!raster) {
        Trace("[PDF] FPDFBitmap_Create failed");
        return false;
    }
    if (!page->RenderInto(static_cast<uint32_t>(pixelWidth), static_cast<uint32_t>(pixelHeight),
                          raster.get())) {
        return false;
    }
    Trace("[PDF] Page rendered");
    pixels = std::move(raster);
    width = static_cast<uint32_t>(pixelWidth);
    height = static_cast<uint32_t>(pixelHeight);
    stride = width * 4;
    Trace("[PDF] DecodeFromBuffer success");
    return true;
}

} // namespace decode
