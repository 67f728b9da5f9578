#include "SyncRoutes.h"

#include "protocol/WireRecords.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

namespace tessivo::server {

namespace {
QByteArray joined(const QList<QByteArray> &records)
{
    qsizetype size = 2;
    for (const QByteArray &r : records)
        size += r.size() + 1;
    QByteArray out;
    out.reserve(size);
    out += '[';
    for (qsizetype i = 0; i < records.size(); ++i) {
        if (i)
            out += ',';
        out += records[i];
    }
    out += ']';
    return out;
}

QList<SyncPushResponse::Result> wireResults(const QList<PushResult> &results)
{
    QList<SyncPushResponse::Result> out;
    out.reserve(results.size());
    for (const PushResult &r : results) {
        out.append({r.id.isEmpty() ? std::nullopt : std::optional(r.id), QString::fromLatin1(r.status),
                    r.error.isEmpty() ? std::nullopt : std::optional(r.error)});
    }
    return out;
}
} // namespace

Reply SyncRoutes::pull(const LoggedRequest &request, const UserRow &user)
{
    static const QRegularExpression sincePattern(QStringLiteral("^since=(-?[0-9]{1,19})$"));
    const auto match = sincePattern.match(QString::fromLatin1(request.rawQuery));
    bool ok = false;
    const qint64 since = match.hasMatch() ? match.captured(1).toLongLong(&ok) : 0;
    if (!ok)
        return errorReply(400, "invalid_request", QStringLiteral("The query must be since=<milliseconds>."));
    QList<QByteArray> documents, collections;
    // One snapshot for both: the client moves its cursor past the highest
    // stamp of either, so a push landing between two reads would be skipped.
    if (!storage.readTransaction([&] {
            return storage.changedRecords(RecordKind::Document, user.id, since, &documents) &&
                   storage.changedRecords(RecordKind::Collection, user.id, since, &collections);
        }))
        return errorReply(500, "internal_error", QStringLiteral("The service couldn't read your documents."));
    // Stored records are sent as stored, without a parse and re-encode.
    const QByteArray body = R"({"documents":)" + joined(documents) + R"(,"collections":)" +
                            joined(collections) + R"(,"now":)" + QByteArray::number(now()) + '}';
    return {200, {{"content-type", "application/json"}}, body};
}

Reply SyncRoutes::push(const LoggedRequest &request, const UserRow &user)
{
    QJsonParseError parseError;
    const QJsonDocument json = QJsonDocument::fromJson(request.body, &parseError);
    if (parseError.error != QJsonParseError::NoError || !json.isObject())
        return errorReply(400, "invalid_json", QStringLiteral("The request body is not a JSON object."));
    const std::optional<SyncPushRequest::Raw> records = SyncPushRequest::rawFromJson(json.object());
    if (!records)
        return errorReply(400, "invalid_request",
                          QStringLiteral("\"docs\" and \"collections\" must be arrays."));

    QList<PushResult> documentResults, collectionResults;
    qint64 last = 0;
    bool overQuota = false;
    const bool saved = storage.transaction([&] {
        // Reading the last stamp locks the account for the transaction.
        last = storage.lastStamp(user.id);
        const std::optional<qint64> before = storage.storedBytes(user.id);
        const auto stamp = [&] { return nextStamp(now(), &last); };
        if (!before ||
            !storage.pushRecords(RecordKind::Document, user.id, records->docs, stamp, &documentResults) ||
            !storage.pushRecords(RecordKind::Collection, user.id, records->collections, stamp,
                                 &collectionResults))
            return false;
        // Measured after the merge, conflicted copies included. A push that
        // doesn't add bytes always goes through, so that an account over
        // its quota can get back under it.
        const std::optional<qint64> after = storage.storedBytes(user.id);
        overQuota = after && *after > *before && *after > options.quotaBytes;
        return after && !overQuota && storage.setLastStamp(user.id, last);
    });
    if (overQuota)
        return quotaExceededReply();
    if (!saved)
        return errorReply(500, "internal_error", QStringLiteral("The service couldn't save your documents."));
    return jsonReply(200, SyncPushResponse{wireResults(documentResults), wireResults(collectionResults),
                                           std::max(last, now())}
                              .toJson());
}

} // namespace tessivo::server
