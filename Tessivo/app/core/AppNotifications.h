#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

// The app-wide notification centre. Menu items, the command palette, buttons
// and the editor post named commands here with no sender; the views that own
// each action observe them. Names are the wire names every component agrees on.
//
//   AppNotifications::post(AppNotifications::toggleSidebar);
//   connect(AppNotifications::instance(), &AppNotifications::posted, this,
//           [](const QString &name, const QVariantMap &info) { ... });
class AppNotifications final : public QObject
{
    Q_OBJECT

public:
    static inline const QString publishDocument = QStringLiteral("zv.publishDocument");
    static inline const QString deleteDocument = QStringLiteral("zv.deleteDocument");
    static inline const QString newCollection = QStringLiteral("zv.newCollection");
    static inline const QString toggleSidebar = QStringLiteral("zv.toggleSidebar");
    static inline const QString toggleCommandPalette = QStringLiteral("zv.toggleCommandPalette");
    static inline const QString openMediaLibrary = QStringLiteral("zv.openMediaLibrary");
    static inline const QString aiAssist = QStringLiteral("zv.aiAssist");
    static inline const QString publishToast = QStringLiteral("zv.publishToast");

    // User-info keys. "mode" of aiAssist holds "refine" or "generate";
    // "range" of openMediaLibrary holds a TextRange (UTF-16) of the "![" typed.
    static inline const QString modeKey = QStringLiteral("mode");
    static inline const QString rangeKey = QStringLiteral("range");

    // The one instance, created on first use on the main thread.
    static AppNotifications *instance();

    // Delivers `name` synchronously to every observer, on the calling thread.
    static void post(const QString &name, const QVariantMap &userInfo = {});

Q_SIGNALS:
    void posted(const QString &name, const QVariantMap &userInfo);

private:
    AppNotifications() = default;
};
