#include "shell/SettingsSection.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace {

constexpr int rowHeight = 40;
constexpr int rowHorizontalMargin = 12;
constexpr int rowVerticalMargin = 6;
constexpr qreal cornerRadius = 7;

// Between the window colour and the text colour, so the box and its
// hairlines read in light and dark palettes alike.
QColor lineColor(const QPalette &palette)
{
    const QColor window = palette.color(QPalette::Window);
    const QColor text = palette.color(QPalette::WindowText);
    const qreal t = 0.16;
    return QColor::fromRgbF(window.redF() + (text.redF() - window.redF()) * t,
                            window.greenF() + (text.greenF() - window.greenF()) * t,
                            window.blueF() + (text.blueF() - window.blueF()) * t);
}

QColor boxColor(const QPalette &palette)
{
    // The base colour in a light palette; a little lighter than the window
    // in a dark one, where the base is usually darker than the window.
    const QColor window = palette.color(QPalette::Window);
    const QColor base = palette.color(QPalette::Base);
    if (window.lightnessF() < 0.5)
        return window.lighter(118);
    return base;
}

} // namespace

// The rounded box that holds the rows and draws the hairlines between them.
class SettingsSection::Box final : public QWidget
{
public:
    explicit Box(QWidget *parent) : QWidget(parent), m_layout(new QVBoxLayout(this))
    {
        m_layout->setContentsMargins(0, 0, 0, 0);
        m_layout->setSpacing(1); // room for the hairline between two rows
    }

    void add(QWidget *row)
    {
        row->setMinimumHeight(rowHeight);
        m_layout->addWidget(row);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        QPainterPath path;
        path.addRoundedRect(frame, cornerRadius, cornerRadius);
        painter.fillPath(path, boxColor(palette()));
        painter.setPen(QPen(lineColor(palette()), 1));
        painter.drawPath(path);
        painter.setRenderHint(QPainter::Antialiasing, false);
        for (int i = 1; i < m_layout->count(); ++i) {
            const QWidget *row = m_layout->itemAt(i)->widget();
            if (!row || !row->isVisible())
                continue;
            const int y = row->geometry().top() - 1;
            painter.drawLine(rowHorizontalMargin, y, width() - 1 - rowHorizontalMargin, y);
        }
    }

private:
    QVBoxLayout *m_layout;
};

SettingsSection::SettingsSection(const QString &header, QWidget *parent)
    : QWidget(parent), m_header(new QLabel(header, this)), m_box(new Box(this)), m_footer(new QLabel(this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    QFont bold = m_header->font();
    bold.setBold(true);
    m_header->setFont(bold);
    m_header->setTextFormat(Qt::PlainText);
    m_header->setVisible(!header.isEmpty());
    m_header->setContentsMargins(2, 0, 0, 0);
    m_footer->setTextFormat(Qt::PlainText);
    m_footer->setWordWrap(true);
    m_footer->setContentsMargins(2, 0, 2, 0);
    m_footer->setForegroundRole(QPalette::PlaceholderText);
    QFont small = m_footer->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    m_footer->setFont(small);
    m_footer->hide();
    layout->addWidget(m_header);
    layout->addWidget(m_box);
    layout->addWidget(m_footer);
}

QWidget *SettingsSection::addRow(QWidget *content)
{
    auto *row = new QWidget(m_box);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(rowHorizontalMargin, rowVerticalMargin, rowHorizontalMargin,
                               rowVerticalMargin);
    layout->addWidget(content);
    m_box->add(row);
    return row;
}

QWidget *SettingsSection::addRow(const QString &title, QWidget *control)
{
    auto *row = new QWidget(m_box);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(rowHorizontalMargin, rowVerticalMargin, rowHorizontalMargin,
                               rowVerticalMargin);
    auto *label = new QLabel(title, row);
    label->setTextFormat(Qt::PlainText);
    label->setBuddy(control);
    layout->addWidget(label);
    layout->addStretch(1);
    control->setParent(row);
    layout->addWidget(control);
    m_box->add(row);
    return row;
}

QLabel *SettingsSection::addValueRow(const QString &title, const QString &value)
{
    auto *label = new QLabel(value);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setForegroundRole(QPalette::PlaceholderText);
    addRow(title, label);
    return label;
}

void SettingsSection::setFooter(const QString &text)
{
    m_footer->setText(text);
    m_footer->setVisible(!text.isEmpty());
}
