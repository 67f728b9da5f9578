// The main window at its smallest, in split view, under openbox: with the
// default style, and (TESSIVO_TEST_QT6CT=1) under qt6ct's dark "darker"
// scheme with its default font, read from a configuration of its own.
#include "OwnXServer.h"
#include "shell/OfflineServices.h"

#include "app/core/AppSettings.h"
#include "editor/PreviewWebView.h"
#include "shell/DocumentDetailView.h"
#include "shell/MainWindow.h"
#include "store/DocumentStore.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <memory>

namespace {

QRect inWindow(const QWidget *widget)
{
    return QRect(widget->mapTo(widget->window(), QPoint()), widget->size());
}

} // namespace

class TestMinimumWidth : public QObject
{
    Q_OBJECT

    pid_t m_windowManager = -1;
    QTemporaryDir m_dir;
    std::unique_ptr<DocumentStore> m_store;
    std::unique_ptr<AppServices> m_services;
    std::unique_ptr<MainWindow> m_window;

private Q_SLOTS:
    void initTestCase()
    {
        m_windowManager = OwnXServer::startWindowManager();
        QVERIFY(m_windowManager > 0);
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("TessivoTests"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_minimumwidth"));
        QSettings().clear();
        QSettings().setValue(AppSettings::viewModeKey, QStringLiteral("editor"));
        m_store = std::make_unique<DocumentStore>(m_dir.filePath(QStringLiteral("store")), nullptr);
        PreviewWebView::setResourceFolder(QStringLiteral(TESSIVO_BUILD_DIR "/Tessivo/Preview"));
        m_services = offlineServices(m_store.get());
        m_window = std::make_unique<MainWindow>(*m_services);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get(), TestWaits::limitMs));
        QTRY_VERIFY(m_store->isLoaded());
        m_store->createDocument(std::nullopt,
                                QStringLiteral("# A title\n\n") + QString(40, QLatin1Char('w')));
    }

    void cleanupTestCase()
    {
        m_window.reset();
        m_store->flushPendingSaves();
        OwnXServer::stopWindowManager(m_windowManager);
    }

    // Opened in editor view at its smallest, then split: the minimum
    // follows the panes shown, and the window cannot shrink past it.
    void atTheSmallestWidthNoPaneIsCutOrOverlapped()
    {
        auto *detail = m_window->findChild<DocumentDetailView *>();
        QVERIFY(detail);
        QWidget *editor = detail->editorPane();
        QWidget *preview = detail->preview();
        m_window->resize(1, m_window->height()); // clamped to the minimum
        QTRY_COMPARE(m_window->width(), m_window->minimumWidth());
        detail->findChild<QAbstractButton *>(QStringLiteral("split"))->click();
        QTRY_VERIFY(editor->isVisible() && preview->isVisible());
        QTRY_VERIFY(m_window->minimumWidth() >= 260 + detail->minimumSizeHint().width());
        m_window->resize(1, m_window->height());
        QTRY_COMPARE(m_window->width(), m_window->minimumWidth());
        QTRY_VERIFY2(
            !inWindow(editor).intersects(inWindow(preview)),
            qPrintable(QStringLiteral("editor %1, preview %2")
                           .arg(QDebug::toString(inWindow(editor)), QDebug::toString(inWindow(preview)))));
        QVERIFY2(editor->width() >= editor->minimumSizeHint().width(),
                 qPrintable(QDebug::toString(editor->minimumSizeHint())));
        QVERIFY2(preview->width() >= preview->minimumSizeHint().width(),
                 qPrintable(QDebug::toString(preview->minimumSizeHint())));
        QTRY_VERIFY2(inWindow(preview).right() < m_window->width(),
                     qPrintable(QDebug::toString(inWindow(preview)) + QString::number(m_window->width()) +
                                QDebug::toString(m_window->findChild<DocumentDetailView *>()->geometry())));
    }
};

int main(int argc, char *argv[])
{
    // The platform theme is read when the application starts.
    QTemporaryDir config;
    if (qEnvironmentVariableIsSet("TESSIVO_TEST_QT6CT")) {
        QDir(config.path()).mkpath(QStringLiteral("qt6ct"));
        QFile file(config.filePath(QStringLiteral("qt6ct/qt6ct.conf")));
        if (!file.open(QIODevice::WriteOnly))
            qFatal("no qt6ct configuration");
        file.write(
            "[Appearance]\ncolor_scheme_path=/usr/share/qt6ct/colors/darker.conf\ncustom_palette=true\n");
        file.close();
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
        qputenv("QT_QPA_PLATFORMTHEME", "qt6ct");
    }
    return OwnXServer::run<TestMinimumWidth>(argc, argv);
}

#include "tst_minimumwidth.moc"
