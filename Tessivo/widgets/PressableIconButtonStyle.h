#pragma once

#include <QGraphicsEffect>

class QAbstractButton;
class QVariantAnimation;

// Press feedback of the small icon buttons: while the button is held its
// content shrinks to 0.96 about its centre, or, when the desktop asks for
// reduced motion, fades to 0.7 instead; 0.12 s ease-out either way.
// Installs itself as the button's graphics effect.
class PressableIconButtonStyle final : public QGraphicsEffect
{
    Q_OBJECT

public:
    explicit PressableIconButtonStyle(QAbstractButton *button);

    // Current drawing transform, 1 when at rest. Whether the press shrinks
    // or fades is Motion::reduced().
    qreal scale() const;
    qreal opacity() const;

protected:
    void draw(QPainter *painter) override;

private:
    void animateTo(qreal target);

    qreal m_progress = 0.0;
    QVariantAnimation *m_animation;
};
