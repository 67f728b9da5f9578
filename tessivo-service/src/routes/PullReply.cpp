#include "PullReply.h"

#include <QMutex>

#include <optional>

namespace tessivo::server {

PullReply::PullReply(QString userId, qint64 since, qint64 pieceBytes, qint64 partBytes)
    : m_userId(std::move(userId)), m_since(since), m_pieceBytes(pieceBytes), m_partBytes(partBytes)
{}

PullReply::Step PullReply::start(Storage &storage, qint64 now, QByteArray *out)
{
    for (;;) {
        const Step step = next(storage, now, out);
        if (step != Step::Ready)
            return step;
        if (finished() && m_count == 0 && more()) {
            out->clear();
            skipPiece();
        } else if (finished()) {
            return step;
        } else if (m_count > 0 && out->size() >= m_partBytes) {
            m_begun = true;
            return step;
        }
    }
}

PullReply::Step PullReply::next(Storage &storage, qint64 now, QByteArray *out)
{
    // After Waiting, what was read before the wait is still to be given out
    // with the part that waited.
    if (m_pendingFrom == m_pending.size() || m_wanted > 0) {
        if (m_pendingFrom == m_pending.size()) {
            m_pending.clear();
            m_pendingFrom = 0;
        }
        const Step step = readPart(storage, now);
        if (step != Step::Ready)
            return step;
    }
    const qsizetype size = std::min<qsizetype>(m_pending.size() - m_pendingFrom, m_partBytes);
    out->append(QByteArrayView(m_pending).sliced(m_pendingFrom, size));
    m_pendingFrom += size;
    if (m_pendingFrom == m_pending.size()) {
        m_pending.clear();
        m_pendingFrom = 0;
        m_room.reset();
    }
    return Step::Ready;
}

PullReply::Step PullReply::readPart(Storage &storage, qint64 now)
{
    if (m_stage == Stage::Plan) {
        m_plan = {};
        if (!storage.planPull(m_userId, m_since, m_pieceBytes, m_partBytes, &m_plan))
            return Step::Failed;
        m_pending = R"({"documents":[)";
        m_stage = Stage::Documents;
        m_part = 0;
        m_listed = 0;
    }
    // Parts whose records were all left out add nothing: the next one is read.
    while (m_stage != Stage::Finished) {
        const bool documents = m_stage == Stage::Documents;
        const QList<PullPart> &parts = documents ? m_plan.documentParts : m_plan.collectionParts;
        if (m_part < parts.size()) {
            const PullPart &part = parts[m_part];
            if (part.bytes > m_partBytes && m_room.bytes() < part.bytes) {
                m_wanted = part.bytes;
                return Step::Waiting;
            }
            m_wanted = 0;
            const qsizetype before = m_listed;
            const bool read = [&] {
                // Reading a record takes several times its size for a moment
                // (the database's copy, the decoded text, the check that the
                // app can read it), beyond what the budget counts: records
                // larger than a part are read one at a time in the whole
                // process, so that what replies hold stays within the
                // budget and one read.
                static QMutex largeReads;
                std::optional<QMutexLocker<QMutex>> oneAtATime;
                if (part.bytes > m_partBytes)
                    oneAtATime.emplace(&largeReads);
                return storage.pullRecords(documents ? RecordKind::Document : RecordKind::Collection,
                                           m_userId, m_part == 0 ? m_since : parts[m_part - 1].upTo,
                                           part.upTo, &m_listed, &m_pending);
            }();
            if (!read)
                return Step::Failed;
            m_count += m_listed - before;
            ++m_part;
            if (m_listed > before)
                return Step::Ready;
            m_room.reset();
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
    return Step::Ready;
}

void PullReply::skipPiece()
{
    m_since = m_plan.upTo;
    m_stage = Stage::Plan;
    m_pending.clear();
    m_pendingFrom = 0;
    m_count = 0;
    m_room.reset();
}

} // namespace tessivo::server
