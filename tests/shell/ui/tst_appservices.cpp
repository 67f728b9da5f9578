// The app's services as main() makes them.
#include "publishing/core/ImageLibrary.h"
#include "service/core/AuthManager.h"
#include "shell/AppServices.h"
#include "store/DocumentStore.h"

#include "service/FakeKeyring.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestAppServices : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Each new session, and its end, empties the image library: a list of
    // the previous account, or a failure while signed out, is not shown.
    void aNewSessionEmptiesTheImageLibrary_data()
    {
        QTest::addColumn<bool>("signIn");
        QTest::newRow("signing in") << true;
        QTest::newRow("signing out") << false;
    }

    void aNewSessionEmptiesTheImageLibrary()
    {
        QFETCH(bool, signIn);
        QTemporaryDir dir;
        QSettings settings(dir.filePath(u"settings.ini"_s), QSettings::IniFormat);
        DocumentStore store(dir.filePath(u"store"_s), &settings);
        FakeKeyring keyring;
        if (!signIn)
            keyring.put(u"token"_s);
        AppServices services(&store, {QUrl(u"http://127.0.0.1:9"_s), Keychain(keyring.backend())});
        QTRY_VERIFY(!services.auth()->isReading());
        ImageLibrary *images = services.images();
        const QFuture<void> load = images->load(true);
        QTRY_VERIFY(load.isFinished());
        QVERIFY(images->loaded() && images->error());
        if (signIn)
            services.auth()->session()->begin(u"new"_s);
        else
            services.auth()->signOut(true);
        QVERIFY(!images->loaded());
        QCOMPARE(images->error(), std::nullopt);
    }
};

QTEST_MAIN(TestAppServices)
#include "tst_appservices.moc"
