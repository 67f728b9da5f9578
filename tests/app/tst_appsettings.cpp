#include "app/core/AppSettings.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestAppSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void dialogsStartInTheLastFolderElseDocuments()
    {
        QStandardPaths::setTestModeEnabled(true);
        const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        QTemporaryDir dir;
        QSettings store(dir.filePath(u"settings.ini"_s), QSettings::IniFormat);
        AppSettings settings(&store);
        QCOMPARE(settings.dialogFolder(), documents); // first run, not the working folder

        const QString exports = dir.filePath(u"exports"_s);
        QVERIFY(QDir().mkpath(exports));
        settings.rememberDialogChoice(exports + u"/notes.md"_s);
        QCOMPARE(settings.dialogFolder(), exports);

        QVERIFY(QDir(exports).removeRecursively()); // robustness: a folder since removed
        QCOMPARE(settings.dialogFolder(), documents);
    }
};

QTEST_GUILESS_MAIN(TestAppSettings)
#include "tst_appsettings.moc"
