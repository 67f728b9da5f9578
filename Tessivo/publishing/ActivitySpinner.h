#pragma once

#include <QWidget>

class QTimer;

// A small indeterminate progress indicator: an arc that turns while the
// widget is shown.
class ActivitySpinner final : public QWidget
{
    Q_OBJECT

public:
    explicit ActivitySpinner(int size = 16, QWidget *parent = nullptr);

    QSize sizeHint() const override { return {m_size, m_size}; }

    // The same arc, still, in `rect`: for painted items that cannot animate.
    static void paintArc(QPainter *painter, const QRectF &rect, const QColor &color, int angle);

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    int m_size;
    int m_angle = 0;
    QTimer *m_timer;
};
