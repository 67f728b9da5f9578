// How a launch reaches the running app: the private socket it hands its
// arguments over, and the desktop entry through which a browser launches it
// with the sign-in callback.
#include "platform/SchemeHandler.h"
#include "platform/SingleInstance.h"

#include "TestNeeds.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QtConcurrent>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr uid_t nobody = 65534;

QString python()
{
    return QFile::exists(u"/usr/bin/python3"_s) ? u"/usr/bin/python3"_s
                                                : QStandardPaths::findExecutable(u"python3"_s);
}

// A unix socket at `path` listening as another user; it writes whatever a
// client sends to `received`.
const char *squatter = R"(
import os, socket, sys
path, received = sys.argv[1], sys.argv[2]
s = socket.socket(socket.AF_UNIX)
s.bind(path)
os.chmod(path, 0o777)
os.setgid(65534); os.setuid(65534)
s.listen(1)
print("ready", flush=True)
c, _ = s.accept()
data = c.recv(65536)
open(received, "wb").write(data)
c.send(b"ok\n")
)";

} // namespace

class TestHandOver : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;

    QString path(const QString &name) const { return m_dir->filePath(name); }

    static void makeFolder(const QString &folder, mode_t mode, uid_t owner = getuid())
    {
        QVERIFY(QDir().mkpath(folder));
        QCOMPARE(::chmod(QFile::encodeName(folder).constData(), mode), 0);
        QCOMPARE(::chown(QFile::encodeName(folder).constData(), owner, owner), 0);
    }

private Q_SLOTS:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    // Only a folder of this user's own, mode 0700 and no link, holds the
    // socket: the runtime folder first, else one made in the state home.
    void socketFolder_data()
    {
        QTest::addColumn<QString>("runtime"); // "": unset
        QTest::addColumn<QString>("state");   // what to put at <state home>/tessivo first
        QTest::addColumn<QString>("expected");
        QTest::newRow("runtime folder") << "run"
                                        << ""
                                        << "run";
        QTest::newRow("no runtime folder: made in the state home") << ""
                                                                   << ""
                                                                   << "own";
        QTest::newRow("runtime folder open to others") << "open"
                                                       << ""
                                                       << "own";
        QTest::newRow("ours, but open to others: closed up") << ""
                                                             << "open"
                                                             << "own";
        QTest::newRow("of another owner") << ""
                                          << "foreign"
                                          << "";
        QTest::newRow("a symbolic link") << ""
                                         << "link"
                                         << "";
    }

    void socketFolder()
    {
        QFETCH(QString, runtime);
        QFETCH(QString, state);
        QFETCH(QString, expected);
        if (state == u"foreign")
            TESSIVO_NEED(TestNeeds::superuser(u"making a folder of another owner"_s));
        makeFolder(path(u"run"_s), 0700);
        makeFolder(path(u"open"_s), 0755);
        const QString own = path(u"state/tessivo"_s);
        if (state == u"foreign")
            makeFolder(own, 0700, nobody);
        else if (state == u"open")
            makeFolder(own, 0777);
        else if (state == u"link")
            QVERIFY(QDir().mkpath(path(u"state"_s)) && QFile::link(path(u"run"_s), own));
        const QString folder =
            SingleInstance::socketFolder(runtime.isEmpty() ? QString() : path(runtime), own);
        QCOMPARE(folder, expected.isEmpty() ? QString() : expected == u"own" ? own : path(expected));
        if (expected == u"own")
            QVERIFY(SingleInstance::isPrivateFolder(own));
    }

    // Without a runtime folder, a launch reaches the running app through
    // the state home, whoever has taken the shared temp folder's name and
    // however deep the home is.
    void aLaunchReachesTheAppWithoutARuntimeFolder_data()
    {
        QTest::addColumn<QString>("stateHome");
        QTest::newRow("temp folder's name taken") << "state";
        QTest::newRow("deep home") << QString(u"deep/"_s.repeated(30) + u"state"_s);
    }

    void aLaunchReachesTheAppWithoutARuntimeFolder()
    {
        QFETCH(QString, stateHome);
        makeFolder(path(u"temp"_s), 01777);
        QVERIFY(QFile::link(m_dir->path(), path(u"temp/tessivo-%1"_s.arg(getuid()))));
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv("TMPDIR", QFile::encodeName(path(u"temp"_s)));
        qputenv("XDG_STATE_HOME", QFile::encodeName(path(stateHome)));
        SingleInstance running(u"stateless"_s);
        SingleInstance launch(u"stateless"_s);
        qputenv("XDG_RUNTIME_DIR", runtime);
        qunsetenv("TMPDIR");
        qunsetenv("XDG_STATE_HOME");
        QVERIFY(!running.serverName().isEmpty());
        QVERIFY(QFile::encodeName(running.serverName()).size() < 108);
        QCOMPARE(running.handOver({}), SingleInstance::Launch::first);
        QVERIFY(running.listen());
        QSignalSpy activated(&running, &SingleInstance::activated);
        QFuture<SingleInstance::Launch> handed =
            QtConcurrent::run([&launch] { return launch.handOver({u"tessivo://auth?ott=abc"_s}); });
        QTRY_VERIFY(handed.isFinished());
        QCOMPARE(handed.result(), SingleInstance::Launch::handedOver);
        QCOMPARE(activated.size(), 1);
        QCOMPARE(activated[0][0].toStringList(), QStringList{u"tessivo://auth?ott=abc"_s});
    }

    // A socket another user put in the way gets nothing, and the app goes
    // on alone: it listens in its place.
    void aSquattingSocketGetsNothing()
    {
        TESSIVO_NEED(TestNeeds::superuser(u"playing another user"_s));
        TESSIVO_NEED(TestNeeds::program(u"python3"_s));
        makeFolder(path(u"run"_s), 0700);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(path(u"run"_s)));
        // Where the other user can note what it got.
        QCOMPARE(::chmod(QFile::encodeName(m_dir->path()).constData(), 0755), 0);
        makeFolder(path(u"drop"_s), 0777);
        SingleInstance launch(u"squatted"_s);
        QProcess other;
        other.start(python(),
                    {u"-c"_s, QString::fromLatin1(squatter), launch.serverName(), path(u"drop/got"_s)});
        QVERIFY(other.waitForReadyRead(TestWaits::limitMs));
        QCOMPARE(launch.handOver({u"tessivo://auth?ott=SECRET"_s}, 2000), SingleInstance::Launch::first);
        QFile got(path(u"drop/got"_s));
        QVERIFY(!got.open(QIODevice::ReadOnly) || got.readAll().isEmpty());
        QVERIFY(launch.listen());
        other.kill();
        other.waitForFinished(TestWaits::limitMs);
        qunsetenv("XDG_RUNTIME_DIR");
    }

    // The running app takes nothing from another user's process.
    void theRunningAppIgnoresOtherUsers()
    {
        TESSIVO_NEED(TestNeeds::superuser(u"playing another user"_s));
        TESSIVO_NEED(TestNeeds::program(u"python3"_s));
        makeFolder(path(u"run"_s), 0700);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(path(u"run"_s)));
        SingleInstance running(u"open"_s);
        QCOMPARE(running.handOver({}), SingleInstance::Launch::first);
        QVERIFY(running.listen());
        QSignalSpy activated(&running, &SingleInstance::activated);
        // Opened up, as a mistake or an older version might have left it.
        QCOMPARE(::chmod(QFile::encodeName(m_dir->path()).constData(), 0755), 0);
        QCOMPARE(::chmod(QFile::encodeName(path(u"run"_s)).constData(), 0777), 0);
        QCOMPARE(::chmod(QFile::encodeName(running.serverName()).constData(), 0777), 0);
        const QString client = u"import socket, os, sys\n"
                               "os.setgid(65534); os.setuid(65534)\n"
                               "c = socket.socket(socket.AF_UNIX); c.connect(sys.argv[1])\n"
                               "c.sendall(b'[\"tessivo://auth?ott=forged\"]\\n')\n"
                               "print(c.recv(10))\n"_s;
        QProcess other;
        other.start(python(), {u"-c"_s, client, running.serverName()});
        QTRY_COMPARE(other.state(), QProcess::NotRunning);
        QCOMPARE(activated.size(), 0);
        QVERIFY(!other.readAllStandardOutput().contains("ok"));
        qunsetenv("XDG_RUNTIME_DIR");
    }

    // xdg-open on a desktop it doesn't know (openbox, i3) runs Exec's first
    // word as it stands: the entry must work there, with a space in the
    // binary's path too.
    void theBrowserReachesTheBinaryThroughXdgOpen_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::newRow("plain path") << "apps";
        QTest::newRow("a space in the path") << "my apps";
    }

    void theBrowserReachesTheBinaryThroughXdgOpen()
    {
        QFETCH(QString, folder);
        TESSIVO_NEED(TestNeeds::program(u"xdg-open"_s) + TestNeeds::program(u"xdg-mime"_s));
        QVERIFY(QDir().mkpath(path(folder)));
        const QString binary = path(folder + u"/tessivo"_s);
        QFile script(binary);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(
            QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$@\" > '%1'\n").arg(path(u"args"_s)).toUtf8());
        script.close();
        script.setPermissions(script.permissions() | QFile::ExeOwner);

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name :
             {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID",
              "MATE_DESKTOP_SESSION_ID", "XDG_SESSION_DESKTOP", "BROWSER"})
            env.remove(QString::fromLatin1(name));
        env.insert(u"HOME"_s, path(u"home"_s));
        env.insert(u"XDG_DATA_HOME"_s, path(u"data"_s));
        env.insert(u"XDG_CONFIG_HOME"_s, path(u"config"_s));
        env.insert(u"XDG_DATA_DIRS"_s, path(u"system"_s));
        for (const QString &key : {u"XDG_DATA_HOME"_s, u"XDG_CONFIG_HOME"_s, u"HOME"_s})
            qputenv(key.toLatin1(), env.value(key).toUtf8());
        SchemeHandler::registerBinary(binary);
        const auto registered = [this] {
            QFile mimeapps(path(u"config/mimeapps.list"_s));
            return mimeapps.open(QIODevice::ReadOnly) && mimeapps.readAll().contains("tessivo.desktop");
        };
        QTRY_VERIFY_WITH_TIMEOUT(registered(), TestWaits::limitMs);

        QProcess open;
        open.setProcessEnvironment(env);
        open.start(u"xdg-open"_s, {u"tessivo://auth?ott=abc"_s});
        QVERIFY(open.waitForFinished(TestWaits::limitMs));
        QCOMPARE(open.exitCode(), 0);
        const auto handed = [this] {
            QFile args(path(u"args"_s));
            return args.open(QIODevice::ReadOnly) ? args.readAll() : QByteArray();
        };
        QTRY_COMPARE(handed(), "tessivo://auth?ott=abc\n");
    }
};

QTEST_MAIN(TestHandOver)
#include "tst_handover.moc"
