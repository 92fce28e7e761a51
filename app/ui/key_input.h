#pragma once

#include "app/commands.h"

class QKeyEvent;

namespace app {

// The key press as the bindings read it: Qt's key code, the Ctrl, Shift and Alt states and whether the
// key sits on the numeric keypad. Ctrl means the Control key (Qt's ControlModifier on Linux).
KeyInput KeyInputFromEvent(const QKeyEvent& event);

} // namespace app
