#pragma once

#include "protocol/WireRecords.h"
#include "service/core/APIError.h"
#include "service/core/AccountProfile.h"
#include "service/core/BrowserSignIn.h"
#include "service/core/Keychain.h"
#include "service/core/Session.h"

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
class SaveClock;
template <typename T>
class QPromise;

// The one holder of the sign-in state the views read: the session (its
// token and keyring copy, see Session), the account record (AccountProfile),
// browser sign-in progress and the last error the account views show.
// It checks the session at start-up and on activation, and signs out. Main
// thread only. Observable: each field has a change signal, emitted only when
// the value really changes.
//
// The keyring is read when the manager is made, asynchronously: while it
// reads, the manager is neither signed in nor out (isReading), and session
// checks asked for meanwhile run once the read has ended.
//
// Browser sign-in is BrowserSignIn's; the manager holds it and shows its
// progress and failures to the account views.
class AuthManager final : public QObject
{
    Q_OBJECT

public:
    using Provider = BrowserSignIn::Provider;
    using Platform = BrowserSignIn::Platform;
    static QList<Provider> allProviders() { return BrowserSignIn::allProviders(); }
    static QString rawValue(Provider provider) { return BrowserSignIn::rawValue(provider); }
    static std::optional<Provider> providerFromRawValue(const QString &raw)
    {
        return BrowserSignIn::providerFromRawValue(raw);
    }

    struct Dependencies
    {
        APIClient *client = nullptr;    // required
        Keychain keychain = Keychain(); // the Secret Service by default
        DocumentStore *store = nullptr; // required: its sync cursor follows the account
        QSettings *settings = nullptr;  // the application's settings when null
        std::function<QDateTime()> now; // the wall clock when empty
        SaveClock *clock = nullptr;     // times the keyring read; a steady clock when null
    };

    explicit AuthManager(Dependencies dependencies, QObject *parent = nullptr);
    ~AuthManager() override;

    // The desktop side of browser sign-in; without one a sign-in fails with
    // "Couldn't open the sign-in window.".
    void setPlatform(Platform platform) { m_signIn->setPlatform(std::move(platform)); }

    Session *session() const { return m_session; }
    // Signed in means a token is present.
    const std::optional<QString> &token() const { return m_session->token(); }
    bool isSignedIn() const { return m_session->hasToken(); }
    // True while the keyring's token is being read at start-up.
    bool isReading() const { return m_session->isReading(); }
    const std::optional<MeResponse::User> &user() const { return m_profile->user(); }
    const std::optional<MeResponse::Site> &site() const { return m_profile->site(); }
    bool isSigningIn() const { return m_signIn->isSigningIn(); }
    // True while the browser is open and the app waits for its callback.
    bool isWaitingForCallback() const { return m_signIn->isWaitingForCallback(); }
    const std::optional<QString> &lastError() const { return m_lastError; }
    // Start of the last session check, or when the last sign-in got its
    // token; the distant past before either.
    QDateTime lastRefresh() const { return m_lastRefresh; }
    // See AccountProfile.
    std::optional<QUrl> siteURL() const { return m_profile->siteURL(); }

    // The throttled session check: without a token it returns at once;
    // unforced, it also returns at once while the last check started at most
    // 900 seconds ago. Asked for while the keyring is read, it runs once
    // the read has ended (once however often it was asked). Never fails to
    // its caller; the future finishes when the check (and the account
    // refresh it leads to) is over.
    QFuture<void> refreshSession(bool force);
    // Loads the account record; nothing without a token. Like the session
    // check, it signs out locally on a 401 or "unauthorized".
    QFuture<void> refreshMe();
    // Tells the service (unless localOnly) and then forgets the session:
    // token, keyring item, user and site. Documents, collections, the sync
    // cursor and the dirty lists stay.
    QFuture<void> signOut(bool localOnly);

    // At quit: waits up to `timeoutMs` for the keyring's queued writes (a
    // sign-out's delete, a rolled token), as the store's last flush waits
    // for its files (Session::waitForKeyring).
    Session::KeyringWait waitForKeyringWrites(int timeoutMs) { return m_session->waitForKeyring(timeoutMs); }

    // Browser sign-in (BrowserSignIn) with the provider; ignored while one
    // runs. Reports through lastError, isSigningIn and the signed-in state.
    QFuture<void> signIn(Provider provider) { return m_signIn->signIn(provider); }
    // Ends a waiting sign-in as the user's cancel: silently.
    void cancelSignIn() { m_signIn->cancel(); }
    // A "tessivo:" URL reached the app. Taken only while a sign-in waits
    // (then true); any other URL is ignored with a log line.
    bool handleCallbackURL(const QUrl &url) { return m_signIn->handleCallbackURL(url); }
    BrowserSignIn *browserSignIn() const { return m_signIn; }

    static QString signInMessage(const QString &code) { return BrowserSignIn::signInMessage(code); }

    // Milliseconds an unforced check waits after the previous one.
    static constexpr qint64 refreshIntervalMs = 900'000;

Q_SIGNALS:
    void tokenChanged();
    void readingChanged();
    void userChanged();
    void siteChanged();
    void isSigningInChanged();
    void lastErrorChanged();
    void lastRefreshChanged();
    // A browser sign-in ended with a session and its account refresh: the
    // moment to ask for a sync.
    void signedIn();
    // The session was forgotten (after the fields above were cleared): signed
    // out, or the service no longer knew it. The image library empties
    // itself here.
    void signedOut();
    // The keyring's token arrived after start-up had gone on as signed out.
    void sessionRestored();

private:
    QDateTime now() const;
    QFuture<void> checkSession(bool force);
    void setLastError(const std::optional<QString> &error);
    void setLastRefresh(const QDateTime &at);

    void sessionEnded();
    void handleBackgroundFailure(const APIError &error);
    void noteAccount(const QString &userID);

    APIClient *m_client;
    Session *m_session;
    QPointer<DocumentStore> m_store;
    QSettings *m_settings;
    std::unique_ptr<QSettings> m_ownSettings;
    std::function<QDateTime()> m_now;

    AccountProfile *m_profile;
    std::optional<QString> m_lastError;
    QDateTime m_lastRefresh;

    // A check asked for while the keyring is read: whether one was forced,
    // and the future every such caller got.
    struct HeldCheck
    {
        bool force = false;
        std::shared_ptr<QPromise<void>> done;
    };
    std::optional<HeldCheck> m_heldCheck;
    BrowserSignIn *m_signIn;
};
