#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace view {

// Timers of the main window that the view's operations start and stop.
enum class ViewTimer : uint32_t {
    Message = 100,     // 50 ms: repaint while a timed message is shown
    Welcome = 103,     // 30 ms: welcome animation
    Animation = 104,   // 16 ms: control-bar and strip-progress animation
    FirstNotice = 110, // 2000 ms: ends the first-image notice
    LastNotice = 111,  // 2000 ms: ends the last-image notice
};

// What the view's operations ask of the window and the other subsystems. The window wires these once;
// an unset hook is skipped, so tests and tools can run the operations without a window. All hooks are
// called on the window thread.
struct ViewHooks {
    std::function<void()> repaint; // invalidate the whole client area, no erase
    std::function<void(const std::string& text, uint32_t milliseconds)> showMessage;
    std::function<void()> updateWindowTitle;
    std::function<void()> requestLoad;
    std::function<void()> wakePrefetch;
    std::function<void()> startBatch;
    std::function<void(uint32_t columnWidth)> selectWebtoonWidth; // places the window for 640, 760 or 800
    std::function<void()> stopAnimation;                          // the running animated image, if any
    std::function<void(int32_t index)> publishCurrentIndex;
    std::function<void(ViewTimer timer, uint32_t milliseconds)> startTimer;
    std::function<void(ViewTimer timer)> killTimer;
    std::function<void()> showOpenFileDialog;
    std::function<void()> goToPreviousImage;
    std::function<void()> goToNextImage;

    void Repaint() const {
        if (repaint) {
            repaint();
        }
    }
    void ShowMessage(const std::string& text, uint32_t milliseconds) const {
        if (showMessage) {
            showMessage(text, milliseconds);
        }
    }
    void UpdateWindowTitle() const {
        if (updateWindowTitle) {
            updateWindowTitle();
        }
    }
    void RequestLoad() const {
        if (requestLoad) {
            requestLoad();
        }
    }
    void WakePrefetch() const {
        if (wakePrefetch) {
            wakePrefetch();
        }
    }
    void StartBatch() const {
        if (startBatch) {
            startBatch();
        }
    }
    void SelectWebtoonWidth(uint32_t columnWidth) const {
        if (selectWebtoonWidth) {
            selectWebtoonWidth(columnWidth);
        }
    }
    void StopAnimation() const {
        if (stopAnimation) {
            stopAnimation();
        }
    }
    void PublishCurrentIndex(int32_t index) const {
        if (publishCurrentIndex) {
            publishCurrentIndex(index);
        }
    }
    void StartTimer(ViewTimer timer, uint32_t milliseconds) const {
        if (startTimer) {
            startTimer(timer, milliseconds);
        }
    }
    void KillTimer(ViewTimer timer) const {
        if (killTimer) {
            killTimer(timer);
        }
    }
    void ShowOpenFileDialog() const {
        if (showOpenFileDialog) {
            showOpenFileDialog();
        }
    }
    void GoToPreviousImage() const {
        if (goToPreviousImage) {
            goToPreviousImage();
        }
    }
    void GoToNextImage() const {
        if (goToNextImage) {
            goToNextImage();
        }
    }
};

} // namespace view
