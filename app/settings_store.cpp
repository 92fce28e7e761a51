#include "app/settings_store.h"

#include "platform/text.h"

#include <type_traits>

namespace app {

namespace {

// The registry's own limit for the welcome text: 1024 bytes of UTF-16, terminating null included.
constexpr size_t kWelcomeBufferBytes = 1024;

void ReadDword(const platform::SettingsRegistry& registry, const char* name, int32_t& field) {
    const auto value = registry.Query(name);
    if (value && value->type == platform::RegistryType::Dword && value->data.size() == 4) {
        const auto& d = value->data;
        field = static_cast<int32_t>(d[0] | (d[1] << 8) | (d[2] << 16) | (static_cast<uint32_t>(d[3]) << 24));
    }
}

void ReadBool(const platform::SettingsRegistry& registry, const char* name, bool& field) {
    int32_t number = field ? 1 : 0;
    ReadDword(registry, name, number);
    field = number != 0;
}

template <typename T>
void ReadShared(const platform::SettingsRegistry& registry, const char* name, platform::SharedSetting<T>& field) {
    T value = field;
    if constexpr (std::is_same_v<T, bool>) {
        ReadBool(registry, name, value);
    } else {
        ReadDword(registry, name, value);
    }
    field = value;
}

void ReadWelcome(const platform::SettingsRegistry& registry, std::string& field) {
    const auto value = registry.Query("WelcomeMsg");
    if (!value ||
        (value->type != platform::RegistryType::String && value->type != platform::RegistryType::ExpandString)) {
        return;
    }
    const auto& data = value->data;
    if (data.size() > kWelcomeBufferBytes) {
        return;
    }
    if (!data.empty() && (data.size() % 2 != 0 || data[data.size() - 1] != 0 || data[data.size() - 2] != 0)) {
        return;
    }
    std::u16string text;
    for (size_t i = 0; i + 1 < data.size(); i += 2) {
        const char16_t unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (unit == 0) {
            break;
        }
        text.push_back(unit);
    }
    field = platform::Utf16ToUtf8(text);
}

void WriteDword(platform::SettingsRegistry& registry, const char* name, int32_t number) {
    registry.SetDword(name, static_cast<uint32_t>(number));
}

void WriteBool(platform::SettingsRegistry& registry, const char* name, bool flag) {
    registry.SetDword(name, flag ? 1u : 0u);
}

} // namespace

void LoadSettings(const platform::SettingsRegistry& registry, platform::Settings& settings) {
    ReadBool(registry, "RememberWindowPos", settings.rememberWindowPos);
    if (settings.rememberWindowPos) {
        ReadDword(registry, "WindowX", settings.windowX);
        ReadDword(registry, "WindowY", settings.windowY);
        ReadDword(registry, "WindowW", settings.windowW);
        ReadDword(registry, "WindowH", settings.windowH);
        ReadBool(registry, "WindowMaximized", settings.windowMaximized);
    }
    ReadBool(registry, "FitToWindow", settings.fitToWindow);
    ReadBool(registry, "ShowExifPanel", settings.showExifPanel);
    ReadBool(registry, "DualView", settings.dualView);
    ReadBool(registry, "WebtoonMode", settings.webtoonMode);
    ReadDword(registry, "WebtoonWidth", settings.webtoonWidth);
    ReadBool(registry, "DarkMode", settings.darkMode);
    ReadDword(registry, "LastImageFilter", settings.lastImageFilter);
    ReadWelcome(registry, settings.welcomeMsg);
    ReadBool(registry, "TitleBarPinned", settings.titleBarPinned);
    ReadBool(registry, "PreviewMode", settings.previewMode);
    ReadShared(registry, "JpegHighQuality", settings.jpegHighQuality);
    ReadShared(registry, "JpegFullDecode", settings.jpegFullDecode);
    ReadDword(registry, "InterpolationMode", settings.interpolationMode);
    ReadShared(registry, "ColorManagement", settings.colorManagement);
    ReadShared(registry, "UltraHdrDecode", settings.ultraHdrDecode);
}

void StoreSettings(const platform::Settings& settings, platform::SettingsRegistry& registry) {
    WriteBool(registry, "RememberWindowPos", settings.rememberWindowPos);
    if (settings.rememberWindowPos) {
        WriteDword(registry, "WindowX", settings.windowX);
        WriteDword(registry, "WindowY", settings.windowY);
        WriteDword(registry, "WindowW", settings.windowW);
        WriteDword(registry, "WindowH", settings.windowH);
        WriteBool(registry, "WindowMaximized", settings.windowMaximized);
    }
    WriteBool(registry, "FitToWindow", settings.fitToWindow);
    WriteBool(registry, "ShowExifPanel", settings.showExifPanel);
    WriteBool(registry, "DualView", settings.dualView);
    WriteBool(registry, "WebtoonMode", settings.webtoonMode);
    WriteDword(registry, "WebtoonWidth", settings.webtoonWidth);
    WriteBool(registry, "DarkMode", settings.darkMode);
    WriteDword(registry, "LastImageFilter", settings.lastImageFilter);
    registry.SetString("WelcomeMsg", settings.welcomeMsg);
    WriteBool(registry, "TitleBarPinned", settings.titleBarPinned);
    WriteBool(registry, "PreviewMode", settings.previewMode);
    WriteBool(registry, "JpegHighQuality", settings.jpegHighQuality);
    WriteBool(registry, "JpegFullDecode", settings.jpegFullDecode);
    WriteDword(registry, "InterpolationMode", settings.interpolationMode);
    WriteDword(registry, "ColorManagement", settings.colorManagement);
    WriteBool(registry, "UltraHdrDecode", settings.ultraHdrDecode);
}

void LoadSettings() {
    platform::SettingsRegistry registry(platform::SettingsRegistry::DefaultPath());
    registry.Load();
    LoadSettings(registry, platform::GlobalSettings());
}

void SaveSettings() {
    platform::SettingsRegistry registry(platform::SettingsRegistry::DefaultPath());
    // Start from what is stored so that values this save leaves out (the window rectangle while
    // "RememberWindowPos" is off) stay as they are.
    registry.Load();
    StoreSettings(platform::GlobalSettings(), registry);
    registry.Save();
}

void CaptureWindowPlacement(const WindowPlacement& placement, platform::Settings& settings) {
    if (!settings.rememberWindowPos) {
        return;
    }
    settings.windowMaximized = placement.maximized;
    if (!placement.fullScreen && !placement.maximized) {
        settings.windowX = placement.normalX;
        settings.windowY = placement.normalY;
        settings.windowW = placement.normalWidth;
        settings.windowH = placement.normalHeight;
    }
}

} // namespace app
