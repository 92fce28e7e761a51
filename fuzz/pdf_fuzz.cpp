#include "decode/pdf_decoder.h"
#include "sources/pdf/pdf_document.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::unique_ptr<decode::PdfDocument> document =
        decode::PdfDocument::Open(std::vector<uint8_t>(data, data + size));
    if (document && document->PageCount() > 0) {
        if (const std::unique_ptr<decode::PdfPage> page = document->LoadPage(0)) {
            const sources::PixelSize fitted = sources::FitPageToScreen(page->Width(), page->Height(), 96, 96);
            decode::DecodedImage image;
            if (page->Render(uint32_t(fitted.width), uint32_t(fitted.height), image) &&
                (image.width > 96 || image.height > 96 || image.stride != image.width * 4)) {
                __builtin_trap();
            }
        }
    }
    return 0;
}
