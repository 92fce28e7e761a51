#include "app/commands.h"

#include <algorithm>
#include <cmath>

namespace app {

namespace {

constexpr uint32_t kShortMessageMs = 800;
constexpr uint32_t kModeMessageMs = 1000;
constexpr float kStripLineStep = 100.0f;
constexpr float kStripPageOverlap = 50.0f;

Action Make(Operation operation) {
    Action action;
    action.operation = operation;
    return action;
}

Action WithValue(Operation operation, int32_t value) {
    Action action = Make(operation);
    action.value = value;
    return action;
}

Action WithAmount(Operation operation, float amount) {
    Action action = Make(operation);
    action.amount = amount;
    return action;
}

Action WithMessage(Action action, std::string message, uint32_t milliseconds) {
    action.message = std::move(message);
    action.messageMs = milliseconds;
    return action;
}

std::string PageMessage(int32_t index, int32_t pageCount) {
    return std::to_string(index + 1) + " / " + std::to_string(pageCount) + " 페이지";
}

bool IsPlusKey(const KeyInput& input) {
    return input.key == keys::kPlus || input.key == keys::kEqual;
}

bool IsMinusKey(const KeyInput& input) {
    return input.key == keys::kMinus || input.key == keys::kUnderscore;
}

bool IsMainRowDigit(const KeyInput& input, int digit) {
    return !input.keypad && input.key == keys::Digit(digit);
}

bool PagedDocument(const KeyContext& context) {
    return context.pdfPageMode && context.pdfPageCount >= 2;
}

// Step 1: the strip scrolls by lines and pages and jumps to its ends.
std::optional<Action> StripKey(const KeyInput& input, const KeyContext& context) {
    const float view = context.renderHeight;
    // A view shorter than the overlap would make Page Down scroll up; it pages by nothing instead.
    const float page = std::max(view - kStripPageOverlap, 0.0f);
    Action action = Make(Operation::StripScroll);
    float target = context.stripScroll;
    switch (input.key) {
    case keys::kUp:
        target -= kStripLineStep;
        break;
    case keys::kDown:
        target += kStripLineStep;
        break;
    case keys::kPageUp:
        target -= page;
        break;
    case keys::kPageDown:
        target += page;
        break;
    case keys::kHome:
        target = 0;
        action.index = 0;
        break;
    case keys::kEnd:
        target = std::max(context.stripTotalHeight - view, 0.0f);
        action.index = std::max(context.itemCount, 1) - 1;
        break;
    default:
        return std::nullopt;
    }
    action.amount = ClampStripScroll(target, context.stripTotalHeight, view);
    return action;
}

Action PageTurn(const KeyContext& context, int32_t direction) {
    // The page count is at least 2 here, so neither bound can overflow.
    if (direction > 0 ? context.currentIndex < context.pdfPageCount - 1 : context.currentIndex >= 1) {
        const int32_t target = context.currentIndex + direction;
        Action action = Make(Operation::GoToIndex);
        action.index = target;
        action.value = direction;
        return WithMessage(action, PageMessage(target, context.pdfPageCount), kShortMessageMs);
    }
    return WithMessage(Make(Operation::ShowMessage),
                       direction > 0 ? "마지막 페이지입니다" : "첫 페이지입니다", kShortMessageMs);
}

Action ArrowKey(const KeyInput& input, const KeyContext& context, int32_t direction) {
    const Operation itemNavigation = direction > 0 ? Operation::GoToNextImage : Operation::GoToPreviousImage;
    if (input.ctrl) {
        return Make(itemNavigation);
    }
    if (context.navigationPending) {
        return Make(Operation::None);
    }
    return PagedDocument(context) ? PageTurn(context, direction) : Make(itemNavigation);
}

Action EdgeKey(const KeyContext& context, bool toEnd) {
    if (PagedDocument(context)) {
        Action action = Make(Operation::GoToPage);
        action.index = toEnd ? context.pdfPageCount - 1 : 0;
        return action;
    }
    if (context.itemCount <= 0) {
        return Make(Operation::None);
    }
    const int32_t target = toEnd ? context.itemCount - 1 : 0;
    if (target == context.currentIndex) {
        return Make(Operation::None);
    }
    Action action = Make(Operation::GoToIndex);
    action.index = target;
    return action;
}

Action StripWidthKey(std::optional<uint32_t> width) {
    if (!width) {
        return Make(Operation::None);
    }
    return WithMessage(WithValue(Operation::SetWebtoonWidth, static_cast<int32_t>(*width)),
                       StripWidthMessage(*width), kShortMessageMs);
}

Action SelectFitKey(int32_t fitMode, bool keepPan) {
    Action action = WithValue(Operation::SelectFitMode, fitMode);
    action.keepPan = keepPan;
    return action;
}

// Step 2: the first matching key acts.
std::optional<Action> MainKey(const KeyInput& input, const KeyContext& context) {
    switch (input.key) {
    case keys::kRight:
        return ArrowKey(input, context, +1);
    case keys::kLeft:
        return ArrowKey(input, context, -1);
    case keys::kHome:
        return EdgeKey(context, false);
    case keys::kEnd:
        return EdgeKey(context, true);
    case keys::Letter('O'):
        return Make(Operation::ShowOpenFileDialog);
    case keys::Letter('R'):
        return WithAmount(Operation::SetRotation, RotationAfterKeyR(context.rotation));
    case keys::Letter('E'):
        return WithAmount(Operation::SetRotation, RotationAfterKeyE(context.rotation));
    case keys::Letter('Z'):
        return Make(context.webtoonMode ? Operation::None : Operation::ResetView);
    case keys::Letter('W'):
        return context.webtoonMode
                   ? WithMessage(Make(Operation::WebtoonOff), "일반 모드 (1장씩 보기)", kModeMessageMs)
                   : WithMessage(Make(Operation::WebtoonOn), "이어 보기 (웹툰 모드)", kModeMessageMs);
    case keys::kF5:
    case keys::kF6:
    case keys::kF7:
    case keys::kF8:
        return WithValue(Operation::SetInterpolationMode, input.key - keys::kF5);
    case keys::Letter('U'):
        return WithValue(Operation::SetImageFilter, 0);
    case keys::Letter('I'):
        if (input.ctrl) {
            return std::nullopt;
        }
        return WithValue(Operation::SetImageFilter, 1);
    case keys::Letter('S'):
        return WithValue(Operation::SetImageFilter, 2);
    case keys::kTab:
    case keys::kBacktab:
        return Make(Operation::ToggleInfoPanel);
    default:
        break;
    }
    if (IsMainRowDigit(input, 1)) {
        return SelectFitKey(0, false);
    }
    if (IsMainRowDigit(input, 2)) {
        return SelectFitKey(2, false);
    }
    if (IsMainRowDigit(input, 3)) {
        return SelectFitKey(1, true);
    }
    if (input.keypad && input.key == keys::Digit(0)) {
        return Make(Operation::ZoomReset);
    }
    if (IsPlusKey(input)) {
        if (!context.webtoonMode) {
            return Make(Operation::ZoomStepIn);
        }
        return StripWidthKey(WiderStripWidth(context.webtoonWidth));
    }
    if (IsMinusKey(input)) {
        if (!context.webtoonMode) {
            return Make(Operation::ZoomStepOut);
        }
        return StripWidthKey(NarrowerStripWidth(context.webtoonWidth));
    }
    return std::nullopt;
}

// Step 3: the Ctrl corrections and flips, then H and V without Ctrl.
std::optional<Action> ModifierKey(const KeyInput& input) {
    if (input.ctrl) {
        switch (input.key) {
        case keys::Letter('I'):
            return Make(Operation::ToggleInvertColors);
        case keys::Letter('G'):
            return Make(Operation::ToggleGammaBoost);
        case keys::Letter('F'):
            return Make(Operation::ToggleFlipVertical);
        case keys::Letter('M'):
            return Make(Operation::ToggleFlipHorizontal);
        default:
            return std::nullopt;
        }
    }
    if (input.key == keys::Letter('H')) {
        return Make(Operation::ToggleFlipHorizontal);
    }
    if (input.key == keys::Letter('V')) {
        return Make(Operation::ToggleFlipVertical);
    }
    return std::nullopt;
}

// Step 4: full screen, the title-bar pin, the neighbouring containers and Esc.
Action LastKey(const KeyInput& input, const KeyContext& context) {
    switch (input.key) {
    case keys::kReturn:
    case keys::kEnter:
        return Make(Operation::ToggleFullscreen);
    case keys::Letter('F'):
        return Make(input.ctrl ? Operation::None : Operation::ToggleFullscreen);
    case keys::kGrave:
    case keys::kAsciiTilde:
        return Make(Operation::ToggleTitleBarPin);
    case keys::kBracketLeft:
    case keys::kBraceLeft:
    case keys::kBracketRight:
    case keys::kBraceRight: {
        if (context.navigationPending || !context.currentInContainer) {
            return Make(Operation::None);
        }
        const bool next = input.key == keys::kBracketRight || input.key == keys::kBraceRight;
        return WithValue(Operation::OpenAdjacentContainer, next ? +1 : -1);
    }
    case keys::kEscape:
        if (context.fitMode == 0 && context.zoom == 1.0f && context.panX == 0 && context.panY == 0) {
            return Make(context.fullScreen ? Operation::ToggleFullscreen : Operation::CloseWindow);
        }
        return Make(Operation::ResetFit);
    default:
        return Make(Operation::None);
    }
}

Action AltKey(const KeyInput& input) {
    switch (input.key) {
    case keys::kUp:
        return WithAmount(Operation::SetRotation, 0);
    case keys::kRight:
        return WithAmount(Operation::SetRotation, 90);
    case keys::kDown:
        return WithAmount(Operation::SetRotation, 180);
    case keys::kLeft:
        return WithAmount(Operation::SetRotation, 270);
    case keys::Letter('R'):
        return WithAmount(Operation::RotateBy, 10);
    case keys::Letter('E'):
        return WithAmount(Operation::RotateBy, -10);
    default:
        return Make(Operation::None);
    }
}

} // namespace

std::optional<CommandId> ToCommandId(int32_t id) {
    if ((id >= 40001 && id <= 40018) || (id >= 40097 && id <= 40099) || (id >= 10001 && id <= 10003) ||
        (id >= 10010 && id <= 10013) || (id >= 10020 && id <= 10022) || (id >= 10030 && id <= 10033)) {
        return static_cast<CommandId>(id);
    }
    return std::nullopt;
}

Action ActionForCommand(int32_t id) {
    const std::optional<CommandId> command = ToCommandId(id);
    if (!command) {
        return Make(Operation::None);
    }
    switch (*command) {
    case CommandId::OpenFile:
        return Make(Operation::ShowOpenFileDialog);
    case CommandId::PreviousImage:
        return Make(Operation::GoToPreviousImage);
    case CommandId::NextImage:
        return Make(Operation::GoToNextImage);
    case CommandId::ZoomIn:
        return Make(Operation::ZoomIn);
    case CommandId::ZoomOut:
        return Make(Operation::ZoomOut);
    case CommandId::ZoomReset:
        return Make(Operation::ZoomReset);
    case CommandId::RotateLeft:
    case CommandId::RotateCounterClockwise:
        return WithAmount(Operation::RotateBy, -90);
    case CommandId::RotateRight:
    case CommandId::RotateClockwise:
        return WithAmount(Operation::RotateBy, 90);
    case CommandId::ToggleInfoPanel:
        return Make(Operation::ToggleInfoPanel);
    case CommandId::ToggleFullscreen:
        return Make(Operation::ToggleFullscreen);
    case CommandId::RotationNone:
        return WithAmount(Operation::SetRotation, 0);
    case CommandId::RotationUpsideDown:
        return WithAmount(Operation::SetRotation, 180);
    case CommandId::RotateClockwise10:
        return WithAmount(Operation::RotateBy, 10);
    case CommandId::RotateCounterClockwise10:
        return WithAmount(Operation::RotateBy, -10);
    case CommandId::FlipHorizontal:
        return Make(Operation::ToggleFlipHorizontal);
    case CommandId::FlipVertical:
        return Make(Operation::ToggleFlipVertical);
    case CommandId::Options:
        return Make(Operation::ShowOptions);
    case CommandId::About:
        return Make(Operation::ShowAbout);
    case CommandId::Exit:
        return Make(Operation::CloseWindow);
    case CommandId::ViewFitShrinkOnly:
        return WithValue(Operation::ViewModeSingle, 0);
    case CommandId::ViewFitAlways:
        return WithValue(Operation::ViewModeSingle, 2);
    case CommandId::ViewActualSize:
        return WithValue(Operation::ViewModeSingle, 1);
    case CommandId::WebtoonFullWidth:
        return WithValue(Operation::ViewModeWebtoon, 0);
    case CommandId::Webtoon640:
        return WithValue(Operation::ViewModeWebtoon, 640);
    case CommandId::Webtoon760:
        return WithValue(Operation::ViewModeWebtoon, 760);
    case CommandId::Webtoon800:
        return WithValue(Operation::ViewModeWebtoon, 800);
    case CommandId::DualView:
        return Make(Operation::ToggleDualView);
    case CommandId::ResetView:
        return Make(Operation::ResetView);
    case CommandId::AutoOrient:
        return Make(Operation::ToggleAutoOrient);
    case CommandId::SortByName:
    case CommandId::SortNatural:
    case CommandId::SortByNameReverse:
    case CommandId::SortByDate:
        return WithValue(Operation::Sort, id - static_cast<int32_t>(CommandId::SortByName));
    }
    return Make(Operation::None);
}

Action ActionForKey(const KeyInput& input, const KeyContext& context) {
    if (input.alt && !input.ctrl) {
        return AltKey(input);
    }
    if (context.webtoonMode && context.renderTargetReady) {
        if (std::optional<Action> strip = StripKey(input, context)) {
            return *strip;
        }
    }
    if (std::optional<Action> main = MainKey(input, context)) {
        return *main;
    }
    if (std::optional<Action> modifier = ModifierKey(input)) {
        return *modifier;
    }
    return LastKey(input, context);
}

float ClampStripScroll(float scroll, float totalHeight, float viewHeight) {
    const float maxScroll =
        std::isfinite(totalHeight - viewHeight) ? std::max(totalHeight - viewHeight, 0.0f) : 0;
    if (!std::isfinite(scroll)) {
        return 0;
    }
    return std::clamp(scroll, 0.0f, maxScroll);
}

std::optional<uint32_t> WiderStripWidth(uint32_t width) {
    if (width == 0) {
        return std::nullopt;
    }
    if (width <= 640) {
        return 760;
    }
    if (width <= 760) {
        return 800;
    }
    if (width <= 800) {
        return 0;
    }
    return std::nullopt;
}

std::optional<uint32_t> NarrowerStripWidth(uint32_t width) {
    if (width == 0) {
        return 800;
    }
    if (width >= 800) {
        return 760;
    }
    if (width >= 760) {
        return 640;
    }
    return std::nullopt;
}

std::string StripWidthMessage(uint32_t width) {
    return width == 0 ? std::string("가로폭: 100%") : "가로폭: " + std::to_string(width);
}

float RotationAfterKeyR(float rotation) {
    const float turned = rotation + 90;
    return turned >= 360 ? 0 : turned;
}

float RotationAfterKeyE(float rotation) {
    const float turned = rotation - 90;
    return turned < 0 ? 270 : turned;
}

std::string_view ContainerPathOf(std::string_view itemPath) {
    const size_t separator = itemPath.find("::");
    return separator == std::string_view::npos ? itemPath : itemPath.substr(0, separator);
}

} // namespace app
