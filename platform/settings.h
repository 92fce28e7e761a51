#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace platform {

// A preference that decoder threads read while the UI thread may change it (the options dialog runs
// while images load). A relaxed atomic, yet copied, assigned and read like the plain value, so the
// record stays a plain record for everyone else.
template <typename T> class SharedSetting {
public:
    SharedSetting(T initial = T{}) : value(initial) {}
    SharedSetting(const SharedSetting& other) : value(other.Get()) {}
    SharedSetting& operator=(const SharedSetting& other) {
        Set(other.Get());
        return *this;
    }
    SharedSetting& operator=(T newValue) {
        Set(newValue);
        return *this;
    }
    operator T() const { return Get(); }
    T Get() const { return value.load(std::memory_order_relaxed); }
    void Set(T newValue) { value.store(newValue, std::memory_order_relaxed); }

private:
    std::atomic<T> value;
};

// The persisted preferences, one field per stored value, in the order they are read and written.
// The defaults are what a user without a settings file gets.
//
// Only the UI thread writes this record. Decoder threads read jpegHighQuality, jpegFullDecode,
// colorManagement and ultraHdrDecode directly, which is why those four are shared settings.
struct Settings {
    bool rememberWindowPos = true;
    int32_t windowX = -1;
    int32_t windowY = -1;
    int32_t windowW = -1; // <= 0: no rectangle stored
    int32_t windowH = -1;
    bool windowMaximized = false;
    bool fitToWindow = true;
    bool showExifPanel = false;
    bool dualView = false;
    bool webtoonMode = false;
    int32_t webtoonWidth = 0; // 0 (full width), 640, 760 or 800
    bool darkMode = true;
    int32_t lastImageFilter = 0; // 0 none, 1 soften, 2 sharpen
    std::string welcomeMsg = "당신을 사랑합니다.";
    bool titleBarPinned = false;
    bool previewMode = false;
    SharedSetting<bool> jpegHighQuality = false;
    SharedSetting<bool> jpegFullDecode = false;
    int32_t interpolationMode = 1; // 0..3; other values act as 1
    SharedSetting<int32_t> colorManagement = 0; // 0 off, 1 embedded profile to display, 2 display profile afterwards
    SharedSetting<bool> ultraHdrDecode = true;
};

// The process-wide record.
Settings& GlobalSettings();

} // namespace platform
