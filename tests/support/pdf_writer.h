#pragma once

#include <string>
#include <vector>

namespace testing_support {

// One page of a generated PDF: its media box in points and its content stream (PDF drawing operators,
// e.g. "1 0 0 rg 10 10 50 50 re f" for a red square).
struct PdfPageSpec {
    double width = 612;
    double height = 792;
    std::string content;
};

// A small, valid PDF file (catalog, flat page tree, one content stream a page, correct cross-reference
// table) with the pages given.
std::string MakePdf(const std::vector<PdfPageSpec>& pages);

} // namespace testing_support
