#include "shell/core/TerminationSaves.h"

#include "store/DocumentStore.h"
#include "store/Persistence.h"

#include <QDeadlineTimer>
#include <QSet>

namespace {

// Taking the text afresh copies it once, on the store's next edit; a long
// stretch of typing is otherwise kept as its edits.
constexpr qsizetype maxHeldEdits = 4096;

} // namespace

TerminationSaves::TerminationSaves(QString baseDirectory, std::function<void()> waitForStoreWrites)
    : m_base(std::move(baseDirectory)), m_waitForStoreWrites(std::move(waitForStoreWrites))
{}

Document TerminationSaves::Held::current() const
{
    Document out = document;
    for (const TextEdit &edit : edits) {
        if (!edit.range.fitsIn(out.body.size())) {
            qWarning("[persistence] an edit of %s no longer fits its text", qPrintable(out.id));
            return document; // the text taken last, at least
        }
        out.body.replace(edit.range.location, edit.range.length, edit.text);
    }
    return out;
}

void TerminationSaves::follow(DocumentStore *store, QObject *context, qint64 launchedAt)
{
    QObject::connect(store, &DocumentStore::bodyEdited, context,
                     [this, store](const QString &id, const QList<TextEdit> &edits) {
                         if (const std::optional<Document> document = store->document(id))
                             rememberEdits(*document, edits);
                     });
    QObject::connect(store, &DocumentStore::documentsChanged, context,
                     [this, store, launchedAt](const QString &id) {
                         if (!id.isEmpty()) {
                             if (const std::optional<Document> document = store->document(id))
                                 remember(*document);
                             return;
                         }
                         // A change of several (a new, imported, deleted or pulled document):
                         // every document changed during this run is taken again, and the
                         // ones gone are dropped.
                         const QStringList known = rememberedIDs();
                         const QSet<QString> knownSet(known.cbegin(), known.cend());
                         for (const QString &gone : known) {
                             if (!store->document(gone))
                                 forget(gone);
                         }
                         for (const Document &document : store->documents()) {
                             if (document.updatedAt >= launchedAt || knownSet.contains(document.id))
                                 remember(document);
                         }
                     });
}

void TerminationSaves::takeFields(Held &held, const Document &document)
{
    QString text = std::move(held.document.body);
    held.document = document;
    held.document.body = std::move(text);
}

void TerminationSaves::remember(const Document &document)
{
    const QMutexLocker locker(&m_stateLock);
    const auto it = m_documents.find(document.id);
    // The version the edits already made: only its other fields are new.
    if (it != m_documents.end() && it->editedVersion == document.updatedAt &&
        it->length == document.body.size()) {
        takeFields(*it, document);
        return;
    }
    m_documents.insert(document.id, Held{document, {}, document.body.size(), std::nullopt});
}

void TerminationSaves::rememberEdits(const Document &document, const QList<TextEdit> &edits)
{
    const QMutexLocker locker(&m_stateLock);
    const auto it = m_documents.find(document.id);
    qsizetype length = it == m_documents.end() ? 0 : it->length;
    for (const TextEdit &edit : edits)
        length += edit.text.size() - edit.range.length;
    if (it == m_documents.end() || length != document.body.size() ||
        it->edits.size() + edits.size() > maxHeldEdits) {
        m_documents.insert(document.id, Held{document, {}, document.body.size(), document.updatedAt});
        return;
    }
    takeFields(*it, document);
    it->edits += edits;
    it->length = length;
    it->editedVersion = document.updatedAt;
}

void TerminationSaves::forget(const QString &id)
{
    const QMutexLocker locker(&m_stateLock);
    m_documents.remove(id);
}

QStringList TerminationSaves::rememberedIDs() const
{
    const QMutexLocker locker(&m_stateLock);
    return m_documents.keys();
}

void TerminationSaves::acknowledge()
{
    const QMutexLocker locker(&m_stateLock);
    m_acknowledgedFlag = true;
    m_acknowledged.wakeAll();
}

void TerminationSaves::runFlush(const std::function<void()> &flush)
{
    const QMutexLocker locker(&m_writeLock);
    flush();
}

int TerminationSaves::guard(std::chrono::milliseconds grace)
{
    // Taken first, so the final flush (which writes newer values) cannot
    // start between the decision to write and the write.
    const QMutexLocker writing(&m_writeLock);
    QHash<QString, Held> documents;
    {
        QMutexLocker locker(&m_stateLock);
        const QDeadlineTimer deadline(grace);
        while (!m_acknowledgedFlag && m_acknowledged.wait(&m_stateLock, deadline)) {
        }
        if (m_acknowledgedFlag) {
            return 0;
        }
        // Copies share their text with the originals: cheap, and the main
        // thread may go on editing meanwhile.
        documents = m_documents;
    }
    if (m_waitForStoreWrites) {
        m_waitForStoreWrites();
    }
    int written = 0;
    for (const Held &held : std::as_const(documents)) {
        if (Persistence::saveDocument(held.current(), m_base)) {
            ++written;
        }
    }
    qWarning("[persistence] the termination signal found the app busy; wrote %d edited documents", written);
    return written;
}
