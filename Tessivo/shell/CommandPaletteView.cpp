#include "shell/CommandPaletteView.h"

#include "shell/AppServices.h"
#include "shell/core/DetailViewMode.h"
#include "store/DocumentStore.h"
#include "widgets/Icon.h"
#include "widgets/ThinScroller.h"
#include "widgets/WidgetStyle.h"

#include <QFontMetrics>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int rowHeight = 34;
constexpr int rowSpacing = 1;
constexpr int listSidePadding = 6;
constexpr int listBottomPadding = 8;
constexpr int maxListHeight = 400;

QFont systemFont(qreal points, QFont::Weight weight = QFont::Normal)
{
    QFont font;
    font.setPixelSize(qRound(points));
    font.setWeight(weight);
    return font;
}

QColor withAlpha(QColor color, qreal alpha)
{
    color.setAlphaF(float(alpha));
    return color;
}

} // namespace

// The rows and section headers, painted in one widget; its height follows
// the content and the scroll area around it limits what shows. It reads the
// model's shown entries where they are and keeps only where each row goes.
class PaletteList final : public QWidget
{
public:
    explicit PaletteList(CommandPaletteModel *model, QWidget *parent) : QWidget(parent), m_model(model)
    {
        setMouseTracking(true);
        setAttribute(Qt::WA_Hover);
    }

    // Lays the rows out afresh for the model's shown entries.
    void relayout()
    {
        const int count = m_model->shownCount();
        m_tops.resize(count);
        const int headerHeight = QFontMetrics(headerFont()).height() + 4;
        int y = 0;
        for (int i = 0; i < count; ++i) {
            if (m_model->shownStartsSection(i))
                y += (i == 0 ? 8 : 14) + headerHeight;
            m_tops[i] = y;
            y += rowHeight + rowSpacing;
        }
        m_contentHeight = count == 0 ? 0 : y - rowSpacing + listBottomPadding;
        setFixedHeight(m_contentHeight);
        update();
    }

    int contentHeight() const { return m_contentHeight; }
    QRect rowRect(int index) const
    {
        if (index < 0 || index >= m_tops.size())
            return {};
        return QRect(listSidePadding, m_tops[index], width() - 2 * listSidePadding, rowHeight);
    }
    int rowAt(const QPoint &pos) const
    {
        const int i = firstRowEndingBelow(pos.y());
        return i < m_tops.size() && rowRect(i).contains(pos) ? i : -1;
    }

    // The text the row at `index` shows, shortened to its room.
    QString shownTitle(int index) const
    {
        if (index < 0 || index >= m_tops.size())
            return {};
        return CommandPaletteView::fittedTitle(m_model->shownItem(index), QFontMetrics(titleFont()),
                                               titleRect(index).width());
    }

    static QFont titleFont() { return systemFont(14); }

protected:
    static QFont headerFont() { return systemFont(11, QFont::DemiBold); }

    // The room of the title: after the icon, up to 8 points before the
    // detail, check mark and shortcut at the right.
    QRect titleRect(int index) const
    {
        const CommandPaletteModel::Item &item = m_model->shownItem(index);
        const QRect row = rowRect(index);
        const QFontMetrics small(systemFont(12));
        const int left = row.left() + 10 + 18 + 10;
        int right = row.right() - 10;
        if (item.shortcut)
            right -= small.horizontalAdvance(CommandPaletteView::shortcutText(*item.shortcut)) + 10;
        if (item.checked)
            right -= 14 + 10;
        if (item.detail)
            right -= small.horizontalAdvance(*item.detail) + 10;
        return QRect(left, row.top(), qMax(0, right - 8 + 10 - left), row.height());
    }

    // The first row whose bottom edge is at or below `y` (the rows run down
    // in order): the lists hold every document, so no walk from the top.
    int firstRowEndingBelow(int y) const
    {
        const auto it = std::lower_bound(m_tops.cbegin(), m_tops.cend(), y,
                                         [](int top, int edge) { return top + rowHeight - 1 < edge; });
        return int(it - m_tops.cbegin());
    }

    void paintEvent(QPaintEvent *event) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QPalette pal = palette();
        const QColor primary = pal.color(QPalette::WindowText);
        const QColor secondary = Icon::secondaryColor(pal);
        const QColor tertiary = Icon::tertiaryColor(pal);
        const QColor red(0xE5, 0x48, 0x4D);
        const qreal dpr = devicePixelRatioF();

        // Only the rows in the exposed area, and a header's height above it
        // for the section titles drawn over their first rows.
        const QRect exposed = event->rect();
        const int headerRoom = QFontMetrics(headerFont()).height() + 4 + 14;
        for (int i = firstRowEndingBelow(exposed.top()); i < m_tops.size(); ++i) {
            const CommandPaletteModel::Item &item = m_model->shownItem(i);
            const QRect row = rowRect(i);
            if (row.top() - headerRoom > exposed.bottom())
                break;
            if (m_model->shownStartsSection(i)) {
                painter.setFont(headerFont());
                painter.setPen(tertiary);
                const int h = QFontMetrics(headerFont()).height();
                painter.drawText(QRect(listSidePadding + 12, row.top() - 4 - h, row.width() - 24, h),
                                 Qt::AlignLeft | Qt::AlignVCenter, item.section);
            }
            if (i == m_model->selection()) {
                QPainterPath path;
                path.addRoundedRect(QRectF(row), 7, 7);
                painter.fillPath(path, withAlpha(primary, 0.08));
            }
            const int centreY = row.center().y();
            // Icon: 15 points in an 18-wide frame.
            const QPixmap icon = Icon::pixmap(item.icon, 15, item.destructive ? red : secondary, dpr);
            painter.drawPixmap(row.left() + 10 + 1, centreY - 15 / 2, icon);

            int right = row.right() - 10;
            const QFont small = systemFont(12);
            if (item.shortcut) {
                const QString text = CommandPaletteView::shortcutText(*item.shortcut);
                const int w = QFontMetrics(small).horizontalAdvance(text);
                painter.setFont(small);
                painter.setPen(tertiary);
                painter.drawText(QRect(right - w, row.top(), w, row.height()), Qt::AlignVCenter, text);
                right -= w + 10;
            }
            if (item.checked) {
                painter.drawPixmap(right - 14, centreY - 7,
                                   Icon::pixmap(IconName::check, 14, secondary, dpr));
                right -= 14 + 10;
            }
            if (item.detail) {
                // Digits of the system font are tabular already.
                const int w = QFontMetrics(small).horizontalAdvance(*item.detail);
                painter.setFont(small);
                painter.setPen(tertiary);
                painter.drawText(QRect(right - w, row.top(), w, row.height()), Qt::AlignVCenter,
                                 *item.detail);
            }
            const QRect titleArea = titleRect(i);
            painter.setFont(titleFont());
            painter.setPen(item.destructive ? red : primary);
            painter.drawText(
                titleArea, Qt::AlignVCenter,
                CommandPaletteView::fittedTitle(item, QFontMetrics(titleFont()), titleArea.width()));
        }
    }

    bool event(QEvent *event) override
    {
        if (event->type() == QEvent::ToolTip) {
            // A shortened row shows its whole text on hovering.
            auto *help = static_cast<QHelpEvent *>(event);
            const int row = rowAt(help->pos());
            if (row >= 0 && shownTitle(row) != m_model->shownItem(row).title)
                QToolTip::showText(help->globalPos(),
                                   WidgetStyle::plainToolTip(m_model->shownItem(row).title), this,
                                   rowRect(row));
            else
                QToolTip::hideText();
            return true;
        }
        return QWidget::event(event);
    }

    void resizeEvent(QResizeEvent *) override { update(); }

    void mouseMoveEvent(QMouseEvent *event) override
    {
        const int row = rowAt(event->position().toPoint());
        if (row >= 0 && row != m_model->selection()) {
            m_model->setSelection(row);
        }
    }

    void mousePressEvent(QMouseEvent *event) override { event->accept(); }

    void mouseReleaseEvent(QMouseEvent *event) override
    {
        if (event->button() != Qt::LeftButton)
            return;
        const int row = rowAt(event->position().toPoint());
        if (row >= 0)
            m_model->runItem(row);
    }

private:
    CommandPaletteModel *m_model;
    // The top of each shown row.
    QList<int> m_tops;
    int m_contentHeight = 0;
};

CommandPaletteView::CommandPaletteView(bool sidebarVisible, std::function<void()> dismiss,
                                       AppServices &services, QWidget *parent)
    : QWidget(parent),
      m_model(new CommandPaletteModel(services.store(), services.viewMode(), services.notifications(),
                                      sidebarVisible, std::move(dismiss), this))
{
    setAttribute(Qt::WA_NoSystemBackground);
    setFixedWidth(panelWidth);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto *searchRow = new QWidget(this);
    searchRow->setFixedHeight(50);
    auto *rowLayout = new QHBoxLayout(searchRow);
    rowLayout->setContentsMargins(16, 0, 16, 0);
    rowLayout->setSpacing(10);
    auto *searchIcon = new Icon(IconName::search, 16, searchRow);
    searchIcon->setColor(Icon::secondaryColor(palette()));
    rowLayout->addWidget(searchIcon);
    m_field = new QLineEdit(searchRow);
    m_field->setFrame(false);
    m_field->setFont(systemFont(16));
    m_field->setPlaceholderText(QStringLiteral("Search documents or run a command\u2026"));
    m_field->setAttribute(Qt::WA_MacShowFocusRect, false);
    m_field->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; border: none; }"));
    m_field->installEventFilter(this);
    rowLayout->addWidget(m_field, 1);
    auto *esc = new QLabel(QStringLiteral("esc"), searchRow);
    esc->setFont(systemFont(11, QFont::Medium));
    const QColor text = palette().color(QPalette::WindowText);
    esc->setStyleSheet(QStringLiteral("QLabel { color: rgba(%1,%2,%3,0.35); background: rgba(%1,%2,%3,0.06);"
                                      " border-radius: 5px; padding: 2px 6px; }")
                           .arg(text.red())
                           .arg(text.green())
                           .arg(text.blue()));
    esc->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    rowLayout->addWidget(esc, 0, Qt::AlignVCenter);
    layout->addWidget(searchRow);

    auto *divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFixedHeight(1);
    divider->setStyleSheet(QStringLiteral("QFrame { border: none; background: rgba(%1,%2,%3,0.12); }")
                               .arg(text.red())
                               .arg(text.green())
                               .arg(text.blue()));
    layout->addWidget(divider);

    m_scroll = new QScrollArea(this);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setVerticalScrollBar(new ThinScroller(m_scroll));
    m_scroll->viewport()->setAutoFillBackground(false);
    m_list = new PaletteList(m_model, m_scroll);
    m_list->setAutoFillBackground(false);
    m_scroll->setWidget(m_list);
    layout->addWidget(m_scroll);

    // The 28 points above and below the message come from a holder's layout,
    // which always counts them in the panel's size.
    m_empty = new QWidget(this);
    auto *emptyLayout = new QVBoxLayout(m_empty);
    emptyLayout->setContentsMargins(0, 28, 0, 28);
    auto *message = new QLabel(QStringLiteral("No results found."), m_empty);
    message->setAlignment(Qt::AlignCenter);
    message->setFont(systemFont(14));
    QPalette emptyPalette = message->palette();
    emptyPalette.setColor(QPalette::WindowText, Icon::secondaryColor(palette()));
    message->setPalette(emptyPalette);
    emptyLayout->addWidget(message);
    layout->addWidget(m_empty);

    connect(m_field, &QLineEdit::textChanged, m_model, &CommandPaletteModel::setQuery);
    // Hidden, the palette lays its list out again only when shown next: the
    // store changes on every keystroke in the editor.
    connect(m_model, &CommandPaletteModel::itemsChanged, this, [this] {
        if (isVisible())
            rebuild();
        else
            m_stale = true;
    });
    connect(m_model, &CommandPaletteModel::selectionChanged, this, [this] {
        m_list->update();
        scrollToSelection();
    });
    rebuild();
}

QString CommandPaletteView::shortcutText(const QString &portable)
{
    return QKeySequence(portable, QKeySequence::PortableText).toString(QKeySequence::NativeText);
}

QString CommandPaletteView::fittedTitle(const CommandPaletteModel::Item &item, const QFontMetrics &metrics,
                                        int width)
{
    const QString &title = item.title;
    if (metrics.horizontalAdvance(title) <= width)
        return title;
    const qsizetype from = item.elidableFrom;
    const qsizetype length = item.elidableLength;
    if (from < 0 || length <= 0 || from + length > title.size())
        return metrics.elidedText(title, Qt::ElideRight, width);
    const QString head = title.left(from);
    const QString tail = title.mid(from + length);
    const QString middle = title.mid(from, length);
    const QString ellipsis(QChar(0x2026));
    int room = width - metrics.horizontalAdvance(head + tail);
    // Kerning across the joins may add a pixel or two: narrow until it fits.
    while (room >= metrics.horizontalAdvance(ellipsis)) {
        QString shortened = metrics.elidedText(middle, Qt::ElideRight, room);
        if (shortened.isEmpty())
            shortened = ellipsis;
        const QString fitted = head + shortened + tail;
        if (metrics.horizontalAdvance(fitted) <= width)
            return fitted;
        room -= 2;
    }
    // Too narrow even for the fixed words: keep the end, where the
    // destination is.
    return metrics.elidedText(title, Qt::ElideLeft, width);
}

void CommandPaletteView::rebuild()
{
    m_stale = false;
    m_list->relayout();
    const bool empty = m_model->shownCount() == 0;
    m_scroll->setVisible(!empty);
    m_empty->setVisible(empty);
    m_scroll->setFixedHeight(qMin(maxListHeight, m_list->contentHeight()));
    adjustSize();
}

void CommandPaletteView::reset(bool sidebarVisible)
{
    m_model->setSidebarVisible(sidebarVisible);
    m_field->clear();
    m_model->setSelection(0);
    if (m_stale)
        rebuild();
    m_scroll->verticalScrollBar()->setValue(0);
    m_focusRequested = false;
}

void CommandPaletteView::scrollToSelection()
{
    const QRect row = m_list->rowRect(m_model->selection());
    if (!row.isNull())
        m_scroll->ensureVisible(row.center().x(), row.center().y(), 0, row.height() / 2 + 1);
}

QRect CommandPaletteView::rowRect(int index) const
{
    const QRect row = m_list->rowRect(index);
    if (row.isNull())
        return {};
    return QRect(m_list->mapTo(this, row.topLeft()), row.size());
}

QString CommandPaletteView::shownTitle(int index) const
{
    return m_list->shownTitle(index);
}

bool CommandPaletteView::showsEmptyMessage() const
{
    return !m_empty->isHidden();
}

bool CommandPaletteView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_field && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        switch (key->key()) {
        case Qt::Key_Down:
            m_model->move(1);
            return true;
        case Qt::Key_Up:
            m_model->move(-1);
            return true;
        case Qt::Key_Escape:
            m_model->dismiss();
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            m_model->runSelected();
            return true;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CommandPaletteView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(bounds, 12, 12);
    QColor base = palette().color(QPalette::Window);
    painter.fillPath(path, base);
    painter.setPen(QPen(withAlpha(palette().color(QPalette::WindowText), 0.12), 1));
    painter.drawPath(path);
}

void CommandPaletteView::mousePressEvent(QMouseEvent *event)
{
    // A click on the panel's own surface (margins, divider, labels) ends
    // here: passed on, it would reach the backdrop and close the palette.
    event->accept();
}

void CommandPaletteView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_stale)
        rebuild();
    if (m_focusRequested)
        return;
    m_focusRequested = true;
    // Focus on the next turn of the event loop, once the overlay is shown.
    QTimer::singleShot(0, this, [this] { m_field->setFocus(Qt::OtherFocusReason); });
}
