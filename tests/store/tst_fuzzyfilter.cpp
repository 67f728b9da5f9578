#include "store/FuzzyFilter.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

struct Entry
{
    QString label;
    int tag = 0;
};

} // namespace

class TestFuzzyFilter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void score_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("text");
        QTest::addColumn<std::optional<qint64>>("score");
        using S = std::optional<qint64>;
        QTest::newRow("prefix") << u"doc"_s << u"document"_s << S(992);
        QTest::newRow("whole text") << u"doc"_s << u"doc"_s << S(997);
        QTest::newRow("substring") << u"doc"_s << u"my doc"_s << S(494);
        QTest::newRow("in order, hyphens skipped") << u"doc"_s << u"d-o-c"_s << S(98);
        QTest::newRow("out of order") << u"doc"_s << u"dco"_s << S();
        QTest::newRow("tail not counted") << u"ac"_s << u"abcd"_s << S(99);
        QTest::newRow("text shorter than query") << u"docs"_s << u"doc"_s << S();
        QTest::newRow("empty text") << u"a"_s << QString() << S();
        QTest::newRow("long prefix goes negative")
            << u"a"_s << u"a"_s + QString(1200, u'x') << S(1000 - 1201);
        QTest::newRow("skipped count unbounded") << u"ab"_s << u"a"_s + QString(150, u'x') + u"b"_s << S(-50);
        QTest::newRow("inner space matched like a letter") << u"a b"_s << u"xa b"_s << S(496);
        QTest::newRow("emoji counts as one character") << u"x"_s << u"x\U0001F600"_s << S(998);
        QTest::newRow("combining accent is one character") << u"caf"_s << u"cafe\u0301"_s << S(996);
        QTest::newRow("accented letter is not its base letter") << u"cafe"_s << u"cafe\u0301"_s << S();
        QTest::newRow("canonically equal forms match") << u"caf\u00e9"_s << u"cafe\u0301 au lait"_s << S(988);
        QTest::newRow("decomposed query on composed text") << u"e\u0301t"_s << u"\u00e9t\u00e9"_s << S(997);
        QTest::newRow("family emoji is one character")
            << u"\U0001F468\u200D\U0001F469\u200D\U0001F467"_s
            << u"a\U0001F468\u200D\U0001F469\u200D\U0001F467"_s << S(498);
        QTest::newRow("substring after a false start") << u"abac"_s << u"ababac"_s << S(494);
        QTest::newRow("hostile: long repetitive text")
            << QString(60, u'a') + u'b' << QString(40000, u'a') + u'b' << S(500 - 40001);
        QTest::newRow("CR LF is one character") << u"a"_s << u"a\r\nb"_s << S(997);
    }

    void score()
    {
        QFETCH(QString, query);
        QFETCH(QString, text);
        QFETCH(std::optional<qint64>, score);
        QCOMPARE(fuzzyScore(query, text), score);
    }

    void filter_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("expected");
        const QStringList mixed{u"d-o-c"_s, u"my doc"_s, u"Document"_s, u"dco"_s, u"Docs"_s};
        QTest::newRow("bands in order, shorter first")
            << mixed << u"doc"_s << QStringList{u"Docs"_s, u"Document"_s, u"my doc"_s, u"d-o-c"_s};
        QTest::newRow("query trimmed and lower-cased")
            << mixed << u"  DoC\t"_s << QStringList{u"Docs"_s, u"Document"_s, u"my doc"_s, u"d-o-c"_s};
        QTest::newRow("blank query keeps everything in order") << mixed << u" \t\u3000"_s << mixed;
        QTest::newRow("empty query keeps everything") << mixed << QString() << mixed;
        QTest::newRow("line break is not trimmed") << mixed << u"doc\n"_s << QStringList();
        QTest::newRow("equal scores keep input order")
            << QStringList{u"alpha"_s, u"Alpha"_s, u"ALPHA"_s, u"alpine"_s} << u"al"_s
            << QStringList{u"alpha"_s, u"Alpha"_s, u"ALPHA"_s, u"alpine"_s};
        QTest::newRow("long prefix ranks below short substring")
            << QStringList{u"a"_s + QString(600, u'x'), u"ba"_s} << u"a"_s
            << QStringList{u"ba"_s, u"a"_s + QString(600, u'x')};
        QTest::newRow("accented capitals lower-cased")
            << QStringList{u"\u00c9T\u00c9"_s, u"\u00dcBERSICHT"_s, u"ete"_s} << u"\u00e9t"_s
            << QStringList{u"\u00c9T\u00c9"_s};
        QTest::newRow("no entries") << QStringList() << u"x"_s << QStringList();
        QTest::newRow("full lower-case mapping") << QStringList{u"istanbul"_s, u"\u0130STANBUL"_s}
                                                 << u"i\u0307s"_s << QStringList{u"\u0130STANBUL"_s};
    }

    void filter()
    {
        QFETCH(QStringList, entries);
        QFETCH(QString, query);
        QFETCH(QStringList, expected);
        QCOMPARE(fuzzyFilter(entries, query), expected);
    }

    void filterUsesTheAccessorAndKeepsEntries()
    {
        const QList<Entry> entries{{u"Summarize"_s, 1}, {u"Fix spelling"_s, 2}, {u"Make shorter"_s, 3}};
        const auto text = [](const Entry &e) { return e.label + u" keywords"_s; };
        const QList<Entry> result = fuzzyFilter(entries, u"G K"_s, text);
        QList<int> tags;
        for (const Entry &e : result) {
            tags << e.tag;
        }
        // Only "fix spelling keywords" holds "g k", across the joining space.
        QCOMPARE(tags, (QList<int>{2}));
        QCOMPARE(fuzzyFilter(entries, u"  "_s, text).size(), 3);
    }
};

QTEST_GUILESS_MAIN(TestFuzzyFilter)
#include "tst_fuzzyfilter.moc"
