#pragma once

#include <QGraphicsOpacityEffect>
#include <QPointer>

class QSequentialAnimationGroup;
class QPropertyAnimation;

// Makes a widget breathe in opacity while some work is in progress: between
// full opacity and 0.35, 0.7 seconds each way, for as long as it is active.
// Installs itself as the widget's graphics effect. The breathing pauses while
// the widget is hidden, so that a hidden pulse costs no animation ticks.
class Pulse final : public QGraphicsOpacityEffect
{
    Q_OBJECT

public:
    explicit Pulse(QWidget *target, bool active = false);

    bool isActive() const { return m_active; }
    void setActive(bool active);
    // Whether the content is in its dimmed phase (follows `active`).
    bool isDim() const { return m_dim; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setDim(bool dim);

    bool m_active = false;
    bool m_dim = false;
    bool m_shown = false;
    QSequentialAnimationGroup *m_breathing;
    QPropertyAnimation *m_settle;
};
