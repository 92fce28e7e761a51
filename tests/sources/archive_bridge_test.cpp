// The archive bridge on real archives: the samples against their recorded listings, and archives made
// at test time by zip, 7z and bsdtar, opened and decoded the way the viewer does it.

#include "sources/archive/archive_bridge.h"
#include "sources/archive/archive_route.h"
#include "sources/archive/seven_zip_abi.h"
#include "sources/archive/solid_window.h"
#include "sources/source_list.h"
#include "tests/sources/hook_recorder.h"
#include "tests/support/jpeg_writer.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>

namespace {

namespace archive = sources::archive;
using testing_support::TemporaryDirectory;

// One archive of ARCHIVE_LISTINGS.txt: its entries with their listed sizes.
struct Listing {
    std::string file;
    std::vector<std::pair<std::string, uint64_t>> entries;
};

std::vector<Listing> ReadListings(const std::filesystem::path& path) {
    std::vector<Listing> listings;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.starts_with("### ")) {
            const size_t end = line.find("  [");
            listings.push_back({line.substr(4, end - 4), {}});
        } else if (line.starts_with("    ") && !listings.empty()) {
            const size_t open = line.rfind(" (");
            if (open == std::string::npos) {
                continue;
            }
            const std::string name = line.substr(4, open - 4);
            listings.back().entries.emplace_back(name, std::strtoull(line.c_str() + open + 2, nullptr, 10));
        }
    }
    return listings;
}

// Entries whose listed name cannot be compared: links, and names the lister printed as escaped bytes
// or replacement characters.
bool ComparableName(const std::string& name) {
    return name.find(" -> ") == std::string::npos && name.find(" link to ") == std::string::npos &&
           name.find('\\') == std::string::npos && name.find("\xEF\xBF\xBD") == std::string::npos &&
           name.find('?') == std::string::npos && !name.empty() && name.back() != '*';
}

enum class Expect {
    Readable,   // every listed file entry is there and extracts to its listed size
    Unreadable, // the archive does not open
};

struct Exception {
    Expect expect = Expect::Readable;
    std::set<std::string> failingEntries; // listed entries that must fail to extract (encrypted, cut)
};

// The samples that do not simply read back: encrypted entries, multi-volume parts, damaged files, and
// entries too large to extract in a test.
const std::map<std::string, Exception>& Exceptions() {
    const std::set<std::string> abcd = {"a.txt", "b.txt", "c.txt", "d.txt"};
    static const std::map<std::string, Exception> exceptions = {
        {"7z/libarchive_7z_encrypted_data.7z", {Expect::Readable, {"bar.txt"}}},
        {"7z/libarchive_7z_encrypted_header.7z", {Expect::Unreadable, {}}},
        {"7z/libarchive_7z_encrypted_partially.7z", {Expect::Readable, {"bar_encrypted.txt"}}},
        // Debian's 7-Zip library has no Zstandard codec.
        {"7z/libarchive_7z_zstd.7z", {Expect::Readable, {"dir1/file1", "file2", "file3", "file4"}}},
        {"7z/libarchive_7z_solid_zstd.7z", {Expect::Readable, {"dir1/file1", "file2", "file3", "file4"}}},
        {"rar/libarchive_rar4_encrypted_data.rar", {Expect::Readable, {"b.txt", "d.txt"}}},
        {"rar/libarchive_rar5_encrypted_data.rar", {Expect::Readable, {"b.txt", "d.txt"}}},
        {"rar/libarchive_rar4_encrypted_headers.rar", {Expect::Unreadable, {}}},
        {"rar/libarchive_rar5_encrypted_headers.rar", {Expect::Unreadable, {}}},
        {"rar/libarchive_rar4_solid_encrypted.rar", {Expect::Readable, abcd}},
        {"rar/libarchive_rar5_solid_encrypted.rar", {Expect::Readable, abcd}},
        // Entries continued in the next volume, which is not there.
        {"rar/libarchive_rar4_multivolume.part0001.rar",
         {Expect::Readable, {"ppmd_lzss_conversion_test.txt"}}},
        {"rar/libarchive_rar5_multiarchive.part01.rar",
         {Expect::Readable, {"home/antek/temp/build/unrar5/libarchive/bin/bsdcat_test"}}},
        {"rar/libarchive_rar5_multiarchive_solid.part01.rar", {Expect::Readable, {"elf-Linux-ARMv7-ls"}}},
        {"zip/libarchive_zip_winzip_aes256.zip", {Expect::Readable, {"README"}}},
        {"zip/libarchive_zip_zipcrypto.zip", {Expect::Readable, {"bar.txt", "foo.txt"}}},
        // RAR files with a zip appended, whose entries the listing shows instead of the RAR's own.
        {"rar/libarchive_rar5_zip_in_rar.rar", {Expect::Readable, {"THIS_IS_INSIDE_THE_ZIP.txt"}}},
        {"rar/macpacker_defaultArchive_rar5.rar",
         {Expect::Readable, {"keynote.pdf", "photo.psd", "taxes.xlsx"}}},
        {"rar/libarchive_rar4_invalid1.rar", {Expect::Readable, {"test"}}},
        {"zip/libarchive_zip_malformed1.zip", {Expect::Unreadable, {}}},
        {"zip/libarchive_zip_basic.zip", {Expect::Readable, {"file1", "file2"}}}, // CRC errors
        // Names given only in the Info-ZIP Unicode path field, which 7-Zip's library does not read here.
        {"zip/libarchive_zip_7075_utf8_paths.zip",
         {Expect::Readable, {"File 2 - ö.txt", "File 3 - ä.txt", "File 4 - xx.txt"}}},
        // UTF-8 names without the zip's UTF-8 flag (macOS): 7-Zip's library decodes them as a code page.
        {"zip/macpacker_utf_你好.zip", {Expect::Readable, {"utf_你好.txt", "__MACOSX/._utf_你好.txt"}}},
        // GNU sparse files appear under their raw pax names.
        {"tar/libarchive_gtar_sparse_posix10.tar", {Expect::Readable, {"sparse", "sparse2"}}},
    };
    return exceptions;
}

constexpr uint64_t kLargestExtractedInTests = 8u << 20;

TEST(ArchiveSamples, ListingsReadBackThroughTheBridgesLibraries) {
    SKIP_WITHOUT_SAMPLES();
    const std::filesystem::path samples = testing_support::SamplesDir();
    size_t checkedArchives = 0;
    for (const Listing& listing : ReadListings(samples / "ARCHIVE_LISTINGS.txt")) {
        if (listing.file.starts_with("alz/") || listing.file.starts_with("egg/")) {
            continue; // the program's own readers, tested with them
        }
        SCOPED_TRACE(listing.file);
        const auto exception = Exceptions().find(listing.file);
        const Exception expected = exception != Exceptions().end() ? exception->second : Exception{};
        std::unique_ptr<archive::ArchiveBackend> backend;
        const archive::BackendOpenResult result =
            archive::OpenArchiveBackend((samples / listing.file).string(), backend);
        if (expected.expect == Expect::Unreadable) {
            EXPECT_NE(result, archive::BackendOpenResult::Opened);
            continue;
        }
        ASSERT_EQ(result, archive::BackendOpenResult::Opened);
        ++checkedArchives;
        std::map<std::string, archive::ListedItem> items;
        for (const archive::ListedItem& item : backend->Items()) {
            items.emplace(item.name, item);
        }
        for (const auto& [name, size] : listing.entries) {
            if (!ComparableName(name) || name.ends_with("/") || size == 0) {
                continue;
            }
            SCOPED_TRACE(name);
            const auto found = items.find(name);
            if (expected.failingEntries.contains(name) && found == items.end()) {
                continue; // not even listed
            }
            ASSERT_NE(found, items.end());
            EXPECT_EQ(found->second.size, size);
            if (size > kLargestExtractedInTests) {
                continue;
            }
            std::vector<uint8_t> bytes;
            const bool extracted = backend->ExtractItem(found->second.index, found->second.size, bytes);
            if (expected.failingEntries.contains(name)) {
                EXPECT_FALSE(extracted);
            } else {
                EXPECT_TRUE(extracted);
                EXPECT_EQ(bytes.size(), size);
            }
        }
    }
    EXPECT_GT(checkedArchives, 60u);
}

// Pages of distinct greys, and the archives the tools make of them.
class GeneratedArchives : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::system(
                "command -v zip >/dev/null && command -v 7z >/dev/null && command -v bsdtar >/dev/null") !=
            0) {
            GTEST_SKIP() << "zip, 7z or bsdtar is not installed";
        }
        for (int page = 1; page <= kPages; ++page) {
            const auto level = static_cast<uint8_t>(page * 20);
            folder.Write(PageName(page),
                         testing_support::EncodeJpeg(64 + page, 48, [level](uint32_t, uint32_t) {
                             return testing_support::Rgb{level, level, level};
                         }));
        }
        folder.Write("book/notes.txt", std::string("not a page"));
        folder.Write("book/__MACOSX/._p1.jpg", std::string("resource fork"));
        folder.Write("book/empty/.keep", std::string());
    }

    static std::string PageName(int page) { return "book/p" + std::to_string(page) + ".jpg"; }

    // Runs a shell command in the folder.
    bool Run(const std::string& command) const {
        return std::system(
                   ("cd '" + folder.Path().string() + "' && " + command + " >/dev/null 2>&1").c_str()) == 0;
    }

    static constexpr int kPages = 12;
    TemporaryDirectory folder;
    sources_test::HookRecorder recorder;
};

TEST_F(GeneratedArchives, EveryFormatListsItsPagesInNaturalOrderAndDecodesThemFromMemory) {
    struct Case {
        std::string file;
        std::string command;
    };
    const std::vector<Case> cases = {
        {"book.cbz", "zip -q -r book.cbz book"},
        {"solid.cb7", "7z a -bd -ms=on solid.cb7 book"},
        {"book.cbt", "bsdtar -cf book.cbt book"},
        {"book.tgz", "bsdtar -czf book.tgz book"},
        {"book.tar.xz", "bsdtar -cJf book.tar.xz book"},
        {"zip-named.cbr", "zip -q -r zip-named.cbr book"}, // a zip under a RAR name: read by its signature
    };
    sources::SortMode.store(1);
    for (const Case& test : cases) {
        SCOPED_TRACE(test.file);
        ASSERT_TRUE(Run(test.command));
        const std::string path = folder.File(test.file);
        archive::OpenArchive(path, "");
        const std::vector<sources::ItemPath> items = sources::CopySourceList();
        ASSERT_EQ(items.size(), static_cast<size_t>(kPages));
        EXPECT_EQ(sources::CurrentIndex.load(), 0);
        for (int page = 1; page <= kPages; ++page) {
            const std::string item = path + "::" + PageName(page);
            EXPECT_EQ(items[static_cast<size_t>(page - 1)], item);
            decode::DecodedImage image;
            ASSERT_TRUE(archive::DecodeArchiveEntry(item, 0, 0, false, image));
            EXPECT_EQ(image.width, static_cast<uint32_t>(64 + page));
            EXPECT_NEAR(image.pixels[1], page * 20, 3);
        }
    }
    sources::SortMode.store(0);
}

TEST_F(GeneratedArchives, OpeningSelectsTheNamedEntryAndFailuresSayWhy) {
    ASSERT_TRUE(
        Run("zip -q -r book.cbz book && zip -q texts.zip book/notes.txt && head -c 3000 /dev/urandom > "
            "noise.zip"));
    const std::string book = folder.File("book.cbz");
    archive::OpenArchive(book, book + "::" + PageName(7));
    EXPECT_EQ(sources::CopyItemPath(sources::CurrentIndex.load()), book + "::" + PageName(7));
    archive::OpenArchive(book, book + "::book/missing.jpg");
    EXPECT_EQ(sources::CurrentIndex.load(), 0);

    const std::vector<std::pair<std::string, std::string>> failures = {
        {"texts.zip", "showMessage 아카이브에 이미지가 없습니다 1000"},
        {"noise.zip", "showMessage 아카이브를 읽을 수 없습니다 1000"},
        {"absent.zip", "showMessage 압축 파일을 열 수 없습니다 1000"},
    };
    for (const auto& [file, message] : failures) {
        recorder.events.clear();
        archive::OpenArchive(folder.File(file), "");
        EXPECT_TRUE(recorder.Saw(message)) << file;
        EXPECT_EQ(sources::SourceListCount(), 0u);
        EXPECT_EQ(sources::CurrentIndex.load(), -1);
    }
    // A zip starting with the split-archive marker (found by fuzzing): 7-Zip's zip handler asks the open
    // callback for the other volumes, and crashed without one.
    const std::string split = folder.Write(
        "split.zip",
        std::string(
            "\x50\x4b\x07\x08\x50\x4b\x03\x04\x0a\x00\x00\x00\x00\x00\x85\x0b\x89\x5d\xf2\xce\x4a\x56\x06\x00"
            "\x00\x00\x06\x00\x00\x00\x05\x00\x1c\x00\x61\x2e\x67\x69\x66\x55\x54\x09\x00\x03\xaa\xae\x18\x6b"
            "\xaa\xae\x18\x6b\x75\x78\x0b\x00\x01\x04\x00\x00\x00\x00\x04\x00\x00\x00\x00\x47\x49\x46\x38\x39"
            "\x61\x50\x4b\x03\x04\x0a\x00\x00\x00\x00\x00\x85\x0b\x89\x5d\x86\xa6\x10\x36\x05\x00\x00\x00\x05"
            "\x00\x00\x00\x00\x00\x00\x00\x00\x85\x0b\x89\x5d\xf2\xce\x4a\x56\x06\x00\x00\x00\x06\x00\x00\x00"
            "\x05\x00\x1c\x00\x61\x2e\x67\x69\x66\x55\x54\x09\x00\x03\xaa\xae\x18\x6b\xaa\xae\x18\x6b\x75\x78"
            "\x0b\x00\x01\x04\x00\x00\x00\x00\x04\x00\x00\x00\x00\x47\x49\x46\x38\x39\x61\x00\x18\x00\x00\x00"
            "\x00\x00\x01\x00\x00\x00\xa4\x81\x45\x00\x00\x00\x62\x2e\x74\x78\x74\x55\x54\x05\x00\x03\xaa\xae"
            "\x18\x6b\x75\x78\x0b\x00\x01\x04\x00\x00\x00\x00\x04\x00\x00\x00\x00\x50\x4b\x05\x06\x00\x00\x00"
            "\x00\x02\x00\x02\x00\x96\x00\x00\x00\x89\x00\x00\x00\x00\x00",
            231));
    archive::OpenArchive(split, "");
    EXPECT_EQ(sources::CopySourceList(), std::vector<std::string>{split + "::a.gif"});
    // The failed opens closed the book: its entries are no longer extracted.
    std::vector<uint8_t> bytes;
    EXPECT_FALSE(archive::ExtractArchiveEntryByName(book, PageName(1), bytes));
}

TEST_F(GeneratedArchives, AnEntryPastTheSizeCapFailsAndTheArchiveStaysUsable) {
    // A sparse 600 MiB "image" stored in a tar takes no room on disk and claims more than any entry
    // the viewer extracts.
    ASSERT_TRUE(Run("truncate -s 600M book/huge.png && bsdtar -cf book.tar book && rm book/huge.png"));
    const std::string tar = folder.File("book.tar");
    archive::OpenArchive(tar, "");
    ASSERT_EQ(sources::SourceListCount(), static_cast<size_t>(kPages + 1));
    std::vector<uint8_t> bytes;
    EXPECT_FALSE(archive::ExtractArchiveEntryByName(tar, "book/huge.png", bytes));
    EXPECT_TRUE(bytes.capacity() < (64u << 20));
    EXPECT_TRUE(archive::ExtractArchiveEntryByName(tar, PageName(3), bytes));
}

TEST_F(GeneratedArchives, ASolidArchiveTurnedInOrderIsDecodedInOnePassAndAJumpBackRestartsIt) {
    ASSERT_TRUE(Run("7z a -bd -ms=on solid.7z book"));
    std::unique_ptr<archive::ArchiveBackend> backend;
    ASSERT_EQ(archive::OpenArchiveBackend(folder.File("solid.7z"), backend),
              archive::BackendOpenResult::Opened);
    ASSERT_TRUE(backend->IsSolid());
    std::vector<uint32_t> order;
    std::vector<uint64_t> sizes;
    std::map<uint32_t, std::vector<uint8_t>> expected;
    for (const archive::ListedItem& item : backend->Items()) {
        if (archive::IsListedImage(item.name, item.isDirectory)) {
            order.push_back(item.index);
            sizes.push_back(item.size);
            expected[item.index] = testing_support::ReadFileBytes(folder.Path() / item.name);
        }
    }
    ASSERT_EQ(order.size(), static_cast<size_t>(kPages));
    // Room for about four pages: the window slides along with the reader.
    archive::SolidWindow window(std::move(backend), order, sizes, sizes[0] * 4);
    std::vector<uint8_t> bytes;
    for (const uint32_t index : order) {
        ASSERT_TRUE(window.Get(index, bytes));
        EXPECT_EQ(bytes, expected[index]);
    }
    EXPECT_EQ(window.PassesStarted(), 1u);
    ASSERT_TRUE(window.Get(order[kPages - 2], bytes)); // just behind: still held
    EXPECT_EQ(window.PassesStarted(), 1u);
    ASSERT_TRUE(window.Get(order[0], bytes)); // far behind: a new pass from there
    EXPECT_EQ(bytes, expected[order[0]]);
    EXPECT_EQ(window.PassesStarted(), 2u);
    EXPECT_FALSE(window.Get(9999, bytes));
    window.Stop();
    EXPECT_FALSE(window.Get(order[1], bytes));
}

TEST(ArchiveRoutes, SignaturesWinOverExtensionsAndExtensionsPickTheirHandler) {
    using namespace archive::sevenzip;
    const auto seven = [](uint8_t format) {
        return archive::ArchiveRoute{archive::ArchiveLibrary::SevenZip, format};
    };
    const archive::ArchiveRoute rar{archive::ArchiveLibrary::LibarchiveRar, 0};
    const std::vector<std::pair<std::string, archive::ArchiveRoute>> byExtension = {
        {"7z", seven(kFormat7z)},
        {"cb7", seven(kFormat7z)},
        {"rar", rar},
        {"cbr", rar},
        {"tar", seven(kFormatTar)},
        {"cbt", seven(kFormatTar)},
        {"tgz", seven(kFormatGzip)},
        {"cbgz", seven(kFormatGzip)},
        {"tbz2", seven(kFormatBzip2)},
        {"txz", seven(kFormatXz)},
        {"lzh", seven(kFormatLzh)},
        {"cbz", seven(kFormatZip)},
        {"apk", seven(kFormatZip)},
        {"pk3", seven(kFormatZip)},
    };
    for (const auto& [ext, route] : byExtension) {
        EXPECT_EQ(archive::RouteForExtension(ext), route) << ext;
    }
    const std::vector<std::pair<std::string, archive::ArchiveRoute>> bySignature = {
        {std::string("PK\x03\x04", 4), seven(kFormatZip)},
        {std::string("7z\xBC\xAF\x27\x1C", 6), seven(kFormat7z)},
        {std::string("Rar!\x1A\x07\x01\x00", 8), rar},
        {std::string("\x1F\x8B\x08", 3), seven(kFormatGzip)},
        {std::string("MSCF\0\0\0\0", 8), seven(kFormatCab)},
    };
    for (const auto& [head, route] : bySignature) {
        archive::ArchiveRoute found;
        ASSERT_TRUE(
            archive::RouteForSignature(reinterpret_cast<const uint8_t*>(head.data()), head.size(), found));
        EXPECT_EQ(found, route);
    }
    archive::ArchiveRoute none;
    EXPECT_FALSE(archive::RouteForSignature(reinterpret_cast<const uint8_t*>("GIF89a"), 6, none));
}

} // namespace
