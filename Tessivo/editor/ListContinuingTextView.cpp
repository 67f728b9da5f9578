#include "editor/ListContinuingTextView.h"

#include "editor/EditorTextLayout.h"
#include "editor/FileDrop.h"
#include "editor/SyntaxHighlighter.h"
#include "editor/core/EditorRules.h"
#include "widgets/ThinScroller.h"
#include "widgets/WidgetStyle.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QFontMetricsF>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QTimerEvent>

#include <algorithm>

namespace {

// The inset of the text from the view's edges: the document margin gives the
// top and a part of the sides, the viewport margins the rest of the sides.
// Beyond this many edits between two takeEdits() (a replace-all), the
// whole text is handed over instead.
constexpr qsizetype maximumKeptEdits = 256;
constexpr int insetWidth = 28;
constexpr int insetHeight = 24;
// The drawn caret, in pixels.
constexpr int caretWidth = 2;

} // namespace

ListContinuingTextView::ListContinuingTextView(QWidget *parent, KeyRouting routing)
    : QPlainTextEdit(parent), m_keyRouting(std::move(routing))
{
    auto *textDocument = new QTextDocument(this);
    textDocument->setDocumentLayout(new EditorTextLayout(textDocument));
    setDocument(textDocument);
    setVerticalScrollBar(new ThinScroller);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Always there (it draws nothing while the text fits): a scroller that
    // came and went would change the wrap width, and a text growing past one
    // page would be laid out again whole, which for one huge line takes as
    // long as opening it.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFrameShape(QFrame::NoFrame);
    // The side insets and the scroller's strip show the text background.
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setTabChangesFocus(false);
    setUndoRedoEnabled(true);
    setCenterOnScroll(false);
    setFont(SyntaxHighlighter::baseFont());
    // Tabs as wide as four characters of the monospaced text.
    setTabStopDistance(4 * QFontMetricsF(font()).horizontalAdvance(u' '));
    document()->setDocumentMargin(insetHeight);
    setViewportMargins(insetWidth - insetHeight, 0, insetWidth - insetHeight, 0);
    document()->setUndoRedoEnabled(true);

    connect(document(), &QTextDocument::contentsChange, this,
            &ListContinuingTextView::documentContentsChange);
    connect(document(), &QTextDocument::contentsChanged, this,
            &ListContinuingTextView::documentContentsChanged);
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, &ListContinuingTextView::selectionDidChange);

    // Qt draws its caret in the text colour; the editor's caret has the
    // accent colour, so the view hides Qt's and draws and blinks its own.
    setCursorWidth(0);
    m_caretBlink = new QTimer(this);
    connect(m_caretBlink, &QTimer::timeout, this, [this] {
        m_caretOn = !m_caretOn;
        viewport()->update(caretRect());
    });
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, &ListContinuingTextView::restartCaretBlink);
    // Qt's own caret, drawn zero pixels wide, still blinks on a timer of its
    // text control, and each of its blinks repaints the text around it.
    for (QObject *child : children()) {
        if (child->inherits("QWidgetTextControl")) {
            child->installEventFilter(this);
        }
    }
    connect(this, &QPlainTextEdit::selectionChanged, this, [this] {
        // A selection change that moves the caret was already reported.
        if (textCursor().hasSelection()) {
            Q_EMIT selectionDidChange();
        }
    });
}

ListContinuingTextView::~ListContinuingTextView() = default;

// ----- Text ------------------------------------------------------------------

void ListContinuingTextView::setString(const QString &text)
{
    const QString display = m_mirror.reset(text);
    m_settingString = true;
    setPlainText(display); // also clears the undo history
    m_settingString = false;
    m_changePending = false;
    m_edits.clear();
    m_editsComplete = true;
    if (m_mirror.documentLength() != document()->characterCount() - 1) {
        // A character the document turns into a line break that the mirror
        // does not know: follow what the document shows.
        qWarning("[editor] line breaks of the loaded text could not be kept");
        m_mirror.reset(document()->toRawText().replace(QChar::ParagraphSeparator, u'\n'));
        m_editsComplete = false;
    }
}

void ListContinuingTextView::documentContentsChange(int position, int removed, int added)
{
    if (m_settingString || m_formatting > 0) {
        return;
    }
    const int documentLength = document()->characterCount() - 1;
    const int end = std::min(position + added, documentLength);
    QString inserted;
    if (end > position) {
        QTextCursor cursor(document());
        cursor.setPosition(position);
        cursor.setPosition(end, QTextCursor::KeepAnchor);
        inserted = cursor.selectedText();
    }
    TextEdit edit = m_mirror.apply(position, removed, inserted);
    if (m_mirror.documentLength() != documentLength) {
        qWarning("[editor] text mirror out of step; re-read from the display");
        m_mirror.reset(document()->toRawText().replace(QChar::ParagraphSeparator, u'\n'));
        m_editsComplete = false;
    } else if (m_editsComplete && m_edits.size() < maximumKeptEdits) {
        m_edits.append(std::move(edit));
    } else {
        // Nobody takes them: no list of edits grows without end.
        m_edits.clear();
        m_editsComplete = false;
    }
    // Keep the colours of the edited line on their characters until the next
    // highlighting pass; the layout is redone right after this signal.
    SyntaxHighlighter::shiftFormats(document()->findBlock(position), position, removed, added);
    m_changePending = true;
}

std::optional<QList<TextEdit>> ListContinuingTextView::takeEdits()
{
    std::optional<QList<TextEdit>> edits;
    if (m_editsComplete) {
        edits = std::move(m_edits);
    }
    m_edits.clear();
    m_editsComplete = true;
    return edits;
}

void ListContinuingTextView::documentContentsChanged()
{
    if (!m_changePending) {
        return;
    }
    m_changePending = false;
    Q_EMIT textDidChange();
}

TextRange ListContinuingTextView::selectedRange() const
{
    const QTextCursor cursor = textCursor();
    const qsizetype start = m_mirror.toBody(cursor.selectionStart());
    const qsizetype end = m_mirror.toBody(cursor.selectionEnd());
    return {start, end - start};
}

int ListContinuingTextView::toDisplayPosition(qsizetype textPosition) const
{
    return int(m_mirror.toDocument(std::clamp<qsizetype>(textPosition, 0, length())));
}

void ListContinuingTextView::setSelectedRange(TextRange range)
{
    const qsizetype start = std::clamp<qsizetype>(range.location, 0, length());
    const qsizetype end =
        std::clamp<qsizetype>(range.location + std::max<qsizetype>(range.length, 0), start, length());
    QTextCursor cursor(document());
    cursor.setPosition(toDisplayPosition(start));
    cursor.setPosition(toDisplayPosition(end), QTextCursor::KeepAnchor);
    setTextCursor(cursor);
}

bool ListContinuingTextView::shouldChangeText(TextRange, const QString &) const
{
    return !isReadOnly();
}

bool ListContinuingTextView::replaceCharacters(TextRange range, const QString &text, bool takeFocus)
{
    const qsizetype location = std::clamp<qsizetype>(range.location, 0, length());
    const qsizetype rangeLength = std::clamp<qsizetype>(range.length, 0, length() - location);
    const TextRange clamped{location, rangeLength};
    if (!shouldChangeText(clamped, text)) {
        return false;
    }
    QTextCursor cursor(document());
    cursor.beginEditBlock();
    cursor.setPosition(toDisplayPosition(clamped.location));
    cursor.setPosition(toDisplayPosition(clamped.end()), QTextCursor::KeepAnchor);
    cursor.insertText(text);
    cursor.endEditBlock();
    // The caret after the new text, as the display counts it (a line break
    // may have become two units in the text).
    setTextCursor(cursor);
    ensureCursorVisible();
    if (takeFocus) {
        setFocus(Qt::OtherFocusReason);
    }
    return true;
}

qsizetype ListContinuingTextView::characterIndexForInsertion(const QPoint &viewportPoint) const
{
    return m_mirror.toBody(cursorForPosition(viewportPoint).position());
}

QRect ListContinuingTextView::caretRectOnScreen(qsizetype position) const
{
    QTextCursor cursor(document());
    cursor.setPosition(toDisplayPosition(position));
    const QRect local = cursorRect(cursor);
    return QRect(viewport()->mapToGlobal(local.topLeft()), local.size());
}

QRect ListContinuingTextView::firstRectOnScreen(TextRange range) const
{
    QTextCursor cursor(document());
    const int start = toDisplayPosition(range.location);
    const int end = toDisplayPosition(range.end());
    cursor.setPosition(start);
    const QRect first = cursorRect(cursor);
    QRect rect = first;
    // Widen along the first line as far as the range goes on it.
    for (int p = start + 1; p <= end; ++p) {
        cursor.setPosition(p);
        const QRect r = cursorRect(cursor);
        if (r.top() != first.top()) {
            break;
        }
        rect = rect.united(r);
        if (p - start > 400) {
            break;
        }
    }
    return QRect(viewport()->mapToGlobal(rect.topLeft()), rect.size());
}

// ----- Decorations ---------------------------------------------------------------

void ListContinuingTextView::setDecorations(Decoration kind,
                                            const QList<QTextEdit::ExtraSelection> &selections)
{
    (kind == Decoration::Spelling ? m_spelling : m_assistantRange) = selections;
    refreshExtraSelections();
}

void ListContinuingTextView::refreshExtraSelections()
{
    setExtraSelections(m_spelling + m_assistantRange);
}

// ----- Keys ------------------------------------------------------------------------

bool ListContinuingTextView::event(QEvent *event)
{
    if (event->type() == QEvent::ShortcutOverride && m_keyRouting.claimsNavigationKeys &&
        m_keyRouting.claimsNavigationKeys()) {
        switch (static_cast<QKeyEvent *>(event)->key()) {
        case Qt::Key_Escape:
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Tab:
        case Qt::Key_Up:
        case Qt::Key_Down:
            event->accept();
            return true;
        default:
            break;
        }
    }
    if (event->type() == QEvent::ShortcutOverride && isWindowShortcut(static_cast<QKeyEvent *>(event))) {
        // Left to the window: the menus' keys win over the editor's own
        // bindings (Ctrl+K opens the palette rather than deleting to the end
        // of the line).
        event->ignore();
        return true;
    }
    return QPlainTextEdit::event(event);
}

bool ListContinuingTextView::isWindowShortcut(const QKeyEvent *key) const
{
    // Typing goes by here on every key: the menus bind no key without Ctrl,
    // Alt or Meta.
    if (!(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)))
        return false;
    const QKeySequence pressed(key->keyCombination());
    const QList<QAction *> actions = window()->findChildren<QAction *>();
    return std::any_of(actions.begin(), actions.end(), [&](const QAction *action) {
        // Edit commands bound to the widget (Undo, Copy) stay the editor's.
        return action->isEnabled() && action->shortcutContext() != Qt::WidgetShortcut &&
               action->shortcuts().contains(pressed);
    });
}

void ListContinuingTextView::keyPressEvent(QKeyEvent *event)
{
    if (m_keyRouting.intercept && m_keyRouting.intercept(event)) {
        event->accept();
        return;
    }
    const bool isReturn = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (isReturn && modifiers == Qt::NoModifier) {
        insertNewline(event);
        return;
    }
    if (isReturn && modifiers == Qt::ShiftModifier) {
        // The display would insert a line separator (U+2028) here, which a
        // Markdown body should not receive: a plain line break instead.
        if (!isReadOnly()) {
            textCursor().insertText(QStringLiteral("\n"));
            ensureCursorVisible();
        }
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
    checkImageTrigger(event->text());
}

void ListContinuingTextView::inputMethodEvent(QInputMethodEvent *event)
{
    QPlainTextEdit::inputMethodEvent(event);
    if (event->preeditString().isEmpty()) {
        checkImageTrigger(event->commitString());
    }
}

void ListContinuingTextView::checkImageTrigger(const QString &inserted)
{
    if (inserted != u"[") {
        return;
    }
    const QTextCursor cursor = textCursor();
    if (cursor.hasSelection()) {
        return;
    }
    const qsizetype caret = m_mirror.toBody(cursor.position());
    if (caret >= 2 && QStringView(string()).mid(caret - 2, 2) == u"![") {
        Q_EMIT imageTriggered(TextRange{caret - 2, 2});
    }
}

void ListContinuingTextView::insertNewline(QKeyEvent *event)
{
    QTextCursor cursor = textCursor();
    if (cursor.hasSelection() || isReadOnly()) {
        QPlainTextEdit::keyPressEvent(event);
        return;
    }
    const QTextBlock block = cursor.block();
    // A block may hold several lines (separated by U+2028): the caret's own
    // line decides, without its break.
    const QString blockText = block.text();
    const TextRange lineRange = EditorRules::lineRange(blockText, cursor.positionInBlock());
    QStringView line = QStringView(blockText).mid(lineRange.location, lineRange.length);
    if (!line.isEmpty() && (line.back() == QChar::LineSeparator || line.back() == QChar(0x85))) {
        line.chop(1);
    }
    const int lineStart = block.position() + int(lineRange.location);
    const EditorRules::ReturnAction action =
        EditorRules::returnAction(line.toString(), cursor.positionInBlock() - lineRange.location);
    switch (action.kind) {
    case EditorRules::ReturnAction::Kind::PlainNewline:
        QPlainTextEdit::keyPressEvent(event);
        return;
    case EditorRules::ReturnAction::Kind::EndList:
        cursor.beginEditBlock();
        cursor.setPosition(lineStart + int(action.removal.location));
        cursor.setPosition(lineStart + int(action.removal.end()), QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
        cursor.endEditBlock();
        cursor.setPosition(lineStart);
        setTextCursor(cursor);
        break;
    case EditorRules::ReturnAction::Kind::Continue:
        cursor.beginEditBlock();
        cursor.insertText(action.insertion);
        cursor.endEditBlock();
        setTextCursor(cursor);
        break;
    }
    ensureCursorVisible();
    event->accept();
}

// ----- Mouse and focus --------------------------------------------------------------

void ListContinuingTextView::mouseReleaseEvent(QMouseEvent *event)
{
    QPlainTextEdit::mouseReleaseEvent(event);
    Q_EMIT mouseReleased();
}

QRect ListContinuingTextView::caretRect() const
{
    QRect rect = cursorRect();
    rect.setWidth(caretWidth);
    return rect;
}

void ListContinuingTextView::restartCaretBlink()
{
    const QRect old = caretRect();
    m_caretOn = hasFocus();
    const int flash = QApplication::cursorFlashTime();
    if (m_caretOn && flash > 0) {
        m_caretBlink->start(flash / 2);
    } else {
        m_caretBlink->stop();
    }
    viewport()->update(old);
    viewport()->update(caretRect());
}

bool ListContinuingTextView::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Timer && watched != viewport() && watched->inherits("QWidgetTextControl")) {
        // The control's timers are its caret's blink and the window for a
        // triple click; only a blink, on the caret's half period, is dropped.
        const int id = static_cast<QTimerEvent *>(event)->timerId();
        const int blink = QApplication::cursorFlashTime() / 2;
        if (blink > 0 && blink != QApplication::doubleClickInterval()) {
            const auto timers = QAbstractEventDispatcher::instance()->registeredTimers(watched);
            for (const auto &timer : timers) {
                if (timer.timerId == id && timer.interval == blink) {
                    return true;
                }
            }
        }
    }
    return QPlainTextEdit::eventFilter(watched, event);
}

void ListContinuingTextView::paintEvent(QPaintEvent *event)
{
    QPlainTextEdit::paintEvent(event);
    if (!m_caretOn || !hasFocus() || isReadOnly()) {
        return;
    }
    const QRect caret = caretRect();
    if (caret.intersects(event->rect())) {
        QPainter painter(viewport());
        painter.fillRect(caret, WidgetStyle::textAccent(palette()));
    }
}

void ListContinuingTextView::focusInEvent(QFocusEvent *event)
{
    QPlainTextEdit::focusInEvent(event);
    restartCaretBlink();
}

void ListContinuingTextView::focusOutEvent(QFocusEvent *event)
{
    QPlainTextEdit::focusOutEvent(event);
    restartCaretBlink();
    // A context menu or another application taking the focus leaves the view
    // its window's focus widget; only a move to another widget is a resign.
    if (event->reason() != Qt::PopupFocusReason && event->reason() != Qt::ActiveWindowFocusReason) {
        Q_EMIT resigned();
    }
}

void ListContinuingTextView::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu *menu = createStandardContextMenu(event->pos());
    Q_EMIT contextMenuRequested(menu, m_mirror.toBody(cursorForPosition(event->pos()).position()));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

// ----- Clipboard and drops --------------------------------------------------------------

QMimeData *ListContinuingTextView::createMimeDataFromSelection() const
{
    // The exact characters, so that copying and pasting keeps non-breaking
    // spaces and line separators (the display's own export turns them into
    // plain spaces and line feeds).
    const TextRange range = selectedRange();
    auto *data = new QMimeData;
    data->setText(string().mid(range.location, range.length));
    return data;
}

bool ListContinuingTextView::canInsertFromMimeData(const QMimeData *source) const
{
    return source->hasText();
}

void ListContinuingTextView::insertFromMimeData(const QMimeData *source)
{
    // Plain text only, whatever else the clipboard offers.
    if (!source->hasText() || isReadOnly()) {
        return;
    }
    QTextCursor cursor = textCursor();
    cursor.beginEditBlock();
    cursor.insertText(source->text());
    cursor.endEditBlock();
    setTextCursor(cursor);
    ensureCursorVisible();
}

bool ListContinuingTextView::acceptsFileDrop(const QMimeData *data) const
{
    return data && FileDrop::canHandle(FileDrop::fileURLs(data));
}

void ListContinuingTextView::dragEnterEvent(QDragEnterEvent *event)
{
    if (acceptsFileDrop(event->mimeData())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
        return;
    }
    QPlainTextEdit::dragEnterEvent(event);
}

void ListContinuingTextView::dragMoveEvent(QDragMoveEvent *event)
{
    if (acceptsFileDrop(event->mimeData())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
        return;
    }
    QPlainTextEdit::dragMoveEvent(event);
}

void ListContinuingTextView::dropEvent(QDropEvent *event)
{
    if (acceptsFileDrop(event->mimeData())) {
        const QList<QUrl> urls = FileDrop::fileURLs(event->mimeData());
        const qsizetype index = characterIndexForInsertion(event->position().toPoint());
        event->setDropAction(Qt::CopyAction);
        event->accept();
        Q_EMIT filesDropped(urls, index);
        return;
    }
    QPlainTextEdit::dropEvent(event);
}
