#include "Storage.h"

#include "protocol/Rules.h"
#include "protocol/WireRecords.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlQuery>

#include <algorithm>

namespace tessivo::server {

namespace {
// Why the app could not read a record, or an empty string.
QString recordProblem(RecordKind kind, const QJsonValue &record)
{
    return kind == RecordKind::Document ? SyncPushRequest::documentProblem(record)
                                        : SyncPushRequest::collectionProblem(record);
}

QString recordTable(RecordKind kind)
{
    return kind == RecordKind::Document ? QStringLiteral("documents") : QStringLiteral("collections");
}

std::optional<qint64> optionalInteger(const QJsonObject &record, const char *key)
{
    const QJsonValue value = record.value(QLatin1String(key));
    return value.isDouble() ? std::optional(value.toInteger()) : std::nullopt;
}

std::optional<QString> optionalString(const QJsonObject &record, const char *key)
{
    const QJsonValue value = record.value(QLatin1String(key));
    return value.isString() ? std::optional(value.toString()) : std::nullopt;
}

QString bodyOf(const QJsonObject &record)
{
    return optionalString(record, "body").value_or(QString());
}

bool isDeleted(const QJsonObject &record)
{
    return optionalInteger(record, "deletedAt").has_value();
}

// A stamp of the service's, for measuring a record before it has one: 13
// digits, as stamps have for centuries.
constexpr qint64 measuringStamp = qint64(1e12);

// How many ids the copy of one version may try. Each try is a lookup, and
// each id past the first holds the copy of another text pushed over the
// same version: a thousand of them are no one's work but a client's that
// means harm.
constexpr qsizetype maxCopyIds = 1000;

} // namespace

bool Storage::planPull(const QString &userId, qint64 since, qint64 maxBytes, qint64 partBytes, PullPlan *plan)
{
    // The cuts are found on the sizes alone, from the index, so that
    // records past them are never read.
    QSqlQuery sizes(connection());
    sizes.setForwardOnly(true);
    sizes.prepare(QStringLiteral(
        "SELECT stamp, COALESCE(stored_bytes, 0), 0 FROM documents WHERE user_id = ? AND stamp > ? "
        "UNION ALL SELECT stamp, COALESCE(stored_bytes, 0), 1 FROM collections WHERE user_id = ? AND "
        "stamp > ? ORDER BY 1"));
    if (!run(sizes, {userId, since, userId, since}))
        return false;
    struct List
    {
        QList<PullPart> *parts;
    };
    List lists[] = {{&plan->documentParts}, {&plan->collectionParts}};
    qint64 total = 0;
    plan->upTo = since;
    plan->more = false;
    bool any = false;
    while (sizes.next()) {
        const qint64 stamp = sizes.value(0).toLongLong();
        const qint64 bytes = sizes.value(1).toLongLong();
        // Records of one stamp go together: the client's cursor moves past
        // the highest stamp it was sent, and each part is read after the
        // highest stamp of the one before.
        if (any && stamp != plan->upTo && total + bytes > maxBytes) {
            plan->more = true;
            break;
        }
        List &list = lists[sizes.value(2).toInt() == 0 ? 0 : 1];
        if (list.parts->isEmpty() ||
            (stamp != list.parts->last().upTo && list.parts->last().bytes + bytes > partBytes))
            list.parts->append(PullPart{});
        list.parts->last().upTo = stamp;
        list.parts->last().bytes += bytes;
        any = true;
        plan->upTo = stamp;
        total += bytes;
    }
    sizes.finish();
    return true;
}

bool Storage::pullRecords(RecordKind kind, const QString &userId, qint64 from, qint64 to, qsizetype *listed,
                          QByteArray *out)
{
    const auto give = [&](const QByteArray &record) {
        // Records stored before pushes were checked as the app reads them
        // may not decode; one of them would fail every pull of its owner.
        const QString problem = recordProblem(kind, QJsonDocument::fromJson(record).object());
        if (!problem.isEmpty()) {
            qWarning("[sync] left a stored %s of user %s out of a pull: %s",
                     kind == RecordKind::Document ? "document" : "collection", qPrintable(userId),
                     qPrintable(problem));
            return;
        }
        if ((*listed)++ > 0)
            *out += ',';
        *out += record;
    };
    const QString table = recordTable(kind);
    QSqlQuery q(connection());
    q.setForwardOnly(true);
    if (!postgres()) {
        // SQLite hands a record's UTF-8 over as it is stored when asked for
        // bytes, rather than as UTF-16 text at three times its size: a large
        // record costs far less to read.
        q.prepare(QStringLiteral("SELECT CAST(record AS BLOB) FROM %1 WHERE user_id = ? AND stamp > ? AND "
                                 "stamp <= ? ORDER BY stamp")
                      .arg(table));
        if (!run(q, {userId, from, to}))
            return false;
        while (q.next())
            give(q.value(0).toByteArray());
        return true;
    }
    // PostgreSQL's client library keeps its input buffer as large as the
    // largest row the connection has received, for as long as it lasts:
    // large records come in slices, so that no worker's connection keeps
    // the size of the largest record it ever read.
    constexpr qint64 sliceBytes = 1024 * 1024;
    struct Row
    {
        QByteArray record; // null: to be read in slices
        QString id;
        qint64 stamp = 0;
        qint64 characters = 0;
        qint64 bytes = 0;
    };
    QList<Row> rows;
    q.prepare(QStringLiteral("SELECT CASE WHEN octet_length(record) <= ? THEN record END, id, stamp, "
                             "char_length(record), octet_length(record) FROM %1 WHERE user_id = ? AND stamp "
                             "> ? AND stamp <= ? "
                             "ORDER BY stamp")
                  .arg(table));
    if (!run(q, {sliceBytes, userId, from, to}))
        return false;
    while (q.next()) {
        rows.append({q.isNull(0) ? QByteArray() : q.value(0).toString().toUtf8(), q.value(1).toString(),
                     q.value(2).toLongLong(), q.value(3).toLongLong(), q.value(4).toLongLong()});
    }
    q.finish();
    QSqlQuery slice(connection());
    slice.setForwardOnly(true);
    slice.prepare(
        QStringLiteral("SELECT substr(record, ?, ?) FROM %1 WHERE user_id = ? AND id = ? AND stamp = ?")
            .arg(table));
    for (Row &row : rows) {
        if (row.record.isNull()) {
            // In at most eight slices: each one's read decodes what is
            // stored from its start.
            const qint64 characters = std::max(sliceBytes, (row.characters + 7) / 8);
            row.record.reserve(row.bytes);
            bool changed = false;
            for (qint64 at = 1; at <= row.characters && !changed; at += characters) {
                if (!run(slice, {at, characters, userId, row.id, row.stamp}))
                    return false;
                // Changed since: it has a later stamp, and comes with the
                // next pull.
                changed = !slice.next();
                if (!changed)
                    row.record += slice.value(0).toString().toUtf8();
                slice.finish();
            }
            if (changed)
                continue;
        }
        give(row.record);
        row.record = QByteArray();
    }
    return true;
}

QByteArray Storage::storedRecord(QJsonObject record, qint64 stamp)
{
    record.insert(QStringLiteral("serverUpdatedAt"), stamp);
    return QJsonDocument(record).toJson(QJsonDocument::Compact);
}

bool Storage::putRecord(RecordKind kind, const QString &userId, QJsonObject record, qint64 stamp,
                        qint64 *storedSize)
{
    const QByteArray json = storedRecord(record, stamp);
    const qint64 counted = countedBytes(json);
    if (storedSize)
        *storedSize = counted;
    QSqlQuery q(connection());
    q.prepare(QStringLiteral("INSERT INTO %1 (user_id, id, record, updated_at, stamp, stored_bytes) "
                             "VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT (user_id, id) DO UPDATE SET "
                             "record = excluded.record, updated_at = excluded.updated_at, "
                             "stamp = excluded.stamp, stored_bytes = excluded.stored_bytes")
                  .arg(recordTable(kind)));
    return run(q, {userId, record.value(QLatin1String("id")).toString(), QString::fromUtf8(json),
                   *protocol::records::updatedAt(record), stamp, counted});
}

std::optional<QJsonObject> Storage::record(RecordKind kind, const QString &userId, const QString &id)
{
    QSqlQuery q(connection());
    q.prepare(QStringLiteral("SELECT record FROM %1 WHERE user_id = ? AND id = ?").arg(recordTable(kind)));
    if (!run(q, {userId, id}) || !q.next())
        return std::nullopt;
    return QJsonDocument::fromJson(q.value(0).toString().toUtf8()).object();
}

QList<PushedRecord> Storage::checkPush(RecordKind kind, const QJsonArray &records)
{
    QList<PushedRecord> out;
    out.reserve(records.size());
    for (const QJsonValue &value : records) {
        PushedRecord pushed{value.toObject(), {}, recordProblem(kind, value), 0};
        const QJsonValue id = pushed.record.value(QLatin1String("id"));
        pushed.id = id.isString() ? id.toString() : QString();
        if (pushed.problem.isEmpty())
            pushed.size = countedBytes(storedRecord(pushed.record, measuringStamp));
        out.append(std::move(pushed));
    }
    return out;
}

std::optional<qint64> Storage::pushGrowth(RecordKind kind, const QString &userId,
                                          const QList<PushedRecord> &records)
{
    QSqlQuery find(connection());
    find.prepare(
        QStringLiteral("SELECT updated_at, COALESCE(stored_bytes, 0) FROM %1 WHERE user_id = ? AND id = ?")
            .arg(recordTable(kind)));
    qint64 growth = 0;
    for (const PushedRecord &pushed : records) {
        // The app's copies count as the service's own: not at all, up to
        // twice the quota.
        if (!pushed.problem.isEmpty() || pushed.appCopy)
            continue;
        if (!run(find, {userId, pushed.id}))
            return std::nullopt;
        const bool stored = find.next();
        const qint64 storedUpdatedAt = stored ? find.value(0).toLongLong() : 0;
        const qint64 storedSize = stored ? find.value(1).toLongLong() : 0;
        find.finish();
        // An older record leaves the stored one in place.
        if (stored && *protocol::records::updatedAt(pushed.record) < storedUpdatedAt)
            continue;
        growth += pushed.size - storedSize;
    }
    return growth;
}

bool Storage::pushRecords(RecordKind kind, const QString &userId, const QList<PushedRecord> &records,
                          const std::function<qint64()> &stamp, QList<PushResult> *results,
                          qint64 *copiedBytes)
{
    QSqlQuery find(connection());
    find.prepare(QStringLiteral("SELECT updated_at, record FROM %1 WHERE user_id = ? AND id = ?")
                     .arg(recordTable(kind)));
    for (const PushedRecord &pushed : records) {
        const QJsonObject &record = pushed.record;
        if (!pushed.problem.isEmpty()) {
            results->append({pushed.id, "invalid", pushed.problem});
            continue;
        }
        const QString &id = pushed.id;
        if (!run(find, {userId, id}))
            return false;
        const bool stored = find.next();
        const qint64 storedUpdatedAt = stored ? find.value(0).toLongLong() : 0;
        const QByteArray storedJson = stored ? find.value(1).toString().toUtf8() : QByteArray();
        find.finish();
        // Last writer by updatedAt wins; an older push re-stamps what is
        // stored so the pusher's next pull brings it back. So does one whose
        // replaced text would find no place.
        bool taken = !stored || *protocol::records::updatedAt(record) >= storedUpdatedAt;
        if (taken && kind == RecordKind::Document && stored) {
            switch (keepReplacedDocument(userId, QJsonDocument::fromJson(storedJson).object(), record, stamp,
                                         copiedBytes)) {
            case Kept::failed:
                return false;
            case Kept::noPlace:
                taken = false;
                break;
            case Kept::yes:
                break;
            }
        }
        if (taken) {
            qint64 size = 0;
            if (!putRecord(kind, userId, record, stamp(), &size))
                return false;
            if (pushed.appCopy && !stored && copiedBytes)
                *copiedBytes += size;
            results->append({id, "ok", {}});
        } else {
            if (!putRecord(kind, userId, QJsonDocument::fromJson(storedJson).object(), stamp()))
                return false;
            results->append({id, "stale", {}});
        }
    }
    return true;
}

// The pusher had not seen the stored version when it wrote its own (it
// carries an older server time, or none): the stored text would be gone
// from every computer, so it is kept as a conflicted copy, under the id the
// app gives the same loser, so that a copy is made once. Where that id
// holds the copy of another text (pushes of one document at one updatedAt,
// none having seen the others), the copy takes the next id the app would.
Storage::Kept Storage::keepReplacedDocument(const QString &userId, const QJsonObject &stored,
                                            const QJsonObject &pushed, const std::function<qint64()> &stamp,
                                            qint64 *copiedBytes)
{
    const std::optional<qint64> storedStamp = optionalInteger(stored, "serverUpdatedAt");
    const std::optional<qint64> seen = optionalInteger(pushed, "serverUpdatedAt");
    if (seen && (!storedStamp || *storedStamp <= *seen))
        return Kept::yes;
    const QString body = bodyOf(stored);
    if (body.isEmpty() || body == bodyOf(pushed))
        return Kept::yes;
    const QString id = stored.value(QLatin1String("id")).toString();
    bool failed = false;
    const std::optional<protocol::records::CopyPlace> place = copyPlace(
        userId, id, optionalInteger(stored, "updatedAt").value_or(0), [&] { return body; }, &failed);
    if (failed)
        return Kept::failed;
    if (!place) {
        qWarning("[sync] no id left for a conflicted copy of a document of user %s", qPrintable(userId));
        return Kept::noPlace;
    }
    if (place->made)
        return Kept::yes;
    const auto liveCollection = [&](const std::optional<QString> &collectionId) {
        if (!collectionId)
            return false;
        const std::optional<QJsonObject> c = record(RecordKind::Collection, userId, *collectionId);
        return c && !isDeleted(*c);
    };
    std::optional<QString> collection = optionalString(stored, "collectionId");
    if (!liveCollection(collection)) {
        collection = optionalString(pushed, "collectionId");
        if (!liveCollection(collection))
            collection.reset();
    }
    const qint64 at = stamp();
    qint64 size = 0;
    if (!putRecord(RecordKind::Document, userId,
                   protocol::records::conflictedCopy(stored, place->id, collection, at), at, &size))
        return Kept::failed;
    if (copiedBytes)
        *copiedBytes += size;
    return Kept::yes;
}

std::optional<protocol::records::CopyPlace> Storage::copyPlace(const QString &userId,
                                                               const QString &documentId, qint64 updatedAt,
                                                               const std::function<QString()> &text,
                                                               bool *failed)
{
    QSqlQuery find(connection());
    find.prepare(QStringLiteral("SELECT record FROM documents WHERE user_id = ? AND id = ?"));
    std::optional<QString> copied;
    return protocol::records::conflictedCopyPlace(documentId, updatedAt, maxCopyIds, [&](const QString &id) {
        using protocol::records::CopySlot;
        if (*failed || !run(find, {userId, id})) {
            *failed = true;
            return CopySlot::otherText;
        }
        if (!find.next())
            return CopySlot::free;
        const QJsonObject held = QJsonDocument::fromJson(find.value(0).toString().toUtf8()).object();
        find.finish();
        if (!copied)
            copied = text();
        return !isDeleted(held) && bodyOf(held) == *copied ? CopySlot::sameText : CopySlot::otherText;
    });
}

bool Storage::markAppCopies(const QString &userId, QList<PushedRecord> *documents)
{
    // The likely copies first, by their title alone: most pushes have none,
    // and then nothing more is read.
    const QString suffix = protocol::records::conflictedCopySuffix();
    QHash<QString, qsizetype> candidates;
    for (qsizetype i = 0; i < documents->size(); ++i) {
        const PushedRecord &pushed = documents->at(i);
        if (pushed.problem.isEmpty() && !isDeleted(pushed.record) && !bodyOf(pushed.record).isEmpty() &&
            optionalString(pushed.record, "title").value_or(QString()).endsWith(suffix))
            candidates.insert(pushed.id, i);
    }
    if (candidates.isEmpty())
        return true;
    QSqlQuery find(connection());
    find.prepare(QStringLiteral("SELECT updated_at FROM documents WHERE user_id = ? AND id = ?"));
    // Only a new document is a copy: one stored already replaces a record
    // and counts as any push does.
    for (auto it = candidates.begin(); it != candidates.end();) {
        if (!run(find, {userId, it.key()}))
            return false;
        const bool stored = find.next();
        find.finish();
        it = stored ? candidates.erase(it) : std::next(it);
    }
    // A copy of the version that a document of this push replaces, under
    // the id either side would give that version's copy.
    for (const PushedRecord &pushed : std::as_const(*documents)) {
        if (candidates.isEmpty())
            break;
        if (!pushed.problem.isEmpty() || candidates.contains(pushed.id))
            continue;
        if (!run(find, {userId, pushed.id}))
            return false;
        const std::optional<qint64> storedUpdatedAt =
            find.next() ? std::optional(find.value(0).toLongLong()) : std::nullopt;
        find.finish();
        if (!storedUpdatedAt || *protocol::records::updatedAt(pushed.record) < *storedUpdatedAt)
            continue;
        std::optional<QString> replaced;
        bool failed = false;
        const auto replacedText = [&] {
            if (!replaced) {
                const std::optional<QJsonObject> stored = record(RecordKind::Document, userId, pushed.id);
                failed = failed || !stored;
                replaced = stored ? bodyOf(*stored) : QString();
            }
            return *replaced;
        };
        const std::optional<protocol::records::CopyPlace> place =
            copyPlace(userId, pushed.id, *storedUpdatedAt, replacedText, &failed);
        if (failed)
            return false;
        if (!place || place->made || !candidates.contains(place->id))
            continue;
        PushedRecord &copy = (*documents)[candidates.value(place->id)];
        const QString text = replacedText();
        if (failed)
            return false;
        // A push that leaves the text where it was replaces nothing.
        if (bodyOf(copy.record) != text || bodyOf(pushed.record) == text)
            continue;
        copy.appCopy = true;
        candidates.remove(place->id);
    }
    return true;
}

bool Storage::liveDocuments(const QString &userId, QList<QJsonObject> *out)
{
    QSqlQuery q(connection());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT record FROM documents WHERE user_id = ?"));
    if (!run(q, {userId}))
        return false;
    while (q.next()) {
        const QJsonObject doc = QJsonDocument::fromJson(q.value(0).toString().toUtf8()).object();
        if (doc.value(QLatin1String("deletedAt")).isUndefined() ||
            doc.value(QLatin1String("deletedAt")).isNull())
            out->append(doc);
    }
    return true;
}

qint64 Storage::lastStamp(const QString &userId)
{
    QSqlQuery q(connection());
    // Row lock on PostgreSQL, so two service processes can't hand out one
    // stamp twice; SQLite's write transaction already serialises them.
    q.prepare(QStringLiteral("SELECT last_stamp FROM users WHERE id = ?") +
              (postgres() ? QStringLiteral(" FOR UPDATE") : QString()));
    return run(q, {userId}) && q.next() ? q.value(0).toLongLong() : 0;
}

bool Storage::setLastStamp(const QString &userId, qint64 stamp)
{
    QSqlQuery q(connection());
    q.prepare(QStringLiteral("UPDATE users SET last_stamp = ? WHERE id = ?"));
    return run(q, {stamp, userId});
}

} // namespace tessivo::server
