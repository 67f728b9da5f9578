#pragma once

#include "store/Collection.h"
#include "store/Document.h"
#include "store/Persistence.h"

#include <QFuture>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

class SaveClock;
class StoreWriter;

// When and how the store's files are written. A document is written 0.4 s
// after the last request for it, collections.json and state.json 0.2 s
// after theirs; the writes run on background threads, and the writes of
// one file always land in the order they were asked for. Lives on the main
// thread with the store that owns it.
//
// The scheduler holds document snapshots; for the two whole files it only
// keeps the due time and asks for the values when they are due
// (collectionsDue(), stateDue()), since every change reschedules them.
class SaveScheduler final : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 documentDelayMs = 400;
    static constexpr qint64 wholeFileDelayMs = 200;
    // The settings file is rewritten and synced whole by any change: a run
    // of switches between documents is mirrored there once.
    static constexpr qint64 settingsDelayMs = 1000;

    // Writes under `baseDirectory`, timed by `clock` (not owned, must outlive
    // the scheduler; null: a steady clock of its own).
    SaveScheduler(const QString &baseDirectory, SaveClock *clock, QObject *parent = nullptr);
    // Waits for running writes and drops pending ones.
    ~SaveScheduler() override;

    const QString &baseDirectory() const { return m_baseDirectory; }

    // Writes `snapshot` after the debounce, replacing any earlier pending
    // save of the same document.
    void scheduleDocument(const Document &snapshot);
    // The same for the document as the source gives it when the write
    // starts (nothing is written when it gives none): a body edited on
    // every key is then shared with no pending save, and can change in
    // place.
    void scheduleCurrentDocument(const QString &id);
    using DocumentSource = std::function<std::optional<Document>(const QString &id)>;
    void setDocumentSource(DocumentSource source) { m_source = std::move(source); }
    void scheduleCollections();
    void scheduleState();
    // Asks for settingsDue() settingsDelayMs after the last request.
    void scheduleSettings();
    // Drops a pending save of `id` (a newer record is written by other means).
    void cancelDocument(const QString &id);
    // Ids of documents whose debounced save has not finished yet.
    QStringList pendingDocumentIDs() const { return m_pending.keys(); }

    // A background write of the state, answering stateDue(). Nothing is
    // written (nor reported) when the file already holds `state`, as the
    // last of this scheduler's writes of it left it.
    void writeState(const Persistence::State &state);
    // Synchronous write on the calling thread, after a running write of the
    // same file; a pending one of that file is dropped.
    void writeDocumentNow(const Document &document);
    // The same for many documents, written together (Persistence::saveDocuments):
    // blocks until every one is on disk or has failed. Of an id given twice,
    // the later record is written.
    void writeDocumentsNow(const QList<Document> &documents);
    // The same batch written on background threads: returns at once. Writes
    // of these documents asked for afterwards land after it. The future
    // finishes on this object's thread once every one is on disk or has
    // failed, after fileWritten() has told each; it is cancelled if the
    // scheduler goes first.
    QFuture<void> writeDocumentsInBackground(const QList<Document> &documents);
    // Whether collections.json has a write due or not yet landed.
    bool collectionsPending() const;
    // Writes the state, then the collections, on a background thread at
    // once, in place of any write of them due or waiting; answers
    // collectionsDue(). The future finishes as writeDocumentsInBackground()'s
    // does.
    QFuture<void> writeWholeFilesInBackground(const QList<Collection> &collections,
                                              const Persistence::State &state);
    // The same on the calling thread: blocks until both have landed.
    void writeWholeFilesNow(const QList<Collection> &collections, const Persistence::State &state);

    // For termination: cancels every pending debounce (the settings' too:
    // their owner writes them), waits for writes
    // already running, then writes the state and the collections, and every
    // pending (or failed) document as `current` returns it now (nullopt: the
    // record is gone), on the calling thread.
    void flush(const std::function<std::optional<Document>(const QString &)> &current,
               const QList<Collection> &collections, const Persistence::State &state);
    // Blocks until every background write started so far has finished.
    void waitForWrites();

    static QString documentPath(const QString &id);

Q_SIGNALS:
    // The collections are due, and the state goes with them: answered by
    // writeWholeFilesInBackground().
    void collectionsDue();
    // Only the state is due: answered by writeState().
    void stateDue();
    // The store's mirror in the settings is due.
    void settingsDue();
    // A file was written (or failed to be): "documents/<id>.json",
    // "collections.json" or "state.json".
    void fileWritten(const QString &relativePath, bool ok);

private:
    struct Pending
    {
        // nullopt: the source's document when the write starts.
        std::optional<Document> snapshot;
        // The latest request; a finishing write clears the entry only when
        // it wrote that one.
        quint64 ticket = 0;
        bool writing = false;
    };
    struct Deadline
    {
        qint64 dueMs = 0;
        QString id;
        quint64 ticket = 0;
    };

    // The writes of one whole file: how many were asked for, and the
    // latest of them that has landed (a write replaced before it started
    // counts as landed with the one that replaced it).
    struct WholeFileWrites
    {
        quint64 requested = 0;
        quint64 landed = 0;
    };
    // A document save that waits for the whole-file writes asked for before
    // it to land.
    struct Deferred
    {
        QString id;
        quint64 ticket = 0;
        quint64 collections = 0;
        quint64 state = 0;
    };

    void wake();
    void rearm();
    // Whether the deadline is its document's latest request, not yet taken.
    bool isLive(const Deadline &deadline) const;
    void dropStaleDeadlines();
    void startDocumentWrite(const QString &id, quint64 ticket);
    void wholeFileLanded(WholeFileWrites &writes, quint64 generation, const QString &file, bool ok);
    void stateLanded(quint64 generation, bool ok, const Persistence::State &state);
    void startDeferred();
    void documentWriteFinished(const QString &id, quint64 ticket, bool ok);
    void noteResult(const QString &id, bool ok);
    // Of an id given twice, the later record.
    static QList<Document> distinct(const QList<Document> &documents);
    static QStringList documentPaths(const QList<Document> &documents);

    QString m_baseDirectory;
    std::unique_ptr<SaveClock> m_ownClock;
    SaveClock *m_clock = nullptr;
    std::unique_ptr<StoreWriter> m_writer;
    DocumentSource m_source;
    QHash<QString, Pending> m_pending;
    // In request order, so also in due order; entries superseded by a newer
    // request of the same document are skipped, and dropped once at the
    // front. One wake-up serves them all, so a keystroke costs the same
    // however many saves are pending.
    std::deque<Deadline> m_deadlines;
    std::optional<qint64> m_collectionsDue;
    std::optional<qint64> m_stateDue;
    std::optional<qint64> m_settingsDue;
    // Documents whose last write failed: written again by their next save
    // and by the flush.
    QSet<QString> m_failed;
    quint64 m_nextTicket = 0;
    WholeFileWrites m_collectionsWrites;
    WholeFileWrites m_stateWrites;
    // What state.json holds after this scheduler's last write of it, when
    // that write succeeded.
    std::optional<Persistence::State> m_stateOnDisk;
    std::deque<Deferred> m_deferred;
};
