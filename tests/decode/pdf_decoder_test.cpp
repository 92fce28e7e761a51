// The first-page PDF decoder over generated documents: 150 DPI sizes, the fit bound, memory loads and
// documents that must fail cleanly.

#include "decode/format_registry.h"
#include "decode/pdf_decoder.h"
#include "tests/support/pdf_writer.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

using testing_support::MakePdf;

std::vector<uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

TEST(PdfDecoder, RendersTheFirstPageAt150DpiWithinTheTarget) {
    testing_support::TemporaryDirectory folder;
    const std::string letter = MakePdf({{612, 792, "0 0 1 rg 0 0 612 10 re f"}, {100, 100, ""}});
    const std::string path = folder.Write("Letter.PDF", letter);
    std::unique_ptr<decode::IDecoder> decoder = decode::CreateDecoder(path);
    ASSERT_NE(dynamic_cast<decode::PdfDecoder*>(decoder.get()), nullptr);
    ASSERT_TRUE(decoder->Load(path, 0, 0, false));
    EXPECT_EQ(decoder->GetWidth(), 1275u);
    EXPECT_EQ(decoder->GetHeight(), 1650u);
    EXPECT_EQ(decoder->GetStride(), 1275u * 4);
    // Bottom rows blue, the rest white; BGRA and opaque.
    const uint8_t* bottom = decoder->GetPixels() + size_t{1649} * decoder->GetStride() + 600 * 4;
    EXPECT_EQ((std::array<uint8_t, 4>{bottom[0], bottom[1], bottom[2], bottom[3]}),
              (std::array<uint8_t, 4>{255, 0, 0, 255}));
    EXPECT_EQ(decoder->GetPixels()[3], 255);

    decode::PdfDecoder fromMemory;
    const std::vector<uint8_t> bytes = Bytes(letter);
    ASSERT_TRUE(fromMemory.LoadFromMemory(bytes.data(), bytes.size(), 640, 480, false));
    EXPECT_LE(fromMemory.GetHeight(), 480u);
    EXPECT_EQ(fromMemory.GetHeight(), 480u);
    EXPECT_NEAR(fromMemory.GetWidth(), 480.0 * 612 / 792, 1.0);

    // The largest page the format allows is 30000 pixels square at 150 DPI: refused without a target,
    // rendered straight at the fitted size with one.
    const std::vector<uint8_t> huge = Bytes(MakePdf({{14400, 14400, ""}}));
    decode::PdfDecoder unbounded;
    EXPECT_FALSE(unbounded.LoadFromMemory(huge.data(), huge.size(), 0, 0, false));
    decode::PdfDecoder bounded;
    ASSERT_TRUE(bounded.LoadFromMemory(huge.data(), huge.size(), 1920, 1080, false));
    EXPECT_EQ(bounded.GetWidth(), 1080u);
}

TEST(PdfDecoder, FailsCleanlyOnBrokenDocuments) {
    const std::string valid = MakePdf({{200, 200, "0 g 0 0 10 10 re f"}});
    const std::string noPages = MakePdf({});
    std::string loop = valid;
    // The page tree's only kid points back at the tree itself.
    loop.replace(loop.find("/Kids [3 0 R"), 12, "/Kids [2 0 R");
    for (const std::string& document :
         {std::string(), std::string("%PDF-1.7\n"), std::string("not a pdf at all"), noPages, loop}) {
        decode::PdfDecoder decoder;
        const std::vector<uint8_t> bytes = Bytes(document);
        EXPECT_FALSE(decoder.LoadFromMemory(bytes.data(), bytes.size(), 0, 0, false)) << document;
        EXPECT_EQ(decoder.GetPixels(), nullptr);
    }
    decode::PdfDecoder missing;
    EXPECT_FALSE(missing.Load("/nonexistent/file.pdf", 0, 0, false));
    // A truncated file is repaired or refused, never read past its end.
    for (const size_t length : {valid.size() / 2, valid.size() - 40}) {
        decode::PdfDecoder decoder;
        const std::vector<uint8_t> bytes = Bytes(valid.substr(0, length));
        if (decoder.LoadFromMemory(bytes.data(), bytes.size(), 0, 0, false)) {
            EXPECT_EQ(decoder.GetWidth(), 417u);
        }
    }
}

} // namespace
