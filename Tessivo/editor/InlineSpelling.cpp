#include "editor/InlineSpelling.h"

#include "editor/ListContinuingTextView.h"
#include "editor/SpellChecker.h"
#include "editor/core/SpellScope.h"

#include <QMenu>
#include <QScrollBar>
#include <QTextBlock>

InlineSpelling::InlineSpelling(ListContinuingTextView *view, SpellChecker *checker, QObject *parent)
    : QObject(parent), m_view(view), m_viewport(view->viewport()), m_checker(checker)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(delayMilliseconds);
    connect(&m_timer, &QTimer::timeout, this, &InlineSpelling::checkNow);
    connect(view, &ListContinuingTextView::textDidChange, this, &InlineSpelling::schedule);
    connect(view, &ListContinuingTextView::selectionDidChange, this, [this] {
        // The word just typed is left alone until the caret leaves it.
        if (m_timer.isActive() || !m_view || m_view->textCursor().hasSelection()) {
            return;
        }
        schedule();
    });
    connect(view->verticalScrollBar(), &QScrollBar::valueChanged, this, &InlineSpelling::schedule);
    connect(checker, &SpellChecker::dictionaryChanged, this, &InlineSpelling::schedule);
    m_viewport->installEventFilter(this);
}

InlineSpelling::~InlineSpelling()
{
    if (m_viewport) {
        m_viewport->removeEventFilter(this);
    }
}

bool InlineSpelling::eventFilter(QObject *watched, QEvent *event)
{
    // Events still arrive while the view is being destroyed, when it is no
    // longer a ListContinuingTextView: nothing here may call into it.
    // More (or other) lines come into view when the view grows.
    if (watched == m_viewport && event->type() == QEvent::Resize) {
        schedule();
    }
    return QObject::eventFilter(watched, event);
}

void InlineSpelling::schedule()
{
    m_timer.start();
}

void InlineSpelling::checkNow()
{
    m_timer.stop();
    ListContinuingTextView *view = m_view.data();
    if (!view) {
        return;
    }
    QTextDocument *document = view->document();
    const QString text = view->displayText();
    // Visible characters, not lines: one paragraph may be the whole text.
    const QRect area = view->viewport()->rect();
    const int firstVisible = view->cursorForPosition(area.topLeft()).position();
    const int lastVisible = view->cursorForPosition(area.bottomRight()).position();
    const QTextCursor caret = view->textCursor();
    const int caretPosition = view->hasFocus() && !caret.hasSelection() ? caret.position() : -1;

    QTextCharFormat underline;
    underline.setUnderlineStyle(QTextCharFormat::SpellCheckUnderline);
    underline.setUnderlineColor(QColor(230, 40, 40));

    QList<QTextEdit::ExtraSelection> marks;
    SpellScope::Context context;
    qsizetype lineStart = 0;
    while (lineStart <= text.size() && lineStart <= lastVisible) {
        qsizetype lineEnd = text.indexOf(u'\n', lineStart);
        if (lineEnd < 0) {
            lineEnd = text.size();
        }
        const QStringView lineText = QStringView(text).mid(lineStart, lineEnd - lineStart);
        if (lineEnd < firstVisible) {
            SpellScope::skipLine(lineText, context);
            lineStart = lineEnd + 1;
            continue;
        }
        if (lineText.size() > longestCheckedLine) {
            SpellScope::skipLine(lineText, context);
            lineStart = lineEnd + 1;
            continue;
        }
        // A long line is read around its visible part only, from and to a
        // space, so the cost follows the screen and not the paragraph.
        qsizetype from = 0;
        qsizetype to = lineText.size();
        if (lineText.size() > longLine) {
            from = std::max<qsizetype>(0, firstVisible - lineStart - lineMargin);
            to = std::min<qsizetype>(lineText.size(), lastVisible - lineStart + lineMargin);
            while (from > 0 && !lineText.at(from - 1).isSpace()) {
                --from;
            }
            while (to < lineText.size() && !lineText.at(to).isSpace()) {
                ++to;
            }
        }
        const QStringView part = lineText.mid(from, to - from);
        // A part of a line says nothing about the blocks around it: the
        // context moves on by the whole line.
        SpellScope::Context partContext = context;
        const QList<TextRange> words = SpellScope::wordsToCheck(part, partContext);
        if (part.size() == lineText.size()) {
            context = partContext;
        } else {
            SpellScope::skipLine(lineText, context);
        }
        for (const TextRange &word : words) {
            const qsizetype start = lineStart + from + word.location;
            const qsizetype end = start + word.length;
            if (end < firstVisible || start > lastVisible || caretPosition == end) {
                continue; // off screen, or still being typed
            }
            if (m_checker->isCorrect(part.mid(word.location, word.length).toString())) {
                continue;
            }
            QTextEdit::ExtraSelection mark;
            mark.cursor = QTextCursor(document);
            mark.cursor.setPosition(int(start));
            mark.cursor.setPosition(int(end), QTextCursor::KeepAnchor);
            mark.format = underline;
            marks.append(mark);
        }
        lineStart = lineEnd + 1;
    }
    // All underlines in one call: each call lays out what it touches.
    view->setDecorations(ListContinuingTextView::Decoration::Spelling, marks);
    Q_EMIT checked();
}

QList<TextRange> InlineSpelling::misspelledRanges() const
{
    QList<TextRange> ranges;
    if (!m_view) {
        return ranges;
    }
    for (const QTextEdit::ExtraSelection &mark : m_view->extraSelections()) {
        if (mark.format.underlineStyle() != QTextCharFormat::SpellCheckUnderline) {
            continue;
        }
        const qsizetype start = m_view->toTextPosition(mark.cursor.selectionStart());
        const qsizetype end = m_view->toTextPosition(mark.cursor.selectionEnd());
        if (end > start) {
            ranges.append({start, end - start});
        }
    }
    return ranges;
}

void InlineSpelling::extendContextMenu(QMenu *menu, qsizetype position)
{
    if (!m_view) {
        return;
    }
    std::optional<TextRange> word;
    for (const TextRange &range : misspelledRanges()) {
        if (position >= range.location && position <= range.end()) {
            word = range;
            break;
        }
    }
    if (!word) {
        return;
    }
    const QString misspelled = m_view->string().mid(word->location, word->length);
    QAction *first = menu->actions().isEmpty() ? nullptr : menu->actions().constFirst();
    QList<QAction *> added;
    const QStringList suggestions = m_checker->suggestions(misspelled);
    if (suggestions.isEmpty()) {
        auto *none = new QAction(tr("No Guesses Found"), menu);
        none->setEnabled(false);
        added.append(none);
    }
    QPointer<ListContinuingTextView> view = m_view;
    const TextRange range = *word;
    for (const QString &suggestion : suggestions) {
        auto *action = new QAction(suggestion, menu);
        connect(action, &QAction::triggered, this, [view, range, misspelled, suggestion] {
            // Only while the word is still where the menu found it.
            if (view && view->string().mid(range.location, range.length) == misspelled) {
                view->replaceCharacters(range, suggestion);
            }
        });
        added.append(action);
    }
    const auto separator = [menu] {
        auto *action = new QAction(menu);
        action->setSeparator(true);
        return action;
    };
    auto *learn = new QAction(tr("Add to Dictionary"), menu);
    connect(learn, &QAction::triggered, this, [this, misspelled] { m_checker->addToDictionary(misspelled); });
    added << separator() << learn;
    if (first) {
        added << separator();
    }
    menu->insertActions(first, added);
}
