#include "app/ui/overlay_painter.h"
#include "app/ui/overlay_state.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace {

using app::OverlayPaintInput;
using app::OverlayState;
using view::ViewTimer;

constexpr int kBackground = 32; // the frame's clear colour, 0x202020

// Records what the overlay operations ask of the window.
struct HookLog {
    std::vector<std::pair<ViewTimer, uint32_t>> started;
    std::vector<ViewTimer> killed;
    int repaints = 0;
    view::ViewHooks hooks;

    HookLog() {
        hooks.repaint = [this] { ++repaints; };
        hooks.startTimer = [this](ViewTimer timer, uint32_t milliseconds) {
            started.emplace_back(timer, milliseconds);
        };
        hooks.killTimer = [this](ViewTimer timer) { killed.push_back(timer); };
    }
    HookLog(const HookLog&) = delete;
    HookLog& operator=(const HookLog&) = delete;
};

QImage Paint(const OverlayPaintInput& input, int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(kBackground, kBackground, kBackground));
    QPainter painter(&image);
    app::PaintOverlays(painter, input);
    painter.end();
    return image;
}

OverlayPaintInput Surface(float width, float height, unsigned dpi = 96) {
    OverlayPaintInput input;
    input.renderWidth = width;
    input.renderHeight = height;
    input.windowDpi = dpi;
    return input;
}

int Red(const QImage& image, float x, float y) {
    return qRed(image.pixel(static_cast<int>(x), static_cast<int>(y)));
}

int Brightest(const QImage& image, const view::RectF& rect) {
    int best = 0;
    for (int y = std::max(0, static_cast<int>(rect.top));
         y < std::min(image.height(), static_cast<int>(rect.bottom)); ++y) {
        for (int x = std::max(0, static_cast<int>(rect.left));
             x < std::min(image.width(), static_cast<int>(rect.right)); ++x) {
            const QRgb pixel = image.pixel(x, y);
            best = std::max({best, qRed(pixel), qGreen(pixel), qBlue(pixel)});
        }
    }
    return best;
}

// The bounding box of the pixels brighter than the threshold in any channel, and the summed red minus
// blue over them.
struct BrightPixels {
    QRect bounds;
    long long redMinusBlue = 0;
    int count = 0;
};

BrightPixels FindBright(const QImage& image, int threshold) {
    BrightPixels result;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (std::max({qRed(pixel), qGreen(pixel), qBlue(pixel)}) > threshold) {
                result.bounds |= QRect(x, y, 1, 1);
                result.redMinusBlue += qRed(pixel) - qBlue(pixel);
                ++result.count;
            }
        }
    }
    return result;
}

TEST(OverlayPainter, TimedMessageBoxAtTheTopRightWithItsColours) {
    OverlayPaintInput input = Surface(800, 600);
    input.messageText = "100%";
    const QImage image = Paint(input, 800, 600);

    const auto geometry = app::MessageBoxFor("100%", view::MessageSlot::Timed, 800, 600, 96);
    ASSERT_TRUE(geometry.has_value());
    EXPECT_FLOAT_EQ(geometry->box.right, 780.0f);
    EXPECT_FLOAT_EQ(geometry->box.top, 20.0f);
    EXPECT_GT(geometry->box.Height(), 24.0f + 10.0f); // padding plus a line of 16-pixel text
    EXPECT_LT(geometry->box.Height(), 24.0f + 30.0f);
    EXPECT_GT(geometry->box.Width(), 24.0f + 20.0f);

    const float middle = geometry->box.Center().y;
    // (0.1 grey at 0.85 over the 32 background) ≈ 26.5 in the padding.
    EXPECT_NEAR(Red(image, geometry->box.left + 4, middle), 26, 2);
    EXPECT_NEAR(Red(image, geometry->box.right - 4, middle), 26, 2);
    EXPECT_EQ(Red(image, geometry->box.left - 3, middle), kBackground);
    EXPECT_EQ(Red(image, geometry->box.right + 3, middle), kBackground);
    EXPECT_EQ(Red(image, geometry->box.Center().x, geometry->box.top - 3), kBackground);
    EXPECT_EQ(Red(image, geometry->box.Center().x, geometry->box.bottom + 3), kBackground);
    // White text inside the padded area.
    EXPECT_GT(Brightest(image, geometry->text), 200);
    // Nothing else on the frame: no notice, no welcome screen.
    EXPECT_EQ(Red(image, geometry->box.Center().x, 90), kBackground);
    EXPECT_EQ(Red(image, 400, 300), kBackground);
}

TEST(OverlayPainter, MessageFadesOverItsLastQuarterAndEnds) {
    OverlayState state;
    HookLog log;
    const uint32_t start = 0xFFFFFF00u; // the tick count wraps while the message runs
    app::ShowOverlayMessage(state, "100%", 1000, start, log.hooks);
    ASSERT_EQ(log.started.size(), 1u);
    EXPECT_EQ(log.started[0], std::make_pair(ViewTimer::Message, 50u));

    app::OverlayFrameContext context{800, 600, 96, false, 0};
    const OverlayPaintInput solid = app::PrepareOverlayFrame(state, context, start + 500, log.hooks);
    EXPECT_EQ(solid.messageText, "100%");
    EXPECT_FLOAT_EQ(solid.messageAlpha, 1.0f);
    const OverlayPaintInput fading = app::PrepareOverlayFrame(state, context, start + 900, log.hooks);
    EXPECT_NEAR(fading.messageAlpha, 0.4f, 1e-4f); // 100 ms left of a 250 ms fade

    const auto geometry = app::MessageBoxFor("100%", view::MessageSlot::Timed, 800, 600, 96);
    ASSERT_TRUE(geometry.has_value());
    const QImage solidImage = Paint(solid, 800, 600);
    const QImage fadingImage = Paint(fading, 800, 600);
    const float middle = geometry->box.Center().y;
    EXPECT_GT(Red(fadingImage, geometry->box.left + 4, middle),
              Red(solidImage, geometry->box.left + 4, middle));
    EXPECT_LT(Red(fadingImage, geometry->box.left + 4, middle), kBackground);
    EXPECT_LT(Brightest(fadingImage, geometry->text), Brightest(solidImage, geometry->text) - 80);

    EXPECT_TRUE(log.killed.empty());
    const OverlayPaintInput over = app::PrepareOverlayFrame(state, context, start + 1001, log.hooks);
    EXPECT_TRUE(over.messageText.empty());
    EXPECT_TRUE(state.message.messageText.empty());
    ASSERT_EQ(log.killed.size(), 1u);
    EXPECT_EQ(log.killed[0], ViewTimer::Message);
    EXPECT_EQ(Red(Paint(over, 800, 600), geometry->box.left + 4, middle), kBackground);
}

TEST(OverlayPainter, SecondMessageWithinAHundredMillisecondsReplacesTheFirst) {
    OverlayState state;
    HookLog log;
    const std::string first = "정렬: 이름순 (오름차순) 긴 메시지";
    app::ShowOverlayMessage(state, first, 2000, 1000, log.hooks);
    app::ShowOverlayZoomMessage(state, 1.5f, 1050, log.hooks);
    ASSERT_EQ(log.started.size(), 2u);
    EXPECT_EQ(log.started[1], std::make_pair(ViewTimer::Message, 50u));

    app::OverlayFrameContext context{800, 600, 96, false, 0};
    const OverlayPaintInput shown = app::PrepareOverlayFrame(state, context, 1060, log.hooks);
    EXPECT_EQ(shown.messageText, "150%");
    EXPECT_FLOAT_EQ(shown.messageAlpha, 1.0f);

    const auto longBox = app::MessageBoxFor(first, view::MessageSlot::Timed, 800, 600, 96);
    const auto shortBox = app::MessageBoxFor("150%", view::MessageSlot::Timed, 800, 600, 96);
    ASSERT_TRUE(longBox && shortBox);
    ASSERT_LT(longBox->box.left + 4, shortBox->box.left - 4);
    const QImage image = Paint(shown, 800, 600);
    const float middle = shortBox->box.Center().y;
    EXPECT_EQ(Red(image, longBox->box.left + 4, middle), kBackground);
    EXPECT_NEAR(Red(image, shortBox->box.left + 4, middle), 26, 2);

    // The zoom message runs its own 800 ms from its start: solid to 600, half faded at 700, then gone,
    // long before the first message would have ended.
    EXPECT_FLOAT_EQ(app::PrepareOverlayFrame(state, context, 1050 + 600, log.hooks).messageAlpha, 1.0f);
    EXPECT_NEAR(app::PrepareOverlayFrame(state, context, 1050 + 700, log.hooks).messageAlpha, 0.5f, 1e-4f);
    EXPECT_TRUE(app::PrepareOverlayFrame(state, context, 1050 + 801, log.hooks).messageText.empty());
}

// The top edge of every box crossing the column x, from the top.
std::vector<int> BoxTops(const QImage& image, int x) {
    std::vector<int> tops;
    for (int y = 1; y < image.height(); ++y) {
        if (qRed(image.pixel(x, y - 1)) == kBackground && qRed(image.pixel(x, y)) < kBackground - 3) {
            tops.push_back(y);
        }
    }
    return tops;
}

TEST(OverlayPainter, NoticesStackBelowTheMessageScaledByDpi) {
    for (const unsigned dpi : {96u, 144u}) {
        SCOPED_TRACE(dpi);
        const float scale = static_cast<float>(dpi) / 96.0f;
        OverlayPaintInput input = Surface(1000, 800, dpi);
        input.messageText = "원본 크기";
        input.firstImageNotice = true;
        input.lastImageNotice = true;
        const QImage image = Paint(input, 1000, 800);

        const int column = static_cast<int>(1000 - (20 + 6) * scale); // in the right padding of every box
        const std::vector<int> expected{static_cast<int>(20 * scale), static_cast<int>(70 * scale),
                                        static_cast<int>(120 * scale)};
        EXPECT_EQ(BoxTops(image, column), expected);

        for (const auto& [text, slot] :
             {std::pair{view::kFirstImageNoticeText, view::MessageSlot::FirstNotice},
              std::pair{view::kLastImageNoticeText, view::MessageSlot::LastNotice}}) {
            const auto geometry = app::MessageBoxFor(text, slot, 1000, 800, dpi);
            ASSERT_TRUE(geometry.has_value());
            EXPECT_FLOAT_EQ(geometry->box.right, 1000 - 20 * scale);
            // The notices never fade: full box colour and white text.
            EXPECT_NEAR(Red(image, geometry->box.left + 4 * scale, geometry->box.Center().y), 26, 2);
            EXPECT_GT(Brightest(image, geometry->text), 200);
        }
    }
    // The message font grows with the DPI.
    const auto small =
        app::MessageBoxFor(view::kFirstImageNoticeText, view::MessageSlot::FirstNotice, 1000, 800, 96);
    const auto large =
        app::MessageBoxFor(view::kFirstImageNoticeText, view::MessageSlot::FirstNotice, 1000, 800, 144);
    ASSERT_TRUE(small && large);
    EXPECT_NEAR(large->box.Width() / small->box.Width(), 1.5f, 0.1f);
    EXPECT_NEAR(large->box.Height() / small->box.Height(), 1.5f, 0.1f);
}

TEST(OverlayPainter, EdgeNoticeTimersEndTheirNotice) {
    OverlayState state;
    HookLog log;
    app::UpdateOverlayEdgeNotices(state, 0, 3, log.hooks);
    EXPECT_TRUE(state.edgeNotices.firstImageNotice);
    EXPECT_FALSE(state.edgeNotices.lastImageNotice);
    ASSERT_EQ(log.started.size(), 1u);
    EXPECT_EQ(log.started[0], std::make_pair(ViewTimer::FirstNotice, 2000u));

    app::OverlayFrameContext context{800, 600, 96, false, 0};
    EXPECT_TRUE(app::PrepareOverlayFrame(state, context, 0, log.hooks).firstImageNotice);

    const int repaints = log.repaints;
    EXPECT_TRUE(app::OnOverlayTimer(state, ViewTimer::FirstNotice, log.hooks));
    EXPECT_FALSE(state.edgeNotices.firstImageNotice);
    EXPECT_EQ(log.killed.back(), ViewTimer::FirstNotice);
    EXPECT_EQ(log.repaints, repaints + 1);
    EXPECT_FALSE(app::PrepareOverlayFrame(state, context, 0, log.hooks).firstImageNotice);

    // The repaint-only timers, and one that is not the overlays'.
    EXPECT_TRUE(app::OnOverlayTimer(state, ViewTimer::Message, log.hooks));
    EXPECT_TRUE(app::OnOverlayTimer(state, ViewTimer::Welcome, log.hooks));
    EXPECT_EQ(log.repaints, repaints + 3);
    EXPECT_FALSE(app::OnOverlayTimer(state, ViewTimer::Animation, log.hooks));
    EXPECT_EQ(log.repaints, repaints + 3);
}

TEST(OverlayPainter, WelcomeLineIsCentredBelowThePinnedTitleBar) {
    OverlayPaintInput input = Surface(800, 600);
    input.showWelcome = true;
    input.welcomeText = "당신을 사랑합니다.";
    input.welcomePhase = 0.3f;
    const BrightPixels free = FindBright(Paint(input, 800, 600), 180);
    ASSERT_GT(free.count, 100);
    EXPECT_NEAR(free.bounds.center().x(), 400, 4);
    const QSizeF size = app::MeasureWelcomeText(input.welcomeText, 800, 600, 96);
    EXPECT_GT(size.width(), 100);
    EXPECT_GE(free.bounds.top(), (600 - size.height()) / 2 - 1);
    EXPECT_LE(free.bounds.bottom(), (600 + size.height()) / 2 + 1);

    input.titleOffset = 58;
    const BrightPixels pinned = FindBright(Paint(input, 800, 600), 180);
    EXPECT_EQ(pinned.bounds.width(), free.bounds.width());
    EXPECT_NEAR(pinned.bounds.center().x(), free.bounds.center().x(), 1);
    EXPECT_NEAR(pinned.bounds.top() - free.bounds.top(), 29, 1);

    // Not drawn when the frame shows something else.
    input.showWelcome = false;
    EXPECT_EQ(FindBright(Paint(input, 800, 600), 40).count, 0);
}

TEST(OverlayPainter, HoverTurnsTheWelcomeLineWarm) {
    OverlayPaintInput input = Surface(800, 600);
    input.showWelcome = true;
    input.welcomeText = "당신을 사랑합니다.";
    for (const float phase : {0.0f, 1.0f, 2.5f}) {
        SCOPED_TRACE(phase);
        input.welcomePhase = phase;
        input.welcomeHover = false;
        const BrightPixels cool = FindBright(Paint(input, 800, 600), 180);
        input.welcomeHover = true;
        const BrightPixels warm = FindBright(Paint(input, 800, 600), 180);
        ASSERT_GT(cool.count, 100);
        ASSERT_GT(warm.count, 100);
        // Blue-white at rest: blue at least red; amber when hovered: red well above blue.
        EXPECT_LE(cool.redMinusBlue / cool.count, 0);
        EXPECT_GT(warm.redMinusBlue / warm.count, 100);
    }
}

TEST(OverlayPainter, WelcomeStateFollowsThePointerAndTheFrames) {
    OverlayState state;
    HookLog log;
    app::OnWelcomePointerMove(state, app::WelcomeAvailability::Interactive, false, log.hooks);
    app::OnWelcomePointerMove(state, app::WelcomeAvailability::Interactive, false, log.hooks);
    ASSERT_EQ(log.started.size(), 1u); // the first move starts the animation, later ones do not restart it
    EXPECT_EQ(log.started[0], std::make_pair(ViewTimer::Welcome, 30u));
    EXPECT_TRUE(state.welcome.welcomeTimerActive);
    EXPECT_EQ(log.repaints, 0);

    app::OnWelcomePointerMove(state, app::WelcomeAvailability::Interactive, true, log.hooks);
    EXPECT_TRUE(state.welcome.welcomeHover);
    EXPECT_EQ(log.repaints, 1);
    app::OnWelcomePointerMove(state, app::WelcomeAvailability::Interactive, true, log.hooks);
    EXPECT_EQ(log.repaints, 1); // no change, no repaint

    // An image arrived: the animation stops and the hover goes.
    app::OnWelcomePointerMove(state, app::WelcomeAvailability::Unavailable, true, log.hooks);
    EXPECT_FALSE(state.welcome.welcomeTimerActive);
    EXPECT_FALSE(state.welcome.welcomeHover);
    ASSERT_EQ(log.killed.size(), 1u);
    EXPECT_EQ(log.killed[0], ViewTimer::Welcome);

    // The phase moves only with drawn welcome frames, and wraps.
    app::OverlayFrameContext context{800, 600, 96, false, 58};
    app::OverlayPaintInput input = app::PrepareOverlayFrame(state, context, 0, log.hooks);
    EXPECT_FALSE(input.showWelcome);
    EXPECT_FLOAT_EQ(state.welcome.welcomePhase, 0.0f);
    context.welcomeDrawn = true;
    input = app::PrepareOverlayFrame(state, context, 0, log.hooks);
    EXPECT_TRUE(input.showWelcome);
    EXPECT_FLOAT_EQ(input.welcomePhase, 0.05f);
    EXPECT_EQ(input.welcomeText, "당신을 사랑합니다.");
    EXPECT_FLOAT_EQ(input.titleOffset, 58.0f);
    state.welcome.welcomePhase = 6.27f;
    input = app::PrepareOverlayFrame(state, context, 0, log.hooks);
    EXPECT_NEAR(input.welcomePhase, 6.32f - 6.28318f, 1e-4f);

    app::WelcomeConditions conditions;
    EXPECT_TRUE(app::WelcomeDrawn(conditions));
    conditions.loadPending = true;
    EXPECT_TRUE(app::WelcomeInteractive(conditions));
    EXPECT_FALSE(app::WelcomeDrawn(conditions));
    conditions = {};
    conditions.webtoonMode = true;
    EXPECT_FALSE(app::WelcomeInteractive(conditions));
}

TEST(OverlayPainter, WelcomeButtonIsTheFixedTextCentredInTheWholeArea) {
    const QSizeF size = app::MeasureWelcomeText(view::kWelcomeHitText, 800, 600, 96);
    ASSERT_GT(size.width(), 150);
    const float left = static_cast<float>((800 - size.width()) / 2);
    EXPECT_TRUE(app::WelcomeButtonHitTest(400, 300, 800, 600, 96, std::nullopt));
    EXPECT_TRUE(app::WelcomeButtonHitTest(left - 25, 300, 800, 600, 96, std::nullopt));
    EXPECT_FALSE(app::WelcomeButtonHitTest(left - 35, 300, 800, 600, 96, std::nullopt));
    EXPECT_FALSE(app::WelcomeButtonHitTest(400, 300 - static_cast<float>(size.height()) / 2 - 35, 800, 600,
                                           96, std::nullopt));
    EXPECT_FALSE(app::WelcomeButtonHitTest(5, 5, 800, 600, 96, std::nullopt));
    // The open view-mode list lies over the button.
    EXPECT_FALSE(app::WelcomeButtonHitTest(400, 300, 800, 600, 96, view::RectF{310, 200, 490, 560}));
    EXPECT_TRUE(app::WelcomeButtonHitTest(300, 300, 800, 600, 96, view::RectF{310, 200, 490, 560}));
    EXPECT_FALSE(app::WelcomeButtonHitTest(400, 300, 0, 0, 96, std::nullopt));
}

TEST(OverlayPainter, DegenerateSurfacesAndTextsDrawSafely) {
    OverlayPaintInput input = Surface(0, 600);
    input.messageText = "100%";
    input.firstImageNotice = true;
    input.showWelcome = true;
    input.welcomeText = "환영";
    EXPECT_EQ(FindBright(Paint(input, 100, 100), kBackground).count, 0);
    input.renderWidth = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(FindBright(Paint(input, 100, 100), kBackground).count, 0);
    EXPECT_FALSE(app::MessageBoxFor("100%", view::MessageSlot::Timed, 0, 0, 96).has_value());

    // A long message in a narrow window wraps and keeps its box inside the window.
    const std::string longText(4000, 'x');
    const auto geometry = app::MessageBoxFor(longText + " 마지막", view::MessageSlot::Timed, 300, 200, 96);
    ASSERT_TRUE(geometry.has_value());
    EXPECT_GE(geometry->box.left, 20.0f - 0.5f);
    EXPECT_GT(geometry->box.Height(), 100.0f);
    input = Surface(300, 200);
    input.messageText = longText;
    input.messageAlpha = std::numeric_limits<float>::quiet_NaN(); // drawn as fully transparent
    input.showWelcome = true;
    input.welcomeText = longText;
    const QImage image = Paint(input, 300, 200);
    EXPECT_EQ(image.width(), 300);

    // Line breaks in a stored welcome text start new lines.
    const QSizeF one = app::MeasureWelcomeText("하나", 800, 600, 96);
    const QSizeF two = app::MeasureWelcomeText("하나\n둘", 800, 600, 96);
    EXPECT_NEAR(two.height(), 2 * one.height(), 1.0);
    EXPECT_NEAR(two.width(), one.width(), 1.0);
}

} // namespace
