#include "info/exif_orientation.h"
#include "info/metadata_reader.h"
#include "tests/support/exif_block_builder.h"
#include "tests/support/test_support.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace {

using testing_support::ExifBlockBuilder;

// The loader, prefetch and information threads read orientations and metadata at the same time, each
// with its own reader; nothing may be shared between them.
TEST(MetadataReaderStress, ReadersOnSeveralThreadsAgree) {
    std::vector<std::vector<uint8_t>> files;
    for (uint16_t code = 1; code <= 8; ++code) {
        ExifBlockBuilder exif(code % 2 == 0);
        exif.Short(ExifBlockBuilder::Ifd0, 274, {code});
        exif.Rational(ExifBlockBuilder::Gps, 2, {{37, 1}, {33, 1}, {594, 10}});
        files.push_back(code % 3 == 0 ? testing_support::PngWithExif(exif.Build())
                                      : testing_support::JpegWithExif(exif.Build()));
    }
    testing_support::TemporaryDirectory folder;
    std::vector<std::string> paths;
    for (size_t i = 0; i < files.size(); ++i) {
        paths.push_back(folder.Write("file" + std::to_string(i) + ".img", files[i]));
    }

    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 200; ++round) {
                const size_t i = static_cast<size_t>(round + t) % files.size();
                const uint32_t expected = static_cast<uint32_t>(i + 1);
                if (info::ReadExifOrientation(files[i].data(), files[i].size()) != expected ||
                    info::ReadExifOrientation(paths[i]) != expected) {
                    ++mismatches;
                }
                info::MetadataReader reader;
                if (!reader.Open(files[i].data(), files[i].size()) ||
                    reader.QueryFrame(0, "/app1/ifd/gps/{ushort=2}").URationalElements().size() != 3) {
                    ++mismatches;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(mismatches.load(), 0);
}

} // namespace
