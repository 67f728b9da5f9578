#include "AppNotifications.h"

AppNotifications *AppNotifications::instance()
{
    static AppNotifications *const center = new AppNotifications;
    return center;
}

void AppNotifications::post(const QString &name, const QVariantMap &userInfo)
{
    Q_EMIT instance()->posted(name, userInfo);
}
