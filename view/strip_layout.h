#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "view/geometry.h"
#include "view/view_state.h"

// Arithmetic of the dual layout and of the webtoon strip: page heights, scrolling, the strip's scroll
// bar with its page label, and the loading progress box. The drawing layer owns the bitmaps and the
// strip mutex; it keeps a StripLayout beside its bitmap list and guards both with that mutex.
namespace view {

constexpr float kFallbackColumnWidth = 800.0f;
constexpr float kStripWheelStep = 100.0f;

// The strip's column width: the chosen width, or the render width when that is 0 (full width). A
// non-positive result counts as 800.
float StripColumnWidth(uint32_t webtoonWidth, float renderWidth);

// A page's height in the strip: its pixel height scaled to the column width; 0 for a page without
// pixels.
float StripPageHeight(int32_t pixelWidth, int32_t pixelHeight, float columnWidth);

struct StripPagePlacement {
    int32_t index = 0;
    RectF rect;
};

class StripLayout {
public:
    // Forgets every page and the scroll position; the start page stays as set.
    void Clear();

    // Appends a page already turned upright by its EXIF orientation, sized for the column width of this
    // moment. Pages without pixels are ignored (false). When the pending start page has now arrived the
    // strip scrolls to it and the start page is cleared.
    bool AddPage(int32_t pixelWidth, int32_t pixelHeight, float columnWidth);

    // Keeps the page heights in step with the column (the full-width column follows the window, the
    // + and − keys change a fixed one) and lowers the scroll position when the view would show empty
    // space below the last page.
    void Relayout(float columnWidth, float viewHeight);

    // Clamps to at most total − view height, then to at least 0.
    void ClampScroll(float viewHeight);
    void ScrollBy(float delta, float viewHeight);
    void SetScroll(float scroll, float viewHeight);

    // Scroll position for a cursor y on the stored scroll-bar track.
    void SeekStripFromScrollBar(float y, const RectF& track, float viewHeight, unsigned windowDpi);

    // The page under the middle of the view (the last page when the probe is past the end); −1 when the
    // strip is empty. The caller publishes it as the current index.
    int32_t UpdateStripIndex(float viewHeight) const;

    // Scrolls so that the page's top is at the top of the view (no upper clamp, so the last page can be
    // shown at the top). False, with nothing changed, for an index outside the strip.
    bool ScrollToPage(int32_t index);

    // The page slider's seek: the page's top, clamped to the scrollable range; a page still loading
    // counts as the strip's end. False for a negative index.
    bool SeekToPage(int32_t index, float viewHeight);

    // Rectangles of the pages that intersect a view of renderWidth × renderHeight, top to bottom.
    std::vector<StripPagePlacement> VisiblePages(float renderWidth, float renderHeight) const;

    float PageTop(int32_t index) const;
    int32_t PageCount() const { return static_cast<int32_t>(pages.size()); }
    float PageHeight(int32_t index) const { return pages[static_cast<size_t>(index)].height; }
    float TotalHeight() const { return totalHeight; }
    float Scroll() const { return scroll; }
    float ColumnWidth() const { return columnWidth; }

    // stripStartIndex: the page to scroll to once it has arrived; −1 when none.
    int32_t StartIndex() const { return startIndex; }
    void SetStartIndex(int32_t index) { startIndex = index; }

private:
    struct Page {
        int32_t pixelWidth;
        int32_t pixelHeight;
        float height;
    };

    void Recompute(float newColumnWidth);

    std::vector<Page> pages;
    float totalHeight = 0;
    float scroll = 0;
    float columnWidth = kFallbackColumnWidth;
    int32_t startIndex = -1;
};

// A wheel message scrolls the strip 100 units, up for a positive delta, whatever the delta's size.
void ScrollStripByWheel(StripLayout& strip, int wheelDelta, float viewHeight);
// A drag on the strip scrolls it with the pointer: moving down shows what lies above.
void DragStrip(StripLayout& strip, PanDrag& drag, float x, float y, float viewHeight);

// The strip's scroll bar: the track (also the hit rectangle kept as scrollBarRect) and the thumb.
struct StripScrollBarGeometry {
    RectF track;
    RectF thumb;
    float radius = 0;
};

// Nothing when there is nothing to scroll (strip not taller than the view, empty view); the caller then
// clears its scrollBarRect.
std::optional<StripScrollBarGeometry> ComputeStripScrollBar(float renderWidth, float renderHeight,
                                                            float totalHeight, float scroll,
                                                            unsigned windowDpi);

// The thumb length for a track of the given length.
float StripThumbLength(float trackLength, float viewHeight, float totalHeight, unsigned windowDpi);

// The "current/count" label left of the bar, vertically centred on the thumb, from the measured text.
struct StripPageLabelGeometry {
    PointF textOrigin;
    RectF background;
    float radius = 0;
};

StripPageLabelGeometry ComputeStripPageLabel(float renderWidth, const RectF& thumb, float textWidth,
                                             float textHeight, unsigned windowDpi);
std::string FormatStripPageLabel(int32_t currentIndex, int32_t count);

// The loading progress box's fade. progressDoneTick is 0 while loading.
struct StripProgressState {
    bool progressVisible = false;
    uint32_t progressDoneTick = 0;
};

struct StripProgressFrame {
    bool draw = false;
    float alpha = 0;
    bool keepAnimating = false; // keep the 16 ms animation timer running
    bool repaint = false;
};

constexpr uint32_t kStripProgressFadeMs = 500;

StripProgressFrame StepStripProgress(StripProgressState& state, bool running, int32_t total, uint32_t now);

struct StripProgressGeometry {
    RectF box;
    float boxRadius = 0;
    RectF text;
    RectF track;
    std::optional<RectF> fill; // absent while nothing is done
    float barRadius = 0;
};

StripProgressGeometry ComputeStripProgressBox(float renderWidth, int32_t done, int32_t total,
                                              unsigned windowDpi);
// "로딩 중... done/total" while running, "완료! (total장)" when finished.
std::string FormatStripProgressText(bool running, int32_t done, int32_t total);

// The dual layout: where the current page goes and whether the next one is drawn beside it.
enum class DualHalf { Left, Right };

struct DualPlan {
    DualHalf currentHalf = DualHalf::Left;
    bool showNext = false; // the next image goes into the right half (when cached)
};

DualPlan PlanDualPages(int32_t currentIndex, int32_t count);

// One page of w × h into a half of the region: turned by the view's angle, shrunk to fit, never enlarged.
Matrix3x2 ComputeDualPageTransform(float imageWidth, float imageHeight, float rotation,
                                   float orientationRotation, float renderWidth, float regionTop,
                                   float regionHeight, DualHalf half);

// The window placement of SelectWebtoonWidth on a monitor's work area: column width + 20 wide, centred,
// 40 below the top and 80 shorter than the work area.
struct WindowPlacement {
    int32_t left = 0;
    int32_t top = 0;
    int32_t width = 0;
    int32_t height = 0;
};

WindowPlacement WebtoonWindowPlacement(int32_t workLeft, int32_t workTop, int32_t workWidth,
                                       int32_t workHeight, uint32_t columnWidth);

} // namespace view
