#pragma once

#include "Storage.h"

#include <QByteArray>
#include <QString>

namespace tessivo::server {

// The body of a pull reply, made a part at a time: each part of its piece
// is read from the database when the one before has been taken, so that a
// reply its reader leaves unread holds about one part. Records stamped
// within the piece can only move past it (a push stamps what it writes
// after every stamp so far), so a record changed while the reply is under
// way comes with the next pull, and following the cursor skips nothing.
class PullReply
{
public:
    PullReply(QString userId, qint64 since, qint64 pieceBytes, qint64 partBytes);

    // Appends the next bytes of the body to `out`: at most a part, of which
    // a record larger than a part takes several. `now` goes into the last.
    // False when the database failed.
    bool next(Storage &storage, qint64 now, QByteArray *out);
    bool finished() const { return m_stage == Stage::Finished && m_pendingFrom == m_pending.size(); }
    // Records given out so far.
    qsizetype count() const { return m_count; }
    // Whether records stamped after the piece remain; known from the first `next`.
    bool more() const { return m_plan.more; }
    // Starts again with the piece after this one, for a piece whose records
    // were all left out: each reply must move the client's cursor on.
    void skipPiece();

private:
    enum class Stage { Plan, Documents, Collections, Finished };

    // Reads the next part into `m_pending`, with the JSON around it.
    bool readPart(Storage &storage, qint64 now);

    QString m_userId;
    qint64 m_since;
    qint64 m_pieceBytes;
    qint64 m_partBytes;
    PullPlan m_plan;
    Stage m_stage = Stage::Plan;
    qsizetype m_part = 0;   // of the list being read
    qsizetype m_listed = 0; // records of the list being read
    qsizetype m_count = 0;
    QByteArray m_pending;
    qsizetype m_pendingFrom = 0;
};

} // namespace tessivo::server
