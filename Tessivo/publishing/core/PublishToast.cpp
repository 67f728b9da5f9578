#include "publishing/core/PublishToast.h"

#include "app/core/AppNotifications.h"

namespace PublishToast {

void post(AppNotifications *notifications, const QString &message, const QUrl &url)
{
    notifications->post(AppNotifications::publishToast, {{messageKey, message}, {urlKey, url}});
}

std::optional<Content> read(const QVariantMap &userInfo)
{
    const QVariant message = userInfo.value(messageKey);
    const QVariant url = userInfo.value(urlKey);
    if (message.typeId() != QMetaType::QString || url.typeId() != QMetaType::QUrl)
        return std::nullopt;
    return Content{message.toString(), url.toUrl()};
}

} // namespace PublishToast
