// The real binary's main window under a window manager (openbox on an X
// server of the test's own): it shows at every start without being taken
// back first, it comes back where it was left across restarts, and Ctrl+Q
// quits from the settings window as from the main one.
#include "AppHome.h"
#include "OwnXServer.h"
#include "TestNeeds.h"

#include <QDir>
#include <QFile>
#include <QPoint>
#include <QTemporaryDir>

#include <xcb/xcb.h>

#include <memory>

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
        return m_app->waitForStarted();
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
        return id;
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

    // Ctrl+Q, typed into the window `id` as the user would; true once the
    // app has ended.
    bool quitFrom(const QString &id)
    {
        xdotool({"windowactivate", "--sync", id});
        xdotool({"key", "ctrl+q"});
        return m_app->waitForFinished(15000) && m_app->exitStatus() == QProcess::NormalExit;
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
            OwnXServer::stop(m_windowManager);
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
            m_app->waitForFinished();
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
        QVERIFY(!id.isEmpty());
        QCOMPARE(watch.unmaps(id.toUInt()), 0);
        QVERIFY(quitFrom(id));
    }

    // Moved and quit, the window comes back in the same place, restart
    // after restart.
    void restartsKeepTheWindowInPlace()
    {
        QVERIFY(launch());
        QString id = visibleWindow(QStringLiteral("Tessivo"));
        QVERIFY(!id.isEmpty());
        xdotool({"windowmove", "--sync", id, "300", "60"});
        const QPoint placed = place(id);
        QVERIFY(placed.x() >= 0);
        for (int restart = 1; restart <= 5; ++restart) {
            QVERIFY(quitFrom(id));
            QVERIFY(launch());
            id = visibleWindow(QStringLiteral("Tessivo"));
            QVERIFY(!id.isEmpty());
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

    void ctrlQQuitsFromTheSettingsWindow()
    {
        QVERIFY(launch());
        const QString main = visibleWindow(QStringLiteral("Tessivo"));
        QVERIFY(!main.isEmpty());
        xdotool({"windowactivate", "--sync", main});
        xdotool({"key", "ctrl+comma"});
        const QString settings = visibleWindow(QStringLiteral("Settings"));
        QVERIFY(!settings.isEmpty());
        QVERIFY(quitFrom(settings));
    }
};

OWN_X_SERVER_TEST_MAIN(TestAppWindow)
#include "tst_appwindow.moc"
