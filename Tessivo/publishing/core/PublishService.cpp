#include "publishing/core/PublishService.h"

#include "protocol/Routes.h"
#include "protocol/Rules.h"
#include "service/core/APIClient.h"
#include "store/Document.h"
#include "store/DocumentStore.h"
#include "store/FrontmatterParser.h"
#include "store/ThenWhileAlive.h"

using namespace Qt::StringLiterals;

namespace {

// The path of `endpoint` below the path of `url`, the slug as its one
// segment. QUrl turns "%2E" back into ".", so a slug of dots alone would
// become a "." or ".." segment, which browsers and servers resolve: none.
std::optional<QUrl> slugURL(QUrl url, protocol::Endpoint endpoint, const QString &slug)
{
    if (slug == u"."_s || slug == u".."_s)
        return std::nullopt;
    QString base = url.path(QUrl::FullyEncoded);
    while (base.endsWith(u'/'))
        base.chop(1);
    const QString segment = QString::fromLatin1(QUrl::toPercentEncoding(slug));
    url.setPath(base + protocol::routePath(endpoint, segment), QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

APIError notFound()
{
    return APIError{u"error"_s, u"Not found."_s, 404};
}

bool isAPIStatus(const APIFailure &failure, std::initializer_list<int> statuses)
{
    return failure.isAPIError() &&
           std::find(statuses.begin(), statuses.end(), failure.apiError().status) != statuses.end();
}

} // namespace

PublishService::PublishService(APIClient *client, DocumentStore *store) : m_client(client), m_store(store) {}

bool PublishService::isValidSlug(const QString &slug)
{
    return protocol::slugs::isValid(slug);
}

QString PublishService::publishBody(const Document &document)
{
    const QString block = FrontmatterParser::serialize(document.frontmatter, document.overrides);
    if (block.isEmpty())
        return document.body;
    if (document.body.isEmpty())
        return block;
    return block + u'\n' + document.body;
}

PublishRequest PublishService::request(const Document &document, const std::optional<QString> &slug)
{
    return PublishRequest{document.displayTitle(), publishBody(document), slug};
}

QUrl PublishService::publicLink(const QUrl &baseURL, const QString &slug)
{
    return slugURL(baseURL, protocol::Endpoint::publicPage, slug).value_or(QUrl());
}

QUrl PublishService::publicLink(const QString &slug) const
{
    return publicLink(m_client->baseURL(), slug);
}

QString PublishService::linkPrefix() const
{
    const QUrl &base = m_client->baseURL();
    QString host = base.host();
    if (base.port() != -1)
        host += u':' + QString::number(base.port());
    return host + protocol::routePrefix(protocol::Endpoint::publicPage);
}

QString PublishService::linkLostMessage()
{
    return u"This link no longer belongs to this document. Publish again to get a new one."_s;
}

std::optional<QUrl> PublishService::pageURL(const QString &slug) const
{
    // The service's address without a query, as the client's requests go.
    return slugURL(m_client->url(QString()), protocol::Endpoint::updatePublication, slug);
}

QFuture<APIResult<QString>> PublishService::publish(const Document &document,
                                                    const std::optional<QString> &slug) const
{
    DocumentStore *store = m_store;
    const QString id = document.id;
    return m_client
        ->send<PublishResponse>(APIClient::Method::Post, protocol::routePath(protocol::Endpoint::publish),
                                request(document, slug))
        .then(store, [store, id](const APIResult<PublishResponse> &reply) -> APIResult<QString> {
            if (!reply)
                return reply.failure();
            store->setPublishedSlug(reply->slug, id);
            return reply->slug;
        });
}

QFuture<APIResult<QString>> PublishService::update(const Document &document, const QString &slug) const
{
    // A slug no URL can carry names no page the service could hold.
    QFuture<APIResult<PublishResponse>> reply;
    if (const std::optional<QUrl> target = pageURL(slug)) {
        reply =
            m_client->send<PublishResponse>(APIClient::Method::Put, *target, request(document, std::nullopt))
                .future();
    } else {
        reply = QtFuture::makeReadyFuture(APIResult<PublishResponse>(notFound()));
    }
    DocumentStore *store = m_store;
    const QString id = document.id;
    return thenWhileAlive(reply, store,
                          [store, id, slug](const APIResult<PublishResponse> &result) -> APIResult<QString> {
                              if (result)
                                  return slug;
                              if (!isAPIStatus(result.failure(), {403, 404}))
                                  return result.failure();
                              store->setPublishedSlug(std::nullopt, id);
                              APIError error = result.failure().apiError();
                              error.message = linkLostMessage();
                              return error;
                          });
}

QFuture<APIResult<QString>> PublishService::unpublish(const QString &documentID, const QString &slug) const
{
    QFuture<APIResult<APIReply>> reply;
    if (const std::optional<QUrl> target = pageURL(slug)) {
        const QNetworkRequest request = m_client->makeRequest(*target, "application/json");
        reply = m_client->perform(request, APIClient::Method::Delete).future();
    } else {
        reply = QtFuture::makeReadyFuture(APIResult<APIReply>(notFound()));
    }
    DocumentStore *store = m_store;
    return thenWhileAlive(reply, store,
                          [store, documentID](const APIResult<APIReply> &result) -> APIResult<QString> {
                              if (!result && !isAPIStatus(result.failure(), {404}))
                                  return result.failure();
                              store->setPublishedSlug(std::nullopt, documentID);
                              return QString();
                          });
}
