#include "KeyboardShortcuts/core/Registry.h"
#include "app/core/AppSettings.h"
#include "editor/PreviewWebView.h"
#include "service/core/APIClient.h"
#include "service/core/AuthManager.h"
#include "service/core/SyncEngine.h"
#include "shell/AccountSettings.h"
#include "shell/AppDelegate.h"
#include "shell/DocumentDetailView.h"
#include "shell/GeneralSettings.h"
#include "shell/MainWindow.h"
#include "shell/SettingsWindow.h"
#include "shell/UpdateSettings.h"
#include "shell/core/DetailViewMode.h"
#include "shell/core/UpdaterController.h"
#include "store/DocumentStore.h"

#include "TestHooks.h"
#include "service/FakeKeyring.h"
#include "shell/OfflineServices.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <xcb/xcb.h>

using namespace Qt::StringLiterals;
using namespace tessivo::server;

namespace {

class FakeUpdater final : public UpdaterBackend
{
public:
    void start() override {}
    void checkForUpdates() override { ++checks; }
    void observeCanCheckForUpdates(std::function<void(bool)> handler) override
    {
        report = std::move(handler);
    }
    bool automaticallyChecksForUpdates() const override { return automatic; }
    void setAutomaticallyChecksForUpdates(bool on) override { automatic = on; }

    std::function<void(bool)> report;
    bool automatic = true;
    int checks = 0;
};

// Stands in for the desktop's browser: follows the service's sign-in page
// through its redirects and hands the final "tessivo:" URL to the app.
void followSignIn(QNetworkAccessManager *browser, const QUrl &url, AuthManager *auth)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply *reply = browser->get(request);
    QObject::connect(reply, &QNetworkReply::finished, browser, [=] {
        reply->deleteLater();
        const QUrl next = url.resolved(QUrl::fromEncoded(reply->rawHeader("location")));
        if (next.scheme() == u"tessivo")
            auth->handleCallbackURL(next);
        else if (!next.isEmpty())
            followSignIn(browser, next, auth);
    });
}

struct LayoutRequests final : QObject
{
    int count = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        count += event->type() == QEvent::LayoutRequest;
        return false;
    }
};

int meRequests(TestHooks hooks)
{
    int count = 0;
    for (const LoggedRequest &request : hooks.requestLog())
        count += request.path == u"/api/v1/me";
    return count;
}

// The stacking order of the top-level windows, bottom first: the window
// manager's list when one runs (it frames the windows), else the X server's.
QList<WId> stackingOrder()
{
    QList<WId> order;
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const QByteArray name = "_NET_CLIENT_LIST_STACKING";
    xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, uint16_t(name.size()), name.constData()), nullptr);
    if (atom && atom->atom != XCB_ATOM_NONE) {
        if (xcb_get_property_reply_t *list = xcb_get_property_reply(
                connection, xcb_get_property(connection, 0, root, atom->atom, XCB_ATOM_WINDOW, 0, 4096),
                nullptr)) {
            const auto *windows = static_cast<const xcb_window_t *>(xcb_get_property_value(list));
            for (int i = 0; i < xcb_get_property_value_length(list) / 4; ++i)
                order.append(windows[i]);
            free(list);
        }
    }
    free(atom);
    if (order.isEmpty()) {
        if (xcb_query_tree_reply_t *tree =
                xcb_query_tree_reply(connection, xcb_query_tree(connection, root), nullptr)) {
            const xcb_window_t *children = xcb_query_tree_children(tree);
            for (int i = 0; i < xcb_query_tree_children_length(tree); ++i)
                order.append(children[i]);
            free(tree);
        }
    }
    xcb_disconnect(connection);
    return order;
}

// True when `upper` lies above `lower` in that order.
bool stackedAbove(const QWidget &upper, const QWidget &lower)
{
    const QList<WId> order = stackingOrder();
    return order.contains(lower.winId()) && order.indexOf(upper.winId()) > order.indexOf(lower.winId());
}

} // namespace

class TestSettingsWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<Server> m_server;
    Account m_ada;
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<DocumentStore> m_store;
    std::unique_ptr<APIClient> m_client;
    std::unique_ptr<FakeKeyring> m_keyring;
    std::unique_ptr<AuthManager> m_auth;
    std::unique_ptr<SyncEngine> m_sync;
    std::unique_ptr<UpdaterController> m_updater;
    std::unique_ptr<ViewModeSetting> m_viewMode;
    std::unique_ptr<SettingsWindow> m_window;
    QNetworkAccessManager m_browser;

    TestHooks hooks() { return m_server->hooks(); }

    // The tabs on this test's session; the view mode is `viewMode` when
    // given.
    SettingsWindow::Dependencies dependencies(ViewModeSetting *viewMode = nullptr)
    {
        return {m_auth.get(), m_sync.get(), m_updater.get(), viewMode ? viewMode : m_viewMode.get()};
    }

    SettingsWindow *window(SettingsWindow::Tab tab, ViewModeSetting *viewMode = nullptr)
    {
        m_window = std::make_unique<SettingsWindow>(dependencies(viewMode));
        m_window->setCurrentTab(tab);
        m_window->show();
        return QTest::qWaitForWindowExposed(m_window.get(), TestWaits::limitMs) ? m_window.get() : nullptr;
    }

    // A session manager on the service, signed in with `token` when given,
    // once its keyring (which answers `answers`) has.
    void makeAuth(const QString &token = {}, FakeKeyring::Answers answers = FakeKeyring::Answers::nextTurn)
    {
        m_sync.reset();
        m_auth.reset();
        m_keyring = std::make_unique<FakeKeyring>();
        m_keyring->answers = answers;
        if (!token.isEmpty())
            m_keyring->put(token);
        // A new keyring: what the settings noted of the last one's tokens (an
        // earlier test's sign-in) goes with it.
        m_settings->remove(u"session"_s);
        AuthManager::Dependencies dependencies;
        dependencies.client = m_client.get();
        dependencies.keychain = Keychain(m_keyring->backend());
        dependencies.store = m_store.get();
        dependencies.settings = m_settings.get();
        m_auth = std::make_unique<AuthManager>(std::move(dependencies));
        m_auth->setPlatform(
            {[this](const QUrl &url) { return followSignIn(&m_browser, url, m_auth.get()), true; }, [] {}});
        m_sync = std::make_unique<SyncEngine>(
            SyncEngine::Dependencies{m_store.get(), m_auth.get(), m_client.get(), nullptr, {}});
        if (answers != FakeKeyring::Answers::held)
            QVERIFY(QTest::qWaitFor([this] { return !m_auth->isReading(); }, TestWaits::limitMs));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(u"TessivoTests"_s);
        QCoreApplication::setApplicationName(u"tst_settingswindow"_s);
        QSettings().clear();
        PreviewWebView::setResourceFolder(QStringLiteral(TESSIVO_BUILD_DIR "/Tessivo/Preview"));

        ServerOptions options;
        options.listen = {{QHostAddress::LocalHost, 0}};
        options.database = u"sqlite::memory:"_s;
        m_server = std::make_unique<Server>(options);
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
        m_ada = hooks().registerUser(u"ada@example.com"_s, u"Ada Lovelace"_s);

        m_settings = std::make_unique<QSettings>(m_dir.filePath(u"settings.ini"_s), QSettings::IniFormat);
        m_store = std::make_unique<DocumentStore>(m_dir.filePath(u"store"_s), m_settings.get());
        m_updater = std::make_unique<UpdaterController>(QVariant());
        m_viewMode = std::make_unique<ViewModeSetting>();
    }

    void init()
    {
        m_client = std::make_unique<APIClient>(m_server->baseUrl());
        makeAuth();
        hooks().clearRequestLog();
    }

    void cleanup()
    {
        m_window.reset();
        hooks().setLatency(u"/api/v1/me"_s, 0);
        QTRY_VERIFY(!m_auth->isSigningIn()); // no reply left in flight
        m_sync.reset();
        m_auth.reset();
        m_client.reset();
    }

    // Until the keyring answers, the tab offers neither sign-in nor an
    // account: which one applies is not known yet.
    void nothingToOfferWhileTheKeyringReads_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::newRow("signed out") << QString();
        QTest::newRow("signed in") << u"token"_s;
    }

    void nothingToOfferWhileTheKeyringReads()
    {
        QFETCH(QString, stored);
        makeAuth(stored, FakeKeyring::Answers::held);
        SettingsWindow *settings = window(SettingsWindow::Tab::account);
        QVERIFY(settings);
        AccountSettings *tab = settings->account();
        QVERIFY(!tab->providerButtons().first()->isVisible() && !tab->syncButton()->isVisible());
        m_keyring->release();
        QCOMPARE(tab->providerButtons().first()->isVisible(), stored.isEmpty());
        QCOMPARE(tab->syncButton()->isVisible(), !stored.isEmpty());
    }

    // The picker, the main window's detail pane and the menu share one
    // "viewMode": a choice in any of them shows in the others at once.
    void viewModeFollowsTheMainWindow()
    {
        const std::unique_ptr<AppServices> services = offlineServices(m_store.get());
        MainWindow main(*services);
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main, TestWaits::limitMs));
        QTRY_VERIFY(m_store->isLoaded());
        QTRY_VERIFY(main.findChild<DocumentDetailView *>());
        DocumentDetailView *detail = main.findChild<DocumentDetailView *>();
        SettingsWindow *settings = window(SettingsWindow::Tab::general, services->viewMode());
        QVERIFY(settings);
        QComboBox *picker = settings->general()->viewModePicker();
        QCOMPARE(picker->currentText(), u"Split"_s); // nothing stored yet

        picker->setCurrentIndex(picker->findText(u"Editor"_s));
        Q_EMIT picker->activated(picker->currentIndex());
        QCOMPARE(QSettings().value(AppSettings::viewModeKey).toString(), u"editor"_s);
        QVERIFY(!detail->preview()->isVisibleTo(detail));

        QTest::mouseClick(detail->findChild<QAbstractButton *>(u"preview"_s), Qt::LeftButton);
        QCOMPARE(picker->currentText(), u"Preview"_s);

        services->viewMode()->setMode(ViewMode::split); // what the menu's "Split" does
        QCOMPARE(picker->currentText(), u"Split"_s);
        m_window.reset(); // before the services it works on
    }

    // A sign-in through the browser turns the tab to its signed-in face
    // with the token, showing "—" until the account record arrives.
    void signInShowsTheAccount()
    {
        SettingsWindow *settings = window(SettingsWindow::Tab::account);
        QVERIFY(settings);
        AccountSettings *tab = settings->account();

        hooks().setNextSignInOutcome(SignInOutcome::SignIn, m_ada.userId);
        hooks().holdRequests("GET", u"/api/v1/me"_s, 1);
        QTest::mouseClick(tab->providerButtons().first(), Qt::LeftButton);
        QVERIFY(tab->cancelButton()->isVisible()); // the browser has the page
        QVERIFY(!tab->providerButtons().first()->isEnabled() && !tab->providerButtons().last()->isEnabled());

        QTRY_VERIFY(m_auth->token().has_value());
        QVERIFY(tab->syncButton()->isVisible() && !tab->providerButtons().first()->isVisible());
        QCOMPARE(tab->nameLabel()->text() + tab->emailLabel()->text(), u"\u2014\u2014"_s);
        QVERIFY(QTest::qWaitFor([this] { return hooks().releaseHeldRequest(); }, TestWaits::limitMs));

        QTRY_COMPARE(tab->nameLabel()->text() + u' ' + tab->emailLabel()->text(),
                     u"Ada Lovelace ada@example.com"_s);
        QVERIFY(!tab->errorLabel()->isVisible());
        QCOMPARE(meRequests(hooks()), 1); // the sign-in's; none from showing the tab signed out
    }

    // The browser's callback brings the main window forward; when the
    // sign-in then fails, the settings window that shows why comes back
    // over it.
    void aFailedSignInShowsItsMessageInFront()
    {
        const std::unique_ptr<AppServices> services = offlineServices(m_store.get());
        MainWindow main(*services);
        AppDelegate delegate(m_store.get());
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main, TestWaits::limitMs));
        m_auth->setPlatform(
            {[this](const QUrl &url) { return followSignIn(&m_browser, url, m_auth.get()), true; },
             [&delegate] { delegate.showMainWindow(); }});
        SettingsWindow *settings = window(SettingsWindow::Tab::account);
        QVERIFY(settings);
        settings->present();
        QVERIFY(QTest::qWaitForWindowActive(settings, TestWaits::limitMs));

        hooks().setNextSignInOutcome(SignInOutcome::SignIn, m_ada.userId);
        hooks().forceReply("POST", u"/api/auth/one-time-token/verify"_s, 1, ScriptedReply{200, "{}", {}});
        QTest::mouseClick(settings->account()->providerButtons().first(), Qt::LeftButton);
        QTRY_VERIFY(!m_auth->isSigningIn());
        QCOMPARE(settings->account()->errorLabel()->text(),
                 u"Sign-in completed but no session token arrived. Try again."_s);
        QVERIFY(settings->account()->errorLabel()->isVisible());
        QTRY_VERIFY(QApplication::activeWindow() == settings);
        QVERIFY(stackedAbove(*settings, main));
        m_window.reset(); // before the services it works on
    }

    // The browser hands a declined sign-in back as a link, which brings the
    // main window forward: the settings window comes forward over it with
    // the message, whether it lay behind the main window or was closed.
    void aDeclinedSignInLinkShowsItsMessageInFront_data()
    {
        QTest::addColumn<bool>("closed");
        QTest::newRow("settings behind the main window") << false;
        QTest::newRow("settings closed") << true;
    }

    void aDeclinedSignInLinkShowsItsMessageInFront()
    {
        QFETCH(bool, closed);
        const std::unique_ptr<AppServices> services = offlineServices(m_store.get());
        MainWindow main(*services);
        AppDelegate delegate(m_store.get());
        connect(&delegate, &AppDelegate::urlOpened, m_auth.get(),
                [this](const QString &url) { m_auth->handleCallbackURL(QUrl(url)); });
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main, TestWaits::limitMs));
        // The browser opens and the user declines there.
        m_auth->setPlatform({[](const QUrl &) { return true; }, [&delegate] { delegate.showMainWindow(); }});
        SettingsWindow *settings = window(SettingsWindow::Tab::account);
        QVERIFY(settings);
        QTest::mouseClick(settings->account()->providerButtons().first(), Qt::LeftButton);
        QVERIFY(m_auth->isSigningIn());
        if (closed)
            settings->close();
        settings->setCurrentTab(SettingsWindow::Tab::general);
        main.raise();
        main.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&main, TestWaits::limitMs));

        delegate.handleLaunch({u"tessivo://auth?error=access_denied"_s});
        QVERIFY(!m_auth->isSigningIn());
        QCOMPARE(settings->currentTab(), SettingsWindow::Tab::account);
        QCOMPARE(settings->account()->errorLabel()->text(), u"Sign-in was declined by the provider."_s);
        QVERIFY(settings->account()->errorLabel()->isVisible());
        QTRY_VERIFY(QApplication::activeWindow() == settings);
        QVERIFY(stackedAbove(*settings, main));
        m_window.reset(); // before the services it works on
    }

    // Each time the tab comes on screen while signed in, exactly one account
    // request goes out, and it runs to its end even when the tab leaves the
    // screen before the slow reply comes: no error, and the record arrives.
    void showingTheTabRefreshesOnce()
    {
        makeAuth(m_ada.sessionToken);
        hooks().holdRequests("GET", u"/api/v1/me"_s, 1);
        SettingsWindow *settings = window(SettingsWindow::Tab::account);
        QVERIFY(settings);
        settings->setCurrentTab(SettingsWindow::Tab::general);
        settings->close();
        QVERIFY(QTest::qWaitFor([this] { return hooks().releaseHeldRequest(); }, TestWaits::limitMs));
        QTRY_VERIFY(m_auth->user().has_value());
        QCOMPARE(meRequests(hooks()), 1);
        QVERIFY(!m_auth->lastError().has_value());

        settings->show();
        settings->setCurrentTab(SettingsWindow::Tab::account);
        QTRY_COMPARE(meRequests(hooks()), 2);
    }

    // The window opens centred over the main window, moved only as far as
    // needed to stay wholly on the screen.
    void placement_data()
    {
        QTest::addColumn<QPoint>("anchorOffset"); // from the screen's centre
        QTest::newRow("anchor in the middle") << QPoint(0, 0);
        QTest::newRow("anchor hanging off the bottom right") << QPoint(2000, 2000);
        QTest::newRow("anchor hanging off the top left") << QPoint(-2000, -2000);
    }

    void placement()
    {
        QFETCH(QPoint, anchorOffset);
        SettingsWindow settings(dependencies());
        const QRect area = settings.screen()->availableGeometry();
        QWidget anchor;
        anchor.setGeometry(QRect(area.center() - QPoint(450, 300) + anchorOffset, QSize(900, 600)));
        settings.placeOver(&anchor);
        const QRect placed = settings.frameGeometry();
        QVERIFY2(area.contains(placed), qPrintable(u"%1,%2"_s.arg(placed.x()).arg(placed.y())));
        if (anchorOffset.isNull())
            QVERIFY((placed.center() - anchor.frameGeometry().center()).manhattanLength() <= 2);
    }

    // With a larger font than the default (qt6ct's 12 points, say) the
    // General tab's labels show their whole text beside the recorders.
    void labelsShowWholeWithALargerFont()
    {
        const QFont before = QApplication::font();
        QFont larger = before;
        larger.setPointSize(12);
        QApplication::setFont(larger);
        const auto restore = qScopeGuard([&] { QApplication::setFont(before); });
        KeyboardShortcuts::Registry registry;
        SettingsWindow::Dependencies withShortcuts = dependencies();
        withShortcuts.shortcuts = &registry;
        SettingsWindow settings(withShortcuts);
        settings.setCurrentTab(SettingsWindow::Tab::general);
        settings.show();
        QVERIFY(QTest::qWaitForWindowExposed(&settings, TestWaits::limitMs));
        int rows = 0;
        for (const QLabel *label : settings.general()->findChildren<QLabel *>()) {
            if (!label->isVisible() || label->wordWrap() || label->text().isEmpty())
                continue;
            ++rows;
            const int needed = label->fontMetrics().horizontalAdvance(label->text());
            QVERIFY2(
                label->contentsRect().width() >= needed,
                qPrintable(
                    u"\"%1\": %2 < %3"_s.arg(label->text()).arg(label->contentsRect().width()).arg(needed)));
        }
        QVERIFY(rows >= 5); // the two headers and three row labels
        for (const QLineEdit *field : settings.general()->findChildren<QLineEdit *>())
            QCOMPARE(field->width(), field->sizeHint().width());
    }

    // A build without an update feed says so and disables both controls;
    // with one, the switch shows the framework's flag when the tab comes on
    // screen and the button follows whether a check can start.
    void updatesTab_data()
    {
        QTest::addColumn<QVariant>("signingKey");
        QTest::newRow("no update feed") << QVariant();
        QTest::newRow("update feed") << QVariant(u"key"_s);
    }

    void updatesTab()
    {
        QFETCH(QVariant, signingKey);
        FakeUpdater *backend = nullptr;
        m_updater = std::make_unique<UpdaterController>(signingKey, [&] {
            auto made = std::make_unique<FakeUpdater>();
            backend = made.get();
            return made;
        });
        SettingsWindow *settings = window(SettingsWindow::Tab::updates);
        QVERIFY(settings);
        UpdateSettings *tab = settings->updates();
        QCOMPARE(tab->footer()->text(),
                 backend ? u"Updates are delivered and verified with the app's signing key."_s
                         : u"Updates aren't configured for this build."_s);
        QCOMPARE(tab->automaticSwitch()->isEnabled(), backend != nullptr);
        QCOMPARE(tab->automaticSwitch()->isChecked(), backend != nullptr);
        QVERIFY(!tab->checkButton()->isEnabled());
        if (backend) {
            backend->report(true);
            QTRY_VERIFY(tab->checkButton()->isEnabled());
            tab->checkButton()->click();
            QCOMPARE(backend->checks, 1);
            tab->automaticSwitch()->click();
            QVERIFY(!backend->automatic);
        }
        // Fitting the window to its tab asks for no further layout, which
        // would keep the event loop busy for as long as the window lives.
        LayoutRequests requests;
        qApp->installEventFilter(&requests);
        for (int i = 0; i < 20; ++i) // a finite chain of layouts has run out by now
            QCoreApplication::sendPostedEvents();
        const int settled = requests.count;
        for (int i = 0; i < 5; ++i)
            QCoreApplication::sendPostedEvents();
        QCOMPARE(requests.count, settled);
        QTest::keyClick(settings, Qt::Key_Escape);
        QVERIFY(!settings->isVisible());
    }
};

QTEST_MAIN(TestSettingsWindow)
#include "tst_settingswindow.moc"
