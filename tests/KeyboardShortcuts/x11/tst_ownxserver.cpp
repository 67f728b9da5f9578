// The window manager the window tests run under: once it is started, the
// windows they show are mapped. openbox answers a window shown while it is
// still starting only when some later event reaches it, and a test whose
// window waits for that waits in vain.
#include "OwnXServer.h"
#include "TestNeeds.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <xcb/xcb.h>

class TestOwnXServer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void aWindowShownRightAfterTheManagerStartsIsMapped()
    {
        TESSIVO_NEED(TestNeeds::program(QStringLiteral("openbox")));
        xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
        QVERIFY(!xcb_connection_has_error(connection));
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
        // A manager that takes long to start, as any does on a busy
        // machine: this one has a large menu to read first.
        QTemporaryDir config;
        QVERIFY(QDir(config.path()).mkpath(QStringLiteral("openbox")));
        QFile menu(config.filePath(QStringLiteral("openbox/menu.xml")));
        QVERIFY(menu.open(QIODevice::WriteOnly));
        menu.write(R"(<?xml version="1.0"?><openbox_menu xmlns="http://openbox.org/3.4/menu">)"
                   R"(<menu id="root-menu" label="Menu">)");
        for (int item = 0; item < 10000; ++item)
            menu.write(QStringLiteral(R"(<item label="%1"><action name="Execute"><command>true</command>)"
                                      R"(</action></item>)")
                           .arg(item)
                           .toUtf8());
        menu.write("</menu></openbox_menu>");
        menu.close();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        const pid_t manager = OwnXServer::startWindowManager();
        qunsetenv("XDG_CONFIG_HOME");
        QVERIFY(manager > 0);
        const xcb_window_t window = xcb_generate_id(connection);
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, root, 0, 0, 200, 100, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_map_window(connection, window);
        xcb_flush(connection);
        const bool mapped = QTest::qWaitFor(
            [&] {
                xcb_get_window_attributes_reply_t *attributes = xcb_get_window_attributes_reply(
                    connection, xcb_get_window_attributes(connection, window), nullptr);
                const bool viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
                free(attributes);
                return viewable;
            },
            TestWaits::limitMs);
        xcb_disconnect(connection);
        OwnXServer::stopWindowManager(manager);
        QVERIFY(mapped);
    }
};

OWN_X_SERVER_TEST_MAIN(TestOwnXServer)
#include "tst_ownxserver.moc"
