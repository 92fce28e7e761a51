#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The persisted preferences, one field per stored value, in the order they are read and written.
// The defaults are what a user without a settings file gets.
//
// Only the UI thread writes this record. Decoder threads read jpegHighQuality, jpegFullDecode,
// colorManagement and ultraHdrDecode directly; those change only while the modal options dialog runs.
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
    bool jpegHighQuality = false;
    bool jpegFullDecode = false;
    int32_t interpolationMode = 1; // 0..3; other values act as 1
    int32_t colorManagement = 0;   // 0 off, 1 embedded profile to display, 2 display profile afterwards
    bool ultraHdrDecode = true;
};

// The process-wide record.
Settings& GlobalSettings();

} // namespace platform
