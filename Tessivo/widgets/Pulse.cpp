#include "widgets/Pulse.h"

#include <QEvent>
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

    if (target) {
        m_shown = target->isVisible();
        target->installEventFilter(this);
        target->setGraphicsEffect(this);
    }
    // A widget first shown while active starts pulsing at once.
    setActive(active);
}

void Pulse::setActive(bool active)
{
    m_active = active;
    setDim(active);
}

bool Pulse::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Show || event->type() == QEvent::Hide) {
        m_shown = event->type() == QEvent::Show;
        setDim(m_dim);
    }
    return QGraphicsOpacityEffect::eventFilter(watched, event);
}

void Pulse::setDim(bool dim)
{
    const bool breathe = dim && m_shown;
    const bool breathing = m_breathing->state() == QAbstractAnimation::Running;
    if (dim == m_dim && (!dim || breathe == breathing))
        return;
    m_dim = dim;
    if (dim) {
        m_settle->stop();
        m_breathing->stop();
        if (breathe)
            m_breathing->start();
    } else {
        m_breathing->stop();
        m_settle->stop();
        m_settle->setStartValue(opacity());
        m_settle->start();
    }
}
