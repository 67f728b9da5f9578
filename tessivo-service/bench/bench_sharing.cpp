// Sharing between many neighbouring client groups, with the real
// `tessivo-service` binary on [::1], run with 1,024 descriptors (960
// connection slots) as on a default system. The attackers come from the
// IPv6 /48s fd00:a:<n>::/48 of one /32; the honest client from another
// /32 (fd00:b:1::1). The bench puts these addresses on lo (as root:
// ip -6 addr add fd00:a:<n>::1/128 dev lo nodad).
//   slots: one slow push (a 60 KB body at 1.3 KiB/s) from each of 1,000
//     /48s; a fresh client asks for the home page five times, 2 s apart.
//   pulls: one unread pull of a 192 MiB account (12 documents of 16 MiB)
//     from each of 100 /48s; an honest client pulls a 300 KiB document
//     three times. The time until its reply starts and ends.
//   bodies: pushes of 2.6 MiB trickling at 1.2 KiB/s from two accounts,
//     one from each of 100 /48s; an honest push of 10 MiB from a third.
//   signin: 100 /48s guess an account's password, coming back when told;
//     its owner asks once the account is paced, coming back when told.
// Usage: bench_sharing slots|pulls|bodies|signin [--service PATH]
//        [--database SPEC] [--groups N]

#include "TestHooks.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

using namespace tessivo::server;

namespace {

constexpr qint64 mebibyte = 1024 * 1024;
quint16 servicePort = 0;

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

QString attacker(int n)
{
    return QStringLiteral("fd00:a:%1::1").arg(n, 0, 16);
}
const QString honest = QStringLiteral("fd00:b:1::1");

void addAddresses(int groups)
{
    QStringList script;
    for (int n = 1; n <= groups; ++n)
        script << QStringLiteral("addr add %1/128 dev lo nodad").arg(attacker(n));
    script << QStringLiteral("addr add %1/128 dev lo nodad").arg(honest);
    QProcess ip;
    ip.start(QStringLiteral("ip"), {"-6", "-force", "-batch", "-"});
    ip.write(script.join(u'\n').toLatin1() + '\n');
    ip.closeWriteChannel();
    ip.waitForFinished(); // addresses already there are reported, not fatal
}

// A blocking connection to the service from `from`; -1 when refused.
int connectFrom(const QString &from, int receiveBuffer = 0)
{
    const int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
    if (receiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in6 source{}, target{};
    source.sin6_family = target.sin6_family = AF_INET6;
    ::inet_pton(AF_INET6, qPrintable(from), &source.sin6_addr);
    target.sin6_addr = in6addr_loopback;
    target.sin6_port = htons(servicePort);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&source), sizeof source) != 0)
        qFatal("can't bind %s: put it on lo", qPrintable(from));
    if (::connect(fd, reinterpret_cast<sockaddr *>(&target), sizeof target) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void sendAll(int fd, const QByteArray &bytes)
{
    for (qsizetype sent = 0; sent < bytes.size();) {
        const ssize_t n = ::send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += n;
    }
}

struct Exchange
{
    int status = 0;
    QByteArray head;
    QByteArray body;
    double startSeconds = -1; // first byte of the reply
    double seconds = -1;      // the reply whole, or the connection closed
};

// Reads a reply until the connection closes (every request here asks for
// "connection: close") or `limitMs` pass.
Exchange readReply(int fd, const QElapsedTimer &timer, qint64 limitMs)
{
    Exchange e;
    QByteArray in;
    char buffer[65536];
    while (timer.elapsed() < limitMs) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0)
            continue;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        if (e.startSeconds < 0)
            e.startSeconds = timer.elapsed() / 1000.0;
        in.append(buffer, n);
    }
    e.seconds = timer.elapsed() / 1000.0;
    const qsizetype end = in.indexOf("\r\n\r\n");
    e.head = in.left(end);
    e.body = end < 0 ? QByteArray() : in.mid(end + 4);
    e.status = in.startsWith("HTTP/1.") ? in.mid(9, 3).toInt() : 0;
    return e;
}

QByteArray header(const QByteArray &head, const QByteArray &name)
{
    for (const QByteArray &line : head.split('\n')) {
        if (line.toLower().startsWith(name + ':'))
            return line.mid(name.size() + 1).trimmed();
    }
    return {};
}

QByteArray pushHead(const QString &token, qint64 length, const QByteArray &extra = {})
{
    return "POST /api/v1/documents/sync HTTP/1.1\r\nhost: localhost\r\nconnection: close\r\n"
           "authorization: Bearer " +
           token.toLatin1() +
           "\r\ncontent-type: application/json\r\ncontent-length: " + QByteArray::number(length) + "\r\n" +
           extra + "\r\n";
}

QByteArray pullRequest(const QString &token)
{
    return "GET /api/v1/documents/sync?since=0 HTTP/1.1\r\nhost: localhost\r\nconnection: close\r\n"
           "authorization: Bearer " +
           token.toLatin1() + "\r\n\r\n";
}

QJsonObject document(const QString &id, const QString &body)
{
    return {{"id", id}, {"title", id}, {"body", body}, {"createdAt", 1}, {"updatedAt", 1}};
}

// Senders of bodies that keep `bytesPerSecond` each, from one thread. One
// whose connection is answered or closed starts again at once.
struct Tricklers
{
    std::vector<int> fds;
    std::vector<qint64> left;
    qint64 bytesPerSecond;
    std::function<int(size_t)> open; // a new sender's connection, its head sent
    qint64 length;
    std::atomic<int> refused = 0;

    void add(size_t i)
    {
        const int fd = open(i);
        if (fd >= 0)
            ::fcntl(fd, F_SETFL, O_NONBLOCK);
        if (i < fds.size()) {
            fds[i] = fd;
            left[i] = length;
        } else {
            fds.push_back(fd);
            left.push_back(length);
        }
    }

    void tick() // once a second
    {
        static const QByteArray spaces(64 * 1024, ' ');
        for (size_t i = 0; i < fds.size(); ++i) {
            if (fds[i] < 0)
                continue;
            char scratch[4096];
            const ssize_t got = ::recv(fds[i], scratch, sizeof scratch, MSG_DONTWAIT);
            if (got == 0 || got > 0) {
                ::close(fds[i]);
                ++refused;
                add(i);
                continue;
            }
            const qint64 n = std::min(left[i], bytesPerSecond);
            if (n > 0 && ::send(fds[i], spaces.constData(), size_t(n), MSG_NOSIGNAL | MSG_DONTWAIT) > 0)
                left[i] -= n;
        }
    }
    int answered() const { return refused; }
};

// Trickles until `done` is set, the honest client running beside.
void trickleWhile(Tricklers &tricklers, const std::atomic<bool> &done)
{
    QElapsedTimer clock;
    clock.start();
    for (qint64 next = 0; !done;) {
        if (clock.elapsed() >= next) {
            tricklers.tick();
            next += 1000;
        }
        QThread::msleep(20);
    }
}

int connectionSlots(int groups)
{
    const qint64 length = 60000;
    Tricklers crowd{{},
                    {},
                    1331,
                    [](size_t i) {
                        const int fd = connectFrom(attacker(int(i) + 1));
                        sendAll(fd,
                                "POST /api/v1/documents/sync HTTP/1.1\r\nhost: localhost\r\ncontent-type: "
                                "application/json\r\ncontent-length: " +
                                    QByteArray::number(length) + "\r\n\r\n");
                        return fd;
                    },
                    length};
    for (int n = 1; n <= groups; ++n) {
        crowd.add(size_t(n - 1));
        if (n % 100 == 0)
            crowd.tick();
    }
    std::atomic<bool> done = false;
    std::thread probes([&] {
        QThread::msleep(12000); // past the head deadline of any that waited
        for (int i = 0; i < 5; ++i) {
            QElapsedTimer timer;
            timer.start();
            const int fd = connectFrom(honest);
            const double connected = timer.elapsed() / 1000.0;
            sendAll(fd, "GET / HTTP/1.1\r\nhost: localhost\r\nconnection: close\r\n\r\n");
            const Exchange e = readReply(fd, timer, 30000);
            std::printf("(connected after %.2f s, first byte after %.2f s)\n", connected, e.startSeconds);
            ::close(fd);
            std::printf("fresh client from another /32: %d after %.2f s (slow pushes answered or cut so "
                        "far: %d, each sent again)\n",
                        e.status, e.seconds, crowd.answered());
            std::fflush(stdout);
            QThread::msleep(2000);
        }
        done = true;
    });
    trickleWhile(crowd, done);
    probes.join();
    return 0;
}

int pulls(int groups, const QString &attackerToken, const QString &honestToken, qint64 pid)
{
    std::vector<int> unread;
    for (int n = 1; n <= groups; ++n) {
        const int fd = connectFrom(attacker(n), 4096);
        sendAll(fd, pullRequest(attackerToken));
        unread.push_back(fd);
    }
    QThread::msleep(10000);
    std::printf("%d unread pulls of 192 MiB: service at %.0f MB resident\n", groups,
                memoryOf(pid, "VmRSS:") / 1e6);
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer timer;
        timer.start();
        const int fd = connectFrom(honest);
        sendAll(fd, pullRequest(honestToken));
        const Exchange e = readReply(fd, timer, 90000);
        ::close(fd);
        std::printf("honest pull of 300 KiB from another /32: %d, started after %.2f s, whole after "
                    "%.2f s (%lld bytes)\n",
                    e.status, e.startSeconds, e.seconds, qlonglong(e.body.size()));
        std::fflush(stdout);
    }
    std::printf("service peak: %.0f MB resident\n", memoryOf(pid, "VmHWM:") / 1e6);
    for (int fd : unread)
        ::close(fd);
    return 0;
}

int bodies(int groups, const QString &ann, const QString &bob, const QString &cat)
{
    const qint64 length = 2726297; // 2.6 MiB
    Tricklers crowd{{},
                    {},
                    1229,
                    [&](size_t i) {
                        const int fd = connectFrom(attacker(int(i) + 1));
                        sendAll(fd, pushHead(i % 2 ? ann : bob, length));
                        return fd;
                    },
                    length};
    for (int n = 1; n <= groups; ++n)
        crowd.add(size_t(n - 1));
    std::atomic<bool> done = false;
    std::thread honestClient([&] {
        QThread::msleep(5000);
        std::printf("%d trickling pushes refused or cut in the first 5 s, each sent again\n",
                    crowd.answered());
        const QByteArray body =
            QJsonDocument(QJsonObject{{"docs", QJsonArray{document("ten", QString(10 * mebibyte, u'x'))}},
                                      {"collections", QJsonArray{}}})
                .toJson(QJsonDocument::Compact);
        for (int i = 0; i < 3; ++i) {
            QElapsedTimer timer;
            timer.start();
            const int fd = connectFrom(honest);
            sendAll(fd, pushHead(cat, body.size(), "expect: 100-continue\r\n"));
            char first[256];
            pollfd p{fd, POLLIN, 0};
            ::poll(&p, 1, 30000);
            const ssize_t got = ::recv(fd, first, sizeof first, MSG_PEEK);
            const QByteArray interim(first, int(std::max<ssize_t>(got, 0)));
            if (interim.startsWith("HTTP/1.1 100")) {
                ::recv(fd, first, size_t(interim.indexOf("\r\n\r\n") + 4), 0);
                sendAll(fd, body);
            }
            const Exchange e = readReply(fd, timer, 60000);
            ::close(fd);
            std::printf("honest push of %.1f MiB from another /32: %d after %.2f s (trickling pushes "
                        "refused or cut so far: %d)\n",
                        double(body.size()) / mebibyte, e.status, e.seconds, crowd.answered());
            std::fflush(stdout);
            QThread::msleep(2000);
        }
        done = true;
    });
    trickleWhile(crowd, done);
    honestClient.join();
    return 0;
}

// One sign-in form post; its status, and the wait Retry-After asks for.
int signIn(const QString &from, const QByteArray &password, qint64 *retryMs)
{
    const QByteArray form = "provider=github&mode=signin&email=owner%40example.com&password=" + password;
    const int fd = connectFrom(from);
    QElapsedTimer timer;
    timer.start();
    sendAll(fd, "POST /api/v1/auth/native-signin HTTP/1.1\r\nhost: localhost\r\nconnection: close\r\n"
                "content-type: application/x-www-form-urlencoded\r\ncontent-length: " +
                    QByteArray::number(form.size()) + "\r\n\r\n" + form);
    const Exchange e = readReply(fd, timer, 60000);
    ::close(fd);
    *retryMs = header(e.head, "retry-after").toLongLong() * 1000;
    return e.status;
}

int signin(int groups, qint64 limitSeconds)
{
    std::atomic<bool> done = false;
    std::atomic<int> checked = 0;
    std::vector<std::thread> guessers;
    for (int n = 1; n <= groups; ++n) {
        guessers.emplace_back([&, n] {
            QThread::msleep(n * 50);
            while (!done) {
                qint64 retry = 0;
                if (signIn(attacker(n), "guess" + QByteArray::number(n), &retry) == 401)
                    ++checked;
                for (qint64 waited = 0; !done && waited < std::max<qint64>(retry, 1000); waited += 100)
                    QThread::msleep(100);
            }
        });
    }
    QThread::msleep(30000); // the account is paced by then
    std::printf("%d guesses checked in the first 30 s\n", checked.load());
    QElapsedTimer timer;
    timer.start();
    int status = 0;
    int tries = 0;
    qint64 told = 0; // when the last 429 said to come back
    while (timer.elapsed() < limitSeconds * 1000) {
        qint64 retry = 0;
        status = signIn(honest, "owner%27s+password", &retry);
        ++tries;
        if (status != 429)
            break;
        told = timer.elapsed() + retry;
        const qint64 left = limitSeconds * 1000 - timer.elapsed();
        QThread::msleep(quint64(std::max<qint64>(0, std::min(std::max<qint64>(retry, 1000), left))));
    }
    if (status == 429)
        std::printf("owner from another /32: not in after %.1f s and %d tries, told to come back at %.0f s\n",
                    timer.elapsed() / 1000.0, tries, told / 1000.0);
    else
        std::printf("owner from another /32: %d after %.1f s and %d tries (%d guesses checked in all)\n",
                    status, timer.elapsed() / 1000.0, tries, checked.load());
    done = true;
    for (std::thread &guesser : guessers)
        guesser.join();
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const auto option = [&](const char *name, const QString &fallback) {
        const qsizetype at = args.indexOf(QLatin1String(name));
        return at > 0 ? args.value(at + 1) : fallback;
    };
    const QString scenario = args.value(1);
    const QString servicePath = option("--service", TESSIVO_BUILD_DIR "/tessivo-service/tessivo-service");
    const int groups = option("--groups", scenario == u"slots" ? "1000" : "100").toInt();
    QTemporaryDir dir;
    const QString database = option("--database", "sqlite:" + dir.filePath("bench.sqlite"));
    addAddresses(groups);

    ServerOptions options;
    options.database = database;
    options.port = 0;
    options.passwordIterations = scenario == u"signin" ? ServerOptions().passwordIterations : 1000;
    Account ann, bob, cat;
    {
        Server setup(options);
        if (!setup.start())
            qFatal("setup failed");
        ann = setup.hooks().registerUser("ann@example.com", "Ann");
        bob = setup.hooks().registerUser("bob@example.com", "Bob");
        cat = setup.hooks().registerUser("cat@example.com", "Cat");
        setup.hooks().registerUser("owner@example.com", "Owner", "owner's password");
        if (scenario == u"pulls") {
            for (int i = 0; i < 12; ++i) {
                QString body;
                for (int line = 0; body.size() < 16 * mebibyte; ++line)
                    body += QStringLiteral("line %1 of document %2, sixteen MiB of it\n").arg(line).arg(i);
                setup.hooks().injectDocument(ann.userId, document(QStringLiteral("big%1").arg(i), body));
            }
            setup.hooks().injectDocument(bob.userId, document("small", QString(300 * 1024, u's')));
        }
    }

    QProcess service;
    service.setProgram(QStringLiteral("prlimit"));
    service.setArguments({"--nofile=1024:1024", servicePath, "--listen", "[::1]:0", "--database", database});
    service.start();
    service.waitForReadyRead(20000);
    const QUrl base(
        QRegularExpression("http://\\[::1\\]:\\d+").match(service.readAllStandardOutput()).captured(0));
    servicePort = quint16(base.port());
    if (servicePort == 0)
        qFatal("the service didn't start");
    std::printf("%s: %d /48s of fd00:a::/32 against %s\n", qPrintable(scenario), groups,
                qPrintable(servicePath));
    int result = 1;
    if (scenario == u"slots")
        result = connectionSlots(groups);
    else if (scenario == u"pulls")
        result = pulls(groups, ann.sessionToken, bob.sessionToken, service.processId());
    else if (scenario == u"bodies")
        result = bodies(groups, ann.sessionToken, bob.sessionToken, cat.sessionToken);
    else if (scenario == u"signin")
        result = signin(groups, option("--limit-seconds", "240").toLongLong());
    service.kill();
    service.waitForFinished();
    return result;
}
