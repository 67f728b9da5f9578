#include "service/core/APIClient.h"

#include "protocol/Rules.h"
#include "service/core/APIStream.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPromise>
#include <QTimer>

#include <memory>

#ifndef TESSIVO_SERVICE_URL
#error "TESSIVO_SERVICE_URL must come from the build (CMake cache value TESSIVO_SERVICE_URL)"
#endif

using namespace Qt::StringLiterals;

namespace {

// Neither sends nor keeps cookies: the session token is the only credential.
class NoCookieJar final : public QNetworkCookieJar
{
public:
    using QNetworkCookieJar::QNetworkCookieJar;
    QList<QNetworkCookie> cookiesForUrl(const QUrl &) const override { return {}; }
    bool setCookiesFromUrl(const QList<QNetworkCookie> &, const QUrl &) override { return false; }
};

// A request body that can be sent once. Qt silently sends a request again
// when its connection closes before any reply arrives; a body that cannot be
// rewound once read turns that into a failure instead, so a publish or push
// the service may already have applied is never sent twice behind the
// caller's back. A body not yet read may still go out on a new connection.
class OneShotBody final : public QIODevice
{
public:
    explicit OneShotBody(const QByteArray &data) : m_data(data) { open(QIODevice::ReadOnly); }
    bool isSequential() const override { return true; }
    bool reset() override { return m_read == 0; }
    qint64 bytesAvailable() const override { return m_data.size() - m_read + QIODevice::bytesAvailable(); }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 n = std::min(maxSize, qint64(m_data.size()) - m_read);
        if (n <= 0)
            return m_read >= m_data.size() ? -1 : 0;
        memcpy(data, m_data.constData() + m_read, size_t(n));
        m_read += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_data;
    qint64 m_read = 0;
};

// Marks a reply its caller ended; Qt reports a time-out the same way.
constexpr char cancelledProperty[] = "tessivoCancelled";
// Marks a reply ended for its size.
constexpr char tooLargeProperty[] = "tessivoTooLarge";
// What a limited reply's buffer may hold past its limit.
constexpr qint64 readBufferMargin = qint64(1) << 20;

QString buildShortVersion()
{
#ifdef TESSIVO_VERSION
    return QString::fromUtf8(TESSIVO_VERSION);
#else
    return {};
#endif
}

} // namespace

QByteArray APIResponse::header(QByteArrayView name) const
{
    for (const auto &[key, value] : headers) {
        if (QByteArrayView(key).compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

QByteArray APIClient::wireName(Method method)
{
    switch (method) {
    case Method::Get:
        return "GET";
    case Method::Post:
        return "POST";
    case Method::Put:
        return "PUT";
    case Method::Delete:
        break;
    }
    return "DELETE";
}

QUrl APIClient::baseURLFromBuild()
{
#ifdef TESSIVO_TESTING
    if (const QString url = qEnvironmentVariable("TESSIVO_TEST_SERVICE_URL"); !url.isEmpty())
        return QUrl(url);
#endif
    return QUrl(QStringLiteral(TESSIVO_SERVICE_URL));
}

APIClient::APIClient(const QUrl &baseURL, QObject *parent) : APIClient(baseURL, Timeouts(), parent) {}

APIClient::APIClient(const QUrl &baseURL, const Timeouts &timeouts, QObject *parent)
    : QObject(parent), m_baseURL(baseURL), m_timeouts(timeouts), m_session(new QNetworkAccessManager(this))
{
    m_session->setCookieJar(new NoCookieJar(m_session));
    // No cache is installed, so nothing is stored or answered from one.
    m_session->setTransferTimeout(m_timeouts.idleMs);
}

APIClient::~APIClient() = default;

void APIClient::setTokenProvider(TokenProvider provider)
{
    m_tokenProvider = std::move(provider);
}

QByteArray APIClient::userAgent(const QString &shortVersion)
{
    return "Tessivo-macOS/" + (shortVersion.isEmpty() ? QByteArray("dev") : shortVersion.toUtf8());
}

QString APIClient::decodingDescription(const QString &fault)
{
    return u"The service's reply couldn't be read (%1)."_s.arg(fault);
}

QUrl APIClient::url(const QString &path, const QList<QueryItem> &query) const
{
    QUrl url = m_baseURL;
    QString base = url.path();
    while (base.endsWith(u'/'))
        base.chop(1);
    const QString tail = path.startsWith(u'/') ? path : u'/' + path;
    // Decoded mode: every character of the path is literal, so "?", "#" and
    // "%" are escaped rather than read as URL syntax.
    url.setPath(base + tail, QUrl::DecodedMode);
    if (query.isEmpty()) {
        url.setQuery(QString());
    } else {
        QByteArrayList items;
        for (const QueryItem &item : query) {
            QByteArray encoded = QUrl::toPercentEncoding(item.name);
            if (item.value)
                encoded += '=' + QUrl::toPercentEncoding(*item.value);
            items.append(encoded);
        }
        url.setQuery(QString::fromLatin1(items.join('&')), QUrl::StrictMode);
    }
    return url;
}

QNetworkRequest APIClient::makeRequest(const QUrl &url, const QByteArray &accept,
                                       const QByteArray &contentType, bool authorize, int timeoutMs) const
{
    QNetworkRequest request(url);
    request.setTransferTimeout(timeoutMs > 0 ? timeoutMs : m_timeouts.requestMs);
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setRawHeader("accept", accept);
    request.setRawHeader("user-agent", userAgent(buildShortVersion()));
    if (!contentType.isEmpty())
        request.setRawHeader("content-type", contentType);
    if (authorize && m_tokenProvider) {
        if (const std::optional<QString> token = m_tokenProvider())
            request.setRawHeader("authorization", protocol::bearerHeader(*token));
    }
    return request;
}

bool APIClient::failedInTransport(const QNetworkReply *reply)
{
    const QNetworkReply::NetworkError error = reply->error();
    if (error == QNetworkReply::NoError)
        return false;
    // Qt reports an HTTP error status as an error of its own (404 as
    // ContentNotFoundError, 400 as ProtocolInvalidOperationError): with a
    // status present those are replies, not failures. Connection, proxy and
    // broken-protocol errors are failures whatever arrived before them; so
    // is a request Qt could not send again, which it reports (among the
    // content errors, with the status of the reply it had begun) when the
    // connection closes in the middle of a body.
    const bool connectionError = error < QNetworkReply::ContentAccessDenied;
    const bool brokenProtocol = error == QNetworkReply::ProtocolFailure ||
                                error == QNetworkReply::ProtocolUnknownError ||
                                error == QNetworkReply::ContentReSendError;
    return connectionError || brokenProtocol ||
           !reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
}

APIResult<APIResponse> APIClient::validate(QNetworkReply *reply)
{
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return APIError::unexpectedResponse();
    // Header lookup is case-insensitive. A value that cannot be a token
    // (control bytes, spaces, far too long) would go out again in every
    // request's header: the session keeps the token it has.
    if (const QByteArray token = reply->rawHeader("set-auth-token"); !token.isEmpty()) {
        if (protocol::isSessionToken(token))
            Q_EMIT tokenRolled(QString::fromLatin1(token), sentToken(reply));
        else
            qInfo("[auth] ignored a malformed session token from the service");
    }
    return APIResponse{status.toInt(), reply->rawHeaderPairs()};
}

QString APIClient::sentToken(const QNetworkReply *reply)
{
    return QString::fromUtf8(protocol::bearerToken(reply->request().rawHeader("authorization")));
}

APIError APIClient::errorReply(const QNetworkReply *, const QByteArray &body, int status)
{
    // A 401 is its caller's to judge: only the session check, the account
    // refresh and a sync end the session on it.
    return APIError::from(body, status);
}

void APIClient::cancel(QNetworkReply *reply)
{
    reply->setProperty(cancelledProperty, true);
    reply->abort();
}

void APIClient::limitReply(QNetworkReply *reply, qint64 maxBytes)
{
    // Qt stops filling the buffer a little short of its size: the margin
    // lets what passes the limit arrive, so the reply is ended rather than
    // stalled.
    keepReadBufferAt(reply, maxBytes + readBufferMargin);
    const auto check = [reply, maxBytes] {
        if (reply->property(tooLargeProperty).toBool())
            return;
        const QVariant declared = reply->header(QNetworkRequest::ContentLengthHeader);
        if ((declared.isValid() && declared.toLongLong() > maxBytes) || reply->bytesAvailable() > maxBytes) {
            reply->setProperty(tooLargeProperty, true);
            reply->abort();
        }
    };
    connect(reply, &QNetworkReply::metaDataChanged, reply, check);
    connect(reply, &QNetworkReply::readyRead, reply, check);
}

void APIClient::keepReadBufferAt(QNetworkReply *reply, qint64 bytes)
{
    // Qt 6.4 starts a request with a body on a later turn, and a size set
    // before its network thread has the request is dropped there; a server
    // that answers at once would meanwhile be read without a limit. The size
    // is offered again on every turn until the request has gone out: the
    // first offer after the start follows the request into that thread.
    reply->setReadBufferSize(bytes);
    auto *offer = new QTimer(reply);
    offer->setInterval(0);
    connect(offer, &QTimer::timeout, reply, [reply, bytes] { reply->setReadBufferSize(bytes); });
    const auto stopOffering = [offer] { offer->deleteLater(); };
    connect(reply, &QNetworkReply::requestSent, offer, stopOffering);
    connect(reply, &QNetworkReply::metaDataChanged, offer, stopOffering);
    connect(reply, &QNetworkReply::finished, offer, stopOffering);
    offer->start();
}

APIResult<APIReply> APIClient::readReply(QNetworkReply *reply)
{
    if (reply->property(cancelledProperty).toBool())
        return APIFailure::cancelled();
    if (reply->property(tooLargeProperty).toBool())
        return APIError::replyTooLarge();
    if (failedInTransport(reply))
        return APIError::network(host());
    const APIResult<APIResponse> response = validate(reply);
    if (!response)
        return response.failure();
    const QByteArray body = reply->readAll();
    if (!response->isSuccess())
        return errorReply(reply, body, response->status);
    return APIReply{response.value(), body};
}

std::optional<QJsonObject> APIClient::parseObject(const QByteArray &body, QString *fault)
{
    if (body.isEmpty()) {
        *fault = u"the reply is empty"_s;
        return std::nullopt;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *fault =
            u"the reply is not JSON: %1 at byte %2"_s.arg(parseError.errorString()).arg(parseError.offset);
        return std::nullopt;
    }
    if (!document.isObject()) {
        *fault = u"the reply is not a JSON object"_s;
        return std::nullopt;
    }
    return document.object();
}

QNetworkReply *APIClient::dispatch(const QNetworkRequest &request, Method method,
                                   const std::optional<QByteArray> &body)
{
    if (!body)
        return m_session->sendCustomRequest(request, wireName(method));
    QNetworkRequest once = request;
    once.setAttribute(QNetworkRequest::DoNotBufferUploadDataAttribute, true);
    once.setHeader(QNetworkRequest::ContentLengthHeader, body->size());
    auto *device = new OneShotBody(*body);
    QNetworkReply *reply = m_session->sendCustomRequest(once, wireName(method), device);
    device->setParent(reply);
    return reply;
}

APICall<APIReply> APIClient::perform(const QNetworkRequest &request, Method method,
                                     const std::optional<QByteArray> &body, qint64 maxBytes)
{
    QNetworkReply *reply = dispatch(request, method, body);
    limitReply(reply, maxBytes);
    auto promise = std::make_shared<QPromise<APIResult<APIReply>>>();
    promise->start();
    QFuture<APIResult<APIReply>> future = promise->future();
    connect(reply, &QNetworkReply::finished, this, [this, reply, promise] {
        promise->addResult(readReply(reply));
        promise->finish();
        reply->deleteLater();
    });
    return APICall<APIReply>(future, reply);
}

APICall<APIReply> APIClient::startGet(const QString &path, const QList<QueryItem> &query, bool authenticated)
{
    const QNetworkRequest request = makeRequest(url(path, query), "application/json", {}, authenticated);
    return perform(request, Method::Get);
}

APICall<APIReply> APIClient::startSend(Method method, const QUrl &target, const QJsonObject &body)
{
    const QByteArray bytes = QJsonDocument(body).toJson(QJsonDocument::Compact);
    const QNetworkRequest request = makeRequest(target, "application/json", "application/json");
    return perform(request, method, bytes);
}

APIStream *APIClient::stream(Method method, const QString &path, const std::optional<QByteArray> &body,
                             const QByteArray &contentType, QObject *parent)
{
    const QNetworkRequest request = makeRequest(url(path), "text/plain, application/json",
                                                body ? contentType : QByteArray(), true, m_timeouts.streamMs);
    return new APIStream(dispatch(request, method, body), this, parent);
}
