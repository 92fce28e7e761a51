#include "view/strip_layout.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "view/view_state.h"

namespace view {

float StripColumnWidth(uint32_t webtoonWidth, float renderWidth) {
    const float width = webtoonWidth != 0 ? static_cast<float>(webtoonWidth) : renderWidth;
    return width > 0 ? width : kFallbackColumnWidth;
}

float StripPageHeight(int32_t pixelWidth, int32_t pixelHeight, float columnWidth) {
    if (pixelWidth <= 0 || pixelHeight <= 0) {
        return 0;
    }
    if (!(columnWidth > 0)) {
        columnWidth = kFallbackColumnWidth;
    }
    return static_cast<float>(pixelHeight) * (columnWidth / static_cast<float>(pixelWidth));
}

void StripLayout::Clear() {
    pages.clear();
    totalHeight = 0;
    scroll = 0;
}

void StripLayout::Recompute(float newColumnWidth) {
    columnWidth = newColumnWidth > 0 ? newColumnWidth : kFallbackColumnWidth;
    totalHeight = 0;
    for (Page& page : pages) {
        page.height = StripPageHeight(page.pixelWidth, page.pixelHeight, columnWidth);
        totalHeight += page.height;
    }
}

bool StripLayout::AddPage(int32_t pixelWidth, int32_t pixelHeight, float newColumnWidth) {
    if (pixelWidth <= 0 || pixelHeight <= 0) {
        return false;
    }
    if (!(newColumnWidth > 0)) {
        newColumnWidth = kFallbackColumnWidth;
    }
    if (pages.empty()) {
        columnWidth = newColumnWidth;
    } else if (newColumnWidth != columnWidth) {
        // Heights of one strip must share one column, or the total and the drawing disagree.
        Recompute(newColumnWidth);
    }
    const float height = StripPageHeight(pixelWidth, pixelHeight, columnWidth);
    pages.push_back({pixelWidth, pixelHeight, height});
    totalHeight += height;
    if (startIndex >= 0 && startIndex < PageCount()) {
        ScrollToPage(startIndex);
        startIndex = -1;
    }
    return true;
}

void StripLayout::Relayout(float newColumnWidth, float viewHeight) {
    if (pages.empty()) {
        return;
    }
    if (!(newColumnWidth > 0)) {
        newColumnWidth = kFallbackColumnWidth;
    }
    if (newColumnWidth != columnWidth) {
        Recompute(newColumnWidth);
    }
    scroll = std::min(scroll, std::max(0.0f, totalHeight - viewHeight));
}

void StripLayout::ClampScroll(float viewHeight) {
    if (!std::isfinite(scroll)) {
        scroll = 0;
    }
    scroll = std::min(scroll, totalHeight - viewHeight);
    scroll = std::max(scroll, 0.0f);
}

void StripLayout::ScrollBy(float delta, float viewHeight) {
    scroll += delta;
    ClampScroll(viewHeight);
}

void StripLayout::SetScroll(float newScroll, float viewHeight) {
    scroll = newScroll;
    ClampScroll(viewHeight);
}

void ScrollStripByWheel(StripLayout& strip, int wheelDelta, float viewHeight) {
    if (wheelDelta != 0) {
        strip.ScrollBy(wheelDelta > 0 ? -kStripWheelStep : kStripWheelStep, viewHeight);
    }
}

void DragStrip(StripLayout& strip, PanDrag& drag, float x, float y, float viewHeight) {
    strip.ScrollBy(-MoveDrag(drag, x, y).y, viewHeight);
}

float StripThumbLength(float trackLength, float viewHeight, float totalHeight, unsigned windowDpi) {
    const float proportional = totalHeight > 0 ? viewHeight / totalHeight * trackLength : trackLength;
    return std::max(Dip(20, windowDpi), proportional);
}

void StripLayout::SeekStripFromScrollBar(float y, const RectF& track, float viewHeight, unsigned windowDpi) {
    const float length = track.bottom - track.top;
    const float thumb = StripThumbLength(length, viewHeight, totalHeight, windowDpi);
    float fraction = 0;
    if (length - thumb > 0) {
        fraction = (y - track.top - thumb / 2) / (length - thumb);
    }
    fraction = std::clamp(fraction, 0.0f, 1.0f);
    SetScroll(fraction * (totalHeight - viewHeight), viewHeight);
}

int32_t StripLayout::UpdateStripIndex(float viewHeight) const {
    if (pages.empty()) {
        return -1;
    }
    const float probe = scroll + viewHeight / 2;
    float bottom = 0;
    for (size_t i = 0; i < pages.size(); ++i) {
        bottom += pages[i].height;
        if (bottom > probe) {
            return static_cast<int32_t>(i);
        }
    }
    return PageCount() - 1;
}

float StripLayout::PageTop(int32_t index) const {
    float top = 0;
    for (int32_t i = 0; i < index && i < PageCount(); ++i) {
        top += pages[static_cast<size_t>(i)].height;
    }
    return top;
}

bool StripLayout::ScrollToPage(int32_t index) {
    if (index < 0 || index >= PageCount()) {
        return false;
    }
    scroll = std::max(0.0f, PageTop(index));
    return true;
}

bool StripLayout::SeekToPage(int32_t index, float viewHeight) {
    if (index < 0) {
        return false;
    }
    // A page that has not arrived yet lies below everything there is: PageTop stops at the strip's end.
    scroll = std::clamp(PageTop(index), 0.0f, std::max(0.0f, totalHeight - viewHeight));
    return true;
}

std::vector<StripPagePlacement> StripLayout::VisiblePages(float renderWidth, float renderHeight) const {
    std::vector<StripPagePlacement> visible;
    const float left = (renderWidth - columnWidth) / 2;
    float y = -scroll;
    for (size_t i = 0; i < pages.size(); ++i) {
        const float bottom = y + pages[i].height;
        if (bottom >= 0) {
            if (y > renderHeight) {
                break;
            }
            visible.push_back({static_cast<int32_t>(i), {left, y, left + columnWidth, bottom}});
        }
        y = bottom;
    }
    return visible;
}

std::optional<StripScrollBarGeometry> ComputeStripScrollBar(float renderWidth, float renderHeight,
                                                            float totalHeight, float scroll,
                                                            unsigned windowDpi) {
    if (!(totalHeight > 0 && renderWidth > 0 && renderHeight > 0 && renderHeight < totalHeight)) {
        return std::nullopt;
    }
    const float margin = Dip(8, windowDpi);
    StripScrollBarGeometry bar;
    bar.radius = Dip(3, windowDpi);
    bar.track = {renderWidth - Dip(26, windowDpi) - margin / 2, margin, renderWidth - margin,
                 renderHeight - margin};
    const float length = bar.track.Height();
    // A thumb longer than a very short track would leave it; keep it inside.
    const float thumb =
        std::min(StripThumbLength(length, renderHeight, totalHeight, windowDpi), std::max(0.0f, length));
    float fraction = scroll / (totalHeight - renderHeight);
    fraction = std::clamp(fraction, 0.0f, 1.0f);
    const float top = fraction * (length - thumb) + margin;
    bar.thumb = {bar.track.left, top, bar.track.right, top + thumb};
    return bar;
}

StripPageLabelGeometry ComputeStripPageLabel(float renderWidth, const RectF& thumb, float textWidth,
                                             float textHeight, unsigned windowDpi) {
    const float margin = Dip(8, windowDpi);
    StripPageLabelGeometry label;
    label.textOrigin.x = renderWidth - 2 * margin - textWidth - Dip(8, windowDpi);
    label.textOrigin.y = thumb.Center().y - textHeight / 2;
    label.background = {label.textOrigin.x - Dip(4, windowDpi), label.textOrigin.y - Dip(2, windowDpi),
                        label.textOrigin.x + textWidth + Dip(4, windowDpi),
                        label.textOrigin.y + textHeight + Dip(2, windowDpi)};
    label.radius = Dip(3, windowDpi);
    return label;
}

std::string FormatStripPageLabel(int32_t currentIndex, int32_t count) {
    char text[48];
    std::snprintf(text, sizeof text, "%d/%d", currentIndex + 1, count);
    return text;
}

StripProgressFrame StepStripProgress(StripProgressState& state, bool running, int32_t total, uint32_t now) {
    StripProgressFrame frame;
    if (!state.progressVisible) {
        return frame;
    }
    if (total < 1) {
        state.progressVisible = false;
        return frame;
    }
    if (running) {
        state.progressDoneTick = 0;
        frame.draw = true;
        frame.alpha = 1;
        return frame;
    }
    if (state.progressDoneTick == 0) {
        state.progressDoneTick = now;
    }
    const uint32_t elapsed = now - state.progressDoneTick; // unsigned: survives a wrapped tick count
    if (elapsed > kStripProgressFadeMs) {
        state.progressVisible = false;
        state.progressDoneTick = 0;
        frame.repaint = true;
        return frame;
    }
    frame.draw = true;
    frame.alpha = std::max(0.0f, 1.0f - static_cast<float>(elapsed) / kStripProgressFadeMs);
    frame.keepAnimating = true;
    frame.repaint = true;
    return frame;
}

StripProgressGeometry ComputeStripProgressBox(float renderWidth, int32_t done, int32_t total,
                                              unsigned windowDpi) {
    const float barWidth = Dip(200, windowDpi);
    const float padding = Dip(12, windowDpi);
    const float lineHeight = Dip(18, windowDpi);
    const float barHeight = Dip(8, windowDpi);
    const float margin = Dip(20, windowDpi);

    StripProgressGeometry geometry;
    geometry.boxRadius = Dip(6, windowDpi);
    geometry.barRadius = Dip(4, windowDpi);
    const float right = renderWidth - margin;
    geometry.box = {right - (barWidth + 2 * padding), margin, right,
                    margin + lineHeight + barHeight + 3 * padding};
    geometry.text = {geometry.box.left + padding, geometry.box.top + padding, geometry.box.right - padding,
                     geometry.box.top + padding + lineHeight};
    geometry.track = {geometry.text.left, geometry.text.bottom + padding, geometry.text.left + barWidth,
                      geometry.text.bottom + padding + barHeight};
    if (done > 0 && total > 0) {
        // A counter that overtakes its total still fills only the track.
        const float fraction = std::min(1.0f, static_cast<float>(done) / static_cast<float>(total));
        geometry.fill = RectF{geometry.track.left, geometry.track.top,
                              geometry.track.left + fraction * barWidth, geometry.track.bottom};
    }
    return geometry;
}

std::string FormatStripProgressText(bool running, int32_t done, int32_t total) {
    char text[96];
    if (running) {
        std::snprintf(text, sizeof text, "로딩 중... %d/%d", done, total);
    } else {
        std::snprintf(text, sizeof text, "완료! (%d장)", total);
    }
    return text;
}

DualPlan PlanDualPages(int32_t currentIndex, int32_t count) {
    if (currentIndex + 1 < count) {
        return {DualHalf::Left, true};
    }
    // Alone: a single-image list sits in the right half like a book's first page, the last of several in
    // the left half.
    return {currentIndex == 0 ? DualHalf::Right : DualHalf::Left, false};
}

Matrix3x2 ComputeDualPageTransform(float imageWidth, float imageHeight, float rotation,
                                   float orientationRotation, float renderWidth, float regionTop,
                                   float regionHeight, DualHalf half) {
    const float angle = NormalizeAngle(rotation + orientationRotation);
    const bool turned = angle == 90.0f || angle == 270.0f;
    const float tw = turned ? imageHeight : imageWidth;
    const float th = turned ? imageWidth : imageHeight;
    const float halfWidth = renderWidth / 2;
    const float scale = FitScale(FitMode::FitShrinkOnly, false, tw, th, halfWidth, regionHeight);
    float x = (halfWidth - scale * tw) / 2;
    if (half == DualHalf::Right) {
        x += halfWidth;
    }
    return Matrix3x2::Translation(-imageWidth / 2, -imageHeight / 2) * Matrix3x2::Rotation(angle) *
           Matrix3x2::Scale(scale, scale) *
           Matrix3x2::Translation(x + scale * tw / 2, regionTop + regionHeight / 2);
}

WindowPlacement WebtoonWindowPlacement(int32_t workLeft, int32_t workTop, int32_t workWidth,
                                       int32_t workHeight, uint32_t columnWidth) {
    WindowPlacement placement;
    placement.width = static_cast<int32_t>(columnWidth) + 20;
    placement.left = workLeft + (workWidth - placement.width) / 2;
    placement.top = workTop + 40;
    placement.height = std::max(0, workHeight - 80);
    return placement;
}

} // namespace view
