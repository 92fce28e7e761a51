// PDF documents as sources: real-world files from the samples folder against their manifest, generated
// documents for the sizes, the page list, page moves and the webtoon batch document.

#include "sources/pdf/pdf_document.h"
#include "tests/sources/hook_recorder.h"
#include "tests/support/pdf_writer.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>

namespace {

using sources_test::HookRecorder;
using testing_support::MakePdf;
using testing_support::PdfPageSpec;

std::string WritePdf(const testing_support::TemporaryDirectory& folder, const std::string& name,
                     const std::vector<PdfPageSpec>& pages) {
    return folder.Write(name, MakePdf(pages));
}

// BGRA of the pixel at (x, y).
std::array<uint8_t, 4> PixelAt(const decode::DecodedImage& image, uint32_t x, uint32_t y) {
    const uint8_t* pixel = image.pixels.get() + static_cast<size_t>(y) * image.stride + x * 4;
    return {pixel[0], pixel[1], pixel[2], pixel[3]};
}

TEST(PdfDocumentSamples, OpenAndRenderAsTheManifestSays) {
    SKIP_WITHOUT_SAMPLES();
    std::ifstream manifest(testing_support::SamplesDir() / "MANIFEST.tsv");
    const std::regex pagesPattern(R"(pages=(\d+); page size ([\d.]+) x ([\d.]+) pts)");
    int checked = 0;
    for (std::string line; std::getline(manifest, line);) {
        if (line.rfind("pdf/", 0) != 0) {
            continue;
        }
        const std::string relative = line.substr(0, line.find('\t'));
        const std::string path = (testing_support::SamplesDir() / relative).string();
        HookRecorder recorder;
        sources::OpenPdfDocument(path);
        std::smatch match;
        const std::string expected = line.substr(line.rfind('\t') + 1);
        if (!std::regex_search(expected, match, pagesPattern)) {
            // Encrypted with a user password, or without a document catalog: an empty list, no message.
            EXPECT_EQ(sources::SourceListCount(), 0u) << relative;
            EXPECT_FALSE(sources::PdfPageMode.load()) << relative;
            EXPECT_FALSE(recorder.Saw("requestLoad")) << relative;
            ++checked;
            continue;
        }
        const int32_t pages = std::stoi(match[1]);
        const double width = std::stod(match[2]);
        const double height = std::stod(match[3]);
        ASSERT_EQ(sources::SourceListCount(), static_cast<size_t>(pages)) << relative;
        EXPECT_EQ(sources::CopyItemPath(pages - 1), path + "::" + std::to_string(pages - 1));
        EXPECT_EQ(sources::CurrentIndex.load(), 0);
        EXPECT_TRUE(sources::PdfPageMode.load());
        EXPECT_EQ(sources::PdfPageCount.load(), pages);
        decode::DecodedImage image;
        const bool rendered = sources::RenderPdfPage(path + "::0", 1920, 1080, image);
        if (width == 0) {
            // The recursive page tree: MuPDF finds the loop and the page fails; nothing hangs.
            EXPECT_FALSE(rendered) << relative;
        } else {
            ASSERT_TRUE(rendered) << relative;
            const sources::PixelSize fitted = sources::FitPageToScreen(width, height, 1920, 1080);
            EXPECT_NEAR(image.width, fitted.width, 1) << relative;
            EXPECT_NEAR(image.height, fitted.height, 1) << relative;
            EXPECT_EQ(image.stride, image.width * 4);
            EXPECT_EQ(PixelAt(image, 0, image.height - 1)[3], 255) << relative << ": opaque over white";
        }
        ++checked;
    }
    EXPECT_EQ(checked, 15);
}

TEST(PdfDocumentSizes, FitToTheScreenOrToAWidthAndRefuseAbsurdPages) {
    EXPECT_EQ(sources::FitPageToScreen(612, 792, 1920, 1080).width, 834u);
    EXPECT_EQ(sources::FitPageToScreen(612, 792, 1920, 1080).height, 1080u);
    EXPECT_EQ(sources::FitPageToScreen(612.5, 792.9, 0, 1080).width, 612u) << "no screen: the points";
    EXPECT_EQ(sources::PageHeightAtWidth(612, 792, 800), 1035u);

    testing_support::TemporaryDirectory folder;
    const std::string path = WritePdf(
        folder, "sizes.pdf",
        {{612, 792, "1 0 0 rg 0 0 306 396 re f"}, {20, 14400, ""}, {14400, 14400, "0 0 1 rg 0 0 10 10 re f"}});
    HookRecorder recorder;
    sources::OpenPdfDocument(path);
    decode::DecodedImage image;
    ASSERT_TRUE(sources::RenderPdfPage(path + "::0", 1920, 1080, image));
    EXPECT_EQ(image.width, 834u);
    EXPECT_EQ(image.height, 1080u);
    // The red lower-left quarter; white elsewhere. BGRA, premultiplied, opaque.
    EXPECT_EQ(PixelAt(image, 100, 1000), (std::array<uint8_t, 4>{0, 0, 255, 255}));
    EXPECT_EQ(PixelAt(image, 700, 100), (std::array<uint8_t, 4>{255, 255, 255, 255}));
    // A sliver page fits the screen as a sliver; at a strip width it would need 576,000 rows.
    ASSERT_TRUE(sources::RenderPdfPage(path + "::1", 1920, 1080, image));
    EXPECT_EQ(image.width, 1u);
    EXPECT_EQ(image.height, 1080u);
    // A page as large as the format allows is rendered at the screen size, never at its own.
    ASSERT_TRUE(sources::RenderPdfPage(path + "::2", 1920, 1080, image));
    EXPECT_EQ(image.width, 1080u);

    const std::shared_ptr<decode::PdfDocument> document =
        decode::PdfDocument::Open(testing_support::ReadFileBytes(path));
    ASSERT_TRUE(document);
    ASSERT_TRUE(sources::RenderPdfPageAtWidth(*document, 0, 800, image));
    EXPECT_EQ(image.width, 800u);
    EXPECT_EQ(image.height, 1035u);
    EXPECT_FALSE(sources::RenderPdfPageAtWidth(*document, 1, 800, image)) << "beyond the render bound";
    EXPECT_FALSE(sources::RenderPdfPageAtWidth(*document, 3, 800, image)) << "no such page";
    EXPECT_FALSE(sources::RenderPdfPageAtWidth(*document, 0, 0, image));
}

TEST(PdfDocumentPages, ListInPageOrderAndRenderOnlyPagesOfTheOpenDocument) {
    testing_support::TemporaryDirectory folder;
    const std::string path = WritePdf(folder, "three.pdf", {{}, {}, {}});
    const std::string other = WritePdf(folder, "other.pdf", {{}});
    HookRecorder recorder;
    sources::SortMode = 2; // reverse name order does not touch the page order
    sources::OpenPdfDocument(path);
    EXPECT_EQ(sources::CopySourceList(),
              (std::vector<std::string>{path + "::0", path + "::1", path + "::2"}));
    EXPECT_TRUE(recorder.Saw("cancelBatch"));
    EXPECT_TRUE(recorder.Saw("closeArchives"));
    EXPECT_TRUE(recorder.Saw("clearCaches"));
    EXPECT_TRUE(recorder.Saw("requestLoad"));

    decode::DecodedImage image;
    EXPECT_TRUE(sources::RenderPdfPage(path + "::2", 1920, 1080, image));
    for (const std::string& item : {path + "::3", path + "::x", path + "::-1", other + "::0", path}) {
        EXPECT_FALSE(sources::RenderPdfPage(item, 1920, 1080, image)) << item;
    }
    sources::ClosePageDocument();
    EXPECT_FALSE(sources::RenderPdfPage(path + "::0", 1920, 1080, image)) << "closed";

    // A file that is not a PDF opens as an empty list.
    sources::OpenPdfDocument(folder.Write("fake.pdf", std::string("%PDF-1.4 nothing else")));
    EXPECT_EQ(sources::SourceListCount(), 0u);
    EXPECT_EQ(sources::CurrentIndex.load(), -1);
}

TEST(PdfPagePaths, ParseTheIndexAsStrtolDoes) {
    struct Case {
        const char* path;
        bool ok;
        int32_t page;
    };
    for (const Case& c :
         {Case{"/d/a.pdf::4", true, 4}, Case{"/d/a.pdf:: +7x", true, 7}, Case{"/d/a.pdf::-2", true, -2},
          Case{"/d/a.pdf::0::1", true, 0}, Case{"/d/a.pdf::", false, 0}, Case{"/d/a.pdf::x1", false, 0},
          Case{"/d/a.pdf::99999999999", false, 0}, Case{"/d/a.pdf", false, 0}}) {
        std::string document;
        int32_t page = 0;
        EXPECT_EQ(sources::ParsePdfPagePath(c.path, document, page), c.ok) << c.path;
        if (c.ok) {
            EXPECT_EQ(document, "/d/a.pdf");
            EXPECT_EQ(page, c.page) << c.path;
        }
    }
}

TEST(GoToPage, ClampsMovesAndShowsThePageCounter) {
    HookRecorder recorder;
    HookRecorder::SetList({"/d/a.pdf::0", "/d/a.pdf::1", "/d/a.pdf::2"}, 0);
    sources::GoToPage(2); // outside page mode: nothing
    EXPECT_EQ(sources::CurrentIndex.load(), 0);
    sources::PdfPageMode = true;
    sources::PdfPageCount = 3;
    sources::GoToPage(9);
    EXPECT_EQ(sources::CurrentIndex.load(), 2);
    EXPECT_EQ(sources::NavigationDirection.load(), 1);
    EXPECT_TRUE(recorder.Saw("showMessage 3 / 3 페이지 800"));
    EXPECT_TRUE(recorder.Saw("updateWindowTitle"));
    recorder.events.clear();
    sources::GoToPage(2);
    EXPECT_TRUE(recorder.events.empty()) << "already there";
    sources::GoToPage(-5);
    EXPECT_EQ(sources::CurrentIndex.load(), 0);
    EXPECT_EQ(sources::NavigationDirection.load(), -1);
    EXPECT_TRUE(recorder.Saw("showMessage 1 / 3 페이지 800"));
    EXPECT_FALSE(sources::NavigationPending.load());
}

TEST(BatchDocument, CopiesThePageDocumentAndHandsItBack) {
    testing_support::TemporaryDirectory folder;
    const std::string path = WritePdf(folder, "book.pdf", {{}, {300, 300, ""}});
    HookRecorder recorder;
    EXPECT_EQ(sources::BatchDocumentPages(), -1);
    sources::OpenPdfDocument(path);
    sources::PrepareBatchDocument();
    EXPECT_EQ(sources::BatchDocumentPages(), 2);
    decode::DecodedImage image;
    ASSERT_TRUE(sources::RenderBatchPage(1, 640, image));
    EXPECT_EQ(image.width, 640u);
    EXPECT_EQ(image.height, 640u);

    // Leaving the strip with the page document gone rebuilds it from the batch document's bytes.
    sources::ClosePageDocument();
    std::filesystem::remove(path);
    sources::PreparePageDocument();
    EXPECT_EQ(sources::BatchDocumentPages(), -1);
    EXPECT_FALSE(sources::RenderBatchPage(0, 640, image));
    EXPECT_TRUE(sources::RenderPdfPage(path + "::0", 1920, 1080, image));
    sources::ClosePageDocument();
}

} // namespace
