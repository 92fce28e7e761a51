#include "view/view_state.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace view {

namespace {

constexpr uint32_t kZoomMessageMs = 800;
constexpr uint32_t kModeMessageMs = 1000;

void ShowZoom(const ViewState& state, const ViewHooks& hooks) {
    hooks.ShowMessage(FormatZoomMessage(state.zoom), kZoomMessageMs);
    hooks.Repaint();
}

void MultiplyZoom(ViewState& state, float factor, const ViewHooks& hooks) {
    state.zoom *= factor;
    if (state.zoom > kMaxZoom) {
        state.zoom = kMaxZoom;
    }
    ShowZoom(state, hooks);
}

void DivideZoom(ViewState& state, float factor, const ViewHooks& hooks) {
    state.zoom /= factor;
    if (state.zoom < kMinZoom) {
        state.zoom = kMinZoom;
    }
    ShowZoom(state, hooks);
}

bool IsQuarterTurn(float degrees) {
    return degrees == 90.0f || degrees == 270.0f;
}

} // namespace

const char* FitModeText(FitMode mode) {
    switch (mode) {
    case FitMode::FitShrinkOnly:
        return "꽉차게 (작은건 원본)";
    case FitMode::ActualSize:
        return "원본 크기";
    case FitMode::FitAlways:
        return "꽉차게 (작은건 크게)";
    }
    return "";
}

ViewState ViewStateFromSettings(const platform::Settings& settings) {
    ViewState state;
    state.imageFilter =
        settings.lastImageFilter >= 0 && settings.lastImageFilter <= 2 ? settings.lastImageFilter : 0;
    // Values outside 0 … 3 are kept: the drawing layer resamples them linearly.
    state.interpolationMode = settings.interpolationMode;
    return state;
}

LayoutState LayoutStateFromSettings(const platform::Settings& settings) {
    LayoutState layout;
    layout.webtoonMode = settings.webtoonMode;
    layout.dualView = settings.dualView && !settings.webtoonMode;
    const int32_t width = settings.webtoonWidth;
    layout.webtoonWidth = width == 640 || width == 760 || width == 800 ? static_cast<uint32_t>(width) : 0;
    return layout;
}

void StoreViewSettings(const ViewState& state, const LayoutState& layout, platform::Settings& settings) {
    settings.lastImageFilter = state.imageFilter;
    settings.dualView = layout.dualView;
    settings.webtoonMode = layout.webtoonMode;
    settings.webtoonWidth = static_cast<int32_t>(layout.webtoonWidth);
}

float ImageRegionTop(bool titleBarPinned, FullscreenState fullscreen) {
    return titleBarPinned && fullscreen == FullscreenState::Windowed ? kTitleBarHeight : 0.0f;
}

ImageRegion ComputeImageRegion(float renderWidth, float renderHeight, float top) {
    return {top, renderWidth, std::max(0.0f, renderHeight - top)};
}

float NormalizeAngle(float degrees) {
    if (!std::isfinite(degrees)) {
        return 0;
    }
    // fmod instead of repeated subtraction: exact for floats and bounded for any magnitude.
    float result = std::fmod(degrees, 360.0f);
    if (result < 0) {
        result += 360.0f;
    }
    // A tiny negative angle plus 360 rounds to 360 itself.
    return result >= 360.0f ? 0.0f : result;
}

float OrientationRotationFromExif(int orientation) {
    switch (orientation) {
    case 3:
        return 180;
    case 6:
        return 90;
    case 8:
        return 270;
    default:
        return 0;
    }
}

std::string FormatZoomMessage(float zoom) {
    char text[64];
    std::snprintf(text, sizeof text, "%.0f%%", static_cast<double>(zoom) * 100.0);
    return text;
}

void ZoomIn(ViewState& state, const ViewHooks& hooks) {
    MultiplyZoom(state, 1.2f, hooks);
}

void ZoomOut(ViewState& state, const ViewHooks& hooks) {
    DivideZoom(state, 1.2f, hooks);
}

void ZoomWheel(ViewState& state, ZoomDirection direction, const ViewHooks& hooks) {
    if (direction == ZoomDirection::In) {
        MultiplyZoom(state, 1.1f, hooks);
    } else {
        DivideZoom(state, 1.1f, hooks);
    }
}

void ZoomReset(ViewState& state, const ViewHooks& hooks) {
    state.zoom = 1.0f;
    state.panX = 0;
    state.panY = 0;
    hooks.Repaint();
}

void RotateBy(ViewState& state, float degrees, const ViewHooks& hooks) {
    state.rotation += degrees;
    if (state.rotation >= 360.0f) {
        state.rotation -= 360.0f;
    } else if (state.rotation < 0) {
        state.rotation += 360.0f;
    }
    // One correction suffices for the steps offered; anything else is brought back into range.
    if (!(state.rotation >= 0 && state.rotation < 360.0f)) {
        state.rotation = NormalizeAngle(state.rotation);
    }
    hooks.Repaint();
}

void SetRotation(ViewState& state, float degrees, const ViewHooks& hooks) {
    state.rotation = NormalizeAngle(degrees);
    hooks.Repaint();
}

void ToggleFlipHorizontal(ViewState& state, const ViewHooks& hooks) {
    state.flipHorizontal = !state.flipHorizontal;
    hooks.Repaint();
}

void ToggleFlipVertical(ViewState& state, const ViewHooks& hooks) {
    state.flipVertical = !state.flipVertical;
    hooks.Repaint();
}

void ToggleInvertColors(ViewState& state, const ViewHooks& hooks) {
    state.invertColors = !state.invertColors;
    hooks.Repaint();
}

void ToggleGammaBoost(ViewState& state, const ViewHooks& hooks) {
    state.gammaBoost = !state.gammaBoost;
    hooks.Repaint();
}

void ResetView(ViewState& state, const ViewHooks& hooks) {
    state.zoom = 1.0f;
    state.rotation = 0;
    state.flipHorizontal = false;
    state.flipVertical = false;
    state.panX = 0;
    state.panY = 0;
    state.invertColors = false;
    state.gammaBoost = false;
    hooks.ShowMessage("바르게 보기. 회전/반전/줌/패닝/보정 초기화", kModeMessageMs);
    hooks.Repaint();
}

void ToggleAutoOrient(ViewState& state, const ViewHooks& hooks) {
    state.autoOrient = !state.autoOrient;
    hooks.ShowMessage(state.autoOrient ? "창크기 긴쪽으로 사진 방향 자동 설정 ON"
                                       : "창크기 긴쪽으로 사진 방향 자동 설정 OFF",
                      kModeMessageMs);
    hooks.Repaint();
}

void ResetForNewImage(ViewState& state) {
    state.zoom = 1.0f;
    state.panX = 0;
    state.panY = 0;
}

void ToggleDualView(LayoutState& layout, const ViewHooks& hooks) {
    layout.dualView = !layout.dualView;
    if (layout.dualView) {
        layout.webtoonMode = false;
        // The prefetch thread caches the second page of the pair.
        hooks.WakePrefetch();
    }
    hooks.ShowMessage(layout.dualView ? "2장 보기" : "1장 보기", kModeMessageMs);
    hooks.Repaint();
}

void SetViewMode(int mode, ViewState& state, LayoutState& layout, const ViewHooks& hooks) {
    struct SingleRow {
        FitMode fitMode;
    };
    struct StripRow {
        uint32_t width;
        const char* message;
    };
    static constexpr SingleRow kSingle[] = {
        {FitMode::FitShrinkOnly}, {FitMode::FitAlways}, {FitMode::ActualSize}};
    static constexpr StripRow kStrip[] = {
        {0, "웹툰 100%"}, {640, "웹툰 640px"}, {760, "웹툰 760px"}, {800, "웹툰 800px"}};

    if (mode >= 0 && mode <= 2) {
        layout.webtoonMode = false;
        layout.dualView = false;
        state.fitMode = kSingle[mode].fitMode;
        hooks.RequestLoad();
        hooks.UpdateWindowTitle();
        hooks.ShowMessage(FitModeText(state.fitMode), kModeMessageMs);
        hooks.Repaint();
    } else if (mode >= 3 && mode <= 6) {
        const StripRow& row = kStrip[mode - 3];
        layout.webtoonMode = true;
        layout.dualView = false;
        layout.webtoonWidth = row.width;
        if (row.width != 0) {
            hooks.SelectWebtoonWidth(row.width);
        }
        hooks.StartBatch();
        hooks.UpdateWindowTitle();
        hooks.ShowMessage(row.message, kModeMessageMs);
        hooks.Repaint();
    } else if (mode == 7) {
        ToggleDualView(layout, hooks);
        hooks.UpdateWindowTitle();
    } else {
        hooks.Repaint();
    }
}

float FitScale(FitMode mode, bool isPreview, float tw, float th, float regionWidth, float regionHeight) {
    if (!(tw > 0 && th > 0 && regionWidth > 0 && regionHeight > 0)) {
        return 1.0f;
    }
    const float fit = std::min(regionHeight / th, regionWidth / tw);
    switch (mode) {
    case FitMode::FitShrinkOnly:
        // A preview is smaller than the image it stands for, so it may be enlarged to the final size.
        return isPreview ? fit : std::min(fit, 1.0f);
    case FitMode::FitAlways:
        return fit;
    case FitMode::ActualSize:
        return isPreview ? fit : 1.0f;
    }
    return 1.0f;
}

float EffectiveRotation(const ViewState& state, float imageWidth, float imageHeight, float renderWidth,
                        float renderHeight) {
    float angle = NormalizeAngle(state.rotation + state.orientationRotation);
    if (state.autoOrient) {
        const bool turned = IsQuarterTurn(angle);
        const float tw = turned ? imageHeight : imageWidth;
        const float th = turned ? imageWidth : imageHeight;
        if ((renderWidth > renderHeight) != (tw > th)) {
            angle = NormalizeAngle(angle + 90.0f);
        }
    }
    return angle;
}

Matrix3x2 ComputeImageTransform(const ViewState& state, float imageWidth, float imageHeight,
                                float renderWidth, float renderHeight, float regionTop) {
    const ImageRegion region = ComputeImageRegion(renderWidth, renderHeight, regionTop);
    const float angle = EffectiveRotation(state, imageWidth, imageHeight, renderWidth, renderHeight);
    const bool turned = IsQuarterTurn(angle);
    const float tw = turned ? imageHeight : imageWidth;
    const float th = turned ? imageWidth : imageHeight;

    const float scale =
        FitScale(state.fitMode, state.isPreview.Load(), tw, th, region.width, region.height) * state.zoom;
    const float mirrorX = state.flipHorizontal ? -1.0f : 1.0f;
    const float mirrorY = state.flipVertical ? -1.0f : 1.0f;

    return Matrix3x2::Translation(-imageWidth / 2, -imageHeight / 2) * Matrix3x2::Rotation(angle) *
           Matrix3x2::Scale(scale * mirrorX, scale * mirrorY) *
           Matrix3x2::Translation(region.width / 2 + state.panX, region.top + region.height / 2 + state.panY);
}

bool CanPan(const ViewState& state, float imageWidth, float imageHeight, float renderWidth,
            float renderHeight, float regionTop) {
    if (!(imageWidth > 0 && imageHeight > 0 && renderWidth > 0 && renderHeight > 0)) {
        return false;
    }
    const ImageRegion region = ComputeImageRegion(renderWidth, renderHeight, regionTop);
    float scale = 1.0f;
    if (region.height > 0) {
        const float fit = std::min(region.height / imageHeight, region.width / imageWidth);
        if (state.fitMode == FitMode::FitShrinkOnly) {
            scale = std::min(1.0f, fit);
        } else if (state.fitMode == FitMode::FitAlways) {
            scale = fit;
        }
    }
    scale *= state.zoom;
    return scale * imageWidth > region.width + 2.0f || scale * imageHeight > region.height + 2.0f;
}

void BeginPan(PanDrag& drag, float x, float y) {
    drag.active = true;
    drag.lastX = x;
    drag.lastY = y;
}

PointF MoveDrag(PanDrag& drag, float x, float y) {
    if (!drag.active) {
        return {};
    }
    const PointF delta{x - drag.lastX, y - drag.lastY};
    drag.lastX = x;
    drag.lastY = y;
    return delta;
}

void PanBy(ViewState& state, PanDrag& drag, float x, float y, const ViewHooks& hooks) {
    const PointF delta = MoveDrag(drag, x, y);
    if (delta.x == 0 && delta.y == 0) {
        return;
    }
    state.panX += delta.x;
    state.panY += delta.y;
    hooks.Repaint();
}

void EndPan(PanDrag& drag) {
    drag.active = false;
}

} // namespace view
