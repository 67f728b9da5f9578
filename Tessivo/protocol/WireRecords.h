#pragma once

#include "store/Collection.h"
#include "store/Document.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QString>

#include <optional>

// The JSON bodies exchanged between the app and the service. Each side
// writes with `toJson` what the other reads with `fromJson`; the keys are the
// field names.
//
// Reading is strict: a required member must be present with its type (null
// counts as absent), an optional one may be absent or null, and any member
// of the wrong type fails the whole record, nested records included, with
// `error` naming the first fault (e.g. "documents[3]: key 'id' is missing").
// Members a record does not declare are ignored. Documents and collections
// travel in the same JSON form as in the local files.

struct MeResponse
{
    struct User
    {
        QString id;
        QString email;
        QString name;
        std::optional<QString> image;
        std::optional<bool> isAdmin;

        friend bool operator==(const User &, const User &) = default;
    };

    struct Site
    {
        QString handle;
        std::optional<QString> title;

        friend bool operator==(const Site &, const Site &) = default;
    };

    User user;
    std::optional<Site> site;

    // "site" is written as null when absent.
    QJsonObject toJson() const;
    static std::optional<MeResponse> fromJson(const QJsonObject &object, QString *error = nullptr);
};

struct SyncPullResponse
{
    QList<Document> documents;
    std::optional<QList<Collection>> collections;
    qint64 now = 0;
    // More records remain: ask again from the raised cursor.
    bool more = false;

    static std::optional<SyncPullResponse> fromJson(const QJsonObject &object, QString *error = nullptr);
};

struct SyncPushRequest
{
    QList<Document> docs;
    QList<Collection> collections;

    // Both lists are always written, empty ones included.
    QJsonObject toJson() const;

    // The service's reading: each list as sent, its records still raw, so
    // that a record that breaks the rules is refused alone and the rest of
    // the batch is stored. An absent list reads as empty.
    struct Raw
    {
        QJsonArray docs;
        QJsonArray collections;
    };
    static std::optional<Raw> rawFromJson(const QJsonObject &object, QString *error = nullptr);

    // Why the service refuses one pushed record, or an empty string: the
    // record must decode as the app decodes a pulled one, so that no stored
    // record can make a later pull fail on any device, and its id must fit
    // the service's storage.
    static QString documentProblem(const QJsonValue &record);
    static QString collectionProblem(const QJsonValue &record);
};

struct SyncPushResponse
{
    // The service's verdict on one pushed record; "invalid" rejects it.
    struct Result
    {
        std::optional<QString> id;
        QString status;
        std::optional<QString> error;

        friend bool operator==(const Result &, const Result &) = default;
    };

    QList<Result> results;
    std::optional<QList<Result>> collectionResults;
    qint64 now = 0;

    // Absent members of a result are left out.
    QJsonObject toJson() const;
    static std::optional<SyncPushResponse> fromJson(const QJsonObject &object, QString *error = nullptr);
};

struct PublishRequest
{
    QString title;
    QString body;
    std::optional<QString> slug;

    // "slug" is left out entirely (not null) when absent.
    QJsonObject toJson() const;
    static std::optional<PublishRequest> fromJson(const QJsonObject &object, QString *error = nullptr);
};

struct PublishResponse
{
    QString slug;
    QString url;

    QJsonObject toJson() const;
    static std::optional<PublishResponse> fromJson(const QJsonObject &object, QString *error = nullptr);
};

// One image of the user's library as the service describes it.
struct ImageAsset
{
    QString id;
    // Absolute address of the stored image; written into documents.
    QString url;
    QString filename;
    std::optional<QString> contentType;
    std::optional<qint64> size;
    // Milliseconds since 1970 UTC.
    std::optional<qint64> createdAt;

    friend bool operator==(const ImageAsset &, const ImageAsset &) = default;

    // Absent members are left out.
    QJsonObject toJson() const;
    static std::optional<ImageAsset> fromJson(const QJsonObject &object, QString *error = nullptr);
};

struct ImageListResponse
{
    QList<ImageAsset> images;

    QJsonObject toJson() const;
    static std::optional<ImageListResponse> fromJson(const QJsonObject &object, QString *error = nullptr);
};

// The reply to an upload: the stored image. Only "id" and "url" are
// required; `untracked` says the file was stored but the library could not
// record it. The app keeps the content type it sent.
struct ImageUploadResponse
{
    QString id;
    QString url;
    std::optional<QString> filename;
    std::optional<QString> contentType;
    std::optional<qint64> size;
    std::optional<qint64> createdAt;
    std::optional<bool> untracked;

    static ImageUploadResponse of(const ImageAsset &asset);
    // Absent members are left out.
    QJsonObject toJson() const;
    static std::optional<ImageUploadResponse> fromJson(const QJsonObject &object, QString *error = nullptr);
};

// A request to the writing assistant: "refine" rewrites `text` with a preset
// `action` (or "custom" and the typed `prompt`), "generate" writes from
// `prompt` at the caret; `before` and `after` are the text around it.
struct AIRequestBody
{
    static constexpr QLatin1StringView refineMode{"refine"};
    static constexpr QLatin1StringView generateMode{"generate"};

    QString mode;
    QString action;
    QString prompt;
    QString text;
    QString before;
    QString after;

    friend bool operator==(const AIRequestBody &, const AIRequestBody &) = default;

    // Every key of the mode, also when empty: refine carries all six,
    // generate no "action" or "text".
    QJsonObject toJson() const;
    // Every member present must be a string; absent ones read as empty.
    static std::optional<AIRequestBody> fromJson(const QJsonObject &object, QString *error = nullptr);
};

// The body of every error reply: {"error": {"code": …, "message": …}}.
struct ErrorBody
{
    QString code;
    QString message;

    // The refusal of a request that needs a session and has none; also
    // what the app shows for a 401 without an error body.
    static ErrorBody unauthorized();

    QJsonObject toJson() const;
    QByteArray encoded() const;
    // Reads the error object and also the looser forms other servers send
    // ({"error": "…"} or {"message": "…"}; then `code` is empty). A missing
    // code reads as "error", a missing message as "Request failed.". Nothing
    // when the object carries no error.
    static std::optional<ErrorBody> fromJson(const QJsonObject &object);
};

Q_DECLARE_METATYPE(ImageAsset)
