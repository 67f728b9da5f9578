#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QSqlDatabase>
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

// Why the last statement failed.
struct StorageError
{
    QString text;
    // The database ran out of disk space: the service's own trouble, which
    // a later try may not meet.
    bool outOfSpace = false;
};

// Outcome of storing one pushed record.
struct PushResult
{
    QString id;        // empty when the record had no string id
    QByteArray status; // "ok", "stale" or "invalid"
    QString error;
};

// Everything the service keeps, behind QtSql: SQLite or PostgreSQL with one
// schema. Values only ever reach SQL as bound parameters. Every write runs
// in a transaction, and a caller answers only after `transaction` returned
// true, so an answered write is on disk.
class Storage
{
public:
    Storage();
    ~Storage();
    Storage(const Storage &) = delete;
    Storage &operator=(const Storage &) = delete;

    // "sqlite:<path>" or "postgres:<key=value …>"; empty means SQLite in the
    // XDG data folder.
    bool open(const QString &spec, QString *error);
    void close();
    QString lastError() const { return m_error.text; }
    bool lastErrorIsOutOfSpace() const { return m_error.outOfSpace; }
    void clearError() { m_error = {}; }

    // Runs `work` in a write transaction; commits when it returns true and
    // the commit succeeds. On SQLite it takes the write lock at once, so a
    // second process waits for it (busy timeout) instead of failing when
    // its first read turns into a write.
    bool transaction(const std::function<bool()> &work);
    // Runs `work` in a read-only transaction that sees one snapshot of the
    // database throughout, whatever other processes commit meanwhile.
    bool readTransaction(const std::function<bool()> &work);

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

    // Records stamped after `since`, oldest stamp first, as stored JSON.
    bool changedRecords(RecordKind kind, const QString &userId, qint64 since, QList<QByteArray> *out);
    // Merges pushed records; call inside `transaction`. `stamp` hands out
    // the user's next stamp.
    bool pushRecords(RecordKind kind, const QString &userId, const QJsonArray &records,
                     const std::function<qint64()> &stamp, QList<PushResult> *results);
    // Stores `record` as given with a fresh stamp, whatever is stored.
    bool putRecord(RecordKind kind, const QString &userId, QJsonObject record, qint64 stamp);
    // Bytes the account keeps: the bodies of its live documents and its
    // images. Call inside `transaction`, after `lockAccount`.
    std::optional<qint64> storedBytes(const QString &userId);
    // Holds back other writers to the account until the transaction ends,
    // so that two of them can't both fit under its quota.
    bool lockAccount(const QString &userId);
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
    bool begin(const QString &statement);
    bool finish(const std::function<bool()> &work);
    bool exec(const QString &sql);
    bool createSchema();
    bool keepReplacedDocument(const QString &userId, const QJsonObject &stored, const QJsonObject &pushed,
                              const std::function<qint64()> &stamp);
    bool addColumn(const QString &table, const QString &column, const QString &type);
    bool countStoredBodies();

    QString m_connection;
    StorageError m_error;
    bool m_postgres = false;
};

} // namespace tessivo::server
