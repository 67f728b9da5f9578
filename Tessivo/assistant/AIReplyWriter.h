#pragma once

#include "editor/core/AITrigger.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <optional>

class QTextDocument;

// Writes a streamed AI reply into a text document, without any window. The
// reply replaces the pending range (the selection, or nothing at the caret)
// and grows with each chunk as one edit, so whatever stays of it is one
// undo step, named "AI Rewrite" or "AI Generate". revert() puts the
// original text back, also when other edits happened meanwhile.
//
// Positions are the document's own (each line break one unit). Edits made by
// anyone else move the pending range along, as long as they stay outside it.
class AIReplyWriter final : public QObject
{
    Q_OBJECT

public:
    struct Range
    {
        int from = 0;
        int to = 0;
        friend bool operator==(const Range &, const Range &) = default;
    };

    enum class Outcome { Written, DocumentChanged };

    explicit AIReplyWriter(QTextDocument *document, QObject *parent = nullptr);

    // A reply for `kind` starts over `range`, whose text is the original.
    void start(Range range, AITrigger::Kind kind);
    // Writes the next chunk: the first replaces the range, later ones go
    // after what was written. DocumentChanged (and the reply stops, keeping
    // what was written) when the text changed under the reply.
    Outcome write(const QString &chunk);
    // The reply ended: what is still held back goes in (unless the text
    // changed under it), and the whole reply becomes one named undo step.
    // Returns what was written, if anything.
    std::optional<Range> finish();
    // Stops the reply keeping what was written (one named undo step).
    void keep() { finish(); }
    // Stops the reply and puts the original text back in the written range.
    // Returns the range that holds it, or nothing when the range is not
    // known any more (an edit ran into it).
    std::optional<Range> revert();

    // Whether the text changed under the reply since its last chunk: an
    // edit into the written range, one that shortened the text below its
    // end, or any other edit after the reply's first chunk.
    bool changedUnderReply() const;

    bool isWriting() const { return m_pending.has_value(); }
    // The range the reply replaces or has written, while it is written.
    const std::optional<Range> &pendingRange() const { return m_pending; }
    // The text the reply replaces (breaks as "\n").
    const QString &original() const { return m_original; }

    static QString undoName(AITrigger::Kind kind);

private:
    void follow(int position, int removed, int added);
    QString textIn(Range range) const;
    // Replaces `range` with `text` as an edit of its own or, with `join`, as
    // part of the previous one; returns the end of the new text.
    int replace(Range range, const QString &text, bool join);
    bool replyIsNewestStep() const;
    void nameReplyStep();
    void append(const QString &text);

    QPointer<QTextDocument> m_document;
    std::optional<Range> m_pending;
    QString m_original;
    AITrigger::Kind m_kind = AITrigger::Kind::Refine;
    // A CR at the end of a chunk waits: its LF may start the next one.
    bool m_heldReturn = false;
    bool m_wroteAny = false;
    bool m_writing = false;
    bool m_lost = false;
    // The document's undo count right after the last chunk went in: equal
    // later means the reply's edit is still the newest step.
    int m_undoMark = -1;
    // The document's undo count before the reply's first chunk.
    int m_startMark = 0;
};
