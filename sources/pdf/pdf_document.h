#pragma once

#include "decode/decoded_image.h"
#include "decode/pdf_decoder.h"

#include <cstdint>
#include <string>
#include <string_view>

// PDF documents as sources: a document opens as the list of its pages ("document.pdf::0", "::1", ...),
// which the loader threads render on demand, fitted to the screen, from the one open page document.
// The webtoon batch renders from a second instance of the same document, so page viewing and the
// batch never share a document.
//
// Lifetimes: the page document lives from OpenPdfDocument until the next source opens; the batch
// document from PrepareBatchDocument until CloseBatchDocument. Each is held by shared ownership and
// used under its own mutex (decode::PdfDocument::Mutex): a render that took the document keeps it alive,
// and a close waits for a render that is running before it lets go of its reference.
namespace sources {

// Splits "document.pdf::n" at the first "::" and reads n as a base-10 number with strtol's rules
// (leading white space and a sign accepted, reading stops at the first non-digit). False without
// "::", without a digit, or for a number outside a signed 32-bit page index.
bool ParsePdfPagePath(std::string_view path, std::string& documentPath, int32_t& page);

// The pixel size of a page of pw × ph points fitted to the screen, up or down; the page's own size in
// points (truncated) when either screen side is 0.
struct PixelSize {
    uint64_t width = 0;
    uint64_t height = 0;
};
PixelSize FitPageToScreen(double pageWidth, double pageHeight, uint32_t screenWidth, uint32_t screenHeight);
// The height of a page rendered at `width` pixels, rounded to the nearest pixel.
uint64_t PageHeightAtWidth(double pageWidth, double pageHeight, uint32_t width);

// Replaces the source list with the pages of a PDF file and shows page 1. A file that cannot be read,
// parsed (a password-protected one included) or has no pages leaves an empty list, with no message.
// UI thread.
void OpenPdfDocument(const std::string& path);

// Closes the page document (waiting for a render that is running in it). Every open of another source
// calls it. UI thread.
void ClosePageDocument();

// Renders the page `path` names, fitted to the screen, when the page document is that document. Loader
// and prefetch threads.
bool RenderPdfPage(const std::string& path, uint32_t screenWidth, uint32_t screenHeight,
                   decode::DecodedImage& image);

// Renders one page of `document` at `width` pixels. Takes no lock: the caller holds the document's.
bool RenderPdfPageAtWidth(decode::PdfDocument& document, int32_t page, int32_t width,
                          decode::DecodedImage& image);

// Moves to page n (clamped) in PDF page mode, with the "n / count 페이지" message. UI thread.
void GoToPage(int32_t page);

// Entering the webtoon layout: opens the batch document from the page document's bytes (or from the
// current item's file). UI thread.
void PrepareBatchDocument();
// Leaving it: rebuilds the page document when the current item is a PDF page and it is not open, then
// closes the batch document. UI thread.
void PreparePageDocument();
// UI thread; waits for a batch render that is running.
void CloseBatchDocument();

// Pages of the batch document, or -1 when none is open (any thread).
int32_t BatchDocumentPages();
// Renders page `page` of the batch document at `width` pixels (batch thread).
bool RenderBatchPage(int32_t page, int32_t width, decode::DecodedImage& image);

} // namespace sources
