#include "assistant/AIMenuPanel.h"

#include "editor/ListContinuingTextView.h"

#include <QPalette>
#include <QTextCursor>

AIMenuPanel::AIMenuPanel(QObject *parent) : QObject(parent) {}

void AIMenuPanel::show(const AITrigger &trigger, ListContinuingTextView *textView)
{
    if (!textView) {
        return;
    }
    m_trigger = trigger;
}

void AIMenuPanel::close(bool revert)
{
    Q_UNUSED(revert)
    m_visible = false;
    m_trigger.reset();
    m_pendingRange.reset();
}

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
