#pragma once

// Installs source hooks that record every call, and resets the process-wide source state, so that a
// test sees exactly what an operation asks of the loader, the view and the window.

#include "sources/source_list.h"

#include <string>
#include <vector>

namespace sources_test {

class HookRecorder {
public:
    HookRecorder() {
        ResetState();
        sources::SourceHooks hooks;
        hooks.openArchive = [this](const std::string& path, const std::string& entry) {
            Record("openArchive " + path + (entry.empty() ? "" : " " + entry));
        };
        hooks.openPdfDocument = [this](const std::string& path) { Record("openPdfDocument " + path); };
        hooks.closeArchives = [this] { Record("closeArchives"); };
        hooks.closeBatchDocument = [this] { Record("closeBatchDocument"); };
        hooks.goToPage = [this](int32_t page) { Record("goToPage " + std::to_string(page)); };
        hooks.requestLoad = [this] { Record("requestLoad"); };
        hooks.wakePrefetch = [this] { Record("wakePrefetch"); };
        hooks.cancelBatch = [this] { Record("cancelBatch"); };
        hooks.clearCaches = [this] { Record("clearCaches"); };
        hooks.clearCurrentImage = [this] { Record("clearCurrentImage"); };
        hooks.isDualView = [this] { return dualView; };
        hooks.isWebtoonMode = [this] { return webtoon; };
        hooks.leaveWebtoonMode = [this] {
            webtoon = false;
            Record("leaveWebtoonMode");
        };
        hooks.webtoonStripCount = [this] { return stripCount; };
        hooks.scrollStripToImage = [this](int32_t index) {
            Record("scrollStripToImage " + std::to_string(index));
        };
        hooks.scrollStripToEnd = [this](sources::StripEnd end) {
            Record(end == sources::StripEnd::Top ? "scrollStripToTop" : "scrollStripToBottom");
        };
        hooks.resetView = [this] { Record("resetView"); };
        hooks.stopWelcomeScreen = [this] { Record("stopWelcomeScreen"); };
        hooks.stopAnimation = [this] { Record("stopAnimation"); };
        hooks.updateWindowTitle = [this] { Record("updateWindowTitle"); };
        hooks.repaint = [this] { Record("repaint"); };
        hooks.showMessage = [this](const std::string& text, int milliseconds) {
            Record("showMessage " + text + " " + std::to_string(milliseconds));
        };
        sources::SetSourceHooks(std::move(hooks));
    }
    ~HookRecorder() {
        sources::SetSourceHooks({});
        ResetState();
    }
    HookRecorder(const HookRecorder&) = delete;
    HookRecorder& operator=(const HookRecorder&) = delete;

    static void ResetState() {
        sources::ReplaceSourceList({});
        sources::CurrentIndex = -1;
        sources::NavigationDirection = 1;
        sources::NavigationPending = false;
        sources::SortMode = 0;
        sources::PdfPageMode = false;
        sources::PdfPageCount = 0;
    }

    // Puts a list in place with `index` current, as if a source had been opened.
    static void SetList(std::vector<std::string> items, int32_t index) {
        sources::ReplaceSourceList(std::move(items));
        sources::CurrentIndex = index;
    }

    void Record(const std::string& event) { events.push_back(event); }
    bool Saw(const std::string& event) const {
        for (const std::string& seen : events) {
            if (seen == event) {
                return true;
            }
        }
        return false;
    }

    std::vector<std::string> events;
    bool dualView = false;
    bool webtoon = false;
    int32_t stripCount = 0;
};

} // namespace sources_test
