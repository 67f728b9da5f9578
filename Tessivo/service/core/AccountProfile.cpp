#include "service/core/AccountProfile.h"

#include "protocol/Rules.h"

using namespace Qt::StringLiterals;

AccountProfile::AccountProfile(const QUrl &serviceURL, QObject *parent)
    : QObject(parent), m_serviceURL(serviceURL)
{}

void AccountProfile::setUser(const std::optional<MeResponse::User> &user)
{
    if (user == m_user)
        return;
    m_user = user;
    Q_EMIT userChanged();
}

void AccountProfile::setSite(const std::optional<MeResponse::Site> &site)
{
    if (site == m_site)
        return;
    m_site = site;
    Q_EMIT siteChanged();
}

void AccountProfile::clear()
{
    setUser(std::nullopt);
    setSite(std::nullopt);
}

std::optional<QUrl> AccountProfile::siteURL() const
{
    if (!m_site || !protocol::siteHandles::isHostLabel(m_site->handle))
        return std::nullopt;
    QUrl url = m_serviceURL;
    if (!url.isValid() || url.host().isEmpty())
        return std::nullopt;
    url.setHost(m_site->handle + u'.' + url.host(), QUrl::StrictMode);
    url.setPath(u"/"_s);
    if (!url.isValid() || url.host().isEmpty())
        return std::nullopt;
    return url;
}
