#pragma once

#include <QDateTime>
#include <QFuture>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <optional>

// The one holder of the sign-in state: session token, signed-in user, the
// user's site, sign-in progress and the last error. Until the service client
// exists this build never holds a token: it is always signed out and every
// operation returns at once.
class AuthManager final : public QObject
{
    Q_OBJECT

public:
    static AuthManager *shared();

    explicit AuthManager(QObject *parent = nullptr);

    // Signed in means a token is present.
    const std::optional<QString> &token() const { return m_token; }
    bool isSignedIn() const { return m_token.has_value(); }
    // The account records as the service sends them (absent while signed out).
    const std::optional<QJsonObject> &user() const { return m_user; }
    const std::optional<QJsonObject> &site() const { return m_site; }
    bool isSigningIn() const { return m_isSigningIn; }
    const std::optional<QString> &lastError() const { return m_lastError; }
    // Start of the last session check; the distant past when none ran.
    QDateTime lastRefresh() const { return m_lastRefresh; }

    // The throttled session check: without a token it returns at once;
    // unforced, it also returns at once while the last check started at most
    // 900 seconds ago. Never fails to its caller; the future finishes when
    // the check is over.
    QFuture<void> refreshSession(bool force);
    // Forgets the session (unless localOnly, after telling the service).
    // Documents, collections, the sync cursor and the dirty lists stay.
    QFuture<void> signOut(bool localOnly);

    // Stands in for a sign-in until browser sign-in exists.
    void setTokenForTesting(const std::optional<QString> &token);

    // Seconds an unforced check waits after the previous one.
    static constexpr qint64 refreshInterval = 900;

Q_SIGNALS:
    void tokenChanged();
    void userChanged();
    void siteChanged();
    void isSigningInChanged();
    void lastErrorChanged();
    void lastRefreshChanged();
    // A sign-in ended with a session and its account record.
    void signedIn();

private:
    std::optional<QString> m_token;
    std::optional<QJsonObject> m_user;
    std::optional<QJsonObject> m_site;
    bool m_isSigningIn = false;
    std::optional<QString> m_lastError;
    QDateTime m_lastRefresh;
};
