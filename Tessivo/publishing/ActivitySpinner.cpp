#include "publishing/ActivitySpinner.h"

#include "widgets/Icon.h"

#include <QPainter>
#include <QTimer>

ActivitySpinner::ActivitySpinner(int size, QWidget *parent)
    : QWidget(parent), m_size(size), m_timer(new QTimer(this))
{
    setFixedSize(size, size);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    m_timer->setInterval(60);
    connect(m_timer, &QTimer::timeout, this, [this] {
        m_angle = (m_angle + 30) % 360;
        update();
    });
}

void ActivitySpinner::paintArc(QPainter *painter, const QRectF &rect, const QColor &color, int angle)
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const qreal width = std::max<qreal>(1.5, rect.width() / 8);
    QPen pen(color, width, Qt::SolidLine, Qt::RoundCap);
    painter->setPen(pen);
    const QRectF arc = rect.adjusted(width, width, -width, -width);
    painter->drawArc(arc, -angle * 16, 270 * 16);
    painter->restore();
}

void ActivitySpinner::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintArc(&painter, rect(), Icon::secondaryColor(palette()), m_angle);
}

void ActivitySpinner::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_timer->start();
}

void ActivitySpinner::hideEvent(QHideEvent *event)
{
    m_timer->stop();
    QWidget::hideEvent(event);
}
