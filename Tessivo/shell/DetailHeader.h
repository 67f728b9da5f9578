#pragma once

#include "app/core/IconName.h"

#include <QAbstractButton>
#include <QString>

// The square icon button of the detail pane's header (the editor, split and
// preview switches): the icon on a rounded fill that marks the current choice
// and, more faintly, the button under the pointer.
class HeaderIconButton final : public QAbstractButton
{
    Q_OBJECT

public:
    HeaderIconButton(IconName icon, const QString &help, bool selected, QWidget *parent = nullptr);

    IconName icon() const { return m_icon; }
    bool isSelected() const { return m_selected; }
    void setSelected(bool selected);
    bool isHovering() const { return m_hovering; }
    // The fill's opacity over the text colour: 0.1 selected, 0.05 hovered, 0.
    qreal fillOpacity() const;

    QSize sizeHint() const override { return {28, 24}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    IconName m_icon;
    bool m_selected;
    bool m_hovering = false;
};
