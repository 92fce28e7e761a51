#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/commands.h"

// The context menu as data: every item, separator and submenu in order with its check state, built
// fresh for each opening from a snapshot of the window's state. The toolkit layer turns it into a popup.
namespace app {

// What the check marks depend on.
struct MenuState {
    bool webtoonMode = false;
    uint32_t webtoonWidth = 0;
    bool dualView = false;
    int32_t fitMode = 0;
    bool autoOrient = false;
    bool showInfoPanel = false;
    bool fullscreen = false;
    uint32_t sortMode = 0;
};

enum class MenuItemKind { Command, Separator, Submenu };

struct MenuItem {
    MenuItemKind kind = MenuItemKind::Command;
    CommandId command = CommandId::OpenFile; // Command items only
    std::string text;                        // label, then "\t" and the shortcut text when there is one
    bool checked = false;
    bool enabled = true;
    std::vector<MenuItem> children; // Submenu items only
};

std::vector<MenuItem> BuildContextMenuModel(const MenuState& state);

// A label as drawn: every "&" removed and split at the first "\t" into the left-aligned text and the
// right-aligned shortcut (empty when there is none).
struct MenuLabel {
    std::string text;
    std::string shortcut;
};

MenuLabel SplitMenuLabel(std::string_view label);

} // namespace app
