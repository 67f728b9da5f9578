#include "SyncRoutes.h"

#include "protocol/Rules.h"
#include "protocol/WireRecords.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

namespace tessivo::server {

namespace {
// What storing every record of a push takes, replacing nothing.
qint64 sizeOf(const QList<PushedRecord> &records)
{
    qint64 size = 0;
    for (const PushedRecord &r : records)
        size += r.size;
    return size;
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

std::pair<Reply, std::shared_ptr<PullReply>> SyncRoutes::pull(const LoggedRequest &request,
                                                              const UserRow &user)
{
    static const QRegularExpression sincePattern(QStringLiteral("^since=(-?[0-9]{1,19})$"));
    const auto match = sincePattern.match(QString::fromLatin1(request.rawQuery));
    bool ok = false;
    const qint64 since = match.hasMatch() ? match.captured(1).toLongLong(&ok) : 0;
    if (!ok)
        return {errorReply(400, "invalid_request", QStringLiteral("The query must be since=<milliseconds>.")),
                nullptr};
    const ServiceLimits &limits = options.limits;
    auto body = std::make_shared<PullReply>(user.id, since, limits.pullPieceBytes, limits.pullPartBytes);
    Reply reply{200, {{"content-type", "application/json"}}, {}};
    // Stored records are sent as stored, without a parse and re-encode. A
    // reply that fits in about a part goes out whole; the rest of a larger
    // one, or of one waiting for room for a large record, follows as the
    // client takes it.
    switch (body->start(storage, now(), &reply.body)) {
    case PullReply::Step::Failed:
        return {
            errorReply(500, "internal_error", QStringLiteral("The service couldn't read your documents.")),
            nullptr};
    case PullReply::Step::Ready:
        if (body->finished())
            return {reply, nullptr};
        break;
    case PullReply::Step::Waiting:
        break;
    }
    return {reply, body};
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

    // Checked before the write lock is taken.
    QList<PushedRecord> documents = Storage::checkPush(RecordKind::Document, records->docs);
    const QList<PushedRecord> collections = Storage::checkPush(RecordKind::Collection, records->collections);
    QList<PushResult> documentResults, collectionResults;
    qint64 last = 0;
    Storage::QuotaOutcome outcome = Storage::QuotaOutcome::failed;
    const bool saved = storage.transaction([&] {
        // Reading the last stamp locks the account for the transaction.
        last = storage.lastStamp(user.id);
        const auto stamp = [&] { return nextStamp(now(), &last); };
        if (!storage.markAppCopies(user.id, &documents))
            return false;
        // The conflicted copies the merge keeps, and those the app made of
        // what this push replaces, are exempt up to twice the quota, so that
        // no stored text is lost to a full account; past that the push is
        // refused, and its sender still has its text.
        const auto growth = [&]() -> std::optional<qint64> {
            const std::optional<qint64> documentGrowth =
                storage.pushGrowth(RecordKind::Document, user.id, documents);
            const std::optional<qint64> collectionGrowth =
                storage.pushGrowth(RecordKind::Collection, user.id, collections);
            if (!documentGrowth || !collectionGrowth)
                return std::nullopt;
            return *documentGrowth + *collectionGrowth;
        };
        outcome =
            storage.writeWithinQuota(user.id, options.limits.quotaBytes,
                                     sizeOf(documents) + sizeOf(collections), growth, [&](qint64 *copies) {
                                         return storage.pushRecords(RecordKind::Document, user.id, documents,
                                                                    stamp, &documentResults, copies) &&
                                                storage.pushRecords(RecordKind::Collection, user.id,
                                                                    collections, stamp, &collectionResults);
                                     });
        return outcome == Storage::QuotaOutcome::written && storage.setLastStamp(user.id, last);
    });
    const bool overQuota = outcome == Storage::QuotaOutcome::overQuota;
    if (overQuota)
        return quotaExceededReply();
    if (!saved)
        return errorReply(500, "internal_error", QStringLiteral("The service couldn't save your documents."));
    return jsonReply(200, SyncPushResponse{wireResults(documentResults), wireResults(collectionResults),
                                           std::max(last, now())}
                              .toJson());
}

} // namespace tessivo::server
