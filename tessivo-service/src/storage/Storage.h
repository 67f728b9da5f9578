#pragma once

#include "Database.h"

#include "protocol/Rules.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace tessivo::server {

struct UserRow
{
    QString id;
    QString email;
    QString name;
    QString passwordHash;
    QString handle;
    bool admin = false;
};

struct SessionRow
{
    QString userId;
    qint64 createdAt = 0;
    std::optional<qint64> expiresAt;

    // A session lasts `lifetime` from when it was made (a rolled session is
    // made anew), and a rolled-from one only until its grace ends.
    bool liveAt(qint64 now, qint64 lifetime) const
    {
        return now - createdAt < lifetime && (!expiresAt || *expiresAt > now);
    }
};

struct PublicationRow
{
    QString slug;
    QString userId;
    QString documentId;
    QString title;
    QString body;
    qint64 createdAt = 0;
    qint64 updatedAt = 0;
};

struct ImageRow
{
    QString id;
    QString userId;
    QString filename;
    QString contentType;
    qint64 size = 0;
    qint64 createdAt = 0;
};

enum class RecordKind { Document, Collection };

// One part of a pull's piece: its records' highest stamp and stored bytes.
struct PullPart
{
    qint64 upTo = 0;
    qint64 bytes = 0;
};

// Where a piece of a pull ends, and where it is cut into parts (see
// Storage::planPull).
struct PullPlan
{
    // The highest stamp the piece covers, and whether records stamped
    // after it remain.
    qint64 upTo = 0;
    bool more = false;
    // The parts of the piece's documents, and of its collections, in order.
    QList<PullPart> documentParts;
    QList<PullPart> collectionParts;
};

// A pushed record as checked (see Storage::checkPush).
struct PushedRecord
{
    QJsonObject record;
    QString id; // empty when the record had no string id
    // Why the app could not read it, or empty.
    QString problem;
    // The bytes it takes stored.
    qint64 size = 0;
    // The app's conflicted copy of a version this push replaces (see
    // Storage::markAppCopies): kept past the quota as the service's own are.
    bool appCopy = false;
};

// Outcome of storing one pushed record.
struct PushResult
{
    QString id;        // empty when the record had no string id
    QByteArray status; // "ok", "stale" or "invalid"
    QString error;
};

// Everything the service keeps, one database for SQLite and PostgreSQL
// alike, its schema and every table by subject: accounts (users, sessions,
// sign-in peers, one-time tokens), records (documents, collections and
// their stamps), publications and images.
class Storage : public Database
{
public:
    // Connects (see Database::connect) and makes or updates the schema.
    bool open(const QString &spec, QString *error);

    std::optional<UserRow> userById(const QString &id);
    std::optional<UserRow> userByEmail(const QString &email);
    std::optional<UserRow> userByHandle(const QString &handle);
    QStringList adminIds();
    // `inserted` is false when the e-mail address or the handle is taken.
    bool insertUser(const UserRow &user, qint64 now, bool *inserted);
    // Makes the accounts stored under `emails` (compared lower-cased) the
    // only admins. False, with nothing changed, when one of them has no
    // account; `missing` then names those.
    bool assignAdmins(const QStringList &emails, QStringList *missing);

    bool insertSession(const QByteArray &hash, const QString &userId, qint64 now);
    std::optional<SessionRow> session(const QByteArray &hash);
    // Ends the session at `at`, remembering the session it rolled to.
    bool expireSession(const QByteArray &hash, qint64 at, const QByteArray &rolledTo);
    // Ends the session, the one it rolled to and the one rolled into it.
    bool deleteSession(const QByteArray &hash);
    // Drops sessions whose grace is over or that were made before `madeBefore`.
    bool deleteExpiredSessions(qint64 now, qint64 madeBefore);

    // The peers (see peerKey) each account signed in from, and when last;
    // a peer's entry older than `forgetBefore` is dropped on the next write.
    bool recordSignInPeer(const QString &userId, const QString &peer, qint64 at, qint64 forgetBefore);
    bool signedInFrom(const QString &userId, const QString &peer, qint64 since);

    bool insertOneTimeToken(const QByteArray &hash, const QString &userId, qint64 expiresAt);
    // The user of an unexpired token, which is used up by the call.
    std::optional<QString> takeOneTimeToken(const QByteArray &hash, qint64 now);

    // The piece of records stamped after `since`, documents and collections
    // in one stamp order: as many as fit in `maxBytes`, but at least one,
    // and never a cut between two records of one stamp. Each list of it is
    // cut the same way into parts of about `partBytes`. Only the stored
    // sizes are read.
    bool planPull(const QString &userId, qint64 since, qint64 maxBytes, qint64 partBytes, PullPlan *plan);
    // Appends the records of `kind` stamped after `from` up to `to` to
    // `out` as stored, in stamp order, each after a comma unless it is the
    // list's first (`listed` counts the list's records). Records the app
    // could not read are left out (and logged).
    bool pullRecords(RecordKind kind, const QString &userId, qint64 from, qint64 to, qsizetype *listed,
                     QByteArray *out);
    // Checks and measures pushed records; no database work, so that it can
    // run before the write transaction and the write lock is held for the
    // writes alone.
    static QList<PushedRecord> checkPush(RecordKind kind, const QJsonArray &records);
    // Marks the pushed documents that are conflicted copies the app made of
    // a stored version that another document of the same push replaces: new
    // here, titled as a copy, under the id the app and the service both
    // give that version's copy, and holding exactly its text. Such a copy
    // keeps only text the account already held, so it counts as the
    // service's own copies do. Call inside `transaction`, before the writes.
    bool markAppCopies(const QString &userId, QList<PushedRecord> *documents);
    // Merges pushed records; call inside `transaction`. `stamp` hands out
    // the user's next stamp. The stored size of the conflicted copies it
    // makes or takes from the app (see markAppCopies) is added to
    // `copiedBytes`. A pushed document taken over a version its sender never
    // saw leaves that version as a copy; when no id is left for that copy,
    // the push of it answers "stale" instead, so that no text is lost.
    bool pushRecords(RecordKind kind, const QString &userId, const QList<PushedRecord> &records,
                     const std::function<qint64()> &stamp, QList<PushResult> *results,
                     qint64 *copiedBytes = nullptr);
    // Stores `record` as given with a fresh stamp, whatever is stored;
    // `storedSize` gets the bytes it takes.
    bool putRecord(RecordKind kind, const QString &userId, QJsonObject record, qint64 stamp,
                   qint64 *storedSize = nullptr);
    // A record as stored: its JSON with the service's stamp.
    static QByteArray storedRecord(QJsonObject record, qint64 stamp);

    // Bytes the account keeps: every stored field of its documents (live
    // and deleted), collections, publications and images, as each row's
    // count says. Call inside `transaction`, after `lockAccount`.
    std::optional<qint64> storedBytes(const QString &userId);
    // Holds back other writers to the account until the transaction ends,
    // so that two of them can't both fit under its quota.
    bool lockAccount(const QString &userId);
    enum class QuotaOutcome { written, overQuota, failed };
    // Locks the account, runs `write` inside the caller's transaction and
    // says whether the write took it past `quota` (the caller then rolls
    // back). A write that can't fit is refused without running:
    // `growthAtMost` bounds what it adds, and when that is too much,
    // `growth` says what it would add. A write that adds no bytes always
    // fits, so that an account over its quota can get back under it. The
    // bytes `write` reports as exempt, the service's own conflicted copies,
    // are kept past the quota, but not past twice it.
    QuotaOutcome writeWithinQuota(const QString &userId, qint64 quota, qint64 growthAtMost,
                                  const std::function<std::optional<qint64>()> &growth,
                                  const std::function<bool(qint64 *exempt)> &write);
    // The bytes merging `records` would add to the account (negative when
    // it shrinks): each one stored, less what it replaces.
    std::optional<qint64> pushGrowth(RecordKind kind, const QString &userId,
                                     const QList<PushedRecord> &records);
    // What a row counts against its owner's quota, kept in the row's
    // stored_bytes. A document or collection counts its JSON as stored
    // (see storedRecord).
    static qint64 countedBytes(QByteArrayView storedRecord);
    static qint64 countedBytes(const PublicationRow &row);
    static qint64 countedBytes(const ImageRow &row);
    bool liveDocuments(const QString &userId, QList<QJsonObject> *out);
    std::optional<QJsonObject> record(RecordKind kind, const QString &userId, const QString &id);
    // The user's last stamp (0 before the first) and its update.
    qint64 lastStamp(const QString &userId);
    bool setLastStamp(const QString &userId, qint64 stamp);

    std::optional<PublicationRow> publication(const QString &slug);
    // Stores `row` unless its slug is taken; `inserted` says which. The
    // insert itself claims the slug, so two claims of one slug at once,
    // from two workers or two services, never both succeed nor fail.
    bool insertPublication(const PublicationRow &row, bool *inserted);
    // Change or remove the owner's publication of `row.slug` (`slug`);
    // `found` is false when the owner has none under it.
    bool updatePublication(const PublicationRow &row, bool *found);
    bool deletePublication(const QString &userId, const QString &slug, bool *found);
    QList<PublicationRow> publicationsOf(const QStringList &userIds);

    bool insertImage(const ImageRow &row, const QByteArray &bytes);
    QList<ImageRow> imagesOf(const QString &userId);
    // `bytes` may be null to read only the row.
    std::optional<ImageRow> image(const QString &id, QByteArray *bytes);
    // `length` bytes of an image from `offset`, so a reply needn't hold it whole.
    bool imagePiece(const QString &id, qint64 offset, qint64 length, QByteArray *out);

private:
    bool createSchema();
    enum class Kept { yes, noPlace, failed };
    Kept keepReplacedDocument(const QString &userId, const QJsonObject &stored, const QJsonObject &pushed,
                              const std::function<qint64()> &stamp, qint64 *copiedBytes);
    // Where the copy of the user's document `documentId` last changed at
    // `updatedAt`, holding `text`, goes (see protocol::records::
    // conflictedCopyPlace); `text` is asked for only when an id is taken.
    // `failed` is set when the database could not say.
    std::optional<protocol::records::CopyPlace> copyPlace(const QString &userId, const QString &documentId,
                                                          qint64 updatedAt,
                                                          const std::function<QString()> &text, bool *failed);
    bool countStoredRows();
};

} // namespace tessivo::server
