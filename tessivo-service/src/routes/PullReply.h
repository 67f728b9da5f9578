#pragma once

#include "ReplyBudget.h"
#include "Storage.h"

#include <QByteArray>
#include <QString>

namespace tessivo::server {

// The body of a pull reply, made a part at a time: each part of its piece
// is read from the database when the one before has been taken, so that a
// reply its reader leaves unread holds about one part. A part holding a
// record larger than that is read only with room for it in the reply
// budget, held until the record has been handed out. Records stamped
// within the piece can only move past it (a push stamps what it writes
// after every stamp so far), so a record changed while the reply is under
// way comes with the next pull, and following the cursor skips nothing.
class PullReply
{
public:
    enum class Step {
        Failed,  // the database failed
        Ready,   // bytes were appended
        Waiting, // `roomWanted` bytes are needed first: see `giveRoom`
    };

    PullReply(QString userId, qint64 since, qint64 pieceBytes, qint64 partBytes);

    // Appends the reply's first bytes to `out`: the whole body when it
    // comes to about a part, otherwise a start with at least one record,
    // the rest following from `next`. After Waiting it is called again with
    // the same `out`. A piece whose records were all left out is passed
    // over, so that each reply moves the client's cursor on.
    Step start(Storage &storage, qint64 now, QByteArray *out);
    // Appends the next bytes of the body to `out`: at most a part, of which
    // a record larger than a part takes several. `now` goes into the last.
    Step next(Storage &storage, qint64 now, QByteArray *out);
    // `start` has given out a start, and `next` gives the rest.
    bool begun() const { return m_begun; }
    bool finished() const { return m_stage == Stage::Finished && m_pendingFrom == m_pending.size(); }
    // Whether records stamped after the piece remain; known from the first `next`.
    bool more() const { return m_plan.more; }
    // What the part to be read next holds, after Waiting.
    qint64 roomWanted() const { return m_wanted; }
    void giveRoom(ReplyBudget::Hold room) { m_room = std::move(room); }

private:
    enum class Stage { Plan, Documents, Collections, Finished };

    // Reads the next part into `m_pending`, with the JSON around it.
    Step readPart(Storage &storage, qint64 now);
    void skipPiece();

    QString m_userId;
    qint64 m_since;
    qint64 m_pieceBytes;
    qint64 m_partBytes;
    PullPlan m_plan;
    Stage m_stage = Stage::Plan;
    qsizetype m_part = 0;   // of the list being read
    qsizetype m_listed = 0; // records of the list being read
    qsizetype m_count = 0;  // records given out so far
    bool m_begun = false;
    QByteArray m_pending;
    qsizetype m_pendingFrom = 0;
    qint64 m_wanted = 0;
    ReplyBudget::Hold m_room;
};

} // namespace tessivo::server
