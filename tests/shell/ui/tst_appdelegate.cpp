#include "KeyboardShortcuts/core/KeyboardShortcuts.h"
#include "TestNeeds.h"
#include "app/core/GlobalShortcutNames.h"
#include "service/FakeKeyring.h"
#include "service/core/APIClient.h"
#include "service/core/AuthManager.h"
#include "shell/AppDelegate.h"
#include "shell/core/TerminationSaves.h"
#include "store/DocumentStore.h"
#include "store/ManualSaveClock.h"
#include "store/Persistence.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

// What the app logs while a test listens, then passed on as usual.
QStringList *logged = nullptr;
QtMessageHandler passOn = nullptr;

void keepMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (logged)
        logged->append(message);
    passOn(type, context, message);
}

} // namespace

class TestAppDelegate : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<DocumentStore> m_store;

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("TessivoTests"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_appdelegate"));
        QSettings().clear();
        m_store = std::make_unique<DocumentStore>(m_dir.filePath(QStringLiteral("store")), nullptr);
        m_store->load();
        QTRY_VERIFY(m_store->isLoaded());
    }

    void cleanup()
    {
        for (QWidget *w : QApplication::topLevelWidgets())
            delete w;
    }

    void mainWindowRule()
    {
        QVERIFY(!AppDelegate::mainWindow());

        // Without a "main" window: panels and dialogs are skipped, the first
        // ordinary window is taken.
        auto *panel = new QWidget(nullptr, Qt::Tool);
        auto *dialog = new QDialog;
        auto *ordinary = new QWidget;
        QCOMPARE(AppDelegate::mainWindow(), ordinary);
        Q_UNUSED(panel);
        Q_UNUSED(dialog);

        auto *main = new QWidget;
        main->setObjectName(QStringLiteral("main-1"));
        QCOMPARE(AppDelegate::mainWindow(), main);
    }

    void reopenShowsTheWindowOnlyWhenNoneIsVisible()
    {
        int made = 0;
        AppDelegate delegate(m_store.get(), [&made] {
            ++made;
            auto *w = new QWidget;
            w->setObjectName(QStringLiteral("main"));
            return w;
        });
        QVERIFY(delegate.applicationShouldHandleReopen(false));
        QCOMPARE(made, 1); // none existed: the window system makes one
        QWidget *window = AppDelegate::mainWindow();
        QVERIFY(window);
        QTRY_VERIFY(window->isVisible());

        window->close(); // closing the last window hides it; the app keeps it
        QVERIFY(!window->isVisible());
        QVERIFY(!delegate.applicationShouldTerminateAfterLastWindowClosed());
        QVERIFY(delegate.applicationShouldHandleReopen(false));
        QCOMPARE(made, 1); // the same window comes back
        QVERIFY(window->isVisible());

        QVERIFY(delegate.applicationShouldHandleReopen(true)); // nothing changes
        QCOMPARE(made, 1);
    }

    void launchRegistersBothGlobalShortcuts()
    {
        KeyboardShortcuts::Registry shortcuts;
        AppDelegate delegate(m_store.get());
        delegate.applicationDidFinishLaunching(&shortcuts);
        // Defaults stored at first use: Control+Option+N and Control+Option+M.
        QCOMPARE(QSettings().value(QStringLiteral("KeyboardShortcuts_newDocumentAnywhere")).toString(),
                 QStringLiteral("{\"carbonKeyCode\":45,\"carbonModifiers\":6144}"));
        QCOMPARE(QSettings().value(QStringLiteral("KeyboardShortcuts_toggleWindow")).toString(),
                 QStringLiteral("{\"carbonKeyCode\":46,\"carbonModifiers\":6144}"));

        // A new document anywhere: unfiled, empty and open in the one window.
        auto *window = new QWidget;
        window->setObjectName(QStringLiteral("main"));
        DocumentStore *store = m_store.get();
        store->createDocument(store->createCollection(QStringLiteral("Filed"))->id, QStringLiteral("older"));
        const qsizetype before = store->documents().size();
        shortcuts.handleHotKey(*shortcuts.shortcut(GlobalShortcutNames::newDocumentAnywhere()),
                               KeyboardShortcuts::EventType::keyUp);
        QCOMPARE(store->documents().size(), before + 1);
        QCOMPARE(store->documents().first().body, QString());
        QCOMPARE(store->documents().first().collectionId, std::nullopt);
        QCOMPARE(store->activeDocumentID(), store->documents().first().id);
        QVERIFY(window->isVisible());
        QCOMPARE(QApplication::topLevelWidgets().size(), 1);

        // Toggle: with the app active and the main window key, it hides.
        QApplication::setActiveWindow(window);
        if (QGuiApplication::applicationState() == Qt::ApplicationActive && window->isActiveWindow()) {
            shortcuts.handleHotKey(*shortcuts.shortcut(GlobalShortcutNames::toggleWindow()),
                                   KeyboardShortcuts::EventType::keyUp);
            QVERIFY(!window->isVisible());
        }
        // Otherwise it brings the window forward.
        window->hide();
        shortcuts.handleHotKey(*shortcuts.shortcut(GlobalShortcutNames::toggleWindow()),
                               KeyboardShortcuts::EventType::keyUp);
        QVERIFY(window->isVisible());
    }

    void terminationWritesPendingEdits()
    {
        DocumentStore *store = m_store.get();
        const Document document = store->createDocument(std::nullopt, QStringLiteral("first"));
        store->updateBody(QStringLiteral("typed just before quitting"), document.id);
        QVERIFY(store->pendingSaveIDs().contains(document.id));
        AppDelegate(store).applicationWillTerminate();
        QVERIFY(store->pendingSaveIDs().isEmpty());
        QFile file(QDir(m_dir.filePath(QStringLiteral("store")))
                       .filePath(QStringLiteral("documents/%1.json").arg(document.id)));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("typed just before quitting"));
    }

    // Quit waits for a keyring that never answers; the desktop session's
    // save request (logging out right after Ctrl+Q) comes during that wait.
    // The edits are on disk before the wait, the request writes what was
    // typed since at once, and the wait ends when its second has passed.
    // Only that wait says the keyring didn't finish: the request's call
    // returned without waiting.
    void aSaveRequestDuringTheQuitsKeyringWait()
    {
        QStringList messages;
        logged = &messages;
        passOn = qInstallMessageHandler(keepMessage);
        const auto stopListening = qScopeGuard([] {
            qInstallMessageHandler(passOn);
            logged = nullptr;
        });
        DocumentStore *store = m_store.get();
        const QString base = m_dir.filePath(QStringLiteral("store"));
        const Document document = store->createDocument(std::nullopt, QStringLiteral("first"));
        store->updateBody(QStringLiteral("typed before Quit"), document.id);
        const auto onDisk = [&] {
            for (const Document &d : Persistence::loadDocuments(base))
                if (d.id == document.id)
                    return d.body;
            return QString();
        };
        QSettings settings(m_dir.filePath(QStringLiteral("stuck.ini")), QSettings::IniFormat);
        APIClient client(QUrl(QStringLiteral("http://127.0.0.1:9")));
        FakeKeyring keyring;
        keyring.answers = FakeKeyring::Answers::never;
        ManualSaveClock clock;
        AuthManager auth({&client, Keychain(keyring.backend()), store, &settings, {}, &clock});
        auth.session()->begin(QStringLiteral("token-before-quit"));
        AppDelegate delegate(store, {}, &auth);
        TerminationSaves saves(base, [store] { store->waitForWrites(); });
        const auto flush = [&] { saves.runFlush([&] { delegate.applicationWillTerminate(); }); };

        QStringList seen;
        // Gone before `seen` is: a step still queued when the test ends is dropped.
        QObject steps;
        QTimer::singleShot(0, &steps, [&] {
            seen << onDisk();
            store->updateBody(QStringLiteral("typed during the wait"), document.id);
            flush(); // the session's save request
            seen << onDisk();
            clock.advance(AppDelegate::keyringGraceMs - 1);
            QTimer::singleShot(0, &steps, [&] {
                seen << QStringLiteral("still waiting");
                clock.advance(1);
                QTimer::singleShot(0, &steps, [&] { seen << QStringLiteral("waited past the bound"); });
            });
        });
        flush(); // Quit
        QCOMPARE(seen,
                 (QStringList{QStringLiteral("typed before Quit"), QStringLiteral("typed during the wait"),
                              QStringLiteral("still waiting")}));
        QVERIFY(store->pendingSaveIDs().isEmpty());
        QCOMPARE(messages.filter(QStringLiteral("the keyring didn't finish")).size(), 1);
    }

    // A sign-out just before Quit holds: when the delegate's termination
    // returns, the keyring's delete has ended. Another process looks at the
    // real Secret Service while this one's event loop stands still, as
    // after exit.
    void aSignOutJustBeforeQuitHolds()
    {
        TESSIVO_NEED(TestNeeds::unlockedKeyring());
        const auto storedTokens = [] {
            QProcess gdbus;
            gdbus.start(QStringLiteral("gdbus"),
                        {"call", "--session", "--dest", "org.freedesktop.secrets", "--object-path",
                         "/org/freedesktop/secrets", "--method", "org.freedesktop.Secret.Service.SearchItems",
                         "{'user': 'session-token', 'server': 'com.tessivo.mac'}"});
            if (!gdbus.waitForFinished(TestWaits::limitMs) || gdbus.exitCode() != 0)
                return -1;
            return int(gdbus.readAllStandardOutput().count("objectpath"));
        };
        QSettings settings(m_dir.filePath(QStringLiteral("auth.ini")), QSettings::IniFormat);
        APIClient client(QUrl(QStringLiteral("http://127.0.0.1:9")));
        AuthManager auth({&client, Keychain(Keychain::secretService()), m_store.get(), &settings, {}});
        QTRY_VERIFY(!auth.isReading());
        auth.session()->begin(QStringLiteral("token-before-quit"));
        QTRY_COMPARE_WITH_TIMEOUT(storedTokens(), 1, TestWaits::limitMs);
        auth.signOut(true);
        AppDelegate(m_store.get(), {}, &auth).applicationWillTerminate();
        QCOMPARE(storedTokens(), 0);
    }

    void launchArgumentsPassTheSignInCallback()
    {
        AppDelegate delegate(m_store.get());
        auto *window = new QWidget;
        window->setObjectName(QStringLiteral("main"));
        QSignalSpy urls(&delegate, &AppDelegate::urlOpened);
        delegate.handleLaunch({QStringLiteral("--verbose"), QStringLiteral("tessivo://auth/callback?ott=x")});
        QCOMPARE(urls.size(), 1);
        QCOMPARE(urls[0][0].toString(), QStringLiteral("tessivo://auth/callback?ott=x"));
        QVERIFY(window->isVisible()); // a launch always brings the window
    }
};

QTEST_MAIN(TestAppDelegate)
#include "tst_appdelegate.moc"
