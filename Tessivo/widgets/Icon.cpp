#include "widgets/Icon.h"

#include <QFile>
#include <QHash>
#include <QPainter>
#include <QSvgRenderer>

#include <utility>

namespace {

// Resources are compiled into the binary; a build that lacks them still finds
// the same artwork in the distribution's icon set.
QString artworkPath(IconName name)
{
    const QString resource = IconNames::resourcePath(name);
    if (QFile::exists(resource))
        return resource;
    return QStringLiteral("/usr/share/bootstrap-icons/svg/") + IconNames::artworkSource(name) +
           QStringLiteral(".svg");
}

QSvgRenderer *renderer(IconName name)
{
    static QHash<IconName, QSvgRenderer *> renderers;
    auto it = renderers.find(name);
    if (it == renderers.end())
        it = renderers.insert(name, new QSvgRenderer(artworkPath(name)));
    return *it;
}

} // namespace

Icon::Icon(IconName name, int size, QWidget *parent) : QWidget(parent), m_name(name), m_size(size)
{
    setFixedSize(size, size);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void Icon::setName(IconName name)
{
    if (m_name == name)
        return;
    m_name = name;
    update();
}

void Icon::setColor(const QColor &color)
{
    m_color = color;
    update();
}

QColor Icon::color() const
{
    return m_color.isValid() ? m_color : palette().color(foregroundRole());
}

void Icon::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QPixmap image = pixmap(m_name, m_size, color(), devicePixelRatioF());
    painter.drawPixmap(0, 0, image);
}

QPixmap Icon::pixmap(IconName name, int size, const QColor &color, qreal devicePixelRatio)
{
    if (size <= 0)
        return {};
    // Keyed by numbers: lists ask for an icon per row on every paint.
    using Key = std::pair<quint64, QRgb>;
    static QHash<Key, QPixmap> cache;
    const Key key{quint64(static_cast<int>(name)) << 40 | quint64(quint32(size)) << 20 |
                      quint64(quint32(qRound(devicePixelRatio * 100)) & 0xFFFFF),
                  color.rgba()};
    if (const auto it = cache.constFind(key); it != cache.constEnd())
        return *it;

    QSvgRenderer *svg = renderer(name);
    if (!svg->isValid())
        return {};
    const int pixels = qMax(1, qRound(size * devicePixelRatio));
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        // Stretched to the square on purpose: every caller asks for a square.
        svg->render(&painter, QRectF(0, 0, pixels, pixels));
        // Template rendering: keep the artwork's alpha, replace its colour.
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), color);
    }
    QPixmap result = QPixmap::fromImage(image);
    result.setDevicePixelRatio(devicePixelRatio);
    cache.insert(key, result);
    return result;
}

QIcon Icon::icon(IconName name, const QColor &color, int size)
{
    QIcon result;
    result.addPixmap(pixmap(name, size, color, 1.0));
    result.addPixmap(pixmap(name, size, color, 2.0));
    return result;
}

QColor Icon::secondaryColor(const QPalette &palette)
{
    QColor c = palette.color(QPalette::WindowText);
    c.setAlphaF(0.55f);
    return c;
}

QColor Icon::tertiaryColor(const QPalette &palette)
{
    QColor c = palette.color(QPalette::WindowText);
    c.setAlphaF(0.35f);
    return c;
}
