// Memory figures for large pulls, with the real `tessivo-service` binary on
// loopback and an SQLite database in a temporary folder:
//   unread: an account holding 200 MiB in documents of 1 MiB (or
//     --document-mib N); six connections (or --pulls N)
//     from one address (or --groups v4|v6: each from a group of its own) each ask
//     for a pull and never read. The service's resident memory, at its peak and
//     five seconds later (target: under 400 MB).
//   first sync (unless --account-mib 0): the account grown to 900 MiB; a new computer (the app's
//     store, session and sync engine, headless, in a child process) syncs
//     it for the first time. The child's peak resident memory (target:
//     under 600 MB) and the time taken.
// Usage: bench_pull_memory [--service <path to tessivo-service>]
//        [--unread-mib N] [--account-mib N] [--pulls N] [--document-mib N]
//        [--database SPEC] [--groups v4|v6]

#include "TestHooks.h"
#include "service/SyncClient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QUuid>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

using namespace tessivo::server;

namespace {

constexpr qint64 mebibyte = 1024 * 1024;

// VmRSS or VmHWM of a process, in bytes.
qint64 memoryOf(qint64 pid, const char *field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return -1;
}

void addDocuments(TestHooks hooks, const QString &userId, qint64 mebibytes, qint64 documentMiB)
{
    // Text that differs from one document to the next, about
    // `documentMiB` each.
    const qint64 size = documentMiB * mebibyte;
    QString body;
    for (int i = 0; body.size() < size; ++i)
        body += QStringLiteral("line %1 of a long document, written to be synced\n").arg(i);
    for (qint64 i = 0; i < mebibytes / documentMiB; ++i) {
        const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        hooks.injectDocument(userId, {{"id", id},
                                      {"title", id},
                                      {"body", id + body.left(size - id.size())},
                                      {"createdAt", 1},
                                      {"updatedAt", 2}});
    }
}

// The child: a new computer's first sync; prints its peak memory.
int firstSync(const QUrl &service, const QString &token)
{
    QElapsedTimer timer;
    timer.start();
    SyncClient computer(service, token);
    QFuture<void> done = computer.engine->sync();
    while (!done.isFinished())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    computer.store->flushPendingSaves();
    const bool synced = computer.engine->status().kind == SyncEngine::Status::synced;
    // The store keeps every document's text in memory: what is resident
    // after the sync is mostly that, the peak above it the sync's own.
    std::printf("first sync: %lld documents in %.1f s, %s; peak resident %.0f MB, %.0f MB after\n",
                qlonglong(computer.store->documents().size()), timer.nsecsElapsed() / 1e9,
                synced ? "synced" : qPrintable(computer.engine->status().message),
                memoryOf(QCoreApplication::applicationPid(), "VmHWM:") / 1e6,
                memoryOf(QCoreApplication::applicationPid(), "VmRSS:") / 1e6);
    return synced ? 0 : 1;
}

// A connection to loopback in `family`; when `from` > 0, from an address
// of a client group of its own: 127.0.<from>.1, or fd00:a:<from>::1 (an
// IPv6 /48 each, which must be on lo: ip -6 addr add fd00:a:<n>::1/128 dev
// lo nodad).
int connectTo(int family, quint16 port, int from = 0)
{
    const int fd = ::socket(family, SOCK_STREAM, 0);
    sockaddr_storage source{}, target{};
    socklen_t size = 0;
    if (family == AF_INET6) {
        auto &in6 = reinterpret_cast<sockaddr_in6 &>(target);
        in6.sin6_family = AF_INET6;
        in6.sin6_port = htons(port);
        in6.sin6_addr = in6addr_loopback;
        auto &from6 = reinterpret_cast<sockaddr_in6 &>(source);
        from6.sin6_family = AF_INET6;
        ::inet_pton(AF_INET6, qPrintable(QStringLiteral("fd00:a:%1::1").arg(from, 0, 16)), &from6.sin6_addr);
        size = sizeof(sockaddr_in6);
    } else {
        auto &in4 = reinterpret_cast<sockaddr_in &>(target);
        in4.sin_family = AF_INET;
        in4.sin_port = htons(port);
        in4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        reinterpret_cast<sockaddr_in &>(source).sin_family = AF_INET;
        reinterpret_cast<sockaddr_in &>(source).sin_addr.s_addr = htonl(0x7f000001 | (quint32(from) << 8));
        size = sizeof(sockaddr_in);
    }
    if (from > 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&source), size) != 0)
        qFatal("can't bind a source address");
    if (::connect(fd, reinterpret_cast<sockaddr *>(&target), size) != 0)
        qFatal("can't connect to the service");
    return fd;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.value(1) == QLatin1String("--client"))
        return firstSync(QUrl(args.value(2)), args.value(3));
    const auto option = [&](const char *name, const QString &fallback) {
        const qsizetype at = args.indexOf(QLatin1String(name));
        return at > 0 ? args.value(at + 1) : fallback;
    };
    const QString servicePath = option("--service", TESSIVO_BUILD_DIR "/tessivo-service/tessivo-service");
    const qint64 unreadMiB = option("--unread-mib", "200").toLongLong();
    const qint64 accountMiB = option("--account-mib", "900").toLongLong();
    const int pulls = option("--pulls", "6").toInt();
    const QString groups = option("--groups", "");
    const int family = groups == QLatin1String("v6") ? AF_INET6 : AF_INET;
    const qint64 documentMiB = std::max(1LL, option("--document-mib", "1").toLongLong());

    QTemporaryDir dir;
    const QString database = option("--database", "sqlite:" + dir.filePath("bench.sqlite"));
    ServerOptions options;
    options.database = database;
    options.port = 0;
    options.passwordIterations = 1000;
    Account account;
    {
        Server setup(options);
        if (!setup.start())
            qFatal("setup failed");
        account = setup.hooks().registerUser("memory@example.com", "M");
        addDocuments(setup.hooks(), account.userId, unreadMiB, documentMiB);
    }

    const auto startService = [&](QProcess &service) {
        service.setProgram(servicePath);
        service.setArguments(
            {"--listen", family == AF_INET6 ? "[::1]:0" : "127.0.0.1:0", "--database", database});
        service.start();
        service.waitForReadyRead(20000);
        return QRegularExpression("http://(127\\.0\\.0\\.1|\\[::1\\]):\\d+")
            .match(service.readAllStandardOutput())
            .captured(0);
    };

    {
        QProcess service;
        const QUrl base(startService(service));
        const qint64 pid = service.processId();
        std::printf("service at rest: %.0f MB resident\n", memoryOf(pid, "VmRSS:") / 1e6);
        QList<int> sockets;
        const QByteArray request = "GET /api/v1/documents/sync?since=0 HTTP/1.1\r\nhost: localhost\r\n"
                                   "authorization: Bearer " +
                                   account.sessionToken.toLatin1() + "\r\n\r\n";
        for (int i = 0; i < pulls; ++i) {
            sockets << connectTo(family, quint16(base.port()), groups.isEmpty() ? 0 : i + 1);
            if (::send(sockets.last(), request.constData(), size_t(request.size()), 0) != request.size())
                qFatal("send failed");
        }
        QElapsedTimer timer;
        timer.start();
        qint64 peak = 0, last = 0;
        while (timer.elapsed() < 10000) {
            last = memoryOf(pid, "VmRSS:");
            peak = std::max(peak, last);
            QThread::msleep(100);
        }
        // Five seconds after the peak, or after the requests when the
        // peak was the last sample.
        QThread::msleep(5000);
        last = memoryOf(pid, "VmRSS:");
        std::printf("%d unread pulls of %lld MiB: peak %.0f MB resident in 10 s, %.0f MB 5 s later "
                    "(high-water mark %.0f MB)\n",
                    pulls, qlonglong(unreadMiB), peak / 1e6, last / 1e6, memoryOf(pid, "VmHWM:") / 1e6);
        for (int fd : std::as_const(sockets))
            ::close(fd);
        service.kill();
        service.waitForFinished();
    }

    if (accountMiB == 0) // the unread pulls alone
        return 0;
    if (accountMiB > unreadMiB) {
        Server setup(options);
        if (!setup.start())
            qFatal("setup failed");
        addDocuments(setup.hooks(), account.userId, accountMiB - unreadMiB, documentMiB);
    }
    QProcess service;
    const QString base = startService(service);
    QProcess client;
    client.setProcessChannelMode(QProcess::ForwardedChannels);
    client.start(app.applicationFilePath(), {"--client", base, account.sessionToken});
    client.waitForFinished(-1);
    std::printf("service peak while serving it: %.0f MB resident\n",
                memoryOf(service.processId(), "VmHWM:") / 1e6);
    service.kill();
    service.waitForFinished();
    return client.exitCode();
}
