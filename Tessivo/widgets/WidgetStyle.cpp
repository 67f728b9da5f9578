#include "widgets/WidgetStyle.h"

#include "widgets/Icon.h"

#include <QFontDatabase>
#include <QTextDocument>

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
