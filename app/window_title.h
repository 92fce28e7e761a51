#pragma once

#include "sources/source_list.h"

#include <cstddef>
#include <string>

namespace app {

// The title when no item is current.
inline constexpr const char* kEmptyWindowTitle = "스키모라 Skimora";
// The title the window is created with, before any title is computed.
inline constexpr const char* kInitialWindowTitle = "스키모라 Skimora - 초고속 이미지 뷰어";

// The frame counter of an animated image: the frame shown (from 1) and the frame count. Shown only for
// more than one frame.
struct FrameCounter {
    size_t frameNumber = 0;
    size_t frameCount = 0;
};

// The window title for the current item: "folder/name [i/n] - 스키모라" for a plain file,
// "archive.zip::entry [i/n] - 스키모라" for an archive entry, "document.pdf [i/n] - 스키모라" for a PDF
// page, with " [frame/frames]" before the position for an animation. No current item gives
// kEmptyWindowTitle.
std::string FormatWindowTitle(const sources::CurrentItem& item, FrameCounter frames = {});

} // namespace app
