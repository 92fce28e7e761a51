// Page renders on loader-like threads and a batch thread while the UI thread closes and re-opens the
// documents under them: no render touches a freed document, and every render that succeeds is whole.

#include "sources/pdf/pdf_document.h"
#include "tests/sources/hook_recorder.h"
#include "tests/support/pdf_writer.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

TEST(PdfDocumentStress, RendersSurviveClosesAndReopensOfTheirDocuments) {
    testing_support::TemporaryDirectory folder;
    std::vector<testing_support::PdfPageSpec> pages;
    for (int i = 0; i < 4; ++i) {
        pages.push_back(
            {612, 792, "BT /F1 24 Tf 0 0 1 rg 72 700 Td (Page) Tj ET 1 0 0 rg 72 72 200 200 re f"});
    }
    const std::string path = folder.Write("stress.pdf", testing_support::MakePdf(pages));
    sources_test::HookRecorder recorder;
    sources::OpenPdfDocument(path);
    sources::PrepareBatchDocument();

    std::atomic<bool> stop{false};
    std::atomic<int> pageRenders{0};
    std::atomic<int> batchRenders{0};
    std::atomic<int> broken{0};
    const auto pageRenderer = [&](int offset) {
        for (int i = offset; !stop.load(); ++i) {
            decode::DecodedImage image;
            if (sources::RenderPdfPage(path + "::" + std::to_string(i % 4), 320, 240, image)) {
                pageRenders.fetch_add(1);
                broken.fetch_add(image.width == 185 && image.height == 240 && image.pixels ? 0 : 1);
            }
        }
    };
    std::thread loader(pageRenderer, 0);
    std::thread prefetch(pageRenderer, 1);
    std::thread batch([&] {
        for (int i = 0; !stop.load(); ++i) {
            decode::DecodedImage image;
            if (sources::RenderBatchPage(i % 4, 200, image)) {
                batchRenders.fetch_add(1);
                broken.fetch_add(image.width == 200 && image.height == 259 ? 0 : 1);
            }
        }
    });
    for (int round = 0; round < 40; ++round) {
        sources::ClosePageDocument();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        sources::OpenPdfDocument(path);
        if (round % 3 == 0) {
            sources::CloseBatchDocument();
            sources::PrepareBatchDocument();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
    stop.store(true);
    loader.join();
    prefetch.join();
    batch.join();
    sources::ClosePageDocument();
    sources::CloseBatchDocument();
    EXPECT_GT(pageRenders.load(), 0);
    EXPECT_GT(batchRenders.load(), 0);
    EXPECT_EQ(broken.load(), 0);
}

} // namespace
