#include "app/window_title.h"

#include "decode/format_registry.h"

#include <cstdio>
#include <string_view>

namespace app {

namespace {

// The text after the last "/"; the whole text without one. A backslash is an ordinary file-name
// character here.
std::string_view NameAfterSeparator(std::string_view path) {
    const size_t separator = path.rfind('/');
    return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

std::string BaseText(std::string_view path) {
    const sources::SplitPath split = sources::SplitItemPath(path);
    if (!split.hasEntry) {
        const size_t separator = path.rfind('/');
        if (separator == std::string_view::npos) {
            return std::string(path);
        }
        std::string base(NameAfterSeparator(path.substr(0, separator)));
        base += '/';
        base += path.substr(separator + 1);
        return base;
    }
    std::string base(NameAfterSeparator(split.container));
    if (decode::IsPdfExtension(decode::GetLowerExtension(split.container))) {
        return base;
    }
    base += sources::kContainerSeparator;
    base += split.entry;
    return base;
}

} // namespace

std::string FormatWindowTitle(const sources::CurrentItem& item, FrameCounter frames) {
    if (item.path.empty() || item.index < 0 || static_cast<size_t>(item.index) >= item.count) {
        return kEmptyWindowTitle;
    }
    std::string title = BaseText(item.path);
    char counter[64];
    if (frames.frameCount > 1) {
        std::snprintf(counter, sizeof counter, " [%zu/%zu]", frames.frameNumber, frames.frameCount);
        title += counter;
    }
    std::snprintf(counter, sizeof counter, " [%d/%zu]", item.index + 1, item.count);
    title += counter;
    title += " - 스키모라";
    return title;
}

} // namespace app
