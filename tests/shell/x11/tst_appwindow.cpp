// The real binary's main window under a window manager (openbox on an X
// server of the test's own): it shows at every start without being taken
// back first, it comes back where it was left across restarts, its frame
// lies within the screen, and Ctrl+Q quits from the settings window as
// from the main one.
#include "AppHome.h"
#include "OwnXServer.h"
#include "TestNeeds.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPoint>
#include <QRect>
#include <QTemporaryDir>

#include <xcb/xcb.h>

#include <memory>

#include <sys/stat.h>

using OwnXServer::xdotool;

namespace {

QString binary()
{
    return QStringLiteral(TESSIVO_BUILD_DIR "/Tessivo/tessivo");
}

// Listens on the root window for what happens to the top-level windows:
// a window taken off the screen by its program is reported there, whether
// the window manager had mapped it yet or not (the program then tells the
// manager by an UnmapNotify sent to the root window).
class RootWatch
{
public:
    RootWatch() : m_connection(xcb_connect(nullptr, nullptr))
    {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_connection, root, XCB_CW_EVENT_MASK, &mask);
        free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    }
    ~RootWatch() { xcb_disconnect(m_connection); }

    // How often `window` was unmapped, as seen so far.
    int unmaps(xcb_window_t window)
    {
        // A round trip: everything the server sent before it is in.
        free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
            if ((event->response_type & 0x7f) == XCB_UNMAP_NOTIFY)
                m_unmapped.append(reinterpret_cast<xcb_unmap_notify_event_t *>(event)->window);
            free(event);
        }
        return int(m_unmapped.count(window));
    }

private:
    xcb_connection_t *m_connection;
    QList<xcb_window_t> m_unmapped;
};

} // namespace

class TestAppWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_home;
    std::unique_ptr<QProcess> m_app;
    pid_t m_windowManager = -1;

    bool launch()
    {
        m_app = std::make_unique<QProcess>();
        m_app->setProcessEnvironment(appHomeEnvironment(*m_home));
        m_app->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_app->start(binary(), {});
        return m_app->waitForStarted(TestWaits::limitMs);
    }

    // The app's visible window of that title, once there is one; else empty.
    QString visibleWindow(const QString &title)
    {
        QString id;
        (void)QTest::qWaitFor(
            [&] {
                id =
                    xdotool({"search", "--all", "--onlyvisible", "--pid", QString::number(m_app->processId()),
                             "--name", QLatin1Char('^') + title + QLatin1Char('$')})
                        .section(QLatin1Char('\n'), 0, 0);
                return !id.isEmpty();
            },
            TestWaits::limitMs);
        if (id.isEmpty() && m_app->state() != QProcess::NotRunning)
            fprintf(stderr, "The app's threads (tid name: wait [syscall, first arguments]):\n%s\n",
                    qPrintable(threadsOf(m_app->processId())));
        return id;
    }

    // For a window that didn't show: whether the app is still at it.
    QString appState() const
    {
        if (m_app->state() != QProcess::NotRunning)
            return QStringLiteral("no window; the app is still running (its threads above)");
        return QStringLiteral("no window; the app ended (%1, status %2)")
            .arg(m_app->exitStatus() == QProcess::CrashExit ? QStringLiteral("crashed")
                                                            : QStringLiteral("exited"))
            .arg(m_app->exitCode());
    }

    // Where each thread of process `pid` waits, from /proc: the first clue
    // to a start-up that hangs.
    static QString threadsOf(qint64 pid)
    {
        QStringList lines;
        const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
        for (const QString &tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const auto read = [&](const char *name) {
                QFile file(tasks.filePath(tid + u'/' + QLatin1String(name)));
                return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed()
                                                      : QString();
            };
            const QString call = read("syscall").section(u' ', 0, 2);
            lines << QStringLiteral("%1 %2: %3 [%4]").arg(tid, read("comm"), read("wchan"), call);
        }
        return lines.join(u'\n');
    }

    QPoint place(const QString &id)
    {
        const QStringList lines = xdotool({"getwindowgeometry", "--shell", id}).split(QLatin1Char('\n'));
        QPoint at(-1, -1);
        for (const QString &line : lines) {
            if (line.startsWith(QLatin1String("X=")))
                at.setX(line.mid(2).toInt());
            else if (line.startsWith(QLatin1String("Y=")))
                at.setY(line.mid(2).toInt());
        }
        return at;
    }

    // The window's frame as the manager drew it: its client area grown by
    // the title bar and borders the manager says it added.
    QRect frame(const QString &id)
    {
        QRect client;
        for (const QString &line : run(QStringLiteral("xwininfo"), {"-id", id}).split(QLatin1Char('\n'))) {
            const QString value = line.section(QLatin1Char(':'), 1).trimmed();
            if (line.contains(QLatin1String("Absolute upper-left X")))
                client.moveLeft(value.toInt());
            else if (line.contains(QLatin1String("Absolute upper-left Y")))
                client.moveTop(value.toInt());
            else if (line.trimmed().startsWith(QLatin1String("Width:")))
                client.setWidth(value.toInt());
            else if (line.trimmed().startsWith(QLatin1String("Height:")))
                client.setHeight(value.toInt());
        }
        // "_NET_FRAME_EXTENTS(CARDINAL) = left, right, top, bottom"
        const QStringList extents = run(QStringLiteral("xprop"), {"-id", id, "_NET_FRAME_EXTENTS"})
                                        .section(QLatin1Char('='), 1)
                                        .split(QLatin1Char(','), Qt::SkipEmptyParts);
        if (extents.size() != 4)
            return {};
        return client.marginsAdded(QMargins(extents[0].trimmed().toInt(), extents[2].trimmed().toInt(),
                                            extents[1].trimmed().toInt(), extents[3].trimmed().toInt()));
    }

    static QString run(const QString &program, const QStringList &arguments)
    {
        QProcess process;
        process.start(program, arguments);
        process.waitForFinished(TestWaits::limitMs);
        return QString::fromUtf8(process.readAllStandardOutput());
    }

    // Ctrl+Q, typed into the window `id` as the user would; true once the
    // app has ended.
    bool quitFrom(const QString &id)
    {
        xdotool({"windowactivate", "--sync", id});
        xdotool({"key", "ctrl+q"});
        return m_app->waitForFinished(TestWaits::limitMs) && m_app->exitStatus() == QProcess::NormalExit;
    }

private Q_SLOTS:
    void initTestCase()
    {
        TESSIVO_NEED(TestNeeds::file(binary(), QStringLiteral("the tessivo binary")));
        m_windowManager = OwnXServer::startWindowManager();
        QVERIFY(m_windowManager > 0);
    }

    void cleanupTestCase()
    {
        if (m_windowManager > 0)
            OwnXServer::stopWindowManager(m_windowManager);
    }

    void init()
    {
        m_home = std::make_unique<QTemporaryDir>();
        const QString runtime = m_home->filePath(QStringLiteral("run"));
        QVERIFY(QDir().mkpath(runtime));
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void cleanup()
    {
        if (m_app && m_app->state() != QProcess::NotRunning) {
            m_app->kill();
            m_app->waitForFinished(TestWaits::limitMs);
        }
        m_app.reset();
        m_home.reset();
    }

    // Shown at start-up, the window waits for the window manager to map it:
    // taken back in that time, it may never be mapped at all.
    void theWindowIsNotTakenBackBeforeItShows()
    {
        RootWatch watch;
        QVERIFY(launch());
        const QString id = visibleWindow(QStringLiteral("Tessivo"));
        QVERIFY2(!id.isEmpty(), qPrintable(appState()));
        QCOMPARE(watch.unmaps(id.toUInt()), 0);
        QVERIFY(quitFrom(id));
    }

    // Moved and quit, the window comes back in the same place, restart
    // after restart.
    void restartsKeepTheWindowInPlace()
    {
        QVERIFY(launch());
        QString id = visibleWindow(QStringLiteral("Tessivo"));
        QVERIFY2(!id.isEmpty(), qPrintable(appState()));
        // Smaller than the screen, so that the place fits on it: a frame
        // that does not is moved in (theFrameLiesWithinTheScreen).
        xdotool({"windowsize", "--sync", id, "900", "600"});
        xdotool({"windowmove", "--sync", id, "300", "60"});
        const QPoint placed = place(id);
        QVERIFY(placed.x() >= 0);
        for (int restart = 1; restart <= 5; ++restart) {
            QVERIFY(quitFrom(id));
            QVERIFY(launch());
            id = visibleWindow(QStringLiteral("Tessivo"));
            QVERIFY2(!id.isEmpty(), qPrintable(appState()));
            // The manager places the window once it is mapped.
            QTRY_VERIFY2_WITH_TIMEOUT((place(id) - placed).manhattanLength() <= 2,
                                      qPrintable(QStringLiteral("restart %1: at %2,%3, was at %4,%5")
                                                     .arg(restart)
                                                     .arg(place(id).x())
                                                     .arg(place(id).y())
                                                     .arg(placed.x())
                                                     .arg(placed.y())),
                                      TestWaits::limitMs);
        }
        QVERIFY(quitFrom(id));
    }

    // The default size is taller than this screen with a title bar on
    // top: the first frame is made to fit, title bar included. Left partly
    // below the bottom, it comes back within the screen at the next start.
    void theFrameLiesWithinTheScreen()
    {
        TESSIVO_NEED(TestNeeds::program(QStringLiteral("xwininfo")));
        TESSIVO_NEED(TestNeeds::program(QStringLiteral("xprop")));
        const QRect screen(0, 0, 1280, 800);
        QVERIFY(launch());
        QString id = visibleWindow(QStringLiteral("Tessivo"));
        QVERIFY2(!id.isEmpty(), qPrintable(appState()));
        QTRY_VERIFY2_WITH_TIMEOUT(screen.contains(frame(id)),
                                  qPrintable(QStringLiteral("first frame %1,%2 %3x%4")
                                                 .arg(frame(id).x())
                                                 .arg(frame(id).y())
                                                 .arg(frame(id).width())
                                                 .arg(frame(id).height())),
                                  TestWaits::limitMs);
        xdotool({"windowmove", "--sync", id, "60", "400"});
        QTRY_VERIFY(frame(id).bottom() > screen.bottom());
        const QRect left = frame(id);
        QVERIFY(quitFrom(id));
        QVERIFY(launch());
        id = visibleWindow(QStringLiteral("Tessivo"));
        QVERIFY2(!id.isEmpty(), qPrintable(appState()));
        QTRY_VERIFY2_WITH_TIMEOUT(screen.contains(frame(id)),
                                  qPrintable(QStringLiteral("restored frame %1,%2 %3x%4")
                                                 .arg(frame(id).x())
                                                 .arg(frame(id).y())
                                                 .arg(frame(id).width())
                                                 .arg(frame(id).height())),
                                  TestWaits::limitMs);
        QCOMPARE(frame(id).x(), left.x());
        QVERIFY(quitFrom(id));
    }

    // Something other than a file where the app keeps one: a pipe at the
    // personal word list or at the settings file, a folder or a link at the
    // single-instance lock. The window still shows with the documents
    // listed, Ctrl+Q still ends the app, and the next launch starts; the
    // lock's launch says what is in its way.
    void hostileFilesNeitherHangNorStopTheNextLaunch_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("a pipe at the personal word list") << QStringLiteral("dictionary pipe");
        QTest::newRow("a pipe at the settings file") << QStringLiteral("settings pipe");
        QTest::newRow("a folder at the lock") << QStringLiteral("lock folder");
        QTest::newRow("a link at the lock") << QStringLiteral("lock link");
    }

    void hostileFilesNeitherHangNorStopTheNextLaunch()
    {
        QFETCH(QString, kind);
        const QString runtime = m_home->filePath(QStringLiteral("run"));
        const auto pipeAt = [](const QString &path) {
            return QDir().mkpath(QFileInfo(path).path()) &&
                   ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
        };
        QString lock;
        if (kind == u"dictionary pipe") {
            QVERIFY(pipeAt(m_home->filePath(QStringLiteral("data/Tessivo/Tessivo/dictionary.txt"))));
        } else if (kind == u"settings pipe") {
            QVERIFY(pipeAt(m_home->filePath(QStringLiteral("config/Tessivo/Tessivo.conf"))));
        } else {
            // The lock's name is the app's to choose: a first run shows it.
            QVERIFY(launch());
            const QString id = visibleWindow(QStringLiteral("Tessivo"));
            QVERIFY2(!id.isEmpty(), qPrintable(appState()));
            const QStringList locks =
                QDir(runtime).entryList({QStringLiteral("tessivo-*.lock")}, QDir::Files);
            QCOMPARE(locks.size(), 1);
            lock = runtime + u'/' + locks.first();
            QVERIFY(quitFrom(id));
            QVERIFY(QFile::remove(lock));
            if (kind == u"lock folder")
                QVERIFY(QDir().mkdir(lock));
            else
                QVERIFY(QFile::link(m_home->filePath(QStringLiteral("elsewhere")), lock));
        }
        const QString documents = m_home->filePath(QStringLiteral("data/Tessivo/documents"));
        for (int launchNumber = 1; launchNumber <= 2; ++launchNumber) {
            m_app = std::make_unique<QProcess>();
            m_app->setProcessEnvironment(appHomeEnvironment(*m_home));
            m_app->start(binary(), {});
            QVERIFY(m_app->waitForStarted(TestWaits::limitMs));
            const QString id = visibleWindow(QStringLiteral("Tessivo"));
            QVERIFY2(!id.isEmpty(), qPrintable(appState()));
            // Loaded: the welcome document is written at load.
            QTRY_VERIFY(!QDir(documents).entryList({QStringLiteral("*.json")}, QDir::Files).isEmpty());
            QVERIFY2(quitFrom(id),
                     qPrintable(QStringLiteral("launch %1 didn't end on Ctrl+Q").arg(launchNumber)));
            if (!lock.isEmpty()) {
                const QString said = QString::fromUtf8(m_app->readAllStandardError());
                QVERIFY2(said.contains(lock) &&
                             said.contains(kind == u"lock folder" ? QStringLiteral("a folder")
                                                                  : QStringLiteral("a symbolic link")),
                         qPrintable(said));
            }
        }
    }

    void ctrlQQuitsFromTheSettingsWindow()
    {
        QVERIFY(launch());
        const QString main = visibleWindow(QStringLiteral("Tessivo"));
        QVERIFY2(!main.isEmpty(), qPrintable(appState()));
        xdotool({"windowactivate", "--sync", main});
        xdotool({"key", "ctrl+comma"});
        const QString settings = visibleWindow(QStringLiteral("Settings"));
        QVERIFY2(!settings.isEmpty(), qPrintable(appState()));
        QVERIFY(quitFrom(settings));
    }
};

OWN_X_SERVER_TEST_MAIN(TestAppWindow)
#include "tst_appwindow.moc"
