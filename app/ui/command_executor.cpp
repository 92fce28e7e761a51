#include "app/ui/command_executor.h"

#include <type_traits>

namespace app {

namespace {

template <typename... Arguments>
void Call(const std::function<void(Arguments...)>& hook, std::type_identity_t<Arguments>... arguments) {
    if (hook) {
        hook(arguments...);
    }
}

// Leaving the strip for a single-image view: the batch stops, the page document of a PDF takes over
// from the batch document, and the strip's bitmaps go.
void TearDownStrip(const CommandTargets& targets) {
    Call(targets.hooks.updateStripIndex);
    Call(targets.hooks.cancelBatch);
    Call(targets.hooks.preparePageDocument);
    Call(targets.hooks.closeBatchDocument);
    Call(targets.hooks.clearStrip);
}

} // namespace

void ExecuteAction(const Action& action, const CommandTargets& targets) {
    view::ViewState& state = targets.viewState;
    view::LayoutState& layout = targets.layout;
    const view::ViewHooks& view = targets.viewHooks;
    const CommandHooks& hooks = targets.hooks;

    switch (action.operation) {
    case Operation::None:
        return;
    case Operation::StripScroll:
        Call(hooks.setStripScroll, action.amount);
        if (action.index >= 0) {
            view.PublishCurrentIndex(action.index);
        }
        Call(hooks.updateStripIndex);
        view.UpdateWindowTitle();
        view.Repaint();
        break;
    case Operation::GoToNextImage:
        view.GoToNextImage();
        break;
    case Operation::GoToPreviousImage:
        view.GoToPreviousImage();
        break;
    case Operation::GoToIndex:
        view.PublishCurrentIndex(action.index);
        if (action.value != 0) {
            Call(hooks.setNavigationDirection, action.value);
        }
        view.RequestLoad();
        view.WakePrefetch();
        view.UpdateWindowTitle();
        break;
    case Operation::GoToPage:
        Call(hooks.goToPage, action.index);
        break;
    case Operation::ShowMessage:
        break;
    case Operation::ShowOpenFileDialog:
        if (view.showOpenFileDialog) {
            view.showOpenFileDialog();
        }
        break;
    case Operation::SetRotation:
        view::SetRotation(state, action.amount, view);
        break;
    case Operation::RotateBy:
        view::RotateBy(state, action.amount, view);
        break;
    case Operation::ResetView:
        view::ResetView(state, view);
        break;
    case Operation::SelectFitMode:
        // The strip batch keeps running and the strip stays; only the layout flag changes.
        if (layout.webtoonMode) {
            Call(hooks.updateStripIndex);
        }
        state.fitMode = static_cast<view::FitMode>(action.value);
        if (!action.keepPan) {
            state.panX = 0;
            state.panY = 0;
        }
        layout.webtoonMode = false;
        view.RequestLoad();
        view.Repaint();
        break;
    case Operation::WebtoonOn:
        layout.webtoonMode = true;
        layout.dualView = false; // one layout at a time
        Call(hooks.prepareBatchDocument);
        Call(hooks.setStripStartToCurrent);
        view.StartBatch();
        view.UpdateWindowTitle();
        view.Repaint();
        break;
    case Operation::WebtoonOff:
        Call(hooks.updateStripIndex);
        layout.webtoonMode = false;
        Call(hooks.cancelBatch);
        Call(hooks.closeBatchDocument);
        Call(hooks.clearStrip);
        view.RequestLoad();
        view.Repaint();
        break;
    case Operation::ZoomIn:
        view::ZoomIn(state, view);
        break;
    case Operation::ZoomOut:
        view::ZoomOut(state, view);
        break;
    case Operation::ZoomStepIn:
        view::ZoomWheel(state, view::ZoomDirection::In, view);
        break;
    case Operation::ZoomStepOut:
        view::ZoomWheel(state, view::ZoomDirection::Out, view);
        break;
    case Operation::ZoomReset:
        view::ZoomReset(state, view);
        break;
    case Operation::SetWebtoonWidth:
        layout.webtoonWidth = static_cast<uint32_t>(action.value);
        if (layout.webtoonWidth != 0) {
            view.SelectWebtoonWidth(layout.webtoonWidth);
        }
        // The full width resizes no window, so nothing else would lay the strip out again.
        view.Repaint();
        break;
    case Operation::SetInterpolationMode:
        state.interpolationMode = action.value;
        view.Repaint();
        break;
    case Operation::SetImageFilter:
        state.imageFilter = action.value;
        view.Repaint();
        break;
    case Operation::ToggleInfoPanel:
        Call(hooks.toggleInfoPanel);
        break;
    case Operation::ToggleInvertColors:
        view::ToggleInvertColors(state, view);
        break;
    case Operation::ToggleGammaBoost:
        view::ToggleGammaBoost(state, view);
        break;
    case Operation::ToggleFlipHorizontal:
        view::ToggleFlipHorizontal(state, view);
        break;
    case Operation::ToggleFlipVertical:
        view::ToggleFlipVertical(state, view);
        break;
    case Operation::ToggleFullscreen:
        Call(hooks.toggleFullscreen);
        break;
    case Operation::ToggleTitleBarPin:
        targets.titleBarPinned = !targets.titleBarPinned;
        Call(hooks.saveTitleBarPinned, targets.titleBarPinned);
        view.Repaint();
        break;
    case Operation::OpenAdjacentContainer:
        Call(hooks.openAdjacentContainer, action.value);
        break;
    case Operation::ResetFit:
        state.fitMode = view::FitMode::FitShrinkOnly;
        state.zoom = 1.0f;
        state.panX = 0;
        state.panY = 0;
        view.Repaint();
        break;
    case Operation::CloseWindow:
        Call(hooks.closeWindow);
        break;
    case Operation::ShowOptions:
        Call(hooks.showOptions);
        break;
    case Operation::ShowAbout:
        Call(hooks.showAbout);
        break;
    case Operation::ViewModeSingle:
        if (layout.webtoonMode) {
            TearDownStrip(targets);
        }
        layout.webtoonMode = false;
        layout.dualView = false;
        state.fitMode = static_cast<view::FitMode>(action.value);
        view.RequestLoad();
        view.Repaint();
        break;
    case Operation::ViewModeWebtoon:
        layout.webtoonMode = true;
        layout.dualView = false;
        layout.webtoonWidth = static_cast<uint32_t>(action.value);
        Call(hooks.setStripStartToCurrent);
        Call(hooks.prepareBatchDocument);
        if (layout.webtoonWidth != 0) {
            view.SelectWebtoonWidth(layout.webtoonWidth);
        }
        view.StartBatch();
        view.UpdateWindowTitle();
        view.Repaint();
        break;
    case Operation::ToggleDualView:
        view::ToggleDualView(layout, view);
        break;
    case Operation::ToggleAutoOrient:
        view::ToggleAutoOrient(state, view);
        break;
    case Operation::Sort:
        Call(hooks.sortCommand, static_cast<uint32_t>(action.value));
        break;
    }
    if (!action.message.empty()) {
        view.ShowMessage(action.message, action.messageMs);
    }
}

} // namespace app
