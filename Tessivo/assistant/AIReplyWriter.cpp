#include "assistant/AIReplyWriter.h"

#include "editor/UndoNames.h"

#include <QAbstractTextDocumentLayout>
#include <QTextCursor>
#include <QTextDocument>

namespace {

// The document holds each line break as one block boundary: a CR LF pair
// must go in as one break, not two.
QString documentBreaks(QString text)
{
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

} // namespace

AIReplyWriter::AIReplyWriter(QTextDocument *document, QObject *parent) : QObject(parent), m_document(document)
{
    // A document reports where its text changed only once it has a layout.
    document->documentLayout();
    connect(document, &QTextDocument::contentsChange, this, &AIReplyWriter::follow);
}

QString AIReplyWriter::undoName(AITrigger::Kind kind)
{
    return kind == AITrigger::Kind::Generate ? QStringLiteral("AI Generate") : QStringLiteral("AI Rewrite");
}

void AIReplyWriter::start(Range range, AITrigger::Kind kind)
{
    m_pending = range;
    m_original = textIn(range);
    m_kind = kind;
    m_heldReturn = false;
    m_wroteAny = false;
    m_lost = false;
    m_undoMark = -1;
}

void AIReplyWriter::follow(int position, int removed, int added)
{
    if (m_writing || !m_pending || removed == added) {
        return; // our own edit, or a change of formatting only
    }
    Range &range = *m_pending;
    if (position + removed <= range.from) {
        range.from += added - removed;
        range.to += added - removed;
    } else if (position < range.to) {
        m_lost = true;
    }
}

QString AIReplyWriter::textIn(Range range) const
{
    QTextCursor cursor(m_document);
    cursor.setPosition(range.from);
    cursor.setPosition(range.to, QTextCursor::KeepAnchor);
    QString text = cursor.selectedText();
    text.replace(QChar::ParagraphSeparator, u'\n');
    return text;
}

int AIReplyWriter::replace(Range range, const QString &text, bool join)
{
    m_writing = true;
    QTextCursor cursor(m_document);
    // Placed before the edit block opens: undoing the block puts the caret
    // back where the block's cursor stood, at the end of the earlier text
    // (not at the start of the document, where a new cursor is).
    cursor.setPosition(range.from);
    cursor.setPosition(range.to, QTextCursor::KeepAnchor);
    if (join) {
        cursor.joinPreviousEditBlock();
    } else {
        cursor.beginEditBlock();
    }
    cursor.insertText(text);
    const int end = cursor.position();
    cursor.endEditBlock();
    m_writing = false;
    return end;
}

bool AIReplyWriter::replyIsNewestStep() const
{
    return m_wroteAny && m_undoMark == m_document->availableUndoSteps();
}

void AIReplyWriter::nameReplyStep()
{
    // Only a reply that is still the newest step can take its name.
    if (replyIsNewestStep()) {
        UndoNames::of(m_document)->nameNewestStep(m_startMark, undoName(m_kind));
        m_undoMark = m_document->availableUndoSteps();
    }
}

bool AIReplyWriter::changedUnderReply() const
{
    if (!m_pending || !m_document) {
        return false;
    }
    return m_lost || m_pending->to > m_document->characterCount() - 1 || (m_wroteAny && !replyIsNewestStep());
}

void AIReplyWriter::append(const QString &text)
{
    const Range p = *m_pending;
    if (!m_wroteAny) {
        m_startMark = m_document->availableUndoSteps();
    }
    const int end = replace(m_wroteAny ? Range{p.to, p.to} : p, documentBreaks(text), m_wroteAny);
    m_undoMark = m_document->availableUndoSteps();
    m_wroteAny = true;
    m_pending = Range{p.from, end};
}

AIReplyWriter::Outcome AIReplyWriter::write(const QString &chunk)
{
    if (!m_pending || !m_document) {
        return Outcome::DocumentChanged;
    }
    // Any other edit since the last chunk may have moved things under the
    // reply: rather than write at a stale place (or into someone else's
    // undo step), stop.
    if (changedUnderReply()) {
        m_pending.reset();
        nameReplyStep();
        return Outcome::DocumentChanged;
    }
    QString text = m_heldReturn ? u'\r' + chunk : chunk;
    m_heldReturn = text.endsWith(u'\r');
    if (m_heldReturn) {
        text.chop(1);
    }
    if (!text.isEmpty()) {
        append(text);
    }
    return Outcome::Written;
}

std::optional<AIReplyWriter::Range> AIReplyWriter::finish()
{
    if (!m_pending || !m_document) {
        m_pending.reset();
        return std::nullopt;
    }
    if (m_heldReturn && !changedUnderReply()) {
        append(QStringLiteral("\n"));
    }
    m_heldReturn = false;
    const Range written = *m_pending;
    m_pending.reset();
    nameReplyStep();
    return m_wroteAny ? std::optional(written) : std::nullopt;
}

std::optional<AIReplyWriter::Range> AIReplyWriter::revert()
{
    if (!m_pending || !m_document) {
        m_pending.reset();
        return std::nullopt;
    }
    const Range p = *m_pending;
    const bool newest = replyIsNewestStep();
    const bool lost = m_lost || p.to > m_document->characterCount() - 1;
    m_pending.reset();
    m_heldReturn = false;
    if (lost) {
        return std::nullopt;
    }
    if (newest) {
        // Taking the reply's own step back leaves the history as it was.
        m_document->undo();
        m_document->clearUndoRedoStacks(QTextDocument::RedoStack);
        return Range{p.from, p.from + int(m_original.size())};
    }
    if (textIn(p) != m_original) {
        return Range{p.from, replace(p, m_original, false)};
    }
    return p;
}
