#include "sidebar/core/SidebarFooter.h"

#include "sidebar/core/RelativeTime.h"
#include "store/Text.h"

namespace SidebarFooter {

SyncStatus syncStatus(bool hasToken, const SyncEngine::Status &status, const QDateTime &now,
                      const QString &serviceHost)
{
    SyncStatus result;
    if (!hasToken) {
        result.icon = IconName::cloudSlash;
        result.text = QStringLiteral("Documents stay on this computer");
        return result;
    }
    result.signedIn = true;
    switch (status.kind) {
    case SyncEngine::Status::syncing:
        result.icon = IconName::cloudUpload;
        result.text = QStringLiteral("Syncing\u2026");
        result.pulses = true;
        break;
    case SyncEngine::Status::offline:
        result.icon = IconName::cloudSlash;
        result.text = QStringLiteral("Offline, saved locally");
        break;
    case SyncEngine::Status::synced:
    case SyncEngine::Status::signedOut:
        result.icon = IconName::cloudCheck;
        result.text = QStringLiteral("Synced across devices");
        break;
    }
    result.toolTip = syncDetailText(status, now, serviceHost);
    return result;
}

QString syncDetailText(const SyncEngine::Status &status, const QDateTime &now, const QString &serviceHost)
{
    switch (status.kind) {
    case SyncEngine::Status::offline:
        return status.message;
    case SyncEngine::Status::synced:
        return QStringLiteral("Synced ") + relativeNamedDateString(status.at, now);
    case SyncEngine::Status::syncing:
    case SyncEngine::Status::signedOut:
        break;
    }
    const QString host = serviceHost.isEmpty() ? QStringLiteral("the Tessivo service") : serviceHost;
    return QStringLiteral("Documents sync with %1 and the iOS app.").arg(host);
}

Account account(bool hasToken, const std::optional<MeResponse::User> &user)
{
    Account result;
    result.toolTip =
        hasToken ? QStringLiteral("Account and settings") : QStringLiteral("Sign in to publish and sync");
    if (!hasToken || !user)
        return result;
    result.showsUser = true;
    result.displayName = user->name.isEmpty() ? user->email : user->name;
    result.initial = Text::leftCharacters(result.displayName, 1).toUpper();
    result.avatarURL = avatarURL(user->image.value_or(QString()));
    return result;
}

QUrl avatarURL(const QString &image)
{
    const QUrl url(image, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return {};
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return {};
    return url;
}

} // namespace SidebarFooter
