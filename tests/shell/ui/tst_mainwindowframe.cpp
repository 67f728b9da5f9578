// The main window's size and place across launches: each launch is a new
// window on the same settings.
#include "app/core/AppSettings.h"
#include "editor/PreviewWebView.h"
#include "shell/MainWindow.h"
#include "store/DocumentStore.h"

#include "shell/OfflineServices.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

class TestMainWindowFrame : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<DocumentStore> m_store;
    std::unique_ptr<AppServices> m_services;

    static QRect area() { return QGuiApplication::primaryScreen()->availableGeometry(); }

    std::unique_ptr<MainWindow> launch()
    {
        auto window = std::make_unique<MainWindow>(*m_services);
        window->show();
        return QTest::qWaitForWindowExposed(window.get(), TestWaits::limitMs) ? std::move(window) : nullptr;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        PreviewWebView::setResourceFolder(QStringLiteral(TESSIVO_BUILD_DIR "/Tessivo/Preview"));
        m_settings = std::make_unique<QSettings>(m_dir.filePath(u"settings.ini"_s), QSettings::IniFormat);
        m_store = std::make_unique<DocumentStore>(m_dir.filePath(u"store"_s), m_settings.get());
        m_services = offlineServices(m_store.get(), Keychain(Keychain::inMemory()), m_settings.get());
    }

    void cleanupTestCase()
    {
        m_services.reset();
        m_store->flushPendingSaves();
    }

    void init() { m_settings->remove(AppSettings::mainWindowGeometryKey); }

    // Closed at another size and place, the window comes back there.
    void comesBackWhereItWasClosed()
    {
        const QRect placed(area().topLeft() + QPoint(202, 130), QSize(1300, 850));
        {
            const std::unique_ptr<MainWindow> first = launch();
            QVERIFY(first);
            QCOMPARE(first->size(), QSize(MainWindow::defaultWidth, MainWindow::defaultHeight));
            first->setGeometry(placed);
            QTRY_COMPARE(first->geometry(), placed);
            first->close();
        }
        const std::unique_ptr<MainWindow> second = launch();
        QVERIFY(second);
        QTRY_COMPARE(second->geometry(), placed);
    }

    // A place no screen shows any more (a monitor since unplugged), or
    // nothing saved: the default size, centred.
    void otherwiseTheDefaultSizeCentred_data()
    {
        QTest::addColumn<bool>("offScreen");
        QTest::newRow("saved beyond every screen") << true;
        QTest::newRow("nothing saved") << false;
    }

    void otherwiseTheDefaultSizeCentred()
    {
        QFETCH(bool, offScreen);
        if (offScreen) {
            QWidget gone;
            gone.setGeometry(QRect(area().bottomRight() + QPoint(4000, 3000), QSize(1000, 700)));
            m_settings->setValue(AppSettings::mainWindowGeometryKey, gone.saveGeometry());
        }
        const std::unique_ptr<MainWindow> window = launch();
        QVERIFY(window);
        QCOMPARE(window->size(), QSize(MainWindow::defaultWidth, MainWindow::defaultHeight));
        QVERIFY((window->geometry().center() - area().center()).manhattanLength() <= 2);
    }
};

QTEST_MAIN(TestMainWindowFrame)
#include "tst_mainwindowframe.moc"
