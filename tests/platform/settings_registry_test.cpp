#include "platform/settings_registry.h"

#include "tests/support/test_support.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

uint32_t DwordOf(const platform::RegistryValue& value) {
    return value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) | (uint32_t(value.data[3]) << 24);
}

TEST(SettingsRegistry, WritesAndReadsTypedValuesInRegSyntax) {
    testing_support::TemporaryDirectory folder;
    const auto file = folder.Path() / "nested" / "settings.reg";
    platform::SettingsRegistry written(file);
    written.SetDword("WindowX", 0xFFFFFFFFu);
    written.SetDword("WebtoonWidth", 760);
    written.SetString("WelcomeMsg", "say \"hi\" \\ 안녕");
    written.SetString("Multi", "line one\nline two");
    ASSERT_TRUE(written.Save());

    const std::vector<uint8_t> bytes = testing_support::ReadFileBytes(file);
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_NE(text.find("Windows Registry Editor Version 5.00"), std::string::npos);
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Skimora]"), std::string::npos);
    EXPECT_NE(text.find("\"WindowX\"=dword:ffffffff"), std::string::npos);
    EXPECT_NE(text.find("\"WelcomeMsg\"=\"say \\\"hi\\\" \\\\ 안녕\""), std::string::npos);
    EXPECT_NE(text.find("\"Multi\"=hex(1):"), std::string::npos) << "line breaks cannot be quoted";

    platform::SettingsRegistry read(file);
    ASSERT_TRUE(read.Load());
    EXPECT_EQ(DwordOf(*read.Query("WindowX")), 0xFFFFFFFFu);
    EXPECT_EQ(DwordOf(*read.Query("WebtoonWidth")), 760u);
    EXPECT_EQ(read.Query("WelcomeMsg")->type, platform::RegistryType::String);
    EXPECT_EQ(read.Query("WelcomeMsg")->data, written.Query("WelcomeMsg")->data);
    EXPECT_EQ(read.Query("Multi")->data, written.Query("Multi")->data);
    EXPECT_FALSE(read.Query("Missing"));
    // No temporary file is left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(file.parent_path()), {}), 1);
}

TEST(SettingsRegistry, DamagedTextLoadsWhatItCan) {
    platform::SettingsRegistry registry("/nonexistent");
    registry.Parse("garbage\n\"Before\"=dword:1\n[HKEY_CURRENT_USER\\Software\\Skimora]\n"
                   "\"Good\"=dword:0000002a\n"
                   "\"TooLong\"=dword:123456789\n"
                   "\"NotHex\"=dword:zz\n"
                   "\"Unterminated\"=\"abc\n"
                   "\"Expand\"=hex(2):41,00,00,00\n"
                   "\"Wrapped\"=hex:01,02,\\\n  03\n"
                   "\"BadUtf8\"=\"\xFF\xFE\"\n"
                   "\x01\x02\x03 random bytes\n"
                   "[HKEY_CURRENT_USER\\Software\\Other]\n\"Elsewhere\"=dword:1\n");
    EXPECT_EQ(DwordOf(*registry.Query("Good")), 42u);
    EXPECT_FALSE(registry.Query("Before")) << "values outside our key are not ours";
    EXPECT_FALSE(registry.Query("TooLong"));
    EXPECT_FALSE(registry.Query("NotHex"));
    EXPECT_FALSE(registry.Query("Unterminated"));
    EXPECT_FALSE(registry.Query("Elsewhere"));
    EXPECT_EQ(registry.Query("Expand")->type, platform::RegistryType::ExpandString);
    EXPECT_EQ(registry.Query("Wrapped")->data, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(registry.Query("BadUtf8")->type, platform::RegistryType::String);
}

TEST(SettingsRegistry, ReadsUtf16FilesAsWrittenByTheRegistryEditor) {
    const std::u16string text = u"\uFEFFWindows Registry Editor Version 5.00\r\n\r\n"
                                u"[HKEY_CURRENT_USER\\Software\\Skimora]\r\n\"DualView\"=dword:00000001\r\n";
    std::string bytes;
    for (const char16_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    platform::SettingsRegistry registry("/nonexistent");
    registry.Parse(bytes);
    ASSERT_TRUE(registry.Query("DualView"));
    EXPECT_EQ(DwordOf(*registry.Query("DualView")), 1u);
}

TEST(SettingsRegistry, FailedSaveLeavesThePreviousFile) {
    // A folder that cannot exist (its parent is a file): the save fails quietly. (Permission bits would
    // not stop root, who runs CI.)
    testing_support::TemporaryDirectory folder;
    const std::string blocker = folder.Write("blocker", std::string("not a folder"));
    platform::SettingsRegistry impossible(std::filesystem::path(blocker) / "settings.reg");
    impossible.SetDword("X", 1);
    EXPECT_FALSE(impossible.Save());

    const auto file = folder.Path() / "settings.reg";
    platform::SettingsRegistry first(file);
    first.SetDword("Kept", 7);
    ASSERT_TRUE(first.Save());
    // A temporary name that is a folder makes the write fail; the previous file must survive intact.
    std::filesystem::create_directory(file.string() + ".tmp-" + std::to_string(::getpid()));
    platform::SettingsRegistry second(file);
    second.SetDword("Kept", 8);
    EXPECT_FALSE(second.Save());
    platform::SettingsRegistry reread(file);
    ASSERT_TRUE(reread.Load());
    EXPECT_EQ(DwordOf(*reread.Query("Kept")), 7u);
}

} // namespace
