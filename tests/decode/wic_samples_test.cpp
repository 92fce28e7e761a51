#include "decode/wic_decoder.h"
#include "tests/support/test_support.h"

#include <cctype>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace {

struct ManifestRow {
    std::string path;
    std::string special;
    std::string expected;
};

std::vector<ManifestRow> WicManifestRows() {
    std::vector<ManifestRow> rows;
    std::ifstream manifest(testing_support::SamplesDir() / "MANIFEST.tsv");
    std::string line;
    std::getline(manifest, line); // header
    while (std::getline(manifest, line)) {
        std::vector<std::string> fields;
        std::stringstream stream(line);
        std::string field;
        while (std::getline(stream, field, '\t')) {
            fields.push_back(field);
        }
        const std::string folder = fields.empty() ? "" : fields[0].substr(0, fields[0].find('/'));
        if (fields.size() >= 6 && (folder == "png" || folder == "gif" || folder == "bmp" || folder == "ico" ||
                                   folder == "tiff" || folder == "jxr")) {
            rows.push_back({fields[0], fields[2], fields[5]});
        }
    }
    return rows;
}

// The pixel size the reference tools report, or 0 x 0 when they reject the file. Icon rows list every
// entry: the largest one is what the decoder picks.
std::pair<uint32_t, uint32_t> ExpectedSize(const ManifestRow& row) {
    if (row.expected.rfind("ImageMagick", 0) == 0 || row.expected.find(" 0 entries") != std::string::npos) {
        return {0, 0};
    }
    std::pair<uint32_t, uint32_t> best{0, 0};
    const std::string& text = row.expected;
    for (size_t x = text.find('x'); x != std::string::npos; x = text.find('x', x + 1)) {
        size_t begin = x;
        while (begin > 0 && std::isdigit(static_cast<unsigned char>(text[begin - 1]))) {
            --begin;
        }
        size_t end = x + 1;
        while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) {
            ++end;
        }
        if (begin == x || end == x + 1) {
            continue;
        }
        const auto width = static_cast<uint32_t>(std::stoul(text.substr(begin, x - begin)));
        const auto height = static_cast<uint32_t>(std::stoul(text.substr(x + 1, end - x - 1)));
        if (uint64_t{width} * height > uint64_t{best.first} * best.second) {
            best = {width, height};
        }
        if (row.path.rfind("ico/", 0) != 0) {
            break;
        }
    }
    return best;
}

bool IsMalformed(const ManifestRow& row) {
    for (const char* word :
         {"BAD", "INVALID", "corrupt", "TRUNCATED", "truncated", "bomb", "unknown compression"}) {
        if (row.special.find(word) != std::string::npos) {
            return true;
        }
    }
    return false;
}

TEST(WicSamples, EveryManifestRowDecodesToItsSizeOrFailsCleanly) {
    SKIP_WITHOUT_SAMPLES();
    const auto rows = WicManifestRows();
    ASSERT_GT(rows.size(), 100u);
    int decoded = 0;
    for (const ManifestRow& row : rows) {
        SCOPED_TRACE(row.path);
        const auto [width, height] = ExpectedSize(row);
        decode::WicDecoder decoder;
        const bool ok = decoder.LoadPath((testing_support::SamplesDir() / row.path).string());
        printf("%-70s %d %ux%u exp %ux%u\n", row.path.c_str(), ok, decoder.GetWidth(), decoder.GetHeight(),
               width, height);
        if (ok) {
            ++decoded;
            EXPECT_NE(decoder.GetPixels(), nullptr);
            EXPECT_EQ(decoder.GetStride(), decoder.GetWidth() * 4);
            // The directory of this icon claims 16 x 32 where its bitmap header says 16 x 16; the bitmap
            // is what gets decoded.
            const bool directoryDisagrees = row.path == "ico/pillow_hopper_unexpected.ico";
            if (width != 0 && !directoryDisagrees) {
                EXPECT_EQ(decoder.GetWidth(), width);
                EXPECT_EQ(decoder.GetHeight(), height);
            }
        } else {
            EXPECT_EQ(decoder.GetPixels(), nullptr);
            EXPECT_TRUE(width == 0 || IsMalformed(row)) << "a well-formed sample failed";
        }
    }
    EXPECT_GT(decoded, 100);
}

} // namespace
