#pragma once

#include "protocol/WireRecords.h"

#include <QObject>
#include <QUrl>

#include <optional>

// The signed-in user's account record, as the account views show it: the
// user and the user's public site. Observable: each field's signal fires
// only when the value really changes. Main thread only.
class AccountProfile final : public QObject
{
    Q_OBJECT

public:
    // `serviceURL` is the web service's base URL, below which sites live.
    explicit AccountProfile(const QUrl &serviceURL, QObject *parent = nullptr);

    const std::optional<MeResponse::User> &user() const { return m_user; }
    const std::optional<MeResponse::Site> &site() const { return m_site; }
    // The user's public site: the handle as a sub-domain of the service's
    // host, path "/". Nothing without a site, or when the handle is not a
    // valid host label.
    std::optional<QUrl> siteURL() const;

    void setUser(const std::optional<MeResponse::User> &user);
    void setSite(const std::optional<MeResponse::Site> &site);
    // No user and no site.
    void clear();

Q_SIGNALS:
    void userChanged();
    void siteChanged();

private:
    QUrl m_serviceURL;
    std::optional<MeResponse::User> m_user;
    std::optional<MeResponse::Site> m_site;
};
