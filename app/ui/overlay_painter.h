#pragma once

#include "app/ui/overlay_state.h"
#include "view/geometry.h"
#include "view/overlay_geometry.h"

#include <QFont>
#include <QPainter>
#include <QSizeF>

#include <optional>
#include <string>

// Draws the timed message, the first-image and last-image notices and the welcome screen with QPainter
// on the render surface, whose drawing units are client pixels. See overlay_state.h for how the window
// drives the state behind an OverlayPaintInput. Window thread only.
namespace app {

// The interface font at a size in drawing units: a Korean family first, then the default sans-serif.
QFont OverlayFont(float pixelSize);
// 16 × dpi/96 for the message boxes, 26 × dpi/96 for the welcome line.
QFont MessageFont(unsigned windowDpi);
QFont WelcomeFont(unsigned windowDpi);

// The message box of a text in one of the three stacked places; nothing for an empty render surface.
// The text wraps so that its box stays inside the render width.
std::optional<view::MessageBoxGeometry> MessageBoxFor(const std::string& text, view::MessageSlot slot,
                                                      float renderWidth, float renderHeight,
                                                      unsigned windowDpi);

// The size of the welcome line laid out centred in the render area.
QSizeF MeasureWelcomeText(const std::string& text, float renderWidth, float renderHeight, unsigned windowDpi);

// Whether a client point lies on the welcome button: the area of "이미지를 열거나 드래그하세요" centred
// in the whole render area, 30 units larger on every side, minus the open view-mode list. The caller
// checks that the welcome screen is interactive (WelcomeInteractive).
bool WelcomeButtonHitTest(float x, float y, float renderWidth, float renderHeight, unsigned windowDpi,
                          const std::optional<view::RectF>& openViewList);

// The welcome screen (glow, line, sparkles) when input.showWelcome; drawn as the frame's content.
void PaintWelcome(QPainter& painter, const OverlayPaintInput& input);
// The failure notice in the middle, the timed message at the top, then the first-image and last-image
// notices below it.
void PaintMessages(QPainter& painter, const OverlayPaintInput& input);
// PaintWelcome, then PaintMessages, for a frame with nothing drawn between them.
void PaintOverlays(QPainter& painter, const OverlayPaintInput& input);

} // namespace app
