#include "app/core/AppSettings.h"
#include "store/CappedFileRead.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

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

    // What would block or swell the first QSettings is moved aside before
    // it; a fine settings file stays where it is.
    void unusableSettingsFilesAreMovedAside_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("moved");
        QTest::newRow("a fine file") << u"fine"_s << false;
        QTest::newRow("a named pipe") << u"fifo"_s << true;
        QTest::newRow("a folder") << u"folder"_s << true;
        QTest::newRow("a link to a huge sparse file") << u"huge"_s << true;
        QTest::newRow("a file past the bound") << u"oversize"_s << true;
    }

    void unusableSettingsFilesAreMovedAside()
    {
        QFETCH(QString, kind);
        QFETCH(bool, moved);
        QCoreApplication::setOrganizationName(u"Tessivo"_s);
        QCoreApplication::setApplicationName(u"Tessivo"_s);
        QTemporaryDir config;
        const QString file = config.filePath(u"Tessivo/Tessivo.conf"_s);
        QVERIFY(QDir().mkpath(config.filePath(u"Tessivo"_s)));
        QFile sparse(config.filePath(u"sparse"_s));
        if (kind == u"fine" || kind == u"oversize") {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(kind == u"fine" ? QByteArray("[General]\nviewMode=editor\n")
                                    : QByteArray(FileBounds::settings + 1, '#'));
        } else if (kind == u"fifo") {
            QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
        } else if (kind == u"folder") {
            QVERIFY(QDir().mkpath(file));
        } else if (kind == u"huge") {
            QVERIFY(sparse.open(QIODevice::WriteOnly));
            QVERIFY(sparse.resize(qint64(2) << 30));
            sparse.close();
            QVERIFY(QFile::link(sparse.fileName(), file));
        }
        if (moved)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^\\[settings\\] moved .+ aside as "
                                                                  u"Tessivo\\.conf\\.unreadable .+"_s));
        QCOMPARE(AppSettings::setAsideUnusableFiles(config.path()),
                 moved ? QStringList{file} : QStringList{});
        struct stat there = {};
        QCOMPARE(::lstat(QFile::encodeName(file).constData(), &there) == 0, !moved);
        QCOMPARE(::lstat(QFile::encodeName(file + u".unreadable"_s).constData(), &there) == 0, moved);
        if (kind == u"huge")
            QCOMPARE(QFileInfo(file + u".unreadable"_s).symLinkTarget(), sparse.fileName());
        // The settings then open at once, from defaults or the fine file.
        QSettings settings(file, QSettings::NativeFormat);
        QCOMPARE(AppSettings(&settings).viewMode(), kind == u"fine" ? u"editor"_s : u"split"_s);
    }
};

QTEST_GUILESS_MAIN(TestAppSettings)
#include "tst_appsettings.moc"
