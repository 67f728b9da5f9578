#pragma once

#include "app/core/IconName.h"
#include "protocol/WireRecords.h"
#include "service/core/SyncEngine.h"

#include <QDateTime>
#include <QString>
#include <QUrl>

#include <optional>

// What the two rows at the foot of the sidebar say, from the observable
// sign-in and sync state. Signed in means a session token is present.
namespace SidebarFooter {

struct SyncStatus
{
    // False: the single signed-out line, without tooltip or pulse.
    bool signedIn = false;
    IconName icon = IconName::cloudSlash;
    QString text;
    bool pulses = false;
    QString toolTip;
    friend bool operator==(const SyncStatus &, const SyncStatus &) = default;
};

// `serviceHost` names the web service in the generic tooltip.
SyncStatus syncStatus(bool hasToken, const SyncEngine::Status &status, const QDateTime &now,
                      const QString &serviceHost);

// The tooltip of the signed-in status row.
QString syncDetailText(const SyncEngine::Status &status, const QDateTime &now, const QString &serviceHost);

struct Account
{
    // True when a user record and a token are both present.
    bool showsUser = false;
    // The user's name, or the email when the name is absent or empty.
    QString displayName;
    // The avatar's letter: first character of that name, upper-cased.
    QString initial;
    // The avatar picture; empty unless an http or https URL.
    QUrl avatarURL;
    // Follows the token alone, while the label follows user and token.
    QString toolTip;
    friend bool operator==(const Account &, const Account &) = default;
};

Account account(bool hasToken, const std::optional<MeResponse::User> &user);

// Only pictures on the web are loaded: anything but an absolute http or
// https URL with a host gives an empty URL.
QUrl avatarURL(const QString &image);

} // namespace SidebarFooter
