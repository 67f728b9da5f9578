#pragma once

#include "protocol/WireRecords.h"
#include "service/core/APIError.h"
#include "service/core/Keychain.h"

#include <QDateTime>
#include <QFuture>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class APIClient;
class DocumentStore;
class QSettings;
template <typename T>
class QPromise;

// The one holder of the sign-in state: the session token (kept in the
// keyring across restarts), the signed-in user and the user's site, browser
// sign-in progress and the last error the account views show. It hands the
// token to the API client for every request, adopts rolled tokens, checks
// the session at start-up and on activation, and signs out. Main thread
// only. Observable: each field has a change signal, emitted only when the
// value really changes.
//
// Session generation: every sign-in and sign-out starts a new generation. A
// reply to a request of an earlier generation (a rolled token, an account
// record, a session check's verdict) is dropped, so a reply that was in
// flight at sign-out cannot sign the user back in or out of a newer session.
//
// Browser sign-in: the service's sign-in page opens in the default browser,
// which ends on a "tessivo://…?ott=…" URL that the desktop hands to the
// running app; handleCallbackURL() takes it only while a sign-in waits, once.
class AuthManager final : public QObject
{
    Q_OBJECT

public:
    enum class Provider { github, google };
    static QList<Provider> allProviders() { return {Provider::github, Provider::google}; }
    static QString rawValue(Provider provider);
    static std::optional<Provider> providerFromRawValue(const QString &raw);

    // What browser sign-in needs of the desktop.
    struct Platform
    {
        // Opens the page in the default browser; false when it can't.
        std::function<bool(const QUrl &url)> openInBrowser;
        // Brings the app and its main window to the front, making the window
        // when there is none.
        std::function<void()> bringToFront;
    };

    struct Dependencies
    {
        APIClient *client = nullptr;    // the shared client when null
        Keychain keychain = Keychain(); // the Secret Service by default
        DocumentStore *store = nullptr; // the shared store when null
        QSettings *settings = nullptr;  // the application's settings when null
        std::function<QDateTime()> now; // the wall clock when empty
    };

    static AuthManager *shared();

    explicit AuthManager(QObject *parent = nullptr);
    explicit AuthManager(Dependencies dependencies, QObject *parent = nullptr);
    ~AuthManager() override;

    // The desktop side of browser sign-in; without one a sign-in fails with
    // "Couldn't open the sign-in window.".
    void setPlatform(Platform platform);

    // Signed in means a token is present.
    const std::optional<QString> &token() const { return m_token; }
    bool isSignedIn() const { return m_token.has_value(); }
    const std::optional<MeResponse::User> &user() const { return m_user; }
    const std::optional<MeResponse::Site> &site() const { return m_site; }
    bool isSigningIn() const { return m_isSigningIn; }
    // True while the browser is open and the app waits for its callback.
    bool isWaitingForCallback() const { return m_waiting != nullptr; }
    const std::optional<QString> &lastError() const { return m_lastError; }
    // Start of the last session check, or when the last sign-in got its
    // token; the distant past before either.
    QDateTime lastRefresh() const { return m_lastRefresh; }
    // The user's public site: the handle as a sub-domain of the service's
    // host, path "/". Nothing without a site, or when the handle is not a
    // valid host label.
    std::optional<QUrl> siteURL() const;

    // The throttled session check: without a token it returns at once;
    // unforced, it also returns at once while the last check started at most
    // 900 seconds ago. Never fails to its caller; the future finishes when
    // the check (and the account refresh it leads to) is over.
    QFuture<void> refreshSession(bool force);
    // Loads the account record; nothing without a token.
    QFuture<void> refreshMe();
    // Tells the service (unless localOnly) and then forgets the session:
    // token, keyring item, user and site. Documents, collections, the sync
    // cursor and the dirty lists stay.
    QFuture<void> signOut(bool localOnly);

    // Browser sign-in with the provider; ignored while one runs. Reports
    // through lastError, isSigningIn and the signed-in state.
    QFuture<void> signIn(Provider provider);
    // Ends a waiting sign-in as the user's cancel: silently.
    void cancelSignIn();
    // A "tessivo:" URL reached the app. Taken only while a sign-in waits
    // (then true); any other URL is ignored with a log line.
    bool handleCallbackURL(const QUrl &url);

    static QString signInMessage(const QString &code);

    // Seconds an unforced check waits after the previous one.
    static constexpr qint64 refreshInterval = 900;

Q_SIGNALS:
    void tokenChanged();
    void userChanged();
    void siteChanged();
    void isSigningInChanged();
    void lastErrorChanged();
    void lastRefreshChanged();
    // A browser sign-in ended with a session and its account refresh: the
    // moment to ask for a sync.
    void signedIn();
    // The session was forgotten (after the fields above were cleared); the
    // image library empties itself here.
    void signedOut();

private:
    struct Waiting;

    QDateTime now() const;
    void setToken(const std::optional<QString> &token);
    void setUser(const std::optional<MeResponse::User> &user);
    void setSite(const std::optional<MeResponse::Site> &site);
    void setSigningIn(bool value);
    void setLastError(const std::optional<QString> &error);
    void setLastRefresh(const QDateTime &at);

    void adoptRolledToken(const QString &token, const QString &sentToken);
    // A new session (sign-in) or none (sign-out): replies of earlier ones
    // are dropped from now on.
    void beginGeneration(const std::optional<QString> &token);
    void forgetSession();
    void handleBackgroundFailure(const APIError &error);
    void noteAccount(const QString &userID);

    void finishWaiting(const APIError *error, const QString &ott);
    void exchange(const QString &ott, const std::shared_ptr<QPromise<void>> &done);
    void failSignIn(const APIError &error, const std::shared_ptr<QPromise<void>> &done);

    APIClient *m_client;
    Keychain m_keychain;
    QPointer<DocumentStore> m_store;
    QSettings *m_settings;
    std::unique_ptr<QSettings> m_ownSettings;
    std::function<QDateTime()> m_now;
    Platform m_platform;

    std::optional<QString> m_token;
    std::optional<MeResponse::User> m_user;
    std::optional<MeResponse::Site> m_site;
    bool m_isSigningIn = false;
    std::optional<QString> m_lastError;
    QDateTime m_lastRefresh;

    quint64 m_generation = 0;
    // Every token the current session has had; a roll counts only when the
    // request went out with one of them.
    QSet<QString> m_generationTokens;
    bool m_exchanging = false;
    std::unique_ptr<Waiting> m_waiting;
};
