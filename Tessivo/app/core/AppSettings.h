#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QSettings;

// The app's own settings: every key it stores, each read and written through
// a typed accessor here. Two components below the app keep their own keys:
// the store mirrors the open document under "activeDocumentID", and
// KeyboardShortcuts stores each global shortcut under "KeyboardShortcuts_<name>".
//
// Backed by the QSettings handed in (not owned; must outlive this object),
// or by the application's default settings, owned by this object.
class AppSettings final
{
public:
    static inline const QString sidebarVisibleKey = QStringLiteral("sidebarVisible");
    static inline const QString viewModeKey = QStringLiteral("viewMode");
    static inline const QString collapsedCollectionsKey = QStringLiteral("sidebarCollapsedCollections");
    static inline const QString dialogFolderKey = QStringLiteral("lastDialogFolder");
    static inline const QString mainWindowGeometryKey = QStringLiteral("mainWindowGeometry");

    // QSettings opens and reads its files as it finds them: a pipe there
    // would block the app for good, and a huge file (or a link to one)
    // would be read whole. So, called before the first QSettings is made,
    // each settings file of the app in `configFolder` (the user's config
    // folder when empty) that is no regular file or is larger than
    // FileBounds::settings is moved aside, next to it, to
    // "<name>.unreadable" (or ".unreadable.<n>", never over another), and
    // the app starts from default settings. Returns the files moved.
    static QStringList setAsideUnusableFiles(const QString &configFolder = {});

    explicit AppSettings(QSettings *settings = nullptr);
    ~AppSettings();
    AppSettings(const AppSettings &) = delete;
    AppSettings &operator=(const AppSettings &) = delete;

    // The settings behind this object, to hand on to components that take them.
    QSettings *settings() const { return m_settings; }

    // Nothing when unset or not a boolean (the texts "true" and "false" count).
    std::optional<bool> sidebarVisible() const;
    void setSidebarVisible(bool visible);

    // The raw view mode; "split" when unset.
    QString viewMode() const;
    void setViewMode(const QString &raw);

    // The collapsed collections, encoded by CollapsedCollections.
    QString collapsedCollections() const;
    void setCollapsedCollections(const QString &encoded);

    // The main window's frame as QWidget::saveGeometry() gives it; empty
    // when unset or not bytes.
    QByteArray mainWindowGeometry() const;
    void setMainWindowGeometry(const QByteArray &geometry);

    // Where the open and save dialogs start: the folder last used while it
    // still exists, else the user's Documents folder (never the folder the
    // app happened to be started from).
    QString dialogFolder() const;
    // Remembers the folder of `chosenPath`, a file the user picked in one.
    void rememberDialogChoice(const QString &chosenPath);

private:
    std::unique_ptr<QSettings> m_own;
    QSettings *m_settings;
};
