#include "service/core/WireRecords.h"

#include "store/StrictJson.h"

#include <QJsonArray>

using namespace Qt::StringLiterals;

namespace {

bool finish(const StrictJsonReader &reader, QString *error)
{
    if (!reader.ok() && error)
        *error = reader.error();
    return reader.ok();
}

// Reads the list of records under `key` with `read`, failing the reader at
// the first bad item. Absent or null gives nullopt (the caller decides
// whether that is allowed).
template <typename T, typename Read>
std::optional<QList<T>> readList(StrictJsonReader &reader, const QJsonObject &object, QStringView key,
                                 bool required, Read read)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull()) {
        if (required)
            reader.fail(u"key '%1' is %2"_s.arg(key, value.isNull() ? u"null"_s : u"missing"_s));
        return std::nullopt;
    }
    if (!value.isArray()) {
        reader.fail(u"key '%1' is not a list"_s.arg(key));
        return std::nullopt;
    }
    const QJsonArray array = value.toArray();
    QList<T> list;
    list.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i) {
        QString itemError;
        std::optional<T> item;
        if (array.at(i).isObject())
            item = read(array.at(i).toObject(), &itemError);
        else
            itemError = u"not an object"_s;
        if (!item) {
            reader.fail(u"%1[%2]: %3"_s.arg(key).arg(i).arg(itemError));
            return std::nullopt;
        }
        list.append(std::move(*item));
    }
    return list;
}

std::optional<SyncPushResponse::Result> readResult(const QJsonObject &object, QString *error)
{
    StrictJsonReader r(object);
    SyncPushResponse::Result result;
    result.id = r.optionalString(u"id");
    result.status = r.requiredString(u"status");
    result.error = r.optionalString(u"error");
    return finish(r, error) ? std::optional(result) : std::nullopt;
}

// Prefixes a nested record's fault with the key it sits under.
void failNested(StrictJsonReader &outer, QStringView key, const QString &innerError)
{
    outer.fail(u"%1: %2"_s.arg(key, innerError));
}

} // namespace

std::optional<MeResponse> MeResponse::fromJson(const QJsonObject &object, QString *error)
{
    StrictJsonReader r(object);
    MeResponse me;
    const QJsonObject user = r.requiredObject(u"user");
    const std::optional<QJsonObject> site = r.optionalObject(u"site");
    if (r.ok()) {
        StrictJsonReader u(user);
        me.user.id = u.requiredString(u"id");
        me.user.email = u.requiredString(u"email");
        me.user.name = u.requiredString(u"name");
        me.user.image = u.optionalString(u"image");
        me.user.isAdmin = u.optionalBool(u"isAdmin");
        if (!u.ok())
            failNested(r, u"user", u.error());
    }
    if (r.ok() && site) {
        StrictJsonReader s(*site);
        me.site = Site{s.requiredString(u"handle"), s.optionalString(u"title")};
        if (!s.ok())
            failNested(r, u"site", s.error());
    }
    return finish(r, error) ? std::optional(me) : std::nullopt;
}

std::optional<SyncPullResponse> SyncPullResponse::fromJson(const QJsonObject &object, QString *error)
{
    StrictJsonReader r(object);
    SyncPullResponse pull;
    if (auto documents = readList<Document>(r, object, u"documents", true, &Document::fromJson))
        pull.documents = std::move(*documents);
    if (r.ok())
        pull.collections = readList<Collection>(r, object, u"collections", false, &Collection::fromJson);
    if (r.ok())
        pull.now = r.requiredInt64(u"now");
    return finish(r, error) ? std::optional(std::move(pull)) : std::nullopt;
}

QJsonObject SyncPushRequest::toJson() const
{
    QJsonArray documentArray;
    for (const Document &document : docs)
        documentArray.append(document.toJson());
    QJsonArray collectionArray;
    for (const Collection &collection : collections)
        collectionArray.append(collection.toJson());
    return {{u"docs"_s, documentArray}, {u"collections"_s, collectionArray}};
}

std::optional<SyncPushResponse> SyncPushResponse::fromJson(const QJsonObject &object, QString *error)
{
    StrictJsonReader r(object);
    SyncPushResponse push;
    if (auto results = readList<Result>(r, object, u"results", true, &readResult))
        push.results = std::move(*results);
    if (r.ok())
        push.collectionResults = readList<Result>(r, object, u"collectionResults", false, &readResult);
    if (r.ok())
        push.now = r.requiredInt64(u"now");
    return finish(r, error) ? std::optional(std::move(push)) : std::nullopt;
}

QJsonObject PublishRequest::toJson() const
{
    QJsonObject object{{u"title"_s, title}, {u"body"_s, body}};
    if (slug)
        object.insert(u"slug"_s, *slug);
    return object;
}

std::optional<PublishResponse> PublishResponse::fromJson(const QJsonObject &object, QString *error)
{
    StrictJsonReader r(object);
    PublishResponse reply{r.requiredString(u"slug"), r.requiredString(u"url")};
    return finish(r, error) ? std::optional(reply) : std::nullopt;
}
