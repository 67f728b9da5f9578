// The session across starts of its own process, against a real Secret
// Service that stands still (stopped, as while it waits on an unlock prompt)
// and comes back. The test runs a keyring daemon on a session bus of its
// own, so that stopping it holds up no other test.
#include "TestNeeds.h"

#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

// One start of the app's session (session_child), on `environment`.
class Start
{
public:
    explicit Start(const QProcessEnvironment &environment, const QString &settings)
    {
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &m_process, [this] {
            while (m_process.canReadLine())
                m_lines.append(QString::fromUtf8(m_process.readLine().trimmed()));
        });
        m_process.start(QStringLiteral(SESSION_CHILD), {settings});
    }
    ~Start()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(TestWaits::limitMs);
        }
    }

    void send(const QString &line) { m_process.write(line.toUtf8() + '\n'); }

    // What follows `word` on the first line not taken yet that starts with
    // it (lines before it are passed over); "(no such line)" when none came.
    QString next(const QString &word)
    {
        const auto matches = [&](const QString &line) {
            return line == word || line.startsWith(word + u' ');
        };
        const auto index = [&] {
            return std::find_if(m_lines.cbegin(), m_lines.cend(), matches) - m_lines.cbegin();
        };
        if (!QTest::qWaitFor([&] { return index() < m_lines.size(); }, TestWaits::limitMs))
            return QStringLiteral("(no such line)");
        const qsizetype at = index();
        const QString found = m_lines.at(at).mid(word.size() + 1);
        m_lines.remove(0, at + 1);
        return found;
    }

    bool ended()
    {
        if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(TestWaits::limitMs))
            return false;
        return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    }

private:
    QProcess m_process;
    QStringList m_lines;
};

} // namespace

class TestSessionKeyring : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QProcessEnvironment m_env;
    QProcess m_bus;
    QProcess m_keyring;

    bool keyringAnswers()
    {
        const auto call = [this](const QStringList &arguments) {
            QProcess gdbus;
            gdbus.setProcessEnvironment(m_env);
            gdbus.start(u"gdbus"_s, QStringList{u"call"_s, u"--session"_s} + arguments);
            gdbus.waitForFinished(TestWaits::limitMs);
            return gdbus.readAllStandardOutput();
        };
        // Whose the name is first: asking the keyring itself would have the
        // bus start another daemon for it.
        return call({"--dest", "org.freedesktop.DBus", "--object-path", "/org/freedesktop/DBus", "--method",
                     "org.freedesktop.DBus.NameHasOwner", "org.freedesktop.secrets"})
                   .contains("true") &&
               call({"--dest", "org.freedesktop.secrets", "--object-path",
                     "/org/freedesktop/secrets/aliases/default", "--method",
                     "org.freedesktop.DBus.Properties.Get", "org.freedesktop.Secret.Collection", "Locked"})
                   .contains("false");
    }

    std::unique_ptr<Start> start()
    {
        return std::make_unique<Start>(m_env, m_dir->filePath(u"settings.ini"_s));
    }

    void stopKeyring(bool stopped)
    {
        QCOMPARE(::kill(pid_t(m_keyring.processId()), stopped ? SIGSTOP : SIGCONT), 0);
    }

private Q_SLOTS:
    void init()
    {
        for (const QString &program : {u"dbus-daemon"_s, u"gnome-keyring-daemon"_s, u"gdbus"_s})
            TESSIVO_NEED(TestNeeds::program(program));
        m_dir = std::make_unique<QTemporaryDir>();
        const QString run = m_dir->filePath(u"run"_s);
        QVERIFY(QDir().mkpath(run) && QDir().mkpath(m_dir->filePath(u"home"_s)));
        QFile::setPermissions(run, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert(u"HOME"_s, m_dir->filePath(u"home"_s));
        m_env.insert(u"XDG_DATA_HOME"_s, m_dir->filePath(u"home/data"_s));
        m_env.insert(u"XDG_RUNTIME_DIR"_s, run);
        m_env.remove(u"GNOME_KEYRING_CONTROL"_s);
        m_bus.setProcessEnvironment(m_env);
        m_bus.start(u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s,
                                       u"--address=unix:path="_s + run + u"/bus"_s, u"--print-address=1"_s});
        QVERIFY(QTest::qWaitFor([this] { return m_bus.canReadLine(); }, TestWaits::limitMs));
        m_env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, QString::fromUtf8(m_bus.readLine().trimmed()));
        m_keyring.setProcessEnvironment(m_env);
        m_keyring.start(u"gnome-keyring-daemon"_s,
                        {u"--foreground"_s, u"--unlock"_s, u"--components=secrets"_s});
        m_keyring.write("ci");
        m_keyring.closeWriteChannel();
        QVERIFY(QTest::qWaitFor([this] { return keyringAnswers(); }, TestWaits::limitMs));
    }

    void cleanup()
    {
        for (QProcess *process : {&m_keyring, &m_bus}) {
            if (process->state() == QProcess::NotRunning)
                continue;
            ::kill(pid_t(process->processId()), SIGCONT);
            process->terminate();
            if (!process->waitForFinished(TestWaits::limitMs))
                process->kill();
            process->waitForFinished(TestWaits::limitMs);
        }
        m_dir.reset();
    }

    // Signed in (T0) and quit; the next start finds the keyring stopped and
    // goes on signed out, the user signs in again (T1) and quits; the keyring
    // comes back after that quit (T1 never reached it) or before it. Each
    // later start uses T1 or comes up signed out: never T0, which may be
    // another account's.
    void aSignInDuringAStoppedKeyringOutlivesTheSessionBefore_data()
    {
        QTest::addColumn<bool>("backBeforeQuit");
        QTest::newRow("the keyring comes back after the quit") << false;
        QTest::newRow("the keyring comes back before the quit") << true;
    }

    void aSignInDuringAStoppedKeyringOutlivesTheSessionBefore()
    {
        QFETCH(bool, backBeforeQuit);
        const QString t0 = u"session-of-the-first-sign-in"_s;
        const QString t1 = u"session-of-the-last-sign-in"_s;
        {
            const auto app = start();
            app->send(u"start"_s);
            QCOMPARE(app->next(u"settled"_s), u"none"_s);
            app->send(u"sign-in "_s + t0);
            app->send(u"quit"_s);
            QCOMPARE(app->next(u"quit"_s), u"written"_s);
            QVERIFY(app->ended());
        }

        stopKeyring(true);
        auto resume = qScopeGuard([this] { stopKeyring(false); });
        {
            const auto app = start();
            app->send(u"start"_s);
            app->send(u"timeout"_s);
            QCOMPARE(app->next(u"settled"_s), u"none"_s);
            app->send(u"sign-in "_s + t1);
            if (backBeforeQuit) {
                resume.dismiss();
                stopKeyring(false);
            }
            app->send(u"quit"_s);
            if (!backBeforeQuit) {
                QCOMPARE(app->next(u"quitting"_s), QString());
                app->send(u"grace-over"_s);
            }
            QCOMPARE(app->next(u"quit"_s), backBeforeQuit ? u"written"_s : u"timedOut"_s);
            QVERIFY(app->ended());
        }
        if (!backBeforeQuit) {
            resume.dismiss();
            stopKeyring(false);
        }

        for (int i = 0; i < 2; ++i) {
            const auto app = start();
            app->send(u"start"_s);
            const QString settled = app->next(u"settled"_s);
            QVERIFY2(settled != t0, "the session before the last sign-in came back");
            if (backBeforeQuit)
                QCOMPARE(settled, t1);
            else
                QVERIFY2(settled == t1 || settled == u"none"_s, qPrintable(settled));
            app->send(u"quit"_s);
            QCOMPARE(app->next(u"quit"_s), u"written"_s);
            QVERIFY(app->ended());
        }
    }
};

QTEST_GUILESS_MAIN(TestSessionKeyring)
#include "tst_sessionkeyring.moc"
