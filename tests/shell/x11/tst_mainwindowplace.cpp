// The main window under openbox, on a screen its default frame doesn't fit:
// once framed it is fitted to the screen, but a move the user made before
// the app got to that (a busy machine) is kept.
#include "OwnXServer.h"
#include "TestNeeds.h"
#include "shell/OfflineServices.h"

#include "editor/PreviewWebView.h"
#include "shell/MainWindow.h"
#include "store/DocumentStore.h"

#include <QDeadlineTimer>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <memory>
#include <unistd.h>

using OwnXServer::xdotool;

namespace {

// The client area's place as the X server has it.
QPoint serverPlace(WId id)
{
    QProcess xwininfo;
    xwininfo.start(QStringLiteral("xwininfo"), {"-id", QString::number(id)});
    xwininfo.waitForFinished(TestWaits::limitMs);
    QPoint at(-1, -1);
    for (const QString &line : QString::fromUtf8(xwininfo.readAllStandardOutput()).split(u'\n')) {
        const int value = line.section(u':', 1).trimmed().toInt();
        if (line.contains(QLatin1String("Absolute upper-left X")))
            at.setX(value);
        else if (line.contains(QLatin1String("Absolute upper-left Y")))
            at.setY(value);
    }
    return at;
}

bool framed(WId id)
{
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"), {"-id", QString::number(id), "_NET_FRAME_EXTENTS"});
    xprop.waitForFinished(TestWaits::limitMs);
    return xprop.readAllStandardOutput().contains('=');
}

} // namespace

class TestMainWindowPlace : public QObject
{
    Q_OBJECT

    pid_t m_windowManager = -1;
    QTemporaryDir m_dir;
    std::unique_ptr<DocumentStore> m_store;
    std::unique_ptr<AppServices> m_services;

private Q_SLOTS:
    void initTestCase()
    {
        for (const char *tool : {"xdotool", "xprop", "xwininfo"})
            TESSIVO_NEED(TestNeeds::program(QString::fromLatin1(tool)));
        m_windowManager = OwnXServer::startWindowManager();
        QVERIFY(m_windowManager > 0);
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("TessivoTests"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_mainwindowplace"));
        QSettings().clear();
        m_store = std::make_unique<DocumentStore>(m_dir.filePath(QStringLiteral("store")), nullptr);
        PreviewWebView::setResourceFolder(QStringLiteral(TESSIVO_BUILD_DIR "/Tessivo/Preview"));
        m_services = offlineServices(m_store.get());
    }

    void cleanupTestCase()
    {
        m_services.reset();
        m_store.reset();
        OwnXServer::stopWindowManager(m_windowManager);
    }

    void aMoveMadeBeforeTheAppSawTheFrameStands()
    {
        MainWindow window(*m_services);
        window.show();
        const WId id = window.winId();
        // Nothing is handled here until the test waits on the event loop:
        // the manager maps and frames the window, and the user moves it,
        // while the app still has the first picture to draw.
        xcb_flush(qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection());
        const QDeadlineTimer deadline(TestWaits::limitMs);
        while (!framed(id) && !deadline.hasExpired())
            usleep(20000);
        QVERIFY(framed(id));
        xdotool({"windowmove", "--sync", QString::number(id), "300", "60"});
        const QPoint moved = serverPlace(id);
        QVERIFY(moved.x() > 0);

        // The app handles what waited: the first picture, then the move.
        QTRY_COMPARE(window.mapToGlobal(QPoint(0, 0)), moved);
        // A request through the manager, after any the app made meanwhile
        // (it keeps the top-left corner): once it is done, so are they.
        xdotool({"windowsize", "--sync", QString::number(id), "1000", "600"});
        QCOMPARE(serverPlace(id), moved);
    }
};

OWN_X_SERVER_TEST_MAIN(TestMainWindowPlace)
#include "tst_mainwindowplace.moc"
