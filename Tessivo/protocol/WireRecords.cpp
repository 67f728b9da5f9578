#include "protocol/WireRecords.h"

#include "store/RecordIds.h"
#include "store/StrictJson.h"

#include <QJsonArray>
#include <QJsonDocument>

using namespace Qt::StringLiterals;

namespace {

template <typename T>
void insertIfSet(QJsonObject &object, const QString &key, const std::optional<T> &value)
{
    if (value)
        object.insert(key, *value);
}

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

template <typename Record>
QString recordProblem(const QJsonValue &value)
{
    if (!value.isObject())
        return u"not an object"_s;
    QString error;
    const std::optional<Record> record = Record::fromJson(value.toObject(), &error);
    if (!record)
        return error;
    return RecordIds::problem(record->id);
}

QJsonArray resultsJson(const QList<SyncPushResponse::Result> &results)
{
    QJsonArray out;
    for (const SyncPushResponse::Result &result : results) {
        QJsonObject item{{u"status"_s, result.status}};
        if (result.id)
            item.insert(u"id"_s, *result.id);
        if (result.error)
            item.insert(u"error"_s, *result.error);
        out.append(item);
    }
    return out;
}

// Prefixes a nested record's fault with the key it sits under.
void failNested(StrictJsonReader &outer, QStringView key, const QString &innerError)
{
    outer.fail(u"%1: %2"_s.arg(key, innerError));
}

} // namespace

QJsonObject MeResponse::toJson() const
{
    QJsonObject userObject{{u"id"_s, user.id}, {u"email"_s, user.email}, {u"name"_s, user.name}};
    if (user.image)
        userObject.insert(u"image"_s, *user.image);
    if (user.isAdmin)
        userObject.insert(u"isAdmin"_s, *user.isAdmin);
    QJsonValue siteValue(QJsonValue::Null);
    if (site) {
        QJsonObject siteObject{{u"handle"_s, site->handle}};
        if (site->title)
            siteObject.insert(u"title"_s, *site->title);
        siteValue = siteObject;
    }
    return {{u"user"_s, userObject}, {u"site"_s, siteValue}};
}

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
    if (r.ok())
        pull.more = r.optionalBool(u"more").value_or(false);
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

std::optional<SyncPushRequest::Raw> SyncPushRequest::rawFromJson(const QJsonObject &object, QString *error)
{
    Raw raw;
    for (const auto &[key, list] :
         {std::pair{u"docs"_s, &raw.docs}, std::pair{u"collections"_s, &raw.collections}}) {
        const QJsonValue value = object.value(key);
        if (value.isArray()) {
            *list = value.toArray();
        } else if (!value.isUndefined()) {
            if (error)
                *error = u"key '%1' is not a list"_s.arg(key);
            return std::nullopt;
        }
    }
    return raw;
}

QString SyncPushRequest::documentProblem(const QJsonValue &record)
{
    return recordProblem<Document>(record);
}

QString SyncPushRequest::collectionProblem(const QJsonValue &record)
{
    return recordProblem<Collection>(record);
}

QJsonObject SyncPushResponse::toJson() const
{
    QJsonObject object{{u"results"_s, resultsJson(results)}, {u"now"_s, now}};
    if (collectionResults)
        object.insert(u"collectionResults"_s, resultsJson(*collectionResults));
    return object;
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
    insertIfSet(object, u"slug"_s, slug);
    return object;
}

std::optional<PublishRequest> PublishRequest::fromJson(const QJsonObject &object, QString *error)
{
    StrictJsonReader r(object);
    PublishRequest request{r.requiredString(u"title"), r.requiredString(u"body"), r.optionalString(u"slug")};
    return finish(r, error) ? std::optional(request) : std::nullopt;
}

QJsonObject PublishResponse::toJson() const
{
    return {{u"slug"_s, slug}, {u"url"_s, url}};
}

std::optional<PublishResponse> PublishResponse::fromJson(const QJsonObject &object, QString *error)
{
    StrictJsonReader r(object);
    PublishResponse reply{r.requiredString(u"slug"), r.requiredString(u"url")};
    return finish(r, error) ? std::optional(reply) : std::nullopt;
}

QJsonObject ImageAsset::toJson() const
{
    QJsonObject object{{u"id"_s, id}, {u"url"_s, url}, {u"filename"_s, filename}};
    insertIfSet(object, u"contentType"_s, contentType);
    insertIfSet(object, u"size"_s, size);
    insertIfSet(object, u"createdAt"_s, createdAt);
    return object;
}

std::optional<ImageAsset> ImageAsset::fromJson(const QJsonObject &object, QString *error)
{
    StrictJsonReader r(object);
    ImageAsset asset{r.requiredString(u"id"),       r.requiredString(u"url"),
                     r.requiredString(u"filename"), r.optionalString(u"contentType"),
                     r.optionalInt64(u"size"),      r.optionalInt64(u"createdAt")};
    return finish(r, error) ? std::optional(asset) : std::nullopt;
}

QJsonObject ImageListResponse::toJson() const
{
    QJsonArray array;
    for (const ImageAsset &image : images)
        array.append(image.toJson());
    return {{u"images"_s, array}};
}

std::optional<ImageListResponse> ImageListResponse::fromJson(const QJsonObject &object, QString *error)
{
    StrictJsonReader r(object);
    std::optional<QList<ImageAsset>> images =
        readList<ImageAsset>(r, object, u"images", true, [](const QJsonObject &item, QString *fault) {
            return ImageAsset::fromJson(item, fault);
        });
    if (!finish(r, error))
        return std::nullopt;
    return ImageListResponse{std::move(*images)};
}

ImageUploadResponse ImageUploadResponse::of(const ImageAsset &asset)
{
    return {asset.id,   asset.url,       asset.filename, asset.contentType,
            asset.size, asset.createdAt, std::nullopt};
}

QJsonObject ImageUploadResponse::toJson() const
{
    QJsonObject object{{u"id"_s, id}, {u"url"_s, url}};
    insertIfSet(object, u"filename"_s, filename);
    insertIfSet(object, u"contentType"_s, contentType);
    insertIfSet(object, u"size"_s, size);
    insertIfSet(object, u"createdAt"_s, createdAt);
    insertIfSet(object, u"untracked"_s, untracked);
    return object;
}

std::optional<ImageUploadResponse> ImageUploadResponse::fromJson(const QJsonObject &object, QString *error)
{
    StrictJsonReader r(object);
    ImageUploadResponse reply{r.requiredString(u"id"),       r.requiredString(u"url"),
                              r.optionalString(u"filename"), r.optionalString(u"contentType"),
                              r.optionalInt64(u"size"),      r.optionalInt64(u"createdAt"),
                              r.optionalBool(u"untracked")};
    return finish(r, error) ? std::optional(reply) : std::nullopt;
}

QJsonObject AIRequestBody::toJson() const
{
    QJsonObject object{{u"mode"_s, mode}, {u"prompt"_s, prompt}, {u"before"_s, before}, {u"after"_s, after}};
    if (mode == refineMode) {
        object.insert(u"action"_s, action);
        object.insert(u"text"_s, text);
    }
    return object;
}

std::optional<AIRequestBody> AIRequestBody::fromJson(const QJsonObject &object, QString *error)
{
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!it.value().isString()) {
            if (error)
                *error = u"key '%1' is not a string"_s.arg(it.key());
            return std::nullopt;
        }
    }
    const auto field = [&](QStringView key) { return object.value(key).toString(); };
    return AIRequestBody{field(u"mode"), field(u"action"), field(u"prompt"),
                         field(u"text"), field(u"before"), field(u"after")};
}

ErrorBody ErrorBody::unauthorized()
{
    return {u"unauthorized"_s, u"Sign in to continue."_s};
}

QJsonObject ErrorBody::toJson() const
{
    return {{u"error"_s, QJsonObject{{u"code"_s, code}, {u"message"_s, message}}}};
}

QByteArray ErrorBody::encoded() const
{
    return QJsonDocument(toJson()).toJson(QJsonDocument::Compact);
}

std::optional<ErrorBody> ErrorBody::fromJson(const QJsonObject &object)
{
    const QJsonValue error = object.value(u"error");
    if (error.isObject()) {
        const QJsonObject inner = error.toObject();
        const QJsonValue code = inner.value(u"code");
        const QJsonValue message = inner.value(u"message");
        return ErrorBody{code.isString() ? code.toString() : u"error"_s,
                         message.isString() ? message.toString() : u"Request failed."_s};
    }
    const QJsonValue message = object.value(u"message");
    if (error.isString())
        return ErrorBody{QString(), error.toString()};
    if (message.isString())
        return ErrorBody{QString(), message.toString()};
    return std::nullopt;
}
