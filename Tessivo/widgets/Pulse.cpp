#include "widgets/Pulse.h"

#include <QPropertyAnimation>
#include <QSequentialAnimationGroup>
#include <QWidget>

namespace {
constexpr qreal dimOpacity = 0.35;
constexpr int halfCycleMs = 700;
constexpr int settleMs = 350;
} // namespace

Pulse::Pulse(QWidget *target, bool active)
    : QGraphicsOpacityEffect(target), m_breathing(new QSequentialAnimationGroup(this)),
      m_settle(new QPropertyAnimation(this, "opacity", this))
{
    setOpacity(1.0);
    auto *down = new QPropertyAnimation(this, "opacity", m_breathing);
    down->setEndValue(dimOpacity);
    down->setDuration(halfCycleMs);
    down->setEasingCurve(QEasingCurve::InOutQuad);
    auto *up = new QPropertyAnimation(this, "opacity", m_breathing);
    up->setStartValue(dimOpacity);
    up->setEndValue(1.0);
    up->setDuration(halfCycleMs);
    up->setEasingCurve(QEasingCurve::InOutQuad);
    m_breathing->addAnimation(down);
    m_breathing->addAnimation(up);
    m_breathing->setLoopCount(-1);

    m_settle->setEndValue(1.0);
    m_settle->setDuration(settleMs);
    m_settle->setEasingCurve(QEasingCurve::InOutQuad);

    if (target)
        target->setGraphicsEffect(this);
    // A widget first shown while active starts pulsing at once.
    setActive(active);
}

void Pulse::setActive(bool active)
{
    m_active = active;
    setDim(active);
}

void Pulse::setDim(bool dim)
{
    if (dim == m_dim && (dim ? m_breathing->state() == QAbstractAnimation::Running : true))
        return;
    m_dim = dim;
    if (dim) {
        m_settle->stop();
        m_breathing->stop();
        m_breathing->start();
    } else {
        m_breathing->stop();
        m_settle->stop();
        m_settle->setStartValue(opacity());
        m_settle->start();
    }
}
