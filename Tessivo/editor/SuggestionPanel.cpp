#include "editor/SuggestionPanel.h"

#include "editor/core/EditorRules.h"
#include "widgets/Icon.h"
#include "widgets/ThinScroller.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace {

constexpr int padding = 6;
constexpr int rowHeight = 28;
constexpr int rowSpacing = 1;
constexpr int cornerRadius = 9;

QPainterPath roundedPath(const QRectF &rect, qreal radius)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

// The frame of the pop-up: a rounded plate with a faint inner border.
class SuggestionFrame final : public QWidget
{
public:
    SuggestionFrame() : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus)
    {
        setAttribute(Qt::WA_ShowWithoutActivating);
        setFocusPolicy(Qt::NoFocus);
        setObjectName(QStringLiteral("wikiLinkSuggestions"));
    }

protected:
    void resizeEvent(QResizeEvent *) override
    {
        setMask(QRegion(roundedPath(QRectF(rect()), cornerRadius).toFillPolygon().toPolygon()));
    }

    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillRect(rect(), palette().color(QPalette::Window));
        QColor border = palette().color(QPalette::WindowText);
        border.setAlphaF(0.12f);
        painter.setPen(QPen(border, 1));
        painter.drawPath(roundedPath(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius));
    }
};

} // namespace

// The rows of the list: a file icon and the title, the highlighted row on an
// accent-tinted plate; hovering highlights, clicking picks.
class SuggestionListView final : public QWidget
{
public:
    explicit SuggestionListView(SuggestionModel *model) : m_model(model)
    {
        setMouseTracking(true);
        setFocusPolicy(Qt::NoFocus);
        connect(model, &SuggestionModel::itemsChanged, this, &SuggestionListView::relayout);
        connect(model, &SuggestionModel::selectionChanged, this, qOverload<>(&QWidget::update));
        relayout();
    }

    QRect rowRect(int index) const
    {
        return QRect(padding, padding + index * (rowHeight + rowSpacing), width() - 2 * padding, rowHeight);
    }

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QFont titleFont = font();
        titleFont.setPointSizeF(13 * 0.75);
        painter.setFont(titleFont);
        const QColor iconColour = Icon::secondaryColor(palette());
        const QPixmap icon = Icon::pixmap(IconName::file, 14, iconColour, devicePixelRatioF());
        const QStringList &items = m_model->items();
        for (int i = 0; i < items.size(); ++i) {
            const QRect row = rowRect(i);
            if (!row.intersects(event->rect())) {
                continue;
            }
            if (i == m_model->selection()) {
                QColor plate = palette().color(QPalette::Highlight);
                plate.setAlphaF(0.18f);
                painter.fillPath(roundedPath(QRectF(row), 6), plate);
            }
            const QRect iconBox(row.left() + 8, row.top(), 16, row.height());
            if (!icon.isNull()) {
                painter.drawPixmap(QRect(iconBox.center().x() - 7 + 1, iconBox.center().y() - 7 + 1, 14, 14),
                                   icon);
            }
            const QRect textBox(iconBox.right() + 1 + 8, row.top(), row.right() - 8 - iconBox.right() - 8,
                                row.height());
            painter.setPen(palette().color(QPalette::WindowText));
            const QString title =
                painter.fontMetrics().elidedText(items.at(i), Qt::ElideRight, textBox.width());
            painter.drawText(textBox, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, title);
        }
    }

    void mouseMoveEvent(QMouseEvent *event) override
    {
        const int row = rowAt(event->position().toPoint());
        if (row >= 0) {
            m_model->setSelection(row);
        }
    }

    void mousePressEvent(QMouseEvent *event) override
    {
        const int row = rowAt(event->position().toPoint());
        if (row >= 0 && event->button() == Qt::LeftButton) {
            m_model->onPick(row);
        }
    }

private:
    int rowAt(const QPoint &point) const
    {
        for (int i = 0; i < m_model->items().size(); ++i) {
            if (rowRect(i).contains(point)) {
                return i;
            }
        }
        return -1;
    }

    void relayout()
    {
        const auto n = int(m_model->items().size());
        setFixedHeight(2 * padding + n * rowHeight + std::max(0, n - 1) * rowSpacing);
        update();
    }

    SuggestionModel *m_model;
};

SuggestionPanel::SuggestionPanel(QObject *parent) : QObject(parent), m_model(new SuggestionModel(this))
{
    m_model->onPick = [this](int index) { accept(index); };
    connect(m_model, &SuggestionModel::selectionChanged, this, [this] {
        if (m_panel) {
            const QRect row = m_list->rowRect(m_model->selection());
            m_scroll->ensureVisible(row.center().x(), row.center().y(), 0, row.height() / 2 + padding);
        }
    });
    // Like any pop-up of an inactive application, it steps aside while
    // another application is in front.
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (m_visible && m_panel) {
            m_panel->setVisible(state == Qt::ApplicationActive);
        }
    });
}

void SuggestionPanel::ensurePanel()
{
    if (m_panel) {
        return;
    }
    // (Re)built when the window it floated over took it along.
    auto *frame = new SuggestionFrame;
    frame->resize(EditorRules::suggestionPanelWidth, 100);
    m_panel = frame;
    m_parentWindow = nullptr;
    m_scroll = new QScrollArea(frame);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setFocusPolicy(Qt::NoFocus);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setVerticalScrollBar(new ThinScroller);
    m_scroll->setWidgetResizable(true);
    m_scroll->viewport()->setAutoFillBackground(false);
    m_list = new SuggestionListView(m_model);
    m_list->setAutoFillBackground(false);
    m_scroll->setWidget(m_list);
    auto *layout = new QVBoxLayout(frame);
    // The panel is sized to its rows; the scroll area would otherwise hold
    // the window at its own minimum height, far above one or two rows.
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->addWidget(m_scroll);
}

SuggestionPanel::~SuggestionPanel()
{
    delete m_panel.data();
}

void SuggestionPanel::show(const QStringList &items, TextRange queryRange, QWidget *window,
                           const QRect &anchor)
{
    if (items.isEmpty()) {
        hide();
        return;
    }
    if (items != m_model->items()) {
        m_model->setItems(items);
        m_model->setSelection(0);
    }
    m_queryRange = queryRange;
    ensurePanel();

    QScreen *screen = window ? window->screen() : nullptr;
    if (!screen) {
        screen = QGuiApplication::primaryScreen();
    }
    std::optional<QRect> available;
    if (screen) {
        available = screen->availableGeometry();
    }
    const QRect frame = EditorRules::suggestionPanelFrame(anchor, items.size(), available);

    if (m_parentWindow != window || !m_panel->parentWidget()) {
        // Owned by the window it floats over, so it goes when the window goes.
        m_parentWindow = window;
        m_panel->setParent(window, m_panel->windowFlags());
    }
    m_panel->setGeometry(frame);
    if (!m_visible) {
        m_panel->show();
        m_visible = true;
    }
    m_panel->raise();
}

void SuggestionPanel::hide()
{
    if (!m_visible) {
        return;
    }
    m_visible = false;
    if (m_panel) {
        m_panel->hide();
    }
    m_model->setItems({});
    m_model->setSelection(0);
}

bool SuggestionPanel::handleKey(QKeyEvent *event)
{
    if (!m_visible) {
        return false;
    }
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Tab:
        accept(m_model->selection());
        return true;
    case Qt::Key_Escape:
        hide();
        return true;
    case Qt::Key_Down:
        move(+1);
        return true;
    case Qt::Key_Up:
        move(-1);
        return true;
    default:
        return false;
    }
}

void SuggestionPanel::accept(int index)
{
    const QStringList items = m_model->items();
    if (index < 0 || index >= items.size()) {
        hide();
        return;
    }
    const QString title = items.at(index);
    const TextRange range = m_queryRange;
    hide();
    Q_EMIT accepted(title, range);
}

void SuggestionPanel::move(int delta)
{
    m_model->move(delta);
}
