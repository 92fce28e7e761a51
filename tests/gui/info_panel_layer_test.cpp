// The information panel's slide arithmetic and its surface, without a window.

#include "app/info_panel_layer.h"

#include <QColor>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

namespace {

TEST(InfoPanelLayer, WidthIs360ScaledByTheDpiRoundedTowardZero) {
    EXPECT_EQ(app::InfoPanelWidth(96), 360);
    EXPECT_EQ(app::InfoPanelWidth(144), 540);
    EXPECT_EQ(app::InfoPanelWidth(120), 450);
    EXPECT_EQ(app::InfoPanelWidth(97), 363); // 363.75
    EXPECT_EQ(app::InfoPanelWidth(192), 720);
    EXPECT_EQ(app::InfoPanelLayer(144).Width(), 540);
    EXPECT_EQ(app::InfoPanelLayer(0).Width(), 360); // an unknown DPI counts as 96
}

TEST(InfoPanelLayer, SlidesLinearlyBetweenTheEndsIn250Milliseconds) {
    const float width = 360;
    app::InfoPanelSlide slide;
    app::PlaceInfoPanel(slide, false);
    EXPECT_EQ(app::InfoPanelOffset(slide, width, 5000), -360.0f);
    app::PlaceInfoPanel(slide, true);
    EXPECT_EQ(app::InfoPanelOffset(slide, width, 5000), 0.0f);
    EXPECT_FALSE(app::AdvanceInfoPanelSlide(slide, 5000));

    // In: −width → 0.
    app::PlaceInfoPanel(slide, false);
    app::StartInfoPanelSlide(slide, true, 1000);
    EXPECT_EQ(app::InfoPanelOffset(slide, width, 1000), -360.0f);
    EXPECT_FLOAT_EQ(app::InfoPanelOffset(slide, width, 1050), -288.0f);
    EXPECT_FLOAT_EQ(app::InfoPanelOffset(slide, width, 1125), -180.0f);
    EXPECT_NEAR(app::InfoPanelOffset(slide, width, 1249), -1.44f, 1e-4f);
    EXPECT_EQ(app::InfoPanelOffset(slide, width, 1250), 0.0f);
    EXPECT_EQ(app::InfoPanelOffset(slide, width, 9000), 0.0f);
    EXPECT_TRUE(app::AdvanceInfoPanelSlide(slide, 1249));
    EXPECT_FALSE(app::AdvanceInfoPanelSlide(slide, 1250));
    EXPECT_FALSE(slide.running);

    // Out: 0 → −width, at 144 dpi.
    app::StartInfoPanelSlide(slide, false, 2000);
    EXPECT_EQ(app::InfoPanelOffset(slide, 540, 2000), 0.0f);
    EXPECT_FLOAT_EQ(app::InfoPanelOffset(slide, 540, 2125), -270.0f);
    EXPECT_EQ(app::InfoPanelOffset(slide, 540, 2250), -540.0f);

    // A reversal mid-way runs the whole way from the opposite end.
    app::StartInfoPanelSlide(slide, true, 2100);
    EXPECT_EQ(app::InfoPanelOffset(slide, width, 2100), -360.0f);
    EXPECT_FLOAT_EQ(app::InfoPanelOffset(slide, width, 2200), -216.0f);
}

TEST(InfoPanelLayer, TheSlideSurvivesTheTickCounterWrapping) {
    const float width = 360;
    app::InfoPanelSlide slide;
    app::StartInfoPanelSlide(slide, true, 0xFFFFFF00u); // 256 ms before the wrap
    EXPECT_FLOAT_EQ(app::InfoPanelOffset(slide, width, 0xFFFFFF00u + 125u), -180.0f);
    EXPECT_FLOAT_EQ(app::InfoPanelOffset(slide, width, 100u), 0.0f); // 356 ms later, past the wrap
    EXPECT_TRUE(app::AdvanceInfoPanelSlide(slide, 0xFFFFFFF0u));
    EXPECT_FALSE(app::AdvanceInfoPanelSlide(slide, 200u));
    // Once seen finished, a tick that happens to lie 0..249 ms after the old start is no new slide.
    EXPECT_EQ(app::InfoPanelOffset(slide, width, 0xFFFFFF00u + 10u), 0.0f);
}

TEST(InfoPanelLayer, SurfaceFollowsTheClientHeightAndStartsTransparent) {
    app::InfoPanelLayer layer(96);
    EXPECT_TRUE(layer.Surface().isNull());
    EXPECT_FALSE(layer.Resize(0)); // minimised
    EXPECT_FALSE(layer.Resize(-5));
    EXPECT_TRUE(layer.Surface().isNull());
    EXPECT_FALSE(layer.Visible(0));

    ASSERT_TRUE(layer.Resize(700));
    EXPECT_EQ(layer.Surface().width(), 360);
    EXPECT_EQ(layer.Surface().height(), 700);
    EXPECT_EQ(layer.Surface().format(), QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(layer.Surface().pixel(0, 0), 0u);
    EXPECT_EQ(layer.Surface().pixel(359, 699), 0u);
    EXPECT_FALSE(layer.Resize(700)); // unchanged
    EXPECT_FALSE(layer.Resize(0));   // a minimise keeps the surface
    EXPECT_EQ(layer.Surface().height(), 700);

    // The panel's own content draws nothing yet: its surface stays wholly transparent, so the frame
    // under it shows through unchanged.
    layer.Redraw();
    EXPECT_EQ(layer.Surface().pixel(180, 350), 0u);
    EXPECT_FALSE(layer.Visible(0));

    // An absurd client height is bounded instead of allocated.
    ASSERT_TRUE(layer.Resize(1 << 30));
    EXPECT_EQ(layer.Surface().height(), 16384);
}

TEST(InfoPanelLayer, ContentIsDrawnOnceAndCompositedAtTheOffset) {
    app::InfoPanelLayer layer(96);
    int draws = 0;
    QRectF seenPanel;
    layer.SetContentPainter([&](QPainter& painter, const QRectF& panel) {
        ++draws;
        seenPanel = panel;
        painter.fillRect(panel, QColor(200, 0, 200));
        painter.fillRect(QRectF(panel.left(), panel.top(), 10, 10), QColor(0, 0, 0, 128));
    });
    ASSERT_TRUE(layer.Resize(100));
    EXPECT_EQ(draws, 0);
    layer.Redraw();
    EXPECT_EQ(draws, 1);
    EXPECT_EQ(seenPanel, QRectF(0, 0, 360, 100));
    EXPECT_TRUE(layer.Visible(0));
    EXPECT_TRUE(layer.Visible(-359));
    EXPECT_FALSE(layer.Visible(-360));

    QImage frame(500, 100, QImage::Format_ARGB32_Premultiplied);
    const auto compositeAt = [&](float offset) {
        frame.fill(QColor(32, 32, 32));
        QPainter painter(&frame);
        layer.Composite(painter, offset);
    };
    compositeAt(-100);
    EXPECT_EQ(frame.pixel(0, 50), QColor(200, 0, 200).rgb());
    EXPECT_EQ(frame.pixel(259, 50), QColor(200, 0, 200).rgb());
    EXPECT_EQ(frame.pixel(260, 50), QColor(32, 32, 32).rgb());
    EXPECT_EQ(draws, 1); // compositing does not redraw

    compositeAt(0);
    EXPECT_EQ(frame.pixel(359, 99), QColor(200, 0, 200).rgb());
    EXPECT_EQ(frame.pixel(360, 99), QColor(32, 32, 32).rgb());
    // Translucent content blends over the frame: half black over the panel colour.
    const QRgb blended = frame.pixel(5, 5);
    EXPECT_NEAR(qRed(blended), 100, 2);
    EXPECT_NEAR(qBlue(blended), 100, 2);

    compositeAt(-360); // hidden
    EXPECT_EQ(frame.pixel(0, 50), QColor(32, 32, 32).rgb());

    // A new surface after a resize is transparent until redrawn; the default content comes back when
    // the replacement is removed.
    ASSERT_TRUE(layer.Resize(120));
    EXPECT_FALSE(layer.Visible(0));
    layer.SetContentPainter({});
    layer.Redraw();
    EXPECT_EQ(draws, 1);
    EXPECT_FALSE(layer.Visible(0));
}

} // namespace
