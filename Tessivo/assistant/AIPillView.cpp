#include "assistant/AIPillView.h"

#include "assistant/AIMenuView.h"
#include "widgets/Icon.h"
#include "widgets/WidgetStyle.h"

#include <QMouseEvent>
#include <QPainter>

namespace {

constexpr int outer = 4;
constexpr int iconSize = 13;
constexpr int shadowBlur = 6;
constexpr int shadowOffset = 2;
constexpr qreal shadowOpacity = 0.14;

QFont titleFont()
{
    return WidgetStyle::font(12, QFont::Medium);
}

} // namespace

AIPillView::AIPillView(QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus)
{
    setObjectName(QStringLiteral("aiPill"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
    setKind(Kind::Refine);
}

void AIPillView::setKind(Kind kind)
{
    m_kind = kind;
    const QString shortcut = AIMenuView::shortcutText();
    setToolTip(kind == Kind::Refine ? QStringLiteral("Rewrite the selection with AI (%1)").arg(shortcut)
                                    : QStringLiteral("Write here with AI (%1)").arg(shortcut));
    resize(sizeHint());
    updateMask();
    update();
}

QString AIPillView::title() const
{
    return m_kind == Kind::Refine ? QStringLiteral("Refine") : QStringLiteral("Generate");
}

QSize AIPillView::sizeHint() const
{
    const QFontMetrics metrics(titleFont());
    const int width = outer + 10 + iconSize + 5 + metrics.horizontalAdvance(title()) + 10 + outer;
    const int height = outer + 6 + std::max(iconSize, metrics.height()) + 6 + outer;
    return {width, height};
}

QRectF AIPillView::capsule() const
{
    return QRectF(rect()).adjusted(outer, outer, -outer, -outer);
}

void AIPillView::resizeEvent(QResizeEvent *)
{
    updateMask();
}

void AIPillView::updateMask()
{
    // No compositor to show through the corners: the window is the capsule,
    // and for the refine pill the band below it where its shadow falls
    // (the band is the gap above the selection: it hides no text).
    const auto rounded = [](const QRectF &shape) {
        QPainterPath path;
        path.addRoundedRect(shape, shape.height() / 2, shape.height() / 2);
        return QRegion(path.toFillPolygon().toPolygon());
    };
    QRegion region = rounded(capsule().adjusted(-1, -1, 1, 1));
    if (m_kind == Kind::Refine) {
        const QRectF lower(0, capsule().center().y(), width(), height() - capsule().center().y());
        region += rounded(QRectF(rect()).adjusted(outer - shadowBlur / 2.0, 0, shadowBlur / 2.0 - outer, 0)) &
                  QRegion(lower.toRect());
    }
    setMask(region);
}

void AIPillView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF shape = capsule();
    const qreal radius = shape.height() / 2;
    const QColor accent = WidgetStyle::accent(palette());
    const QColor base = palette().color(QPalette::Window);
    const bool refine = m_kind == Kind::Refine;
    if (refine) {
        // The text's background with the pill's shadow on it (black at 0.14,
        // blurred over 6 points, 2 points down), as far as the band reaches.
        painter.fillRect(rect(), palette().color(QPalette::Base));
        const QRectF cast = shape.translated(0, shadowOffset);
        for (int ring = shadowBlur; ring >= 1; --ring) {
            const qreal weight = 1.0 - qreal(ring) / (shadowBlur + 1);
            painter.fillPath(WidgetStyle::roundedRect(cast.adjusted(-ring, -ring, ring, ring), radius + ring),
                             QColor(0, 0, 0, int(255 * shadowOpacity * weight * weight / 2)));
        }
    }
    // Faint fills are laid over the window colour the capsule stands in for.
    painter.fillPath(WidgetStyle::roundedRect(shape.adjusted(-1, -1, 1, 1), radius + 1), base);
    if (!refine) {
        painter.fillPath(WidgetStyle::roundedRect(shape, radius),
                         WidgetStyle::primary(palette(), m_hovering ? 0.06 : 0.02));
    }
    QColor border;
    if (refine) {
        border = m_hovering ? accent : WidgetStyle::primary(palette(), 0.12);
        if (m_hovering) {
            border.setAlphaF(0.4f);
        }
    } else {
        border = WidgetStyle::primary(palette(), m_hovering ? 0.14 : 0.08);
    }
    QPen pen(border, 1);
    if (!refine && !m_hovering) {
        pen.setDashPattern({3, 3});
    }
    painter.setPen(pen);
    painter.drawPath(WidgetStyle::roundedRect(shape.adjusted(0.5, 0.5, -0.5, -0.5), radius - 0.5));

    const QFontMetrics metrics(titleFont());
    const QPixmap icon = Icon::pixmap(IconName::sparkles, iconSize, accent, devicePixelRatioF());
    const int x = int(shape.left()) + 10;
    painter.drawPixmap(QRect(x, int(shape.center().y()) - iconSize / 2, iconSize, iconSize), icon);
    QColor text = palette().color(QPalette::WindowText);
    if (refine && m_hovering) {
        text = accent;
    } else if (!refine) {
        text = WidgetStyle::secondary(palette());
    }
    painter.setPen(text);
    painter.setFont(titleFont());
    painter.drawText(
        QRectF(x + iconSize + 5, shape.top(), metrics.horizontalAdvance(title()) + 2, shape.height()),
        Qt::AlignVCenter | Qt::AlignLeft, title());
}

void AIPillView::enterEvent(QEnterEvent *)
{
    setHovering(true);
}

void AIPillView::leaveEvent(QEvent *)
{
    setHovering(false);
}

void AIPillView::setHovering(bool hovering)
{
    if (m_hovering != hovering) {
        m_hovering = hovering;
        update();
    }
}

void AIPillView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && capsule().contains(event->position())) {
        Q_EMIT pressed();
    }
}
