#pragma once

#include "store/TextRange.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <optional>

// The app-wide command bus. Menu items, the command palette, buttons and the
// editor post named commands here with no sender; the views that own each
// action connect to its typed signal. Names are the wire names every
// component agrees on. The app's services own the one bus of the app and
// hand it to every view that posts or listens.
//
//   notifications->post(AppNotifications::toggleSidebar);
//   connect(notifications, &AppNotifications::toggleSidebarRequested, this, &ContentView::toggleSidebar);
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

    // User-info keys. "mode" of aiAssist holds refineMode or generateMode;
    // "range" of openMediaLibrary holds a TextRange (UTF-16) of the "![" typed.
    static inline const QString modeKey = QStringLiteral("mode");
    static inline const QString rangeKey = QStringLiteral("range");
    static inline const QString refineMode = QStringLiteral("refine");
    static inline const QString generateMode = QStringLiteral("generate");

    explicit AppNotifications(QObject *parent = nullptr) : QObject(parent) {}

    // Delivers `name` synchronously, on the calling thread: first `posted`,
    // then the command's own signal (none for a name not listed above).
    void post(const QString &name, const QVariantMap &userInfo = {});

Q_SIGNALS:
    // Every command, by name, with its user info.
    void posted(const QString &name, const QVariantMap &userInfo);

    void publishDocumentRequested();
    void deleteDocumentRequested();
    void newCollectionRequested();
    void toggleSidebarRequested();
    void toggleCommandPaletteRequested();
    // `range`: where "![" was typed, when the editor asked.
    void openMediaLibraryRequested(std::optional<TextRange> range);
    // `mode`: refineMode, generateMode, or anything else for the editor to
    // choose.
    void aiAssistRequested(const QString &mode);
};
