// Concurrent extraction from the open archive while the UI thread opens one archive after another: the
// loader, prefetch and information threads extract as they would, a solid archive's pass is stopped and
// restarted under them, and every entry that is served is the entry asked for, byte for byte.

#include "sources/archive/archive_bridge.h"
#include "sources/source_list.h"
#include "tests/sources/hook_recorder.h"
#include "tests/support/jpeg_writer.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <random>
#include <thread>

namespace {

namespace archive = sources::archive;

TEST(ArchiveStress, ExtractionsRaceReopensOfASolidAndAPlainArchive) {
    if (std::system("command -v zip >/dev/null && command -v 7z >/dev/null") != 0) {
        GTEST_SKIP() << "zip or 7z is not installed";
    }
    sources_test::HookRecorder recorder;
    testing_support::TemporaryDirectory folder;
    constexpr int kPages = 24;
    std::map<std::string, std::vector<uint8_t>> pages;
    for (int page = 0; page < kPages; ++page) {
        const std::string name = "pages/p" + std::to_string(page) + ".jpg";
        pages[name] = testing_support::EncodeJpeg(96, 64 + page, [page](uint32_t x, uint32_t y) {
            return testing_support::Rgb{static_cast<uint8_t>(x * page), static_cast<uint8_t>(y), 90};
        });
        folder.Write(name, pages[name]);
    }
    const std::string quiet = " >/dev/null 2>&1";
    ASSERT_EQ(
        std::system(("cd '" + folder.Path().string() + "' && zip -q -r plain.cbz pages" + quiet).c_str()), 0);
    ASSERT_EQ(std::system(
                  ("cd '" + folder.Path().string() + "' && 7z a -bd -ms=on solid.cb7 pages" + quiet).c_str()),
              0);
    const std::vector<std::string> archives = {folder.File("plain.cbz"), folder.File("solid.cb7")};

    std::atomic<bool> running{true};
    std::atomic<int> served{0};
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int reader = 0; reader < 3; ++reader) {
        readers.emplace_back([&, reader] {
            std::mt19937 random(static_cast<uint32_t>(reader));
            int page = 0;
            while (running.load()) {
                // Reader 0 turns in order, the others jump around as a prefetcher going both ways does.
                page = reader == 0 ? (page + 1) % kPages : static_cast<int>(random() % kPages);
                const std::string name = "pages/p" + std::to_string(page) + ".jpg";
                std::vector<uint8_t> bytes;
                if (archive::ExtractArchiveEntryByName(archives[random() % 2], name, bytes)) {
                    ++served;
                    if (bytes != pages[name]) {
                        ++wrong;
                    }
                }
            }
        });
    }
    for (int round = 0; round < 16; ++round) {
        archive::OpenArchive(archives[static_cast<size_t>(round % 2)], "");
        ASSERT_EQ(sources::SourceListCount(), static_cast<size_t>(kPages));
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    running.store(false);
    for (std::thread& reader : readers) {
        reader.join();
    }
    archive::CloseArchives();
    EXPECT_GT(served.load(), 0);
    EXPECT_EQ(wrong.load(), 0);
}

} // namespace
