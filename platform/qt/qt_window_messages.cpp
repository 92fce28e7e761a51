#include "platform/qt/qt_window_messages.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QString>

namespace platform {

QEvent::Type WindowMessageEvent::EventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void InstallQtWindowMessageSink(QObject* receiver) {
    // Registering here, on the UI thread, keeps the first call of EventType off the posting threads.
    WindowMessageEvent::EventType();
    SetWindowMessageSink([receiver](WindowMessage message) {
        // postEvent is thread-safe and takes ownership of the event.
        QCoreApplication::postEvent(receiver, new WindowMessageEvent(message));
    });
}

void RemoveQtWindowMessageSink() {
    SetWindowMessageSink({});
}

void ShowMessageBox(QWidget* owner, const std::string& text, const std::string& caption,
                    MessageBoxIcon icon) {
    QMessageBox box(icon == MessageBoxIcon::Critical ? QMessageBox::Critical : QMessageBox::NoIcon,
                    QString::fromStdString(caption), QString::fromStdString(text), QMessageBox::Ok, owner);
    box.exec();
}

} // namespace platform
