#include "app/core/AppSettings.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestAppSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void dialogsStartInTheLastFolderElseDocuments_data()
    {
        QTest::addColumn<QString>("chosen"); // relative to a scratch folder; empty: nothing chosen
        QTest::addColumn<bool>("removeAfter");
        QTest::addColumn<QString>("expected"); // "documents" or relative to the scratch folder
        QTest::newRow("first run starts in Documents") << QString() << false << "documents";
        QTest::newRow("the folder of the last file chosen") << "exports/notes.md" << false << "exports";
        QTest::newRow("robustness: a removed folder falls back to Documents")
            << "exports/notes.md" << true << "documents";
    }

    void dialogsStartInTheLastFolderElseDocuments()
    {
        QFETCH(QString, chosen);
        QFETCH(bool, removeAfter);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        QSettings store(dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        AppSettings settings(&store);
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("exports")));
        if (!chosen.isEmpty())
            settings.rememberDialogChoice(dir.filePath(chosen));
        if (removeAfter)
            QVERIFY(QDir(dir.filePath(QStringLiteral("exports"))).removeRecursively());
        const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        QCOMPARE(settings.dialogFolder(), expected == u"documents" ? documents : dir.filePath(expected));
    }
};

QTEST_GUILESS_MAIN(TestAppSettings)
#include "tst_appsettings.moc"
