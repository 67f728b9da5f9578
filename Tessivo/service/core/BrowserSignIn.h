#pragma once

#include "service/core/APIError.h"

#include <QFuture>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class APIClient;
class Session;
template <typename T>
class QPromise;

// Browser sign-in: the service's sign-in page opens in the default browser,
// which ends on a "tessivo://…?ott=…" URL that the desktop hands to the
// running app; handleCallbackURL() takes it only while a sign-in waits, once.
// The one-time token is then exchanged for a session token, which becomes
// the session. Main thread only.
class BrowserSignIn final : public QObject
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

    // `afterSession` runs once the exchange has made a session (the account
    // refresh goes there); the sign-in ends when its future does.
    BrowserSignIn(APIClient *client, Session *session, std::function<QFuture<void>()> afterSession,
                  QObject *parent = nullptr);
    ~BrowserSignIn() override;

    // Without one a sign-in fails with "Couldn't open the sign-in window.".
    void setPlatform(Platform platform) { m_platform = std::move(platform); }

    bool isSigningIn() const { return m_isSigningIn; }
    // True while the browser is open and the app waits for its callback.
    bool isWaitingForCallback() const { return m_waiting != nullptr; }

    // Ignored while one runs; reports through started(), failed() and the
    // session.
    QFuture<void> signIn(Provider provider);
    // Ends a waiting sign-in as the user's cancel: silently.
    void cancel();
    // A "tessivo:" URL reached the app. Taken only while a sign-in waits
    // (then true); any other URL is ignored with a log line.
    bool handleCallbackURL(const QUrl &url);

    static QString signInMessage(const QString &code);

Q_SIGNALS:
    void isSigningInChanged();
    // A sign-in began: earlier errors no longer apply.
    void started();
    // A sign-in failed with this user-facing text (not for a cancel).
    void failed(const QString &message);
    // A sign-in ended with a session (and what `afterSession` did).
    void signedIn();

private:
    struct Waiting;

    void setSigningIn(bool value);
    void finishWaiting(const APIError *error, const QString &ott);
    void exchange(const QString &ott, const std::shared_ptr<QPromise<void>> &done);
    void fail(const APIError &error, const std::shared_ptr<QPromise<void>> &done);

    APIClient *m_client;
    QPointer<Session> m_session;
    std::function<QFuture<void>()> m_afterSession;
    Platform m_platform;
    bool m_isSigningIn = false;
    std::unique_ptr<Waiting> m_waiting;
};
