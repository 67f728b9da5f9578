#pragma once

#include <QByteArray>
#include <QEasingCurve>
#include <QPoint>
#include <QPropertyAnimation>
#include <QVariant>

#include <optional>

class QObject;
class QWidget;

// The views' motion: springs and timed curves, each named by the view that
// uses it. Motion is on unless the desktop asks for less (reduced()); each
// view then does what it does for less motion (a fade without the slide, a
// new frame set at once). Without motion at all (a test's choice) a
// property takes its end value at once and a widget appears or goes at once.
namespace Motion {

// Whether views animate: always, unless a test turned it off.
bool enabled();
// Forces motion on or off (tests); nothing goes back to on.
void overrideEnabled(std::optional<bool> enabled);

// Whether the desktop asks for less motion (DesktopMotion), read on the
// first call: the app calls it at start, so that no animation waits for it.
bool reduced();
// Forces it (tests); nothing reads the desktop again on the next call.
void overrideReduced(std::optional<bool> reduced);

// A spring as the views describe it: the period of its undamped swing
// (seconds) and the fraction of critical damping.
struct Spring
{
    qreal response = 0.25;
    qreal damping = 0.85;
};

// How far a spring released at 0 towards 1 has gone after `seconds`
// (a little past 1 on its way back for damping below 1).
qreal springProgress(Spring spring, qreal seconds);
// Until it stays within 0.1 % of its end.
int settleMs(Spring spring);

// The timing curves the views name, as cubic Béziers from (0, 0) to (1, 1).
QEasingCurve easeOut();   // (0, 0, 0.58, 1)
QEasingCurve easeInOut(); // (0.42, 0, 0.58, 1)

// A running animation of `target`'s `property`: a spring, or `ms`
// milliseconds along `curve`. Starting one for a property replaces the one
// still running for it (it heads for the new end from where it is). With
// motion off the property takes `end` at once and none is returned.
QPropertyAnimation *animate(QObject *target, const QByteArray &property, const QVariant &end, Spring spring);
QPropertyAnimation *animate(QObject *target, const QByteArray &property, const QVariant &end, int ms,
                            QEasingCurve curve);

// Stops the animation of `target`'s `property`, leaving it where it is.
void stop(QObject *target, const QByteArray &property);

// The animation of `target`'s `property` that animate() started and that
// has not ended; tests set its current time to sample it.
QPropertyAnimation *running(const QObject *target, const QByteArray &property);

// Fades `widget` in (showing it first) or out (hiding it at the end) over
// `ms` along `curve`, through an opacity effect it installs on the widget
// (or one already there), which rests disabled once the widget is in.
// `offset` slides it in from that far away and out to it. Nothing when it
// already is, or is going, where it was asked to go.
void fade(QWidget *widget, bool shown, int ms, QEasingCurve curve, QPoint offset = {});
void fade(QWidget *widget, bool shown, Spring spring, QPoint offset = {});
// The opacity that fade() gave `widget`: 1 without one.
qreal opacity(const QWidget *widget);
// The fade of `widget` under way, if any (its opacity effect's animation).
QPropertyAnimation *runningFade(const QWidget *widget);

} // namespace Motion
