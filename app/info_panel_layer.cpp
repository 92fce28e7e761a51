#include "app/info_panel_layer.h"

#include <algorithm>
#include <cmath>

namespace app {

namespace {

// Taller clients get a surface of this height at the top: no screen comes near it, and it bounds the
// allocation whatever size the window system reports.
constexpr int32_t kMaxSurfaceHeight = 16384;

bool AllTransparent(const QImage& image) {
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        // Premultiplied: a pixel with alpha 0 is 0 in every channel.
        if (std::any_of(row, row + image.width(), [](QRgb pixel) { return pixel != 0; })) {
            return false;
        }
    }
    return true;
}

} // namespace

int32_t InfoPanelWidth(uint32_t windowDpi) {
    return static_cast<int32_t>(360u * windowDpi / 96u);
}

void PlaceInfoPanel(InfoPanelSlide& slide, bool shown) {
    slide.shown = shown;
    slide.running = false;
}

void StartInfoPanelSlide(InfoPanelSlide& slide, bool shown, uint32_t now) {
    slide.shown = shown;
    slide.running = true;
    slide.startTick = now;
}

float InfoPanelOffset(const InfoPanelSlide& slide, float width, uint32_t now) {
    const float end = slide.shown ? 0.0f : -width;
    if (!slide.running) {
        return end;
    }
    const uint32_t elapsed = now - slide.startTick;
    if (elapsed >= kInfoPanelSlideMs) {
        return end;
    }
    const float travelled = width * static_cast<float>(elapsed) / static_cast<float>(kInfoPanelSlideMs);
    return slide.shown ? -width + travelled : -travelled;
}

bool AdvanceInfoPanelSlide(InfoPanelSlide& slide, uint32_t now) {
    if (slide.running && now - slide.startTick >= kInfoPanelSlideMs) {
        slide.running = false;
    }
    return slide.running;
}

void DrawInfoPanel(QPainter& painter, const QRectF& panel) {
    static_cast<void>(painter);
    static_cast<void>(panel);
}

InfoPanelLayer::InfoPanelLayer(uint32_t windowDpi) : width(InfoPanelWidth(windowDpi == 0 ? 96 : windowDpi)) {}

bool InfoPanelLayer::Resize(int32_t clientHeight) {
    const int32_t height = std::min(clientHeight, kMaxSurfaceHeight);
    if (height <= 0 || (!surface.isNull() && surface.height() == height)) {
        return false;
    }
    surface = QImage(width, height, QImage::Format_ARGB32_Premultiplied);
    if (surface.isNull()) {
        return false;
    }
    surface.fill(Qt::transparent);
    blank = true;
    return true;
}

void InfoPanelLayer::Redraw() {
    if (surface.isNull()) {
        return;
    }
    surface.fill(Qt::transparent);
    {
        QPainter painter(&surface);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        const QRectF panel(0, 0, surface.width(), surface.height());
        if (content) {
            content(painter, panel);
        } else {
            DrawInfoPanel(painter, panel);
        }
    }
    blank = AllTransparent(surface);
}

bool InfoPanelLayer::Visible(float offset) const {
    return !surface.isNull() && !blank && std::lround(offset) > -static_cast<long>(width);
}

void InfoPanelLayer::Composite(QPainter& painter, float offset) const {
    if (!Visible(offset)) {
        return;
    }
    painter.drawImage(QPoint(static_cast<int>(std::lround(offset)), 0), surface);
}

void InfoPanelLayer::SetContentPainter(ContentPainter painter) {
    content = std::move(painter);
}

} // namespace app
