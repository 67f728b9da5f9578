#include "service/core/AuthManager.h"

#include "protocol/Routes.h"
#include "protocol/Rules.h"
#include "service/core/APIClient.h"
#include "store/DocumentStore.h"
#include "store/ThenWhileAlive.h"

#include <QNetworkRequest>
#include <QPromise>
#include <QSettings>
#include <QStringDecoder>

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

APIError errorOf(const APIFailure &failure)
{
    return failure.isAPIError() ? failure.apiError() : APIError{u"error"_s, failure.userText(), 0};
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

} // namespace

AuthManager::AuthManager(Dependencies dependencies, QObject *parent)
    : QObject(parent), m_client(dependencies.client), m_store(dependencies.store),
      m_settings(dependencies.settings), m_now(std::move(dependencies.now)),
      m_lastRefresh(QDateTime::fromMSecsSinceEpoch(0, Qt::UTC))
{
    Q_ASSERT(m_client);
    if (!m_settings) {
        m_ownSettings = std::make_unique<QSettings>();
        m_settings = m_ownSettings.get();
    }
    m_session = new Session(m_client, std::move(dependencies.keychain), m_settings, dependencies.clock, this);
    m_profile = new AccountProfile(m_client->baseURL(), this);
    connect(m_profile, &AccountProfile::userChanged, this, &AuthManager::userChanged);
    connect(m_profile, &AccountProfile::siteChanged, this, &AuthManager::siteChanged);
    connect(m_session, &Session::tokenChanged, this, &AuthManager::tokenChanged);
    connect(m_session, &Session::readingChanged, this, &AuthManager::readingChanged);
    connect(m_session, &Session::ended, this, &AuthManager::sessionEnded);
    m_signIn = new BrowserSignIn(
        m_client, m_session,
        [this] {
            setLastRefresh(now());
            return refreshMe();
        },
        this);
    connect(m_signIn, &BrowserSignIn::isSigningInChanged, this, &AuthManager::isSigningInChanged);
    connect(m_signIn, &BrowserSignIn::started, this, [this] { setLastError(std::nullopt); });
    connect(m_signIn, &BrowserSignIn::failed, this,
            [this](const QString &message) { setLastError(message); });
    connect(m_signIn, &BrowserSignIn::signedIn, this, &AuthManager::signedIn);
    connect(m_session, &Session::restored, this, [this] {
        Q_EMIT sessionRestored();
        refreshSession(true);
    });
    m_session->start();
}

AuthManager::~AuthManager() = default;

QDateTime AuthManager::now() const
{
    return m_now ? m_now() : QDateTime::currentDateTimeUtc();
}

// --- Observable fields -------------------------------------------------------

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

// --- Session -------------------------------------------------------------------

void AuthManager::sessionEnded()
{
    m_profile->clear();
    Q_EMIT signedOut();
}

void AuthManager::handleBackgroundFailure(const APIError &error)
{
    // The session check and the account refresh are the service's word on
    // this session: a 401 or "unauthorized" ends it here, and the account
    // views show no error for that.
    if (error.isUnauthorized()) {
        qInfo("[auth] the service no longer knows this session: signed out on this computer");
        signOut(true);
        return;
    }
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
            thenWhileAlive(checkSession(held.force), this, [done = held.done] { done->finish(); });
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
    const QNetworkRequest request = m_client->makeRequest(
        m_client->url(protocol::routePath(protocol::Endpoint::getSession)), "application/json");
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
            thenWhileAlive(refreshMe(), this, [done] { done->finish(); });
        });
    return done->future();
}

QFuture<void> AuthManager::refreshMe()
{
    if (!isSignedIn())
        return QtFuture::makeReadyFuture();
    const quint64 generation = m_session->generation();
    const Promise done = startedPromise();
    m_client->get<MeResponse>(protocol::routePath(protocol::Endpoint::me), {}, true)
        .then(this, [this, generation, done](const APIResult<MeResponse> &result) {
            if (generation == m_session->generation()) {
                if (result) {
                    noteAccount(result->user.id);
                    m_profile->setUser(result->user);
                    m_profile->setSite(result->site);
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
    // Reset even a cursor that is already 0: the reset raises the cursor
    // epoch, so a pass begun under the previous account cannot move it.
    if (DocumentStore *store = m_store.data()) {
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
    // The user has signed out even if the app quits before the answer.
    m_session->noteEnding();
    const Promise done = startedPromise();
    const QNetworkRequest request = m_client->makeRequest(
        m_client->url(protocol::routePath(protocol::Endpoint::signOut)), "application/json");
    // The service's answer changes nothing: the session ends here either way.
    m_client->perform(request, APIClient::Method::Post)
        .then(this, [this, generation, done](const APIResult<APIReply> &) {
            if (generation == m_session->generation())
                m_session->end();
            done->finish();
        });
    return done->future();
}
