#include "widgets/PressableIconButtonStyle.h"

#include "widgets/Motion.h"

#include <QAbstractButton>
#include <QPainter>
#include <QVariantAnimation>

PressableIconButtonStyle::PressableIconButtonStyle(QAbstractButton *button)
    : QGraphicsEffect(button), m_animation(new QVariantAnimation(this))
{
    m_animation->setDuration(120);
    m_animation->setEasingCurve(QEasingCurve::OutCubic);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_progress = value.toReal();
        update();
    });
    if (button) {
        connect(button, &QAbstractButton::pressed, this, [this] { animateTo(1.0); });
        connect(button, &QAbstractButton::released, this, [this] { animateTo(0.0); });
        button->setGraphicsEffect(this);
    }
}

qreal PressableIconButtonStyle::scale() const
{
    return Motion::reduced() ? 1.0 : 1.0 - 0.04 * m_progress;
}

qreal PressableIconButtonStyle::opacity() const
{
    return Motion::reduced() ? 1.0 - 0.3 * m_progress : 1.0;
}

void PressableIconButtonStyle::animateTo(qreal target)
{
    m_animation->stop();
    m_animation->setStartValue(m_progress);
    m_animation->setEndValue(target);
    m_animation->start();
}

void PressableIconButtonStyle::draw(QPainter *painter)
{
    const qreal s = scale();
    const qreal o = opacity();
    if (qFuzzyCompare(s, 1.0) && qFuzzyCompare(o, 1.0)) {
        drawSource(painter);
        return;
    }
    QPoint offset;
    const QPixmap source = sourcePixmap(Qt::LogicalCoordinates, &offset);
    const QRectF rect(offset, source.deviceIndependentSize());
    painter->save();
    painter->setOpacity(painter->opacity() * o);
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->translate(rect.center());
    painter->scale(s, s);
    painter->translate(-rect.center());
    painter->drawPixmap(rect.topLeft(), source);
    painter->restore();
}
