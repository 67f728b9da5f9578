// The real binary: a second launch brings the window back, and the desktop
// ending the app right after an edit keeps the edit on disk.
#include "AppHome.h"
#include "TestNeeds.h"
#include "platform/SingleInstance.h"
#include "service/core/Keychain.h"

#include "service/LocalServer.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QtConcurrent>

#include <csignal>
#include <memory>

namespace {

QString binary()
{
    return QStringLiteral(TESSIVO_BUILD_DIR "/Tessivo/tessivo");
}

// Runs a command to its end and returns its standard output.
QString run(const QString &program, const QStringList &arguments, const QProcessEnvironment &env = {})
{
    QProcess process;
    if (!env.isEmpty())
        process.setProcessEnvironment(env);
    process.start(program, arguments);
    process.waitForFinished(TestWaits::limitMs);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// Saves (or, with no value, removes) the session token in the desktop's
// keyring, where the app reads it at launch; false when it didn't finish.
bool setKeyringToken(const QString &token)
{
    bool done = false;
    const Keychain::Backend keyring = Keychain::secretService();
    const QString account = QString::fromLatin1(Keychain::sessionTokenAccount);
    if (token.isEmpty())
        keyring.remove(account, [&] { done = true; });
    else
        keyring.save(account, token.toUtf8(), [&] { done = true; });
    return QTest::qWaitFor([&] { return done; }, TestWaits::limitMs);
}

} // namespace

class TestApp : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_home;
    std::unique_ptr<QProcess> m_app;

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = appHomeEnvironment(*m_home);
        env.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
        return env;
    }

    QString documentsDir() const { return m_home->filePath(QStringLiteral("data/Tessivo/documents")); }

    // The ids of the documents on disk.
    QStringList documentFiles() const
    {
        return QDir(documentsDir()).entryList({QStringLiteral("*.json")}, QDir::Files);
    }

    QJsonObject readDocument(const QString &file) const
    {
        QFile f(QDir(documentsDir()).filePath(file));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(f.readAll()).object();
    }

    bool launch()
    {
        m_app = std::make_unique<QProcess>();
        m_app->setProcessEnvironment(environment());
        m_app->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_app->start(binary(), {});
        if (!m_app->waitForStarted(TestWaits::limitMs))
            return false;
        // Started means loaded: the welcome document is written at load.
        return QTest::qWaitFor([this] { return !documentFiles().isEmpty(); }, TestWaits::limitMs);
    }

    // The app's visible main window, by process: other tests may show
    // windows of the same title on the same display.
    QStringList searchArguments() const
    {
        return {"search", "--onlyvisible", "--pid", QString::number(m_app->processId()),
                "--name", "^Tessivo$"};
    }

    QString windowID()
    {
        QString id;
        (void)QTest::qWaitFor(
            [&] {
                id = run(QStringLiteral("xdotool"), searchArguments(), environment())
                         .section(QLatin1Char('\n'), 0, 0);
                return !id.isEmpty();
            },
            TestWaits::limitMs);
        return id;
    }

private Q_SLOTS:
    void init()
    {
        TESSIVO_NEED(TestNeeds::file(binary(), QStringLiteral("the tessivo binary")));
        m_home = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir().mkpath(m_home->filePath(QStringLiteral("run"))));
        QFile::setPermissions(m_home->filePath(QStringLiteral("run")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void cleanup()
    {
        if (m_app && m_app->state() != QProcess::NotRunning) {
            // A test that failed while the app stood stopped leaves it so.
            ::kill(pid_t(m_app->processId()), SIGCONT);
            m_app->terminate();
            if (!m_app->waitForFinished(TestWaits::limitMs))
                m_app->kill();
        }
        m_app.reset();
        m_home.reset();
    }

    void handOverReachesTheRunningInstance()
    {
        // In-process: one listener, a second "launch" from another thread.
        const QString key = QStringLiteral("test-%1").arg(QCoreApplication::applicationPid());
        SingleInstance first(key);
        SingleInstance second(key);
        QCOMPARE(first.handOver({}, 500), SingleInstance::Launch::first); // nobody runs yet
        QVERIFY(first.listen());
        QVERIFY(!second.listen()); // only the lock's holder listens
        QSignalSpy activated(&first, &SingleInstance::activated);
        QFuture<SingleInstance::Launch> handed = QtConcurrent::run([&second] {
            return second.handOver({QStringLiteral("tessivo://auth?token=abc"), QStringLiteral("é")});
        });
        QTRY_VERIFY(handed.isFinished());
        QCOMPARE(handed.result(), SingleInstance::Launch::handedOver);
        QCOMPARE(activated.size(), 1);
        QCOMPARE(activated[0][0].toStringList(), QStringList({"tessivo://auth?token=abc", "é"}));
    }

    void secondLaunchReopensTheWindow()
    {
        TESSIVO_NEED(TestNeeds::program(QStringLiteral("xdotool")));
        QVERIFY(launch());
        const QString id = windowID();
        QVERIFY(!id.isEmpty());
        run(QStringLiteral("xdotool"), {"windowunmap", "--sync", id}, environment());
        QVERIFY(run(QStringLiteral("xdotool"), searchArguments(), environment()).isEmpty());
        QCOMPARE(m_app->state(), QProcess::Running); // closing the window did not quit

        QProcess second;
        second.setProcessEnvironment(environment());
        second.start(binary(), {});
        QVERIFY(second.waitForFinished(TestWaits::limitMs));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(!windowID().isEmpty());
        QCOMPARE(m_app->state(), QProcess::Running);
    }

    // Quit at another size and place, the next launch opens the window
    // there again.
    void theNextLaunchKeepsTheWindowsFrame()
    {
        TESSIVO_NEED(TestNeeds::program(QStringLiteral("xdotool")));
        QVERIFY(launch());
        QString id = windowID();
        QVERIFY(!id.isEmpty());
        run(QStringLiteral("xdotool"), {"windowsize", "--sync", id, "1300", "850"}, environment());
        run(QStringLiteral("xdotool"), {"windowmove", "--sync", id, "202", "130"}, environment());
        const auto frame = [&] {
            const QString text = run(QStringLiteral("xdotool"), {"getwindowgeometry", id}, environment());
            return text.section(QLatin1Char('\n'), 1).simplified().remove(QStringLiteral(" (screen: 0)"));
        };
        const QString expected = QStringLiteral("Position: 202,130 Geometry: 1300x850");
        QTRY_COMPARE(frame(), expected);
        m_app->terminate(); // the desktop asks the app to quit
        QVERIFY(m_app->waitForFinished(TestWaits::limitMs));
        QVERIFY(launch());
        id = windowID();
        QVERIFY(!id.isEmpty());
        QTRY_COMPARE(frame(), expected);
    }

    // A running app that doesn't answer (stopped, swapped out) keeps its
    // socket: a launch waits for it, says so and ends; once it runs again,
    // launches reach it.
    void aStoppedAppKeepsItsSocket()
    {
        QVERIFY(launch());
        const QDir runtime(environment().value(QStringLiteral("XDG_RUNTIME_DIR")));
        const auto sockets = [&runtime] {
            return runtime.entryList({QStringLiteral("tessivo-*")}, QDir::System);
        };
        QTRY_VERIFY(!sockets().isEmpty());
        const QStringList before = sockets();
        QCOMPARE(::kill(pid_t(m_app->processId()), SIGSTOP), 0);
        QProcess second;
        second.setProcessEnvironment(environment());
        second.start(binary(), {});
        const bool ended = second.waitForFinished(TestWaits::limitMs);
        QCOMPARE(::kill(pid_t(m_app->processId()), SIGCONT), 0);
        if (!ended) {
            second.kill();
            second.waitForFinished(TestWaits::limitMs);
            QFAIL("the second launch kept running");
        }
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 1);
        QVERIFY(second.readAllStandardError().contains(SingleInstance::notAnsweringMessage().toUtf8()));
        QCOMPARE(sockets(), before);

        QProcess third;
        third.setProcessEnvironment(environment());
        third.start(binary(), {});
        QVERIFY(third.waitForFinished(TestWaits::limitMs));
        QCOMPARE(third.exitCode(), 0);
        QCOMPARE(m_app->state(), QProcess::Running);
    }

    // The keyring may keep the first launch waiting (its unlock prompt
    // showing) while the user launches again, or the browser hands the
    // sign-in back: that launch is taken, and there is one window.
    void aLaunchWhileTheKeyringWaits()
    {
        TESSIVO_NEED(TestNeeds::program(QStringLiteral("xdotool")));
        // The app takes the service's address and the keyring's delay from
        // the environment only when built for tests.
        TESSIVO_NEED(TestNeeds::testingBuild());
        TESSIVO_NEED(TestNeeds::unlockedKeyring());
        // The keyring holds a session, so the app's taking of its answer
        // shows: it then asks the service with that token.
        const std::unique_ptr<tessivo::server::Server> service = startLocalServer();
        const QString token = service->hooks()
                                  .registerUser(QStringLiteral("ann@example.com"), QStringLiteral("Ann"))
                                  .sessionToken;
        QVERIFY(setKeyringToken(token));
        const auto forgetToken = qScopeGuard([] { setKeyringToken({}); });
        m_app = std::make_unique<QProcess>();
        QProcessEnvironment env = environment();
        env.insert(QStringLiteral("TESSIVO_TEST_KEYRING_READ_DELAY_MS"), QStringLiteral("4000"));
        env.insert(QStringLiteral("TESSIVO_TEST_SERVICE_URL"), service->baseUrl().toString());
        m_app->setProcessEnvironment(env);
        m_app->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_app->start(binary(), {});
        QVERIFY(m_app->waitForStarted(TestWaits::limitMs));
        // Listening (the socket is there) while the keyring still reads.
        const QDir runtime(env.value(QStringLiteral("XDG_RUNTIME_DIR")));
        QTRY_VERIFY(!runtime.entryList({QStringLiteral("tessivo-*")}, QDir::System).isEmpty());
        QProcess second;
        second.setProcessEnvironment(environment());
        second.start(binary(), {QStringLiteral("tessivo://auth?ott=handed-over")});
        QVERIFY(second.waitForFinished(TestWaits::limitMs));
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(!windowID().isEmpty());
        QVERIFY2(service->hooks().requestLog().isEmpty(), "the keyring answered before the second launch");
        // Past the keyring's answer: the app checks the session it held, and
        // asks who is signed in once the check's reply has been read.
        const QByteArray bearer = "Bearer " + token.toLatin1();
        QVERIFY(QTest::qWaitFor(
            [&] {
                const QList<tessivo::server::LoggedRequest> log = service->hooks().requestLog();
                return std::any_of(log.cbegin(), log.cend(), [&](const tessivo::server::LoggedRequest &r) {
                    return r.path == u"/api/v1/me" && r.header("authorization") == bearer;
                });
            },
            TestWaits::limitMs));
        QCOMPARE(m_app->state(), QProcess::Running);
        const QString windows = run(QStringLiteral("xdotool"), searchArguments(), environment());
        QCOMPARE(windows.split(QLatin1Char('\n'), Qt::SkipEmptyParts).size(), 1);
    }

    void terminationKeepsTheLastEdit_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM from the desktop") << int(SIGTERM);
        QTest::newRow("SIGINT from a terminal") << int(SIGINT);
    }

    void terminationKeepsTheLastEdit()
    {
        QFETCH(int, signalNumber);
        TESSIVO_NEED(TestNeeds::program(QStringLiteral("xdotool")));
        QVERIFY(launch());
        const QString id = windowID();
        QVERIFY(!id.isEmpty());
        const QStringList files = documentFiles();
        QCOMPARE(files.size(), 1);
        // Click into the editor (right of the sidebar) and type at the end.
        run(QStringLiteral("xdotool"), {"windowraise", id}, environment());
        run(QStringLiteral("xdotool"), {"windowfocus", "--sync", id}, environment());
        run(QStringLiteral("xdotool"), {"mousemove", "--window", id, "450", "300", "click", "1"},
            environment());
        // The app is stopped while the keys are typed and the signal sent,
        // so the signal always finds them still queued for it, as a logout
        // right after typing may; they must land before the flush.
        ::kill(m_app->processId(), SIGSTOP);
        run(QStringLiteral("xdotool"), {"key", "--window", id, "ctrl+End"}, environment());
        const QString marker = QStringLiteral("zqxmarker");
        run(QStringLiteral("xdotool"), {"type", "--window", id, "--delay", "5", marker}, environment());
        ::kill(m_app->processId(), signalNumber);
        ::kill(m_app->processId(), SIGCONT);
        QVERIFY(m_app->waitForFinished(TestWaits::limitMs));
        QCOMPARE(m_app->exitStatus(), QProcess::NormalExit);
        QVERIFY2(readDocument(files.first()).value(QStringLiteral("body")).toString().contains(marker),
                 qPrintable(readDocument(files.first()).value(QStringLiteral("body")).toString().right(80)));
    }
};

QTEST_MAIN(TestApp)
#include "tst_app.moc"
