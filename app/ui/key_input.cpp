#include "app/ui/key_input.h"

#include <QKeyEvent>

namespace app {

// The bindings name keys by Qt's numbers without depending on Qt.
static_assert(keys::kEscape == Qt::Key_Escape && keys::kTab == Qt::Key_Tab &&
              keys::kBacktab == Qt::Key_Backtab);
static_assert(keys::kReturn == Qt::Key_Return && keys::kEnter == Qt::Key_Enter);
static_assert(keys::kHome == Qt::Key_Home && keys::kEnd == Qt::Key_End);
static_assert(keys::kLeft == Qt::Key_Left && keys::kUp == Qt::Key_Up && keys::kRight == Qt::Key_Right &&
              keys::kDown == Qt::Key_Down);
static_assert(keys::kPageUp == Qt::Key_PageUp && keys::kPageDown == Qt::Key_PageDown);
static_assert(keys::kF5 == Qt::Key_F5 && keys::kF6 == Qt::Key_F6 && keys::kF7 == Qt::Key_F7 &&
              keys::kF8 == Qt::Key_F8);
static_assert(keys::kSpace == Qt::Key_Space && keys::kBackspace == Qt::Key_Backspace &&
              keys::kDelete == Qt::Key_Delete);
static_assert(keys::kPlus == Qt::Key_Plus && keys::kMinus == Qt::Key_Minus && keys::kEqual == Qt::Key_Equal &&
              keys::kUnderscore == Qt::Key_Underscore);
static_assert(keys::kGrave == Qt::Key_QuoteLeft && keys::kAsciiTilde == Qt::Key_AsciiTilde);
static_assert(keys::kBracketLeft == Qt::Key_BracketLeft && keys::kBracketRight == Qt::Key_BracketRight &&
              keys::kBraceLeft == Qt::Key_BraceLeft && keys::kBraceRight == Qt::Key_BraceRight);
static_assert(keys::Letter('A') == Qt::Key_A && keys::Letter('Z') == Qt::Key_Z);
static_assert(keys::Digit(0) == Qt::Key_0 && keys::Digit(9) == Qt::Key_9);

KeyInput KeyInputFromEvent(const QKeyEvent& event) {
    const Qt::KeyboardModifiers modifiers = event.modifiers();
    KeyInput input;
    input.key = event.key();
    input.ctrl = modifiers.testFlag(Qt::ControlModifier);
    input.shift = modifiers.testFlag(Qt::ShiftModifier);
    input.alt = modifiers.testFlag(Qt::AltModifier);
    input.keypad = modifiers.testFlag(Qt::KeypadModifier);
    return input;
}

} // namespace app
