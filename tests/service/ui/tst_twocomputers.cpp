// Two computers of one user: two real Tessivo processes, each with its own
// home and XDG folders, X display and session bus, signed in through the
// browser callback as a user would, typing with keys into one shared
// document while a real service (in this process) sits between them. Every
// typed line must end up on both computers and on the service, in the
// document itself or in exactly one conflicted copy.
#include "AtSpi.h"
#include "TestNeeds.h"
#include "service/LocalServer.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace tessivo::server;

namespace {

const QString syncPath = u"/api/v1/documents/sync"_s;
const QString documentId = u"plan"_s;
const QString base = u"# Plan\n\nbase"_s;

QString binary()
{
    return QStringLiteral(TESSIVO_BUILD_DIR "/Tessivo/tessivo");
}

// An X server of its own: a window that is in front stays in front, and no
// activation (which syncs) happens but those the test makes.
// What this test starts must not hold the files it was given: a bus left
// behind by a failed run, holding the test runner's output pipe, would keep
// the runner waiting for the end of that output until its time-out.
void keepOwnFiles()
{
    for (int fd = 3; fd < 1024; ++fd)
        if (const int flags = fcntl(fd, F_GETFD); flags >= 0)
            fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
}

pid_t startXServer(QString *display)
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        keepOwnFiles();
        fcntl(fds[1], F_SETFD, 0);
        const std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x900x24", "-nolisten", "tcp",
               static_cast<char *>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(fds[0]);
    if (pid < 0 || number.empty())
        return -1;
    *display = u":"_s + QString::fromStdString(number);
    return pid;
}

struct Text
{
    QString main;       // the shared document's body
    QStringList copies; // bodies of live conflicted copies
    bool hasMain = false;

    QString describe() const
    {
        QStringList sorted = copies;
        sorted.sort();
        return (hasMain ? main : u"(none)"_s) + u" + copies: "_s + sorted.join(u" / "_s);
    }
};

Text textOf(const QList<QJsonObject> &documents)
{
    Text out;
    for (const QJsonObject &d : documents) {
        if (!d.value(u"deletedAt"_s).isNull() && !d.value(u"deletedAt"_s).isUndefined())
            continue;
        if (d.value(u"id"_s).toString() == documentId) {
            out.main = d.value(u"body"_s).toString();
            out.hasMain = true;
        } else if (d.value(u"title"_s).toString().endsWith(u" (conflicted copy)"_s)) {
            out.copies << d.value(u"body"_s).toString();
        }
    }
    return out;
}

// Every line is in the document or in exactly one copy, and no loser was
// kept twice.
QString lostLines(const Text &text, const QStringList &lines)
{
    if (!text.hasMain)
        return u"no document"_s;
    if (text.copies.size() > 1)
        return u"%1 conflicted copies"_s.arg(text.copies.size());
    QStringList lost;
    for (const QString &line : lines) {
        const bool inMain = text.main.contains(line);
        const qsizetype inCopies = std::count_if(text.copies.cbegin(), text.copies.cend(),
                                                 [&](const QString &c) { return c.contains(line); });
        if (!inMain && inCopies != 1)
            lost << line;
    }
    return lost.isEmpty() ? QString() : u"lost: "_s + lost.join(u", "_s) + u"; document: "_s + text.main;
}

} // namespace

class TestTwoComputers : public QObject
{
    Q_OBJECT

    struct Computer
    {
        QString name;
        QTemporaryDir home;
        pid_t xserver = -1;
        QString display;
        QString bus;
        qint64 busPid = 0;
        QProcess app;
        QByteArray bearer;
        QString window;
        std::unique_ptr<atspi::Bus> a11y;

        QString dataDir() const { return home.filePath(u"data/Tessivo"_s); }

        // Also when a failed check ends the test before its shutDown().
        ~Computer()
        {
            if (busPid > 0)
                ::kill(pid_t(busPid), SIGTERM);
            if (xserver > 0) {
                ::kill(xserver, SIGTERM);
                waitpid(xserver, nullptr, 0);
            }
        }
    };

    QTemporaryDir m_serviceDir;
    std::unique_ptr<Server> m_server;
    quint16 m_port = 0;
    Account m_account;
    std::unique_ptr<Computer> m_a, m_b;

    void startService()
    {
        ServerOptions options;
        options.listen = {{QHostAddress::LocalHost, m_port}};
        options.database = u"sqlite:"_s + m_serviceDir.filePath(u"service.sqlite"_s);
        options.passwordIterations = 1000;
        m_server = std::make_unique<Server>(options);
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
        m_port = quint16(m_server->baseUrl().port());
    }

    QProcessEnvironment environment(const Computer &c) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"HOME"_s, c.home.path());
        env.insert(u"XDG_DATA_HOME"_s, c.home.filePath(u"data"_s));
        env.insert(u"XDG_CONFIG_HOME"_s, c.home.filePath(u"config"_s));
        env.insert(u"XDG_CACHE_HOME"_s, c.home.filePath(u"cache"_s));
        env.insert(u"XDG_RUNTIME_DIR"_s, c.home.filePath(u"run"_s));
        env.insert(u"DISPLAY"_s, c.display);
        env.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
        env.remove(u"WAYLAND_DISPLAY"_s);
        env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, c.bus);
        env.insert(u"TESSIVO_TEST_SERVICE_URL"_s, u"http://127.0.0.1:%1"_s.arg(m_port));
        env.insert(u"BROWSER"_s, c.home.filePath(u"browser.sh"_s));
        env.insert(u"QTWEBENGINE_DISABLE_SANDBOX"_s, u"1"_s);
        env.insert(u"QT_LINUX_ACCESSIBILITY_ALWAYS_ON"_s, u"1"_s);
        return env;
    }

    QString xdotool(const Computer &c, const QStringList &arguments)
    {
        QProcess p;
        p.setProcessEnvironment(environment(c));
        p.start(u"xdotool"_s, arguments);
        p.waitForFinished(TestWaits::limitMs);
        return QString::fromUtf8(p.readAllStandardOutput()).section(u'\n', 0, 0).trimmed();
    }

    QString window(const Computer &c, const QString &title)
    {
        QString id;
        (void)QTest::qWaitFor(
            [&] {
                return !(id = xdotool(c, {"search", "--onlyvisible", "--name", title})).isEmpty();
            },
            TestWaits::limitMs);
        return id;
    }

    std::unique_ptr<Computer> boot(const QString &name)
    {
        auto c = std::make_unique<Computer>();
        c->name = name;
        for (const char *dir : {"data", "config", "cache", "run"})
            QDir().mkpath(c->home.filePath(QString::fromLatin1(dir)));
        QFile::setPermissions(c->home.filePath(u"run"_s),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile browser(c->home.filePath(u"browser.sh"_s));
        if (browser.open(QIODevice::WriteOnly))
            browser.write("#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"$HOME/opened\"\n");
        browser.close();
        browser.setPermissions(browser.permissions() | QFile::ExeOwner);
        c->xserver = startXServer(&c->display);
        // The services the bus starts (the accessibility bus among them)
        // belong to this computer: its bus and its display.
        const QString busAddress = u"unix:path="_s + c->home.filePath(u"run/bus"_s);
        QProcessEnvironment busEnvironment = QProcessEnvironment::systemEnvironment();
        busEnvironment.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, busAddress);
        busEnvironment.insert(u"DISPLAY"_s, c->display);
        QProcess bus;
        bus.setProcessEnvironment(busEnvironment);
        bus.setChildProcessModifier(keepOwnFiles);
        bus.start(u"dbus-daemon"_s, {u"--session"_s, u"--fork"_s, u"--address="_s + busAddress,
                                     u"--print-address=1"_s, u"--print-pid=1"_s});
        bus.waitForFinished(TestWaits::limitMs);
        const QStringList out =
            QString::fromUtf8(bus.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        if (out.size() >= 2) {
            c->bus = out.at(0).trimmed();
            c->busPid = out.at(1).trimmed().toLongLong();
        }
        c->a11y = std::make_unique<atspi::Bus>(c->bus, u"a11y-"_s + name);
        c->app.setProcessEnvironment(environment(*c));
        c->app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        c->app.setChildProcessModifier(keepOwnFiles);
        c->app.start(binary());
        return c;
    }

    void shutDown(std::unique_ptr<Computer> &c)
    {
        if (!c)
            return;
        if (c->app.state() != QProcess::NotRunning) {
            c->app.terminate();
            if (!c->app.waitForFinished(TestWaits::limitMs))
                c->app.kill();
        }
        c->a11y.reset();
        c.reset();
    }

    // The object named `name` in a role, once one of the app's windows
    // shows it.
    std::optional<atspi::Ref> shown(const Computer &c, const QString &name, const QString &role)
    {
        std::optional<atspi::Ref> found;
        (void)QTest::qWaitFor([&] { return (found = c.a11y->find(name, role)).has_value(); },
                              TestWaits::limitMs);
        return found;
    }

    bool press(const Computer &c, const QString &name, const QString &role)
    {
        const std::optional<atspi::Ref> object = shown(c, name, role);
        return object && c.a11y->press(*object);
    }

    // A click in the middle of what the object shows, as a user's.
    bool click(const Computer &c, const QString &name, const QString &role)
    {
        const std::optional<atspi::Ref> object = shown(c, name, role);
        const QRect rect = object ? c.a11y->extents(*object) : QRect();
        if (rect.isEmpty())
            return false;
        xdotool(c, {"mousemove", QString::number(rect.center().x()), QString::number(rect.center().y()),
                    "click", "1"});
        return true;
    }

    // Requests this computer made (by its session's bearer token).
    int requestsOf(const Computer &c, const QString &path, const QByteArray &method = "GET")
    {
        int n = 0;
        for (const LoggedRequest &r : m_server->hooks().requestLog())
            if (r.path == path && r.method == method && r.header("authorization") == c.bearer)
                ++n;
        return n;
    }

    // Settings, Account tab, "Continue with GitHub"; the service's page
    // sends the browser back with a one-time token, which a second launch
    // hands to the running app.
    void signIn(Computer &c)
    {
        c.window = window(c, u"^Tessivo$"_s);
        QVERIFY(!c.window.isEmpty());
        xdotool(c, {"windowfocus", "--sync", c.window});
        xdotool(c, {"key", "ctrl+comma"});
        const QString settings = window(c, u"^Settings$"_s);
        QVERIFY(!settings.isEmpty());
        xdotool(c, {"windowfocus", "--sync", settings});
        QVERIFY(c.a11y->isConnected());
        QVERIFY(press(c, u"Account"_s, u"page tab"_s));
        // The button shows once the keyring's first read has ended, or has
        // waited too long (this bus has no keyring that answers): until then
        // the tab offers neither "Sign in" nor a user.
        QVERIFY(press(c, u"Continue with GitHub"_s, u"push button"_s));
        QVERIFY(
            QTest::qWaitFor([&] { return QFile::exists(c.home.filePath(u"opened"_s)); }, TestWaits::limitMs));
        m_server->hooks().clearRequestLog();
        const QString ott = m_server->hooks().mintOneTimeToken(m_account.userId);
        QProcess second;
        second.setProcessEnvironment(environment(c));
        second.start(binary(), {u"tessivo://auth?ott="_s + ott});
        QVERIFY(second.waitForFinished(TestWaits::limitMs));
        QVERIFY(QTest::qWaitFor(
            [&] {
                for (const LoggedRequest &r : m_server->hooks().requestLog())
                    if (r.path == u"/api/v1/me"_s && c.bearer.isEmpty())
                        c.bearer = r.header("authorization");
                return !c.bearer.isEmpty();
            },
            TestWaits::limitMs));
        xdotool(c, {"windowfocus", "--sync", settings});
        xdotool(c, {"key", "Escape"});
        QTRY_VERIFY_WITH_TIMEOUT(xdotool(c, {"search", "--onlyvisible", "--name", "^Settings$"}).isEmpty(),
                                 TestWaits::limitMs);
    }

    // A click on the document in the sidebar opens it, and one in the
    // editor puts the caret there.
    void open(Computer &c)
    {
        xdotool(c, {"windowfocus", "--sync", c.window});
        QVERIFY(click(c, u"Plan"_s, u"list item"_s));
        // The editor's counts are the document's.
        QVERIFY(shown(c, u"%1 characters"_s.arg(base.size()), u"label"_s));
        QVERIFY(click(c, QString(), u"text"_s));
        QVERIFY(QTest::qWaitFor(
            [&] {
                const std::optional<atspi::Ref> editor = c.a11y->find(QString(), u"text"_s);
                return editor && c.a11y->hasState(*editor, atspi::focused);
            },
            TestWaits::limitMs));
    }

    void typeLine(Computer &c, const QString &line)
    {
        xdotool(c, {"key", "ctrl+End"});
        xdotool(c, {"key", "Return", "Return"});
        xdotool(c, {"type", "--delay", "20", line});
        QTRY_VERIFY_WITH_TIMEOUT(fileText(c).main.contains(line), TestWaits::limitMs);
    }

    // "Sync Now" in the Account tab; returns once the computer has settled.
    void syncNow(Computer &c)
    {
        const int before = requestsOf(c, syncPath);
        xdotool(c, {"key", "ctrl+comma"});
        const QString settings = window(c, u"^Settings$"_s);
        xdotool(c, {"windowfocus", "--sync", settings});
        QVERIFY(press(c, u"Account"_s, u"page tab"_s));
        QVERIFY(press(c, u"Sync Now"_s, u"push button"_s));
        QTRY_VERIFY_WITH_TIMEOUT(requestsOf(c, syncPath) > before, TestWaits::limitMs);
        settle(c);
        xdotool(c, {"key", "Escape"});
        xdotool(c, {"windowfocus", "--sync", c.window});
    }

    // Until the computer's passes have ended with its documents as the
    // service has them (copies it made included) and it says so.
    void settle(Computer &c)
    {
        QString local, service;
        const bool same = QTest::qWaitFor(
            [&] {
                local = fileText(c).describe();
                service = serviceText().describe();
                return local == service && c.a11y->find(u"Synced across devices"_s, u"label"_s);
            },
            TestWaits::limitMs);
        QVERIFY2(same, qPrintable(u"%1: %2 | service: %3"_s.arg(c.name, local, service)));
    }

    Text fileText(const Computer &c)
    {
        QList<QJsonObject> documents;
        QDir dir(c.dataDir() + u"/documents"_s);
        for (const QString &name : dir.entryList({u"*.json"_s}, QDir::Files)) {
            QFile f(dir.filePath(name));
            if (f.open(QIODevice::ReadOnly))
                documents << QJsonDocument::fromJson(f.readAll()).object();
        }
        return textOf(documents);
    }

    Text serviceText()
    {
        const QString token = m_server->hooks().issueSessionToken(m_account.userId);
        QNetworkAccessManager net;
        QNetworkRequest request(QUrl(u"http://127.0.0.1:%1%2?since=0"_s.arg(m_port).arg(syncPath)));
        request.setRawHeader("authorization", "Bearer " + token.toLatin1());
        std::unique_ptr<QNetworkReply> reply(net.get(request));
        if (!QTest::qWaitFor([&] { return reply->isFinished(); }, TestWaits::limitMs))
            return {};
        QList<QJsonObject> documents;
        for (const QJsonValue &d :
             QJsonDocument::fromJson(reply->readAll()).object()[u"documents"_s].toArray())
            documents << d.toObject();
        return textOf(documents);
    }

    void expectNothingLost(const QStringList &lines)
    {
        QString a, b, service;
        const bool ok = QTest::qWaitFor(
            [&] {
                a = lostLines(fileText(*m_a), lines);
                b = lostLines(fileText(*m_b), lines);
                service = lostLines(serviceText(), lines);
                return a.isEmpty() && b.isEmpty() && service.isEmpty();
            },
            TestWaits::limitMs);
        QVERIFY2(ok, qPrintable(u"A: %1 | B: %2 | service: %3"_s.arg(a, b, service)));
    }

private Q_SLOTS:
    void initTestCase()
    {
        for (const QString &tool : {u"xdotool"_s, u"Xvfb"_s, u"dbus-daemon"_s})
            TESSIVO_NEED(TestNeeds::program(tool));
        TESSIVO_NEED(TestNeeds::file(binary(), u"the tessivo binary"_s));
    }

    void init()
    {
        QFile::remove(m_serviceDir.filePath(u"service.sqlite"_s));
        m_port = 0;
        startService();
        m_account = m_server->hooks().registerUser(u"writer@example.com"_s, u"Writer"_s);
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        m_server->hooks().injectDocument(
            m_account.userId,
            {{"id", documentId}, {"title", "Plan"}, {"body", base}, {"createdAt", now}, {"updatedAt", now}});
        m_a = boot(u"A"_s);
        m_b = boot(u"B"_s);
        for (Computer *c : {m_a.get(), m_b.get()}) {
            signIn(*c);
            QVERIFY(!QTest::currentTestFailed());
            QTRY_VERIFY_WITH_TIMEOUT(fileText(*c).main == base, TestWaits::limitMs);
            open(*c);
        }
    }

    void cleanup()
    {
        shutDown(m_a);
        shutDown(m_b);
        m_server.reset();
    }

    void everyLineSurvives_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<bool>("aFirst");
        QTest::newRow("both online, A first") << u"online"_s << true;
        QTest::newRow("both online, B first") << u"online"_s << false;
        QTest::newRow("both offline, A first") << u"offline"_s << true;
        QTest::newRow("both offline, B first") << u"offline"_s << false;
        QTest::newRow("A's push lands between B's pull and push") << u"race"_s << true;
    }

    void everyLineSurvives()
    {
        QFETCH(QString, scenario);
        QFETCH(bool, aFirst);
        Computer &first = aFirst ? *m_a : *m_b;
        Computer &second = aFirst ? *m_b : *m_a;
        const QString firstLine = u"typed on %1 first"_s.arg(first.name);
        const QString secondLine = u"typed on %1 second"_s.arg(second.name);

        if (scenario == u"online"_s) {
            // The second computer's window stays in front: nothing syncs
            // it until its own edit is debounced.
            typeLine(first, firstLine);
            QTRY_VERIFY_WITH_TIMEOUT(serviceText().main.contains(firstLine), TestWaits::limitMs);
            typeLine(second, secondLine);
            QTRY_VERIFY_WITH_TIMEOUT(serviceText().main.contains(secondLine), TestWaits::limitMs);
            settle(second);
            syncNow(first);
        } else if (scenario == u"offline"_s) {
            m_server.reset();
            typeLine(first, firstLine);
            typeLine(second, secondLine);
            // Both debounced passes have failed.
            for (const Computer *c : {m_a.get(), m_b.get()})
                QVERIFY(shown(*c, u"Offline, saved locally"_s, u"label"_s));
            startService();
            for (Computer *c : {m_a.get(), m_b.get(), m_a.get(), m_b.get()})
                syncNow(*c);
        } else {
            // Both pushes wait: the second computer's pull is answered
            // before the first push is stored, and its push after it.
            const int firstPushes = requestsOf(first, syncPath, "POST");
            const int secondPushes = requestsOf(second, syncPath, "POST");
            m_server->hooks().holdRequests("POST", syncPath, 2);
            typeLine(first, firstLine);
            QTRY_VERIFY_WITH_TIMEOUT(requestsOf(first, syncPath, "POST") > firstPushes, TestWaits::limitMs);
            typeLine(second, secondLine);
            QTRY_VERIFY_WITH_TIMEOUT(requestsOf(second, syncPath, "POST") > secondPushes, TestWaits::limitMs);
            QVERIFY(m_server->hooks().releaseHeldRequest());
            QTRY_VERIFY_WITH_TIMEOUT(serviceText().main.contains(firstLine), TestWaits::limitMs);
            QVERIFY(m_server->hooks().releaseHeldRequest());
            settle(second);
            syncNow(first);
        }
        expectNothingLost({firstLine, secondLine});
    }
};

QTEST_GUILESS_MAIN(TestTwoComputers)
#include "tst_twocomputers.moc"
