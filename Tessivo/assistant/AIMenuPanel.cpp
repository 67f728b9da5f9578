#include "assistant/AIMenuPanel.h"

#include "assistant/AIMenuView.h"
#include "assistant/AIReplyWriter.h"
#include "assistant/core/AIAssistant.h"
#include "assistant/core/AIMenuModel.h"
#include "assistant/core/AIPlacement.h"
#include "assistant/core/AIRequest.h"
#include "editor/ListContinuingTextView.h"
#include "protocol/Rules.h"
#include "widgets/Motion.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainterPath>
#include <QPalette>
#include <QScreen>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

namespace {

// The borderless window of the menu. Unlike the pill it takes the keyboard:
// the prompt field is typed into while the editor's window stays the main one.
class KeyablePanel final : public QWidget
{
public:
    explicit KeyablePanel(AIMenuModel *model)
        : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint), m_model(model)
    {
        setObjectName(QStringLiteral("aiMenu"));
        setFocusPolicy(Qt::StrongFocus);
    }

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->key() == Qt::Key_Escape) {
            Q_EMIT m_model->closeRequested();
            return;
        }
        QWidget::keyPressEvent(event);
    }

    void resizeEvent(QResizeEvent *) override
    {
        // Without a compositor there is no see-through corner: cut it away.
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), 12, 12);
        setMask(QRegion(path.toFillPolygon().toPolygon()));
    }

private:
    AIMenuModel *m_model;
};

QString textIn(const ListContinuingTextView *view, TextRange range)
{
    return view->string().mid(range.location, range.length);
}

} // namespace

AIMenuPanel::AIMenuPanel(QObject *parent, AIAssistant *assistant, std::function<void()> unauthorized)
    : QObject(parent), m_assistant(assistant), m_unauthorized(std::move(unauthorized)),
      m_model(new AIMenuModel(this))
{
    ensurePanel();
    // Several changes in one turn each lay out against the state they find.
    connect(m_model, &AIMenuModel::relayoutRequested, this,
            [this] { QTimer::singleShot(0, this, [this] { layout(); }); });
    connect(m_model, &AIMenuModel::closeRequested, this, [this] { close(true); });
    connect(m_model, &AIMenuModel::presetChosen, this, &AIMenuPanel::runPreset);
    connect(m_model, &AIMenuModel::customChosen, this, &AIMenuPanel::submitCustom);
}

void AIMenuPanel::ensurePanel()
{
    if (m_panel) {
        return;
    }
    // (Re)built when the window it floated over took it along.
    m_panel = new KeyablePanel(m_model);
    m_view = new AIMenuView(m_model, m_panel);
    auto *layout = new QVBoxLayout(m_panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    layout->addWidget(m_view);
    m_panel->resize(AIPlacement::menuWidth, 120);
}

AIMenuPanel::~AIMenuPanel()
{
    close(true);
    delete m_panel.data();
}

// ----- Opening and closing -----------------------------------------------------------

void AIMenuPanel::show(const AITrigger &trigger, ListContinuingTextView *textView)
{
    if (!textView || !textView->window() || !textView->isVisible()) {
        return;
    }
    if (m_visible) {
        close(true);
    }
    ensurePanel();
    m_textView = textView;
    m_trigger = trigger;
    m_model->setGenerate(trigger.kind == AITrigger::Kind::Generate);
    m_model->setQuery(QString());
    m_model->setHeaderHeight(AIMenuModel::defaultHeaderHeight);
    m_model->setPhase(AIMenuModel::Phase::idle());

    QWidget *window = textView->window();
    if (m_panel->parentWidget() != window) {
        m_panel->setParent(window, m_panel->windowFlags());
    }
    m_parentWindow = window;
    window->installEventFilter(this);
    m_panel->setPalette(window->palette());
    m_visible = true;
    layout();
    m_panel->show();
    m_panel->raise();
    m_panel->activateWindow();
    m_model->requestFocus();
    watchFocus();
}

void AIMenuPanel::watchFocus()
{
    m_panelFocused = QGuiApplication::focusWindow() == m_panel->windowHandle();
    // A click elsewhere in the application takes the focus from the panel
    // and closes it; switching to another application leaves it open.
    m_focusWatch = connect(qApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow *window) {
        if (!m_panel) {
            return; // went with a window that closed under it
        }
        if (window == m_panel->windowHandle()) {
            m_panelFocused = true;
            return;
        }
        if (!m_panelFocused || (window && window->transientParent() == m_panel->windowHandle())) {
            return;
        }
        m_panelFocused = false;
        QTimer::singleShot(0, this, [this] {
            if (m_visible && m_panel && QGuiApplication::applicationState() == Qt::ApplicationActive &&
                QGuiApplication::focusWindow() != m_panel->windowHandle()) {
                close(true);
            }
        });
    });
    m_activeWatch =
        connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
            if (!m_visible || !m_panel) {
                return;
            }
            // Like any floating panel it steps aside while another
            // application is in front, and takes the keyboard again after.
            if (state != Qt::ApplicationActive) {
                m_panel->hide();
            } else if (!m_panel->isActiveWindow()) {
                layout(false); // the window may have moved meanwhile
                m_panel->show();
                m_panel->raise();
                m_panel->activateWindow();
            }
        });
}

void AIMenuPanel::unwatchFocus()
{
    disconnect(m_focusWatch);
    disconnect(m_activeWatch);
    m_panelFocused = false;
}

void AIMenuPanel::close(bool revertText)
{
    if (!m_visible) {
        return;
    }
    unwatchFocus();
    m_visible = false;
    m_hasLaidOut = false;
    const bool wasRunning = m_stream;
    stopStream();
    if (m_pendingRange) {
        if (revertText) {
            revert();
        } else {
            keepWritten();
        }
    }
    if (m_panel) {
        m_panel->hide();
        // Off the editor's window until the next open: it goes wherever that is.
        m_panel->setParent(nullptr, m_panel->windowFlags());
    }
    if (m_parentWindow) {
        m_parentWindow->removeEventFilter(this);
    }
    m_parentWindow = nullptr;
    m_trigger.reset();
    m_model->setPhase(AIMenuModel::Phase::idle());
    if (ListContinuingTextView *view = m_textView) {
        QWidget *window = view->window();
        if (wasRunning || !window->isActiveWindow()) {
            window->raise();
            window->activateWindow();
        }
        view->setFocus(Qt::OtherFocusReason);
    }
}

// ----- Placement -----------------------------------------------------------------------

bool AIMenuPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_parentWindow && (event->type() == QEvent::Move || event->type() == QEvent::Resize)) {
        followWindow();
    }
    return QObject::eventFilter(watched, event);
}

void AIMenuPanel::followWindow()
{
    // After the window has laid its content out anew (a resize rewraps the
    // text, moving the caret); a burst of moves places the panel once.
    if (m_followQueued) {
        return;
    }
    m_followQueued = true;
    QTimer::singleShot(0, this, [this] {
        m_followQueued = false;
        layout(false);
    });
}

void AIMenuPanel::layout(bool glide)
{
    ListContinuingTextView *view = m_textView;
    if (!m_visible || !view || !m_trigger || !m_panel) {
        return;
    }
    const TextRange range = m_trigger->range;
    const QRect start = view->caretRectOnScreen(range.location);
    const QRect end = view->caretRectOnScreen(range.end());
    const int height = AIPlacement::menuHeight(*m_model, m_view ? m_view->hintHeight() : 0,
                                               m_view ? m_view->errorHeight() : 0);
    QScreen *screen = view->window()->screen();
    if (!screen) {
        screen = QGuiApplication::primaryScreen();
    }
    const std::optional<QRect> visible = screen ? std::optional(screen->availableGeometry()) : std::nullopt;
    const QRect frame(AIPlacement::menuOrigin(start, end, height, visible),
                      QSize(AIPlacement::menuWidth, height));
    // The first placement of an opening is never animated; later ones (the
    // content changed) glide there, heading for the newest place, unless the
    // desktop asks for less motion.
    if (m_panel->geometry() == frame && !Motion::running(m_panel, "geometry")) {
        m_hasLaidOut = true;
        return;
    }
    if (m_hasLaidOut && glide && !Motion::reduced()) {
        Motion::animate(m_panel, "geometry", frame, 200, Motion::easeOut());
    } else {
        Motion::stop(m_panel, "geometry");
        m_panel->setGeometry(frame);
    }
    m_hasLaidOut = true;
}

// ----- Requests ----------------------------------------------------------------------------

void AIMenuPanel::runPreset(const RefineAction &action)
{
    ListContinuingTextView *view = m_textView;
    if (!view || !m_trigger || view->length() < m_trigger->range.end()) {
        return;
    }
    const TextRange r = m_trigger->range;
    const QString &text = view->string();
    run(AIRequest::refine(action.id, QString(),
                          m_trigger->kind == AITrigger::Kind::Refine ? textIn(view, r) : QString(),
                          text.left(r.location), text.mid(r.end())),
        action.label + u'\u2026');
}

void AIMenuPanel::submitCustom()
{
    ListContinuingTextView *view = m_textView;
    if (!view || !m_trigger || view->length() < m_trigger->range.end()) {
        return;
    }
    const QString prompt = m_model->query().trimmed();
    if (prompt.isEmpty()) {
        return;
    }
    const TextRange r = m_trigger->range;
    const QString &text = view->string();
    if (m_model->isGenerate()) {
        run(AIRequest::generate(prompt, text.left(r.location), text.mid(r.end())),
            QStringLiteral("Writing\u2026"));
    } else {
        run(AIRequest::refine(protocol::ai::customAction(), prompt, textIn(view, r), text.left(r.location),
                              text.mid(r.end())),
            QStringLiteral("Rewriting\u2026"));
    }
}

void AIMenuPanel::run(const AIRequest &request, const QString &status)
{
    ListContinuingTextView *view = m_textView;
    if (m_stream || !view || !m_trigger) {
        return;
    }
    if (const std::optional<QString> message = request.validationError()) {
        m_model->setPhase(AIMenuModel::Phase::error(*message));
        return;
    }
    const TextRange r = m_trigger->kind == AITrigger::Kind::Generate ? TextRange{m_trigger->range.location, 0}
                                                                     : m_trigger->range;
    if (!m_writer || m_writer->parent() != view->document()) {
        delete m_writer.data();
        m_writer = new AIReplyWriter(view->document(), view->document());
    }
    m_writer->start({view->toDisplayPosition(r.location), view->toDisplayPosition(r.end())}, m_trigger->kind);
    m_pendingRange = r;
    setHighlight(r, view);
    m_model->setPhase(AIMenuModel::Phase::streaming(status));
    // Keys go to the panel now: Escape stops.
    if (m_panel) {
        m_panel->setFocus(Qt::OtherFocusReason);
    }
    AIStream *stream = m_assistant->stream(request, this);
    m_stream = stream;
    connect(stream, &AIStream::chunk, this, &AIMenuPanel::write);
    connect(stream, &AIStream::finished, this, &AIMenuPanel::finish);
    connect(stream, &AIStream::failed, this, &AIMenuPanel::fail);
}

void AIMenuPanel::stopStream()
{
    if (AIStream *stream = m_stream) {
        stream->disconnect(this);
        stream->cancel();
        stream->deleteLater();
    }
    m_stream = nullptr;
}

// ----- Writing the reply -------------------------------------------------------------------

std::optional<TextRange> AIMenuPanel::textRange(const std::optional<AIReplyWriter::Range> &range) const
{
    ListContinuingTextView *view = m_textView;
    if (!range || !view) {
        return std::nullopt;
    }
    const qsizetype from = view->toTextPosition(range->from);
    return TextRange{from, view->toTextPosition(range->to) - from};
}

void AIMenuPanel::write(const QString &chunk)
{
    ListContinuingTextView *view = m_textView;
    if (!view || !m_pendingRange || !m_writer || !m_writer->isWriting()) {
        return;
    }
    if (m_writer->write(chunk) == AIReplyWriter::Outcome::DocumentChanged) {
        abortDocumentChanged();
        return;
    }
    if (!m_textView || !m_writer->isWriting()) {
        return; // the change handling closed the menu
    }
    m_pendingRange = textRange(m_writer->pendingRange());
    setHighlight(m_pendingRange, view);
    QTextCursor caret(view->document());
    caret.setPosition(m_writer->pendingRange()->to);
    const QRect rect = view->cursorRect(caret);
    if (!view->viewport()->rect().contains(rect)) {
        view->setTextCursor(caret);
        view->ensureCursorVisible();
    }
}

void AIMenuPanel::finish()
{
    stopStream();
    ListContinuingTextView *view = m_textView;
    if (!m_pendingRange || !view || !m_writer) {
        return;
    }
    if (m_writer->changedUnderReply()) {
        abortDocumentChanged();
        return;
    }
    const std::optional<TextRange> written = textRange(m_writer->finish());
    m_pendingRange.reset();
    setHighlight(std::nullopt, view);
    if (written) {
        view->setSelectedRange({written->end(), 0});
    }
    close(false);
}

void AIMenuPanel::fail(const APIError &error)
{
    stopStream();
    if (AIStream::isTooLong(error)) {
        // What came is whole text: it stays, as one step the user can undo.
        keepWritten();
        m_model->setPhase(AIMenuModel::Phase::error(error.message));
        return;
    }
    revert();
    // The account refresh decides whether the session still holds (and
    // signs out when it doesn't); the account views say so, not the panel.
    if (error.isUnauthorized()) {
        close(true);
        if (m_unauthorized) {
            m_unauthorized();
        }
        return;
    }
    m_model->setPhase(AIMenuModel::Phase::error(error.message));
}

void AIMenuPanel::keepWritten()
{
    if (m_writer) {
        m_writer->keep();
    }
    m_pendingRange.reset();
    if (m_textView) {
        setHighlight(std::nullopt, m_textView);
    }
}

void AIMenuPanel::revert()
{
    if (!m_pendingRange) {
        return;
    }
    m_pendingRange.reset();
    const std::optional<TextRange> restored = textRange(m_writer ? m_writer->revert() : std::nullopt);
    ListContinuingTextView *view = m_textView;
    if (!view) {
        return;
    }
    setHighlight(std::nullopt, view);
    if (restored) {
        view->setSelectedRange(*restored);
    }
}

void AIMenuPanel::abortDocumentChanged()
{
    stopStream();
    keepWritten();
    m_model->setPhase(AIMenuModel::Phase::error(documentChangedMessage()));
}

// ----- Highlight -----------------------------------------------------------------------------

void AIMenuPanel::setHighlight(const std::optional<TextRange> &range, ListContinuingTextView *textView)
{
    if (!textView) {
        return;
    }
    QList<QTextEdit::ExtraSelection> marks;
    if (range && range->length >= 1 && range->fitsIn(textView->length())) {
        QTextEdit::ExtraSelection mark;
        mark.cursor = QTextCursor(textView->document());
        mark.cursor.setPosition(textView->toDisplayPosition(range->location));
        mark.cursor.setPosition(textView->toDisplayPosition(range->end()), QTextCursor::KeepAnchor);
        const bool dark = textView->palette().color(QPalette::Base).lightness() < 128;
        QColor accent = textView->palette().color(QPalette::Highlight);
        accent.setAlphaF(dark ? 0.2f : 0.12f);
        mark.format.setBackground(accent);
        marks.append(mark);
    }
    textView->setDecorations(ListContinuingTextView::Decoration::AssistantRange, marks);
}
