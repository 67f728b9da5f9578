#include "PullReply.h"

namespace tessivo::server {

PullReply::PullReply(QString userId, qint64 since, qint64 pieceBytes, qint64 partBytes)
    : m_userId(std::move(userId)), m_since(since), m_pieceBytes(pieceBytes), m_partBytes(partBytes)
{}

bool PullReply::next(Storage &storage, qint64 now, QByteArray *out)
{
    if (m_pendingFrom == m_pending.size()) {
        m_pending.clear();
        m_pendingFrom = 0;
        if (!readPart(storage, now))
            return false;
    }
    const qsizetype size = std::min<qsizetype>(m_pending.size() - m_pendingFrom, m_partBytes);
    out->append(QByteArrayView(m_pending).sliced(m_pendingFrom, size));
    m_pendingFrom += size;
    return true;
}

bool PullReply::readPart(Storage &storage, qint64 now)
{
    if (m_stage == Stage::Plan) {
        m_plan = {};
        if (!storage.planPull(m_userId, m_since, m_pieceBytes, m_partBytes, &m_plan))
            return false;
        m_pending = R"({"documents":[)";
        m_stage = Stage::Documents;
        m_part = 0;
        m_listed = 0;
    }
    // Parts whose records were all left out add nothing: the next one is read.
    while (m_stage != Stage::Finished) {
        const bool documents = m_stage == Stage::Documents;
        const QList<qint64> &parts = documents ? m_plan.documentParts : m_plan.collectionParts;
        if (m_part < parts.size()) {
            const qsizetype before = m_listed;
            if (!storage.pullRecords(documents ? RecordKind::Document : RecordKind::Collection, m_userId,
                                     m_part == 0 ? m_since : parts[m_part - 1], parts[m_part], &m_listed,
                                     &m_pending))
                return false;
            m_count += m_listed - before;
            ++m_part;
            if (m_listed > before)
                return true;
        } else if (documents) {
            m_pending += R"(],"collections":[)";
            m_stage = Stage::Collections;
            m_part = 0;
            m_listed = 0;
        } else {
            m_pending += R"(],"now":)" + QByteArray::number(now);
            if (m_plan.more)
                m_pending += R"(,"more":true)";
            m_pending += '}';
            m_stage = Stage::Finished;
        }
    }
    return true;
}

void PullReply::skipPiece()
{
    m_since = m_plan.upTo;
    m_stage = Stage::Plan;
    m_pending.clear();
    m_pendingFrom = 0;
    m_count = 0;
}

} // namespace tessivo::server
