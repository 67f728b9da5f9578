#pragma once

#include "app/core/IconName.h"

#include <QAbstractButton>

// A small borderless button showing one icon centred in a square frame whose
// whole rectangle takes clicks; pressing it gives the shared press feedback.
class IconButton final : public QAbstractButton
{
    Q_OBJECT

public:
    IconButton(IconName icon, int iconSize, int frameSize, QWidget *parent = nullptr);

    IconName iconName() const { return m_icon; }
    void setIconName(IconName icon);
    QSize sizeHint() const override { return {m_frame, m_frame}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    IconName m_icon;
    int m_iconSize;
    int m_frame;
    bool m_hovered = false;
};
