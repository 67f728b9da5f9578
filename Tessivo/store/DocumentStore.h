#pragma once

#include "store/Collection.h"
#include "store/Document.h"
#include "store/DocumentIndex.h"
#include "store/ExcerptCache.h"
#include "store/LoadMerge.h"
#include "store/Persistence.h"
#include "store/StoreUIState.h"
#include "store/SyncLedger.h"
#include "store/TextRange.h"

#include <QFuture>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QSettings;
class SaveClock;
class SaveScheduler;

// The one in-memory owner of the user's documents and collections, and of
// the bookkeeping the sync engine needs. Lives on the main thread and takes
// no locks; only file reads at load, the debounced file writes and the
// writes of a pull merged in the background run on background threads,
// each on its own copy of the data.
//
// Observation: every observable field has a getter and one change signal,
// emitted only when the value really changes (stateChanged and localChange
// fire on every change).
//
// Saving: every change is written by itself shortly afterwards (a document
// 0.4 s, collections.json and state.json 0.2 s after the last change).
// Writes of one file always land in the order they were asked for. Call
// flushPendingSaves() when the application terminates.
class DocumentStore final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isLoaded READ isLoaded NOTIFY isLoadedChanged)
    Q_PROPERTY(QString activeDocumentID READ activeDocumentID WRITE setActiveDocumentID NOTIFY
                   activeDocumentIDChanged)
    Q_PROPERTY(QString searchText READ searchText WRITE setSearchText NOTIFY searchTextChanged)

public:
    // A store of its own on the user's data folder, mirroring the active
    // document in `settings` (the application's default settings when null;
    // not owned, must outlive the store). Destroying the store waits for its
    // running writes and drops pending ones: call flushPendingSaves() first
    // to keep them.
    explicit DocumentStore(QSettings *settings = nullptr, QObject *parent = nullptr);
    // The same on `baseDirectory`, its debounced saves timed by `saveClock`
    // (not owned, must outlive the store; null: real time).
    DocumentStore(const QString &baseDirectory, QSettings *settings, SaveClock *saveClock = nullptr,
                  QObject *parent = nullptr);
    ~DocumentStore() override;

    // --- Observable fields ----------------------------------------------

    // Live documents in display order: newest first after a load or a pull,
    // new and imported documents at the front; edits and moves keep places.
    // Views should re-read rather than keep a copy of the list: an edit
    // while a copy is alive has to copy the whole list once.
    const QList<Document> &documents() const { return m_documents; }
    // Deleted documents (deletedAt set); never removed.
    const QList<Document> &tombstones() const { return m_tombstones; }
    // Live collections in Collection::storeOrder after a load, a move or a
    // pull; a new collection is appended at the end.
    const QList<Collection> &collections() const { return m_collections; }
    // Deleted collections; never removed.
    const QList<Collection> &deletedCollections() const { return m_deletedCollections; }
    // True once load() has applied what it read; never false again.
    bool isLoaded() const { return m_isLoaded; }
    // The document open in the editor; empty when none. Setting it mirrors
    // it in the settings under "activeDocumentID" (removed when empty), a
    // second after the last change (SaveScheduler::settingsDelayMs) or at
    // the flush, so that a run of switches rewrites the settings once.
    QString activeDocumentID() const { return m_ui.activeDocumentID(); }
    void setActiveDocumentID(const QString &id);
    // The sidebar's filter text.
    QString searchText() const { return m_ui.searchText(); }
    void setSearchText(const QString &text);
    // The persisted bookkeeping (sync cursor, dirty lists, slugs, welcome flag).
    const Persistence::State &state() const { return m_state; }

    // The lines of the welcome document's "A few things to try" list. The
    // app hands them in before load(), as the ones naming shortcuts name
    // what its menus bind; by default only the tip that names no shortcut.
    void setWelcomeTips(const QStringList &tips) { m_welcomeTips = tips; }

    // Index of the first live document with `id` in documents(), or -1.
    // Constant time: views use it to update a single row.
    qsizetype indexOfDocument(const QString &id) const;

    // --- Loading ----------------------------------------------------------

    // Reads every file off the main thread and applies the result on the
    // main thread in one step, then seeds the welcome document on a first
    // run. A second call while the first is reading returns the same
    // future; a call after loading returns a finished one. Documents and
    // collections created (and edits made) before it finishes are kept.
    // Without a usable state file, every live document is marked dirty, as
    // any of them may hold what was typed here and not yet synced; a pull
    // that finds the service holding the very version here clears the mark.
    QFuture<void> load();

    // --- Documents ----------------------------------------------------------

    // A new document at the front, made active, marked dirty, saved later.
    Document createDocument(const std::optional<QString> &collectionId = std::nullopt,
                            const QString &body = QString());
    // Sets the body of a live document, derives its title again (unless a
    // front-matter title overrides it), moves updatedAt forward, keeps its
    // place. Nothing happens for an unknown id or an unchanged body.
    void updateBody(const QString &body, const QString &documentID);
    // The same for the body these edits, applied in order, make of the
    // stored one: an editor hands over each change instead of the whole
    // text, so a long body is not copied on every key. False, changing
    // nothing, for an unknown id or when the edits do not fit the stored
    // body or would not leave it `resultLength` long: the caller then hands
    // over the whole text.
    bool editBody(const QList<TextEdit> &edits, qsizetype resultLength, const QString &documentID);
    // Appends `text` after a blank line; false for an unknown id.
    bool appendText(const QString &text, const QString &documentID);
    // Turns a live document into a tombstone (empty title and body).
    void deleteDocument(const QString &documentID);
    // Files a live document in `collectionId` (nullopt: unfiled).
    void moveDocument(const QString &documentID, const std::optional<QString> &collectionId);

    std::optional<Document> activeDocument() const;
    // The first live document with `id`; tombstones are not searched.
    std::optional<Document> document(const QString &id) const;
    // The first live collection with `id`; nullopt for no id.
    std::optional<Collection> collection(const std::optional<QString> &id) const;
    // Lower-cased, trimmed display title to the id of the first document
    // (in list order) with that title. Built on every call.
    QHash<QString, QString> documentIDsByTitle() const;
    std::optional<QString> publishedSlug(const QString &documentID) const;
    // The sidebar excerpt: the front-matter description when it overrides,
    // else the body's excerpt. Cached per id while updatedAt is unchanged.
    QString excerpt(const Document &document) const;

    // --- Saving -------------------------------------------------------------

    void scheduleSave(const Document &document);
    void scheduleCollectionsSave();
    void scheduleStateSave();
    // For termination: cancels every pending debounce, waits for writes
    // already running, then writes every pending (or failed) document, the
    // collections and the state synchronously, and mirrors the active
    // document in the settings. A store that has not loaded
    // yet reads its files first, so that nothing on disk is replaced by a
    // partial list.
    void flushPendingSaves();
    void flush() { flushPendingSaves(); }
    // Ids of documents whose debounced save has not finished yet.
    QStringList pendingSaveIDs() const;
    // Blocks until every background write started so far has finished.
    void waitForWrites();

    // --- Collections ----------------------------------------------------------

    // Nothing when the trimmed name is empty; a parent that cannot take a
    // child is dropped (top level).
    std::optional<Collection> createCollection(const QString &name,
                                               const std::optional<QString> &parentID = std::nullopt);
    void renameCollection(const QString &id, const QString &name);
    // False when refused; true when moved or already there.
    bool moveCollection(const QString &id, const std::optional<QString> &targetParentID);
    void deleteCollection(const QString &id);

    // --- Sync bookkeeping -------------------------------------------------------

    struct PullResult
    {
        // Pulled records whose local copy is newer, in pulled order.
        QStringList documentIDs;
        QStringList collectionIDs;
        // Conflicted copies the pull made (dirty, still to be pushed).
        QStringList copyIDs;
    };

    void markDocumentDirty(const QString &id);
    void markCollectionDirty(const QString &id);
    // Dirty live records first, then dirty deleted ones. Remembers which
    // version of each record it handed out (see clearDirty).
    QList<Document> dirtyDocumentsForPush();
    QList<Collection> dirtyCollectionsForPush();
    // Merges pulled records (newer updatedAt wins) and never emits
    // localChange. A record the pull replaces is no longer dirty; a live one
    // whose local copy is newer is marked dirty, as it must be pushed (a
    // deleted one is pushed only when it is dirty already).
    //
    // No text is lost to a document changed both here and elsewhere: when a
    // pulled version meets a dirty local copy and was written without seeing
    // it (it is neither the version last agreed on with the service, nor
    // the one whose server time the local copy carries, nor the echo of a
    // push from here), the losing body, whichever side wins, is
    // kept as a new dirty document "<title> (conflicted copy)" (see
    // RecordIds::conflictedCopyPlace; never made twice, and never in place
    // of another text's copy), on disk with its dirty
    // mark before anything is replaced. It goes in the loser's collection
    // when that is live here, else in the winner's. A dirty local copy that
    // wins takes the pulled server time.
    PullResult applyPull(const QList<Document> &documents, const QList<Collection> &collections);
    struct PendingPull
    {
        PullResult result;
        // Finishes once every pulled document, and collections.json when
        // it had a write pending, is on disk or has failed.
        QFuture<void> written;
    };
    // The same merge, in memory at once, but the pulled documents are
    // written on background threads, so that a first sync of thousands does
    // not hold up the main thread. A cursor past them must wait for
    // `written`; later saves of these documents land after them.
    PendingPull applyPullInBackground(const QList<Document> &documents, const QList<Collection> &collections);
    // The service holds these documents as pushed (it answered "ok").
    void noteAccepted(const QList<Document> &documents);
    void advanceSyncCursor(qint64 value);
    // Sets the cursor back to 0, so the next pull brings every record again
    // (another account signed in), and raises the cursor epoch. The dirty
    // lists are kept.
    void resetSyncCursor();
    // Raised by every resetSyncCursor() in this run: a pass that began under
    // another epoch must not move the cursor.
    quint64 syncCursorEpoch() const { return m_cursorEpoch; }
    // Removes the ids from the dirty lists, except those whose record was
    // changed again after the last dirty*ForPush() handed it out (or
    // applyPull() returned it as newer here).
    void clearDirty(const QStringList &documentIDs, const QStringList &collectionIDs);
    // Records (or with nullopt removes) the slug of a published document.
    void setPublishedSlug(const std::optional<QString> &slug, const QString &documentID);

    // --- Search, link titles, import ----------------------------------------------

    // Live documents whose display title or body contains the trimmed,
    // lower-cased search text, in list order.
    QList<Document> filteredDocuments() const;
    // One display title per distinct (trimmed, lower-cased) title.
    QStringList linkTitles() const;
    // A new document "# <title>\n\n" for a wiki link without target.
    Document createDocumentTitled(const QString &title, const std::optional<QString> &collectionId);
    // A new unfiled document from a Markdown file: front matter split off,
    // `name` as title when the body gives none.
    Document importMarkdown(const QString &name, const QString &text);

    // --- Testing ---------------------------------------------------------------

    // Replaces the clock (milliseconds since 1970) used for timestamps.
    void setClockForTesting(std::function<qint64()> clock);

Q_SIGNALS:
    // `changedDocumentID` names the one document that changed in place (same
    // index, nothing else in the list touched); it is empty when the list
    // changed as a whole (insertions, removals, reordering, load, pull).
    void documentsChanged(const QString &changedDocumentID);
    // editBody() changed the document's body by these edits; comes just
    // before its documentsChanged(), so that a holder of the text can follow
    // the edits instead of sharing the body (which an edit would copy).
    void bodyEdited(const QString &documentID, const QList<TextEdit> &edits);
    void tombstonesChanged();
    void collectionsChanged();
    void deletedCollectionsChanged();
    void isLoadedChanged();
    void activeDocumentIDChanged();
    void searchTextChanged();
    void stateChanged();
    // After every local change that marks a record dirty, once the change
    // and its mark are complete. The sync engine connects to it.
    void localChange();
    // A file of this store was written (or failed to be): "documents/<id>.json",
    // "collections.json" or "state.json".
    void fileWritten(const QString &relativePath, bool ok);

private:
    qint64 now() const;
    qint64 bumped(qint64 updatedAt) const;
    // Which record lists a load or a pull changed, told in this order.
    struct ListChanges
    {
        bool documents = false;
        bool tombstones = false;
        bool collections = false;
        bool deletedCollections = false;
    };
    void emitDocumentsChanged(const QString &changedID = QString());
    void emitListChanges(const ListChanges &changes);
    void syncStateWithLedger();
    void applyLoad(LoadMerge::Read &&read);
    bool presumeDocumentsChanged();
    bool seedWelcomeDocument();
    void markDirty(SyncLedger::Kind kind, const QString &id);
    // `write` takes the pulled documents to put on disk.
    PullResult mergePull(const QList<Document> &documents, const QList<Collection> &collections,
                         const std::function<void(const QList<Document> &)> &write);
    QStringList settleDirtyDocuments(const QList<Document> &pulled);
    QSet<QString> confirmPresumed(const QList<Document> &pulled);
    Document *anyDocumentRecord(const QString &id);
    bool isLiveCollection(const std::optional<QString> &id) const;
    void documentEdited(qsizetype index);
    void collectionEdited(const QString &id);
    std::optional<Document> anyDocument(const QString &id) const;

    QList<Document> m_documents;
    QList<Document> m_tombstones;
    QList<Collection> m_collections;
    QList<Collection> m_deletedCollections;
    bool m_isLoaded = false;
    StoreUIState m_ui;
    // Its dirty lists mirror the ledger's.
    Persistence::State m_state;
    SyncLedger m_ledger;
    // Live documents marked dirty at load because the state file was lost,
    // and not pulled since in this run.
    QSet<QString> m_presumedChanged;
    quint64 m_cursorEpoch = 0;

    DocumentIndex m_documentIndex;
    ExcerptCache m_excerpts;
    SaveScheduler *m_saves = nullptr;
    QStringList m_welcomeTips{QStringLiteral("- Lists continue themselves when you press Return.")};
    QFuture<void> m_loadFuture;
    bool m_loadStarted = false;
    // The running read, which the flush waits for and applies at once.
    QFuture<LoadMerge::Read> m_reading;
    // Whole-file saves that fell due before the files were read: written
    // once they have been, so that nothing on disk is replaced by a partial
    // list.
    bool m_collectionsSaveAfterLoad = false;
    bool m_stateSaveAfterLoad = false;
    std::function<qint64()> m_clock;
};
