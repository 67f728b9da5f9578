#include "service/core/AuthManager.h"

AuthManager *AuthManager::shared()
{
    static AuthManager *instance = new AuthManager;
    return instance;
}

AuthManager::AuthManager(QObject *parent)
    : QObject(parent), m_lastRefresh(QDateTime::fromMSecsSinceEpoch(0, Qt::UTC))
{}

QFuture<void> AuthManager::refreshSession(bool force)
{
    if (!m_token)
        return QtFuture::makeReadyFuture();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (!force && m_lastRefresh.secsTo(now) <= refreshInterval)
        return QtFuture::makeReadyFuture();
    m_lastRefresh = now;
    Q_EMIT lastRefreshChanged();
    // Asking the service for the session comes with the service client.
    return QtFuture::makeReadyFuture();
}

QFuture<void> AuthManager::signOut(bool)
{
    setTokenForTesting(std::nullopt);
    return QtFuture::makeReadyFuture();
}

void AuthManager::setTokenForTesting(const std::optional<QString> &token)
{
    if (token == m_token)
        return;
    m_token = token;
    Q_EMIT tokenChanged();
}
