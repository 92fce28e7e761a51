#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Commands and key bindings of the main window, decided without a window: the window snapshots its
// state into a KeyContext, asks for the Action and carries it out with the operations of the view,
// sources and loader. Nothing here touches global state.
namespace app {

// Identifiers carried by the context menu's items; any other number does nothing.
enum class CommandId : int32_t {
    OpenFile = 40001,
    PreviousImage = 40002,
    NextImage = 40003,
    ZoomIn = 40004,  // factor 1.2
    ZoomOut = 40005, // factor 1.2
    ZoomReset = 40006,
    RotateLeft = 40007,  // relative −90, although its label names Alt+←
    RotateRight = 40008, // relative +90, although its label names Alt+→
    ToggleInfoPanel = 40009,
    ToggleFullscreen = 40010,
    RotationNone = 40011,       // absolute 0
    RotationUpsideDown = 40012, // absolute 180
    RotateClockwise = 40013,
    RotateCounterClockwise = 40014,
    RotateClockwise10 = 40015,
    RotateCounterClockwise10 = 40016,
    FlipHorizontal = 40017,
    FlipVertical = 40018,
    Options = 40097,
    About = 40098,
    Exit = 40099,
    ViewFitShrinkOnly = 10001, // fit mode 0
    ViewFitAlways = 10002,     // fit mode 2
    ViewActualSize = 10003,    // fit mode 1
    WebtoonFullWidth = 10010,
    Webtoon640 = 10011,
    Webtoon760 = 10012,
    Webtoon800 = 10013,
    DualView = 10020,
    ResetView = 10021,
    AutoOrient = 10022,
    SortByName = 10030,
    SortNatural = 10031,
    SortByNameReverse = 10032,
    SortByDate = 10033,
};

// The identifier as a command, or nothing for a number no command uses.
std::optional<CommandId> ToCommandId(int32_t id);

inline constexpr const char* kAboutText = "Skimora 이미지 뷰어\n\n고성능 이미지 뷰어";
inline constexpr const char* kAboutCaption = "About";

// What the window does for a key or a command. Fields other than `operation` matter only where the
// operation's comment names them; the window repaints after every operation that changes the view.
enum class Operation {
    None,                  // no binding (the key goes on to the default handling)
    StripScroll,           // stripScroll ← amount (already clamped); CurrentIndex ← index when ≥ 0;
                           // then UpdateStripIndex, UpdateWindowTitle, repaint
    GoToNextImage,         // the item navigation
    GoToPreviousImage,     //
    GoToIndex,             // CurrentIndex ← index; NavigationDirection ← value unless 0; RequestLoad,
                           // WakePrefetch, UpdateWindowTitle; then the message when there is one
    GoToPage,              // GoToPage(index) of the open PDF document
    ShowMessage,           // only the message
    ShowOpenFileDialog,    //
    SetRotation,           // rotation ← amount
    RotateBy,              // RotateBy(amount)
    ResetView,             // ResetView (it shows its own message)
    SelectFitMode,         // keys 1–3: UpdateStripIndex when the strip is on; fitMode ← value; pans ← 0
                           // unless keepPan; webtoonMode ← off; RequestLoad. The strip batch keeps running
    WebtoonOn,             // W: PrepareBatchDocument, stripStartIndex ← CurrentIndex, StartBatch, title
    WebtoonOff,            // W: UpdateStripIndex, CancelBatch, CloseBatchDocument, clear strip, RequestLoad
    ZoomIn,                // ZoomIn (× 1.2)
    ZoomOut,               // ZoomOut (÷ 1.2)
    ZoomStepIn,            // the + key: × 1.1 like the wheel
    ZoomStepOut,           // the − key: ÷ 1.1 like the wheel
    ZoomReset,             //
    SetWebtoonWidth,       // webtoonWidth ← value; SelectWebtoonWidth(value) unless 0; message
    SetInterpolationMode,  // interpolationMode ← value
    SetImageFilter,        // imageFilter ← value (0 none, 1 soften, 2 sharpen)
    ToggleInfoPanel,       //
    ToggleInvertColors,    //
    ToggleGammaBoost,      //
    ToggleFlipHorizontal,  //
    ToggleFlipVertical,    //
    ToggleFullscreen,      //
    ToggleTitleBarPin,     // titleBarPinned and the setting TitleBarPinned toggled, SaveSettings at once
    OpenAdjacentContainer, // GetAdjacent(container of the current item, value = −1 or +1), OpenPath
    ResetFit,              // Esc: fitMode ← 0, zoom ← 1, pans ← 0
    CloseWindow,           // ends the program
    ShowOptions,           // the options dialog, then slide the information panel when it changed
    ShowAbout,             // message box kAboutText / kAboutCaption, information icon
    ViewModeSingle,        // commands 10001–10003: leave the strip (full teardown), dualView off,
                           // fitMode ← value, RequestLoad
    ViewModeWebtoon,       // commands 10010–10013: webtoonMode on, dualView off, webtoonWidth ← value,
                           // stripStartIndex ← CurrentIndex, PrepareBatchDocument, SelectWebtoonWidth
                           // (not for 0), StartBatch, UpdateWindowTitle
    ToggleDualView,        //
    ToggleAutoOrient,      //
    Sort,                  // SortCommand(value), which shows the order's message
};

struct Action {
    Operation operation = Operation::None;
    int32_t value = 0;
    int32_t index = -1;
    float amount = 0;
    bool keepPan = false;
    std::string message; // shown with ShowMessage for messageMs when not empty
    uint32_t messageMs = 0;
};

// The action of a command identifier; Operation::None for an unknown one.
Action ActionForCommand(int32_t id);

// Key codes as the window toolkit numbers them (Qt::Key). Letters and digits are their upper-case
// ASCII codes. Keys that change their code with Shift on a US layout are accepted in both forms.
namespace keys {
inline constexpr int32_t kEscape = 0x01000000;
inline constexpr int32_t kTab = 0x01000001;
inline constexpr int32_t kBacktab = 0x01000002; // Shift+Tab
inline constexpr int32_t kReturn = 0x01000004;
inline constexpr int32_t kEnter = 0x01000005; // the numeric keypad's Enter
inline constexpr int32_t kHome = 0x01000010;
inline constexpr int32_t kEnd = 0x01000011;
inline constexpr int32_t kLeft = 0x01000012;
inline constexpr int32_t kUp = 0x01000013;
inline constexpr int32_t kRight = 0x01000014;
inline constexpr int32_t kDown = 0x01000015;
inline constexpr int32_t kPageUp = 0x01000016;
inline constexpr int32_t kPageDown = 0x01000017;
inline constexpr int32_t kF1 = 0x01000030;
inline constexpr int32_t kF5 = kF1 + 4;
inline constexpr int32_t kF6 = kF1 + 5;
inline constexpr int32_t kF7 = kF1 + 6;
inline constexpr int32_t kF8 = kF1 + 7;
inline constexpr int32_t kSpace = 0x20;
inline constexpr int32_t kPlus = 0x2b;
inline constexpr int32_t kMinus = 0x2d;
inline constexpr int32_t kEqual = 0x3d;
inline constexpr int32_t kUnderscore = 0x5f;
inline constexpr int32_t kGrave = 0x60;      // the key left of 1
inline constexpr int32_t kAsciiTilde = 0x7e; // the same key with Shift
inline constexpr int32_t kBracketLeft = 0x5b;
inline constexpr int32_t kBracketRight = 0x5d;
inline constexpr int32_t kBraceLeft = 0x7b;
inline constexpr int32_t kBraceRight = 0x7d;
inline constexpr int32_t kBackspace = 0x01000003;
inline constexpr int32_t kDelete = 0x01000007;
constexpr int32_t Letter(char upperCase) {
    return upperCase;
}
constexpr int32_t Digit(int digit) {
    return '0' + digit;
}
} // namespace keys

// One key press. `keypad` tells the numeric keypad's keys from the main block (only keypad 0, + and −
// and Enter are bound there).
struct KeyInput {
    int32_t key = 0;
    bool ctrl = false;
    bool shift = false;
    bool alt = false;
    bool keypad = false;
};

// A snapshot of what the key bindings depend on, taken on the window thread just before deciding.
struct KeyContext {
    bool webtoonMode = false;
    bool renderTargetReady = false; // the strip keys need the render surface's height
    float renderHeight = 0;
    float stripScroll = 0;
    float stripTotalHeight = 0;
    uint32_t webtoonWidth = 0;
    bool fullScreen = false;
    bool navigationPending = false;
    bool pdfPageMode = false;
    int32_t pdfPageCount = 0;
    int32_t currentIndex = 0;
    int32_t itemCount = 0; // entries of the source list
    int32_t fitMode = 0;
    float zoom = 1;
    float panX = 0;
    float panY = 0;
    float rotation = 0;
    // The current item lies in an archive (including ALZ and EGG) or a PDF document: its container's
    // lower-case extension is an archive or PDF extension. The container keys act only then.
    bool currentInContainer = false;
};

// The binding of a key press: the strip keys first (only in the webtoon layout with a render surface),
// then the main group, the Ctrl group with H and V, and the remaining keys; with Alt (and no Ctrl) the
// rotation keys instead.
Action ActionForKey(const KeyInput& input, const KeyContext& context);

// The strip's scroll position after a strip key, clamped to [0, total height − view height].
float ClampStripScroll(float scroll, float totalHeight, float viewHeight);

// The strip width the + and − keys select from `width`, or nothing when the key leaves it alone.
std::optional<uint32_t> WiderStripWidth(uint32_t width);
std::optional<uint32_t> NarrowerStripWidth(uint32_t width);
// "가로폭: 640", or "가로폭: 100%" for the full width.
std::string StripWidthMessage(uint32_t width);

// The rotation keys R and E turn by 90 degrees and restart at 0 (R) or 270 (E) when they leave the
// circle, so R at 355 gives 0 and E at 5 gives 270.
float RotationAfterKeyR(float rotation);
float RotationAfterKeyE(float rotation);

// The container part of an item path: the text before the first "::", or the whole path.
std::string_view ContainerPathOf(std::string_view itemPath);

} // namespace app
