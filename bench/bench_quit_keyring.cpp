// Quit while the keyring stands still: the real tessivo binary starts signed
// in from a token in the desktop's keyring, then signs out (its service
// answers the session check with no session) just as gnome-keyring-daemon is
// stopped (SIGSTOP, as while it waits on an unlock prompt), so the keyring's
// delete hangs. Measured: the time from Ctrl+Q to the process's exit, and
// whether the next start, with the daemon running again, is signed out.
//
//   bench_quit_keyring [tries] [binary]     (20, the build's tessivo)
//
// Run it inside a D-Bus session with an unlocked gnome-keyring-daemon and on
// an X display, as scripts/test.sh runs the tests; it needs xdotool and a
// build configured with TESSIVO_TESTING=ON (the app takes its service address
// from the environment).
#include "protocol/Routes.h"
#include "service/core/Keychain.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>

namespace {

bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

QString run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(20000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// The process that owns the Secret Service's name on the session bus.
pid_t keyringDaemon()
{
    const QString reply =
        run(QStringLiteral("gdbus"),
            {"call", "--session", "--dest", "org.freedesktop.DBus", "--object-path", "/org/freedesktop/DBus",
             "--method", "org.freedesktop.DBus.GetConnectionUnixProcessID", "org.freedesktop.secrets"});
    // "(uint32 1234,)"
    return pid_t(reply.section(u' ', 1).section(u',', 0, 0).toInt());
}

bool setToken(const std::optional<QString> &token)
{
    bool done = false;
    const Keychain::Backend keyring = Keychain::secretService();
    const QString account = QString::fromLatin1(Keychain::sessionTokenAccount);
    if (token)
        keyring.save(account, token->toUtf8(), [&] { done = true; });
    else
        keyring.remove(account, [&] { done = true; });
    return waitFor([&] { return done; }, 20000);
}

// A service that knows no session: every check answers "null", anything
// else 404. `onCheck` runs before the check's answer goes out.
class NoSessionService : public QObject
{
public:
    std::function<void()> onCheck;
    QList<QByteArray> bearers; // the authorization of each check

    bool listen() { return m_server.listen(QHostAddress::LocalHost); }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()); }

    NoSessionService()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { answer(socket); });
            }
        });
    }

private:
    void answer(QTcpSocket *socket)
    {
        QByteArray &head = m_heads[socket];
        head += socket->readAll();
        if (!head.contains("\r\n\r\n"))
            return;
        const QList<QByteArray> lines = head.left(head.indexOf("\r\n\r\n")).split('\n');
        const QByteArray path = lines.value(0).split(' ').value(1);
        QByteArray authorization;
        for (const QByteArray &line : lines)
            if (line.toLower().startsWith("authorization:"))
                authorization = line.mid(14).trimmed();
        m_heads.remove(socket);
        QByteArray status = "404 Not Found", body = "{}";
        if (path == protocol::routePath(protocol::Endpoint::getSession).toUtf8()) {
            bearers.append(authorization);
            if (onCheck)
                onCheck();
            status = "200 OK";
            body = "null";
        }
        socket->write("HTTP/1.1 " + status + "\r\nContent-Type: application/json\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_heads;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int tries = argc > 1 ? std::max(1, atoi(argv[1])) : 20;
    const QString binary = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral(TESSIVO_BINARY);
    const pid_t daemon = keyringDaemon();
    if (daemon <= 0) {
        fprintf(stderr, "no gnome-keyring-daemon owns org.freedesktop.secrets on this session bus\n");
        return 2;
    }
    NoSessionService service;
    if (!service.listen()) {
        fprintf(stderr, "could not listen on a local port\n");
        return 2;
    }
    QList<qint64> quitMs;
    int signedInAgain = 0, failures = 0;
    for (int i = 0; i < tries; ++i) {
        ::kill(daemon, SIGCONT);
        const QString token = QStringLiteral("bench-%1").arg(QRandomGenerator::global()->generate64(), 0, 36);
        if (!setToken(token)) {
            fprintf(stderr, "the keyring did not store the token\n");
            return 2;
        }
        QTemporaryDir home;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name :
             {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
            env.insert(QString::fromLatin1(name), home.filePath(QString::fromLatin1(name)));
        env.insert(QStringLiteral("TESSIVO_TEST_SERVICE_URL"), service.url());

        // First start: signed in from the keyring; the check ends the session
        // while the daemon is stopped, so the keyring's delete waits.
        service.bearers.clear();
        service.onCheck = [daemon] { ::kill(daemon, SIGSTOP); };
        QProcess first;
        first.setProcessEnvironment(env);
        first.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        first.start(binary, {});
        QString window;
        const bool ready = first.waitForStarted() &&
                           waitFor([&] { return !service.bearers.isEmpty(); }, 30000) &&
                           waitFor(
                               [&] {
                                   window = run(QStringLiteral("xdotool"),
                                                {"search", "--onlyvisible", "--pid",
                                                 QString::number(first.processId()), "--name", "^Tessivo$"})
                                                .section(u'\n', 0, 0);
                                   return !window.isEmpty();
                               },
                               20000);
        // The answer is read and the delete asked for within a moment.
        waitFor([] { return false; }, 500);
        qint64 elapsed = -1;
        if (ready) {
            run(QStringLiteral("xdotool"), {"windowfocus", "--sync", window});
            QElapsedTimer clock;
            clock.start();
            run(QStringLiteral("xdotool"), {"key", "ctrl+q"});
            if (first.waitForFinished(30000))
                elapsed = clock.elapsed();
        }
        if (first.state() != QProcess::NotRunning) {
            first.kill();
            first.waitForFinished();
        }
        ::kill(daemon, SIGCONT);
        if (elapsed < 0) {
            ++failures;
            fprintf(stderr, "try %d: the app did not start or did not quit\n", i + 1);
            setToken(std::nullopt);
            continue;
        }
        quitMs.append(elapsed);

        // Second start, the daemon running again: a check with the token
        // means it came back signed in.
        service.bearers.clear();
        service.onCheck = nullptr;
        QProcess second;
        second.setProcessEnvironment(env);
        second.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        second.start(binary, {});
        const QByteArray bearer = "Bearer " + token.toUtf8();
        const bool checked =
            second.waitForStarted() && waitFor([&] { return service.bearers.contains(bearer); }, 8000);
        signedInAgain += checked ? 1 : 0;
        second.terminate();
        if (!second.waitForFinished(20000))
            second.kill();
        setToken(std::nullopt);
        printf("try %2d: Ctrl+Q to exit %5lld ms; next start %s\n", i + 1, static_cast<long long>(elapsed),
               checked ? "SIGNED IN" : "signed out");
        fflush(stdout);
    }
    std::sort(quitMs.begin(), quitMs.end());
    if (!quitMs.isEmpty()) {
        const auto within =
            std::count_if(quitMs.cbegin(), quitMs.cend(), [](qint64 ms) { return ms <= 2500; });
        printf("Ctrl+Q to exit: min %lld ms, median %lld ms, max %lld ms; %lld of %lld within 2.5 s\n",
               static_cast<long long>(quitMs.first()), static_cast<long long>(quitMs.at(quitMs.size() / 2)),
               static_cast<long long>(quitMs.last()), static_cast<long long>(within),
               static_cast<long long>(quitMs.size()));
    }
    printf("next start signed in again: %d of %lld; tries that failed to run: %d\n", signedInAgain,
           static_cast<long long>(quitMs.size()), failures);
    return failures == 0 ? 0 : 1;
}
