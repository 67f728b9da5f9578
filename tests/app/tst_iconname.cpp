#include "app/core/IconName.h"

#include <QDir>
#include <QSet>
#include <QTest>

using namespace Qt::StringLiterals;

class TestIconName : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rawValuesRoundTripAndNothingElseParses()
    {
        for (IconName name : IconNames::allCases())
            QCOMPARE(IconNames::fromRawValue(IconNames::rawValue(name)), std::optional<IconName>(name));
        // Camel case, other letter cases, blanks and artwork names are not raw values.
        for (const char *raw : {"arrowUp", "Arrow-up", "TRASH", "", " eye", "check2"})
            QVERIFY2(!IconNames::fromRawValue(QString::fromLatin1(raw)), raw);
    }

    void artworkIsPresentUnderTheRawName()
    {
        // The copies in resources/icons are what the binary embeds; each must
        // be the image the mapping names, and no image stands for two names.
        const QDir icons(QDir::cleanPath(QStringLiteral(TESSIVO_TEST_DATA_DIR "/../../../resources/icons")));
        QSet<QString> sources;
        for (IconName name : IconNames::allCases()) {
            const QString copy = icons.filePath(IconNames::rawValue(name) + u".svg"_s);
            QVERIFY2(QFile::exists(copy), qPrintable(copy));
            sources.insert(IconNames::artworkSource(name));
            QFile a(copy), b(u"/usr/share/bootstrap-icons/svg/%1.svg"_s.arg(IconNames::artworkSource(name)));
            if (!b.exists())
                continue; // the icon package is only needed to refresh the copies
            QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
            QCOMPARE(a.readAll(), b.readAll());
        }
        QCOMPARE(sources.size(), qsizetype(IconNames::allCases().size()));
    }
};

QTEST_GUILESS_MAIN(TestIconName)
#include "tst_iconname.moc"
