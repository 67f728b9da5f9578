#pragma once

#include <QColor>
#include <QFont>
#include <QPainterPath>
#include <QPalette>
#include <QRectF>
#include <QWidget>

// Colours, fonts and shapes shared by the sidebar, the AI panels and other
// drawn views. Sizes are in device-independent pixels, fonts in pixels, so
// that the views keep their proportions whatever the desktop's font size.
namespace WidgetStyle {

// The two brand colours; every brand gradient runs from the second to the first.
QColor brandPrimary();
QColor brandSecondary();

// The text colour at `opacity`: the fills and outlines of rows and buttons.
QColor primary(const QPalette &palette, qreal opacity);
QColor secondary(const QPalette &palette);
QColor tertiary(const QPalette &palette);
QColor accent(const QPalette &palette);
// The accent as text or a caret on the editor's background: the palette's
// accent made lighter or darker, keeping its hue, until it reads at 4.5:1
// (a dark palette's deep blue turns into a lighter blue).
QColor textAccent(const QPalette &palette);

// The contrast ratio of two opaque colours, 1 to 21, as WCAG measures it.
qreal contrastRatio(const QColor &a, const QColor &b);
// `foreground` moved in lightness, hue kept, until it reaches `ratio`
// against `background`; unchanged when it already does.
QColor readableOn(const QColor &foreground, const QColor &background, qreal ratio = 4.5);

// The desktop font at `pixelSize` and `weight`.
QFont font(int pixelSize, QFont::Weight weight = QFont::Normal);
// The same with digits of equal width, for counts and times.
QFont monospacedDigitsFont(int pixelSize, QFont::Weight weight = QFont::Normal);

// A rounded rectangle with the given corner radius.
QPainterPath roundedRect(const QRectF &rect, qreal radius);

// A tooltip that shows `text` as written. Tooltips render anything that
// looks like markup, and names and error messages arrive from other devices
// and the service.
QString plainToolTip(const QString &text);

// The background of the whole sidebar: the window colour, a shade apart
// from the editor beside it.
QColor background(const QPalette &palette);

} // namespace WidgetStyle
