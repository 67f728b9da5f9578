#pragma once

#include "protocol/WireRecords.h"
#include "service/core/APIResult.h"

#include <QFuture>
#include <QString>
#include <QUrl>

#include <optional>

class APIClient;
class DocumentStore;
class Document;

// The requests behind a document's read-only web page: first publish,
// update and unpublish, and the bookkeeping of which slug belongs to which
// document in the store.
//
// Every call's future finishes on the main thread after the store has been
// brought up to date, whether or not anyone still waits for it: a sheet
// closed mid-request does not lose the slug. The value is the slug the
// document has afterwards (empty after an unpublish).
//
// A slug is stored exactly as the service (or state.json) gave it, but it is
// only ever put into a URL as one percent-encoded path segment, so that no
// "/", "?", "#" or ".." in it can point a request or a link elsewhere.
class PublishService
{
public:
    // Neither is owned; both must outlive the calls' completion.
    PublishService(APIClient *client, DocumentStore *store);

    // 2 to 60 characters of a-z, 0-9 and single inner hyphens.
    static bool isValidSlug(const QString &slug);
    // The overriding front-matter block, a blank line, then the body.
    static QString publishBody(const Document &document);
    static PublishRequest request(const Document &document, const std::optional<QString> &slug);

    // `baseURL` + the public page's path for the slug; invalid for a slug
    // that cannot stand as one path segment ("." and "..").
    static QUrl publicLink(const QUrl &baseURL, const QString &slug);
    QUrl publicLink(const QString &slug) const;
    // What the link field's prefix shows: host (and port) + the public
    // page's path up to the slug.
    QString linkPrefix() const;

    // The message of an update whose page is gone or taken.
    static QString linkLostMessage();

    // POST; stores the slug the service chose.
    QFuture<APIResult<QString>> publish(const Document &document, const std::optional<QString> &slug) const;
    // PUT without a slug; 403 or 404 forget the slug and fail with
    // linkLostMessage().
    QFuture<APIResult<QString>> update(const Document &document, const QString &slug) const;
    // DELETE; a page that is already gone (404) counts as unpublished.
    QFuture<APIResult<QString>> unpublish(const QString &documentID, const QString &slug) const;

private:
    std::optional<QUrl> pageURL(const QString &slug) const;

    APIClient *m_client;
    DocumentStore *m_store;
};
