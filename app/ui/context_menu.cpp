#include "app/ui/context_menu.h"

#include <QAction>
#include <QMenu>
#include <QPalette>
#include <QString>
#include <QStyle>
#include <QVariant>

namespace app {

namespace {

const char* const kCommandProperty = "skimoraCommand";

// Background 0x2D2D2D, the selected item 0x3D3D3D with white text, normal text 0xE0E0E0, disabled
// 0x808080. A separator is 7 high: a 0x3D3D3D line over a 0x1D1D1D line, inset by the item height
// base on the left and 5 on the right like the item text.
QString MenuStyleSheet(int itemHeightBase) {
    return QStringLiteral("QMenu { background-color: #2D2D2D; color: #E0E0E0; border: 1px solid #414141; "
                          "border-right-color: #232323; border-bottom-color: #232323; padding: 2px 0px; }"
                          "QMenu::item { background-color: transparent; color: #E0E0E0; "
                          "padding: 4px 5px 4px %1px; }"
                          "QMenu::item:selected { background-color: #3D3D3D; color: #FFFFFF; }"
                          "QMenu::item:disabled { color: #808080; }"
                          "QMenu::item:disabled:selected { background-color: #2D2D2D; }"
                          "QMenu::separator { height: 1px; background-color: #3D3D3D; "
                          "border-bottom: 1px solid #1D1D1D; margin: 2px 5px 3px %1px; }")
        .arg(itemHeightBase);
}

QPalette MenuPalette(QPalette palette) {
    const QColor background(0x2D, 0x2D, 0x2D);
    const QColor text(0xE0, 0xE0, 0xE0);
    for (QPalette::ColorRole role : {QPalette::Window, QPalette::Base, QPalette::Button}) {
        palette.setColor(role, background);
    }
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        palette.setColor(role, text);
        palette.setColor(QPalette::Disabled, role, QColor(0x80, 0x80, 0x80));
    }
    palette.setColor(QPalette::Highlight, QColor(0x3D, 0x3D, 0x3D));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    return palette;
}

void StyleMenu(QMenu& menu) {
    // The system's menu height at 96 DPI; Qt scales it with the screen.
    constexpr int kItemHeightBase = 20;
    menu.setPalette(MenuPalette(menu.palette()));
    menu.setStyleSheet(MenuStyleSheet(kItemHeightBase));
}

// Qt draws the text after a tab right-aligned as the shortcut column and reads "&" as a mnemonic, so
// the label is rebuilt from its parts without any "&".
QString ActionText(const std::string& label) {
    const MenuLabel parts = SplitMenuLabel(label);
    QString text = QString::fromStdString(parts.text);
    if (!parts.shortcut.empty()) {
        text += QLatin1Char('\t') + QString::fromStdString(parts.shortcut);
    }
    return text;
}

void AddItems(QMenu& menu, const std::vector<MenuItem>& items) {
    for (const MenuItem& item : items) {
        switch (item.kind) {
        case MenuItemKind::Separator:
            menu.addSeparator();
            break;
        case MenuItemKind::Submenu: {
            QMenu* submenu = menu.addMenu(ActionText(item.text));
            StyleMenu(*submenu);
            AddItems(*submenu, item.children);
            break;
        }
        case MenuItemKind::Command: {
            QAction* action = menu.addAction(ActionText(item.text));
            action->setProperty(kCommandProperty, static_cast<int>(item.command));
            action->setEnabled(item.enabled);
            // Only checked items are checkable, so unchecked ones show no empty indicator box.
            action->setCheckable(item.checked);
            action->setChecked(item.checked);
            break;
        }
        }
    }
}

} // namespace

std::unique_ptr<QMenu> BuildContextMenu(const MenuState& state, QWidget* owner) {
    auto menu = std::make_unique<QMenu>(owner);
    StyleMenu(*menu);
    AddItems(*menu, BuildContextMenuModel(state));
    return menu;
}

std::optional<CommandId> ContextMenuCommand(const QAction* action) {
    if (action == nullptr) {
        return std::nullopt;
    }
    const QVariant value = action->property(kCommandProperty);
    if (!value.isValid()) {
        return std::nullopt;
    }
    return ToCommandId(value.toInt());
}

std::optional<CommandId> TrackContextMenu(const MenuState& state, const QPoint& globalPosition,
                                          QWidget* owner) {
    const std::unique_ptr<QMenu> menu = BuildContextMenu(state, owner);
    return ContextMenuCommand(menu->exec(globalPosition));
}

} // namespace app
