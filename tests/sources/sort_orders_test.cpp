#include "sources/sort_orders.h"

#include "tests/sources/hook_recorder.h"
#include "tests/support/test_support.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

using sources_test::HookRecorder;
namespace fs = std::filesystem;

std::vector<std::string> Sorted(std::vector<std::string> items, uint32_t mode) {
    sources::SortItemPaths(items, mode);
    return items;
}

std::vector<std::string> NaturalSorted(std::vector<std::string> items) {
    return Sorted(std::move(items), 1);
}

// Sets a file's modification time to a fixed base plus `seconds`, so that equal arguments give equal times.
void SetModified(const std::string& path, int seconds) {
    static const fs::file_time_type base = fs::file_time_type::clock::now() - std::chrono::hours(24);
    fs::last_write_time(path, base + std::chrono::seconds(seconds));
}

TEST(NaturalCompare, NumbersCompareByValueAndLettersIgnoreCase) {
    EXPECT_EQ(NaturalSorted({"/p/img2.jpg", "/p/img10.jpg", "/p/img1.jpg"}),
              (std::vector<std::string>{"/p/img1.jpg", "/p/img2.jpg", "/p/img10.jpg"}));
    // Equal numbers: the shorter name first.
    EXPECT_TRUE(sources::NaturalCompare("img1.jpg", "img01.jpg"));
    EXPECT_FALSE(sources::NaturalCompare("img01.jpg", "img1.jpg"));
    EXPECT_TRUE(sources::NaturalCompare("A2.png", "a10.png"));
    EXPECT_FALSE(sources::NaturalCompare("a10.png", "A2.png"));
    EXPECT_FALSE(sources::NaturalCompare("a.png", "A.png"));
    EXPECT_FALSE(sources::NaturalCompare("A.png", "a.png"));
    // Only the file name counts, not the folders or the container.
    EXPECT_TRUE(sources::NaturalCompare("/z/b.zip::z9/a.jpg", "/a/b.zip::a1\\b.jpg"));
    EXPECT_TRUE(sources::NaturalCompare("/z/a.jpg", "/a/b.jpg"));
    // Korean names order by code point after the digits decide nothing.
    EXPECT_TRUE(sources::NaturalCompare("가 2.jpg", "가 10.jpg"));
    EXPECT_TRUE(sources::NaturalCompare("가.jpg", "나.jpg"));
}

TEST(NaturalCompare, LongDigitRunsDoNotOverflow) {
    // Runs beyond 18 digits exceed 64-bit integers; they compare by significant length, then digits.
    EXPECT_TRUE(sources::NaturalCompare("x12345678901234567890.jpg", "x12345678901234567891.jpg"));
    EXPECT_FALSE(sources::NaturalCompare("x12345678901234567891.jpg", "x12345678901234567890.jpg"));
    EXPECT_TRUE(sources::NaturalCompare("x100.jpg", "x99999999999999999999999999.jpg"));
    EXPECT_TRUE(sources::NaturalCompare("x99999999999999999999.jpg", "x100000000000000000000.jpg"));
    EXPECT_TRUE(sources::NaturalCompare("x000000000000000000000000005.jpg", "x6.jpg"));
    EXPECT_EQ(NaturalSorted({"/p/s99999999999999999999.png", "/p/s9223372036854775807.png",
                             "/p/s9223372036854775808.png", "/p/s18446744073709551616.png"}),
              (std::vector<std::string>{"/p/s9223372036854775807.png", "/p/s9223372036854775808.png",
                                        "/p/s18446744073709551616.png", "/p/s99999999999999999999.png"}));
}

TEST(CompareUtf16, OrdersLikeUtf16CodeUnits) {
    EXPECT_LT(sources::CompareUtf16("Z.jpg", "a.jpg"), 0);
    EXPECT_LT(sources::CompareUtf16("ab", "abc"), 0);
    EXPECT_EQ(sources::CompareUtf16("가", "가"), 0);
    // U+1F600 is a surrogate pair (D83D DE00) and orders before U+E000, unlike in UTF-8 byte order.
    EXPECT_LT(sources::CompareUtf16("\xF0\x9F\x98\x80.jpg", "\xEE\x80\x80.jpg"), 0);
    EXPECT_GT(sources::CompareUtf16("\xEE\x80\x80.jpg", "\xF0\x9F\x98\x80.jpg"), 0);
    EXPECT_GT(sources::CompareUtf16("\xF0\x9F\x98\x80.jpg", "\xED\x9F\xBF.jpg"), 0); // after U+D7FF
}

TEST(NameTreeOrder, FilesBeforeFoldersCaseSensitiveAndExactlyReversed) {
    const std::vector<std::string> folder = {"/f/b.jpg", "/f/a.jpg", "/f/Z.jpg"};
    const std::vector<std::string> byName = {"/f/Z.jpg", "/f/a.jpg", "/f/b.jpg"};
    EXPECT_EQ(Sorted(folder, 0), byName);
    EXPECT_EQ(Sorted(folder, 2), (std::vector<std::string>{"/f/b.jpg", "/f/a.jpg", "/f/Z.jpg"}));

    // Archive entries keep their stored names; "\" and "/" both open folders inside the archive, and the
    // root's images come first.
    const std::string zip = "/home/u/b.zip::";
    const std::vector<std::string> entries = {zip + "dir/a.jpg", zip + "z.jpg",         zip + "dir\\c.jpg",
                                              zip + "b.jpg",     zip + "dir/sub/d.jpg", zip + "aa/e.jpg"};
    const std::vector<std::string> tree = {zip + "b.jpg",     zip + "z.jpg",      zip + "aa/e.jpg",
                                           zip + "dir/a.jpg", zip + "dir\\c.jpg", zip + "dir/sub/d.jpg"};
    EXPECT_EQ(Sorted(entries, 0), tree);
    EXPECT_EQ(Sorted(entries, 2), std::vector<std::string>(tree.rbegin(), tree.rend()));

    // Plain paths keep their leading "/" and split only at "/": "a\b.jpg" is a file of /f.
    EXPECT_EQ(Sorted({"/f/sub/d.jpg", "/f/c.jpg", "/f/a\\b.jpg"}, 0),
              (std::vector<std::string>{"/f/a\\b.jpg", "/f/c.jpg", "/f/sub/d.jpg"}));

    // Identical items collapse into one; a name that is both a file and a folder keeps both.
    EXPECT_EQ(Sorted({"/f/b.jpg", "/f/a.jpg", "/f/b.jpg"}, 0),
              (std::vector<std::string>{"/f/a.jpg", "/f/b.jpg"}));
    EXPECT_EQ(Sorted({zip + "x.jpg/y.jpg", zip + "x.jpg", zip + "w/v.jpg"}, 0),
              (std::vector<std::string>{zip + "x.jpg", zip + "w/v.jpg", zip + "x.jpg/y.jpg"}));
}

TEST(SortOrders, PdfPagesKeepPageOrderInEveryMode) {
    std::vector<std::string> pages;
    for (int page = 0; page < 12; ++page) {
        pages.push_back("/d/manual.pdf::" + std::to_string(page));
    }
    for (uint32_t mode = 0; mode < sources::kSortModeCount; ++mode) {
        EXPECT_EQ(Sorted(pages, mode), pages) << "mode " << mode;
    }
}

TEST(DateOrder, OldestFirstUnreadableLastTiesInListOrder) {
    testing_support::TemporaryDirectory folder;
    const std::string a = folder.Write("a.jpg", std::string());
    const std::string b = folder.Write("b.jpg", std::string());
    const std::string c = folder.Write("c.jpg", std::string());
    const std::string d = folder.Write("d.jpg", std::string());
    const std::string e = folder.Write("e.jpg", std::string());
    SetModified(a, 200);
    SetModified(b, 300);
    SetModified(c, 100);
    SetModified(d, 200);
    SetModified(e, 200);
    const std::string missing = folder.File("gone.jpg");
    const std::string entry = folder.File("x.zip") + "::old.jpg";
    EXPECT_EQ(Sorted({missing, e, b, entry, a, c, d}, 3),
              (std::vector<std::string>{c, e, a, d, b, missing, entry}));
    EXPECT_EQ(Sorted({d, a, e}, 3), (std::vector<std::string>{d, a, e}));
}

TEST(SortCommand, KeepsTheCurrentImageClearsCachesAndSaysSo) {
    HookRecorder recorder;
    testing_support::TemporaryDirectory folder;
    const std::string dir = folder.Path().string();
    for (const char* name : {"img1.jpg", "img2.jpg", "img10.jpg", "Img3.jpg"}) {
        folder.Write(name, std::string());
    }
    SetModified(dir + "/img10.jpg", 10);
    SetModified(dir + "/img2.jpg", 20);
    SetModified(dir + "/Img3.jpg", 30);
    SetModified(dir + "/img1.jpg", 40);
    sources::OpenPath(dir + "/img2.jpg");
    EXPECT_EQ(sources::CopySourceList(), (std::vector<std::string>{dir + "/Img3.jpg", dir + "/img1.jpg",
                                                                   dir + "/img10.jpg", dir + "/img2.jpg"}));
    EXPECT_EQ(sources::CurrentIndex.load(), 3);

    const auto current = [] { return sources::CopyItemPath(sources::CurrentIndex.load()); };
    const std::array<std::string_view, 4> messages = {"일반 정렬", "자연 정렬", "역순 정렬", "수정일 정렬"};
    const std::array<int32_t, 4> expectedIndex = {3, 1, 0, 1};
    for (const uint32_t mode : {1u, 2u, 3u, 0u}) {
        recorder.events.clear();
        sources::SortCommand(mode);
        EXPECT_EQ(sources::SortMode.load(), mode);
        EXPECT_EQ(current(), dir + "/img2.jpg") << "mode " << mode;
        EXPECT_EQ(sources::CurrentIndex.load(), expectedIndex[mode]) << "mode " << mode;
        EXPECT_EQ(recorder.events, (std::vector<std::string>{
                                       "clearCaches", "wakePrefetch",
                                       "showMessage " + std::string(messages[mode]) + " 1000", "repaint"}));
    }
    sources::SortCommand(1);
    EXPECT_EQ(sources::CopySourceList(), (std::vector<std::string>{dir + "/img1.jpg", dir + "/img2.jpg",
                                                                   dir + "/Img3.jpg", dir + "/img10.jpg"}));

    // An unknown mode changes nothing; without a current item the index stays where it was.
    recorder.events.clear();
    sources::SortCommand(4);
    EXPECT_TRUE(recorder.events.empty());
    EXPECT_EQ(sources::SortMode.load(), 1u);
    sources::CurrentIndex = 17;
    sources::SortCommand(2);
    EXPECT_EQ(sources::CurrentIndex.load(), 17);
    EXPECT_EQ(sources::CopySourceList().front(), dir + "/img2.jpg");
}

} // namespace
