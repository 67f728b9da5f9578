#include "service/core/PushBatches.h"

#include <QJsonDocument>

namespace {

QByteArray encode(const QJsonObject &record)
{
    return QJsonDocument(record).toJson(QJsonDocument::Compact);
}

constexpr QByteArrayView head = R"({"collections":[)";
constexpr QByteArrayView middle = R"(],"docs":[)";
constexpr QByteArrayView tail = "]}";
constexpr qint64 envelopeBytes = head.size() + middle.size() + tail.size();

} // namespace

PushBatches::PushBatches(QList<Document> docs, QList<Collection> collections, qint64 maxBodyBytes,
                         qsizetype maxDocuments)
    : m_docs(std::move(docs)), m_collections(std::move(collections)), m_maxBodyBytes(maxBodyBytes),
      m_maxDocuments(maxDocuments)
{}

std::optional<PushBatches::Batch> PushBatches::next()
{
    Batch batch;
    QByteArray collections;
    if (std::exchange(m_first, false)) {
        batch.collections = m_collections;
        for (const Collection &c : std::as_const(m_collections)) {
            if (!collections.isEmpty())
                collections += ',';
            collections += encode(c.toJson());
        }
    }
    QByteArray docs;
    qint64 size = envelopeBytes + collections.size();
    while (m_next < m_docs.size() && batch.docs.size() < m_maxDocuments) {
        const Document &d = m_docs.at(m_next);
        const QByteArray json = m_carried.isEmpty() ? encode(d.toJson()) : std::exchange(m_carried, {});
        if (envelopeBytes + json.size() > m_maxBodyBytes) {
            m_tooLarge.append(d);
            ++m_next;
            continue;
        }
        const qint64 added = json.size() + (docs.isEmpty() ? 0 : 1);
        if (size + added > m_maxBodyBytes) {
            m_carried = json;
            break;
        }
        if (!docs.isEmpty())
            docs += ',';
        docs += json;
        size += added;
        batch.docs.append(d);
        ++m_next;
    }
    if (batch.docs.isEmpty() && batch.collections.isEmpty())
        return std::nullopt;
    batch.body.reserve(size);
    batch.body.append(head).append(collections).append(middle).append(docs).append(tail);
    return batch;
}
