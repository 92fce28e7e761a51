#include "app/ui/overlay_painter.h"

#include <QColor>
#include <QStringList>
#include <QTextLayout>
#include <QTextLine>
#include <QTextOption>

#include <algorithm>
#include <cmath>

namespace app {

namespace {

constexpr float kMessagePadding = 12;
constexpr float kMessageMargin = 20;
constexpr float kMessageBoxOpacity = 0.85f;

bool UsableSurface(float width, float height) {
    return std::isfinite(width) && std::isfinite(height) && width > 0 && height > 0;
}

QColor ToQColor(const view::ColorF& color) {
    const auto channel = [](float value) {
        return std::clamp(std::isfinite(value) ? value : 0.0f, 0.0f, 1.0f);
    };
    return QColor::fromRgbF(channel(color.r), channel(color.g), channel(color.b), channel(color.a));
}

QString ToDisplayText(const std::string& text) {
    QString result = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    // A layout breaks lines only at the Unicode line separator.
    result.replace(QStringLiteral("\r\n"), QString(QChar::LineSeparator));
    result.replace(QLatin1Char('\n'), QChar::LineSeparator);
    return result;
}

enum class LineAlignment { Leading, Centred };

// A text laid out once, so that what is measured is exactly what is drawn.
class TextBlock {
public:
    TextBlock(const std::string& text, const QFont& font, qreal maxWidth)
        : layout(ToDisplayText(text), font) {
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.setCacheEnabled(true);
        layout.beginLayout();
        qreal y = 0;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(std::max<qreal>(maxWidth, 1));
            line.setPosition(QPointF(0, y));
            y += line.height();
            width = std::max(width, line.naturalTextWidth());
        }
        layout.endLayout();
        height = y;
    }

    QSizeF Size() const { return {width, height}; }

    // Draws the lines into rect in the painter's current pen, left-aligned at the top or centred both
    // ways.
    void Draw(QPainter& painter, const QRectF& rect, LineAlignment alignment) const {
        const qreal top =
            alignment == LineAlignment::Centred ? rect.top() + (rect.height() - height) / 2 : rect.top();
        for (int i = 0; i < layout.lineCount(); ++i) {
            const QTextLine line = layout.lineAt(i);
            const qreal left = alignment == LineAlignment::Centred
                                   ? rect.left() + (rect.width() - line.naturalTextWidth()) / 2
                                   : rect.left();
            line.draw(&painter, QPointF(left, top));
        }
    }

private:
    QTextLayout layout;
    qreal width = 0;
    qreal height = 0;
};

// Messages wrap so that the box, right-aligned at the margin, keeps inside the left edge too.
qreal MessageTextWidth(float renderWidth, unsigned windowDpi) {
    return renderWidth - view::Dip(2 * kMessageMargin + 2 * kMessagePadding, windowDpi);
}

QRectF ToQRect(const view::RectF& rect) {
    return QRectF(QPointF(rect.left, rect.top), QPointF(rect.right, rect.bottom));
}

void PaintMessageBox(QPainter& painter, const std::string& text, view::MessageSlot slot, float alpha,
                     const OverlayPaintInput& input) {
    const TextBlock block(text, MessageFont(input.windowDpi),
                          MessageTextWidth(input.renderWidth, input.windowDpi));
    const QSizeF size = block.Size();
    const auto geometry =
        view::ComputeMessageBox(input.renderWidth, input.renderHeight, static_cast<float>(size.width()),
                                static_cast<float>(size.height()), slot, input.windowDpi);
    if (!geometry) {
        return;
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(ToQColor({0.1f, 0.1f, 0.1f, kMessageBoxOpacity * alpha}));
    painter.drawRoundedRect(ToQRect(geometry->box), geometry->radius, geometry->radius);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(ToQColor({1, 1, 1, alpha}));
    block.Draw(painter, ToQRect(geometry->text), LineAlignment::Leading);
}

// The failure notice: its lines centred in a box in the middle of the render area.
void PaintFailureNotice(QPainter& painter, const OverlayPaintInput& input) {
    const TextBlock block(input.failureText, MessageFont(input.windowDpi),
                          MessageTextWidth(input.renderWidth, input.windowDpi));
    const QSizeF size = block.Size();
    const qreal padding = view::Dip(2 * kMessagePadding, input.windowDpi);
    const QRectF text((input.renderWidth - size.width()) / 2, (input.renderHeight - size.height()) / 2,
                      size.width(), size.height());
    const qreal radius = view::Dip(8, input.windowDpi);
    painter.setPen(Qt::NoPen);
    painter.setBrush(ToQColor({0.1f, 0.1f, 0.1f, kMessageBoxOpacity}));
    painter.drawRoundedRect(text.adjusted(-padding, -padding, padding, padding), radius, radius);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(ToQColor({1, 1, 1, 1}));
    block.Draw(painter, text, LineAlignment::Centred);
}

} // namespace

QFont OverlayFont(float pixelSize) {
    QFont font;
    font.setFamilies({QStringLiteral("Malgun Gothic"), QStringLiteral("NanumGothic"),
                      QStringLiteral("Noto Sans CJK KR"), QStringLiteral("sans-serif")});
    font.setStyleHint(QFont::SansSerif);
    font.setWeight(QFont::Normal);
    font.setStyle(QFont::StyleNormal);
    font.setPixelSize(
        std::max(1, static_cast<int>(std::lround(std::isfinite(pixelSize) ? pixelSize : 1.0f))));
    return font;
}

QFont MessageFont(unsigned windowDpi) {
    return OverlayFont(view::Dip(16, windowDpi));
}

QFont WelcomeFont(unsigned windowDpi) {
    return OverlayFont(view::Dip(26, windowDpi));
}

std::optional<view::MessageBoxGeometry> MessageBoxFor(const std::string& text, view::MessageSlot slot,
                                                      float renderWidth, float renderHeight,
                                                      unsigned windowDpi) {
    if (!UsableSurface(renderWidth, renderHeight)) {
        return std::nullopt;
    }
    const TextBlock block(text, MessageFont(windowDpi), MessageTextWidth(renderWidth, windowDpi));
    const QSizeF size = block.Size();
    return view::ComputeMessageBox(renderWidth, renderHeight, static_cast<float>(size.width()),
                                   static_cast<float>(size.height()), slot, windowDpi);
}

QSizeF MeasureWelcomeText(const std::string& text, float renderWidth, float renderHeight,
                          unsigned windowDpi) {
    if (!UsableSurface(renderWidth, renderHeight)) {
        return {};
    }
    return TextBlock(text, WelcomeFont(windowDpi), renderWidth).Size();
}

bool WelcomeButtonHitTest(float x, float y, float renderWidth, float renderHeight, unsigned windowDpi,
                          const std::optional<view::RectF>& openViewList) {
    if (!UsableSurface(renderWidth, renderHeight)) {
        return false;
    }
    const QSizeF size = MeasureWelcomeText(view::kWelcomeHitText, renderWidth, renderHeight, windowDpi);
    return view::WelcomeHitTest(x, y, renderWidth, renderHeight, static_cast<float>(size.width()),
                                static_cast<float>(size.height()), openViewList);
}

void PaintWelcome(QPainter& painter, const OverlayPaintInput& input) {
    if (!input.showWelcome || !UsableSurface(input.renderWidth, input.renderHeight)) {
        return;
    }
    const TextBlock block(input.welcomeText, WelcomeFont(input.windowDpi), input.renderWidth);
    const auto textWidth = static_cast<float>(block.Size().width());
    const auto textHeight = static_cast<float>(block.Size().height());
    const view::PointF origin = view::WelcomeTextOrigin(input.renderWidth, input.renderHeight, textWidth,
                                                        textHeight, input.titleOffset);
    const view::WelcomeFrame frame =
        view::ComputeWelcomeFrame(input.welcomePhase, origin, textWidth, textHeight,
                                  input.welcomeHover ? view::WelcomeHover::On : view::WelcomeHover::Off);

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setBrush(Qt::NoBrush);
    for (const view::WelcomeGlowLayer& layer : frame.glow) {
        painter.setPen(ToQColor(layer.color));
        block.Draw(painter, ToQRect(layer.rect), LineAlignment::Centred);
    }
    painter.setPen(ToQColor(frame.textColor));
    block.Draw(painter, ToQRect(frame.textRect), LineAlignment::Centred);
    painter.setPen(Qt::NoPen);
    for (const view::WelcomeSparkle& sparkle : frame.sparkles) {
        painter.setBrush(ToQColor({1, 1, 1, sparkle.alpha}));
        painter.drawEllipse(QPointF(sparkle.center.x, sparkle.center.y), sparkle.radius, sparkle.radius);
    }
    painter.restore();
}

void PaintMessages(QPainter& painter, const OverlayPaintInput& input) {
    if (!UsableSurface(input.renderWidth, input.renderHeight)) {
        return;
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    if (!input.failureText.empty()) {
        PaintFailureNotice(painter, input);
    }
    if (!input.messageText.empty()) {
        PaintMessageBox(painter, input.messageText, view::MessageSlot::Timed,
                        std::clamp(input.messageAlpha, 0.0f, 1.0f), input);
    }
    // The notices do not fade.
    if (input.firstImageNotice) {
        PaintMessageBox(painter, view::kFirstImageNoticeText, view::MessageSlot::FirstNotice, 1.0f, input);
    }
    if (input.lastImageNotice) {
        PaintMessageBox(painter, view::kLastImageNoticeText, view::MessageSlot::LastNotice, 1.0f, input);
    }
    painter.restore();
}

void PaintOverlays(QPainter& painter, const OverlayPaintInput& input) {
    PaintWelcome(painter, input);
    PaintMessages(painter, input);
}

} // namespace app
