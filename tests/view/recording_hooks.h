#pragma once

#include <string>
#include <utility>
#include <vector>

#include "view/view_hooks.h"

// ViewHooks that log every call as a short line, so tests can check what an operation asked for and in
// which order.
struct RecordingHooks {
    std::vector<std::string> calls;
    std::vector<std::pair<std::string, uint32_t>> messages;
    view::ViewHooks hooks;

    RecordingHooks() {
        hooks.repaint = [this] { calls.push_back("repaint"); };
        hooks.showMessage = [this](const std::string& text, uint32_t ms) {
            calls.push_back("message");
            messages.emplace_back(text, ms);
        };
        hooks.updateWindowTitle = [this] { calls.push_back("title"); };
        hooks.requestLoad = [this] { calls.push_back("load"); };
        hooks.wakePrefetch = [this] { calls.push_back("prefetch"); };
        hooks.startBatch = [this] { calls.push_back("batch"); };
        hooks.selectWebtoonWidth = [this](uint32_t width) {
            calls.push_back("width " + std::to_string(width));
        };
        hooks.stopAnimation = [this] { calls.push_back("stop animation"); };
        hooks.publishCurrentIndex = [this](int32_t index) {
            calls.push_back("index " + std::to_string(index));
        };
        hooks.startTimer = [this](view::ViewTimer timer, uint32_t ms) {
            calls.push_back("start " + std::to_string(static_cast<uint32_t>(timer)) + " " +
                            std::to_string(ms));
        };
        hooks.killTimer = [this](view::ViewTimer timer) {
            calls.push_back("kill " + std::to_string(static_cast<uint32_t>(timer)));
        };
        hooks.showOpenFileDialog = [this] { calls.push_back("open dialog"); };
        hooks.goToPreviousImage = [this] { calls.push_back("previous"); };
        hooks.goToNextImage = [this] { calls.push_back("next"); };
    }

    void Clear() {
        calls.clear();
        messages.clear();
    }
    std::string LastMessage() const { return messages.empty() ? std::string() : messages.back().first; }
    uint32_t LastMessageMs() const { return messages.empty() ? 0 : messages.back().second; }
};
