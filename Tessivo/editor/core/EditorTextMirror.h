#pragma once

#include "store/TextRange.h"

#include <QList>
#include <QString>

// The exact text of the editor, kept beside the text document that displays
// it. The document stores every line break as a block boundary, so a CR LF
// pair, a lone CR and U+2029 would all come back as "\n" if the text were read
// out of it; this mirror keeps each break as it was written and follows the
// document's edits, so the stored body is always exactly what was typed.
//
// Two coordinate systems: "document" positions count every break as one unit
// (as the text document does); "body" positions are UTF-16 offsets into
// body(). They differ only after a CR LF pair.
class EditorTextMirror final
{
public:
    // Takes a new body. Returns the text to load into the document: the body
    // with every break that the document cannot hold as such replaced by "\n".
    QString reset(const QString &body);

    const QString &body() const { return m_body; }
    // The body as the document holds it (breaks as "\n"); the body itself
    // when every break is a plain line feed.
    QString documentText() const;
    qsizetype documentLength() const { return m_body.size() - m_crlfCount; }
    bool hasSpecialBreaks() const { return !m_breaks.isEmpty(); }

    // The document replaced `removed` units at `position` with `inserted`
    // (the document's own text of the new range, breaks as U+2029 or "\n").
    // Ranges reaching past the end are clamped. New breaks follow the text's
    // line-end style: the one kind of break a loaded text used throughout
    // (so a CR LF text stays CR LF, also through undo), else a line feed.
    // Returns the same change in body positions, with the text as the body
    // now holds it.
    TextEdit apply(qsizetype position, qsizetype removed, const QString &inserted);

    qsizetype toBody(qsizetype documentPosition) const;
    qsizetype toDocument(qsizetype bodyPosition) const;

    // True when `c` ends a block in the text document.
    static bool isBlockBreak(QChar c);

private:
    struct Break
    {
        qsizetype position; // document position of the break
        QString text;       // "\r\n", "\r", U+2029, U+FDD0 or U+FDD1
    };

    QString m_body;
    QList<Break> m_breaks; // ascending positions; plain "\n" breaks are not listed
    qsizetype m_crlfCount = 0;
    QString m_newBreak = QStringLiteral("\n");
};
