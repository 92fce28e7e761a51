#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/settings.h"
#include "view/geometry.h"
#include "view/view_hooks.h"

namespace view {

// How the image is fitted to the image region. The numbers are stored and compared; a value outside
// the three named ones draws at scale 1.
enum class FitMode : int32_t {
    FitShrinkOnly = 0, // fit, but never enlarge
    ActualSize = 1,    // scale 1
    FitAlways = 2,     // fit, enlarging small images
};

// The menu and message text of a fit mode ("" for an unknown value).
const char* FitModeText(FitMode mode);

// A flag written by the loader thread and read by the window thread. Copying a ViewState copies the
// value it holds at that moment.
class PublishedFlag {
public:
    PublishedFlag(bool initial = false) : value(initial) {}
    PublishedFlag(const PublishedFlag& other) : value(other.Load()) {}
    PublishedFlag& operator=(const PublishedFlag& other) {
        value.store(other.Load(), std::memory_order_release);
        return *this;
    }
    PublishedFlag& operator=(bool newValue) {
        value.store(newValue, std::memory_order_release);
        return *this;
    }
    bool Load() const { return value.load(std::memory_order_acquire); }
    bool Exchange(bool newValue) { return value.exchange(newValue, std::memory_order_acq_rel); }
    operator bool() const { return Load(); }

private:
    std::atomic<bool> value;
};

// Zoom, pan, rotation, mirroring, corrections and fit of the image in view. One instance, owned by the
// main window and used on its thread; only isPreview is published by the loader thread.
struct ViewState {
    float zoom = 1.0f;             // user zoom on top of the fit scale, kept in [kMinZoom, kMaxZoom]
    float panX = 0;                // image centre offset from the region centre, drawing units
    float panY = 0;                // positive downwards
    float rotation = 0;            // degrees clockwise, kept in [0, 360)
    float orientationRotation = 0; // 0, 90, 180 or 270, from the image's EXIF orientation
    bool flipHorizontal = false;   // mirror along screen x, after the rotation
    bool flipVertical = false;     // mirror along screen y, after the rotation
    bool invertColors = false;
    bool gammaBoost = false;                  // gamma 0.8
    FitMode fitMode = FitMode::FitShrinkOnly; // not persisted
    bool autoOrient = false;       // turn the image so its long side follows the window's long side
    PublishedFlag isPreview;       // the bitmap in view is a preview, not the final decode
    int32_t imageFilter = 0;       // 0 none, 1 soften, 2 sharpen; "LastImageFilter"
    int32_t interpolationMode = 1; // 0 … 3; "InterpolationMode"
};

constexpr float kMinZoom = 0.05f;
constexpr float kMaxZoom = 100.0f;

// Which layout is on (at most one of the two) and the strip's column width (0 = the render width);
// persisted as "DualView", "WebtoonMode" and "WebtoonWidth".
struct LayoutState {
    bool dualView = false;
    bool webtoonMode = false;
    uint32_t webtoonWidth = 0;
};

// The start-up state from the stored preferences; values a damaged settings file could hold (a filter
// or strip width that does not exist) fall back to their defaults.
ViewState ViewStateFromSettings(const platform::Settings& settings);
LayoutState LayoutStateFromSettings(const platform::Settings& settings);
// Writes back what persists: the image filter and the layout.
void StoreViewSettings(const ViewState& state, const LayoutState& layout, platform::Settings& settings);

// The part of the render surface the single image is fitted into: below the pinned title bar, which is
// kTitleBarHeight units high whatever the DPI.
struct ImageRegion {
    float top = 0;
    float width = 0;
    float height = 0;
};

constexpr float kTitleBarHeight = 58.0f;

enum class FullscreenState { Windowed, Fullscreen };

float ImageRegionTop(bool titleBarPinned, FullscreenState fullscreen);
// A render surface shorter than the top offset leaves an empty region (height 0), never a negative one.
ImageRegion ComputeImageRegion(float renderWidth, float renderHeight, float top);

// Brings an angle into [0, 360). A non-finite angle becomes 0.
float NormalizeAngle(float degrees);

// EXIF orientation (tag 274) to the view's orientation rotation: 3 → 180, 6 → 90, 8 → 270, anything else
// (the mirrored orientations, a missing tag) → 0.
float OrientationRotationFromExif(int orientation);

// "%.0f%%" of zoom × 100: the user zoom, not the effective scale.
std::string FormatZoomMessage(float zoom);

enum class ZoomDirection { In, Out };

// Zoom steps: factor 1.2 for the commands, 1.1 for the wheel and the + and − keys; each shows the zoom
// message for 800 ms and repaints.
void ZoomIn(ViewState& state, const ViewHooks& hooks);
void ZoomOut(ViewState& state, const ViewHooks& hooks);
void ZoomWheel(ViewState& state, ZoomDirection direction, const ViewHooks& hooks);
void ZoomReset(ViewState& state, const ViewHooks& hooks);
// Relative turn by ±90 or ±10 degrees, wrapped once into [0, 360).
void RotateBy(ViewState& state, float degrees, const ViewHooks& hooks);
void SetRotation(ViewState& state, float degrees, const ViewHooks& hooks);
void ToggleFlipHorizontal(ViewState& state, const ViewHooks& hooks);
void ToggleFlipVertical(ViewState& state, const ViewHooks& hooks);
void ToggleInvertColors(ViewState& state, const ViewHooks& hooks);
void ToggleGammaBoost(ViewState& state, const ViewHooks& hooks);
// Zoom 1, rotation 0, no flips, no pan, no corrections; the fit mode and auto-orientation stay.
void ResetView(ViewState& state, const ViewHooks& hooks);
void ToggleAutoOrient(ViewState& state, const ViewHooks& hooks);
// Another image comes into view: zoom 1 and no pan; everything else carries over. No repaint.
void ResetForNewImage(ViewState& state);

// The entries of the view-mode list: 0–2 single image with a fit mode, 3–6 the strip at full width, 640,
// 760 or 800, 7 toggles the dual layout. Any other value only repaints.
void SetViewMode(int mode, ViewState& state, LayoutState& layout, const ViewHooks& hooks);
// Entry 7 of SetViewMode without the window-title refresh (the context menu's dual entry).
void ToggleDualView(LayoutState& layout, const ViewHooks& hooks);

// The fit scale of a (turned) image of tw × th in a region of width × height before the user zoom.
// Degenerate sizes (no image, an empty region) give 1.
float FitScale(FitMode mode, bool isPreview, float tw, float th, float regionWidth, float regionHeight);

// The angle the single image is drawn at: user and EXIF rotation, plus 90 when auto-orientation turns a
// landscape image into a portrait window or the other way (a square counts as portrait).
float EffectiveRotation(const ViewState& state, float imageWidth, float imageHeight, float renderWidth,
                        float renderHeight);

// The matrix that draws the bitmap's rectangle (0, 0, w, h): centre to origin, turn, scale with the
// mirroring on screen axes, then to the region centre plus pan.
Matrix3x2 ComputeImageTransform(const ViewState& state, float imageWidth, float imageHeight,
                                float renderWidth, float renderHeight, float regionTop);

// Whether the unturned image at fit scale × zoom overflows the region by more than 2 units. False with
// no image or no render surface (any size 0).
bool CanPan(const ViewState& state, float imageWidth, float imageHeight, float renderWidth,
            float renderHeight, float regionTop);

// A drag with the left button: pans the image, or scrolls the strip in the webtoon layout.
struct PanDrag {
    bool active = false;
    float lastX = 0;
    float lastY = 0;
};

void BeginPan(PanDrag& drag, float x, float y);
// The cursor's move since the last call, stored as the new last position; (0, 0) when no drag runs.
PointF MoveDrag(PanDrag& drag, float x, float y);
// Adds the move to the pan, unclamped: the image may leave the view until ZoomReset or ResetView.
void PanBy(ViewState& state, PanDrag& drag, float x, float y, const ViewHooks& hooks);
void EndPan(PanDrag& drag);

} // namespace view
