#include "assistant/AIMenuView.h"

#include "app/core/AppShortcuts.h"
#include "assistant/core/AIMenuModel.h"
#include "assistant/core/AIPlacement.h"
#include "widgets/Icon.h"
#include "widgets/Motion.h"
#include "widgets/Pulse.h"
#include "widgets/ThinScroller.h"
#include "widgets/WidgetStyle.h"

#include <QAbstractButton>
#include <QAbstractTextDocumentLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int listPadding = 6;
constexpr int rowHeight = 33;
constexpr int cornerRadius = 12;
constexpr int maximumFieldLines = 8;
constexpr Motion::Spring phaseSpring{0.2, 0.85};
// The error text sits 10 and 6 inside its plate, which is 8 inside the row
// at the sides and the top.
constexpr int errorInset = 8 + 10;
constexpr int errorTop = 8 + 6;
constexpr int errorBottom = 6;

QColor withAlpha(QColor colour, qreal alpha)
{
    colour.setAlphaF(float(alpha));
    return colour;
}

// The send button: a white arrow on the brand gradient.
class SendButton final : public QToolButton
{
public:
    SendButton()
    {
        setFixedSize(24, 24);
        setFocusPolicy(Qt::NoFocus);
        setCursor(Qt::PointingHandCursor);
        setToolTip(QStringLiteral("Send"));
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setOpacity(isEnabled() ? 1.0 : 0.35);
        QLinearGradient gradient(0, 0, 0, height());
        gradient.setColorAt(0, WidgetStyle::brandSecondary());
        gradient.setColorAt(1, WidgetStyle::brandPrimary());
        painter.fillPath(WidgetStyle::roundedRect(QRectF(rect()), 6), gradient);
        const QPixmap arrow = Icon::pixmap(IconName::send, 14, Qt::white, devicePixelRatioF());
        painter.drawPixmap(QRect(5, 5, 14, 14), arrow);
    }
};

// A label on a faint rounded plate: the shortcut chip and the Stop button's face.
class ChipLabel final : public QLabel
{
public:
    ChipLabel(qreal radius) : m_radius(radius) {}

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(WidgetStyle::roundedRect(QRectF(rect()), m_radius),
                         WidgetStyle::primary(palette(), 0.06));
        painter.end();
        QLabel::paintEvent(event);
    }

private:
    qreal m_radius;
};

// The error row: the message on a faint red plate.
class ErrorBox final : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF plate = QRectF(rect()).adjusted(8, 8, -8, 0);
        painter.fillPath(WidgetStyle::roundedRect(plate, 7), withAlpha(QColor(Qt::red), 0.1));
    }
};

// "Stop" with its key on a faint plate; the status row's only control.
class StopButton final : public QAbstractButton
{
public:
    StopButton()
    {
        setObjectName(QStringLiteral("aiStop"));
        setFocusPolicy(Qt::NoFocus);
        setCursor(Qt::PointingHandCursor);
        setFixedSize(sizeHint());
    }

    QSize sizeHint() const override
    {
        const int text = QFontMetrics(WidgetStyle::font(12, QFont::Medium)).horizontalAdvance(stopText());
        const int key = QFontMetrics(WidgetStyle::font(10)).horizontalAdvance(keyText());
        return {8 + 12 + 4 + text + 4 + key + 8, 4 + QFontMetrics(WidgetStyle::font(12)).height() + 4};
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(WidgetStyle::roundedRect(QRectF(rect()), 6), WidgetStyle::primary(palette(), 0.06));
        const QColor secondary = WidgetStyle::secondary(palette());
        int x = 8;
        painter.drawPixmap(QRect(x, (height() - 12) / 2, 12, 12),
                           Icon::pixmap(IconName::xMark, 12, secondary, devicePixelRatioF()));
        x += 12 + 4;
        painter.setPen(secondary);
        painter.setFont(WidgetStyle::font(12, QFont::Medium));
        const int text = painter.fontMetrics().horizontalAdvance(stopText());
        painter.drawText(QRect(x, 0, text, height()), Qt::AlignVCenter | Qt::AlignLeft, stopText());
        x += text + 4;
        painter.setPen(WidgetStyle::tertiary(palette()));
        painter.setFont(WidgetStyle::font(10));
        painter.drawText(QRect(x, 0, width() - x, height()), Qt::AlignVCenter | Qt::AlignLeft, keyText());
    }

private:
    static QString stopText() { return QStringLiteral("Stop"); }
    // The key as the keyboard names it.
    static QString keyText() { return QKeySequence(Qt::Key_Escape).toString(QKeySequence::NativeText); }
};

} // namespace

// The rows of refine mode: the custom prompt first when there is one, then
// the filtered presets. Hovering highlights, clicking runs.
class AIActionList final : public QWidget
{
public:
    explicit AIActionList(AIMenuModel *model) : m_model(model)
    {
        setMouseTracking(true);
        setFocusPolicy(Qt::NoFocus);
        setAttribute(Qt::WA_Hover);
    }

    QRect rowRect(int row) const
    {
        return {listPadding, listPadding + row * AIPlacement::rowPitch, width() - 2 * listPadding, rowHeight};
    }

    void relayout()
    {
        const int n = m_model->rowCount();
        setFixedHeight(2 * listPadding + n * AIPlacement::rowPitch - (n > 0 ? 1 : 0));
        update();
    }

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setFont(WidgetStyle::font(13));
        const QColor accent = WidgetStyle::accent(palette());
        const bool custom = m_model->showsCustomRow();
        const QList<RefineAction> presets = m_model->filteredPresets();
        const int n = int(presets.size()) + (custom ? 1 : 0);
        for (int row = 0; row < n; ++row) {
            const QRect box = rowRect(row);
            if (!box.intersects(event->rect())) {
                continue;
            }
            const bool highlighted = row == m_model->selection();
            if (highlighted) {
                painter.fillPath(WidgetStyle::roundedRect(QRectF(box), 7), withAlpha(accent, 0.14));
            }
            const bool isCustom = custom && row == 0;
            const RefineAction *preset = isCustom ? nullptr : &presets.at(row - (custom ? 1 : 0));
            const QColor iconColour = isCustom || highlighted ? accent : WidgetStyle::secondary(palette());
            const QPixmap icon =
                Icon::pixmap(isCustom ? IconName::send : preset->icon, 16, iconColour, devicePixelRatioF());
            painter.drawPixmap(QRect(box.left() + 10 + 1, box.center().y() - 7, 16, 16), icon);
            QRect text(box.left() + 10 + 18 + 10, box.top(), box.width() - 48, box.height());
            const QFontMetrics metrics = painter.fontMetrics();
            if (isCustom) {
                const QString ask = QStringLiteral("Ask: ");
                painter.setPen(WidgetStyle::secondary(palette()));
                painter.drawText(text, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, ask);
                text.setLeft(text.left() + metrics.horizontalAdvance(ask));
                painter.setPen(palette().color(QPalette::WindowText));
                const QString query = m_model->query().trimmed().replace(u'\n', u' ');
                painter.drawText(text, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine,
                                 metrics.elidedText(query, Qt::ElideRight, text.width()));
            } else {
                painter.setPen(palette().color(QPalette::WindowText));
                painter.drawText(text, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine,
                                 metrics.elidedText(preset->label, Qt::ElideRight, text.width()));
            }
        }
    }

    void mouseMoveEvent(QMouseEvent *event) override
    {
        const int row = rowAt(event->position().toPoint());
        if (row >= 0) {
            m_model->setSelection(row);
        }
    }

    void mouseReleaseEvent(QMouseEvent *event) override
    {
        int row = rowAt(event->position().toPoint());
        if (row < 0 || event->button() != Qt::LeftButton) {
            return;
        }
        if (m_model->showsCustomRow()) {
            if (row == 0) {
                Q_EMIT m_model->customChosen();
                return;
            }
            --row;
        }
        const QList<RefineAction> presets = m_model->filteredPresets();
        if (row < presets.size()) {
            Q_EMIT m_model->presetChosen(presets.at(row));
        }
    }

private:
    int rowAt(const QPoint &point) const
    {
        for (int row = 0; row < m_model->rowCount(); ++row) {
            if (rowRect(row).contains(point)) {
                return row;
            }
        }
        return -1;
    }

    AIMenuModel *m_model;
};

AIMenuView::AIMenuView(AIMenuModel *model, QWidget *parent) : QWidget(parent), m_model(model)
{
    setFixedWidth(AIPlacement::menuWidth);
    setAttribute(Qt::WA_NoSystemBackground);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    // Status face.
    m_statusFace = new QWidget;
    m_statusFace->setObjectName(QStringLiteral("aiStatusFace"));
    m_statusFace->setFixedHeight(48);
    auto *status = new QHBoxLayout(m_statusFace);
    status->setContentsMargins(14, 0, 14, 0);
    status->setSpacing(10);
    m_statusIcon = new Icon(IconName::sparkles, 16);
    new Pulse(m_statusIcon, true);
    m_statusText = new QLabel;
    m_statusText->setFont(WidgetStyle::font(13));
    auto *stop = new StopButton;
    connect(stop, &QAbstractButton::clicked, model, &AIMenuModel::closeRequested);
    // What fades in with the face; the icon has its own pulse (effects on
    // effects do not paint).
    m_statusBody = new QWidget;
    m_statusBody->setObjectName(QStringLiteral("aiStatusBody"));
    auto *body = new QHBoxLayout(m_statusBody);
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(10);
    body->addWidget(m_statusText, 1);
    body->addWidget(stop);
    status->addWidget(m_statusIcon);
    status->addWidget(m_statusBody, 1);
    outer->addWidget(m_statusFace);

    // Menu face.
    m_menuFace = new QWidget;
    m_menuFace->setObjectName(QStringLiteral("aiMenuFace"));
    auto *menu = new QVBoxLayout(m_menuFace);
    menu->setContentsMargins(0, 0, 0, 0);
    menu->setSpacing(0);
    m_header = new QWidget;
    m_header->setMinimumHeight(44);
    auto *header = new QHBoxLayout(m_header);
    header->setContentsMargins(14, 0, 14, 0);
    // The gaps are set by hand: the one before the trailing control gives
    // way (down to 4) so that the whole placeholder fits beside the chip.
    header->setSpacing(0);
    m_headerIcon = new Icon(IconName::sparkles, 16);
    m_lineField = new QLineEdit;
    m_lineField->setObjectName(QStringLiteral("aiPrompt"));
    m_lineField->setFrame(false);
    m_lineField->setFont(WidgetStyle::font(14));
    m_lineField->setPlaceholderText(QStringLiteral("Search or type a custom prompt\u2026"));
    m_lineField->setAttribute(Qt::WA_MacShowFocusRect, false);
    // Plain: no frame or padding, so the whole placeholder fits beside the chip.
    m_lineField->setStyleSheet(
        QStringLiteral("QLineEdit { background: transparent; border: none; padding: 0; }"));
    m_lineField->setTextMargins(0, 0, 0, 0);
    m_textField = new QPlainTextEdit;
    m_textField->setObjectName(QStringLiteral("aiGeneratePrompt"));
    m_textField->setFrameShape(QFrame::NoFrame);
    m_textField->setFont(WidgetStyle::font(14));
    m_textField->setPlaceholderText(QStringLiteral("What should I write here?"));
    m_textField->setTabChangesFocus(true);
    m_textField->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_textField->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_textField->document()->setDocumentMargin(0);
    m_textField->viewport()->setAutoFillBackground(false);
    m_textField->setStyleSheet(QStringLiteral("QPlainTextEdit { background: transparent; }"));
    m_chip = new ChipLabel(5);
    m_chip->setObjectName(QStringLiteral("aiShortcutChip"));
    m_chip->setText(shortcutText());
    m_chip->setFont(WidgetStyle::font(11, QFont::Medium));
    m_chip->setContentsMargins(6, 2, 6, 2);
    m_send = new SendButton;
    m_send->setObjectName(QStringLiteral("aiSend"));
    connect(m_send, &QToolButton::clicked, model, &AIMenuModel::customChosen);
    header->addWidget(m_headerIcon);
    header->addSpacing(10);
    header->addWidget(m_lineField, 1);
    header->addWidget(m_textField, 1);
    m_trailingGap = new QSpacerItem(10, 0, QSizePolicy::Fixed, QSizePolicy::Minimum);
    header->addSpacerItem(m_trailingGap);
    header->addWidget(m_chip);
    header->addWidget(m_send);
    menu->addWidget(m_header);
    auto *divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFixedHeight(1);
    divider->setObjectName(QStringLiteral("aiDivider"));
    menu->addWidget(divider);

    m_errorBox = new ErrorBox;
    auto *errorLayout = new QVBoxLayout(m_errorBox);
    errorLayout->setContentsMargins(errorInset, errorTop, errorInset, errorBottom);
    m_error = new QLabel;
    m_error->setObjectName(QStringLiteral("aiError"));
    m_error->setWordWrap(true);
    m_error->setFont(WidgetStyle::font(12));
    m_error->setTextFormat(Qt::PlainText);
    m_error->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    errorLayout->addWidget(m_error);
    m_errorBox->setFixedHeight(AIPlacement::errorRowHeight);
    menu->addWidget(m_errorBox);

    m_hint =
        new QLabel(QStringLiteral("Describe the paragraph, list, or section you want. It's written right "
                                  "here, using the rest of the document for context."));
    m_hint->setWordWrap(true);
    m_hint->setFont(WidgetStyle::font(12));
    m_hint->setContentsMargins(14, 8, 14, 8);
    menu->addWidget(m_hint);

    m_noMatch = new QLabel(QStringLiteral("No matching action."));
    m_noMatch->setAlignment(Qt::AlignCenter);
    m_noMatch->setFont(WidgetStyle::font(13));
    m_noMatch->setFixedHeight(44);
    menu->addWidget(m_noMatch);

    m_scroll = new QScrollArea;
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setFocusPolicy(Qt::NoFocus);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setVerticalScrollBar(new ThinScroller);
    m_scroll->setWidgetResizable(true);
    m_scroll->viewport()->setAutoFillBackground(false);
    m_list = new AIActionList(model);
    m_list->setAutoFillBackground(false);
    m_scroll->setWidget(m_list);
    menu->addWidget(m_scroll);
    menu->addStretch(1);
    outer->addWidget(m_menuFace);
    m_statusFace->hide();

    m_lineField->installEventFilter(this);
    m_textField->installEventFilter(this);
    connect(m_lineField, &QLineEdit::textEdited, this, [this](const QString &text) {
        m_syncingQuery = true;
        m_model->setQuery(text);
        m_syncingQuery = false;
    });
    connect(m_textField, &QPlainTextEdit::textChanged, this, [this] {
        if (!m_model->isGenerate() || m_syncingQuery) {
            return;
        }
        m_syncingQuery = true;
        m_model->setQuery(m_textField->toPlainText());
        m_syncingQuery = false;
        measureHeader();
    });
    connect(m_textField->document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged,
            this, [this] { measureHeader(); });

    connect(model, &AIMenuModel::queryChanged, this, [this] {
        if (!m_syncingQuery) {
            m_syncingQuery = true;
            if (m_lineField->text() != m_model->query()) {
                m_lineField->setText(m_model->query());
            }
            if (m_textField->toPlainText() != m_model->query()) {
                m_textField->setPlainText(m_model->query());
            }
            m_syncingQuery = false;
        }
        render();
    });
    connect(model, &AIMenuModel::relayoutRequested, this, &AIMenuView::render);
    connect(model, &AIMenuModel::generateChanged, this, &AIMenuView::render);
    connect(model, &AIMenuModel::selectionChanged, this, [this] {
        m_list->update();
        const QRect row = rowRect(m_model->selection());
        // The least scrolling that shows the whole row.
        m_scroll->ensureVisible(row.center().x(), row.center().y(), 0, row.height() / 2 + 1);
    });
    connect(model, &AIMenuModel::focusTickChanged, this,
            [this] { QTimer::singleShot(0, this, &AIMenuView::focusField); });
    connect(model, &AIMenuModel::phaseChanged, this, [this] {
        if (m_model->phase().kind != AIMenuModel::Phase::Kind::Streaming) {
            QTimer::singleShot(0, this, &AIMenuView::focusField);
        }
    });
    applyColours();
    render();
}

QString AIMenuView::shortcutText()
{
    return QKeySequence(AppShortcuts::aiAssistant).toString(QKeySequence::NativeText);
}

QWidget *AIMenuView::promptField() const
{
    return m_model->isGenerate() ? static_cast<QWidget *>(m_textField) : m_lineField;
}

int AIMenuView::errorLines() const
{
    // The message wraps to at most two lines; a longer one is cut there.
    const int width = AIPlacement::menuWidth - 2 * errorInset;
    const QRect needed =
        m_error->fontMetrics().boundingRect(QRect(0, 0, width, 10'000), Qt::TextWordWrap, m_error->text());
    const int lineSpacing = m_error->fontMetrics().lineSpacing();
    return std::clamp((needed.height() + lineSpacing - 1) / lineSpacing, 1, 2);
}

int AIMenuView::errorHeight() const
{
    return std::max(AIPlacement::errorRowHeight,
                    errorTop + errorLines() * m_error->fontMetrics().lineSpacing() + errorBottom);
}

int AIMenuView::hintHeight() const
{
    return m_hint->heightForWidth(AIPlacement::menuWidth);
}

QRect AIMenuView::rowRect(int row) const
{
    return m_list->rowRect(row);
}

void AIMenuView::focusField()
{
    if (m_model->phase().kind != AIMenuModel::Phase::Kind::Streaming) {
        promptField()->setFocus(Qt::OtherFocusReason);
    }
}

void AIMenuView::render()
{
    const AIMenuModel::Phase &phase = m_model->phase();
    const bool streaming = phase.kind == AIMenuModel::Phase::Kind::Streaming;
    const bool generate = m_model->isGenerate();
    QWidget *face = streaming ? m_statusFace : m_menuFace;
    QWidget *other = streaming ? m_menuFace : m_statusFace;
    if (face->isHidden()) {
        // The face that comes in fades in on the menu's spring; the one it
        // replaces gives up its room at once, as the panel resizes.
        other->hide();
        if (streaming) {
            m_statusBody->hide();
            m_statusFace->show();
        }
        Motion::fade(streaming ? m_statusBody : m_menuFace, true, phaseSpring);
    }
    m_statusText->setText(phase.kind == AIMenuModel::Phase::Kind::Streaming ? phase.text : QString());
    m_errorBox->setVisible(phase.kind == AIMenuModel::Phase::Kind::Error);
    m_error->setText(phase.kind == AIMenuModel::Phase::Kind::Error ? phase.text : QString());
    m_error->setFixedHeight(errorLines() * m_error->fontMetrics().lineSpacing());
    m_errorBox->setFixedHeight(errorHeight());
    m_hint->setVisible(generate);
    const int rows = m_model->rowCount();
    m_noMatch->setVisible(!generate && rows == 0);
    m_scroll->setVisible(!generate && rows > 0);
    m_list->relayout();
    m_scroll->setFixedHeight(std::min(rows, AIPlacement::maximumVisibleRows) * AIPlacement::rowPitch + 12);
    refreshHeader();
}

void AIMenuView::refreshHeader()
{
    const bool generate = m_model->isGenerate();
    const bool blank = m_model->query().trimmed().isEmpty();
    m_lineField->setVisible(!generate);
    m_textField->setVisible(generate);
    m_chip->setVisible(!generate && blank);
    m_send->setVisible(generate || !blank);
    m_send->setEnabled(!blank);
    auto *layout = static_cast<QHBoxLayout *>(m_header->layout());
    const Qt::Alignment alignment = generate ? Qt::AlignBottom : Qt::AlignVCenter;
    for (QWidget *item : {static_cast<QWidget *>(m_headerIcon), static_cast<QWidget *>(m_chip),
                          static_cast<QWidget *>(m_send)}) {
        layout->setAlignment(item, alignment);
    }
    // QLineEdit keeps 2 pixels of its own on each side of the text.
    const int chip = m_chip->sizeHint().width();
    const int field = AIPlacement::menuWidth - 2 * 14 - 16 - 10 - chip;
    const int placeholder = m_lineField->fontMetrics().horizontalAdvance(m_lineField->placeholderText()) + 4;
    m_trailingGap->changeSize(generate || !blank ? 10 : std::clamp(field - placeholder, 4, 10), 0,
                              QSizePolicy::Fixed, QSizePolicy::Minimum);
    layout->invalidate();
    // Generate mode lines the icon and the button up with the last line.
    m_headerIcon->setContentsMargins(0, 0, 0, generate ? 12 : 0);
    layout->setContentsMargins(14, 0, 14, generate ? 10 : 0);
    measureHeader();
}

void AIMenuView::measureHeader()
{
    if (!m_model->isGenerate()) {
        m_header->setFixedHeight(44);
        m_model->setHeaderHeight(44);
        return;
    }
    const QFontMetrics metrics(m_textField->font());
    const int lines = std::clamp(int(m_textField->document()->documentLayout()->documentSize().height()), 1,
                                 maximumFieldLines);
    const int field = lines * metrics.lineSpacing();
    m_textField->setFixedHeight(field + 4);
    const int height = std::max(44, field + 4 + 24);
    m_header->setFixedHeight(height);
    m_model->setHeaderHeight(height);
}

void AIMenuView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF card = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.fillPath(WidgetStyle::roundedRect(card, cornerRadius), palette().color(QPalette::Window));
    painter.setPen(QPen(WidgetStyle::primary(palette(), 0.12), 1));
    painter.drawPath(WidgetStyle::roundedRect(card, cornerRadius));
}

void AIMenuView::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange) {
        applyColours();
    }
    QWidget::changeEvent(event);
}

void AIMenuView::applyColours()
{
    {
        const QColor accent = WidgetStyle::accent(palette());
        m_statusIcon->setColor(accent);
        m_headerIcon->setColor(accent);
        QPalette secondary = palette();
        secondary.setColor(QPalette::WindowText, WidgetStyle::secondary(palette()));
        m_hint->setPalette(secondary);
        m_noMatch->setPalette(secondary);
        QPalette tertiary = palette();
        tertiary.setColor(QPalette::WindowText, WidgetStyle::tertiary(palette()));
        m_chip->setPalette(tertiary);
        QPalette red = palette();
        red.setColor(QPalette::WindowText, Qt::red);
        m_error->setPalette(red);
    }
}

bool AIMenuView::eventFilter(QObject *watched, QEvent *event)
{
    if ((watched == m_lineField || watched == m_textField) && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        const bool plain = !(key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier));
        switch (key->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (plain) {
                m_model->submit();
                return true;
            }
            break;
        case Qt::Key_Down:
            m_model->moveSelection(1);
            return true;
        case Qt::Key_Up:
            m_model->moveSelection(-1);
            return true;
        case Qt::Key_Escape:
            Q_EMIT m_model->closeRequested();
            return true;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}
