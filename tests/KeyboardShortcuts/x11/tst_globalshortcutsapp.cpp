// The real binary on a private X server: its two global shortcuts work
// while another program has the focus, and quitting lets go of them.
#include "OwnXServer.h"
#include "TestNeeds.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QWidget>

#include <memory>

using OwnXServer::xdotool;

namespace {

QString binary()
{
    return QStringLiteral(TESSIVO_BUILD_DIR "/Tessivo/tessivo");
}

constexpr int evdevM = 50;
constexpr int evdevN = 49;

} // namespace

class TestGlobalShortcutsApp : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;
    QProcess m_app;
    pid_t m_windowManager = -1;

    int documentCount() const
    {
        return QDir(m_home.filePath(QStringLiteral("data/Tessivo/documents")))
            .entryList({QStringLiteral("*.json")}, QDir::Files)
            .size();
    }

    QString window()
    {
        return xdotool(
            {"search", "--onlyvisible", "--pid", QString::number(m_app.processId()), "--name", "^Tessivo$"});
    }
    bool windowVisible() { return !window().isEmpty(); }
    QString place(const QString &id) { return xdotool({"getwindowgeometry", "--shell", id}); }

private Q_SLOTS:
    void initTestCase()
    {
        TESSIVO_NEED(TestNeeds::file(binary(), QStringLiteral("the tessivo binary")));
        m_windowManager = OwnXServer::startWindowManager();
        QVERIFY(m_windowManager > 0);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_home.path());
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_home.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), m_home.filePath(QStringLiteral("cache")));
        // A hand-over socket of its own: another test's app is no instance of this one.
        const QString runtime = m_home.filePath(QStringLiteral("run"));
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        m_app.setProcessEnvironment(env);
        m_app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_app.start(binary(), {});
        QVERIFY(m_app.waitForStarted(TestWaits::limitMs));
        QTRY_VERIFY_WITH_TIMEOUT(documentCount() > 0 && windowVisible(), TestWaits::limitMs);
        // Registered at launch: another program cannot have them now.
        OwnXServer::OtherClient other;
        QVERIFY(!other.grab(evdevM, OwnXServer::metaAlt));
        QVERIFY(!other.grab(evdevN, OwnXServer::metaAlt));
    }

    void metaAltMHidesAndShowsTheWindowInItsPlace()
    {
        const QString id = window();
        xdotool({"windowactivate", "--sync", id});
        xdotool({"windowmove", "--sync", id, "300", "150"});
        const QString before = place(id);
        xdotool({"key", "super+alt+m"});
        QTRY_VERIFY_WITH_TIMEOUT(!windowVisible(), TestWaits::limitMs);
        xdotool({"key", "super+alt+m"});
        QTRY_VERIFY_WITH_TIMEOUT(windowVisible(), TestWaits::limitMs);
        QTRY_COMPARE_WITH_TIMEOUT(place(window()), before, TestWaits::limitMs);
    }

    void metaAltNMakesADocumentFromAnotherWindow()
    {
        QWidget other;
        other.setWindowTitle(QStringLiteral("Other program"));
        other.resize(300, 200);
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other, TestWaits::limitMs));
        const int before = documentCount();
        xdotool({"key", "super+alt+n"});
        QTRY_COMPARE_WITH_TIMEOUT(documentCount(), before + 1, TestWaits::limitMs);
        QVERIFY(windowVisible());
    }

    void quittingLetsGoOfBothShortcuts()
    {
        m_app.terminate();
        QVERIFY(m_app.waitForFinished(TestWaits::limitMs));
        OwnXServer::OtherClient other;
        QVERIFY(other.grab(evdevM, OwnXServer::metaAlt));
        QVERIFY(other.grab(evdevN, OwnXServer::metaAlt));
    }

    void cleanupTestCase()
    {
        if (m_app.state() != QProcess::NotRunning) {
            m_app.kill();
            m_app.waitForFinished(TestWaits::limitMs);
        }
        if (m_windowManager > 0)
            OwnXServer::stopWindowManager(m_windowManager);
    }
};

OWN_X_SERVER_TEST_MAIN(TestGlobalShortcutsApp)
#include "tst_globalshortcutsapp.moc"
