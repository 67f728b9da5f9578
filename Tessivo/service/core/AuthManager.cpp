#include "service/core/AuthManager.h"

#include "service/core/APIClient.h"
#include "store/DocumentStore.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkRequest>
#include <QPromise>
#include <QRegularExpression>
#include <QSettings>
#include <QStringDecoder>
#include <QUrlQuery>

#include <variant>

using namespace Qt::StringLiterals;

namespace {

using Promise = std::shared_ptr<QPromise<void>>;

Promise startedPromise()
{
    auto promise = std::make_shared<QPromise<void>>();
    promise->start();
    return promise;
}

const QString cursorUserKey = u"syncCursorUserID"_s;

APIError signInFailed(const QString &message)
{
    return APIError{u"signin_failed"_s, message, 0};
}

APIError errorOf(const APIFailure &failure)
{
    return failure.isAPIError() ? failure.apiError() : APIError{u"error"_s, failure.description(), 0};
}

// The callback's one-time token, or why there is none. Only the query is
// looked at; the first "ott" item decides, then the first "error" item.
std::variant<QString, APIError> parseCallback(const QUrl &url)
{
    if (!url.isValid() || !url.hasQuery())
        return signInFailed(u"Sign-in didn't return to the app."_s);
    const QList<std::pair<QString, QString>> items = QUrlQuery(url).queryItems(QUrl::FullyDecoded);
    QString code = u"unknown"_s;
    if (!items.isEmpty()) {
        const auto ott =
            std::find_if(items.cbegin(), items.cend(), [](const auto &item) { return item.first == u"ott"; });
        if (ott != items.cend() && !ott->second.isEmpty())
            return ott->second;
        const auto error = std::find_if(items.cbegin(), items.cend(),
                                        [](const auto &item) { return item.first == u"error"; });
        if (error != items.cend() && !error->second.isEmpty())
            code = error->second;
    }
    return APIError{code, AuthManager::signInMessage(code), 0};
}

// "null" as the whole body (white space aside, at most 4 bytes): the
// service no longer knows the session.
bool isNullSession(const QByteArray &body)
{
    if (body.size() > 4)
        return false;
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8.decode(body);
    return !utf8.hasError() && text.trimmed() == u"null";
}

bool isHostLabel(const QString &handle)
{
    static const QRegularExpression label(u"^[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?$"_s);
    return label.match(handle).hasMatch();
}

} // namespace

// The sign-in waiting for the browser's callback.
struct AuthManager::Waiting
{
    Promise done;
};

QString AuthManager::rawValue(Provider provider)
{
    return provider == Provider::github ? u"github"_s : u"google"_s;
}

std::optional<AuthManager::Provider> AuthManager::providerFromRawValue(const QString &raw)
{
    for (const Provider provider : allProviders())
        if (rawValue(provider) == raw)
            return provider;
    return std::nullopt;
}

AuthManager::AuthManager(Dependencies dependencies, QObject *parent)
    : QObject(parent), m_client(dependencies.client),
      m_session(new Session(dependencies.client, std::move(dependencies.keychain), dependencies.clock, this)),
      m_store(dependencies.store), m_settings(dependencies.settings), m_now(std::move(dependencies.now)),
      m_lastRefresh(QDateTime::fromMSecsSinceEpoch(0, Qt::UTC))
{
    Q_ASSERT(m_client);
    if (!m_settings) {
        m_ownSettings = std::make_unique<QSettings>();
        m_settings = m_ownSettings.get();
    }
    connect(m_session, &Session::tokenChanged, this, &AuthManager::tokenChanged);
    connect(m_session, &Session::readingChanged, this, &AuthManager::readingChanged);
    connect(m_session, &Session::ended, this, &AuthManager::sessionEnded);
    connect(m_session, &Session::restored, this, [this] {
        Q_EMIT sessionRestored();
        refreshSession(true);
    });
    m_session->start();
}

AuthManager::~AuthManager() = default;

void AuthManager::setPlatform(Platform platform)
{
    m_platform = std::move(platform);
}

QDateTime AuthManager::now() const
{
    return m_now ? m_now() : QDateTime::currentDateTimeUtc();
}

// --- Observable fields -------------------------------------------------------

void AuthManager::setUser(const std::optional<MeResponse::User> &user)
{
    if (user == m_user)
        return;
    m_user = user;
    Q_EMIT userChanged();
}

void AuthManager::setSite(const std::optional<MeResponse::Site> &site)
{
    if (site == m_site)
        return;
    m_site = site;
    Q_EMIT siteChanged();
}

void AuthManager::setSigningIn(bool value)
{
    if (value == m_isSigningIn)
        return;
    m_isSigningIn = value;
    Q_EMIT isSigningInChanged();
}

void AuthManager::setLastError(const std::optional<QString> &error)
{
    if (error == m_lastError)
        return;
    m_lastError = error;
    Q_EMIT lastErrorChanged();
}

void AuthManager::setLastRefresh(const QDateTime &at)
{
    if (at == m_lastRefresh)
        return;
    m_lastRefresh = at;
    Q_EMIT lastRefreshChanged();
}

std::optional<QUrl> AuthManager::siteURL() const
{
    if (!m_site || !isHostLabel(m_site->handle))
        return std::nullopt;
    QUrl url = m_client->baseURL();
    if (!url.isValid() || url.host().isEmpty())
        return std::nullopt;
    url.setHost(m_site->handle + u'.' + url.host(), QUrl::StrictMode);
    url.setPath(u"/"_s);
    if (!url.isValid() || url.host().isEmpty())
        return std::nullopt;
    return url;
}

// --- Session -------------------------------------------------------------------

void AuthManager::sessionEnded()
{
    setUser(std::nullopt);
    setSite(std::nullopt);
    Q_EMIT signedOut();
}

void AuthManager::handleBackgroundFailure(const APIError &error)
{
    // A 401 or "unauthorized" has already ended the session (Session), so
    // its reply never gets here: it belonged to an earlier generation.
    setLastError(error.errorDescription());
}

QFuture<void> AuthManager::refreshSession(bool force)
{
    if (!m_session->isReading())
        return checkSession(force);
    if (!m_heldCheck) {
        m_heldCheck = HeldCheck{force, startedPromise()};
        m_session->whenSettled(this, [this] {
            const HeldCheck held = *std::exchange(m_heldCheck, std::nullopt);
            checkSession(held.force).then(this, [done = held.done] { done->finish(); });
        });
    }
    m_heldCheck->force = m_heldCheck->force || force;
    return m_heldCheck->done->future();
}

QFuture<void> AuthManager::checkSession(bool force)
{
    if (!isSignedIn())
        return QtFuture::makeReadyFuture();
    const QDateTime started = now();
    // Milliseconds: a check a moment after the interval runs.
    if (!force && m_lastRefresh.msecsTo(started) <= refreshIntervalMs)
        return QtFuture::makeReadyFuture();
    setLastRefresh(started);
    const quint64 generation = m_session->generation();
    const Promise done = startedPromise();
    const QNetworkRequest request =
        m_client->makeRequest(m_client->url(u"/api/auth/get-session"_s), "application/json");
    m_client->perform(request, APIClient::Method::Get)
        .then(this, [this, generation, done](const APIResult<APIReply> &result) {
            if (generation != m_session->generation()) {
                done->finish();
                return;
            }
            if (!result) {
                handleBackgroundFailure(errorOf(result.failure()));
                done->finish();
                return;
            }
            if (isNullSession(result->body)) {
                signOut(true);
                done->finish();
                return;
            }
            refreshMe().then(this, [done] { done->finish(); });
        });
    return done->future();
}

QFuture<void> AuthManager::refreshMe()
{
    if (!isSignedIn())
        return QtFuture::makeReadyFuture();
    const quint64 generation = m_session->generation();
    const Promise done = startedPromise();
    m_client->get<MeResponse>(u"/api/v1/me"_s, {}, true)
        .then(this, [this, generation, done](const APIResult<MeResponse> &result) {
            if (generation == m_session->generation()) {
                if (result) {
                    noteAccount(result->user.id);
                    setUser(result->user);
                    setSite(result->site);
                    setLastError(std::nullopt);
                } else {
                    handleBackgroundFailure(errorOf(result.failure()));
                }
            }
            done->finish();
        });
    return done->future();
}

void AuthManager::noteAccount(const QString &userID)
{
    // The sync cursor only means something for the account it was earned
    // with; another account's records must all be pulled. The dirty lists
    // stay: this computer's documents go to whoever signs in on it.
    if (m_settings->value(cursorUserKey).toString() == userID)
        return;
    DocumentStore *store = m_store.data();
    if (store && store->state().syncCursor != 0) {
        qInfo("[auth] another account signed in: the next sync starts from the beginning");
        store->resetSyncCursor();
    }
    m_settings->setValue(cursorUserKey, userID);
}

QFuture<void> AuthManager::signOut(bool localOnly)
{
    if (localOnly || !isSignedIn()) {
        m_session->end();
        return QtFuture::makeReadyFuture();
    }
    const quint64 generation = m_session->generation();
    const Promise done = startedPromise();
    const QNetworkRequest request =
        m_client->makeRequest(m_client->url(u"/api/auth/sign-out"_s), "application/json");
    // The service's answer changes nothing: the session ends here either way.
    m_client->perform(request, APIClient::Method::Post)
        .then(this, [this, generation, done](const APIResult<APIReply> &) {
            if (generation == m_session->generation())
                m_session->end();
            done->finish();
        });
    return done->future();
}

// --- Browser sign-in -----------------------------------------------------------

QString AuthManager::signInMessage(const QString &code)
{
    if (code == u"access_denied")
        return u"Sign-in was declined by the provider."_s;
    if (code == u"session_missing")
        return u"The sign-in link expired. Please try again."_s;
    if (code == u"internal_error")
        return u"The server couldn't complete sign-in. Please try again."_s;
    if (code == u"invalid_provider")
        return u"That sign-in provider isn't available."_s;
    return u"Sign-in failed ("_s + code + u")."_s;
}

QFuture<void> AuthManager::signIn(Provider provider)
{
    if (m_isSigningIn)
        return QtFuture::makeReadyFuture();
    const Promise done = startedPromise();
    // Waiting before the flag's observers look, so they can offer Cancel.
    m_waiting = std::make_unique<Waiting>(Waiting{done});
    setSigningIn(true);
    setLastError(std::nullopt);
    const QUrl start = m_client->url(u"/api/v1/auth/native-signin"_s, {{u"provider"_s, rawValue(provider)}});
    if (!m_platform.openInBrowser || !m_platform.openInBrowser(start)) {
        if (m_waiting && m_waiting->done == done) {
            m_waiting.reset();
            failSignIn(signInFailed(u"Couldn't open the sign-in window."_s), done);
        }
    }
    return done->future();
}

void AuthManager::cancelSignIn()
{
    if (m_waiting) {
        const APIError cancelled{u"cancelled"_s, u"Cancelled."_s, 0};
        finishWaiting(&cancelled, QString());
    }
}

bool AuthManager::handleCallbackURL(const QUrl &url)
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

void AuthManager::finishWaiting(const APIError *error, const QString &ott)
{
    const std::unique_ptr<Waiting> waiting = std::move(m_waiting);
    // Whatever the outcome, the user comes back to the app's window.
    if (m_platform.bringToFront)
        m_platform.bringToFront();
    if (error)
        failSignIn(*error, waiting->done);
    else
        exchange(ott, waiting->done);
}

void AuthManager::exchange(const QString &ott, const Promise &done)
{
    const QByteArray body = QJsonDocument(QJsonObject{{u"token"_s, ott}}).toJson(QJsonDocument::Compact);
    const QNetworkRequest request = m_client->makeRequest(m_client->url(u"/api/auth/one-time-token/verify"_s),
                                                          "application/json", "application/json", false);
    m_session->setExchanging(true);
    m_client->perform(request, APIClient::Method::Post, body)
        .then(this, [this, done](const APIResult<APIReply> &result) {
            m_session->setExchanging(false);
            if (!result) {
                failSignIn(errorOf(result.failure()), done);
                return;
            }
            const QString token = QString::fromUtf8(result->response.header("set-auth-token"));
            if (token.isEmpty()) {
                failSignIn(signInFailed(u"Sign-in completed but no session token arrived. Try again."_s),
                           done);
                return;
            }
            // The reply's roll has normally made this the session and saved it.
            if (token != m_session->token() || !m_session->isCurrent(token))
                m_session->begin(token);
            setLastRefresh(now());
            refreshMe().then(this, [this, done] {
                setSigningIn(false);
                if (isSignedIn())
                    Q_EMIT signedIn();
                done->finish();
            });
        });
}

void AuthManager::failSignIn(const APIError &error, const Promise &done)
{
    if (error.code != u"cancelled")
        setLastError(error.errorDescription());
    setSigningIn(false);
    done->finish();
}
