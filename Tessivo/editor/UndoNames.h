#pragma once

#include <QHash>
#include <QObject>
#include <QString>

class QTextDocument;

// Names for some steps of a text document's undo history, so that the Edit
// menu can read "Undo AI Rewrite" instead of a bare "Undo". The document's
// own undo stack has no names: a named step carries a marker (an undo item
// that changes nothing) through which the name follows the step as it is
// undone and redone, and which the document drops with the step. Steps
// nobody named read plain "Undo" and "Redo".
class UndoNames final : public QObject
{
    Q_OBJECT

public:
    // The names of `document`, made (as its child) on first use.
    static UndoNames *of(QTextDocument *document);

    // Names the newest step of the history: the edits since the document's
    // undo count was `from`, which must still be one open edit block (the
    // last one, ready to be joined).
    void nameNewestStep(int from, const QString &name);

    // "Undo" or "Redo", followed by the name of the step that would be undone
    // or redone, when it has one.
    static QString undoText(const QTextDocument *document);
    static QString redoText(const QTextDocument *document);

private:
    friend class UndoNameMarker;
    struct Step
    {
        QString name;
        int from = 0; // the undo count before the step
        int to = 0;   // and after it
        bool done = true;
    };

    explicit UndoNames(QTextDocument *document);
    static const UndoNames *find(const QTextDocument *document);

    QTextDocument *m_document;
    QHash<quint64, Step> m_steps;
    quint64 m_nextID = 0;
};
