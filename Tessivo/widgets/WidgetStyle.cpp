#include "widgets/WidgetStyle.h"

#include "widgets/Icon.h"

#include <QFontDatabase>

#include <QTextDocument>
#include <algorithm>
#include <cmath>

namespace WidgetStyle {

QColor brandPrimary()
{
    static const QColor color = QColor::fromRgbF(0.45f, 0.15f, 0.78f);
    return color;
}

QColor brandSecondary()
{
    static const QColor color = QColor::fromRgbF(0.62f, 0.30f, 0.95f);
    return color;
}

QColor primary(const QPalette &palette, qreal opacity)
{
    QColor c = palette.color(QPalette::WindowText);
    c.setAlphaF(float(opacity));
    return c;
}

QColor secondary(const QPalette &palette)
{
    return Icon::secondaryColor(palette);
}

QColor tertiary(const QPalette &palette)
{
    return Icon::tertiaryColor(palette);
}

QColor accent(const QPalette &palette)
{
    return palette.color(QPalette::Highlight);
}

QColor textAccent(const QPalette &palette)
{
    return readableOn(palette.color(QPalette::Highlight), palette.color(QPalette::Base));
}

namespace {

qreal luminance(const QColor &color)
{
    const auto channel = [](qreal c) {
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    const QColor rgb = color.toRgb();
    return 0.2126 * channel(rgb.redF()) + 0.7152 * channel(rgb.greenF()) + 0.0722 * channel(rgb.blueF());
}

} // namespace

qreal contrastRatio(const QColor &a, const QColor &b)
{
    const qreal la = luminance(a);
    const qreal lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor readableOn(const QColor &foreground, const QColor &background, qreal ratio)
{
    if (contrastRatio(foreground, background) >= ratio)
        return foreground;
    // Towards white on a dark background, towards black on a light one.
    const bool lighten = luminance(background) < 0.18;
    const QColor hsl = foreground.toHsl();
    const qreal start = hsl.lightnessF();
    const qreal end = lighten ? 1.0 : 0.0;
    for (int step = 1; step <= 40; ++step) {
        const qreal lightness = start + (end - start) * step / 40.0;
        // Whole 8-bit channels, as painted, so the ratio holds on screen.
        const QColor candidate(QColor::fromHslF(hsl.hslHueF(), hsl.hslSaturationF(), lightness).rgb());
        if (contrastRatio(candidate, background) >= ratio)
            return candidate;
    }
    return lighten ? QColor(Qt::white) : QColor(Qt::black);
}

QFont font(int pixelSize, QFont::Weight weight)
{
    QFont f = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    f.setPixelSize(pixelSize);
    f.setWeight(weight);
    return f;
}

QFont monospacedDigitsFont(int pixelSize, QFont::Weight weight)
{
    // The desktop's sans fonts (DejaVu, Noto, Cantarell) draw tabular digits
    // by default.
    return font(pixelSize, weight);
}

QPainterPath roundedRect(const QRectF &rect, qreal radius)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

QColor background(const QPalette &palette)
{
    const QColor window = palette.color(QPalette::Window);
    return window.lightness() > 128 ? window.darker(103) : window.lighter(115);
}

QString plainToolTip(const QString &text)
{
    return Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal) : text;
}

} // namespace WidgetStyle
