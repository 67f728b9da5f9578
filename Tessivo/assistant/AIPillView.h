#pragma once

#include "editor/core/AITrigger.h"

#include <QWidget>

// The pill itself: a sparkle and "Refine" or "Generate" on a capsule. It
// never takes the focus or activates its window; a click asks its owner to
// open the AI menu.
class AIPillView final : public QWidget
{
    Q_OBJECT

public:
    using Kind = AITrigger::Kind;

    explicit AIPillView(QWidget *parent = nullptr);

    Kind kind() const { return m_kind; }
    void setKind(Kind kind);
    bool isHovering() const { return m_hovering; }

    QSize sizeHint() const override;

Q_SIGNALS:
    void pressed();

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QString title() const;
    QRectF capsule() const;
    void updateMask();
    void setHovering(bool hovering);

    Kind m_kind = Kind::Refine;
    bool m_hovering = false;
};
