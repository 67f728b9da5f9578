#include "store/Text.h"

#include <QTest>

class TestText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void characterCount_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("count");
        QTest::newRow("empty") << QString() << 0;
        QTest::newRow("ascii") << QStringLiteral("document") << 8;
        QTest::newRow("crlf is one character") << QStringLiteral("a\r\nb") << 3;
        QTest::newRow("combining accent") << QStringLiteral("e\u0301") << 1;
        QTest::newRow("non-BMP emoji") << QString::fromUtf8("\xF0\x9F\x98\x80x") << 2;
        QTest::newRow("family emoji sequence")
            << QString::fromUtf8("\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7")
            << 1;
    }

    void characterCount()
    {
        QFETCH(QString, text);
        QFETCH(int, count);
        QCOMPARE(Text::characterCount(text), count);
    }

    void leftCharactersNeverSplitsClusters()
    {
        const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80");
        QCOMPARE(Text::leftCharacters(emoji + emoji + emoji, 2), emoji + emoji);
        QCOMPARE(Text::leftCharacters(QStringLiteral("e\u0301x"), 1), QStringLiteral("e\u0301"));
        QCOMPARE(Text::leftCharacters(QStringLiteral("abc"), 10), QStringLiteral("abc"));
        QCOMPARE(Text::leftCharacters(QStringLiteral("abc"), 0), QString());
    }

    void whitespaceSets()
    {
        QCOMPARE(Text::trimmedSpacesAndTabs(QStringLiteral(" \t\u00a0x y\u3000\t ")), QStringLiteral("x y"));
        // Line breaks are not spaces and stay.
        QCOMPARE(Text::trimmedSpacesAndTabs(QStringLiteral("\n x \n")), QStringLiteral("\n x \n"));
        QCOMPARE(Text::trimmedWhitespaceAndNewlines(QStringLiteral("\r\n\u2028 x\u0085\v")),
                 QStringLiteral("x"));
        QVERIFY(!Text::isSpaceOrTab(U'\u200b')); // zero width space is a format character
    }

    void lineSplitting()
    {
        QCOMPARE(Text::splitLinesLF(u"a\n\nb\n").size(), 4);
        QCOMPARE(Text::splitLinesLF(u"a\r\nb").first(), QStringView(u"a\r"));
        const auto lines = Text::splitLinesAnyBreak(u"a\r\nb\rc\u2028d\u0085e\n");
        QStringList texts;
        for (auto l : lines) {
            texts << l.toString();
        }
        QCOMPARE(texts, (QStringList{u"a"_qs, u"b"_qs, u"c"_qs, u"d"_qs, u"e"_qs, QString()}));
    }

    void lineWalksMatchSplittingAndStop()
    {
        const QString text = u"a\r\n\nb\u2028c\rd\n"_qs;
        QList<QStringView> walked;
        Text::forEachLineLF(text, [&](QStringView l) {
            walked << l;
            return true;
        });
        QCOMPARE(walked, Text::splitLinesLF(text));
        walked.clear();
        Text::forEachLineAnyBreak(text, [&](QStringView l) {
            walked << l;
            return true;
        });
        QCOMPARE(walked, Text::splitLinesAnyBreak(text));
        // Returning false ends the walk at once.
        walked.clear();
        Text::forEachLineAnyBreak(text, [&](QStringView l) {
            walked << l;
            return !l.isEmpty();
        });
        QCOMPARE(walked.size(), 2);
        QCOMPARE(Text::trimmedWhitespaceAndNewlinesView(u"\u2029 x \r"), QStringView(u"x"));
        QCOMPARE(Text::trimmedSpacesAndTabsView(u"\t\n x"), QStringView(u"\n x"));
    }

    void regexMatchesUnicodeAndLineEnds()
    {
        static const QRegularExpression word = Text::regex(QStringLiteral(R"(^[\w-]+$)"));
        QVERIFY(word.match(QStringLiteral("tïtle-ß")).hasMatch());
        // \w is the app's word class: combining marks, connector punctuation and
        // joiners count, as in the hand-written scanners; other numbers do not.
        for (const QString &s :
             {QStringLiteral("ti\u0301tle"), QStringLiteral("a\u203Fb"), QStringLiteral("a\u200Db")}) {
            QVERIFY2(word.match(s).hasMatch(), qPrintable(s));
        }
        QVERIFY(!word.match(QStringLiteral("x\u00B2")).hasMatch());
        static const QRegularExpression boundary = Text::regex(QStringLiteral(R"(\bte\b)"));
        QVERIFY(!boundary.match(QStringLiteral("te\u0301")).hasMatch());
        QVERIFY(boundary.match(QStringLiteral("a te.")).hasMatch());
        static const QRegularExpression notWord = Text::regex(QStringLiteral(R"(\W)"));
        QVERIFY(!notWord.match(QStringLiteral("e\u0301_")).hasMatch());
        static const QRegularExpression digits = Text::regex(QStringLiteral(R"(^\d+$)"));
        QVERIFY(digits.match(QStringLiteral("\u0661\u0662")).hasMatch()); // Arabic-Indic digits
        // "$" matches before a final line end of any kind, as well as at the end.
        static const QRegularExpression end = Text::regex(QStringLiteral(R"(x$)"));
        QVERIFY(end.match(QStringLiteral("x\u2028")).hasMatch());
        QVERIFY(end.match(QStringLiteral("x\r\n")).hasMatch());
        QVERIFY(!end.match(QStringLiteral("x\ny")).hasMatch());
        static const QRegularExpression dot = Text::regex(QStringLiteral(R"(^a.b$)"));
        QVERIFY(!dot.match(QStringLiteral("a\rb")).hasMatch());
        QCOMPARE(Text::replaceWithFirstCapture(QStringLiteral("**a** and **b**"),
                                               Text::regex(QStringLiteral(R"(\*\*([^*]+)\*\*)"))),
                 QStringLiteral("a and b"));
    }
};

QTEST_GUILESS_MAIN(TestText)
#include "tst_text.moc"
