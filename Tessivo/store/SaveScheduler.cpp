#include "SaveScheduler.h"

#include "store/SaveClock.h"
#include "store/StoreWriter.h"

#include <QPromise>

#include <algorithm>
#include <memory>

namespace {

const QString collectionsFile = QStringLiteral("collections.json");
const QString stateFile = QStringLiteral("state.json");

struct WholeFilesSaved
{
    bool state = false;
    bool collections = false;
};

// Every write of the two whole files comes here, for their one order: the
// state first, so that a kill in between leaves at worst a dirty mark whose
// collection did not land (the next sync settles it), never a collection on
// disk that no mark will ever push.
WholeFilesSaved saveWholeFiles(const Persistence::State &state, const QList<Collection> &collections,
                               const QString &base)
{
    WholeFilesSaved saved;
    saved.state = Persistence::saveState(state, base);
    saved.collections = Persistence::saveCollections(collections, base);
    return saved;
}

} // namespace

SaveScheduler::SaveScheduler(const QString &baseDirectory, SaveClock *clock, QObject *parent)
    : QObject(parent), m_baseDirectory(baseDirectory), m_clock(clock),
      m_writer(std::make_unique<StoreWriter>())
{
    if (!m_clock) {
        m_ownClock = std::make_unique<SteadySaveClock>();
        m_clock = m_ownClock.get();
    }
    connect(m_clock, &SaveClock::woke, this, &SaveScheduler::wake);
}

SaveScheduler::~SaveScheduler()
{
    m_pending.clear();
    m_clock->cancelWake();
    // Writers post their results to this object; none may run past it.
    m_writer->waitForIdle();
}

QString SaveScheduler::documentPath(const QString &id)
{
    return Persistence::documentRelativePath(id);
}

void SaveScheduler::scheduleDocument(const Document &snapshot)
{
    Pending &pending = m_pending[snapshot.id];
    pending.snapshot = snapshot;
    pending.ticket = ++m_nextTicket;
    pending.writing = false;
    m_deadlines.push_back(Deadline{m_clock->nowMs() + documentDelayMs, snapshot.id, pending.ticket});
    rearm();
}

void SaveScheduler::scheduleCurrentDocument(const QString &id)
{
    Pending &pending = m_pending[id];
    pending.snapshot.reset();
    pending.ticket = ++m_nextTicket;
    pending.writing = false;
    m_deadlines.push_back(Deadline{m_clock->nowMs() + documentDelayMs, id, pending.ticket});
    rearm();
}

void SaveScheduler::scheduleCollections()
{
    m_collectionsDue = m_clock->nowMs() + wholeFileDelayMs;
    rearm();
}

void SaveScheduler::scheduleState()
{
    m_stateDue = m_clock->nowMs() + wholeFileDelayMs;
    rearm();
}

void SaveScheduler::scheduleSettings()
{
    m_settingsDue = m_clock->nowMs() + settingsDelayMs;
    rearm();
}

void SaveScheduler::cancelDocument(const QString &id)
{
    m_pending.remove(id);
}

bool SaveScheduler::isLive(const Deadline &deadline) const
{
    const auto it = m_pending.constFind(deadline.id);
    return it != m_pending.cend() && it->ticket == deadline.ticket && !it->writing;
}

void SaveScheduler::dropStaleDeadlines()
{
    while (!m_deadlines.empty() && !isLive(m_deadlines.front())) {
        m_deadlines.pop_front();
    }
}

void SaveScheduler::rearm()
{
    // A request replaced by a newer one of its document is no deadline: woken
    // for it, the whole files would go out on every key.
    dropStaleDeadlines();
    std::optional<qint64> next = m_collectionsDue;
    for (const std::optional<qint64> &due :
         {m_stateDue, m_settingsDue,
          m_deadlines.empty() ? std::optional<qint64>() : std::optional(m_deadlines.front().dueMs)}) {
        if (due && (!next || *due < *next)) {
            next = due;
        }
    }
    if (next) {
        m_clock->wakeAt(*next);
    } else {
        m_clock->cancelWake();
    }
}

void SaveScheduler::wake()
{
    const qint64 now = m_clock->nowMs();
    dropStaleDeadlines();
    // A record must not land before the state that marks it dirty, nor a
    // document before the collection it is filed in: edits elsewhere keep
    // pushing the whole-file saves back, so a kill could otherwise leave a
    // record on disk that nothing will ever sync. Pending whole files go out
    // first, the state before all.
    const bool documentDue = !m_deadlines.empty() && m_deadlines.front().dueMs <= now;
    if (m_collectionsDue && (documentDue || *m_collectionsDue <= now)) {
        // Answered by writeWholeFilesInBackground(), the state with them.
        m_collectionsDue.reset();
        Q_EMIT collectionsDue();
    } else if (m_stateDue && (documentDue || *m_stateDue <= now)) {
        m_stateDue.reset();
        Q_EMIT stateDue();
    }
    if (m_settingsDue && *m_settingsDue <= now) {
        m_settingsDue.reset();
        Q_EMIT settingsDue();
    }
    // The whole files run on threads of their own: a document due now waits
    // until the state and collections asked for before it have landed, so
    // that a kill never leaves a record on disk that its dirty mark missed.
    const bool wait = m_stateWrites.landed < m_stateWrites.requested ||
                      m_collectionsWrites.landed < m_collectionsWrites.requested;
    while (!m_deadlines.empty() && m_deadlines.front().dueMs <= now) {
        const Deadline due = std::move(m_deadlines.front());
        m_deadlines.pop_front();
        if (!isLive(due)) {
            continue; // cancelled, or a newer request took its place
        }
        m_pending[due.id].writing = true;
        if (wait) {
            m_deferred.push_back(
                Deferred{due.id, due.ticket, m_collectionsWrites.requested, m_stateWrites.requested});
        } else {
            startDocumentWrite(due.id, due.ticket);
        }
    }
    rearm();
}

void SaveScheduler::startDocumentWrite(const QString &id, quint64 ticket)
{
    const auto it = m_pending.find(id);
    if (it == m_pending.end() || it->ticket != ticket) {
        return; // cancelled while it waited
    }
    std::optional<Document> snapshot = it->snapshot;
    if (!snapshot && m_source) {
        snapshot = m_source(id);
    }
    if (!snapshot) {
        m_pending.erase(it); // gone meanwhile: nothing to write
        return;
    }
    m_writer->enqueue(
        documentPath(id), [this, snapshot = std::move(*snapshot), ticket, base = m_baseDirectory] {
            const bool ok = Persistence::saveDocument(snapshot, base);
            QMetaObject::invokeMethod(
                this, [this, id = snapshot.id, ticket, ok] { documentWriteFinished(id, ticket, ok); },
                Qt::QueuedConnection);
        });
}

void SaveScheduler::wholeFileLanded(WholeFileWrites &writes, quint64 generation, const QString &file, bool ok)
{
    writes.landed = std::max(writes.landed, generation);
    Q_EMIT fileWritten(file, ok);
    startDeferred();
}

void SaveScheduler::startDeferred()
{
    while (!m_deferred.empty() && m_deferred.front().state <= m_stateWrites.landed &&
           m_deferred.front().collections <= m_collectionsWrites.landed) {
        const Deferred next = std::move(m_deferred.front());
        m_deferred.pop_front();
        startDocumentWrite(next.id, next.ticket);
    }
}

void SaveScheduler::stateLanded(quint64 generation, bool ok, const Persistence::State &state)
{
    // Only the newest write tells what the file holds once all have landed.
    if (ok && generation >= m_stateWrites.requested) {
        m_stateOnDisk = state;
    } else if (!ok) {
        m_stateOnDisk.reset();
    }
    wholeFileLanded(m_stateWrites, generation, stateFile, ok);
}

void SaveScheduler::writeState(const Persistence::State &state)
{
    // A pause that changed nothing of the state (a document already marked
    // dirty, typed on) would write the same bytes again, with their syncs.
    if (m_stateWrites.landed == m_stateWrites.requested && m_stateOnDisk == state) {
        return;
    }
    const quint64 generation = ++m_stateWrites.requested;
    m_writer->enqueue(stateFile, [this, base = m_baseDirectory, state, generation] {
        const bool ok = Persistence::saveState(state, base);
        QMetaObject::invokeMethod(
            this, [this, ok, generation, state] { stateLanded(generation, ok, state); },
            Qt::QueuedConnection);
    });
}

void SaveScheduler::noteResult(const QString &id, bool ok)
{
    if (ok) {
        m_failed.remove(id);
    } else {
        m_failed.insert(id);
    }
    Q_EMIT fileWritten(documentPath(id), ok);
}

void SaveScheduler::documentWriteFinished(const QString &id, quint64 ticket, bool ok)
{
    const auto it = m_pending.find(id);
    if (it != m_pending.end() && it->ticket == ticket) {
        m_pending.erase(it);
    }
    noteResult(id, ok);
}

void SaveScheduler::writeDocumentNow(const Document &document)
{
    bool ok = false;
    m_writer->runNow(documentPath(document.id),
                     [&] { ok = Persistence::saveDocument(document, m_baseDirectory); });
    noteResult(document.id, ok);
}

QList<Document> SaveScheduler::distinct(const QList<Document> &documents)
{
    QList<Document> batch;
    QHash<QString, qsizetype> slotOf;
    slotOf.reserve(documents.size());
    for (const Document &d : documents) {
        const auto it = slotOf.constFind(d.id);
        if (it != slotOf.cend()) {
            batch[*it] = d;
        } else {
            slotOf.insert(d.id, batch.size());
            batch.append(d);
        }
    }
    return batch;
}

QStringList SaveScheduler::documentPaths(const QList<Document> &documents)
{
    QStringList keys;
    keys.reserve(documents.size());
    for (const Document &d : documents) {
        keys.append(documentPath(d.id));
    }
    return keys;
}

void SaveScheduler::writeDocumentsNow(const QList<Document> &documents)
{
    const QList<Document> batch = distinct(documents);
    if (batch.isEmpty()) {
        return;
    }
    QList<bool> saved;
    m_writer->runNow(documentPaths(batch),
                     [&] { saved = Persistence::saveDocuments(batch, m_baseDirectory); });
    for (qsizetype i = 0; i < batch.size(); ++i) {
        noteResult(batch.at(i).id, saved.at(i));
    }
}

QFuture<void> SaveScheduler::writeDocumentsInBackground(const QList<Document> &documents)
{
    const QList<Document> batch = distinct(documents);
    if (batch.isEmpty()) {
        return QtFuture::makeReadyFuture();
    }
    auto written = std::make_shared<QPromise<void>>();
    written->start();
    QFuture<void> future = written->future();
    m_writer->enqueue(documentPaths(batch), [this, batch, written, base = m_baseDirectory] {
        const QList<bool> saved = Persistence::saveDocuments(batch, base);
        // Dropped with this object, which cancels the future.
        QMetaObject::invokeMethod(
            this,
            [this, batch, saved, written] {
                for (qsizetype i = 0; i < batch.size(); ++i) {
                    noteResult(batch.at(i).id, saved.at(i));
                }
                written->finish();
            },
            Qt::QueuedConnection);
    });
    return future;
}

bool SaveScheduler::collectionsPending() const
{
    return m_collectionsDue || m_collectionsWrites.landed < m_collectionsWrites.requested;
}

QFuture<void> SaveScheduler::writeWholeFilesInBackground(const QList<Collection> &collections,
                                                         const Persistence::State &state)
{
    m_stateDue.reset();
    m_collectionsDue.reset();
    rearm();
    const quint64 stateGeneration = ++m_stateWrites.requested;
    const quint64 collectionsGeneration = ++m_collectionsWrites.requested;
    auto written = std::make_shared<QPromise<void>>();
    written->start();
    QFuture<void> future = written->future();
    // One job, so that the dirty marks land before the records they mark.
    // The writes of these files it drops count as landed with it.
    m_writer->enqueue(QStringList{stateFile, collectionsFile}, [=, this, base = m_baseDirectory] {
        const WholeFilesSaved saved = saveWholeFiles(state, collections, base);
        QMetaObject::invokeMethod(
            this,
            [=, this] {
                stateLanded(stateGeneration, saved.state, state);
                wholeFileLanded(m_collectionsWrites, collectionsGeneration, collectionsFile,
                                saved.collections);
                written->finish();
            },
            Qt::QueuedConnection);
    });
    return future;
}

void SaveScheduler::writeWholeFilesNow(const QList<Collection> &collections, const Persistence::State &state)
{
    m_stateDue.reset();
    m_collectionsDue.reset();
    rearm();
    WholeFilesSaved saved;
    m_writer->runNow(QStringList{stateFile, collectionsFile},
                     [&] { saved = saveWholeFiles(state, collections, m_baseDirectory); });
    m_stateWrites.landed = ++m_stateWrites.requested;
    m_collectionsWrites.landed = ++m_collectionsWrites.requested;
    if (saved.state) {
        m_stateOnDisk = state;
    } else {
        m_stateOnDisk.reset();
    }
    Q_EMIT fileWritten(stateFile, saved.state);
    Q_EMIT fileWritten(collectionsFile, saved.collections);
    startDeferred();
}

void SaveScheduler::waitForWrites()
{
    m_writer->waitForIdle();
}

void SaveScheduler::flush(const std::function<std::optional<Document>(const QString &)> &current,
                          const QList<Collection> &collections, const Persistence::State &state)
{
    QSet<QString> failed = m_failed;
    QStringList order;
    for (auto it = m_pending.cbegin(); it != m_pending.cend(); ++it) {
        order.append(it.key());
        failed.remove(it.key());
    }
    order += QStringList(failed.cbegin(), failed.cend());
    m_pending.clear();
    m_deadlines.clear();
    m_deferred.clear();
    m_collectionsDue.reset();
    m_stateDue.reset();
    m_settingsDue.reset();
    m_clock->cancelWake();

    // Writes already running finish first, so nothing older lands after the
    // values written here.
    m_writer->waitForIdle();

    // The whole files first, as when they fall due: a record must not land
    // before the state that marks it dirty, nor a document before the
    // collection it is filed in.
    writeWholeFilesNow(collections, state);

    for (const QString &id : std::as_const(order)) {
        if (const std::optional<Document> document = current(id)) {
            writeDocumentNow(*document);
        } else {
            m_failed.remove(id);
        }
    }
}
