#include "DocumentStore.h"

#include "store/CollectionTree.h"
#include "store/DocumentQueries.h"
#include "store/LoadMerge.h"
#include "store/PullMerge.h"
#include "store/RecordEdits.h"
#include "store/RecordIds.h"
#include "store/RecordLists.h"
#include "store/SaveScheduler.h"
#include "store/ThenWhileAlive.h"
#include "store/WelcomeText.h"

#include <QDateTime>
#include <QPromise>
#include <QSettings>
#include <QThreadPool>

#include <algorithm>

using RecordLists::sortNewestFirst;
using RecordLists::Version;
using RecordLists::versionsOf;

DocumentStore::DocumentStore(QSettings *settings, QObject *parent)
    : DocumentStore(Persistence::baseDirectory(), settings, nullptr, parent)
{}

DocumentStore::DocumentStore(const QString &baseDirectory, QSettings *settings, SaveClock *saveClock,
                             QObject *parent)
    : QObject(parent), m_ui(settings), m_saves(new SaveScheduler(baseDirectory, saveClock, this)),
      m_clock([] { return QDateTime::currentMSecsSinceEpoch(); })
{
    connect(m_saves, &SaveScheduler::fileWritten, this, &DocumentStore::fileWritten);
    // An edit asks for the document's save without a copy of it; the
    // record is taken as it is when the write starts.
    m_saves->setDocumentSource([this](const QString &id) { return document(id); });
    // Every change reschedules these writes, so the values as they are when
    // due are those of the last request.
    connect(m_saves, &SaveScheduler::collectionsDue, this, [this] {
        if (!m_isLoaded) {
            m_collectionsSaveAfterLoad = m_stateSaveAfterLoad = true;
            return;
        }
        m_saves->writeWholeFilesInBackground(m_collections + m_deletedCollections, m_state);
    });
    connect(m_saves, &SaveScheduler::settingsDue, this, [this] { m_ui.writeMirror(); });
    connect(m_saves, &SaveScheduler::stateDue, this, [this] {
        if (!m_isLoaded) {
            m_stateSaveAfterLoad = true;
            return;
        }
        m_saves->writeState(m_state);
    });
}

DocumentStore::~DocumentStore()
{
    // The scheduler waits for its running writes, which post to it.
    delete m_saves;
    m_saves = nullptr;
}

void DocumentStore::setClockForTesting(std::function<qint64()> clock)
{
    m_clock = std::move(clock);
}

qint64 DocumentStore::now() const
{
    return m_clock();
}

qint64 DocumentStore::bumped(qint64 updatedAt) const
{
    return RecordEdits::bumped(updatedAt, now());
}

// --- Observable fields --------------------------------------------------------

void DocumentStore::setActiveDocumentID(const QString &id)
{
    if (m_ui.setActiveDocumentID(id)) {
        m_saves->scheduleSettings();
        Q_EMIT activeDocumentIDChanged();
    }
}

void DocumentStore::setSearchText(const QString &text)
{
    if (m_ui.setSearchText(text)) {
        Q_EMIT searchTextChanged();
    }
}

void DocumentStore::syncStateWithLedger()
{
    m_state.dirtyDocumentIDs = m_ledger.dirtyIDs(SyncLedger::Kind::Document);
    m_state.dirtyCollectionIDs = m_ledger.dirtyIDs(SyncLedger::Kind::Collection);
}

qsizetype DocumentStore::indexOfDocument(const QString &id) const
{
    return m_documentIndex.find(m_documents, id);
}

void DocumentStore::emitDocumentsChanged(const QString &changedID)
{
    if (changedID.isEmpty()) {
        m_documentIndex.invalidate();
    }
    Q_EMIT documentsChanged(changedID);
}

void DocumentStore::emitListChanges(const ListChanges &changes)
{
    if (changes.documents) {
        emitDocumentsChanged();
    }
    if (changes.tombstones) {
        Q_EMIT tombstonesChanged();
    }
    if (changes.collections) {
        Q_EMIT collectionsChanged();
    }
    if (changes.deletedCollections) {
        Q_EMIT deletedCollectionsChanged();
    }
}

// --- Loading --------------------------------------------------------------------

QFuture<void> DocumentStore::load()
{
    if (m_isLoaded) {
        return QtFuture::makeReadyFuture();
    }
    if (m_loadStarted) {
        // A second caller waits for the running load instead of reading again.
        return m_loadFuture;
    }
    m_loadStarted = true;
    // The continuation is attached before the read starts: attached to a
    // read that had already finished, it would apply the load inside this
    // call, and the caller could not tell a running load from a done one.
    auto promise = std::make_shared<QPromise<LoadMerge::Read>>();
    m_reading = promise->future();
    m_loadFuture =
        thenWhileAlive(m_reading, this, [this](LoadMerge::Read read) { applyLoad(std::move(read)); });
    promise->start();
    QThreadPool::globalInstance()->start([promise, base = m_saves->baseDirectory()] {
        promise->addResult(LoadMerge::readFrom(base));
        promise->finish();
    });
    return m_loadFuture;
}

void DocumentStore::applyLoad(LoadMerge::Read &&read)
{
    if (m_isLoaded) {
        return; // the flush applied it already
    }
    const bool hadLocalState = !(m_state == Persistence::State{});
    const bool stateRead = read.stateRead;
    LoadMerge::Records merged = LoadMerge::merge(
        {m_documents, m_tombstones, m_collections, m_deletedCollections, m_state}, std::move(read));

    // One uninterrupted step: observers are told only after every field is set.
    ListChanges changes{merged.documents != m_documents, merged.tombstones != m_tombstones,
                        merged.collections != m_collections,
                        merged.deletedCollections != m_deletedCollections};
    m_documents = std::move(merged.documents);
    m_tombstones = std::move(merged.tombstones);
    m_collections = std::move(merged.collections);
    m_deletedCollections = std::move(merged.deletedCollections);
    m_documentIndex.invalidate();
    m_state = std::move(merged.state);
    m_ledger.reset(m_state.dirtyDocumentIDs, m_state.dirtyCollectionIDs);
    const bool presumed = !stateRead && presumeDocumentsChanged();
    syncStateWithLedger();

    const bool seeded = seedWelcomeDocument();
    changes.documents = changes.documents || seeded;

    const QString saved = m_ui.savedActiveDocumentID();
    QString active;
    if (!saved.isEmpty() && indexOfDocument(saved) >= 0) {
        active = saved;
    } else if (!m_documents.isEmpty()) {
        active = m_documents.first().id;
    }

    m_isLoaded = true;

    emitListChanges(changes);
    Q_EMIT stateChanged();
    setActiveDocumentID(active);
    Q_EMIT isLoadedChanged();

    if (seeded || hadLocalState || presumed || m_stateSaveAfterLoad) {
        m_saves->scheduleState();
    }
    if (m_collectionsSaveAfterLoad) {
        m_saves->scheduleCollections();
    }
    m_stateSaveAfterLoad = m_collectionsSaveAfterLoad = false;
}

// The dirty marks are the only record of what was changed here and not yet
// taken by the service: with the state file gone, any live document may have
// been, so each is marked, and the marks go to the next state file. A pull
// then treats it as any dirty document: a version from elsewhere that
// replaces a different text here leaves that text as a conflicted copy, and
// one the service lacks is pushed. Tombstones are not marked: a deletion
// pushed on a guess would remove the document everywhere. Nor is a welcome
// document never synced and never edited: it holds nothing typed here, and
// each computer has its own.
bool DocumentStore::presumeDocumentsChanged()
{
    const QString welcome = welcomeDocumentBody(m_welcomeTips);
    bool marked = false;
    for (const Document &d : std::as_const(m_documents)) {
        if (!d.serverUpdatedAt && d.body == welcome) {
            continue;
        }
        if (!m_ledger.isDirty(SyncLedger::Kind::Document, d.id)) {
            m_ledger.mark(SyncLedger::Kind::Document, d.id);
            m_presumedChanged.insert(d.id);
            marked = true;
        }
    }
    return marked;
}

// Only on a first run: never seeded and nothing loaded. Written at once.
bool DocumentStore::seedWelcomeDocument()
{
    if (m_state.welcomeSeeded || !m_documents.isEmpty()) {
        return false;
    }
    Document welcome(welcomeDocumentBody(m_welcomeTips), std::nullopt);
    welcome.createdAt = welcome.updatedAt = now();
    m_documents = {welcome};
    m_state.welcomeSeeded = true;
    m_saves->writeDocumentNow(welcome);
    return true;
}

// --- Documents --------------------------------------------------------------------

Document DocumentStore::createDocument(const std::optional<QString> &collectionId, const QString &body)
{
    Document document(body, collectionId);
    document.createdAt = document.updatedAt = now();
    m_documents.prepend(document);
    emitDocumentsChanged();
    setActiveDocumentID(document.id);
    markDocumentDirty(document.id);
    m_saves->scheduleDocument(document);
    return document;
}

void DocumentStore::updateBody(const QString &body, const QString &documentID)
{
    const qsizetype index = indexOfDocument(documentID);
    if (index < 0) {
        return;
    }
    Document &d = m_documents[index];
    if (d.body == body) {
        return;
    }
    d.body = body;
    RecordEdits::retitle(d);
    d.updatedAt = bumped(d.updatedAt);
    documentEdited(index);
}

bool DocumentStore::editBody(const QList<TextEdit> &edits, qsizetype resultLength, const QString &documentID)
{
    const qsizetype index = indexOfDocument(documentID);
    if (index < 0) {
        return false;
    }
    Document &d = m_documents[index];
    // The pending save and the preview take the body when they need it, so
    // nothing else holds it here.
    const RecordEdits::BodyEdit edited = RecordEdits::applyEdits(d.body, edits, resultLength);
    if (edited != RecordEdits::BodyEdit::Changed) {
        return edited == RecordEdits::BodyEdit::Unchanged;
    }
    RecordEdits::retitle(d);
    d.updatedAt = bumped(d.updatedAt);
    Q_EMIT bodyEdited(documentID, edits);
    documentEdited(index);
    return true;
}

bool DocumentStore::appendText(const QString &text, const QString &documentID)
{
    const qsizetype index = indexOfDocument(documentID);
    if (index < 0) {
        return false;
    }
    updateBody(RecordEdits::appended(m_documents.at(index).body, text), documentID);
    return true;
}

void DocumentStore::deleteDocument(const QString &documentID)
{
    const qsizetype index = indexOfDocument(documentID);
    if (index < 0) {
        return;
    }
    const Document tombstone = RecordEdits::tombstone(m_documents.takeAt(index), now());
    m_tombstones.append(tombstone);
    emitDocumentsChanged();
    Q_EMIT tombstonesChanged();

    if (m_ui.activeDocumentID() == documentID) {
        setActiveDocumentID(RecordEdits::nextActive(m_documents, tombstone.collectionId));
    }
    markDocumentDirty(documentID);
    m_saves->scheduleDocument(tombstone);
}

void DocumentStore::moveDocument(const QString &documentID, const std::optional<QString> &collectionId)
{
    const qsizetype index = indexOfDocument(documentID);
    if (index < 0) {
        return;
    }
    Document &d = m_documents[index];
    if (d.collectionId == collectionId) {
        return;
    }
    d.collectionId = collectionId;
    d.updatedAt = bumped(d.updatedAt);
    documentEdited(index);
}

std::optional<Document> DocumentStore::activeDocument() const
{
    if (m_ui.activeDocumentID().isEmpty()) {
        return std::nullopt;
    }
    return document(m_ui.activeDocumentID());
}

std::optional<Document> DocumentStore::document(const QString &id) const
{
    const qsizetype index = indexOfDocument(id);
    if (index < 0) {
        return std::nullopt;
    }
    return m_documents.at(index);
}

std::optional<Collection> DocumentStore::collection(const std::optional<QString> &id) const
{
    if (!id) {
        return std::nullopt;
    }
    for (const Collection &c : m_collections) {
        if (c.id == *id) {
            return c;
        }
    }
    return std::nullopt;
}

QHash<QString, QString> DocumentStore::documentIDsByTitle() const
{
    return DocumentQueries::idsByTitle(m_documents);
}

std::optional<QString> DocumentStore::publishedSlug(const QString &documentID) const
{
    const auto it = m_state.publishedSlugs.constFind(documentID);
    if (it == m_state.publishedSlugs.cend()) {
        return std::nullopt;
    }
    return *it;
}

QString DocumentStore::excerpt(const Document &document) const
{
    return m_excerpts.excerpt(document);
}

// --- Saving ---------------------------------------------------------------------------

void DocumentStore::scheduleSave(const Document &document)
{
    m_saves->scheduleDocument(document);
}

void DocumentStore::scheduleCollectionsSave()
{
    m_saves->scheduleCollections();
}

void DocumentStore::scheduleStateSave()
{
    m_saves->scheduleState();
}

QStringList DocumentStore::pendingSaveIDs() const
{
    return m_saves->pendingDocumentIDs();
}

void DocumentStore::waitForWrites()
{
    m_saves->waitForWrites();
}

std::optional<Document> DocumentStore::anyDocument(const QString &id) const
{
    const qsizetype index = indexOfDocument(id);
    if (index >= 0) {
        return m_documents.at(index);
    }
    const auto tomb = std::find_if(m_tombstones.cbegin(), m_tombstones.cend(),
                                   [&id](const Document &d) { return d.id == id; });
    return tomb != m_tombstones.cend() ? std::optional(*tomb) : std::nullopt;
}

void DocumentStore::flushPendingSaves()
{
    // The collections and state files are written whole: they must hold
    // what is on disk merged with what changed here, so the files are read
    // first if that has not happened yet.
    if (!m_isLoaded) {
        load();
        // Applied here at once; the continuation then finds it loaded.
        applyLoad(m_reading.result());
    }
    m_saves->flush([this](const QString &id) { return anyDocument(id); },
                   m_collections + m_deletedCollections, m_state);
    m_ui.writeMirror();
}

// --- Collections ---------------------------------------------------------------------

std::optional<Collection> DocumentStore::createCollection(const QString &name,
                                                          const std::optional<QString> &parentID)
{
    const std::optional<Collection> created =
        RecordEdits::createCollection(m_collections, name, parentID, now());
    if (created) {
        collectionEdited(created->id);
    }
    return created;
}

void DocumentStore::renameCollection(const QString &id, const QString &name)
{
    if (RecordEdits::renameCollection(m_collections, id, name, now())) {
        collectionEdited(id);
    }
}

bool DocumentStore::moveCollection(const QString &id, const std::optional<QString> &targetParentID)
{
    const RecordEdits::Move moved = RecordEdits::moveCollection(m_collections, id, targetParentID, now());
    if (moved == RecordEdits::Move::Moved) {
        collectionEdited(id);
    }
    return moved != RecordEdits::Move::Refused;
}

void DocumentStore::deleteCollection(const QString &id)
{
    const auto it = std::find_if(m_collections.cbegin(), m_collections.cend(),
                                 [&](const Collection &c) { return c.id == id; });
    if (it == m_collections.cend()) {
        return;
    }
    m_deletedCollections.append(
        RecordEdits::deleted(m_collections.takeAt(it - m_collections.cbegin()), now()));
    Q_EMIT collectionsChanged();
    Q_EMIT deletedCollectionsChanged();
    markCollectionDirty(id);
    m_saves->scheduleCollections();
}

// An edit in place: observers first, then the dirty mark, then the save.
void DocumentStore::documentEdited(qsizetype index)
{
    const QString id = m_documents.at(index).id;
    emitDocumentsChanged(id);
    markDocumentDirty(id);
    m_saves->scheduleCurrentDocument(id);
}

void DocumentStore::collectionEdited(const QString &id)
{
    Q_EMIT collectionsChanged();
    markCollectionDirty(id);
    m_saves->scheduleCollections();
}

// --- Sync bookkeeping ---------------------------------------------------------------------

void DocumentStore::markDocumentDirty(const QString &id)
{
    markDirty(SyncLedger::Kind::Document, id);
}

void DocumentStore::markCollectionDirty(const QString &id)
{
    markDirty(SyncLedger::Kind::Collection, id);
}

// Counts the change, puts the id on its dirty list once, saves the state
// later and tells the sync engine, in that order.
void DocumentStore::markDirty(SyncLedger::Kind kind, const QString &id)
{
    if (m_ledger.mark(kind, id)) {
        syncStateWithLedger();
        Q_EMIT stateChanged();
    }
    m_saves->scheduleState();
    Q_EMIT localChange();
}

QList<Document> DocumentStore::dirtyDocumentsForPush()
{
    return m_ledger.handOutDirty(SyncLedger::Kind::Document, m_documents, m_tombstones);
}

QList<Collection> DocumentStore::dirtyCollectionsForPush()
{
    return m_ledger.handOutDirty(SyncLedger::Kind::Collection, m_collections, m_deletedCollections);
}

DocumentStore::PullResult DocumentStore::applyPull(const QList<Document> &documents,
                                                   const QList<Collection> &collections)
{
    // On disk before this returns, so that the cursor the caller stores next
    // never passes a pulled record that a crash could still lose.
    PullResult result = mergePull(documents, collections, [this](const QList<Document> &pulled) {
        m_saves->writeDocumentsNow(pulled);
    });
    if (m_saves->collectionsPending()) {
        m_saves->writeWholeFilesNow(m_collections + m_deletedCollections, m_state);
    }
    return result;
}

DocumentStore::PendingPull DocumentStore::applyPullInBackground(const QList<Document> &documents,
                                                                const QList<Collection> &collections)
{
    PendingPull pending;
    pending.written = QtFuture::makeReadyFuture();
    pending.result = mergePull(documents, collections, [&](const QList<Document> &pulled) {
        pending.written = m_saves->writeDocumentsInBackground(pulled);
    });
    // The cursor moves past the pulled collections too, among them this
    // computer's own new ones coming back with their server time: a kill
    // before the debounced collections.json lands would leave them neither
    // here nor ever pulled again.
    if (m_saves->collectionsPending()) {
        QFuture<void> wholeFiles =
            m_saves->writeWholeFilesInBackground(m_collections + m_deletedCollections, m_state);
        pending.written = pending.written.then([wholeFiles] { return wholeFiles; }).unwrap();
    }
    return pending;
}

DocumentStore::PullResult DocumentStore::mergePull(const QList<Document> &documents,
                                                   const QList<Collection> &collections,
                                                   const std::function<void(const QList<Document> &)> &write)
{
    PullResult result;
    if (documents.isEmpty() && collections.isEmpty()) {
        return result;
    }
    result.copyIDs = settleDirtyDocuments(documents);
    const QList<Version> documentsBefore = versionsOf(m_documents);
    const QList<Version> tombstonesBefore = versionsOf(m_tombstones);
    const QList<Version> collectionsBefore = versionsOf(m_collections);
    const QList<Version> deletedBefore = versionsOf(m_deletedCollections);
    QSet<QString> undirtyDocuments;
    QSet<QString> undirtyCollections;

    QList<Document> pulledToWrite;
    result.documentIDs = PullMerge::mergePulled(documents, m_documents, m_tombstones, [&](const Document &p) {
        undirtyDocuments.insert(p.id);
        // A debounced save still waiting holds an older version; it must
        // not overwrite the record written here.
        m_saves->cancelDocument(p.id);
        pulledToWrite.append(p);
    });
    // The merge moved documents about; positions found before are stale.
    m_documentIndex.invalidate();
    write(pulledToWrite);
    const bool confirmed = m_ledger.forget(SyncLedger::Kind::Document, confirmPresumed(documents));
    result.collectionIDs =
        PullMerge::mergePulled(collections, m_collections, m_deletedCollections,
                               [&](const Collection &p) { undirtyCollections.insert(p.id); });
    const bool changed = !undirtyDocuments.isEmpty() || !undirtyCollections.isEmpty();

    // A record whose local copy is newer must reach the service, and the
    // cursor is about to move past the version that said so: it is marked
    // dirty here, and lands in the same state file as the cursor, so that a
    // pass that ends before its push leaves it for the next one. Handed out
    // at once, so that an edit made while that push is in flight survives
    // clearDirty just the same. Only live records: a deletion newer here goes
    // out only when it was made here since the last push (it is dirty then
    // already), never because the service holds an older version.
    bool marked = false;
    for (const QString &id : std::as_const(result.documentIDs)) {
        if (const std::optional<Document> d = document(id)) {
            marked = m_ledger.mark(SyncLedger::Kind::Document, id) || marked;
            m_ledger.handOut(SyncLedger::Kind::Document, id, d->updatedAt);
        }
    }
    for (const QString &id : std::as_const(result.collectionIDs)) {
        if (collection(id)) {
            marked = m_ledger.mark(SyncLedger::Kind::Collection, id) || marked;
            m_ledger.handOut(SyncLedger::Kind::Collection, id, 0);
        }
    }

    if (!changed) {
        if (marked || confirmed) {
            syncStateWithLedger();
            Q_EMIT stateChanged();
            scheduleStateSave();
        }
        return result;
    }

    sortNewestFirst(m_documents);
    // Observers of the signals below look documents up by id: the index of
    // the old list must not answer them.
    m_documentIndex.invalidate();
    std::stable_sort(m_collections.begin(), m_collections.end(), Collection::storeOrder);

    m_ledger.forget(SyncLedger::Kind::Document, undirtyDocuments);
    m_ledger.forget(SyncLedger::Kind::Collection, undirtyCollections);
    syncStateWithLedger();
    Q_EMIT stateChanged();

    emitListChanges({versionsOf(m_documents) != documentsBefore, versionsOf(m_tombstones) != tombstonesBefore,
                     versionsOf(m_collections) != collectionsBefore,
                     versionsOf(m_deletedCollections) != deletedBefore});

    if (!m_ui.activeDocumentID().isEmpty() && indexOfDocument(m_ui.activeDocumentID()) < 0) {
        setActiveDocumentID(m_documents.isEmpty() ? QString() : m_documents.first().id);
    }
    scheduleCollectionsSave();
    scheduleStateSave();
    return result;
}

// The documents marked only because the state file was lost, among those
// pulled, that hold just the version the service sent: nothing of them
// is left to push. Every pulled one is presumed no longer.
QSet<QString> DocumentStore::confirmPresumed(const QList<Document> &pulled)
{
    QSet<QString> confirmed;
    if (m_presumedChanged.isEmpty()) {
        return confirmed;
    }
    for (const Document &p : pulled) {
        if (!m_presumedChanged.remove(p.id)) {
            continue;
        }
        const std::optional<Document> local = anyDocument(p.id);
        if (local && PullMerge::winner(p, *local) == PullMerge::Winner::same) {
            confirmed.insert(p.id);
        }
    }
    return confirmed;
}

Document *DocumentStore::anyDocumentRecord(const QString &id)
{
    const qsizetype index = indexOfDocument(id);
    if (index >= 0) {
        return &m_documents[index];
    }
    const auto it = std::find_if(m_tombstones.begin(), m_tombstones.end(),
                                 [&id](const Document &d) { return d.id == id; });
    return it == m_tombstones.end() ? nullptr : &*it;
}

bool DocumentStore::isLiveCollection(const std::optional<QString> &id) const
{
    return id && collection(id).has_value();
}

// Last writer wins, but what was typed here is never simply thrown away: a
// pulled version that meets a dirty local copy without having seen it
// leaves the losing text behind as a copy. The copies, the re-stamped
// winners and the dirty marks reach the disk before the pulled records
// overwrite anything, so a crash in between loses nothing. Returns the ids
// of the copies made.
QStringList DocumentStore::settleDirtyDocuments(const QList<Document> &pulled)
{
    QList<Document> copies;
    QList<Document> restamped;
    QSet<QString> seen;
    // The copies made by this call, by id, with their text.
    QHash<QString, QString> copyIDs;
    // The pulled documents by id, once a copy needs them.
    QHash<QString, const Document *> pulledByID;
    for (const Document &p : pulled) {
        if (seen.contains(p.id)) {
            continue;
        }
        seen.insert(p.id);
        const bool dirty = m_ledger.isDirty(SyncLedger::Kind::Document, p.id);
        const bool known = m_ledger.isKnownVersion(SyncLedger::Kind::Document, p.id, p.updatedAt);
        m_ledger.noteAgreed(SyncLedger::Kind::Document, p.id, p.updatedAt);
        Document *local = dirty ? anyDocumentRecord(p.id) : nullptr;
        if (!local) {
            continue;
        }
        // The server time a local copy carries names the version it last
        // agreed with, in an earlier run too: the text it was edited from,
        // or one already settled against.
        const bool concurrent = !known && !(p.serverUpdatedAt && p.serverUpdatedAt == local->serverUpdatedAt);
        const PullMerge::DirtyMerge merge = PullMerge::mergeDirty(*local, p, concurrent);
        if (merge.loser) {
            const Document &loser = *merge.loser;
            // Its first id may hold the copy of another version changed at
            // the same moment, here or in this pull (the service's own copy
            // comes with the version that replaced it): the text then goes
            // to the next id, as the service places it.
            if (pulledByID.isEmpty()) {
                for (const Document &d : pulled) {
                    pulledByID.insert(d.id, &d);
                }
            }
            const auto slot = [&](const QString &id) {
                const auto made = copyIDs.constFind(id);
                if (made != copyIDs.cend()) {
                    return *made == loser.body ? RecordIds::CopySlot::sameText
                                               : RecordIds::CopySlot::otherText;
                }
                const Document *coming = pulledByID.value(id);
                const std::optional<Document> held = anyDocument(id);
                if (!coming && !held) {
                    return RecordIds::CopySlot::free;
                }
                const auto sameText = [&](const Document &d) { return !d.deletedAt && d.body == loser.body; };
                return (coming && sameText(*coming)) || (held && sameText(*held))
                           ? RecordIds::CopySlot::sameText
                           : RecordIds::CopySlot::otherText;
            };
            // One id more than are held here is always enough.
            const qsizetype tries =
                m_documents.size() + m_tombstones.size() + pulled.size() + copyIDs.size() + 1;
            const std::optional<RecordIds::CopyPlace> copyPlace =
                RecordIds::conflictedCopyPlace(loser.id, loser.updatedAt, tries, slot);
            if (copyPlace && !copyPlace->made) {
                const QString &copyID = copyPlace->id;
                const Document &kept = merge.winner == PullMerge::Winner::local ? *local : p;
                std::optional<QString> place;
                if (isLiveCollection(loser.collectionId)) {
                    place = loser.collectionId;
                } else if (isLiveCollection(kept.collectionId)) {
                    place = kept.collectionId;
                }
                copyIDs.insert(copyID, loser.body);
                copies.append(RecordEdits::conflictedCopy(loser, copyID, place, now()));
            }
        }
        if (merge.restampLocal) {
            local->serverUpdatedAt = p.serverUpdatedAt;
            restamped.append(*local);
        }
    }
    if (copies.isEmpty() && restamped.isEmpty()) {
        return {};
    }
    for (const Document &copy : std::as_const(copies)) {
        m_documents.prepend(copy);
        m_ledger.mark(SyncLedger::Kind::Document, copy.id);
    }
    m_documentIndex.invalidate();
    syncStateWithLedger();
    // The dirty marks first: a copy on disk without one would never leave
    // this computer. A mark whose copy a kill kept from landing costs
    // nothing: the pull comes again and makes the copy.
    m_saves->writeState(m_state);
    m_saves->waitForWrites();
    for (const Document &copy : std::as_const(copies)) {
        m_saves->writeDocumentNow(copy);
    }
    for (const Document &d : std::as_const(restamped)) {
        m_saves->cancelDocument(d.id);
        m_saves->writeDocumentNow(d);
    }
    if (!copies.isEmpty()) {
        emitDocumentsChanged();
        Q_EMIT stateChanged();
    }
    return copyIDs.keys();
}

void DocumentStore::noteAccepted(const QList<Document> &documents)
{
    for (const Document &d : documents) {
        m_ledger.noteAgreed(SyncLedger::Kind::Document, d.id, d.updatedAt);
    }
}

void DocumentStore::advanceSyncCursor(qint64 value)
{
    if (m_state.syncCursor >= value) {
        return;
    }
    m_state.syncCursor = value;
    Q_EMIT stateChanged();
    m_saves->scheduleState();
}

void DocumentStore::resetSyncCursor()
{
    ++m_cursorEpoch;
    if (m_state.syncCursor == 0) {
        return;
    }
    m_state.syncCursor = 0;
    Q_EMIT stateChanged();
    scheduleStateSave();
}

void DocumentStore::clearDirty(const QStringList &documentIDs, const QStringList &collectionIDs)
{
    m_ledger.clearAccepted(SyncLedger::Kind::Document, documentIDs);
    m_ledger.clearAccepted(SyncLedger::Kind::Collection, collectionIDs);
    syncStateWithLedger();
    Q_EMIT stateChanged();
    m_saves->scheduleState();
}

void DocumentStore::setPublishedSlug(const std::optional<QString> &slug, const QString &documentID)
{
    if (slug) {
        m_state.publishedSlugs.insert(documentID, *slug);
    } else {
        m_state.publishedSlugs.remove(documentID);
    }
    Q_EMIT stateChanged();
    m_saves->scheduleState();
}

// --- Search, link titles, import ------------------------------------------------------------

QList<Document> DocumentStore::filteredDocuments() const
{
    return DocumentQueries::filtered(m_documents, m_ui.searchText());
}

QStringList DocumentStore::linkTitles() const
{
    return DocumentQueries::linkTitles(m_documents);
}

Document DocumentStore::createDocumentTitled(const QString &title, const std::optional<QString> &collectionId)
{
    return createDocument(collectionId, RecordEdits::titledBody(title));
}

Document DocumentStore::importMarkdown(const QString &name, const QString &text)
{
    const Document document = RecordEdits::imported(name, text, now());
    m_documents.prepend(document);
    emitDocumentsChanged();
    setActiveDocumentID(document.id);
    markDocumentDirty(document.id);
    m_saves->scheduleDocument(document);
    return document;
}
