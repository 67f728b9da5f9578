#include "widgets/PanelShadow.h"

#include <QHash>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <algorithm>
#include <cmath>
#include <vector>

namespace PanelShadow {

namespace {

// One pass of a running-sum box blur over rows (or columns) of `alpha`.
void boxBlur(std::vector<float> &alpha, int width, int height, int radius, bool rows)
{
    if (radius <= 0) {
        return;
    }
    const int lines = rows ? height : width;
    const int length = rows ? width : height;
    const auto at = [&](int line, int i) -> float & {
        return rows ? alpha[size_t(line) * size_t(width) + size_t(i)]
                    : alpha[size_t(i) * size_t(width) + size_t(line)];
    };
    std::vector<float> source(static_cast<size_t>(length));
    const float scale = 1.0f / float(2 * radius + 1);
    for (int line = 0; line < lines; ++line) {
        for (int i = 0; i < length; ++i) {
            source[size_t(i)] = at(line, i);
        }
        float sum = 0;
        for (int i = -radius; i <= radius; ++i) {
            sum += source[size_t(std::clamp(i, 0, length - 1))];
        }
        for (int i = 0; i < length; ++i) {
            at(line, i) = sum * scale;
            sum += source[size_t(std::min(i + radius + 1, length - 1))];
            sum -= source[size_t(std::max(i - radius, 0))];
        }
    }
}

// The blurred shadow of a rounded rectangle whose straight edges are two
// device pixels long, with `blur` pixels of fade on every side.
QImage tile(const Look &look, qreal dpr)
{
    const int blur = qRound(look.blurRadius * dpr);
    const int corner = int(std::ceil(look.cornerRadius * dpr));
    const int side = 2 * (blur + corner) + 2;
    std::vector<float> alpha(size_t(side) * size_t(side), 0.0f);
    {
        QImage shape(side, side, QImage::Format_Alpha8);
        shape.fill(0);
        QPainter painter(&shape);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(QRectF(blur, blur, side - 2 * blur, side - 2 * blur), corner, corner);
        painter.fillPath(path, Qt::black);
        painter.end();
        for (int y = 0; y < side; ++y) {
            const uchar *line = shape.constScanLine(y);
            for (int x = 0; x < side; ++x) {
                alpha[size_t(y) * size_t(side) + size_t(x)] = line[x] / 255.0f;
            }
        }
    }
    // Three box passes come close to a Gaussian of the blur radius.
    const int box = std::max(1, blur / 3);
    for (int pass = 0; pass < 3; ++pass) {
        boxBlur(alpha, side, side, box, true);
        boxBlur(alpha, side, side, box, false);
    }
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    const float colourAlpha = float(look.color.alphaF());
    for (int y = 0; y < side; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < side; ++x) {
            const float a = alpha[size_t(y) * size_t(side) + size_t(x)] * colourAlpha;
            line[x] =
                qPremultiply(qRgba(look.color.red(), look.color.green(), look.color.blue(), qRound(a * 255)));
        }
    }
    image.setDevicePixelRatio(dpr);
    return image;
}

const QPixmap &cachedTile(const Look &look, qreal dpr)
{
    static QHash<QString, QPixmap> cache;
    const QString key = QString::number(look.cornerRadius) + u'/' + QString::number(look.blurRadius) + u'/' +
                        QString::number(look.color.rgba()) + u'/' + QString::number(dpr);
    auto it = cache.find(key);
    if (it == cache.end()) {
        it = cache.insert(key, QPixmap::fromImage(tile(look, dpr)));
    }
    return *it;
}

} // namespace

QRectF extent(const QRectF &panel, const Look &look)
{
    const qreal b = look.blurRadius;
    return panel.adjusted(-b, -b, b, b).translated(look.offset);
}

void paint(QPainter &painter, const QRectF &panel, const Look &look)
{
    const qreal dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const QPixmap &source = cachedTile(look, dpr);
    const QRectF target = extent(panel, look);
    // The tile's corner squares are drawn as they are, its two-pixel middle
    // rows and columns stretched along the panel's edges.
    const qreal sourceSide = source.width();     // device pixels
    const qreal cornerPx = (sourceSide - 2) / 2; // device pixels
    const qreal corner = std::min({cornerPx / dpr, target.width() / 2, target.height() / 2});
    const qreal cornerSrc = corner * dpr;
    const qreal xs[4] = {target.left(), target.left() + corner, target.right() - corner, target.right()};
    const qreal ys[4] = {target.top(), target.top() + corner, target.bottom() - corner, target.bottom()};
    const qreal sxs[4] = {0, cornerSrc, sourceSide - cornerSrc, sourceSide};
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column) {
            const QRectF to(QPointF(xs[column], ys[row]), QPointF(xs[column + 1], ys[row + 1]));
            const QRectF from(QPointF(sxs[column], sxs[row]), QPointF(sxs[column + 1], sxs[row + 1]));
            if (!to.isEmpty()) {
                painter.drawPixmap(to, source, from);
            }
        }
    }
}

} // namespace PanelShadow
