// PDF page rendering, in process, as the viewer does it.
//   bench_pdf --write-jpeg PATH WIDTH HEIGHT   writes a photograph-like JPEG for the generated document
//   bench_pdf --first PATH                     best of 10: read and open the file, render page 1 fitted
//                                              to 1920 x 1080; last line first_ms=...
//   bench_pdf --all PATH WIDTH                 best of 5: read and open the file, render every page at
//                                              WIDTH pixels; last line all_ms=... pages=...
#include "bench/bench_support.h"
#include "decode/pdf_decoder.h"
#include "platform/files.h"
#include "sources/pdf/pdf_document.h"


#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

double BestOf(int runs, const std::function<bool()>& work) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (!work()) {
            std::fputs("render failed\n", stderr);
            std::exit(1);
        }
        const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
        best = std::min(best, elapsed.count());
    }
    return best;
}

std::unique_ptr<decode::PdfDocument> OpenFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (!platform::ReadWholeFile(path, bytes, decode::kMaxPdfFileBytes)) {
        return nullptr;
    }
    return decode::PdfDocument::Open(std::move(bytes));
}

bool RenderFirst(const std::string& path) {
    const std::unique_ptr<decode::PdfDocument> document = OpenFile(path);
    if (!document) {
        return false;
    }
    const std::unique_ptr<decode::PdfPage> page = document->LoadPage(0);
    if (!page) {
        return false;
    }
    const sources::PixelSize size = sources::FitPageToScreen(page->Width(), page->Height(), 1920, 1080);
    decode::DecodedImage image;
    return page->Render(static_cast<uint32_t>(size.width), static_cast<uint32_t>(size.height), image);
}

bool RenderAll(const std::string& path, int32_t width, int32_t& pages) {
    const std::unique_ptr<decode::PdfDocument> document = OpenFile(path);
    if (!document) {
        return false;
    }
    pages = document->PageCount();
    for (int32_t page = 0; page < pages; ++page) {
        decode::DecodedImage image;
        if (!sources::RenderPdfPageAtWidth(*document, page, width, image)) {
            return false;
        }
    }
    return true;
}

int WriteJpeg(const std::string& path, int width, int height) {
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    uint32_t noise = 12345;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            noise = noise * 1664525u + 1013904223u;
            uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
            p[0] = static_cast<uint8_t>(x * 255 / width + (noise >> 29));
            p[1] = static_cast<uint8_t>(y * 255 / height + (noise >> 29));
            p[2] = static_cast<uint8_t>(((x / 40 + y / 40) & 1) * 80 + 90);
        }
    }
    return bench::WriteRgbJpeg(path, rgb, width, height, 0, 85) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--write-jpeg") == 0) {
        return WriteJpeg(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    }
    if (argc == 3 && std::strcmp(argv[1], "--first") == 0) {
        const std::string path = argv[2];
        std::printf("first_ms=%.2f\n", BestOf(10, [&] { return RenderFirst(path); }));
        return 0;
    }
    if (argc == 4 && std::strcmp(argv[1], "--all") == 0) {
        const std::string path = argv[2];
        const int32_t width = std::atoi(argv[3]);
        int32_t pages = 0;
        const double best = BestOf(5, [&] { return RenderAll(path, width, pages); });
        std::printf("all_ms=%.2f pages=%d\n", best, pages);
        return 0;
    }
    std::fputs("usage: bench_pdf --write-jpeg PATH W H | --first PATH | --all PATH WIDTH\n", stderr);
    return 2;
}
