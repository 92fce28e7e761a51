#pragma once

#include "app/commands.h"
#include "app/menu_model.h"

#include <QPoint>

#include <memory>
#include <optional>

class QAction;
class QMenu;
class QWidget;

namespace app {

// The dark context menu for `state`: every item of BuildContextMenuModel in order, labels without "&"
// and with the shortcut text right-aligned, checked items marked. Each action carries its command
// identifier (ContextMenuCommand). The menu is built anew for every opening.
std::unique_ptr<QMenu> BuildContextMenu(const MenuState& state, QWidget* owner);

// The command an action of the context menu stands for; nothing for separators, submenu entries and
// foreign actions.
std::optional<CommandId> ContextMenuCommand(const QAction* action);

// Builds the menu, tracks it at `globalPosition` (screen coordinates, left and top aligned) and
// returns the chosen command, or nothing when the menu was dismissed.
std::optional<CommandId> TrackContextMenu(const MenuState& state, const QPoint& globalPosition,
                                          QWidget* owner);

} // namespace app
