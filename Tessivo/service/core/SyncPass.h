#pragma once

#include "protocol/WireRecords.h"
#include "service/core/APIResult.h"
#include "service/core/PushBatches.h"
#include "store/Collection.h"
#include "store/Document.h"
#include "store/DocumentStore.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class APIClient;

// One sync pass over the network, after the engine's gate: pull what changed
// since the cursor, merge it, raise the cursor, push the dirty records (the
// store marks those the pull found newer here) in batches, clear what the service
// accepted, and pull once more. Each pull comes in pieces, asked for one
// after another while the service says more remain, each merged and the
// cursor raised before the next, so neither side holds an account whole. It runs on the main thread and gives
// it up while a request is out, while the body of a pull is parsed and while the pulled documents are
// written, so a large pull does not stall typing; the cursor moves only once they are on disk.
//
// A pass is used once: start() it, wait for finished(), then read how it
// ended. What it did before a failure stays done: the first merge and the
// raised cursor, and the ids cleared by earlier batches.
//
// Batches are cut by count and by bytes, below the body limit the service
// states for a push (protocol::routes()). A document too large to go in any
// batch stays dirty and unsent; the rest sync, and the pass then ends failed
// with tooLargeDocumentMessage() of the first such document.
class SyncPass final : public QObject
{
    Q_OBJECT

public:
    enum class End { running, synced, unauthorized, failed, cancelled };

    static constexpr qsizetype batchSize = 500;

    SyncPass(DocumentStore *store, APIClient *client, QObject *parent = nullptr);

    void start();
    // Ends the request under way (or the next one, when none is out); the
    // pass then ends as cancelled.
    void cancel();

    End end() const { return m_end; }
    // For End::failed: the text to show.
    const QString &message() const { return m_message; }

    // Whether an id pulled from the service may name a record here.
    static bool isUsableID(const QString &id);

    // A pull reply larger than this is refused as soon as its declared length
    // or what has arrived of it says so: the request is ended and the pass
    // ends failed with tooLargeMessage(). A piece holds one record at least,
    // and the largest record is one the push limit let through.
    static qint64 maxPullBytes();
    static QString tooLargeMessage();
    static QString tooLargeDocumentMessage(const Document &document);
    void setPullLimitForTesting(qint64 bytes) { m_pullLimit = bytes; }

    // True when a pull of this pass made conflicted copies that the pass
    // has not pushed: they need another pass.
    bool madeCopies() const { return m_copiesMade; }

Q_SIGNALS:
    // Emitted once, after the last store change of the pass.
    void finished();

private:
    using PullHandler = void (SyncPass::*)(const SyncPullResponse &);
    using MergeHandler = void (SyncPass::*)(const DocumentStore::PullResult &);

    void pull(PullHandler next);
    // Whether the service has more of the pull under way, and the cursor
    // moved, so that asking again gets further.
    bool morePieces() const;
    void afterFirstPull(const SyncPullResponse &reply);
    void afterFirstMerge(const DocumentStore::PullResult &merged);
    void pushNextBatch();
    void afterPush(const SyncPushResponse &reply, const QList<Document> &docs,
                   const QList<Collection> &collections);
    void afterSecondPull(const SyncPullResponse &reply);
    void afterSecondMerge(const DocumentStore::PullResult &merged);
    // Merges a pull (records with unusable ids left out) and, once the
    // pulled documents are on disk, raises the cursor unless the cursor was
    // reset since the pass began; then goes on with `next`.
    void mergeAndStep(const SyncPullResponse &reply, MergeHandler next);
    void fail(const APIFailure &failure);
    void finish(End end);

    QPointer<DocumentStore> m_store;
    QPointer<APIClient> m_client;
    End m_end = End::running;
    QString m_message;
    bool m_cancelled = false;
    // Aborts the request that is out; empty between requests.
    std::function<void()> m_abort;

    std::optional<PushBatches> m_batches;
    quint64 m_cursorEpoch = 0;
    qint64 m_pullLimit = maxPullBytes();
    bool m_copiesMade = false;
    // The piece being merged: the cursor it was asked from and whether the
    // service has more.
    qint64 m_pulledFrom = 0;
    bool m_more = false;
};
