#include "app/commands.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

using app::Action;
using app::ActionForKey;
using app::KeyContext;
using app::KeyInput;
using app::Operation;
namespace keys = app::keys;

KeyInput Key(int32_t key) {
    KeyInput input;
    input.key = key;
    return input;
}

KeyInput Ctrl(int32_t key) {
    KeyInput input = Key(key);
    input.ctrl = true;
    return input;
}

KeyInput Alt(int32_t key) {
    KeyInput input = Key(key);
    input.alt = true;
    return input;
}

KeyInput Keypad(int32_t key) {
    KeyInput input = Key(key);
    input.keypad = true;
    return input;
}

KeyContext Webtoon(uint32_t width) {
    KeyContext context;
    context.webtoonMode = true;
    context.webtoonWidth = width;
    context.renderTargetReady = true;
    context.renderHeight = 600;
    context.stripTotalHeight = 5000;
    context.stripScroll = 1000;
    context.itemCount = 12;
    context.currentIndex = 3;
    return context;
}

Operation Op(const KeyInput& input, const KeyContext& context = {}) {
    return ActionForKey(input, context).operation;
}

TEST(KeyBindings, StripKeysScrollAndClampOnlyInTheWebtoonLayoutWithASurface) {
    KeyContext strip = Webtoon(0);
    Action action = ActionForKey(Key(keys::kDown), strip);
    EXPECT_EQ(action.operation, Operation::StripScroll);
    EXPECT_FLOAT_EQ(action.amount, 1100);
    EXPECT_EQ(action.index, -1) << "line and page keys leave the index to UpdateStripIndex";
    EXPECT_FLOAT_EQ(ActionForKey(Key(keys::kPageDown), strip).amount, 1550);
    EXPECT_FLOAT_EQ(ActionForKey(Key(keys::kPageUp), strip).amount, 450);

    strip.stripScroll = 30;
    EXPECT_FLOAT_EQ(ActionForKey(Key(keys::kUp), strip).amount, 0) << "clamped at the top";
    strip.stripScroll = 4350;
    EXPECT_FLOAT_EQ(ActionForKey(Key(keys::kDown), strip).amount, 4400) << "clamped at total − view";

    action = ActionForKey(Key(keys::kEnd), strip);
    EXPECT_EQ(action.operation, Operation::StripScroll);
    EXPECT_FLOAT_EQ(action.amount, 4400);
    EXPECT_EQ(action.index, 11);
    action = ActionForKey(Key(keys::kHome), strip);
    EXPECT_FLOAT_EQ(action.amount, 0);
    EXPECT_EQ(action.index, 0);

    strip.itemCount = 0;
    EXPECT_EQ(ActionForKey(Key(keys::kEnd), strip).index, 0) << "an empty list ends at 0, never −1";

    // A strip shorter than the view cannot scroll; a tiny view pages by nothing rather than backwards.
    strip.stripTotalHeight = 300;
    EXPECT_FLOAT_EQ(ActionForKey(Key(keys::kDown), strip).amount, 0);
    strip.stripTotalHeight = 5000;
    strip.renderHeight = 20;
    strip.stripScroll = 1000;
    EXPECT_FLOAT_EQ(ActionForKey(Key(keys::kPageDown), strip).amount, 1000);

    // Other keys go on to the main group; without a render surface the strip keys do too.
    EXPECT_EQ(Op(Key(keys::kRight), Webtoon(0)), Operation::GoToNextImage);
    KeyContext noSurface = Webtoon(0);
    noSurface.renderTargetReady = false;
    EXPECT_EQ(Op(Key(keys::kHome), noSurface), Operation::GoToIndex);
    EXPECT_EQ(Op(Key(keys::kDown), noSurface), Operation::None);
}

TEST(KeyBindings, ArrowsTurnPdfPagesAndCtrlUsesItemNavigation) {
    KeyContext pdf;
    pdf.pdfPageMode = true;
    pdf.pdfPageCount = 10;
    pdf.currentIndex = 9;
    pdf.itemCount = 10;
    Action action = ActionForKey(Key(keys::kRight), pdf);
    EXPECT_EQ(action.operation, Operation::ShowMessage);
    EXPECT_EQ(action.message, "마지막 페이지입니다");
    EXPECT_EQ(action.messageMs, 800u);
    EXPECT_EQ(Op(Ctrl(keys::kRight), pdf), Operation::GoToNextImage);

    action = ActionForKey(Key(keys::kLeft), pdf);
    EXPECT_EQ(action.operation, Operation::GoToIndex);
    EXPECT_EQ(action.index, 8);
    EXPECT_EQ(action.value, -1);
    EXPECT_EQ(action.message, "9 / 10 페이지");

    pdf.currentIndex = 0;
    EXPECT_EQ(ActionForKey(Key(keys::kLeft), pdf).message, "첫 페이지입니다");
    action = ActionForKey(Key(keys::kRight), pdf);
    EXPECT_EQ(action.index, 1);
    EXPECT_EQ(action.value, +1);
    EXPECT_EQ(action.message, "2 / 10 페이지");

    pdf.navigationPending = true;
    EXPECT_EQ(Op(Key(keys::kRight), pdf), Operation::None) << "a pending load swallows plain arrows";
    EXPECT_EQ(Op(Ctrl(keys::kLeft), pdf), Operation::GoToPreviousImage) << "but not Ctrl+arrows";

    KeyContext onePage = pdf;
    onePage.navigationPending = false;
    onePage.pdfPageCount = 1;
    EXPECT_EQ(Op(Key(keys::kRight), onePage), Operation::GoToNextImage);
    EXPECT_EQ(Op(Key(keys::kLeft), KeyContext{}), Operation::GoToPreviousImage);
}

TEST(KeyBindings, HomeAndEndJumpInTheListOrToPdfPages) {
    KeyContext list;
    list.itemCount = 5;
    list.currentIndex = 2;
    Action action = ActionForKey(Key(keys::kHome), list);
    EXPECT_EQ(action.operation, Operation::GoToIndex);
    EXPECT_EQ(action.index, 0);
    EXPECT_EQ(action.value, 0) << "the direction of travel is left alone";
    action = ActionForKey(Key(keys::kEnd), list);
    EXPECT_EQ(action.index, 4);

    list.currentIndex = 4;
    EXPECT_EQ(Op(Key(keys::kEnd), list), Operation::None) << "already there";
    EXPECT_EQ(Op(Key(keys::kHome), KeyContext{}), Operation::None) << "empty list";
    EXPECT_EQ(Op(Key(keys::kEnd), KeyContext{}), Operation::None);

    KeyContext pdf;
    pdf.pdfPageMode = true;
    pdf.pdfPageCount = 7;
    pdf.currentIndex = 0;
    action = ActionForKey(Key(keys::kHome), pdf);
    EXPECT_EQ(action.operation, Operation::GoToPage);
    EXPECT_EQ(action.index, 0);
    EXPECT_EQ(ActionForKey(Key(keys::kEnd), pdf).index, 6);
}

TEST(KeyBindings, RotationKeysRestartInsteadOfWrapping) {
    KeyContext context;
    context.rotation = 355;
    Action action = ActionForKey(Key(keys::Letter('R')), context);
    EXPECT_EQ(action.operation, Operation::SetRotation);
    EXPECT_FLOAT_EQ(action.amount, 0) << "R at 355 gives 0, not 85";
    context.rotation = 5;
    EXPECT_FLOAT_EQ(ActionForKey(Key(keys::Letter('E')), context).amount, 270);
    context.rotation = 90;
    EXPECT_FLOAT_EQ(ActionForKey(Key(keys::Letter('R')), context).amount, 180);
    EXPECT_FLOAT_EQ(ActionForKey(Key(keys::Letter('E')), context).amount, 0);
    EXPECT_FLOAT_EQ(ActionForKey(Ctrl(keys::Letter('R')), context).amount, 180) << "Ctrl does not matter";

    // The menu's 90-degree commands are relative turns.
    action = app::ActionForCommand(40008);
    EXPECT_EQ(action.operation, Operation::RotateBy);
    EXPECT_FLOAT_EQ(action.amount, 90);

    const std::pair<int32_t, float> absolute[] = {
        {keys::kUp, 0}, {keys::kRight, 90}, {keys::kDown, 180}, {keys::kLeft, 270}};
    for (const auto& [key, angle] : absolute) {
        action = ActionForKey(Alt(key), context);
        EXPECT_EQ(action.operation, Operation::SetRotation);
        EXPECT_FLOAT_EQ(action.amount, angle);
    }
    action = ActionForKey(Alt(keys::Letter('R')), context);
    EXPECT_EQ(action.operation, Operation::RotateBy);
    EXPECT_FLOAT_EQ(action.amount, 10);
    EXPECT_FLOAT_EQ(ActionForKey(Alt(keys::Letter('E')), context).amount, -10);
    EXPECT_EQ(Op(Alt(keys::Letter('F')), context), Operation::None) << "other Alt keys are the system's";
    EXPECT_EQ(Op(Alt(keys::kEscape), context), Operation::None);
}

TEST(KeyBindings, CtrlTellsCorrectionsFromFiltersAndFullScreen) {
    EXPECT_EQ(Op(Ctrl(keys::Letter('I'))), Operation::ToggleInvertColors);
    Action action = ActionForKey(Key(keys::Letter('I')), {});
    EXPECT_EQ(action.operation, Operation::SetImageFilter);
    EXPECT_EQ(action.value, 1);
    EXPECT_EQ(ActionForKey(Key(keys::Letter('U')), {}).value, 0);
    EXPECT_EQ(ActionForKey(Ctrl(keys::Letter('S')), {}).value, 2) << "S sharpens with or without Ctrl";

    EXPECT_EQ(Op(Ctrl(keys::Letter('F'))), Operation::ToggleFlipVertical);
    EXPECT_EQ(Op(Key(keys::Letter('F'))), Operation::ToggleFullscreen);
    EXPECT_EQ(Op(Ctrl(keys::Letter('M'))), Operation::ToggleFlipHorizontal);
    EXPECT_EQ(Op(Ctrl(keys::Letter('G'))), Operation::ToggleGammaBoost);
    EXPECT_EQ(Op(Key(keys::Letter('H'))), Operation::ToggleFlipHorizontal);
    EXPECT_EQ(Op(Key(keys::Letter('V'))), Operation::ToggleFlipVertical);
    EXPECT_EQ(Op(Ctrl(keys::Letter('H'))), Operation::None);
    EXPECT_EQ(Op(Key(keys::Letter('G'))), Operation::None);
    EXPECT_EQ(Op(Key(keys::kReturn)), Operation::ToggleFullscreen);
    EXPECT_EQ(Op(Keypad(keys::kEnter)), Operation::ToggleFullscreen);

    for (int i = 0; i < 4; ++i) {
        action = ActionForKey(Key(keys::kF5 + i), {});
        EXPECT_EQ(action.operation, Operation::SetInterpolationMode);
        EXPECT_EQ(action.value, i);
    }
    EXPECT_EQ(Op(Key(keys::kTab)), Operation::ToggleInfoPanel);
    EXPECT_EQ(Op(Key(keys::Letter('O'))), Operation::ShowOpenFileDialog);
    EXPECT_EQ(Op(Key(keys::kGrave)), Operation::ToggleTitleBarPin);
    EXPECT_EQ(Op(Keypad(keys::Digit(0))), Operation::ZoomReset);
    EXPECT_EQ(Op(Key(keys::Digit(0))), Operation::None) << "only the keypad's 0";

    for (int32_t unbound : {keys::kSpace, keys::kBackspace, keys::kDelete, keys::kPageUp, keys::kPageDown,
                            keys::kUp, keys::kDown, keys::Letter('Q')}) {
        EXPECT_EQ(Op(Key(unbound)), Operation::None) << unbound;
    }
}

TEST(KeyBindings, FitKeysResetAndWebtoonToggle) {
    Action action = ActionForKey(Key(keys::Digit(1)), {});
    EXPECT_EQ(action.operation, Operation::SelectFitMode);
    EXPECT_EQ(action.value, 0);
    EXPECT_FALSE(action.keepPan);
    EXPECT_EQ(ActionForKey(Key(keys::Digit(2)), Webtoon(640)).value, 2);
    action = ActionForKey(Key(keys::Digit(3)), {});
    EXPECT_EQ(action.value, 1);
    EXPECT_TRUE(action.keepPan);
    EXPECT_EQ(Op(Keypad(keys::Digit(1))), Operation::None);

    EXPECT_EQ(Op(Key(keys::Letter('Z'))), Operation::ResetView);
    EXPECT_EQ(Op(Key(keys::Letter('Z')), Webtoon(0)), Operation::None) << "no reset in the strip";

    action = ActionForKey(Key(keys::Letter('W')), {});
    EXPECT_EQ(action.operation, Operation::WebtoonOn);
    EXPECT_EQ(action.message, "이어 보기 (웹툰 모드)");
    EXPECT_EQ(action.messageMs, 1000u);
    action = ActionForKey(Key(keys::Letter('W')), Webtoon(760));
    EXPECT_EQ(action.operation, Operation::WebtoonOff);
    EXPECT_EQ(action.message, "일반 모드 (1장씩 보기)");
}

TEST(KeyBindings, PlusAndMinusZoomOrStepTheStripWidth) {
    EXPECT_EQ(Op(Key(keys::kEqual)), Operation::ZoomStepIn);
    EXPECT_EQ(Op(Key(keys::kPlus)), Operation::ZoomStepIn);
    EXPECT_EQ(Op(Keypad(keys::kPlus)), Operation::ZoomStepIn);
    EXPECT_EQ(Op(Key(keys::kMinus)), Operation::ZoomStepOut);
    EXPECT_EQ(Op(Keypad(keys::kMinus)), Operation::ZoomStepOut);

    EXPECT_EQ(Op(Key(keys::kPlus), Webtoon(0)), Operation::None) << "+ at full width does nothing";
    Action action = ActionForKey(Key(keys::kMinus), Webtoon(0));
    EXPECT_EQ(action.operation, Operation::SetWebtoonWidth);
    EXPECT_EQ(action.value, 800);
    EXPECT_EQ(action.message, "가로폭: 800");
    EXPECT_EQ(action.messageMs, 800u);

    action = ActionForKey(Key(keys::kPlus), Webtoon(800));
    EXPECT_EQ(action.value, 0);
    EXPECT_EQ(action.message, "가로폭: 100%");
    EXPECT_EQ(ActionForKey(Key(keys::kPlus), Webtoon(640)).value, 760);
    EXPECT_EQ(ActionForKey(Key(keys::kPlus), Webtoon(760)).value, 800);
    EXPECT_EQ(ActionForKey(Key(keys::kMinus), Webtoon(800)).value, 760);
    EXPECT_EQ(ActionForKey(Key(keys::kMinus), Webtoon(760)).value, 640);
    EXPECT_EQ(Op(Key(keys::kMinus), Webtoon(640)), Operation::None) << "nothing narrower than 640";
    EXPECT_EQ(Op(Key(keys::kPlus), Webtoon(1000)), Operation::None);
    EXPECT_EQ(ActionForKey(Key(keys::kMinus), Webtoon(1000)).value, 760);
}

TEST(KeyBindings, EscapeResetsTheFitFirstThenLeavesFullScreenOrEnds) {
    KeyContext context;
    EXPECT_EQ(Op(Key(keys::kEscape), context), Operation::CloseWindow);
    context.fullScreen = true;
    EXPECT_EQ(Op(Key(keys::kEscape), context), Operation::ToggleFullscreen);
    context.zoom = 1.1f;
    EXPECT_EQ(Op(Key(keys::kEscape), context), Operation::ResetFit);
    context.fullScreen = false;
    EXPECT_EQ(Op(Key(keys::kEscape), context), Operation::ResetFit) << "only the zoom is reset";
    context.zoom = 1;
    context.panY = -3;
    EXPECT_EQ(Op(Key(keys::kEscape), context), Operation::ResetFit);
    context.panY = 0;
    context.fitMode = 2;
    EXPECT_EQ(Op(Key(keys::kEscape), context), Operation::ResetFit);
}

TEST(KeyBindings, BracketsOpenNeighbouringContainersOnly) {
    KeyContext folder;
    EXPECT_EQ(Op(Key(keys::kBracketRight), folder), Operation::None) << "a plain image in a folder";
    KeyContext archive;
    archive.currentInContainer = true;
    Action action = ActionForKey(Key(keys::kBracketRight), archive);
    EXPECT_EQ(action.operation, Operation::OpenAdjacentContainer);
    EXPECT_EQ(action.value, +1);
    EXPECT_EQ(ActionForKey(Key(keys::kBracketLeft), archive).value, -1);
    archive.navigationPending = true;
    EXPECT_EQ(Op(Key(keys::kBracketLeft), archive), Operation::None);

    EXPECT_EQ(app::ContainerPathOf("/books/a.cbz::ch1/p01.jpg"), "/books/a.cbz");
    EXPECT_EQ(app::ContainerPathOf("/books/doc.pdf::3"), "/books/doc.pdf");
    EXPECT_EQ(app::ContainerPathOf("/photos/a.jpg"), "/photos/a.jpg");
}

TEST(KeyBindings, AbsurdSnapshotsGiveInRangeResults) {
    KeyContext strip = Webtoon(640);
    strip.itemCount = std::numeric_limits<int32_t>::min();
    strip.stripScroll = std::numeric_limits<float>::quiet_NaN();
    Action action = ActionForKey(Key(keys::kEnd), strip);
    EXPECT_EQ(action.index, 0);
    EXPECT_FLOAT_EQ(ActionForKey(Key(keys::kDown), strip).amount, 0) << "a NaN scroll restarts at the top";
    strip.stripTotalHeight = std::numeric_limits<float>::infinity();
    EXPECT_FLOAT_EQ(ActionForKey(Key(keys::kEnd), strip).amount, 0);

    KeyContext list;
    list.itemCount = std::numeric_limits<int32_t>::min();
    EXPECT_EQ(Op(Key(keys::kEnd), list), Operation::None);
    KeyContext pdf;
    pdf.pdfPageMode = true;
    pdf.pdfPageCount = std::numeric_limits<int32_t>::min();
    EXPECT_EQ(Op(Key(keys::kRight), pdf), Operation::GoToNextImage) << "not a paged document";
    pdf.pdfPageCount = std::numeric_limits<int32_t>::max();
    pdf.currentIndex = std::numeric_limits<int32_t>::max() - 1;
    EXPECT_EQ(ActionForKey(Key(keys::kRight), pdf).message, "마지막 페이지입니다");
    EXPECT_FLOAT_EQ(app::ClampStripScroll(-5, 100, 300), 0);
    EXPECT_FLOAT_EQ(app::ClampStripScroll(500, 1000, 300), 500);
}

TEST(Commands, EveryIdentifierMapsAndOthersDoNothing) {
    const std::pair<int32_t, Operation> table[] = {
        {40001, Operation::ShowOpenFileDialog},
        {40002, Operation::GoToPreviousImage},
        {40003, Operation::GoToNextImage},
        {40004, Operation::ZoomIn},
        {40005, Operation::ZoomOut},
        {40006, Operation::ZoomReset},
        {40009, Operation::ToggleInfoPanel},
        {40010, Operation::ToggleFullscreen},
        {40017, Operation::ToggleFlipHorizontal},
        {40018, Operation::ToggleFlipVertical},
        {40097, Operation::ShowOptions},
        {40098, Operation::ShowAbout},
        {40099, Operation::CloseWindow},
        {10020, Operation::ToggleDualView},
        {10021, Operation::ResetView},
        {10022, Operation::ToggleAutoOrient},
    };
    for (const auto& [id, operation] : table) {
        EXPECT_EQ(app::ActionForCommand(id).operation, operation) << id;
    }
    const std::pair<int32_t, float> turns[] = {
        {40007, -90}, {40013, 90}, {40014, -90}, {40015, 10}, {40016, -10}};
    for (const auto& [id, degrees] : turns) {
        const Action action = app::ActionForCommand(id);
        EXPECT_EQ(action.operation, Operation::RotateBy) << id;
        EXPECT_FLOAT_EQ(action.amount, degrees) << id;
    }
    EXPECT_EQ(app::ActionForCommand(40011).operation, Operation::SetRotation);
    EXPECT_FLOAT_EQ(app::ActionForCommand(40012).amount, 180);

    const std::pair<int32_t, int32_t> fits[] = {{10001, 0}, {10002, 2}, {10003, 1}};
    for (const auto& [id, fit] : fits) {
        EXPECT_EQ(app::ActionForCommand(id).operation, Operation::ViewModeSingle);
        EXPECT_EQ(app::ActionForCommand(id).value, fit);
    }
    const std::pair<int32_t, int32_t> widths[] = {{10010, 0}, {10011, 640}, {10012, 760}, {10013, 800}};
    for (const auto& [id, width] : widths) {
        EXPECT_EQ(app::ActionForCommand(id).operation, Operation::ViewModeWebtoon);
        EXPECT_EQ(app::ActionForCommand(id).value, width);
    }
    for (int32_t mode = 0; mode < 4; ++mode) {
        EXPECT_EQ(app::ActionForCommand(10030 + mode).operation, Operation::Sort);
        EXPECT_EQ(app::ActionForCommand(10030 + mode).value, mode);
    }
    for (int32_t unknown : {0, -1, 40000, 40019, 40096, 40100, 10000, 10004, 10014, 10023, 10034, 1}) {
        EXPECT_EQ(app::ActionForCommand(unknown).operation, Operation::None) << unknown;
        EXPECT_FALSE(app::ToCommandId(unknown).has_value()) << unknown;
    }
}

} // namespace
