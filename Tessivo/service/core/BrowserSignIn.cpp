#include "service/core/BrowserSignIn.h"

#include "protocol/Routes.h"
#include "protocol/Rules.h"
#include "service/core/APIClient.h"
#include "service/core/Session.h"
#include "store/ThenWhileAlive.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkRequest>
#include <QPromise>

#include <variant>

using namespace Qt::StringLiterals;

namespace {

using Promise = std::shared_ptr<QPromise<void>>;

APIError signInFailed(const QString &message)
{
    return APIError{u"signin_failed"_s, message, 0};
}

APIError errorOf(const APIFailure &failure)
{
    return failure.isAPIError() ? failure.apiError() : APIError{u"error"_s, failure.userText(), 0};
}

// One item of a callback's query: its value is absent when the item has no
// "=" at all ("error"), and empty with one ("error=").
struct QueryItem
{
    QString name;
    std::optional<QString> value;
};

QList<QueryItem> queryItems(const QUrl &url)
{
    QList<QueryItem> items;
    const QString query = url.query(QUrl::FullyEncoded);
    for (const QStringView part : QStringView(query).split(u'&', Qt::SkipEmptyParts)) {
        const qsizetype equals = part.indexOf(u'=');
        const auto decoded = [](QStringView text) { return QUrl::fromPercentEncoding(text.toUtf8()); };
        if (equals < 0)
            items.append({decoded(part), std::nullopt});
        else
            items.append({decoded(part.left(equals)), decoded(part.mid(equals + 1))});
    }
    return items;
}

// The callback's one-time token, or why there is none. Only the query is
// looked at; the first "ott" item decides, then the first "error" item,
// whose value is the code even when empty; without one the code is
// "unknown".
std::variant<QString, APIError> parseCallback(const QUrl &url)
{
    if (!url.isValid() || !url.hasQuery())
        return signInFailed(u"Sign-in didn't return to the app."_s);
    const QList<QueryItem> items = queryItems(url);
    const auto named = [&items](QLatin1StringView name) {
        return std::find_if(items.cbegin(), items.cend(),
                            [name](const QueryItem &item) { return item.name == name; });
    };
    if (const auto ott = named(protocol::signInCallback::tokenItem);
        ott != items.cend() && ott->value && !ott->value->isEmpty())
        return *ott->value;
    QString code = u"unknown"_s;
    if (const auto error = named(protocol::signInCallback::errorItem); error != items.cend() && error->value)
        code = *error->value;
    return APIError{code, BrowserSignIn::signInMessage(code), 0};
}

} // namespace

// The sign-in waiting for the browser's callback.
struct BrowserSignIn::Waiting
{
    Promise done;
};

QString BrowserSignIn::rawValue(Provider provider)
{
    return provider == Provider::github ? u"github"_s : u"google"_s;
}

std::optional<BrowserSignIn::Provider> BrowserSignIn::providerFromRawValue(const QString &raw)
{
    for (const Provider provider : allProviders())
        if (rawValue(provider) == raw)
            return provider;
    return std::nullopt;
}

BrowserSignIn::BrowserSignIn(APIClient *client, Session *session, std::function<QFuture<void>()> afterSession,
                             QObject *parent)
    : QObject(parent), m_client(client), m_session(session), m_afterSession(std::move(afterSession))
{}

BrowserSignIn::~BrowserSignIn() = default;

void BrowserSignIn::setSigningIn(bool value)
{
    if (value == m_isSigningIn)
        return;
    m_isSigningIn = value;
    Q_EMIT isSigningInChanged();
}

QString BrowserSignIn::signInMessage(const QString &code)
{
    using namespace protocol::signInCallback;
    if (code == accessDenied)
        return u"Sign-in was declined by the provider."_s;
    if (code == sessionMissing)
        return u"The sign-in link expired. Please try again."_s;
    if (code == internalError)
        return u"The server couldn't complete sign-in. Please try again."_s;
    if (code == invalidProvider)
        return u"That sign-in provider isn't available."_s;
    return u"Sign-in failed ("_s + code + u")."_s;
}

QFuture<void> BrowserSignIn::signIn(Provider provider)
{
    if (m_isSigningIn)
        return QtFuture::makeReadyFuture();
    const Promise done = std::make_shared<QPromise<void>>();
    done->start();
    // Waiting before the flag's observers look, so they can offer Cancel.
    m_waiting = std::make_unique<Waiting>(Waiting{done});
    setSigningIn(true);
    Q_EMIT started();
    const QUrl start = m_client->url(protocol::routePath(protocol::Endpoint::signInPage),
                                     {{u"provider"_s, rawValue(provider)}});
    if (!m_platform.openInBrowser || !m_platform.openInBrowser(start)) {
        if (m_waiting && m_waiting->done == done) {
            m_waiting.reset();
            fail(signInFailed(u"Couldn't open the sign-in window."_s), done);
        }
    }
    return done->future();
}

void BrowserSignIn::cancel()
{
    if (m_waiting) {
        const APIError cancelled{u"cancelled"_s, u"Cancelled."_s, 0};
        finishWaiting(&cancelled, QString());
    }
}

bool BrowserSignIn::handleCallbackURL(const QUrl &url)
{
    // Any program or page can open a "tessivo:" URL: only the callback of a
    // sign-in this app started counts, and only once.
    if (url.scheme() != u"tessivo") {
        qInfo("[auth] ignored a URL that is not a sign-in callback");
        return false;
    }
    if (!m_waiting) {
        qInfo("[auth] ignored a sign-in callback: no sign-in is waiting for one");
        return false;
    }
    const std::variant<QString, APIError> parsed = parseCallback(url);
    if (const APIError *error = std::get_if<APIError>(&parsed))
        finishWaiting(error, QString());
    else
        finishWaiting(nullptr, std::get<QString>(parsed));
    return true;
}

void BrowserSignIn::finishWaiting(const APIError *error, const QString &ott)
{
    const std::unique_ptr<Waiting> waiting = std::move(m_waiting);
    // Whatever the outcome, the user comes back to the app's window.
    if (m_platform.bringToFront)
        m_platform.bringToFront();
    if (error)
        fail(*error, waiting->done);
    else
        exchange(ott, waiting->done);
}

void BrowserSignIn::exchange(const QString &ott, const Promise &done)
{
    const QByteArray body = QJsonDocument(QJsonObject{{u"token"_s, ott}}).toJson(QJsonDocument::Compact);
    const QNetworkRequest request =
        m_client->makeRequest(m_client->url(protocol::routePath(protocol::Endpoint::verifyOneTimeToken)),
                              "application/json", "application/json", false);
    m_session->setExchanging(true);
    m_client->perform(request, APIClient::Method::Post, body)
        .then(this, [this, done](const APIResult<APIReply> &result) {
            m_session->setExchanging(false);
            if (!result) {
                fail(errorOf(result.failure()), done);
                return;
            }
            // A value that cannot be a token counts as none (the client has
            // already logged it).
            const QByteArray header = result->response.header("set-auth-token");
            const QString token = protocol::isSessionToken(header) ? QString::fromLatin1(header) : QString();
            if (token.isEmpty()) {
                fail(signInFailed(u"Sign-in completed but no session token arrived. Try again."_s), done);
                return;
            }
            // The reply's roll has normally made this the session and saved it.
            if (token != m_session->token() || !m_session->isCurrent(token))
                m_session->begin(token);
            QFuture<void> after = m_afterSession ? m_afterSession() : QtFuture::makeReadyFuture();
            thenWhileAlive(after, this, [this, done] {
                setSigningIn(false);
                if (m_session && m_session->hasToken())
                    Q_EMIT signedIn();
                done->finish();
            });
        });
}

void BrowserSignIn::fail(const APIError &error, const Promise &done)
{
    if (error.code != u"cancelled")
        Q_EMIT failed(error.errorDescription());
    setSigningIn(false);
    done->finish();
}
