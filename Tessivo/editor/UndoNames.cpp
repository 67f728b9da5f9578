#include "editor/UndoNames.h"

#include <QAbstractUndoItem>
#include <QPointer>
#include <QTextCursor>
#include <QTextDocument>

// Rides in a named step: undone and redone with it, deleted when the
// document drops the step (a new edit after undo, a cleared history).
class UndoNameMarker final : public QAbstractUndoItem
{
public:
    UndoNameMarker(UndoNames *names, quint64 id) : m_names(names), m_id(id) {}
    ~UndoNameMarker() override
    {
        if (m_names)
            m_names->m_steps.remove(m_id);
    }

    void undo() override { setDone(false); }
    void redo() override { setDone(true); }

private:
    void setDone(bool done)
    {
        if (m_names && m_names->m_steps.contains(m_id))
            m_names->m_steps[m_id].done = done;
    }

    QPointer<UndoNames> m_names;
    quint64 m_id;
};

UndoNames::UndoNames(QTextDocument *document) : QObject(document), m_document(document)
{
    setObjectName(QStringLiteral("undoNames"));
}

UndoNames *UndoNames::of(QTextDocument *document)
{
    if (auto *names = const_cast<UndoNames *>(find(document)))
        return names;
    return new UndoNames(document);
}

const UndoNames *UndoNames::find(const QTextDocument *document)
{
    return document
               ? document->findChild<UndoNames *>(QStringLiteral("undoNames"), Qt::FindDirectChildrenOnly)
               : nullptr;
}

void UndoNames::nameNewestStep(int from, const QString &name)
{
    if (!m_document->isUndoRedoEnabled() || m_document->availableUndoSteps() <= from)
        return;
    const quint64 id = m_nextID++;
    m_steps.insert(id, Step{name, from, 0, true});
    QTextCursor cursor(m_document);
    cursor.joinPreviousEditBlock();
    m_document->appendUndoItem(new UndoNameMarker(this, id));
    cursor.endEditBlock();
    if (m_steps.contains(id))
        m_steps[id].to = m_document->availableUndoSteps();
}

QString UndoNames::undoText(const QTextDocument *document)
{
    if (const UndoNames *names = find(document); names && document->isUndoAvailable()) {
        for (const Step &step : names->m_steps)
            if (step.done && step.to == document->availableUndoSteps())
                return QStringLiteral("Undo ") + step.name;
    }
    return QStringLiteral("Undo");
}

QString UndoNames::redoText(const QTextDocument *document)
{
    if (const UndoNames *names = find(document); names && document->isRedoAvailable()) {
        for (const Step &step : names->m_steps)
            if (!step.done && step.from == document->availableUndoSteps())
                return QStringLiteral("Redo ") + step.name;
    }
    return QStringLiteral("Redo");
}
