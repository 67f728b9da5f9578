#include "app/core/IconName.h"

#include <QDir>
#include <QSet>
#include <QTest>

namespace {

// The kebab-case rule: a hyphen before every upper-case letter, all lower case.
QString kebab(const QString &camel)
{
    QString out;
    for (const QChar c : camel) {
        if (c.isUpper()) {
            out += QLatin1Char('-');
            out += c.toLower();
        } else {
            out += c;
        }
    }
    return out;
}

const QStringList caseNames = {
    "alert",          "arrowUp",   "caretDown",   "chatBubble",   "check",       "checkDouble", "chevronDown",
    "chevronRight",   "cloud",     "cloudCheck",  "cloudSlash",   "cloudUpload", "command",     "download",
    "expand",         "eye",       "file",        "flame",        "folder",      "folderAdd",   "folderOpen",
    "globe",          "image",     "imageUpload", "lightBulb",    "link",        "lock",        "megaphone",
    "moreHorizontal", "panelLeft", "pencil",      "pencilSquare", "plus",        "plusSquare",  "quill",
    "refresh",        "rocket",    "search",      "send",         "settings",    "shrink",      "smile",
    "sparkles",       "textAlign", "trash",       "user",         "viewColumns", "wand",        "xMark",
};

} // namespace

class TestIconName : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void casesFollowTheKebabRuleInDeclarationOrder()
    {
        const QList<IconName> &all = IconNames::allCases();
        QCOMPARE(all.size(), 49);
        QCOMPARE(all.first(), IconName::alert);
        QCOMPARE(all.last(), IconName::xMark);
        for (int i = 0; i < all.size(); ++i) {
            QCOMPARE(IconNames::rawValue(all[i]), kebab(caseNames[i]));
            QVERIFY2(!IconNames::rawValue(all[i]).contains(QRegularExpression(QStringLiteral("[0-9]"))),
                     qPrintable(IconNames::rawValue(all[i])));
        }
    }

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
