#include "app/core/IconName.h"

#include <QDir>
#include <QSet>
#include <QTest>

class TestIconName : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fromRawValue_data()
    {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<bool>("known");
        QTest::addColumn<int>("expected");
        QTest::newRow("kebab name") << "arrow-up" << true << int(IconName::arrowUp);
        QTest::newRow("single word") << "trash" << true << int(IconName::trash);
        QTest::newRow("last case") << "x-mark" << true << int(IconName::xMark);
        QTest::newRow("camel case is not a raw value") << "arrowUp" << false << 0;
        QTest::newRow("upper-case letter") << "Arrow-up" << false << 0;
        QTest::newRow("all upper case") << "TRASH" << false << 0;
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("surrounding space") << " eye" << false << 0;
        QTest::newRow("artwork name is not a raw value") << "check2" << false << 0;
    }

    void fromRawValue()
    {
        QFETCH(QString, raw);
        QFETCH(bool, known);
        QFETCH(int, expected);
        const std::optional<IconName> name = IconNames::fromRawValue(raw);
        QCOMPARE(name.has_value(), known);
        if (known)
            QCOMPARE(int(*name), expected);
    }

    void everyRawValueRoundTrips()
    {
        for (IconName name : IconNames::allCases())
            QCOMPARE(IconNames::fromRawValue(IconNames::rawValue(name)), std::optional<IconName>(name));
    }

    void artworkIsPresentUnderTheRawName()
    {
        // The copies in resources/icons are what the binary embeds; each must
        // exist and be the image the mapping names.
        const QDir icons(QDir::cleanPath(QStringLiteral(TESSIVO_TEST_DATA_DIR "/../../../resources/icons")));
        QSet<QString> sources;
        for (IconName name : IconNames::allCases()) {
            const QString copy = icons.filePath(IconNames::rawValue(name) + QStringLiteral(".svg"));
            QVERIFY2(QFile::exists(copy), qPrintable(copy));
            QCOMPARE(IconNames::resourcePath(name),
                     QStringLiteral(":/icons/%1.svg").arg(IconNames::rawValue(name)));
            sources.insert(IconNames::artworkSource(name));
            const QString original =
                QStringLiteral("/usr/share/bootstrap-icons/svg/%1.svg").arg(IconNames::artworkSource(name));
            if (!QFile::exists(original))
                continue; // the icon package is only needed to refresh the copies
            QFile a(copy), b(original);
            QVERIFY(a.open(QIODevice::ReadOnly));
            QVERIFY(b.open(QIODevice::ReadOnly));
            QCOMPARE(a.readAll(), b.readAll());
        }
        QCOMPARE(sources.size(), 49); // no image stands for two names
    }
};

QTEST_GUILESS_MAIN(TestIconName)
#include "tst_iconname.moc"
