#pragma once

#include "decode/decoded_image.h"
#include "decode/decoder.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct fz_document;
struct fz_page;

// PDF documents through MuPDF, for the first-page decoder here and the page-by-page documents of the
// sources. MuPDF runs on one process-wide base context with a lock table; every thread that touches a
// document works through its own clone of it (made on first use, dropped when the thread ends). A
// document is not thread-safe: one thread at a time, which its owner arranges (see PdfDocument::Mutex).
namespace decode {

// No PDF file larger than this is read.
inline constexpr uint64_t kMaxPdfFileBytes = uint64_t{1} << 30;
// Render bounds: a page whose requested raster exceeds either is refused, whatever its media box says.
inline constexpr uint32_t kMaxPdfRenderSide = 32768;
inline constexpr uint64_t kMaxPdfRenderPixels = uint64_t{1} << 26;
// A page tree claiming more pages than this (or than the file could hold) is cut down to it.
inline constexpr int32_t kMaxPdfPages = 1'000'000;

// Reasons an open fails, numbered as the traces report them.
enum class PdfOpenError : unsigned long { None = 0, Format = 3, Password = 4 };

class PdfPage;

// One open document over a byte buffer it owns for its whole life.
class PdfDocument {
public:
    // Null when MuPDF cannot read the bytes, the document needs a password, or the base context could
    // not be made.
    static std::unique_ptr<PdfDocument> Open(std::vector<uint8_t> bytes, PdfOpenError* error = nullptr);
    ~PdfDocument();
    PdfDocument(const PdfDocument&) = delete;
    PdfDocument& operator=(const PdfDocument&) = delete;

    // Pages as the page tree declares them, at most kMaxPdfPages and never more than the file's size
    // allows; a page beyond the real tree fails to load.
    int32_t PageCount() const { return pageCount; }
    const std::vector<uint8_t>& Bytes() const { return bytes; }
    // Null for an index out of range or a page MuPDF cannot load (a loop in the page tree included).
    std::unique_ptr<PdfPage> LoadPage(int32_t index);
    // Held by whoever uses the document, so that only one thread works in it at a time.
    std::mutex& Mutex() { return mutex; }

private:
    PdfDocument() = default;
    std::vector<uint8_t> bytes;
    fz_document* document = nullptr;
    int32_t pageCount = 0;
    std::mutex mutex;
};

// One loaded page; lives no longer than its document and is used on the document's thread of the moment.
class PdfPage {
public:
    ~PdfPage();
    PdfPage(const PdfPage&) = delete;
    PdfPage& operator=(const PdfPage&) = delete;

    // The page's size in points, after its own rotation.
    double Width() const { return width; }
    double Height() const { return height; }
    // Renders the page with its annotations over opaque white, scaled to exactly width × height pixels,
    // straight into the record's premultiplied BGRA raster. False for a size of 0 or beyond the render
    // bounds, a failed allocation, or a MuPDF error.
    bool Render(uint32_t pixelWidth, uint32_t pixelHeight, DecodedImage& image);
    // The same into a caller's tightly packed pixelWidth × pixelHeight × 4 byte raster.
    bool RenderInto(uint32_t pixelWidth, uint32_t pixelHeight, uint8_t* samples);

private:
    friend class PdfDocument;
    PdfPage() = default;
    fz_page* page = nullptr;
    double x0 = 0;
    double y0 = 0;
    double width = 0;
    double height = 0;
};

// Whether a raster of this size may be rendered.
bool PdfRenderSizeAllowed(uint64_t width, uint64_t height);

// A computed pixel length truncated to whole pixels, forgiving the last bit of a division (1080 / 792 ×
// 792 gives 1080, not 1079); 0 for anything not positive, saturated at UINT32_MAX.
uint64_t TruncatePdfPixels(double value);

// The first page of a PDF file at 150 DPI, shrunk to fit the target when one is given. Writes its
// progress to the developer trace with the "[PDF] " tag.
class PdfDecoder : public IDecoder {
public:
    bool Load(const std::string& path, uint32_t targetWidth, uint32_t targetHeight,
              bool highQuality) override;
    bool LoadFromMemory(const uint8_t* bytes, uint64_t size, uint32_t targetWidth, uint32_t targetHeight,
                        bool highQuality) override;

private:
    bool DecodeFromBuffer(uint32_t targetWidth, uint32_t targetHeight);
    std::vector<uint8_t> document; // the whole file, kept for the decoder's life
};

} // namespace decode
