#include "app/ui/about_box.h"
#include "app/ui/key_input.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using app::Operation;

Operation OperationFor(Qt::Key key, Qt::KeyboardModifiers modifiers, const app::KeyContext& context = {}) {
    const QKeyEvent event(QEvent::KeyPress, key, modifiers);
    return app::ActionForKey(app::KeyInputFromEvent(event), context).operation;
}

TEST(KeyInputFromEvent, ToolkitEventsReachTheRightBindings) {
    EXPECT_EQ(OperationFor(Qt::Key_0, Qt::KeypadModifier), Operation::ZoomReset);
    EXPECT_EQ(OperationFor(Qt::Key_0, Qt::NoModifier), Operation::None);
    EXPECT_EQ(OperationFor(Qt::Key_Plus, Qt::KeypadModifier), Operation::ZoomStepIn);
    EXPECT_EQ(OperationFor(Qt::Key_Plus, Qt::ShiftModifier), Operation::ZoomStepIn);
    EXPECT_EQ(OperationFor(Qt::Key_Equal, Qt::NoModifier), Operation::ZoomStepIn);
    EXPECT_EQ(OperationFor(Qt::Key_Minus, Qt::KeypadModifier), Operation::ZoomStepOut);
    EXPECT_EQ(OperationFor(Qt::Key_Enter, Qt::KeypadModifier), Operation::ToggleFullscreen);
    EXPECT_EQ(OperationFor(Qt::Key_I, Qt::ControlModifier), Operation::ToggleInvertColors);
    EXPECT_EQ(OperationFor(Qt::Key_I, Qt::NoModifier), Operation::SetImageFilter);
    EXPECT_EQ(OperationFor(Qt::Key_F, Qt::ControlModifier), Operation::ToggleFlipVertical);
    EXPECT_EQ(OperationFor(Qt::Key_F, Qt::NoModifier), Operation::ToggleFullscreen);
    EXPECT_EQ(OperationFor(Qt::Key_Left, Qt::AltModifier), Operation::SetRotation);
    EXPECT_EQ(OperationFor(Qt::Key_R, Qt::AltModifier), Operation::RotateBy);
    EXPECT_EQ(OperationFor(Qt::Key_Right, Qt::ControlModifier | Qt::KeypadModifier),
              Operation::GoToNextImage);
    EXPECT_EQ(OperationFor(Qt::Key_QuoteLeft, Qt::NoModifier), Operation::ToggleTitleBarPin);
    EXPECT_EQ(OperationFor(Qt::Key_Backtab, Qt::ShiftModifier), Operation::ToggleInfoPanel);
    EXPECT_EQ(OperationFor(Qt::Key_Escape, Qt::NoModifier), Operation::CloseWindow);

    const QKeyEvent shifted(QEvent::KeyPress, Qt::Key_A, Qt::ShiftModifier | Qt::AltModifier);
    const app::KeyInput input = app::KeyInputFromEvent(shifted);
    EXPECT_TRUE(input.shift);
    EXPECT_TRUE(input.alt);
    EXPECT_FALSE(input.ctrl);
    EXPECT_FALSE(input.keypad);
    EXPECT_EQ(input.key, app::keys::Letter('A'));
}

TEST(AboutBox, ShowsTheProgramTextWithTheInformationIcon) {
    QString text;
    QString title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer::singleShot(200, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        text = box->text();
        title = box->windowTitle();
        icon = box->icon();
        box->accept();
    });
    // Never hang the suite when the box did not come up as expected.
    QTimer::singleShot(5000, [] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            modal->close();
        }
    });
    app::ShowAboutBox(nullptr);
    EXPECT_EQ(text, QStringLiteral("Skimora 이미지 뷰어\n\n고성능 이미지 뷰어"));
    EXPECT_EQ(title, QStringLiteral("About"));
    EXPECT_EQ(icon, QMessageBox::Information);
}

} // namespace
