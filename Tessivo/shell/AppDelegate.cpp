#include "shell/AppDelegate.h"

#include "KeyboardShortcuts/X11HotKeyBackend.h"
#include "KeyboardShortcuts/core/KeyboardShortcuts.h"
#include "app/core/GlobalShortcutNames.h"
#include "service/core/AuthManager.h"
#include "service/core/SyncEngine.h"
#include "store/DocumentStore.h"

#include <QApplication>
#include <QFutureWatcher>
#include <QPointer>
#include <QUrl>
#include <QWidget>
#include <QWindow>

AppDelegate::AppDelegate(DocumentStore *store, std::function<QWidget *()> makeMainWindow, AuthManager *auth,
                         SyncEngine *sync, QObject *parent)
    : QObject(parent), m_store(store), m_auth(auth), m_sync(sync), m_makeMainWindow(std::move(makeMainWindow))
{
    // Which windows have been on screen since they were last shown: see raise().
    if (qApp)
        qApp->installEventFilter(this);
}

bool AppDelegate::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Show) {
        m_exposedSinceShown.remove(watched);
    } else if (event->type() == QEvent::Expose) {
        if (const auto *handle = qobject_cast<QWindow *>(watched); handle && handle->isExposed())
            m_exposedSinceShown.insert(watched);
    }
    return QObject::eventFilter(watched, event);
}

void AppDelegate::raise(QWidget *window)
{
    // A window the window manager took off the screen (another workspace,
    // unmapped) still counts as visible here: show it afresh. One that has
    // not been on screen yet since it was shown is only waiting for the
    // window manager: hiding it then would withdraw it while its map request
    // is still pending (the manager may then never map it) and would save a
    // frame the manager has not framed yet.
    const QWindow *handle = window->windowHandle();
    if (window->isVisible() && handle && !handle->isExposed() && m_exposedSinceShown.contains(handle))
        window->hide();
    if (window->isMinimized())
        window->showNormal();
    else
        window->show();
    window->raise();
    window->activateWindow();
}

void AppDelegate::applicationDidFinishLaunching(KeyboardShortcuts::Registry *shortcuts)
{
    KeyboardShortcuts::installSystemHotKeys(shortcuts);
    // The shortcut registry may outlive the delegate.
    const QPointer<AppDelegate> self(this);
    shortcuts->onKeyUp(GlobalShortcutNames::newDocumentAnywhere(), [self] {
        if (self)
            self->newDocumentAnywhere();
    });
    shortcuts->onKeyUp(GlobalShortcutNames::toggleWindow(), [self] {
        if (self)
            self->toggleWindow();
    });
}

void AppDelegate::applicationDidBecomeActive()
{
    // Unforced refresh (skipped within its interval), then a sync; each
    // activation starts its own chain and earlier ones are left to run.
    if (!m_auth || !m_sync)
        return;
    QFuture<void> refresh = m_auth->refreshSession(false);
    if (refresh.isFinished()) {
        m_sync->sync();
        return;
    }
    auto *watcher = new QFutureWatcher<void>(qApp);
    connect(watcher, &QFutureWatcher<void>::finished, watcher, [watcher, sync = m_sync] {
        watcher->deleteLater();
        if (sync)
            sync->sync();
    });
    watcher->setFuture(refresh);
}

bool AppDelegate::applicationShouldHandleReopen(bool hasVisibleWindows)
{
    if (!hasVisibleWindows)
        showMainWindow();
    return true;
}

void AppDelegate::applicationWillTerminate()
{
    // The edits first: nothing below may keep them from the disk. The
    // keyring's writes are queued behind the Secret Service; a sign-out
    // holds without them (the session remembers it), but a healthy keyring
    // gets the moment to carry them out. A keyring stuck at its unlock
    // prompt holds the quit for keyringGraceMs at most. The wait runs the
    // event loop, so replies, timers and the desktop session's own save
    // request (which comes back here, and then does not wait again) may
    // still change the store: it is flushed once more afterwards.
    m_store->flushPendingSaves();
    // Called again during the wait, it leaves the telling to the wait.
    if (m_auth && m_auth->waitForKeyringWrites(keyringGraceMs) == Session::KeyringWait::timedOut)
        qInfo("[auth] the keyring didn't finish its writes before quitting");
    m_store->flushPendingSaves();
}

void AppDelegate::handleLaunch(const QStringList &arguments)
{
    // Launching the app again (from the menu, a launcher or a "tessivo:" link)
    // is how the user asks for its window, so it comes forward even when it
    // is already visible behind other windows. First: what a link then
    // brings forward (a failed sign-in's message) stays in front of it.
    QWidget *window = mainWindow();
    const bool visible = window && window->isVisible() && !window->isMinimized();
    applicationShouldHandleReopen(visible);
    if (visible)
        raise(window);
    for (const QString &argument : arguments) {
        const QUrl url(argument);
        if (url.scheme() == QLatin1String("tessivo"))
            Q_EMIT urlOpened(argument);
    }
}

void AppDelegate::newDocumentAnywhere()
{
    showMainWindow();
    m_store->createDocument(std::nullopt, QString());
}

void AppDelegate::toggleWindow()
{
    QWidget *window = mainWindow();
    if (QGuiApplication::applicationState() == Qt::ApplicationActive && window && window->isActiveWindow()) {
        // Hiding the application: every window goes away, the app keeps running.
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->isVisible() && w->isWindow())
                w->hide();
        return;
    }
    showMainWindow();
}

QWidget *AppDelegate::mainWindow()
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *w : windows)
        if (w->isWindow() && w->objectName().startsWith(QLatin1String("main")))
            return w;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        const Qt::WindowType type = w->windowType();
        if (w->isWindow() && (type == Qt::Window) && !w->testAttribute(Qt::WA_DontShowOnScreen))
            return w;
    }
    return nullptr;
}

void AppDelegate::showMainWindow()
{
    QWidget *window = mainWindow();
    if (!window && m_makeMainWindow)
        window = m_makeMainWindow();
    if (window)
        raise(window);
}
