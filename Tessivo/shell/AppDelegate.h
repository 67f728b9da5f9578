#pragma once

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QStringList>

#include <functional>

class AuthManager;
class DocumentStore;
class SyncEngine;
class QWidget;

namespace KeyboardShortcuts {
class Registry;
}

// The application's lifecycle: registers the two global shortcuts at launch,
// refreshes the session and syncs each time the app becomes active, brings
// the main window back when the app is launched again, keeps running when
// the last window closes, and writes every pending edit when it ends.
// Works on the store, session and sync engine it is given.
class AppDelegate final : public QObject
{
    Q_OBJECT

public:
    // `store` is not owned and must outlive the delegate. `makeMainWindow`
    // makes the main window when none exists (the window system's reopen);
    // without it, reopening only shows an existing window.
    // `auth` and `sync` (not owned) are checked and synced on activation;
    // without them activation does neither.
    explicit AppDelegate(DocumentStore *store, std::function<QWidget *()> makeMainWindow = {},
                         AuthManager *auth = nullptr, SyncEngine *sync = nullptr, QObject *parent = nullptr);

    // Registers the two global shortcuts with `shortcuts` (not owned; it
    // must outlive the delegate's use of it).
    void applicationDidFinishLaunching(KeyboardShortcuts::Registry *shortcuts);
    void applicationDidBecomeActive();
    // Returns true in every case; shows the main window when none is visible.
    bool applicationShouldHandleReopen(bool hasVisibleWindows);
    bool applicationShouldTerminateAfterLastWindowClosed() const { return false; }
    // Writes all pending documents, the collections and the state at once,
    // waits up to keyringGraceMs for the keyring's queued writes, and writes
    // what changed meanwhile. Called again during that wait, it writes and
    // returns without waiting.
    void applicationWillTerminate();
    static constexpr int keyringGraceMs = 1000;

    // Another launch handed over its arguments: a "tessivo:" URL is passed
    // on (the browser sign-in callback); the app reopens either way.
    void handleLaunch(const QStringList &arguments);

    void newDocumentAnywhere();
    void toggleWindow();
    // The first top-level window whose object name starts with "main"; else
    // the first visible-capable ordinary window (no dialogs, popups or tool
    // windows); else none.
    static QWidget *mainWindow();
    // Brings the main window forward, creating it when none exists.
    void showMainWindow();

Q_SIGNALS:
    // A "tessivo:" URL reached the app (browser sign-in callback).
    void urlOpened(const QString &url);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Shows `window`, brings it to the front and activates it.
    void raise(QWidget *window);

    DocumentStore *m_store;
    QPointer<AuthManager> m_auth;
    QPointer<SyncEngine> m_sync;
    std::function<QWidget *()> m_makeMainWindow;
    // The native windows exposed at least once since they were last shown.
    QSet<const QObject *> m_exposedSinceShown;
};
