// The real binary signs in through the browser: the sign-in page opens in
// the "browser" (a script that notes the URL), the test plays the browser
// through the service's redirects, and a second launch with the "tessivo:"
// callback hands it to the running app. The session then survives a restart
// in the keyring.
#include "platform/SchemeHandler.h"
#include "service/core/Keychain.h"

#include "Server.h"

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
    QString opened() const { return m_home.filePath(u"opened"_s); }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"HOME"_s, m_home.path());
        env.insert(u"XDG_DATA_HOME"_s, m_home.filePath(u"data"_s));
        env.insert(u"XDG_CONFIG_HOME"_s, m_home.filePath(u"config"_s));
        env.insert(u"TESSIVO_TEST_SERVICE_URL"_s, m_server->baseUrl().toString());
        env.insert(u"BROWSER"_s, m_home.filePath(u"browser.sh"_s));
        env.insert(u"QTWEBENGINE_DISABLE_SANDBOX"_s, u"1"_s);
        return env;
    }

    QString xdotool(const QStringList &arguments)
    {
        QProcess process;
        process.setProcessEnvironment(environment());
        process.start(u"xdotool"_s, arguments);
        process.waitForFinished(20000);
        return QString::fromUtf8(process.readAllStandardOutput()).section(u'\n', 0, 0).trimmed();
    }

    QString window(const QString &title)
    {
        QString id;
        (void)QTest::qWaitFor(
            [&] {
                id = xdotool({"search", "--all", "--onlyvisible", "--pid",
                              QString::number(m_app->processId()), "--name", title});
                return !id.isEmpty();
            },
            20000);
        return id;
    }

    void launch()
    {
        m_app = std::make_unique<QProcess>();
        m_app->setProcessEnvironment(environment());
        m_app->setProcessChannelMode(QProcess::ForwardedChannels);
        m_app->start(binary(), {});
        QVERIFY(m_app->waitForStarted());
    }

    // The bearer token of the first request on `path` from now on.
    QByteArray bearerOn(const QString &path)
    {
        QByteArray bearer;
        (void)QTest::qWaitFor(
            [&] {
                for (const LoggedRequest &request : m_server->hooks().requestLog())
                    if (request.path == path)
                        bearer = request.header("authorization");
                return !bearer.isEmpty();
            },
            20000);
        return bearer;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!QFile::exists(binary()))
            QSKIP("the tessivo binary is not built");
        if (QStandardPaths::findExecutable(u"xdotool"_s).isEmpty())
            QSKIP("xdotool is needed to press the sign-in button");
        ServerOptions options;
        options.listen = {{QHostAddress::LocalHost, 0}};
        options.database = u"sqlite::memory:"_s;
        m_server = std::make_unique<Server>(options);
        QVERIFY(m_server->start());
        QFile browser(m_home.filePath(u"browser.sh"_s));
        QVERIFY(browser.open(QIODevice::WriteOnly));
        browser.write("#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"$HOME/opened\"\n");
        browser.close();
        browser.setPermissions(browser.permissions() | QFile::ExeOwner);
    }

    void cleanupTestCase()
    {
        if (m_app) {
            m_app->terminate();
            m_app->waitForFinished(10000);
        }
        Keychain(Keychain::secretService()).remove(u"session-token"_s);
    }

    void signInThroughTheBrowserAndStaySignedIn()
    {
        const Account ada = m_server->hooks().registerUser(u"ada@example.com"_s, u"Ada"_s);
        launch();
        const QString main = window(u"^Tessivo$"_s);
        QVERIFY(!main.isEmpty());
        // A launch registered the binary as the "tessivo:" handler.
        QFile entry(m_home.filePath(u"data/applications/tessivo.desktop"_s));
        QVERIFY(entry.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(entry.readAll()), SchemeHandler::desktopEntry(binary()));

        // Settings, then "Continue with GitHub" (the first button, under the
        // version lines).
        xdotool({"windowfocus", "--sync", main});
        xdotool({"key", "--window", main, "ctrl+comma"});
        const QString settings = window(u"^Settings$"_s);
        QVERIFY(!settings.isEmpty());
        xdotool({"windowfocus", "--sync", settings});
        xdotool({"mousemove", "--window", settings, "240", "86", "click", "1"});
        QFile pages(opened());
        QTRY_VERIFY_WITH_TIMEOUT(pages.exists(), 20000);
        QVERIFY(pages.open(QIODevice::ReadOnly));
        const QUrl page(QString::fromUtf8(pages.readLine()).trimmed());
        QCOMPARE(page, m_server->baseUrl().resolved(QUrl(u"/api/v1/auth/native-signin?provider=github"_s)));

        // The browser's part: the service redirects to the app's scheme.
        m_server->hooks().setNextSignInOutcome(SignInOutcome::SignIn, ada.userId);
        QNetworkAccessManager net;
        QNetworkRequest request(page);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        std::unique_ptr<QNetworkReply> reply(net.get(request));
        QTRY_VERIFY(reply->isFinished());
        const QString callback = reply->header(QNetworkRequest::LocationHeader).toUrl().toString();
        QVERIFY(callback.startsWith(u"tessivo://"_s));

        QProcess second;
        second.setProcessEnvironment(environment());
        second.start(binary(), {callback});
        QVERIFY(second.waitForFinished(20000));
        QCOMPARE(second.exitCode(), 0);
        const QByteArray bearer = bearerOn(u"/api/v1/me"_s);
        QVERIFY(bearer.startsWith("Bearer "));

        Keychain probe(Keychain::secretService());
        probe.save(u"probe"_s, u"tessivo-test-probe"_s);
        const bool keyring = probe.read(u"tessivo-test-probe"_s) == u"probe"_s;
        probe.remove(u"tessivo-test-probe"_s);
        if (!keyring)
            QSKIP("no Secret Service on this session bus: the restart is not checked");
        m_app->terminate();
        QVERIFY(m_app->waitForFinished(15000));
        m_server->hooks().clearRequestLog();
        launch();
        QCOMPARE(bearerOn(u"/api/auth/get-session"_s), bearer); // the forced check at start-up
    }
};

QTEST_MAIN(TestBrowserSignIn)
#include "tst_browsersignin.moc"
