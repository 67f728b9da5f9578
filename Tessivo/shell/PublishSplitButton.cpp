#include "shell/PublishSplitButton.h"

#include "app/core/AppShortcuts.h"
#include "widgets/Icon.h"
#include "widgets/PressableIconButtonStyle.h"

#include <QAbstractButton>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>

using namespace Qt::StringLiterals;

namespace {

QColor textBackground(const QPalette &palette, qreal alpha = 1.0)
{
    QColor c = palette.color(QPalette::Base);
    c.setAlphaF(float(alpha));
    return c;
}

// One part of the pill: its content in the text-background colour, lit up
// faintly while the pointer is over it.
class PillPart final : public QAbstractButton
{
public:
    PillPart(IconName icon, int iconSize, QWidget *parent)
        : QAbstractButton(parent), m_icon(icon), m_iconSize(iconSize)
    {
        setCursor(Qt::ArrowCursor);
        setFocusPolicy(Qt::TabFocus);
        setMouseTracking(true);
    }

    void setFixedWidthForText(bool fixed) { m_fixed = fixed; }

    QSize sizeHint() const override
    {
        if (m_fixed)
            return {22, 26};
        QFont f = font();
        const int textWidth = text().isEmpty() ? 0 : QFontMetrics(f).horizontalAdvance(text()) + 6;
        return {9 + m_iconSize + textWidth + 9, 26};
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        if (m_hovering)
            painter.fillRect(rect(), textBackground(palette(), 0.14));
        const QColor fg = textBackground(palette(), isEnabled() ? 1.0 : 0.5);
        const QPixmap pixmap = Icon::pixmap(m_icon, m_iconSize, fg, devicePixelRatioF());
        if (text().isEmpty()) {
            painter.drawPixmap(QRect(QPoint((width() - m_iconSize) / 2, (height() - m_iconSize) / 2),
                                     QSize(m_iconSize, m_iconSize)),
                               pixmap);
            return;
        }
        const int textWidth = QFontMetrics(font()).horizontalAdvance(text());
        int x = (width() - (m_iconSize + 6 + textWidth)) / 2;
        painter.drawPixmap(QRect(QPoint(x, (height() - m_iconSize) / 2), QSize(m_iconSize, m_iconSize)),
                           pixmap);
        x += m_iconSize + 6;
        painter.setPen(fg);
        painter.setFont(font());
        painter.drawText(QRect(x, 0, textWidth + 2, height()), Qt::AlignVCenter | Qt::AlignLeft, text());
    }
    void enterEvent(QEnterEvent *event) override
    {
        m_hovering = true;
        update();
        QAbstractButton::enterEvent(event);
    }
    void leaveEvent(QEvent *event) override
    {
        m_hovering = false;
        update();
        QAbstractButton::leaveEvent(event);
    }

private:
    IconName m_icon;
    int m_iconSize;
    bool m_fixed = false;
    bool m_hovering = false;
};

class Separator final : public QWidget
{
public:
    explicit Separator(QWidget *parent) : QWidget(parent) { setFixedSize(1, 26); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(QRect(0, 5, 1, height() - 10), textBackground(palette(), 0.25));
    }
};

} // namespace

PublishSplitButton::PublishSplitButton(QWidget *parent) : QWidget(parent)
{
    setFixedHeight(26);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto *main = new PillPart(IconName::link, 14, this);
    QFont font = main->font();
    font.setPixelSize(13);
    font.setWeight(QFont::Medium);
    main->setFont(font);
    new PressableIconButtonStyle(main);
    m_main = main;

    auto *caret = new PillPart(IconName::chevronDown, 12, this);
    caret->setFixedWidthForText(true);
    caret->setFixedSize(22, 26);
    caret->setToolTip(u"Export options"_s);
    caret->setAccessibleName(u"Export options"_s);
    m_caret = caret;

    m_menu = new QMenu(this);
    m_menu->addAction(u"Save as Markdown\u2026"_s, this,
                      [this] { Q_EMIT exportRequested(ExportFormat::Markdown); });
    m_menu->addAction(u"Save as HTML\u2026"_s, this, [this] { Q_EMIT exportRequested(ExportFormat::Html); });
    m_menu->addSeparator();
    m_menu->addAction(u"Copy Markdown"_s, this, [this] { Q_EMIT copyMarkdownRequested(); });

    connect(m_main, &QAbstractButton::clicked, this, &PublishSplitButton::publishRequested);
    connect(m_caret, &QAbstractButton::clicked, this, [this] {
        m_menu->popup(
            m_caret->mapToGlobal(QPoint(m_caret->width() - m_menu->sizeHint().width(), height() + 4)));
    });

    layout->addWidget(m_main);
    layout->addWidget(new Separator(this));
    layout->addWidget(m_caret);
    refresh();
}

void PublishSplitButton::setPublished(bool published)
{
    if (m_published == published)
        return;
    m_published = published;
    refresh();
}

QString PublishSplitButton::title() const
{
    return m_published ? u"Published"_s : u"Publish"_s;
}

QString PublishSplitButton::help() const
{
    const QString shortcut = QKeySequence(AppShortcuts::publishDocument).toString(QKeySequence::NativeText);
    if (m_published)
        return u"Update or unpublish the shared link ("_s + shortcut + u')';
    return u"Publish a read-only link ("_s + shortcut + u')';
}

void PublishSplitButton::refresh()
{
    m_main->setText(title());
    m_main->setToolTip(help());
    m_main->setAccessibleName(title());
    m_main->setFixedSize(m_main->sizeHint());
    updateGeometry();
    update();
}

void PublishSplitButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = palette().color(QPalette::Text);
    if (!isEnabled())
        fill.setAlphaF(0.35f);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 8, 8);
    painter.setClipPath(shape);
    painter.fillPath(shape, fill);
}

void PublishSplitButton::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange)
        refresh();
    QWidget::changeEvent(event);
}
