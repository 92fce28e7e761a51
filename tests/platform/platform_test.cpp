#include "platform/files.h"
#include "platform/memory.h"
#include "platform/window_messages.h"

#include "tests/support/test_support.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <vector>

namespace {

TEST(FileAttributes, ReportsFilesFoldersAndModificationTimes) {
    testing_support::TemporaryDirectory folder;
    const std::string file = folder.Write("a b/사진.jpg", std::string("12345"));
    const auto attributes = platform::GetFileAttributes(file);
    ASSERT_TRUE(attributes);
    EXPECT_FALSE(attributes->isDirectory);
    EXPECT_EQ(attributes->size, 5u);

    std::filesystem::last_write_time(file, std::filesystem::file_time_type::clock::now() - std::chrono::hours(2));
    const std::string newer = folder.Write("a b/newer.jpg", std::string("x"));
    EXPECT_LT(platform::GetFileAttributes(file)->lastWriteTime, platform::GetFileAttributes(newer)->lastWriteTime);

    EXPECT_TRUE(platform::GetFileAttributes(folder.File("a b"))->isDirectory);
    EXPECT_FALSE(platform::GetFileAttributes(folder.File("missing")));
    EXPECT_FALSE(platform::GetFileAttributes(""));
}

TEST(ReadWholeFile, RefusesFoldersAndFilesOverTheLimit) {
    testing_support::TemporaryDirectory folder;
    const std::string file = folder.Write("data.bin", std::vector<uint8_t>(1000, 7));
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(platform::ReadWholeFile(file, bytes, 1000));
    EXPECT_EQ(bytes.size(), 1000u);
    EXPECT_FALSE(platform::ReadWholeFile(file, bytes, 999));
    EXPECT_TRUE(bytes.empty());
    EXPECT_FALSE(platform::ReadWholeFile(folder.Path().string(), bytes, 1 << 20));
    EXPECT_FALSE(platform::ReadWholeFile(folder.File("missing"), bytes, 1 << 20));
    EXPECT_EQ(platform::JoinPath("/a", "b"), "/a/b");
    EXPECT_EQ(platform::JoinPath("/", "b"), "/b");
    EXPECT_EQ(platform::JoinPath("dir\\x", "b"), "dir\\x/b") << "a backslash is an ordinary character";
}

TEST(AvailablePhysicalMemory, IsNonZeroAndBelowTheMachineTotal) {
    const uint64_t available = platform::AvailablePhysicalMemory();
    EXPECT_GT(available, 0u);
    EXPECT_LT(available, uint64_t{1} << 50);
}

TEST(PostToWindow, DeliversToTheInstalledSinkAndDropsWithoutOne) {
    std::vector<platform::WindowMessage> received;
    platform::PostToWindow(platform::WindowMessage::ImageReady); // no sink: dropped
    platform::SetWindowMessageSink([&](platform::WindowMessage message) { received.push_back(message); });
    platform::PostToWindow(platform::WindowMessage::NextReady);
    platform::PostToWindow(platform::WindowMessage::InfoReady);
    platform::SetWindowMessageSink({});
    platform::PostToWindow(platform::WindowMessage::BatchItem);
    EXPECT_EQ(received,
              (std::vector<platform::WindowMessage>{platform::WindowMessage::NextReady,
                                                    platform::WindowMessage::InfoReady}));
}

} // namespace
