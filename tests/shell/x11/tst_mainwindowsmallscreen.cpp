// The main window on an 800 x 600 screen under openbox, with and without
// a 30-pixel panel along the top: in every view mode, at a first start,
// restored from a frame left on a larger screen, and maximised, its whole
// frame as the manager draws it lies within the area the panel leaves, and
// the Publish button shows whole.
#include "OwnXServer.h"
#include "TestNeeds.h"
#include "shell/OfflineServices.h"

#include "app/core/AppSettings.h"
#include "editor/PreviewWebView.h"
#include "shell/ContentView.h"
#include "shell/DocumentDetailView.h"
#include "shell/MainWindow.h"
#include "shell/PublishSplitButton.h"
#include "store/DocumentStore.h"

#include <QDataStream>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <xcb/xcb.h>

#include <memory>

namespace {

QString run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(TestWaits::limitMs);
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The window's frame as the manager drew it: its client area, as the X
// server has it, grown by the title bar and borders the manager says it
// added; empty before it has framed the window.
QRect frameOf(WId id)
{
    QRect client;
    for (const QString &line : run(QStringLiteral("xwininfo"), {"-id", QString::number(id)}).split(u'\n')) {
        const int value = line.section(u':', 1).trimmed().toInt();
        if (line.contains(QLatin1String("Absolute upper-left X")))
            client.moveLeft(value);
        else if (line.contains(QLatin1String("Absolute upper-left Y")))
            client.moveTop(value);
        else if (line.trimmed().startsWith(QLatin1String("Width:")))
            client.setWidth(value);
        else if (line.trimmed().startsWith(QLatin1String("Height:")))
            client.setHeight(value);
    }
    // "_NET_FRAME_EXTENTS(CARDINAL) = left, right, top, bottom"
    const QStringList extents =
        run(QStringLiteral("xprop"), {"-id", QString::number(id), "_NET_FRAME_EXTENTS"})
            .section(u'=', 1)
            .split(u',', Qt::SkipEmptyParts);
    if (extents.size() != 4)
        return {};
    return client.marginsAdded(QMargins(extents[0].trimmed().toInt(), extents[2].trimmed().toInt(),
                                        extents[1].trimmed().toInt(), extents[3].trimmed().toInt()));
}

// The free area as the manager announces it, panels left out.
QRect workArea()
{
    const QStringList values = run(QStringLiteral("xprop"), {"-root", "_NET_WORKAREA"})
                                   .section(u'=', 1)
                                   .split(u',', Qt::SkipEmptyParts);
    if (values.size() < 4)
        return {};
    return QRect(values[0].trimmed().toInt(), values[1].trimmed().toInt(), values[2].trimmed().toInt(),
                 values[3].trimmed().toInt());
}

QString describe(const QRect &r)
{
    return QStringLiteral("%1x%2 at %3,%4").arg(r.width()).arg(r.height()).arg(r.x()).arg(r.y());
}

QRect onScreen(const QWidget *widget)
{
    return QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
}

// A frame that a 2560 x 1440 screen's manager left, as the window records
// it: 1602 x 1024 with the title bar, a little off its top-left corner.
QByteArray savedOnALargerScreen()
{
    const QRect frame(300, 200, 1602, 1024);
    const QRect client = frame.marginsRemoved(QMargins(1, 23, 1, 1));
    QByteArray saved;
    QDataStream stream(&saved, QIODevice::WriteOnly);
    stream.setVersion(QDataStream::Qt_4_0);
    stream << quint32(0x1D9D0CB) << quint16(3) << quint16(0) << frame << client << qint32(0) << quint8(0)
           << quint8(0) << qint32(2560) << client;
    return saved;
}

// A panel along the top of the screen, 30 high, as a desktop's: a dock
// window that reserves its strip.
class Panel
{
public:
    Panel() : m_connection(xcb_connect(nullptr, nullptr))
    {
        const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
        m_window = xcb_generate_id(m_connection);
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_window, screen->root, 0, 0,
                          screen->width_in_pixels, 30, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                          0, nullptr);
        const xcb_atom_t dock = atom("_NET_WM_WINDOW_TYPE_DOCK");
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, m_window, atom("_NET_WM_WINDOW_TYPE"),
                            XCB_ATOM_ATOM, 32, 1, &dock);
        const uint32_t strut[12] = {0, 0, 30, 0, 0, 0, 0, 0, 0, uint32_t(screen->width_in_pixels - 1), 0, 0};
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, m_window, atom("_NET_WM_STRUT_PARTIAL"),
                            XCB_ATOM_CARDINAL, 32, 12, strut);
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, m_window, atom("_NET_WM_STRUT"),
                            XCB_ATOM_CARDINAL, 32, 4, strut);
        xcb_map_window(m_connection, m_window);
        xcb_flush(m_connection);
    }
    ~Panel() { xcb_disconnect(m_connection); }

private:
    xcb_atom_t atom(const char *name)
    {
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(reply);
        return value;
    }

    xcb_connection_t *m_connection;
    xcb_window_t m_window = 0;
};

} // namespace

class TestMainWindowSmallScreen : public QObject
{
    Q_OBJECT

    pid_t m_windowManager = -1;
    QTemporaryDir m_dir;
    std::unique_ptr<DocumentStore> m_store;
    std::unique_ptr<AppServices> m_services;
    std::unique_ptr<Panel> m_panel;

private Q_SLOTS:
    void initTestCase()
    {
        for (const char *tool : {"xprop", "xwininfo"})
            TESSIVO_NEED(TestNeeds::program(QString::fromLatin1(tool)));
        m_windowManager = OwnXServer::startWindowManager();
        QVERIFY(m_windowManager > 0);
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("TessivoTests"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_mainwindowsmallscreen"));
        QSettings().clear();
        m_store = std::make_unique<DocumentStore>(m_dir.filePath(QStringLiteral("store")), nullptr);
        PreviewWebView::setResourceFolder(QStringLiteral(TESSIVO_BUILD_DIR "/Tessivo/Preview"));
        m_services = offlineServices(m_store.get());
    }

    void cleanupTestCase()
    {
        m_services.reset();
        m_store.reset();
        m_panel.reset();
        OwnXServer::stopWindowManager(m_windowManager);
    }

    void theWholeFrameLiesOnTheScreen_data()
    {
        QTest::addColumn<bool>("panel");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("start");
        for (const bool panel : {false, true})
            for (const char *mode : {"editor", "split", "preview"})
                for (const char *start : {"first start", "restored", "maximised"})
                    QTest::addRow("%s, %s, %s", panel ? "panel" : "no panel", mode, start)
                        << panel << QString::fromLatin1(mode) << QString::fromLatin1(start);
    }

    void theWholeFrameLiesOnTheScreen()
    {
        QFETCH(bool, panel);
        QFETCH(QString, mode);
        QFETCH(QString, start);
        if (panel && !m_panel)
            m_panel = std::make_unique<Panel>();
        else if (!panel)
            m_panel.reset();
        const QRect area(0, panel ? 30 : 0, 800, panel ? 570 : 600);
        QTRY_COMPARE(workArea(), area);
        QTRY_COMPARE(QGuiApplication::primaryScreen()->availableGeometry(), area);

        m_services->viewMode()->setMode(ViewModes::fromRaw(mode));
        QSettings settings;
        if (start == u"restored")
            settings.setValue(AppSettings::mainWindowGeometryKey, savedOnALargerScreen());
        else
            settings.remove(AppSettings::mainWindowGeometryKey);

        MainWindow window(*m_services);
        window.show();
        const WId id = window.winId();
        QVERIFY(QTest::qWaitForWindowExposed(&window, TestWaits::limitMs));
        if (start == u"maximised") {
            window.setWindowState(Qt::WindowMaximized);
            QTRY_VERIFY(run(QStringLiteral("xprop"), {"-id", QString::number(id), "_NET_WM_STATE"})
                            .contains(QLatin1String("_NET_WM_STATE_MAXIMIZED_HORZ")));
        }
        // Settled: the frame on the screen, and the window where the X
        // server has it.
        const auto settled = [&] {
            return area.contains(frameOf(id)) &&
                   QRect(window.mapToGlobal(QPoint(0, 0)), window.size()) ==
                       frameOf(id).marginsRemoved(window.windowHandle()->frameMargins());
        };
        QTRY_VERIFY2_WITH_TIMEOUT(
            settled(),
            qPrintable(QStringLiteral("frame %1 on %2, window %3")
                           .arg(describe(frameOf(id)), describe(area), describe(window.geometry()))),
            TestWaits::limitMs);

        auto *publish = window.findChild<PublishSplitButton *>();
        QVERIFY(publish && publish->isVisible());
        QVERIFY2(area.contains(onScreen(publish)) && onScreen(&window).contains(onScreen(publish)),
                 qPrintable(QStringLiteral("Publish %1, window %2")
                                .arg(describe(onScreen(publish)), describe(onScreen(&window)))));
        // Nothing shown lies over another: the sidebar, where it shows,
        // beside the detail pane, and each pane 320 wide or more.
        ContentView *content = window.contentView();
        QVERIFY(!content->sidebarPane()->isVisible() ||
                !content->sidebarPane()->geometry().intersects(content->detailPane()->geometry()));
        auto *detail = window.findChild<DocumentDetailView *>();
        for (QWidget *pane : {detail->editorPane(), static_cast<QWidget *>(detail->preview())}) {
            if (pane->isVisible())
                QVERIFY2(pane->width() >= 320 && onScreen(&window).contains(onScreen(pane)),
                         qPrintable(describe(onScreen(pane))));
        }
    }
};

int main(int argc, char *argv[])
{
    return OwnXServer::run<TestMainWindowSmallScreen>(argc, argv, "800x600x24");
}

#include "tst_mainwindowsmallscreen.moc"
