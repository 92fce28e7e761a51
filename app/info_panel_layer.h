#pragma once

#include <QImage>
#include <QPainter>
#include <QRectF>

#include <cstdint>
#include <functional>

// The information panel as a layer of the window's frame: a surface of its own at the left edge, above
// everything else in the frame, that slides in and out horizontally. Window thread only.
namespace app {

// The panel's width in pixels: 360 × dpi / 96, rounded toward zero.
int32_t InfoPanelWidth(uint32_t windowDpi);

// How long one slide in or out takes.
inline constexpr uint32_t kInfoPanelSlideMs = 250;

// The panel's horizontal offset from the client area's left edge: 0 shown, −width hidden. After each
// change of the shown state the offset runs linearly over kInfoPanelSlideMs from the opposite end to
// the new one. Ticks are milliseconds of a wrapping 32-bit counter (OverlayTickCount).
struct InfoPanelSlide {
    bool shown = false;
    bool running = false;   // a slide has started and not yet been seen finished
    uint32_t startTick = 0; // when the running slide started
};

// Shown or hidden at once, without a slide.
void PlaceInfoPanel(InfoPanelSlide& slide, bool shown);
// Starts the slide towards `shown` at `now`. A slide always runs the whole way from the opposite end,
// also when it reverses one still running.
void StartInfoPanelSlide(InfoPanelSlide& slide, bool shown, uint32_t now);
// The offset at `now` for a panel `width` pixels wide, in [−width, 0].
float InfoPanelOffset(const InfoPanelSlide& slide, float width, uint32_t now);
// Ends a slide whose time is up; answers whether it is still running. Call it on every animation tick
// so that a finished slide is never mistaken for a new one after the tick counter wraps.
bool AdvanceInfoPanelSlide(InfoPanelSlide& slide, uint32_t now);

// The panel's content, drawn over the surface just cleared to transparent; `panel` is the whole
// surface, in its own pixels. The panel has no background of its own: its text carries a dark halo so
// that it reads over any image. The text arrives with the panel's information record; until then
// nothing is drawn.
void DrawInfoPanel(QPainter& painter, const QRectF& panel);

// The panel's surface: a premultiplied bitmap InfoPanelWidth(dpi) wide and as tall as the client area,
// into which the content is drawn only when it changes, and which every frame composites at the
// slide's offset.
class InfoPanelLayer {
public:
    using ContentPainter = std::function<void(QPainter& painter, const QRectF& panel)>;

    explicit InfoPanelLayer(uint32_t windowDpi);

    int32_t Width() const { return width; }
    // Makes the surface match the client height; a zero or negative height (a minimised window) is
    // ignored. True when a new surface was made; it is then transparent until the next Redraw.
    bool Resize(int32_t clientHeight);
    // Clears the surface to transparent and draws the content into it.
    void Redraw();
    // Draws the surface with its left edge at `offset` (whole pixels); nothing when it lies wholly
    // outside the client area or holds nothing visible.
    void Composite(QPainter& painter, float offset) const;
    // True when compositing at `offset` would draw anything.
    bool Visible(float offset) const;

    // Replaces DrawInfoPanel as the content (tests); an empty function restores it.
    void SetContentPainter(ContentPainter painter);
    const QImage& Surface() const { return surface; }

private:
    int32_t width = 0;
    QImage surface;    // null until sized, or when it could not be made (the window is then without panel)
    bool blank = true; // every pixel of the surface is fully transparent
    ContentPainter content;
};

} // namespace app
