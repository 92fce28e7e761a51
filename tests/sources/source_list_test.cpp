#include "sources/source_list.h"

#include "sources/sort_orders.h"
#include "tests/sources/hook_recorder.h"
#include "tests/support/test_support.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using sources_test::HookRecorder;
namespace fs = std::filesystem;

std::vector<std::string> Listed() {
    return sources::CopySourceList();
}

TEST(ItemPath, SplitsAtTheFirstSeparatorAndNamesItems) {
    const sources::SplitPath entry = sources::SplitItemPath("/a/b.zip::dir/x::y.jpg");
    EXPECT_TRUE(entry.hasEntry);
    EXPECT_EQ(entry.container, "/a/b.zip");
    EXPECT_EQ(entry.entry, "dir/x::y.jpg");
    const sources::SplitPath plain = sources::SplitItemPath("/a/b.jpg");
    EXPECT_FALSE(plain.hasEntry);
    EXPECT_EQ(plain.container, "/a/b.jpg");

    EXPECT_TRUE(sources::IsPdfPagePath("/a/Doc.PDF::3"));
    EXPECT_FALSE(sources::IsArchiveEntryPath("/a/Doc.PDF::3"));
    EXPECT_TRUE(sources::IsArchiveEntryPath("/a/b.cbz::c.jpg"));
    EXPECT_FALSE(sources::IsPdfPagePath("/a/b.cbz::c.jpg"));
    EXPECT_FALSE(sources::IsContainerItem("/a/b.pdf"));

    // A backslash belongs to a plain file's name; inside an archive it separates folders.
    EXPECT_EQ(sources::ItemFileName("/a/b\\c.jpg"), "b\\c.jpg");
    EXPECT_EQ(sources::ItemFileName("/a/b.zip::d\\e.jpg"), "e.jpg");
    EXPECT_EQ(sources::ItemFileName("/a/b.zip::d/e.jpg"), "e.jpg");
    EXPECT_EQ(sources::ItemFileName("x.jpg"), "x.jpg");
}

TEST(OpenPath, ListsTheImagesOfTheFolderAndSelectsTheOpenedOne) {
    HookRecorder recorder;
    testing_support::TemporaryDirectory folder;
    const std::string dir = folder.Path().string();
    for (const char* name :
         {"a.png", "b.jpg", "notes.txt", "c.zip", "UPPER.JPG", ".hidden.png", "dot.", "archive.tar.gz",
          "with space.jpg", "한글 사진.jpg", "back\\slash.jpg", "doc.pdf", "sub/inner.jpg", "noextension"}) {
        folder.Write(name, std::string());
    }
    fs::create_directory(folder.Path() / "folder.jpg");
    fs::create_directory_symlink(folder.Path() / "sub", folder.Path() / "linked-folder.png");
    fs::create_symlink(folder.Path() / "a.png", folder.Path() / "linked-file.gif");
    fs::create_symlink(folder.Path() / "missing.png", folder.Path() / "dangling.bmp");
    ASSERT_EQ(::mkfifo(folder.File("pipe.jpg").c_str(), 0600), 0);

    sources::OpenPath(dir + "/b.jpg");

    // Name order compares bytes of UTF-16 code units: "." < upper case < lower case < Hangul.
    const std::vector<std::string> expected = {
        dir + "/.hidden.png",     dir + "/UPPER.JPG",       dir + "/a.png",
        dir + "/b.jpg",           dir + "/back\\slash.jpg", dir + "/dangling.bmp",
        dir + "/linked-file.gif", dir + "/with space.jpg",  dir + "/한글 사진.jpg",
    };
    EXPECT_EQ(Listed(), expected);
    EXPECT_EQ(sources::CurrentIndex.load(), 3);
    EXPECT_EQ(sources::CopyItemPath(3), dir + "/b.jpg");
    EXPECT_EQ(sources::CopyItemPath(9), "");
    EXPECT_EQ(sources::CopyItemPath(-1), "");

    const sources::CurrentItem current = sources::SnapshotCurrentItem();
    EXPECT_EQ(current.index, 3);
    EXPECT_EQ(current.count, expected.size());
    EXPECT_EQ(current.path, dir + "/b.jpg");

    // The order of the source change: close the old source, reset, list, select, then ask for loads.
    const std::vector<std::string> events = {
        "closeArchives", "stopWelcomeScreen", "stopAnimation",      "clearCaches", "clearCurrentImage",
        "resetView",     "cancelBatch",       "closeBatchDocument", "requestLoad", "wakePrefetch"};
    EXPECT_EQ(recorder.events, events);

    // Opened under a name that is not listed (case differs on a case-sensitive file system): first item.
    sources::OpenPath(dir + "/B.JPG");
    EXPECT_EQ(Listed().size(), expected.size());
    EXPECT_EQ(sources::CurrentIndex.load(), 0);

    // A backslash is a character of the name, not a folder separator.
    sources::OpenPath(dir + "/back\\slash.jpg");
    EXPECT_EQ(sources::CurrentIndex.load(), 4);

    // Doubled separators survive: the opened spelling is found again.
    sources::OpenPath(dir + "//a.png");
    ASSERT_FALSE(Listed().empty());
    EXPECT_EQ(Listed()[0], dir + "//.hidden.png");
    EXPECT_EQ(sources::CurrentIndex.load(), 2);

    // A folder, with or without its trailing slashes, opens itself at its first image.
    for (const std::string& named : {dir, dir + "/", dir + "//"}) {
        sources::OpenPath(dir + "/b.jpg");
        sources::OpenPath(named);
        EXPECT_EQ(Listed(), expected) << named;
        EXPECT_EQ(sources::CurrentIndex.load(), 0) << named;
    }
    sources::OpenPath(dir + "/linked-folder.png"); // a link to a folder is a folder, whatever its name
    EXPECT_EQ(Listed(), std::vector<std::string>{dir + "/linked-folder.png/inner.jpg"});
    EXPECT_EQ(sources::CurrentIndex.load(), 0);
}

TEST(OpenPath, DispatchesContainersAndLeavesTheListAloneWithoutAFolder) {
    HookRecorder recorder;
    HookRecorder::SetList({"/x/1.jpg", "/x/2.jpg"}, 1);
    sources::PdfPageMode = true;
    sources::PdfPageCount = 4;

    sources::OpenPath("/x/archive.tar.gz");
    sources::OpenPath("/x/Comic.CBZ");
    sources::OpenPath("/x/Book.PDF");
    EXPECT_EQ(recorder.events,
              (std::vector<std::string>{"openArchive /x/archive.tar.gz", "openArchive /x/Comic.CBZ",
                                        "openPdfDocument /x/Book.PDF"}));
    // The container builders own the reset; this branch leaves everything else to them.
    EXPECT_EQ(Listed().size(), 2u);
    EXPECT_TRUE(sources::PdfPageMode.load());

    recorder.events.clear();
    sources::OpenPath("image.jpg");
    EXPECT_EQ(recorder.events,
              (std::vector<std::string>{"closeArchives", "stopWelcomeScreen", "stopAnimation"}));
    EXPECT_EQ(Listed().size(), 2u);
    EXPECT_EQ(sources::CurrentIndex.load(), 1);
    EXPECT_FALSE(sources::PdfPageMode.load());
    EXPECT_EQ(sources::PdfPageCount.load(), 0);

    // A folder that cannot be read: an empty list, nothing current, no load requested.
    recorder.events.clear();
    sources::OpenPath("/nonexistent-skimora-folder/a.jpg");
    EXPECT_TRUE(Listed().empty());
    EXPECT_EQ(sources::CurrentIndex.load(), -1);
    EXPECT_FALSE(recorder.Saw("requestLoad"));
    EXPECT_TRUE(recorder.Saw("clearCaches"));

    // Webtoon layout: the batch stops and the layout ends before the new listing.
    testing_support::TemporaryDirectory folder;
    const std::string image = folder.Write("p.png", std::string());
    recorder.webtoon = true;
    recorder.events.clear();
    sources::OpenPath(image);
    ASSERT_GE(recorder.events.size(), 4u);
    EXPECT_EQ(
        std::vector<std::string>(recorder.events.begin(), recorder.events.begin() + 4),
        (std::vector<std::string>{"closeArchives", "cancelBatch", "closeBatchDocument", "leaveWebtoonMode"}));
    EXPECT_FALSE(recorder.webtoon);
    EXPECT_EQ(Listed(), std::vector<std::string>{image});
    EXPECT_EQ(sources::CurrentIndex.load(), 0);
}

TEST(OpenPath, ListsARealSampleFolder) {
    SKIP_WITHOUT_SAMPLES();
    HookRecorder recorder;
    const fs::path folder = testing_support::SamplesDir() / "png";
    std::vector<std::string> images;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string ext = entry.path().extension().string();
        if (entry.is_regular_file() && (ext == ".png" || ext == ".PNG")) {
            images.push_back(entry.path().string());
        }
    }
    if (images.empty()) {
        GTEST_SKIP() << "no PNG samples";
    }
    std::sort(images.begin(), images.end());
    const std::string opened = images.back();
    sources::SortMode = sources::kSortNatural;
    sources::OpenPath(opened);
    const std::vector<std::string> listed = Listed();
    for (const std::string& image : images) {
        EXPECT_NE(std::find(listed.begin(), listed.end(), image), listed.end()) << image;
    }
    ASSERT_GE(sources::CurrentIndex.load(), 0);
    EXPECT_EQ(listed[static_cast<size_t>(sources::CurrentIndex.load())], opened);
    EXPECT_TRUE(std::is_sorted(listed.begin(), listed.end(), [](const std::string& a, const std::string& b) {
        return sources::NaturalCompare(a, b);
    }));
}

// skimora-decode sits beside this test program in the build tree.
std::string DecodeToolPath() {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    const fs::path tool = self.parent_path() / "skimora-decode";
    return fs::exists(tool, error) ? tool.string() : std::string();
}

std::string RunTool(const std::string& command, int& exitCode) {
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        exitCode = -1;
        return output;
    }
    std::array<char, 4096> buffer{};
    size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        output.append(buffer.data(), got);
    }
    const int status = ::pclose(pipe);
    exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return output;
}

TEST(ListTool, PrintsTheListAndTheCurrentIndex) {
    const std::string tool = DecodeToolPath();
    if (tool.empty()) {
        GTEST_SKIP() << "skimora-decode is not built";
    }
    testing_support::TemporaryDirectory folder;
    const std::string dir = folder.Path().string();
    for (const char* name : {"img10.jpg", "img2.jpg", "IMG1.jpg", "readme.txt"}) {
        folder.Write(name, std::string());
    }
    int exitCode = -1;
    std::string output = RunTool("'" + tool + "' --list '" + dir + "/img2.jpg' --sort 1", exitCode);
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(output, dir + "/IMG1.jpg\n" + dir + "/img2.jpg\n" + dir + "/img10.jpg\ncurrent 1\n");

    output = RunTool("'" + tool + "' --list '" + dir + "/img2.jpg'", exitCode);
    EXPECT_EQ(output, dir + "/IMG1.jpg\n" + dir + "/img10.jpg\n" + dir + "/img2.jpg\ncurrent 2\n");

    output = RunTool("'" + tool + "' --list '" + dir + "/missing/a.jpg'", exitCode);
    EXPECT_EQ(exitCode, 1);
    EXPECT_EQ(output, "current -1\n");

    RunTool("'" + tool + "' --list '" + dir + "/img2.jpg' --sort 7 2>&1", exitCode);
    EXPECT_EQ(exitCode, 1);
}

} // namespace
