#pragma once

#include <QScrollBar>

// The editor's and the sidebar's vertical scroller: 7 pixels wide, no track,
// a small rounded knob that darkens while the pointer is over it. Install it
// with QAbstractScrollArea::setVerticalScrollBar(new ThinScroller).
class ThinScroller final : public QScrollBar
{
    Q_OBJECT

public:
    explicit ThinScroller(QWidget *parent = nullptr);

    // Whether the pointer is inside the scroller.
    bool isHovering() const { return m_hovering; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    qreal proportion() const;
    qreal position() const;
    bool isDarkAppearance() const;
    void setPositionFromKnobTop(qreal knobTop);

    bool m_hovering = false;
    bool m_dragging = false;
    qreal m_grabOffset = 0; // pointer distance from the knob's top while dragging
};
