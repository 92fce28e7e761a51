#pragma once

#include "platform/window_messages.h"

#include <QEvent>

class QObject;
class QWidget;

namespace platform {

// The Qt event that carries one WindowMessage to the main window's thread.
class WindowMessageEvent : public QEvent {
public:
    static QEvent::Type EventType();

    explicit WindowMessageEvent(WindowMessage message) : QEvent(EventType()), message(message) {}

    WindowMessage Message() const { return message; }

private:
    WindowMessage message;
};

// Makes PostToWindow queue a WindowMessageEvent for `receiver`, from any thread. The receiver calls
// RemoveQtWindowMessageSink in its destructor; from then on no post reaches it, even while background
// threads still run. Events already queued are discarded by Qt with the receiver.
void InstallQtWindowMessageSink(QObject* receiver);
void RemoveQtWindowMessageSink();

enum class MessageBoxIcon { None, Critical };

// A modal message box with an OK button only, owned by `owner` (may be null).
void ShowMessageBox(QWidget* owner, const std::string& text, const std::string& caption, MessageBoxIcon icon);

} // namespace platform
