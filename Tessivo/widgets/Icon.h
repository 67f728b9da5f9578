#pragma once

#include "app/core/IconName.h"

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QWidget>

// One of the application's template images, stretched to a size x size square
// and painted in the widget's foreground colour (QPalette::WindowText unless
// the caller picks another role or sets an explicit colour).
class Icon final : public QWidget
{
    Q_OBJECT

public:
    Icon(IconName name, int size, QWidget *parent = nullptr);

    IconName name() const { return m_name; }
    void setName(IconName name);
    int iconSize() const { return m_size; }

    // An explicit tint; an invalid colour goes back to the palette's foreground.
    void setColor(const QColor &color);
    QColor color() const;

    QSize sizeHint() const override { return {m_size, m_size}; }

    // The artwork of `name` tinted with `color`, `size` x `size` device-independent
    // pixels at `devicePixelRatio`. Cached; empty when the artwork is missing.
    static QPixmap pixmap(IconName name, int size, const QColor &color, qreal devicePixelRatio = 1.0);
    // A QIcon for menus and buttons, tinted with `color`.
    static QIcon icon(IconName name, const QColor &color, int size = 16);

    // The palette's secondary and tertiary foreground: the text colour faded,
    // as used for icons and labels that should recede.
    static QColor secondaryColor(const QPalette &palette);
    static QColor tertiaryColor(const QPalette &palette);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    IconName m_name;
    int m_size;
    QColor m_color;
};
