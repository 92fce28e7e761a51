#include "app/ui/context_menu.h"

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMenu>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using app::CommandId;

QAction* ActionFor(QMenu& menu, CommandId command) {
    for (QAction* action : menu.actions()) {
        if (app::ContextMenuCommand(action) == command) {
            return action;
        }
        if (action->menu() != nullptr) {
            if (QAction* inner = ActionFor(*action->menu(), command)) {
                return inner;
            }
        }
    }
    return nullptr;
}

TEST(ContextMenu, BuildsEveryItemDarkWithSplitLabelsAndChecks) {
    app::MenuState state;
    state.dualView = true;
    state.showInfoPanel = true;
    state.sortMode = 1;
    const std::unique_ptr<QMenu> menu = app::BuildContextMenu(state, nullptr);
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 42);
    int separators = 0;
    for (QAction* action : actions) {
        separators += action->isSeparator() ? 1 : 0;
        EXPECT_FALSE(action->text().contains(QLatin1Char('&'))) << action->text().toStdString();
    }
    EXPECT_EQ(separators, 10);
    EXPECT_EQ(actions[0]->text(), QStringLiteral("파일 열기\tO"));
    EXPECT_EQ(actions[2]->text(), QStringLiteral("이전 이미지\t← , 휠↑"));
    EXPECT_EQ(actions[38]->text(), QStringLiteral("옵션\t(O)"));
    EXPECT_EQ(actions[41]->text(), QStringLiteral("종료(X)"));
    EXPECT_EQ(app::ContextMenuCommand(actions[41]), CommandId::Exit);
    EXPECT_FALSE(app::ContextMenuCommand(actions[1]).has_value()) << "a separator";

    EXPECT_TRUE(ActionFor(*menu, CommandId::DualView)->isChecked());
    EXPECT_TRUE(ActionFor(*menu, CommandId::ToggleInfoPanel)->isChecked());
    for (CommandId unchecked :
         {CommandId::ViewFitShrinkOnly, CommandId::ViewFitAlways, CommandId::ViewActualSize,
          CommandId::WebtoonFullWidth, CommandId::ToggleFullscreen, CommandId::SortByName}) {
        EXPECT_FALSE(ActionFor(*menu, unchecked)->isChecked()) << static_cast<int>(unchecked);
    }

    QMenu* sort = actions[36]->menu();
    ASSERT_NE(sort, nullptr);
    EXPECT_EQ(actions[36]->text(), QStringLiteral("정렬"));
    EXPECT_FALSE(app::ContextMenuCommand(actions[36]).has_value());
    ASSERT_EQ(sort->actions().size(), 2);
    EXPECT_EQ(app::ContextMenuCommand(sort->actions()[1]), CommandId::SortNatural);
    EXPECT_TRUE(sort->actions()[1]->isChecked());

    for (QMenu* styled : {menu.get(), sort}) {
        EXPECT_EQ(styled->palette().color(QPalette::Window), QColor(0x2D, 0x2D, 0x2D));
        EXPECT_EQ(styled->palette().color(QPalette::Text), QColor(0xE0, 0xE0, 0xE0));
        EXPECT_EQ(styled->palette().color(QPalette::Highlight), QColor(0x3D, 0x3D, 0x3D));
        for (const char* colour : {"#2D2D2D", "#3D3D3D", "#E0E0E0", "#1D1D1D"}) {
            EXPECT_TRUE(styled->styleSheet().contains(QLatin1String(colour))) << colour;
        }
    }
}

TEST(ContextMenu, DrawsDarkItemsAHighlightAndTwoToneSeparators) {
    const std::unique_ptr<QMenu> menu = app::BuildContextMenu(app::MenuState{}, nullptr);
    menu->popup(QPoint(50, 50));
    QAction* next = ActionFor(*menu, CommandId::NextImage);
    menu->setActiveAction(next);
    QApplication::processEvents();
    const QImage image = menu->grab().toImage();
    menu->close();

    const auto colourAt = [&](int x, int y) { return QColor(image.pixel(x, y)); };
    const QRect active = menu->actionGeometry(next);
    const QRect normal = menu->actionGeometry(ActionFor(*menu, CommandId::PreviousImage));
    EXPECT_EQ(colourAt(active.right() - 2, active.center().y()), QColor(0x3D, 0x3D, 0x3D));
    EXPECT_EQ(colourAt(normal.right() - 2, normal.center().y()), QColor(0x2D, 0x2D, 0x2D));

    // Somewhere in the separator's rows lie a 0x3D3D3D line and, right below it, a 0x1D1D1D one.
    const QRect separator = menu->actionGeometry(menu->actions()[1]);
    const int x = separator.center().x();
    bool twoTone = false;
    for (int y = separator.top(); y < separator.bottom(); ++y) {
        twoTone = twoTone || (colourAt(x, y) == QColor(0x3D, 0x3D, 0x3D) &&
                              colourAt(x, y + 1) == QColor(0x1D, 0x1D, 0x1D));
    }
    EXPECT_TRUE(twoTone);
    EXPECT_EQ(colourAt(x, separator.top()), QColor(0x2D, 0x2D, 0x2D)) << "the line has room above it";
}

// Opens the menu, and once it is up picks `command` with the keyboard (or dismisses it with Esc when
// there is none); returns what the menu reported.
std::optional<CommandId> ChooseFromMenu(std::optional<CommandId> command) {
    QTimer::singleShot(200, [command] {
        auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(popup, nullptr);
        int key = Qt::Key_Escape;
        if (command) {
            QAction* action = ActionFor(*popup, *command);
            ASSERT_NE(action, nullptr);
            popup->setActiveAction(action);
            key = Qt::Key_Return;
        }
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(popup, &press);
    });
    // Never hang the suite when the popup did not come up.
    QTimer::singleShot(5000, [] {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            popup->close();
        }
    });
    return app::TrackContextMenu(app::MenuState{}, QPoint(100, 100), nullptr);
}

TEST(ContextMenu, ChoosingAnItemYieldsItsCommandAndDismissingYieldsNothing) {
    EXPECT_EQ(ChooseFromMenu(CommandId::Options), CommandId::Options);
    EXPECT_EQ(ChooseFromMenu(CommandId::RotateRight), CommandId::RotateRight);
    EXPECT_EQ(ChooseFromMenu(std::nullopt), std::nullopt);
}

} // namespace
