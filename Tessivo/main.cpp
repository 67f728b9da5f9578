#include "KeyboardShortcuts/core/Registry.h"
#include "app/core/AllocatorPolicy.h"
#include "app/core/AppSettings.h"
#include "app/core/AppShortcuts.h"
#include "platform/SchemeHandler.h"
#include "platform/SingleInstance.h"
#include "platform/UnixSignalWatcher.h"
#include "service/core/APIClient.h"
#include "service/core/AuthManager.h"
#include "shell/AppDelegate.h"
#include "shell/AppServices.h"
#include "shell/ContentView.h"
#include "shell/MainWindow.h"
#include "shell/SettingsWindow.h"
#include "shell/core/TerminationSaves.h"
#include "store/DocumentStore.h"
#include "store/Persistence.h"
#include "widgets/Motion.h"

#include <QApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QIcon>
#include <QLoggingCategory>
#include <QPointer>
#include <QQuickWindow>
#include <QSessionManager>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <unistd.h>

// Start-up timing, off unless asked for ("tessivo.startup.info=true" in
// QT_LOGGING_RULES); the start-up benchmark reads it.
Q_LOGGING_CATEGORY(lcStartup, "tessivo.startup", QtWarningMsg)

int main(int argc, char *argv[])
{
    QElapsedTimer sinceLaunch;
    sinceLaunch.start();
    // Before any thread starts: the allocator's arenas are made as threads
    // first allocate.
    AllocatorPolicy::applyAtStart();
    // The web engine's sandbox cannot run as root and would abort the app;
    // the preview page runs no scripts from documents, so it can do without.
    if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
    // The preview's web view would otherwise make the whole window compose
    // through OpenGL: every small repaint, the caret's blink included, would
    // redraw the window (in software where there is no GPU). Drawn in
    // software, the web view is one more raster widget and a repaint covers
    // only what changed. Nothing then draws with OpenGL, so the context the
    // web engine would open at start-up (and the driver it loads, tens of
    // megabytes with Mesa) is not needed either. An explicit choice in the
    // environment wins.
    const bool softwareOnly = !qEnvironmentVariableIsSet("QT_QUICK_BACKEND") &&
                              !qEnvironmentVariableIsSet("QSG_RHI_BACKEND") &&
                              !qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION");
    QtMessageHandler previousHandler = nullptr;
    if (softwareOnly) {
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        qputenv("QT_XCB_GL_INTEGRATION", "none");
        // The web engine still asks for its context once; that it gets none
        // is the point, not a fault worth a line on the terminal.
        static QtMessageHandler previous = nullptr;
        previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext &context, const QString &text) {
                if (previous &&
                    !text.startsWith(QLatin1String("QXcbIntegration: Cannot create platform OpenGL context")))
                    previous(type, context, text);
            });
        previousHandler = previous;
    }
    QApplication::setOrganizationName(QStringLiteral("Tessivo"));
    QApplication::setApplicationName(QStringLiteral("Tessivo"));
    QApplication::setDesktopFileName(QStringLiteral("tessivo"));
    // Before anything opens the settings: a pipe or a huge file in their
    // place would hang or swell the start.
    AppSettings::setAsideUnusableFiles();
    QApplication app(argc, argv);
    // Programs the app starts (the browser, the mail client) choose their own.
    if (softwareOnly) {
        qunsetenv("QT_XCB_GL_INTEGRATION");
        qInstallMessageHandler(previousHandler);
    }

    // A second launch hands its arguments to the running app and ends; one
    // that the running app doesn't answer ends too, leaving it its socket.
    SingleInstance instance;
    const QStringList arguments = QApplication::arguments().mid(1);
    switch (instance.handOver(arguments)) {
    case SingleInstance::Launch::handedOver:
        return 0;
    case SingleInstance::Launch::notAnswering:
        fprintf(stderr, "%s\n", qPrintable(SingleInstance::notAnsweringMessage()));
        return 1;
    case SingleInstance::Launch::first:
        break;
    }
    // The desktop's wish for less motion, read now (it asks gsettings)
    // rather than when the first animation starts.
    Motion::reduced();
    // The store exists (empty) before any window, on the user's data folder
    // and the default settings; the main window loads it.
    DocumentStore documents;
    DocumentStore *store = &documents;
    store->setWelcomeTips(AppShortcuts::welcomeTips());
    // Every service is made here, before anything can reach this process:
    // the session's keyring read is under way first, answers later, and
    // nothing waits for it.
    AppServices services(store, {APIClient::baseURLFromBuild()});
    instance.listen();

    QApplication::setWindowIcon(QIcon(QStringLiteral(":/app/tessivo.svg")));
    KeyboardShortcuts::Registry shortcuts;
    const SettingsWindow::Dependencies settings{services.auth(), services.sync(), services.updater(),
                                                services.viewMode(), &shortcuts};
    // The one settings window, made when first asked for.
    std::unique_ptr<SettingsWindow> settingsWindow;
    const auto openSettings = [&](std::optional<SettingsWindow::Tab> tab) {
        if (!settingsWindow) {
            settingsWindow = std::make_unique<SettingsWindow>(settings);
            QObject::connect(settingsWindow.get(), &SettingsWindow::quitRequested, &app, &QApplication::quit);
        }
        settingsWindow->present(tab);
    };
    QPointer<MainWindow> window;
    const auto makeMainWindow = [&]() -> QWidget * {
        window = new MainWindow(services);
        QObject::connect(window->contentView(), &ContentView::startupFinished, window, [&] {
            // After the next paint, the loaded content is on screen.
            QTimer::singleShot(0, window, [&] {
                qCInfo(lcStartup, "[shell] content shown %lld ms after launch", sinceLaunch.elapsed());
            });
        });
        QObject::connect(window, &MainWindow::quitRequested, &app, &QApplication::quit);
        QObject::connect(window, &MainWindow::settingsRequested, &app, [&] { openSettings(std::nullopt); });
        QObject::connect(window->contentView(), &ContentView::accountSettingsRequested, &app,
                         [&] { openSettings(SettingsWindow::Tab::account); });
        return window;
    };
    AppDelegate delegate(store, makeMainWindow, services.auth(), services.sync());
    QApplication::setQuitOnLastWindowClosed(delegate.applicationShouldTerminateAfterLastWindowClosed());

    QObject::connect(&instance, &SingleInstance::activated, &delegate, &AppDelegate::handleLaunch);

    // Browser sign-in: the service's page opens in the default browser, which
    // ends on a "tessivo:" URL that the desktop hands to a new launch of this
    // binary, and that launch to this process.
    SchemeHandler::registerBinary(QCoreApplication::applicationFilePath());
    AuthManager *auth = services.auth();
    auth->setPlatform({
        [](const QUrl &url) { return QDesktopServices::openUrl(url); },
        [&delegate] { delegate.showMainWindow(); },
    });
    QObject::connect(&delegate, &AppDelegate::urlOpened, auth,
                     [auth](const QString &url) { auth->handleCallbackURL(QUrl(url)); });
    QObject::connect(&app, &QGuiApplication::applicationStateChanged, &delegate,
                     [&](Qt::ApplicationState state) {
                         if (state == Qt::ApplicationActive)
                             delegate.applicationDidBecomeActive();
                     });

    // Every way the app can end writes the pending edits first: Quit, the
    // desktop session ending, and termination signals. A signal that finds
    // the main thread busy (a huge line being laid out) has the edited
    // documents written from the watcher thread after a short grace period.
    TerminationSaves lastResort(Persistence::baseDirectory(), [store] { store->waitForWrites(); });
    lastResort.follow(store, &app, QDateTime::currentMSecsSinceEpoch());
    const auto flush = [&] { lastResort.runFlush([&] { delegate.applicationWillTerminate(); }); };
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate, [&lastResort, flush] {
        lastResort.acknowledge();
        flush();
    });
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &delegate,
                     [flush](QSessionManager &) { flush(); });
    UnixSignalWatcher terminationSignals({SIGTERM, SIGINT, SIGHUP},
                                         [&lastResort](int) { lastResort.guard(std::chrono::seconds(2)); });
    QObject::connect(&terminationSignals, &UnixSignalWatcher::signalReceived, &app, [&lastResort] {
        // Keys typed just before the signal may still wait in the window
        // system's queue: they are edits too, and land before the flush.
        // Taking them may itself take long in a huge line, so the watcher
        // stands by until they are in.
        QGuiApplication::sync();
        lastResort.acknowledge();
        QCoreApplication::quit();
    });

    delegate.applicationDidFinishLaunching(&shortcuts);
    makeMainWindow()->show();
    delegate.handleLaunch(arguments.filter(QStringLiteral("tessivo:")));

    const int status = QApplication::exec();
    settingsWindow.reset();
    // Before the services: the preview's pages need their web profile.
    delete window;
    return status;
}
