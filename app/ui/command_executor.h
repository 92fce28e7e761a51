#pragma once

#include "app/commands.h"
#include "view/view_hooks.h"
#include "view/view_state.h"

#include <cstdint>
#include <functional>

// Carries out the Action of a key or a command on the window's state. Plain view-state changes go
// through the view's operations; everything that belongs to the window, the strip or the sources is
// asked of the hooks, in the order the operation needs. Window thread only.
namespace app {

// The window-side operations. An unset hook is skipped, so tests and tools can run without a window.
struct CommandHooks {
    std::function<void()> toggleFullscreen;
    std::function<void()> closeWindow;
    std::function<void()> showOptions; // the options command, including the panel refresh afterwards
    std::function<void()> showAbout;
    std::function<void()> toggleInfoPanel;
    std::function<void(int32_t direction)> setNavigationDirection;
    std::function<void(int32_t page)> goToPage;
    std::function<void(int32_t direction)> openAdjacentContainer; // GetAdjacent + OpenPath
    std::function<void(uint32_t mode)> sortCommand;
    std::function<void(bool pinned)> saveTitleBarPinned; // the setting TitleBarPinned, saved at once
    // The strip.
    std::function<void(float scroll)> setStripScroll;
    std::function<void()> updateStripIndex;
    std::function<void()> setStripStartToCurrent; // stripStartIndex ← CurrentIndex
    std::function<void()> prepareBatchDocument;
    std::function<void()> preparePageDocument;
    std::function<void()> closeBatchDocument;
    std::function<void()> cancelBatch;
    std::function<void()> clearStrip;
};

// What an action may change.
struct CommandTargets {
    view::ViewState& viewState;
    view::LayoutState& layout;
    bool& titleBarPinned;
    const view::ViewHooks& viewHooks;
    const CommandHooks& hooks;
};

void ExecuteAction(const Action& action, const CommandTargets& targets);

} // namespace app
