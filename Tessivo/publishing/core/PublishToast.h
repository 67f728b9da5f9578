#pragma once

#include <QString>
#include <QUrl>
#include <QVariantMap>

#include <optional>

class AppNotifications;

// The confirmation after a publish or an update, posted on the app's
// notification bus as "zv.publishToast" with a "message" string and a "url"
// QUrl; every toast host shows it.
namespace PublishToast {

inline const QString messageKey = QStringLiteral("message");
inline const QString urlKey = QStringLiteral("url");

struct Content
{
    QString message;
    QUrl url;
};

void post(AppNotifications *notifications, const QString &message, const QUrl &url);
// The content of a posted user info; nullopt when either value is missing
// or of another type (a URL given as a string included).
std::optional<Content> read(const QVariantMap &userInfo);

} // namespace PublishToast
