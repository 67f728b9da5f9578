#pragma once

#include <QWidget>

class QVariantAnimation;

// A small indeterminate progress indicator: an arc that turns while the
// widget is shown, in the text colour of its palette.
class BusyIndicator final : public QWidget
{
    Q_OBJECT

public:
    explicit BusyIndicator(QWidget *parent = nullptr);

    QSize sizeHint() const override { return {16, 16}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QVariantAnimation *m_turn;
    int m_angle = 0;
};
