#include "widgets/Motion.h"

#include "widgets/core/DesktopMotion.h"

#include <QGraphicsOpacityEffect>
#include <QPointer>
#include <QWidget>

#include <cmath>
#include <functional>

namespace {

std::optional<bool> &enabledOverride()
{
    static std::optional<bool> value;
    return value;
}

std::optional<bool> &reducedSetting()
{
    static std::optional<bool> value;
    return value;
}

// A property animation whose progress follows a spring in time.
class SpringAnimation final : public QPropertyAnimation
{
public:
    SpringAnimation(QObject *target, const QByteArray &property, Motion::Spring spring)
        : QPropertyAnimation(target, property, target), m_spring(spring)
    {
        setDuration(Motion::settleMs(spring));
        setEasingCurve(QEasingCurve::Linear);
    }

protected:
    QVariant interpolated(const QVariant &from, const QVariant &to, qreal progress) const override
    {
        if (progress >= 1.0) {
            return to;
        }
        return QPropertyAnimation::interpolated(
            from, to, Motion::springProgress(m_spring, progress * duration() / 1000.0));
    }

private:
    Motion::Spring m_spring;
};

QString animationName(const QByteArray &property)
{
    return QStringLiteral("motion:") + QString::fromLatin1(property);
}

void stopRunning(QObject *target, const QByteArray &property)
{
    const auto running =
        target->findChildren<QPropertyAnimation *>(animationName(property), Qt::FindDirectChildrenOnly);
    for (QPropertyAnimation *animation : running) {
        // Renamed so that it is not found again before it is gone.
        animation->setObjectName(QString());
        animation->stop();
        animation->deleteLater();
    }
}

QPropertyAnimation *start(QPropertyAnimation *animation, const QVariant &end)
{
    animation->setObjectName(animationName(animation->propertyName()));
    QObject::connect(animation, &QAbstractAnimation::finished, animation,
                     [animation] { animation->setObjectName(QString()); });
    animation->setEndValue(end);
    animation->start(QAbstractAnimation::DeleteWhenStopped);
    return animation;
}

} // namespace

QEasingCurve Motion::easeOut()
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0, 0), QPointF(0.58, 1), QPointF(1, 1));
    return curve;
}

QEasingCurve Motion::easeInOut()
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.42, 0), QPointF(0.58, 1), QPointF(1, 1));
    return curve;
}

bool Motion::enabled()
{
    // Not Qt's UI-effects hint: no Linux desktop's theme sets it, so it
    // would keep every view still everywhere.
    return enabledOverride().value_or(true);
}

void Motion::overrideEnabled(std::optional<bool> enabled)
{
    enabledOverride() = enabled;
}

bool Motion::reduced()
{
    std::optional<bool> &value = reducedSetting();
    if (!value) {
        value = DesktopMotion::reduced();
    }
    return *value;
}

void Motion::overrideReduced(std::optional<bool> reduced)
{
    reducedSetting() = reduced;
}

qreal Motion::springProgress(Spring spring, qreal seconds)
{
    const qreal omega = 2 * M_PI / spring.response;
    const qreal zeta = std::clamp<qreal>(spring.damping, 0.01, 1.0);
    const qreal decay = std::exp(-zeta * omega * seconds);
    if (zeta >= 1.0) {
        return 1.0 - decay * (1.0 + omega * seconds);
    }
    const qreal damped = omega * std::sqrt(1.0 - zeta * zeta);
    return 1.0 - decay * (std::cos(damped * seconds) + zeta * omega / damped * std::sin(damped * seconds));
}

int Motion::settleMs(Spring spring)
{
    const qreal omega = 2 * M_PI / spring.response;
    const qreal zeta = std::clamp<qreal>(spring.damping, 0.01, 1.0);
    // The envelope of the swing falls below 0.1 % of the distance.
    const qreal envelope = 1.0 / std::sqrt(1.0 - std::min<qreal>(zeta * zeta, 0.99));
    return int(std::ceil(1000.0 * std::log(1000.0 * envelope) / (zeta * omega)));
}

QPropertyAnimation *Motion::animate(QObject *target, const QByteArray &property, const QVariant &end,
                                    Spring spring)
{
    stopRunning(target, property);
    if (!enabled()) {
        target->setProperty(property.constData(), end);
        return nullptr;
    }
    return start(new SpringAnimation(target, property, spring), end);
}

QPropertyAnimation *Motion::animate(QObject *target, const QByteArray &property, const QVariant &end, int ms,
                                    QEasingCurve curve)
{
    stopRunning(target, property);
    if (!enabled()) {
        target->setProperty(property.constData(), end);
        return nullptr;
    }
    auto *animation = new QPropertyAnimation(target, property, target);
    animation->setDuration(ms);
    animation->setEasingCurve(curve);
    return start(animation, end);
}

namespace {

using Animator = std::function<QPropertyAnimation *(QObject *, const QByteArray &, const QVariant &)>;

void fadeWith(QWidget *widget, bool shown, QPoint offset, const Animator &animator)
{
    const char *goal = "motionShown";
    const char *home = "motionHome";
    const QVariant going = widget->property(goal);
    const bool fadingOut = going.isValid() && !going.toBool() && !widget->isHidden();
    if (shown ? !widget->isHidden() && !fadingOut : widget->isHidden() || fadingOut) {
        return;
    }
    widget->setProperty(goal, shown);
    auto *effect = qobject_cast<QGraphicsOpacityEffect *>(widget->graphicsEffect());
    if (!effect) {
        effect = new QGraphicsOpacityEffect(widget);
        effect->setOpacity(widget->isHidden() ? 0.0 : 1.0);
        widget->setGraphicsEffect(effect);
    }
    effect->setEnabled(true);
    // Where the widget rests: a slide leaves from and returns to it. One not
    // sliding rests where it is (it may have been placed anew).
    if (!widget->property(home).isValid() || widget->isHidden() || !Motion::running(widget, "pos")) {
        widget->setProperty(home, widget->pos());
    }
    const QPoint rest = widget->property(home).toPoint();
    if (shown && widget->isHidden()) {
        effect->setOpacity(0.0);
        widget->move(rest + offset);
        widget->show();
    }
    QPointer<QWidget> guard(widget);
    QPropertyAnimation *opacity = animator(effect, "opacity", shown ? 1.0 : 0.0);
    if (!offset.isNull()) {
        animator(widget, "pos", shown ? rest : rest + offset);
    }
    const auto settle = [guard, shown, rest, offset] {
        if (!guard || guard->property("motionShown").toBool() != shown) {
            return; // turned round meanwhile
        }
        guard->setVisible(shown);
        if (!offset.isNull()) {
            guard->move(rest);
        }
        // Shown, the widget is drawn without its effect until the next fade:
        // an opacity effect draws the widget through a pixmap on every
        // repaint, and Qt keeps drawing it where it was when its parent has
        // moved it meanwhile (the AI menu's status row, after the panel shrank).
        if (QGraphicsEffect *resting = guard->graphicsEffect(); resting && shown) {
            resting->setEnabled(false);
        }
    };
    if (opacity) {
        QObject::connect(opacity, &QAbstractAnimation::finished, widget, settle);
    } else {
        settle();
    }
}

} // namespace

void Motion::fade(QWidget *widget, bool shown, int ms, QEasingCurve curve, QPoint offset)
{
    fadeWith(widget, shown, offset,
             [ms, curve](QObject *target, const QByteArray &property, const QVariant &end) {
                 return animate(target, property, end, ms, curve);
             });
}

void Motion::fade(QWidget *widget, bool shown, Spring spring, QPoint offset)
{
    fadeWith(widget, shown, offset,
             [spring](QObject *target, const QByteArray &property, const QVariant &end) {
                 return animate(target, property, end, spring);
             });
}

qreal Motion::opacity(const QWidget *widget)
{
    const auto *effect = qobject_cast<const QGraphicsOpacityEffect *>(widget->graphicsEffect());
    return effect ? effect->opacity() : 1.0;
}

QPropertyAnimation *Motion::running(const QObject *target, const QByteArray &property)
{
    return target
               ? target->findChild<QPropertyAnimation *>(animationName(property), Qt::FindDirectChildrenOnly)
               : nullptr;
}

QPropertyAnimation *Motion::runningFade(const QWidget *widget)
{
    return running(widget->graphicsEffect(), "opacity");
}

void Motion::stop(QObject *target, const QByteArray &property)
{
    stopRunning(target, property);
}
