#pragma once

#include "store/Collection.h"
#include "store/Document.h"

#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// The JSON bodies exchanged with the web service. Records that are only read
// have `fromJson`, records that are only sent have `toJson`; the keys are the
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

    static std::optional<MeResponse> fromJson(const QJsonObject &object, QString *error = nullptr);
};

struct SyncPullResponse
{
    QList<Document> documents;
    std::optional<QList<Collection>> collections;
    qint64 now = 0;

    static std::optional<SyncPullResponse> fromJson(const QJsonObject &object, QString *error = nullptr);
};

struct SyncPushRequest
{
    QList<Document> docs;
    QList<Collection> collections;

    // Both lists are always written, empty ones included.
    QJsonObject toJson() const;
};

struct SyncPushResponse
{
    // The service's verdict on one pushed record; "invalid" rejects it.
    struct Result
    {
        std::optional<QString> id;
        QString status;
        std::optional<QString> error;
    };

    QList<Result> results;
    std::optional<QList<Result>> collectionResults;
    qint64 now = 0;

    static std::optional<SyncPushResponse> fromJson(const QJsonObject &object, QString *error = nullptr);
};

struct PublishRequest
{
    QString title;
    QString body;
    std::optional<QString> slug;

    // "slug" is left out entirely (not null) when absent.
    QJsonObject toJson() const;
};

struct PublishResponse
{
    QString slug;
    QString url;

    static std::optional<PublishResponse> fromJson(const QJsonObject &object, QString *error = nullptr);
};
