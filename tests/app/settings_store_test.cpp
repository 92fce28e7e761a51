#include "app/settings_store.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

platform::SettingsRegistry Parsed(const std::string& values) {
    platform::SettingsRegistry registry("/nonexistent/settings.reg");
    registry.Parse("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Skimora]\n" + values);
    return registry;
}

TEST(LoadSettings, EmptyStoreGivesTheDefaults) {
    platform::Settings settings;
    app::LoadSettings(Parsed(""), settings);
    EXPECT_TRUE(settings.rememberWindowPos);
    EXPECT_EQ(settings.windowX, -1);
    EXPECT_EQ(settings.windowW, -1);
    EXPECT_FALSE(settings.windowMaximized);
    EXPECT_TRUE(settings.fitToWindow);
    EXPECT_FALSE(settings.showExifPanel);
    EXPECT_EQ(settings.webtoonWidth, 0);
    EXPECT_TRUE(settings.darkMode);
    EXPECT_EQ(settings.welcomeMsg, "당신을 사랑합니다.");
    EXPECT_EQ(settings.interpolationMode, 1);
    EXPECT_EQ(settings.colorManagement, 0);
    EXPECT_TRUE(settings.ultraHdrDecode);
    EXPECT_FALSE(settings.jpegFullDecode);
}

TEST(LoadSettings, TakesTypedValuesAndTreatsWrongTypesAsMissing) {
    platform::Settings settings;
    app::LoadSettings(Parsed("\"WindowX\"=dword:ffffff9c\n"
                             "\"WindowW\"=dword:00000400\n"
                             "\"DualView\"=dword:00000007\n"
                             "\"WebtoonWidth\"=\"760\"\n"
                             "\"InterpolationMode\"=dword:00000063\n"
                             "\"UltraHdrDecode\"=dword:00000000\n"
                             "\"TitleBarPinned\"=hex:01,00,00,00\n"),
                      settings);
    EXPECT_EQ(settings.windowX, -100);
    EXPECT_EQ(settings.windowW, 1024);
    EXPECT_TRUE(settings.dualView) << "any non-zero number is true";
    EXPECT_EQ(settings.webtoonWidth, 0) << "a string under a number's name counts as missing";
    EXPECT_EQ(settings.interpolationMode, 99) << "no range check when reading";
    EXPECT_FALSE(settings.ultraHdrDecode);
    EXPECT_FALSE(settings.titleBarPinned) << "binary data is not a DWORD";
}

TEST(LoadSettings, RememberWindowPosOffSkipsTheRectangle) {
    platform::Settings settings;
    app::LoadSettings(Parsed("\"RememberWindowPos\"=dword:00000000\n\"WindowX\"=dword:00000064\n"
                             "\"WindowMaximized\"=dword:00000001\n"),
                      settings);
    EXPECT_FALSE(settings.rememberWindowPos);
    EXPECT_EQ(settings.windowX, -1);
    EXPECT_FALSE(settings.windowMaximized);
}

TEST(LoadSettings, WelcomeTextLimits) {
    const auto welcomeOf = [](const std::string& value) {
        platform::Settings settings;
        app::LoadSettings(Parsed("\"WelcomeMsg\"=" + value + "\n"), settings);
        return settings.welcomeMsg;
    };
    EXPECT_EQ(welcomeOf("\"" + std::string(511, 'a') + "\""), std::string(511, 'a')) << "1024 bytes fits";
    EXPECT_EQ(welcomeOf("\"" + std::string(512, 'a') + "\""), "당신을 사랑합니다.");
    EXPECT_EQ(welcomeOf("\"" + std::string(600, 'a') + "\""), "당신을 사랑합니다.") << "1202 bytes is refused";
    EXPECT_EQ(welcomeOf("\"\""), "") << "an empty stored text is taken";
    EXPECT_EQ(welcomeOf("hex(2):48,00,69,00,00,00"), "Hi") << "expandable strings are taken unexpanded";
    EXPECT_EQ(welcomeOf("hex(1):48,00,69,00"), "당신을 사랑합니다.") << "no terminating null";
    EXPECT_EQ(welcomeOf("hex(1):48,00,69"), "당신을 사랑합니다.") << "odd byte count";
    EXPECT_EQ(welcomeOf("hex(1):48,00,00,00,69,00,00,00"), "H") << "up to the first null";
    EXPECT_EQ(welcomeOf("dword:00000001"), "당신을 사랑합니다.");
}

TEST(SaveSettings, RoundTripsAndLeavesTheStoredRectangleWhenNotRemembering) {
    testing_support::TemporaryDirectory folder;
    const auto file = folder.Path() / "skimora" / "settings.reg";

    platform::Settings first;
    first.windowX = 10;
    first.windowY = 20;
    first.windowW = 800;
    first.windowH = 600;
    first.welcomeMsg = "안녕 \"세상\"\n둘째 줄";
    first.webtoonWidth = 640;
    first.colorManagement = 2;
    platform::SettingsRegistry registry(file);
    app::StoreSettings(first, registry);
    ASSERT_TRUE(registry.Save());

    platform::SettingsRegistry stored(file);
    ASSERT_TRUE(stored.Load());
    platform::Settings reread;
    app::LoadSettings(stored, reread);
    EXPECT_EQ(reread.windowX, 10);
    EXPECT_EQ(reread.windowH, 600);
    EXPECT_EQ(reread.welcomeMsg, first.welcomeMsg);
    EXPECT_EQ(reread.webtoonWidth, 640);
    EXPECT_EQ(reread.colorManagement, 2);

    platform::Settings second = reread;
    second.rememberWindowPos = false;
    second.windowX = 999;
    app::StoreSettings(second, stored);
    ASSERT_TRUE(stored.Save());
    platform::SettingsRegistry third(file);
    ASSERT_TRUE(third.Load());
    const auto x = third.Query("WindowX");
    ASSERT_TRUE(x);
    EXPECT_EQ(x->data[0], 10) << "the stored rectangle stays untouched";
    platform::Settings afterOff;
    app::LoadSettings(third, afterOff);
    EXPECT_FALSE(afterOff.rememberWindowPos);
}

TEST(CaptureWindowPlacement, KeepsTheNormalRectangleWhileMaximisedOrFullScreen) {
    platform::Settings settings;
    app::CaptureWindowPlacement({false, false, 5, 6, 700, 500}, settings);
    EXPECT_EQ(settings.windowX, 5);
    EXPECT_EQ(settings.windowW, 700);
    EXPECT_FALSE(settings.windowMaximized);

    app::CaptureWindowPlacement({true, false, 0, 0, 1920, 1080}, settings);
    EXPECT_TRUE(settings.windowMaximized);
    EXPECT_EQ(settings.windowW, 700) << "maximised: the last restored rectangle stays";

    app::CaptureWindowPlacement({false, true, 0, 0, 1920, 1080}, settings);
    EXPECT_FALSE(settings.windowMaximized);
    EXPECT_EQ(settings.windowX, 5) << "full screen: likewise";

    settings.rememberWindowPos = false;
    app::CaptureWindowPlacement({true, false, 1, 1, 1, 1}, settings);
    EXPECT_FALSE(settings.windowMaximized);
}

} // namespace

namespace {

class ScopedConfigHome {
public:
    explicit ScopedConfigHome(const std::string& value) {
        if (const char* old = std::getenv("XDG_CONFIG_HOME")) {
            previous = old;
            hadPrevious = true;
        }
        ::setenv("XDG_CONFIG_HOME", value.c_str(), 1);
    }
    ~ScopedConfigHome() {
        if (hadPrevious) {
            ::setenv("XDG_CONFIG_HOME", previous.c_str(), 1);
        } else {
            ::unsetenv("XDG_CONFIG_HOME");
        }
    }

private:
    std::string previous;
    bool hadPrevious = false;
};

TEST(GlobalSettingsFile, DamagedFileLoadsWhatItCanAndUnwritableFolderIsSilent) {
    testing_support::TemporaryDirectory folder;
    const ScopedConfigHome home(folder.Path().string());
    folder.Write("skimora/settings.reg",
                 std::string("Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\Software\\Skimora]\n"
                             "\"DualView\"=dword:00000001\n\xFF\xFE garbage \"WindowX\"=dword:\n"
                             "\"WebtoonWidth\"=dword:99999999999\n"));
    platform::Settings& settings = platform::GlobalSettings();
    const platform::Settings saved = settings;
    settings = platform::Settings{};
    app::LoadSettings();
    EXPECT_TRUE(settings.dualView);
    EXPECT_EQ(settings.windowX, -1);
    EXPECT_EQ(settings.webtoonWidth, 0);

    settings.webtoonWidth = 760;
    app::SaveSettings();
    settings = platform::Settings{};
    app::LoadSettings();
    EXPECT_TRUE(settings.dualView);
    EXPECT_EQ(settings.webtoonWidth, 760);

    {
        const ScopedConfigHome unwritable("/proc/skimora-cannot-exist");
        app::SaveSettings(); // nothing to see: no crash, no exception
        settings = platform::Settings{};
        app::LoadSettings();
        EXPECT_FALSE(settings.dualView);
    }
    settings = saved;
}

} // namespace
