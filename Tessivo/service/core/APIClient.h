#pragma once

#include "service/core/APIError.h"
#include "service/core/APIResult.h"
#include "store/ThenWhileAlive.h"

#include <QByteArray>
#include <QFuture>
#include <QJsonObject>
#include <QList>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <concepts>
#include <functional>
#include <optional>

class APIClient;
class APIStream;
class QNetworkAccessManager;
class QNetworkRequest;

// A record the client can decode from a reply: strict `fromJson`, as the
// wire records and the store's records have.
template <typename T>
concept DecodableRecord =
    std::same_as<decltype(T::fromJson(QJsonObject(), static_cast<QString *>(nullptr))), std::optional<T>>;

// A record the client can send as a JSON body.
template <typename T>
concept EncodableRecord = std::convertible_to<decltype(std::declval<const T &>().toJson()), QJsonObject>;

// The head of an HTTP reply.
struct APIResponse
{
    int status = 0;
    QList<QNetworkReply::RawHeaderPair> headers;

    bool isSuccess() const { return status >= 200 && status <= 299; }
    // Case-insensitive; null when absent.
    QByteArray header(QByteArrayView name) const;
};

// A whole 2xx reply: its head and body.
struct APIReply
{
    APIResponse response;
    QByteArray body;
};

// One plain request in flight. The future finishes on the main thread with
// the decoded reply or an APIFailure; the client never cancels it.
template <typename T>
class APICall
{
public:
    APICall(QFuture<APIResult<T>> future, QPointer<QNetworkReply> reply)
        : m_future(std::move(future)), m_reply(std::move(reply))
    {}

    QFuture<APIResult<T>> future() const { return m_future; }
    // Runs `f(APIResult<T>)` on `context`'s thread unless `context` is gone;
    // the future it returns is then cancelled.
    template <typename F>
    auto then(QObject *context, F &&f) const
    {
        return thenWhileAlive(m_future, context, std::forward<F>(f));
    }
    // Ends the transfer if it still runs. The future then holds
    // APIFailure::cancelled(), as an aborted stream reports; it is set
    // before abort() returns.
    void abort() const;

private:
    friend class APIClient;

    QFuture<APIResult<T>> m_future;
    QPointer<QNetworkReply> m_reply;
};

// The one HTTP client of the web service. Lives on the main thread, as do
// its replies, futures and signals.
//
// Three operations:
//  - get<T>(path, query, authenticated) and send<T>(method, path, body)
//    return an APICall<T>: a QFuture<APIResult<T>> plus abort(). Chain with
//    `.then(context, [](const APIResult<T> &result) { ... })`. A 2xx body is
//    decoded strictly into T (a failure is APIFailure::decoding and nothing
//    of the reply is used); any other status is APIError::from() of the body;
//    a failure to reach the service (a time-out included) is the "network"
//    APIError naming the base URL's host; abort() gives
//    APIFailure::cancelled().
//  - stream(method, path, body, contentType) returns an APIStream that
//    reports the 2xx head, then the body in pieces as they arrive, and can be
//    aborted, which ends it as a plain cancellation (see APIStream).
//
// Every request carries, in this order and with these lower-case names,
// "accept", "user-agent" ("Tessivo-macOS/" + version, or "dev"), then
// "content-type" when there is a body, then "authorization" ("Bearer " + the
// token provider's token, when it gives one). Every reply, whatever its
// status, is looked at for a "set-auth-token" first: a value that can be a
// token (protocol::isSessionToken) is emitted as tokenRolled() before the
// status is judged; any other is ignored with a log line. A 401 ends nothing
// here: each caller decides what it means. No cookies are sent
// or kept, nothing is cached, nothing is retried or queued: a request body
// that has gone out is never sent again, even where Qt would resend it after
// a connection closed without a reply.
//
// Components that build their own requests (session check, sign-out,
// sign-in verification, upload, unpublish) make them with url() and
// makeRequest() and send them with perform(), so their headers, token roll,
// errors and single sending are the same.
class APIClient final : public QObject
{
    Q_OBJECT

public:
    enum class Method { Get, Post, Put, Delete };
    static QByteArray wireName(Method method);

    struct QueryItem
    {
        QString name;
        std::optional<QString> value;
    };

    // Milliseconds without any data before a transfer is given up: plain
    // requests, streams, and requests that set none themselves.
    struct Timeouts
    {
        int requestMs = 60'000;
        int streamMs = 120'000;
        int idleMs = 30'000;
    };

    // The service address fixed at build time (CMake's TESSIVO_SERVICE_URL).
    // Builds configured with TESSIVO_TESTING=ON take the environment
    // variable TESSIVO_TEST_SERVICE_URL instead when it is set, so that tests
    // of the whole app reach a service on a free port; other builds ignore it.
    static QUrl baseURLFromBuild();

    // The base URL is fixed for the client's life: scheme and host (and port),
    // no path.
    explicit APIClient(const QUrl &baseURL, QObject *parent = nullptr);
    APIClient(const QUrl &baseURL, const Timeouts &timeouts, QObject *parent = nullptr);
    ~APIClient() override;

    const QUrl &baseURL() const { return m_baseURL; }
    // The host the "network" error names.
    QString host() const { return m_baseURL.host(); }
    QNetworkAccessManager *session() const { return m_session; }
    const Timeouts &timeouts() const { return m_timeouts; }

    // Supplies the bearer token for each request; the default gives none.
    using TokenProvider = std::function<std::optional<QString>()>;
    void setTokenProvider(TokenProvider provider);

    template <DecodableRecord T>
    APICall<T> get(const QString &path, const QList<QueryItem> &query = {}, bool authenticated = true)
    {
        return decoded<T>(startGet(path, query, authenticated));
    }

    template <DecodableRecord T, EncodableRecord Body>
    APICall<T> send(Method method, const QString &path, const Body &body)
    {
        return decoded<T>(startSend(method, url(path), body.toJson()));
    }
    // The same to a URL made with url() and then given a path that path
    // strings cannot express (an encoded "/" inside one segment).
    template <DecodableRecord T, EncodableRecord Body>
    APICall<T> send(Method method, const QUrl &target, const Body &body)
    {
        return decoded<T>(startSend(method, target, body.toJson()));
    }

    // `body` absent: no body and no "content-type". The stream belongs to
    // `parent` (or to the caller when null); destroying it aborts silently.
    APIStream *stream(Method method, const QString &path, const std::optional<QByteArray> &body,
                      const QByteArray &contentType, QObject *parent = nullptr);

    // --- Pieces for requests built elsewhere ------------------------------

    // The base URL with `path` appended (a leading "/" gives one slash;
    // characters not allowed in a path are percent-encoded) and, when `query`
    // is non-empty, the items in order; never a bare "?".
    QUrl url(const QString &path, const QList<QueryItem> &query = {}) const;
    // A request for `url` with the common headers in their order; the token
    // provider is asked only when `authorize` is true. `timeoutMs` 0 means
    // the plain request time-out.
    QNetworkRequest makeRequest(const QUrl &url, const QByteArray &accept, const QByteArray &contentType = {},
                                bool authorize = true, int timeoutMs = 0) const;
    // The response check of every reply: not an HTTP reply → "Unexpected
    // response."; a "set-auth-token" that can be a token → tokenRolled(). The
    // status is not judged here.
    APIResult<APIResponse> validate(QNetworkReply *reply);
    // The whole outcome of a finished reply: ended by cancel() →
    // APIFailure::cancelled(); ended for passing its limit (perform()) →
    // APIError::replyTooLarge(); any other transport failure → the "network"
    // error; then validate(); a status outside 200-299 → APIError::from();
    // else the head and body.
    APIResult<APIReply> readReply(QNetworkReply *reply);
    // The most a reply read whole may hold, error replies included, unless
    // its caller allows more (a pull).
    static constexpr qint64 maxReplyBytes = qint64(16) << 20;
    // Ends a reply's transfer so that readReply() reports it cancelled
    // rather than lost: the caller no longer wants it.
    static void cancel(QNetworkReply *reply);
    // Ends `reply` as soon as its declared length or what has arrived of it
    // passes `maxBytes`, so that readReply() reports it too large before it
    // is all in memory. Its buffer stops taking data a little past the limit,
    // so a main thread held up elsewhere can't let more pile up meanwhile.
    // Any reply may be limited so, not only the client's own.
    static void limitReply(QNetworkReply *reply, qint64 maxBytes);
    // Sends a request made with makeRequest(); the call ends with readReply().
    // The reply is ended as soon as its declared length or what has arrived
    // of it passes `maxBytes`, long before all of it would be in memory.
    APICall<APIReply> perform(const QNetworkRequest &request, Method method,
                              const std::optional<QByteArray> &body = std::nullopt,
                              qint64 maxBytes = maxReplyBytes);

    // "Tessivo-macOS/" + the version, or + "dev" when the build has none.
    static QByteArray userAgent(const QString &shortVersion);

    // The text of a decoding failure of a 2xx reply.
    static QString decodingDescription(const QString &fault);

    // A 2xx body decoded strictly into T, as get() and send() do; pure, so
    // callers may run it on another thread for large bodies.
    template <DecodableRecord T>
    static APIResult<T> decodeBody(const QByteArray &body)
    {
        QString fault;
        if (const std::optional<QJsonObject> object = parseObject(body, &fault)) {
            if (std::optional<T> value = T::fromJson(*object, &fault))
                return std::move(*value);
        }
        return APIFailure::decoding(decodingDescription(fault));
    }

Q_SIGNALS:
    // A reply carried a new session token. Emitted synchronously, before the
    // reply's status is looked at. `sentToken` is the bearer token the
    // request went out with (empty when it had none), so that the token's
    // owner can tell a roll of its current session from a late one.
    void tokenRolled(const QString &token, const QString &sentToken);

private:
    friend class APIStream;

    // Caps what Qt buffers of `reply` at `bytes`, in its network thread too.
    static void keepReadBufferAt(QNetworkReply *reply, qint64 bytes);
    static bool failedInTransport(const QNetworkReply *reply);
    static QString sentToken(const QNetworkReply *reply);
    // APIError::from() of an error reply.
    APIError errorReply(const QNetworkReply *reply, const QByteArray &body, int status);
    // Parses a 2xx body as one JSON object; nullopt with `fault` otherwise.
    static std::optional<QJsonObject> parseObject(const QByteArray &body, QString *fault);

    APICall<APIReply> startGet(const QString &path, const QList<QueryItem> &query, bool authenticated);
    APICall<APIReply> startSend(Method method, const QUrl &target, const QJsonObject &body);
    QNetworkReply *dispatch(const QNetworkRequest &request, Method method,
                            const std::optional<QByteArray> &body);

    template <DecodableRecord T>
    static APICall<T> decoded(const APICall<APIReply> &raw)
    {
        QFuture<APIResult<T>> future = raw.future().then([](APIResult<APIReply> reply) -> APIResult<T> {
            if (!reply)
                return reply.failure();
            return decodeBody<T>(reply->body);
        });
        return APICall<T>(future, raw.m_reply);
    }

    QUrl m_baseURL;
    Timeouts m_timeouts;
    QNetworkAccessManager *m_session;
    TokenProvider m_tokenProvider;
};

template <typename T>
void APICall<T>::abort() const
{
    if (m_reply)
        APIClient::cancel(m_reply);
}
