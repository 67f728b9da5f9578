#include "service/core/SyncPass.h"

#include "protocol/Routes.h"
#include "protocol/Rules.h"
#include "service/core/APIClient.h"
#include "service/core/PullReplyReader.h"
#include "store/DocumentStore.h"
#include "store/RecordIds.h"
#include "store/ThenWhileAlive.h"

#include <QCoreApplication>
#include <QNetworkRequest>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// NUL and other controls would garble the log line that names the id.
QString printable(const QString &id)
{
    QString out;
    for (QChar c : id) {
        out += c.unicode() < 0x20 ? u"\\x%1"_s.arg(c.unicode(), 2, 16, QChar(u'0')) : QString(c);
    }
    return out;
}

template <typename Record>
QList<Record> usableRecords(const QList<Record> &records, const char *kind)
{
    const bool allUsable = std::all_of(records.cbegin(), records.cend(),
                                       [](const Record &r) { return SyncPass::isUsableID(r.id); });
    if (allUsable) {
        return records;
    }
    QList<Record> out;
    for (const Record &r : records) {
        if (SyncPass::isUsableID(r.id)) {
            out.append(r);
        } else {
            qWarning("[sync] skipped pulled %s with unusable id \"%s\"", kind, qPrintable(printable(r.id)));
        }
    }
    return out;
}

template <typename Record>
qint64 highestServerStamp(const QList<Record> &records, qint64 start)
{
    for (const Record &r : records) {
        start = std::max(start, r.serverUpdatedAt.value_or(0));
    }
    return start;
}

// The records of `pushed` the service accepted (a reply naming anything
// else must not clear a record this batch never sent). A document answered
// "stale" was not stored: the service holds a newer version, which the next
// pull brings to meet the dirty local copy. A collection answered "stale"
// simply lost to the newer one.
template <typename Record>
QList<Record> accepted(const QList<SyncPushResponse::Result> &results, const QList<Record> &pushed,
                       bool staleStaysDirty)
{
    QHash<QString, const Record *> sent;
    for (const Record &r : pushed) {
        sent.insert(r.id, &r);
    }
    QList<Record> out;
    for (const SyncPushResponse::Result &result : results) {
        if (result.status == u"invalid"_s || (staleStaysDirty && result.status == u"stale"_s) || !result.id) {
            continue;
        }
        if (const Record *r = sent.value(*result.id)) {
            out.append(*r);
        }
    }
    return out;
}

template <typename Record>
QStringList idsOf(const QList<Record> &records)
{
    QStringList out;
    for (const Record &r : records) {
        out.append(r.id);
    }
    return out;
}

} // namespace

SyncPass::SyncPass(DocumentStore *store, APIClient *client, QObject *parent)
    : QObject(parent), m_store(store), m_client(client)
{}

bool SyncPass::isUsableID(const QString &id)
{
    return RecordIds::isValid(id);
}

void SyncPass::start()
{
    m_cursorEpoch = m_store->syncCursorEpoch();
    pull(&SyncPass::afterFirstPull);
}

void SyncPass::cancel()
{
    m_cancelled = true;
    if (m_abort) {
        m_abort();
    }
}

void SyncPass::pull(PullHandler next)
{
    if (m_cancelled) {
        fail(APIFailure::cancelled());
        return;
    }
    m_pulledFrom = m_store->state().syncCursor;
    const QString since = QString::number(m_pulledFrom);
    const QNetworkRequest request = m_client->makeRequest(
        m_client->url(protocol::routePath(protocol::Endpoint::pull), {{u"since"_s, since}}),
        "application/json");
    const APICall<APIReply> call =
        m_client->perform(request, APIClient::Method::Get, std::nullopt, m_pullLimit);
    m_abort = [call] { call.abort(); };
    call.then(this, [this, next](const APIResult<APIReply> &reply) {
        m_abort = nullptr;
        if (!reply && reply.failure().isAPIError() && reply.failure().apiError().isReplyTooLarge()) {
            m_message = tooLargeMessage();
            finish(End::failed);
            return;
        }
        if (!reply) {
            fail(reply.failure());
            return;
        }
        thenWhileAlive(QtConcurrent::run([body = reply->body] { return PullReplyReader::decode(body); }),
                       this, [this, next](const APIResult<SyncPullResponse> &decoded) {
                           if (!decoded) {
                               fail(decoded.failure());
                               return;
                           }
                           (this->*next)(decoded.value());
                       });
    });
}

bool SyncPass::morePieces() const
{
    // Another account signed in meanwhile, or a reply that moves the cursor
    // nowhere, would have the pass ask for the same piece forever.
    return m_more && m_store->syncCursorEpoch() == m_cursorEpoch &&
           m_store->state().syncCursor > m_pulledFrom;
}

void SyncPass::mergeAndStep(const SyncPullResponse &reply, MergeHandler next)
{
    m_more = reply.more;
    const QList<Collection> pulledCollections = reply.collections.value_or(QList<Collection>());
    const DocumentStore::PendingPull pending = m_store->applyPullInBackground(
        usableRecords(reply.documents, "document"), usableRecords(pulledCollections, "collection"));
    // Skipped records count too: the cursor must move past them, or every
    // later pull would bring them back.
    const qint64 cursor = highestServerStamp(pulledCollections, highestServerStamp(reply.documents, 0));
    QFuture<void> written = pending.written;
    thenWhileAlive(written, this, [this, cursor, next, merged = pending.result] {
        // Another account signed in while this pass was out: what
        // it pulled was asked for with the other account's cursor,
        // and must not move the new account's.
        if (m_store->syncCursorEpoch() == m_cursorEpoch) {
            m_store->advanceSyncCursor(cursor);
        }
        (this->*next)(merged);
    }).onCanceled(QCoreApplication::instance(), [pass = QPointer<SyncPass>(this)] {
        // The store went away before the documents landed; or the pass
        // did, and there is nothing to end.
        if (pass)
            pass->finish(End::cancelled);
    });
}

void SyncPass::afterFirstPull(const SyncPullResponse &reply)
{
    mergeAndStep(reply, &SyncPass::afterFirstMerge);
}

void SyncPass::afterFirstMerge(const DocumentStore::PullResult &)
{
    if (morePieces()) {
        pull(&SyncPass::afterFirstPull);
        return;
    }
    // The records the pull found newer here are dirty now, and go too.
    QList<Document> docs = m_store->dirtyDocumentsForPush();
    QList<Collection> collections = m_store->dirtyCollectionsForPush();
    if (docs.isEmpty() && collections.isEmpty()) {
        finish(End::synced);
        return;
    }
    const QString path = protocol::routePath(protocol::Endpoint::push);
    m_batches.emplace(std::move(docs), std::move(collections), protocol::bodyLimit("POST", path), batchSize);
    pushNextBatch();
}

void SyncPass::pushNextBatch()
{
    std::optional<PushBatches::Batch> batch = m_batches->next();
    if (!batch) {
        pull(&SyncPass::afterSecondPull);
        return;
    }
    if (m_cancelled) {
        fail(APIFailure::cancelled());
        return;
    }
    const QNetworkRequest request = m_client->makeRequest(
        m_client->url(protocol::routePath(protocol::Endpoint::push)), "application/json", "application/json");
    const APICall<APIReply> call =
        m_client->perform(request, APIClient::Method::Post, std::exchange(batch->body, {}));
    m_abort = [call] { call.abort(); };
    call.then(this,
              [this, docs = batch->docs, collections = batch->collections](const APIResult<APIReply> &reply) {
                  m_abort = nullptr;
                  const APIResult<SyncPushResponse> decoded =
                      reply ? APIClient::decodeBody<SyncPushResponse>(reply->body)
                            : APIResult<SyncPushResponse>(reply.failure());
                  if (!decoded) {
                      fail(decoded.failure());
                      return;
                  }
                  afterPush(decoded.value(), docs, collections);
              });
}

void SyncPass::afterPush(const SyncPushResponse &reply, const QList<Document> &docs,
                         const QList<Collection> &collections)
{
    // The store clears an id only while its record is the version this batch
    // carried, so an edit typed while the batch was out goes with a later pass.
    const QList<Document> acceptedDocs = accepted(reply.results, docs, true);
    m_store->noteAccepted(acceptedDocs);
    m_store->clearDirty(idsOf(acceptedDocs),
                        idsOf(accepted(reply.collectionResults.value_or(QList<SyncPushResponse::Result>()),
                                       collections, false)));
    for (const SyncPushResponse::Result &result : reply.results) {
        if (result.status == u"invalid"_s) {
            qWarning("[sync] server rejected %s: %s", qPrintable(printable(result.id.value_or(u"?"_s))),
                     qPrintable(result.error.value_or(QString())));
        }
    }
    pushNextBatch();
}

void SyncPass::afterSecondPull(const SyncPullResponse &reply)
{
    mergeAndStep(reply, &SyncPass::afterSecondMerge);
}

void SyncPass::afterSecondMerge(const DocumentStore::PullResult &merged)
{
    m_copiesMade = m_copiesMade || !merged.copyIDs.isEmpty();
    if (morePieces()) {
        pull(&SyncPass::afterSecondPull);
        return;
    }
    if (m_batches && !m_batches->tooLarge().isEmpty()) {
        m_message = tooLargeDocumentMessage(m_batches->tooLarge().first());
        finish(End::failed);
        return;
    }
    finish(End::synced);
}

qint64 SyncPass::maxPullBytes()
{
    return protocol::bodyLimit("POST", protocol::routePath(protocol::Endpoint::push)) +
           protocol::records::pullPieceBytes;
}

QString SyncPass::tooLargeMessage()
{
    return u"The service sent more than %1 MB in one reply."_s.arg(maxPullBytes() / (1024 * 1024));
}

QString SyncPass::tooLargeDocumentMessage(const Document &document)
{
    return u"\u201c%1\u201d is too large to sync."_s.arg(document.displayTitle());
}

void SyncPass::fail(const APIFailure &failure)
{
    if (failure.isAPIError() && failure.apiError().isUnauthorized()) {
        finish(End::unauthorized);
        return;
    }
    if (failure.isCancelled()) {
        finish(End::cancelled);
        return;
    }
    m_message = failure.userText();
    finish(End::failed);
}

void SyncPass::finish(End end)
{
    m_end = end;
    Q_EMIT finished();
}
