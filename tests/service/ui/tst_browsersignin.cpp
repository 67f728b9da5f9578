// The real binary signs in through the browser: the sign-in page opens in
// the "browser" (a script that notes the URL), the test plays the browser
// through the service's redirects, and a second launch with the "tessivo:"
// callback hands it to the running app. With a keyring the session then
// survives a restart.
#include "TestNeeds.h"
#include "platform/SchemeHandler.h"
#include "service/core/Keychain.h"

#include "AtSpi.h"
#include "service/LocalServer.h"

#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace tessivo::server;

class TestBrowserSignIn : public QObject
{
    Q_OBJECT

    std::unique_ptr<Server> m_server;
    QTemporaryDir m_home;
    std::unique_ptr<QProcess> m_app;

    QString binary() const { return QStringLiteral(TESSIVO_BUILD_DIR "/Tessivo/tessivo"); }

    QProcess *run(QProcess *process, const QString &program, const QStringList &arguments = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *xdg : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
            env.remove(QString::fromLatin1(xdg));
        env.insert(u"HOME"_s, m_home.path());
        // A hand-over socket of its own: another test's app is no instance of this one.
        const QString runtime = m_home.filePath(u"run"_s);
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env.insert(u"XDG_RUNTIME_DIR"_s, runtime);
        env.insert(u"TESSIVO_TEST_SERVICE_URL"_s, m_server->baseUrl().toString());
        env.insert(u"BROWSER"_s, m_home.filePath(u"browser.sh"_s));
        env.insert(u"QT_LINUX_ACCESSIBILITY_ALWAYS_ON"_s, u"1"_s);
        process->setProcessEnvironment(env);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(program, arguments);
        return process;
    }

    QString xdotool(const QStringList &arguments)
    {
        QProcess p;
        run(&p, u"xdotool"_s, arguments)->waitForFinished(TestWaits::limitMs);
        return QString::fromUtf8(p.readAllStandardOutput()).section(u'\n', 0, 0).trimmed();
    }

    QString window(const QString &title)
    {
        QString id;
        const QString pid = QString::number(m_app->processId());
        (void)QTest::qWaitFor(
            [&] {
                return !(id = xdotool({"search", "--all", "--onlyvisible", "--pid", pid, "--name", title}))
                            .isEmpty();
            },
            TestWaits::limitMs);
        return id;
    }

    // Presses the control of that name and role once the app shows it.
    bool press(const atspi::Bus &a11y, const QString &name, const QString &role)
    {
        std::optional<atspi::Ref> found;
        (void)QTest::qWaitFor([&] { return (found = a11y.find(name, role)).has_value(); },
                              TestWaits::limitMs);
        return found && a11y.press(*found);
    }

    // The bearer token of the first request on `path` since the log was cleared.
    QByteArray bearerOn(const QString &path)
    {
        QByteArray bearer;
        (void)QTest::qWaitFor(
            [&] {
                for (const LoggedRequest &request : m_server->hooks().requestLog())
                    if (request.path == path && bearer.isEmpty())
                        bearer = request.header("authorization");
                return !bearer.isEmpty();
            },
            TestWaits::limitMs);
        return bearer;
    }

private Q_SLOTS:
    void initTestCase()
    {
        TESSIVO_NEED(TestNeeds::file(binary(), u"the tessivo binary"_s));
        TESSIVO_NEED(TestNeeds::program(u"xdotool"_s));
        m_server = startLocalServer();
        QFile browser(m_home.filePath(u"browser.sh"_s));
        QVERIFY(browser.open(QIODevice::WriteOnly));
        browser.write("#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"$HOME/opened\"\n");
        browser.setPermissions(browser.permissions() | QFile::ExeOwner);
    }

    void cleanupTestCase()
    {
        if (m_app) {
            m_app->terminate();
            m_app->waitForFinished(TestWaits::limitMs);
        }
        Keychain keychain(Keychain::secretService());
        keychain.remove(u"session-token"_s);
        bool removed = false;
        keychain.whenWritten(this, [&] { removed = true; });
        (void)QTest::qWaitFor([&] { return removed; }, TestWaits::limitMs);
    }

    void signInThroughTheBrowserAndStaySignedIn()
    {
        const Account ada = m_server->hooks().registerUser(u"ada@example.com"_s, u"Ada"_s);
        run((m_app = std::make_unique<QProcess>()).get(), binary());
        const QString main = window(u"^Tessivo$"_s);
        QVERIFY(!main.isEmpty());
        QFile entry(m_home.filePath(u".local/share/applications/tessivo.desktop"_s));
        QVERIFY(entry.open(QIODevice::ReadOnly)); // the launch registered the binary
        QCOMPARE(QString::fromUtf8(entry.readAll()), SchemeHandler::desktopEntry(binary()));

        // Settings, its Account tab, then "Continue with GitHub", once the
        // keyring's first read has ended and the tab offers it.
        xdotool({"windowfocus", "--sync", main});
        xdotool({"key", "--window", main, "ctrl+comma"});
        const QString settings = window(u"^Settings$"_s);
        xdotool({"windowfocus", "--sync", settings});
        const atspi::Bus a11y(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), u"a11y"_s);
        QVERIFY(a11y.isConnected());
        QVERIFY(press(a11y, u"Account"_s, u"page tab"_s));
        QVERIFY(press(a11y, u"Continue with GitHub"_s, u"push button"_s));
        QFile opened(m_home.filePath(u"opened"_s));
        QTRY_VERIFY_WITH_TIMEOUT(opened.exists(), TestWaits::limitMs);
        QVERIFY(opened.open(QIODevice::ReadOnly));
        const QUrl page(QString::fromUtf8(opened.readLine()).trimmed());
        QCOMPARE(page, m_server->baseUrl().resolved(QUrl(u"/api/v1/auth/native-signin?provider=github"_s)));

        m_server->hooks().setNextSignInOutcome(SignInOutcome::SignIn, ada.userId);
        QNetworkAccessManager net;
        QNetworkRequest request(page);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        std::unique_ptr<QNetworkReply> reply(net.get(request));
        QTRY_VERIFY(reply->isFinished());
        const QString callback = reply->header(QNetworkRequest::LocationHeader).toUrl().toString();
        QProcess second;
        QVERIFY(run(&second, binary(), {callback})->waitForFinished(TestWaits::limitMs));
        QCOMPARE(second.exitCode(), 0);
        const QByteArray bearer = bearerOn(u"/api/v1/me"_s);
        QVERIFY(bearer.startsWith("Bearer "));

        Keychain probe(Keychain::secretService());
        probe.save(u"probe"_s, u"tessivo-test-probe"_s);
        std::optional<std::optional<QString>> read;
        probe.read(u"tessivo-test-probe"_s, this, [&](const std::optional<QString> &value) { read = value; });
        (void)QTest::qWaitFor([&] { return read.has_value(); }, TestWaits::limitMs);
        const bool keyring = read && *read == u"probe"_s;
        probe.remove(u"tessivo-test-probe"_s);
        TESSIVO_NEED(keyring ? QString()
                             : u"no Secret Service on this session bus: the restart is not checked"_s);
        m_app->terminate();
        QVERIFY(m_app->waitForFinished(TestWaits::limitMs));
        m_server->hooks().clearRequestLog();
        run(m_app.get(), binary());
        QCOMPARE(bearerOn(u"/api/auth/get-session"_s), bearer); // the start-up's forced check
    }
};

QTEST_MAIN(TestBrowserSignIn)
#include "tst_browsersignin.moc"
