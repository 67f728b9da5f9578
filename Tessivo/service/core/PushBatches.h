#pragma once

#include "store/Collection.h"
#include "store/Document.h"

#include <QByteArray>
#include <QList>

#include <optional>

// Cuts the records of one push into request bodies the service takes: each
// batch holds at most `maxDocuments` documents and its body (the JSON of a
// SyncPushRequest) at most `maxBodyBytes`, the collections all going with the
// first batch. Documents keep their order; while they are small, batches are
// exactly `maxDocuments` long. A document whose record alone cannot fit in a
// body is left out of every batch and listed in tooLarge().
//
// Each document is encoded once, when its batch is cut, so a push never
// holds more than one batch's JSON.
class PushBatches final
{
public:
    struct Batch
    {
        QList<Document> docs;
        QList<Collection> collections;
        // The request body, {"collections":[...],"docs":[...]}.
        QByteArray body;
    };

    PushBatches(QList<Document> docs, QList<Collection> collections, qint64 maxBodyBytes,
                qsizetype maxDocuments);

    // The next batch; none once every record has gone or been left out.
    std::optional<Batch> next();
    // The documents left out so far, in push order.
    const QList<Document> &tooLarge() const { return m_tooLarge; }

private:
    QList<Document> m_docs;
    QList<Collection> m_collections;
    qint64 m_maxBodyBytes;
    qsizetype m_maxDocuments;
    qsizetype m_next = 0;
    bool m_first = true;
    // The JSON of m_docs[m_next] when a batch ended before it.
    QByteArray m_carried;
    QList<Document> m_tooLarge;
};
