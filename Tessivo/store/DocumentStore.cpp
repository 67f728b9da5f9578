#include "DocumentStore.h"

#include "shell/core/AppShortcuts.h"
#include "store/CollectionTree.h"
#include "store/FrontmatterParser.h"
#include "store/StoreWriter.h"
#include "store/Text.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QSettings>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent>

#include <algorithm>
#include <limits>

namespace {

const QString activeDocumentKey = QStringLiteral("activeDocumentID");
const QString collectionsFile = QStringLiteral("collections.json");
const QString stateFile = QStringLiteral("state.json");

constexpr int documentSaveDelayMs = 400;
constexpr int collectionsSaveDelayMs = 200;
constexpr int stateSaveDelayMs = 200;

QString welcomeBody()
{
    static const QStringList lines = {
        QStringLiteral("# Welcome to Tessivo"),
        QString(),
        QStringLiteral("A focused place to write. Everything you type is saved on this computer as you go."),
        QString(),
        QStringLiteral("## A few things to try"),
        QString(),
        // The shortcuts named are the ones the menus bind.
        QStringLiteral("- Switch between **Editor**, **Split**, and **Preview** with %1, %2, %3.")
            .arg(AppShortcuts::viewMode(0), AppShortcuts::viewMode(1), AppShortcuts::viewMode(2)),
        QStringLiteral(
            "- Press %1 for a new document, or set a global shortcut in Settings to start one from "
            "anywhere.")
            .arg(AppShortcuts::newDocument),
        QStringLiteral("- Lists continue themselves when you press Return."),
        QStringLiteral("- Publish a read-only link with %1.").arg(AppShortcuts::publishDocument),
        QString(),
        QStringLiteral("| Syntax | Result |"),
        QStringLiteral("| --- | --- |"),
        QStringLiteral("| `**bold**` | **bold** |"),
        QStringLiteral("| `~~strike~~` | ~~strike~~ |"),
        QStringLiteral("| `- [x] done` | a checked task |"),
        QString(),
        QStringLiteral("> Tip: the first heading becomes the document title."),
    };
    return lines.join(u'\n');
}

bool titleIsOverridden(const Document &d)
{
    return d.overrides.contains(QStringLiteral("title")) && d.frontmatter.title.has_value();
}

QString titleKey(const Document &d)
{
    return Text::trimmedWhitespaceAndNewlines(d.displayTitle()).toLower();
}

// First-match lookup over a list that may gain and lose entries during one
// merge: removals are flags, additions are appended, and the list is
// compacted once at the end.
template <typename Record>
class MergeList
{
public:
    explicit MergeList(const QList<Record> &records) : m_records(records), m_removed(records.size(), false)
    {
        for (qsizetype i = 0; i < m_records.size(); ++i) {
            m_index[m_records.at(i).id].append(i);
        }
    }

    // Index of the first entry with `id` still present, or -1.
    qsizetype find(const QString &id) const
    {
        const auto it = m_index.constFind(id);
        if (it == m_index.cend()) {
            return -1;
        }
        for (qsizetype i : *it) {
            if (!m_removed.at(i)) {
                return i;
            }
        }
        return -1;
    }
    const Record &at(qsizetype i) const { return m_records.at(i); }
    void remove(qsizetype i) { m_removed[i] = true; }
    void append(const Record &r)
    {
        m_index[r.id].append(m_records.size());
        m_records.append(r);
        m_removed.append(false);
    }
    QList<Record> compacted() const
    {
        QList<Record> out;
        out.reserve(m_records.size());
        for (qsizetype i = 0; i < m_records.size(); ++i) {
            if (!m_removed.at(i)) {
                out.append(m_records.at(i));
            }
        }
        return out;
    }

private:
    QList<Record> m_records;
    QList<bool> m_removed;
    QHash<QString, QList<qsizetype>> m_index;
};

// The records on the dirty list, list by list in the store's order, each
// remembered with the change count it had when handed out (see clearDirty).
template <typename Record>
QList<Record> handOutDirty(std::initializer_list<const QList<Record> *> lists, const QSet<QString> &dirty,
                           const QHash<QString, quint64> &generations, QHash<QString, quint64> &handedOut)
{
    QList<Record> out;
    for (const QList<Record> *list : lists) {
        for (const Record &r : *list) {
            if (dirty.contains(r.id)) {
                out.append(r);
                handedOut.insert(r.id, generations.value(r.id));
            }
        }
    }
    return out;
}

// Merges pulled records of one kind into the live and deleted lists: the
// newer updatedAt wins, a tie with the same server time changes nothing, and
// a record taken replaces both local copies. `taken` runs for each record
// taken. Returns the ids of pulled records whose local copy is newer, in
// pulled order.
template <typename Record, typename Taken>
QStringList mergePulled(const QList<Record> &pulled, QList<Record> &liveList, QList<Record> &deletedList,
                        Taken taken)
{
    QStringList localIsNewer;
    if (pulled.isEmpty()) {
        return localIsNewer;
    }
    MergeList<Record> live(liveList);
    MergeList<Record> deleted(deletedList);
    bool liveTouched = false;
    bool deletedTouched = false;
    for (const Record &p : pulled) {
        const qsizetype li = live.find(p.id);
        const qsizetype di = deleted.find(p.id);
        if (li >= 0 || di >= 0) {
            const Record &local = li >= 0 ? live.at(li) : deleted.at(di);
            if (p.updatedAt < local.updatedAt) {
                localIsNewer.append(p.id);
                continue;
            }
            if (p.updatedAt == local.updatedAt && p.serverUpdatedAt == local.serverUpdatedAt) {
                continue;
            }
        }
        if (li >= 0) {
            live.remove(li);
            liveTouched = true;
        }
        if (di >= 0) {
            deleted.remove(di);
            deletedTouched = true;
        }
        if (p.deletedAt) {
            deleted.append(p);
            deletedTouched = true;
        } else {
            live.append(p);
            liveTouched = true;
        }
        taken(p);
    }
    if (liveTouched) {
        liveList = live.compacted();
    }
    if (deletedTouched) {
        deletedList = deleted.compacted();
    }
    return localIsNewer;
}

void sortNewestFirst(QList<Document> &documents)
{
    std::stable_sort(documents.begin(), documents.end(),
                     [](const Document &a, const Document &b) { return a.updatedAt > b.updatedAt; });
}

QStringList withoutIDs(const QStringList &ids, const QSet<QString> &remove)
{
    QStringList out;
    out.reserve(ids.size());
    for (const QString &id : ids) {
        if (!remove.contains(id)) {
            out.append(id);
        }
    }
    return out;
}

} // namespace

struct DocumentStore::PendingSave
{
    Document snapshot;
    // Identifies the latest save asked for; a finishing write removes the
    // entry only when it is that save.
    quint64 ticket = 0;
    // The write of this ticket has been handed to the writer.
    bool writing = false;
};

struct DocumentStore::LoadResult
{
    QList<Document> documents;
    QList<Collection> collections;
    Persistence::State state;
};

DocumentStore *DocumentStore::shared()
{
    static DocumentStore *const store = new DocumentStore();
    return store;
}

DocumentStore::DocumentStore(QSettings *settings, QObject *parent)
    : QObject(parent), m_settings(settings), m_baseDirectory(Persistence::baseDirectory()),
      m_writer(std::make_unique<StoreWriter>()), m_clock([] { return QDateTime::currentMSecsSinceEpoch(); })
{
    if (!m_settings) {
        m_ownSettings = std::make_unique<QSettings>();
        m_settings = m_ownSettings.get();
    }
    m_monotonic.start();
    // Debounce timers: precise, so a save lands when its delay says.
    const auto makeTimer = [this](int intervalMs) {
        auto *timer = new QTimer(this);
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
        timer->setInterval(intervalMs);
        return timer;
    };
    m_documentTimer = makeTimer(0);
    connect(m_documentTimer, &QTimer::timeout, this, &DocumentStore::runDueDocumentSaves);

    m_collectionsTimer = makeTimer(collectionsSaveDelayMs);
    connect(m_collectionsTimer, &QTimer::timeout, this, [this] {
        if (!m_isLoaded) {
            // Before the files have been read, the collections in memory are
            // only those made since: writing them would replace the user's.
            m_collectionsSaveAfterLoad = true;
            return;
        }
        // Every change reschedules this write, so the collections as they are
        // now are the value of the last request.
        const QList<Collection> snapshot = m_collections + m_deletedCollections;
        m_writer->enqueue(collectionsFile, [this, base = m_baseDirectory, snapshot] {
            const bool ok = Persistence::saveCollections(snapshot, base);
            QMetaObject::invokeMethod(
                this, [this, ok] { Q_EMIT fileWritten(collectionsFile, ok); }, Qt::QueuedConnection);
        });
    });

    m_stateTimer = makeTimer(stateSaveDelayMs);
    connect(m_stateTimer, &QTimer::timeout, this, [this] {
        if (!m_isLoaded) {
            m_stateSaveAfterLoad = true;
            return;
        }
        const Persistence::State snapshot = m_state;
        m_writer->enqueue(stateFile, [this, base = m_baseDirectory, snapshot] {
            const bool ok = Persistence::saveState(snapshot, base);
            QMetaObject::invokeMethod(
                this, [this, ok] { Q_EMIT fileWritten(stateFile, ok); }, Qt::QueuedConnection);
        });
    });
}

DocumentStore::~DocumentStore()
{
    m_pendingSaves.clear();
    // Writers post their results to this object; none may run past it.
    m_writer->waitForIdle();
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
    if (updatedAt == std::numeric_limits<qint64>::max()) {
        return updatedAt;
    }
    return std::max(now(), updatedAt + 1);
}

// --- Observable fields --------------------------------------------------------

void DocumentStore::setActiveDocumentID(const QString &id)
{
    if (id == m_activeDocumentID) {
        return;
    }
    m_activeDocumentID = id;
    if (id.isEmpty()) {
        m_settings->remove(activeDocumentKey);
    } else {
        m_settings->setValue(activeDocumentKey, id);
    }
    Q_EMIT activeDocumentIDChanged();
}

void DocumentStore::setSearchText(const QString &text)
{
    if (text == m_searchText) {
        return;
    }
    m_searchText = text;
    Q_EMIT searchTextChanged();
}

void DocumentStore::setOnLocalChange(std::function<void()> callback)
{
    m_onLocalChange = std::move(callback);
    Q_EMIT onLocalChangeChanged();
}

void DocumentStore::setState(const Persistence::State &state)
{
    m_state = state;
    m_dirtyDocumentSet = QSet<QString>(state.dirtyDocumentIDs.cbegin(), state.dirtyDocumentIDs.cend());
    m_dirtyCollectionSet = QSet<QString>(state.dirtyCollectionIDs.cbegin(), state.dirtyCollectionIDs.cend());
    Q_EMIT stateChanged();
}

void DocumentStore::rebuildIndex() const
{
    m_documentIndex.clear();
    m_documentIndex.reserve(m_documents.size());
    // Backwards, so that the first document with an id wins when ids repeat
    // (files copied by hand can do that).
    for (qsizetype i = m_documents.size() - 1; i >= 0; --i) {
        m_documentIndex.insert(m_documents.at(i).id, i);
    }
    m_documentIndexValid = true;
}

qsizetype DocumentStore::indexOfDocument(const QString &id) const
{
    if (!m_documentIndexValid) {
        rebuildIndex();
    }
    const auto it = m_documentIndex.constFind(id);
    return it == m_documentIndex.cend() ? -1 : *it;
}

qsizetype DocumentStore::indexOfTombstone(const QString &id) const
{
    for (qsizetype i = 0; i < m_tombstones.size(); ++i) {
        if (m_tombstones.at(i).id == id) {
            return i;
        }
    }
    return -1;
}

void DocumentStore::emitDocumentsChanged(const QString &changedID)
{
    if (changedID.isEmpty()) {
        m_documentIndexValid = false;
    }
    Q_EMIT documentsChanged(changedID);
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
    QFuture<LoadResult> reading = QtConcurrent::run(QThreadPool::globalInstance(), [] {
        LoadResult result;
        result.documents = Persistence::loadDocuments();
        result.collections = Persistence::loadCollections();
        result.state = Persistence::loadState();
        return result;
    });
    m_loadFuture = reading.then(this, [this](LoadResult loaded) { applyLoad(std::move(loaded)); });
    m_finishLoadNow = [this, reading]() mutable {
        reading.waitForFinished();
        LoadResult loaded = reading.result();
        applyLoad(std::move(loaded));
    };
    return m_loadFuture;
}

void DocumentStore::applyLoad(LoadResult &&loaded)
{
    if (m_isLoaded) {
        return; // the flush applied it already
    }
    // Anything already in memory was made or changed here while the files
    // were being read (a global shortcut can create a document before the
    // window has loaded): it is newer than its file and is kept as it is.
    QSet<QString> localDocumentIDs;
    for (const Document &d : std::as_const(m_documents)) {
        localDocumentIDs.insert(d.id);
    }
    for (const Document &d : std::as_const(m_tombstones)) {
        localDocumentIDs.insert(d.id);
    }
    QSet<QString> localCollectionIDs;
    for (const Collection &c : std::as_const(m_collections)) {
        localCollectionIDs.insert(c.id);
    }
    for (const Collection &c : std::as_const(m_deletedCollections)) {
        localCollectionIDs.insert(c.id);
    }

    QList<Document> live;
    QList<Document> tombs;
    for (Document &d : loaded.documents) {
        if (localDocumentIDs.contains(d.id)) {
            continue;
        }
        (d.deletedAt ? tombs : live).append(std::move(d));
    }
    sortNewestFirst(live);
    QList<Document> documents = m_documents + live;
    tombs += m_tombstones;

    QList<Collection> liveCollections = m_collections;
    QList<Collection> deletedCollections;
    for (const Collection &c : std::as_const(loaded.collections)) {
        if (localCollectionIDs.contains(c.id)) {
            continue;
        }
        (c.deletedAt ? deletedCollections : liveCollections).append(c);
    }
    std::stable_sort(liveCollections.begin(), liveCollections.end(), Collection::storeOrder);
    deletedCollections += m_deletedCollections;

    Persistence::State state = loaded.state;
    const bool hadLocalState = !(m_state == Persistence::State{});
    if (hadLocalState) {
        QSet<QString> seen(state.dirtyDocumentIDs.cbegin(), state.dirtyDocumentIDs.cend());
        for (const QString &id : std::as_const(m_state.dirtyDocumentIDs)) {
            if (!seen.contains(id)) {
                seen.insert(id);
                state.dirtyDocumentIDs.append(id);
            }
        }
        seen = QSet<QString>(state.dirtyCollectionIDs.cbegin(), state.dirtyCollectionIDs.cend());
        for (const QString &id : std::as_const(m_state.dirtyCollectionIDs)) {
            if (!seen.contains(id)) {
                seen.insert(id);
                state.dirtyCollectionIDs.append(id);
            }
        }
        for (auto it = m_state.publishedSlugs.cbegin(); it != m_state.publishedSlugs.cend(); ++it) {
            state.publishedSlugs.insert(it.key(), it.value());
        }
        state.syncCursor = std::max(state.syncCursor, m_state.syncCursor);
        state.welcomeSeeded = state.welcomeSeeded || m_state.welcomeSeeded;
    }

    // One uninterrupted step: observers are told only after every field is set.
    const bool documentsDiffer = documents != m_documents;
    const bool tombstonesDiffer = tombs != m_tombstones;
    const bool collectionsDiffer = liveCollections != m_collections;
    const bool deletedDiffer = deletedCollections != m_deletedCollections;
    m_documents = std::move(documents);
    m_tombstones = std::move(tombs);
    m_collections = std::move(liveCollections);
    m_deletedCollections = std::move(deletedCollections);
    m_documentIndexValid = false;
    m_state = state;
    m_dirtyDocumentSet = QSet<QString>(m_state.dirtyDocumentIDs.cbegin(), m_state.dirtyDocumentIDs.cend());
    m_dirtyCollectionSet =
        QSet<QString>(m_state.dirtyCollectionIDs.cbegin(), m_state.dirtyCollectionIDs.cend());

    bool seeded = false;
    if (!m_state.welcomeSeeded && m_documents.isEmpty()) {
        Document welcome(welcomeBody(), std::nullopt);
        welcome.createdAt = welcome.updatedAt = now();
        m_documents = {welcome};
        m_state.welcomeSeeded = true;
        writeDocumentNow(welcome);
        seeded = true;
    }

    const QString saved = m_settings->value(activeDocumentKey).toString();
    QString active;
    if (!saved.isEmpty() && indexOfDocument(saved) >= 0) {
        active = saved;
    } else if (!m_documents.isEmpty()) {
        active = m_documents.first().id;
    }

    m_isLoaded = true;

    if (documentsDiffer || seeded) {
        emitDocumentsChanged();
    }
    if (tombstonesDiffer) {
        Q_EMIT tombstonesChanged();
    }
    if (collectionsDiffer) {
        Q_EMIT collectionsChanged();
    }
    if (deletedDiffer) {
        Q_EMIT deletedCollectionsChanged();
    }
    Q_EMIT stateChanged();
    setActiveDocumentID(active);
    Q_EMIT isLoadedChanged();

    if (seeded || hadLocalState || m_stateSaveAfterLoad) {
        scheduleStateSave();
    }
    if (m_collectionsSaveAfterLoad) {
        scheduleCollectionsSave();
    }
    m_stateSaveAfterLoad = m_collectionsSaveAfterLoad = false;
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
    scheduleSave(document);
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
    if (!titleIsOverridden(d)) {
        d.title = Document::deriveTitle(body);
    }
    d.updatedAt = bumped(d.updatedAt);
    emitDocumentsChanged(documentID);
    markDocumentDirty(documentID);
    scheduleSave(m_documents.at(index));
}

bool DocumentStore::appendText(const QString &text, const QString &documentID)
{
    const qsizetype index = indexOfDocument(documentID);
    if (index < 0) {
        return false;
    }
    const QString body = m_documents.at(index).body;
    QString newBody;
    if (body.isEmpty()) {
        newBody = text;
    } else if (body.endsWith(QLatin1String("\n\n"))) {
        newBody = body + text;
    } else if (body.endsWith(u'\n')) {
        newBody = body + u'\n' + text;
    } else {
        newBody = body + QLatin1String("\n\n") + text;
    }
    updateBody(newBody, documentID);
    return true;
}

void DocumentStore::deleteDocument(const QString &documentID)
{
    const qsizetype index = indexOfDocument(documentID);
    if (index < 0) {
        return;
    }
    Document tombstone = m_documents.takeAt(index);
    const qint64 at = now();
    tombstone.deletedAt = at;
    tombstone.updatedAt = tombstone.updatedAt == std::numeric_limits<qint64>::max()
                              ? tombstone.updatedAt
                              : std::max(at, tombstone.updatedAt + 1);
    tombstone.body.clear();
    tombstone.title.clear();
    m_tombstones.append(tombstone);
    emitDocumentsChanged();
    Q_EMIT tombstonesChanged();

    if (m_activeDocumentID == documentID) {
        QString next;
        for (const Document &d : std::as_const(m_documents)) {
            if (d.collectionId == tombstone.collectionId) {
                next = d.id;
                break;
            }
        }
        if (next.isEmpty() && !m_documents.isEmpty()) {
            next = m_documents.first().id;
        }
        setActiveDocumentID(next);
    }
    markDocumentDirty(documentID);
    scheduleSave(tombstone);
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
    emitDocumentsChanged(documentID);
    markDocumentDirty(documentID);
    scheduleSave(m_documents.at(index));
}

std::optional<Document> DocumentStore::activeDocument() const
{
    if (m_activeDocumentID.isEmpty()) {
        return std::nullopt;
    }
    return document(m_activeDocumentID);
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
    QHash<QString, QString> map;
    for (const Document &d : m_documents) {
        const QString key = titleKey(d);
        if (!key.isEmpty() && !map.contains(key)) {
            map.insert(key, d.id);
        }
    }
    return map;
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
    const auto it = m_excerptCache.constFind(document.id);
    if (it != m_excerptCache.cend() && it->updatedAt == document.updatedAt) {
        return it->text;
    }
    QString text;
    if (document.overrides.contains(QStringLiteral("description")) && document.frontmatter.description &&
        !document.frontmatter.description->isEmpty()) {
        text = *document.frontmatter.description;
    } else {
        text = Document::excerpt(document.body);
    }
    m_excerptCache.insert(document.id, CachedExcerpt{document.updatedAt, text});
    return text;
}

// --- Saving ---------------------------------------------------------------------------

QString DocumentStore::relativeDocumentPath(const QString &id) const
{
    return QStringLiteral("documents/") + id + QStringLiteral(".json");
}

void DocumentStore::scheduleSave(const Document &document)
{
    // One timer serves every document: each request appends a deadline and
    // supersedes the earlier ones of the same document, so a keystroke costs
    // the same however many saves are pending.
    auto &pending = m_pendingSaves[document.id];
    if (!pending) {
        pending = std::make_shared<PendingSave>();
    }
    pending->snapshot = document;
    pending->ticket = ++m_nextTicket;
    pending->writing = false;
    const qint64 due = m_monotonic.elapsed() + documentSaveDelayMs;
    m_saveDeadlines.push_back(SaveDeadline{due, document.id, pending->ticket});
    if (!m_documentTimer->isActive()) {
        m_documentTimer->start(documentSaveDelayMs);
    }
}

void DocumentStore::runDueDocumentSaves()
{
    const qint64 nowMs = m_monotonic.elapsed();
    while (!m_saveDeadlines.empty() && m_saveDeadlines.front().dueMs <= nowMs) {
        const SaveDeadline due = std::move(m_saveDeadlines.front());
        m_saveDeadlines.pop_front();
        const auto it = m_pendingSaves.constFind(due.id);
        if (it == m_pendingSaves.cend() || (*it)->ticket != due.ticket || (*it)->writing) {
            continue; // cancelled, or a newer request took its place
        }
        (*it)->writing = true;
        startDocumentWrite((*it)->snapshot, due.ticket);
    }
    if (!m_saveDeadlines.empty()) {
        m_documentTimer->start(int(std::max<qint64>(0, m_saveDeadlines.front().dueMs - nowMs)));
    }
}

void DocumentStore::startDocumentWrite(const Document &snapshot, quint64 ticket)
{
    m_writer->enqueue(relativeDocumentPath(snapshot.id), [this, snapshot, ticket, base = m_baseDirectory] {
        const bool ok = Persistence::saveDocument(snapshot, base);
        const QString savedID = snapshot.id;
        QMetaObject::invokeMethod(
            this, [this, savedID, ticket, ok] { documentWriteFinished(savedID, ticket, ok); },
            Qt::QueuedConnection);
    });
}

void DocumentStore::documentWriteFinished(const QString &id, quint64 ticket, bool ok)
{
    if (ok) {
        m_failedDocumentWrites.remove(id);
    } else {
        m_failedDocumentWrites.insert(id);
    }
    const auto it = m_pendingSaves.find(id);
    if (it != m_pendingSaves.end() && (*it)->ticket == ticket) {
        m_pendingSaves.erase(it);
    }
    Q_EMIT fileWritten(relativeDocumentPath(id), ok);
}

void DocumentStore::writeDocumentNow(const Document &document)
{
    const QString key = relativeDocumentPath(document.id);
    bool ok = false;
    m_writer->runNow(key, [&] { ok = Persistence::saveDocument(document, m_baseDirectory); });
    if (ok) {
        m_failedDocumentWrites.remove(document.id);
    } else {
        m_failedDocumentWrites.insert(document.id);
    }
    Q_EMIT fileWritten(key, ok);
}

void DocumentStore::scheduleCollectionsSave()
{
    m_collectionsTimer->start();
}

void DocumentStore::scheduleStateSave()
{
    m_stateTimer->start();
}

void DocumentStore::waitForWrites()
{
    m_writer->waitForIdle();
}

void DocumentStore::flushPendingSaves()
{
    // The collections and state files are written whole: they must hold
    // what is on disk merged with what changed here, so the files are read
    // first if that has not happened yet.
    if (!m_isLoaded) {
        load();
        m_finishLoadNow();
    }
    QSet<QString> ids = m_failedDocumentWrites;
    QStringList order;
    for (auto it = m_pendingSaves.cbegin(); it != m_pendingSaves.cend(); ++it) {
        order.append(it.key());
        ids.remove(it.key());
    }
    m_pendingSaves.clear();
    m_saveDeadlines.clear();
    m_documentTimer->stop();
    order += QStringList(ids.cbegin(), ids.cend());
    m_collectionsTimer->stop();
    m_stateTimer->stop();

    // Writes already running finish first, so nothing older lands after the
    // values written here.
    m_writer->waitForIdle();

    for (const QString &id : std::as_const(order)) {
        const qsizetype index = indexOfDocument(id);
        if (index >= 0) {
            writeDocumentNow(m_documents.at(index));
            continue;
        }
        const qsizetype tomb = indexOfTombstone(id);
        if (tomb >= 0) {
            writeDocumentNow(m_tombstones.at(tomb));
        } else {
            m_failedDocumentWrites.remove(id);
        }
    }

    const QList<Collection> collections = m_collections + m_deletedCollections;
    bool collectionsOk = false;
    m_writer->runNow(collectionsFile,
                     [&] { collectionsOk = Persistence::saveCollections(collections, m_baseDirectory); });
    Q_EMIT fileWritten(collectionsFile, collectionsOk);

    bool stateOk = false;
    m_writer->runNow(stateFile, [&] { stateOk = Persistence::saveState(m_state, m_baseDirectory); });
    Q_EMIT fileWritten(stateFile, stateOk);
}

// --- Collections ---------------------------------------------------------------------

std::optional<Collection> DocumentStore::createCollection(const QString &name,
                                                          const std::optional<QString> &parentID)
{
    const QString cleaned = Text::leftCharacters(Text::trimmedWhitespaceAndNewlines(name), 100);
    if (cleaned.isEmpty()) {
        return std::nullopt;
    }
    const CollectionTree tree(m_collections);
    std::optional<QString> parent = parentID;
    if (parent && !tree.canNest(*parent)) {
        parent.reset();
    }
    Collection collection(cleaned, tree.nextPosition(parent), parent);
    collection.createdAt = collection.updatedAt = now();
    m_collections.append(collection);
    Q_EMIT collectionsChanged();
    markCollectionDirty(collection.id);
    scheduleCollectionsSave();
    return collection;
}

void DocumentStore::renameCollection(const QString &id, const QString &name)
{
    const QString cleaned = Text::leftCharacters(Text::trimmedWhitespaceAndNewlines(name), 100);
    if (cleaned.isEmpty()) {
        return;
    }
    for (Collection &c : m_collections) {
        if (c.id != id) {
            continue;
        }
        if (c.name == cleaned) {
            return;
        }
        c.name = cleaned;
        c.updatedAt = bumped(c.updatedAt);
        Q_EMIT collectionsChanged();
        markCollectionDirty(id);
        scheduleCollectionsSave();
        return;
    }
}

bool DocumentStore::moveCollection(const QString &id, const std::optional<QString> &targetParentID)
{
    const CollectionTree tree(m_collections);
    qsizetype index = -1;
    for (qsizetype i = 0; i < m_collections.size(); ++i) {
        if (m_collections.at(i).id == id) {
            index = i;
            break;
        }
    }
    if (index < 0 || !tree.canMove(id, targetParentID)) {
        return false;
    }
    const auto parentIt = tree.parents().constFind(id);
    const std::optional<QString> effectiveParent =
        parentIt == tree.parents().cend() ? std::nullopt : std::optional<QString>(*parentIt);
    if (effectiveParent == targetParentID) {
        return true;
    }
    Collection &c = m_collections[index];
    c.position = tree.nextPosition(targetParentID);
    c.parentId = targetParentID;
    c.parentKnown = true;
    c.updatedAt = bumped(c.updatedAt);
    std::stable_sort(m_collections.begin(), m_collections.end(), Collection::storeOrder);
    Q_EMIT collectionsChanged();
    markCollectionDirty(id);
    scheduleCollectionsSave();
    return true;
}

void DocumentStore::deleteCollection(const QString &id)
{
    for (qsizetype i = 0; i < m_collections.size(); ++i) {
        if (m_collections.at(i).id != id) {
            continue;
        }
        Collection deleted = m_collections.takeAt(i);
        const qint64 at = now();
        deleted.name.clear();
        deleted.parentId.reset();
        deleted.parentKnown = true;
        deleted.deletedAt = at;
        deleted.updatedAt = deleted.updatedAt == std::numeric_limits<qint64>::max()
                                ? deleted.updatedAt
                                : std::max(at, deleted.updatedAt + 1);
        m_deletedCollections.append(deleted);
        Q_EMIT collectionsChanged();
        Q_EMIT deletedCollectionsChanged();
        markCollectionDirty(id);
        scheduleCollectionsSave();
        return;
    }
}

// --- Sync bookkeeping ---------------------------------------------------------------------

void DocumentStore::bumpGeneration(QHash<QString, quint64> &generations, const QString &id)
{
    ++generations[id];
}

void DocumentStore::markDocumentDirty(const QString &id)
{
    markDirty(id, m_documentGenerations, m_dirtyDocumentSet, m_state.dirtyDocumentIDs);
}

void DocumentStore::markCollectionDirty(const QString &id)
{
    markDirty(id, m_collectionGenerations, m_dirtyCollectionSet, m_state.dirtyCollectionIDs);
}

// Counts the change, puts the id on its dirty list once, saves the state
// later and tells the sync engine, in that order.
void DocumentStore::markDirty(const QString &id, QHash<QString, quint64> &generations,
                              QSet<QString> &dirtySet, QStringList &dirtyList)
{
    bumpGeneration(generations, id);
    if (!dirtySet.contains(id)) {
        dirtySet.insert(id);
        dirtyList.append(id);
        Q_EMIT stateChanged();
    }
    scheduleStateSave();
    if (m_onLocalChange) {
        m_onLocalChange();
    }
}

QList<Document> DocumentStore::dirtyDocumentsForPush()
{
    return handOutDirty({&m_documents, &m_tombstones}, m_dirtyDocumentSet, m_documentGenerations,
                        m_documentsHandedOut);
}

QList<Collection> DocumentStore::dirtyCollectionsForPush()
{
    return handOutDirty({&m_collections, &m_deletedCollections}, m_dirtyCollectionSet,
                        m_collectionGenerations, m_collectionsHandedOut);
}

DocumentStore::PullResult DocumentStore::applyPull(const QList<Document> &documents,
                                                   const QList<Collection> &collections)
{
    PullResult result;
    if (documents.isEmpty() && collections.isEmpty()) {
        return result;
    }
    const QList<Document> documentsBefore = m_documents;
    const QList<Document> tombstonesBefore = m_tombstones;
    const QList<Collection> collectionsBefore = m_collections;
    const QList<Collection> deletedBefore = m_deletedCollections;
    QSet<QString> undirtyDocuments;
    QSet<QString> undirtyCollections;

    result.documentIDs = mergePulled(documents, m_documents, m_tombstones, [&](const Document &p) {
        undirtyDocuments.insert(p.id);
        // A debounced save still waiting holds an older version; it must
        // not overwrite the record written here.
        m_pendingSaves.remove(p.id);
        writeDocumentNow(p);
    });
    result.collectionIDs = mergePulled(collections, m_collections, m_deletedCollections,
                                       [&](const Collection &p) { undirtyCollections.insert(p.id); });
    const bool changed = !undirtyDocuments.isEmpty() || !undirtyCollections.isEmpty();

    // The sync engine pushes the records whose local copy is newer along
    // with the dirty ones, fetching them by id after this call; an edit made
    // while that push is in flight must survive clearDirty just the same.
    for (const QString &id : std::as_const(result.documentIDs)) {
        m_documentsHandedOut.insert(id, m_documentGenerations.value(id));
    }
    for (const QString &id : std::as_const(result.collectionIDs)) {
        m_collectionsHandedOut.insert(id, m_collectionGenerations.value(id));
    }

    if (!changed) {
        return result;
    }

    sortNewestFirst(m_documents);
    // Observers of the signals below look documents up by id: the index of
    // the old list must not answer them.
    m_documentIndexValid = false;
    std::stable_sort(m_collections.begin(), m_collections.end(), Collection::storeOrder);

    if (!undirtyDocuments.isEmpty() || !undirtyCollections.isEmpty()) {
        Persistence::State state = m_state;
        state.dirtyDocumentIDs = withoutIDs(state.dirtyDocumentIDs, undirtyDocuments);
        state.dirtyCollectionIDs = withoutIDs(state.dirtyCollectionIDs, undirtyCollections);
        setState(state);
    }

    if (m_documents != documentsBefore) {
        emitDocumentsChanged();
    }
    if (m_tombstones != tombstonesBefore) {
        Q_EMIT tombstonesChanged();
    }
    if (m_collections != collectionsBefore) {
        Q_EMIT collectionsChanged();
    }
    if (m_deletedCollections != deletedBefore) {
        Q_EMIT deletedCollectionsChanged();
    }

    if (!m_activeDocumentID.isEmpty() && indexOfDocument(m_activeDocumentID) < 0) {
        setActiveDocumentID(m_documents.isEmpty() ? QString() : m_documents.first().id);
    }
    scheduleCollectionsSave();
    scheduleStateSave();
    return result;
}

void DocumentStore::advanceSyncCursor(qint64 value)
{
    if (m_state.syncCursor >= value) {
        return;
    }
    m_state.syncCursor = value;
    Q_EMIT stateChanged();
    scheduleStateSave();
}

void DocumentStore::resetSyncCursor()
{
    if (m_state.syncCursor == 0) {
        return;
    }
    m_state.syncCursor = 0;
    Q_EMIT stateChanged();
    scheduleStateSave();
}

void DocumentStore::clearDirty(const QStringList &documentIDs, const QStringList &collectionIDs)
{
    // An id whose record changed again after the push collected it keeps its
    // mark: the server accepted the older version only.
    const auto accepted = [](const QStringList &ids, QHash<QString, quint64> &handedOut,
                             const QHash<QString, quint64> &generations) {
        QSet<QString> clear;
        for (const QString &id : ids) {
            const auto it = handedOut.constFind(id);
            if (it != handedOut.cend() && *it != generations.value(id)) {
                continue;
            }
            clear.insert(id);
            handedOut.remove(id);
        }
        return clear;
    };
    const QSet<QString> clearDocuments = accepted(documentIDs, m_documentsHandedOut, m_documentGenerations);
    const QSet<QString> clearCollections =
        accepted(collectionIDs, m_collectionsHandedOut, m_collectionGenerations);

    Persistence::State state = m_state;
    state.dirtyDocumentIDs = withoutIDs(state.dirtyDocumentIDs, clearDocuments);
    state.dirtyCollectionIDs = withoutIDs(state.dirtyCollectionIDs, clearCollections);
    setState(state);
    scheduleStateSave();
}

void DocumentStore::setPublishedSlug(const std::optional<QString> &slug, const QString &documentID)
{
    if (slug) {
        m_state.publishedSlugs.insert(documentID, *slug);
    } else {
        m_state.publishedSlugs.remove(documentID);
    }
    Q_EMIT stateChanged();
    scheduleStateSave();
}

// --- Search, link titles, import ------------------------------------------------------------

QList<Document> DocumentStore::filteredDocuments() const
{
    const QString query = Text::trimmedSpacesAndTabs(m_searchText).toLower();
    if (query.isEmpty()) {
        return m_documents;
    }
    QList<Document> out;
    for (const Document &d : m_documents) {
        if (d.displayTitle().toLower().contains(query) || d.body.toLower().contains(query)) {
            out.append(d);
        }
    }
    return out;
}

QStringList DocumentStore::linkTitles() const
{
    QSet<QString> seen;
    QStringList out;
    for (const Document &d : m_documents) {
        const QString key = titleKey(d);
        if (!seen.contains(key)) {
            seen.insert(key);
            out.append(d.displayTitle());
        }
    }
    return out;
}

Document DocumentStore::createDocumentTitled(const QString &title, const std::optional<QString> &collectionId)
{
    QString t = Text::trimmedWhitespaceAndNewlines(title);
    if (t.isEmpty()) {
        t = QStringLiteral("Untitled");
    }
    return createDocument(collectionId, QStringLiteral("# ") + t + QStringLiteral("\n\n"));
}

Document DocumentStore::importMarkdown(const QString &name, const QString &text)
{
    const FrontmatterParser::Extracted extracted = FrontmatterParser::extract(text);
    Document document(extracted.body, std::nullopt);
    document.createdAt = document.updatedAt = now();
    const QString fallback = Text::trimmedSpacesAndTabs(name);
    if (document.title == QLatin1String("Untitled") && !fallback.isEmpty()) {
        document.title = fallback;
    }
    document.frontmatter = extracted.frontmatter;
    document.overrides = extracted.overrides;
    m_documents.prepend(document);
    emitDocumentsChanged();
    setActiveDocumentID(document.id);
    markDocumentDirty(document.id);
    scheduleSave(document);
    return document;
}
