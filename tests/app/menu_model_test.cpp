#include "app/menu_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace {

using app::CommandId;
using app::MenuItem;
using app::MenuItemKind;
using app::MenuState;

const MenuItem* Find(const std::vector<MenuItem>& items, CommandId command) {
    for (const MenuItem& item : items) {
        if (item.kind == MenuItemKind::Command && item.command == command) {
            return &item;
        }
        if (const MenuItem* child = Find(item.children, command)) {
            return child;
        }
    }
    return nullptr;
}

// The check marks of the view-mode block (items 6–13) in menu order.
std::vector<bool> ViewChecks(const MenuState& state) {
    const auto items = app::BuildContextMenuModel(state);
    std::vector<bool> checks;
    for (CommandId id : {CommandId::ViewFitShrinkOnly, CommandId::ViewFitAlways, CommandId::ViewActualSize,
                         CommandId::WebtoonFullWidth, CommandId::Webtoon640, CommandId::Webtoon760,
                         CommandId::Webtoon800, CommandId::DualView}) {
        checks.push_back(Find(items, id)->checked);
    }
    return checks;
}

TEST(ContextMenuModel, HasEveryItemInOrderWithSeparatorsAndTheSortSubmenu) {
    const auto items = app::BuildContextMenuModel({});
    ASSERT_EQ(items.size(), 42u);
    const std::set<size_t> separators = {1, 4, 13, 16, 21, 28, 33, 35, 37, 39};
    std::set<int32_t> ids;
    for (size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(items[i].kind == MenuItemKind::Separator, separators.count(i) == 1) << "item " << i + 1;
        if (items[i].kind == MenuItemKind::Command) {
            EXPECT_TRUE(ids.insert(static_cast<int32_t>(items[i].command)).second)
                << "duplicate at " << i + 1;
            EXPECT_TRUE(app::ToCommandId(static_cast<int32_t>(items[i].command)).has_value());
            EXPECT_TRUE(items[i].enabled);
        }
    }
    EXPECT_EQ(items.front().command, CommandId::OpenFile);
    EXPECT_EQ(items.front().text, "파일 열기\t&O");
    EXPECT_EQ(items[26].command, CommandId::RotateRight);
    EXPECT_EQ(items[26].text, "오른쪽으로 돌려보기\tAlt+→");
    EXPECT_EQ(items.back().command, CommandId::Exit);
    EXPECT_EQ(items.back().text, "종료(&X)");

    const MenuItem& sort = items[36];
    ASSERT_EQ(sort.kind, MenuItemKind::Submenu);
    EXPECT_EQ(sort.text, "정렬");
    ASSERT_EQ(sort.children.size(), 2u);
    EXPECT_EQ(sort.children[0].command, CommandId::SortByName);
    EXPECT_EQ(sort.children[1].command, CommandId::SortNatural);
    EXPECT_EQ(sort.children[1].text, "자연 정렬 (숫자 인식)");
}

TEST(ContextMenuModel, ViewModeChecksInSingleDualAndWebtoonLayouts) {
    MenuState single;
    single.fitMode = 2;
    EXPECT_EQ(ViewChecks(single), (std::vector<bool>{false, true, false, false, false, false, false, false}));
    single.fitMode = 1;
    EXPECT_EQ(ViewChecks(single), (std::vector<bool>{false, false, true, false, false, false, false, false}));
    single.fitMode = 7;
    EXPECT_EQ(ViewChecks(single), std::vector<bool>(8, false)) << "an unknown fit mode checks nothing";

    MenuState dual;
    dual.dualView = true;
    EXPECT_EQ(ViewChecks(dual), (std::vector<bool>{false, false, false, false, false, false, false, true}));

    for (uint32_t width : {0u, 640u, 760u, 800u}) {
        MenuState strip;
        strip.webtoonMode = true;
        strip.webtoonWidth = width;
        const auto checks = ViewChecks(strip);
        EXPECT_EQ(std::count(checks.begin(), checks.begin() + 3, true), 0) << width;
        EXPECT_EQ(std::count(checks.begin() + 3, checks.begin() + 7, true), 1) << width;
        EXPECT_FALSE(checks[7]);
    }
    MenuState oddWidth;
    oddWidth.webtoonMode = true;
    oddWidth.webtoonWidth = 700;
    EXPECT_EQ(ViewChecks(oddWidth), std::vector<bool>(8, false));
}

TEST(ContextMenuModel, ToggleAndSortChecksFollowTheState) {
    MenuState state;
    auto items = app::BuildContextMenuModel(state);
    for (CommandId id : {CommandId::AutoOrient, CommandId::ToggleInfoPanel, CommandId::ToggleFullscreen,
                         CommandId::SortNatural, CommandId::ZoomIn, CommandId::Options}) {
        EXPECT_FALSE(Find(items, id)->checked) << static_cast<int32_t>(id);
    }
    EXPECT_TRUE(Find(items, CommandId::SortByName)->checked);

    state.autoOrient = true;
    state.showInfoPanel = true;
    state.fullscreen = true;
    state.sortMode = 1;
    items = app::BuildContextMenuModel(state);
    EXPECT_TRUE(Find(items, CommandId::AutoOrient)->checked);
    EXPECT_TRUE(Find(items, CommandId::ToggleInfoPanel)->checked);
    EXPECT_TRUE(Find(items, CommandId::ToggleFullscreen)->checked);
    EXPECT_FALSE(Find(items, CommandId::SortByName)->checked);
    EXPECT_TRUE(Find(items, CommandId::SortNatural)->checked);

    for (uint32_t mode : {2u, 3u}) {
        state.sortMode = mode;
        items = app::BuildContextMenuModel(state);
        EXPECT_FALSE(Find(items, CommandId::SortByName)->checked) << mode;
        EXPECT_FALSE(Find(items, CommandId::SortNatural)->checked) << mode;
    }
}

TEST(ContextMenuModel, LabelsLoseAmpersandsAndSplitAtTheTab) {
    app::MenuLabel label = app::SplitMenuLabel("옵션\t(&O)");
    EXPECT_EQ(label.text, "옵션");
    EXPECT_EQ(label.shortcut, "(O)");
    label = app::SplitMenuLabel("이전 이미지\t← , 휠↑");
    EXPECT_EQ(label.text, "이전 이미지");
    EXPECT_EQ(label.shortcut, "← , 휠↑");
    label = app::SplitMenuLabel("종료(&X)");
    EXPECT_EQ(label.text, "종료(X)");
    EXPECT_EQ(label.shortcut, "");
    label = app::SplitMenuLabel("a&&b\tc\td");
    EXPECT_EQ(label.text, "ab");
    EXPECT_EQ(label.shortcut, "c\td") << "only the first tab splits";
    EXPECT_EQ(app::SplitMenuLabel("").text, "");
}

} // namespace
