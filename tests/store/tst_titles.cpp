#include "store/Document.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestTitles : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void deriveTitle_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("title");
        QTest::newRow("empty body") << QString() << u"Untitled"_s;
        QTest::newRow("blank lines only") << u"\n \t\n"_s << u"Untitled"_s;
        QTest::newRow("first heading") << u"# Hello\n# Other"_s << u"Hello"_s;
        QTest::newRow("later heading beats plain line") << u"Intro text\n# Real title"_s << u"Real title"_s;
        QTest::newRow("heading without space") << u"#Tag line"_s << u"Tag line"_s;
        QTest::newRow("seven marks") << u"####### Deep"_s << u"Deep"_s;
        QTest::newRow("lone marks skipped") << u"#\n###  \nPlain"_s << u"Plain"_s;
        QTest::newRow("heading emphasis removed") << u"# **Bold** title"_s << u"Bold title"_s;
        QTest::newRow("heading of marks only stays empty") << u"# **\nPlain"_s << QString();
        QTest::newRow("emphasis-only plain line blocks later ones") << u"**\nSecond"_s << u"Untitled"_s;
        QTest::newRow("emphasis-only plain line yields to heading") << u"**\nSecond\n## H"_s << u"H"_s;
        QTest::newRow("first plain line wins") << u"  first  \nsecond"_s << u"first"_s;
        QTest::newRow("rule skipped") << u"---\nAfter rule"_s << u"After rule"_s;
        QTest::newRow("fence line skipped, not its content")
            << u"```swift\nlet x = 1\n```"_s << u"let x = 1"_s;
        QTest::newRow("front matter not skipped") << u"---\ntitle: X\n---\nFirst line"_s << u"title: X"_s;
        QTest::newRow("list item kept") << u"- item"_s << u"- item"_s;
        QTest::newRow("quote kept") << u"> quoted"_s << u"> quoted"_s;
        QTest::newRow("CR LF line end not in title") << u"Plain\r\nNext"_s << u"Plain"_s;
        QTest::newRow("CR LF heading") << u"#\r\n# Head\r\n"_s << u"Head"_s;
        QTest::newRow("tilde pair removed, single kept") << u"~~old~~ ~new"_s << u"old ~new"_s;
        QTest::newRow("heading cut to 120") << u"# "_s + QString(130, u'a') << QString(120, u'a');
        QTest::newRow("cut counts characters, not code units")
            << u"# "_s + QString(119, u'a') + u"e\u0301xyz"_s << QString(119, u'a') + u"e\u0301"_s;
    }

    void deriveTitle()
    {
        QFETCH(QString, body);
        QFETCH(QString, title);
        QCOMPARE(Document::deriveTitle(body), title);
    }

    void cleanTitleLine_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expected");
        QTest::newRow("all marks") << u"**a** __b__ `c` *d* _e_ ~~f~~"_s << u"a b c d e f"_s;
        QTest::newRow("snake case loses underscores") << u"my_file_name"_s << u"myfilename"_s;
        QTest::newRow("order matters: *** leaves nothing") << u"***x***"_s << u"x"_s;
        QTest::newRow("trims line breaks") << u"\u2028 x \r"_s << u"x"_s;
        QTest::newRow("trims after removal") << u"** x **"_s << u"x"_s;
    }

    void cleanTitleLine()
    {
        QFETCH(QString, line);
        QFETCH(QString, expected);
        QCOMPARE(Document::cleanTitleLine(line), expected);
    }

    void isStructuralLine_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("structural");
        QTest::newRow("h1") << u"# a"_s << true;
        QTest::newRow("h6") << u"###### a"_s << true;
        QTest::newRow("seven marks") << u"####### a"_s << false;
        QTest::newRow("no space after marks") << u"#tag"_s << false;
        QTest::newRow("fence") << u"```js"_s << true;
        QTest::newRow("tilde fence") << u"~~~"_s << true;
        QTest::newRow("quote") << u">x"_s << true;
        QTest::newRow("dash item") << u"- a"_s << true;
        QTest::newRow("star item") << u"* a"_s << true;
        QTest::newRow("plus item") << u"+ a"_s << true;
        QTest::newRow("dash without space") << u"-a"_s << false;
        QTest::newRow("numbered") << u"12. a"_s << true;
        QTest::newRow("other numerals") << u"\u0663. a"_s << true;
        QTest::newRow("roman numeral character") << u"\u2163. a"_s << true;
        QTest::newRow("number without space") << u"1.5 is out"_s << false;
        QTest::newRow("paren numbering") << u"1) item"_s << false;
        QTest::newRow("dash rule") << u"---"_s << true;
        QTest::newRow("star rule") << u"*****"_s << true;
        QTest::newRow("two dashes") << u"--"_s << false;
        QTest::newRow("underscore rule") << u"___"_s << false;
        QTest::newRow("mixed rule") << u"-*-"_s << false;
        QTest::newRow("table row") << u"| a | b |"_s << false;
        QTest::newRow("prose") << u"Hello."_s << false;
    }

    void isStructuralLine()
    {
        QFETCH(QString, line);
        QFETCH(bool, structural);
        QCOMPARE(Document::isStructuralLine(line), structural);
    }

    void excerpt_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("only structure") << u"# H\n- a\n---"_s << QString();
        QTest::newRow("skips heading and list")
            << u"# Heading\n\n- item\nSome **bold** text. More text."_s << u"Some bold text."_s;
        QTest::newRow("first paragraph only") << u"First para\n\nSecond para"_s << u"First para"_s;
        QTest::newRow("lines joined by one space") << u"one\n  two  \nthree"_s << u"one two three"_s;
        QTest::newRow("structural line inside paragraph skipped") << u"one\n- two\nthree"_s << u"one three"_s;
        QTest::newRow("links and images")
            << u"See [docs](guide.md) and ![pic](p.png) now"_s << u"See docs and pic now"_s;
        QTest::newRow("empty alt text") << u"A ![](x.png) b"_s << u"A  b"_s;
        QTest::newRow("inline marks") << u"`code` __b__ *i* _u_ ~~s~~ end"_s << u"code b i u s end"_s;
        QTest::newRow("decimal point is not a sentence end")
            << u"Version 1.5 is out. Next"_s << u"Version 1.5 is out."_s;
        QTest::newRow("question mark at end") << u"Why? Because"_s << u"Why?"_s;
        QTest::newRow("sentence end at text end") << u"Done!"_s << u"Done!"_s;
        QTest::newRow("front matter stripped") << u"---\ntitle: X\n---\nFirst line"_s << u"First line"_s;
        QTest::newRow("dots close front matter here") << u"---\na: b\n...\nBody"_s << u"Body"_s;
        QTest::newRow("unicode line separators") << u"one\u2028two\u2029\u2029three"_s << u"one two"_s;
        QTest::newRow("CR alone breaks lines") << u"one\rtwo\r\rthree"_s << u"one two"_s;
        QTest::newRow("vertical tab breaks paragraph") << u"one\v\vtwo"_s << u"one"_s;
        QTest::newRow("sentence end before unicode space") << u"End.\u00a0More"_s << u"End."_s;
        QTest::newRow("no trim of inner emphasis across lines") << u"**a\nb**"_s << u"a b"_s;
        QTest::newRow("280 kept whole") << QString(280, u'a') << QString(280, u'a');
        QTest::newRow("281 cut to 277 plus ellipsis")
            << QString(281, u'a') << QString(277, u'a') + u"\u2026"_s;
        QTest::newRow("cut removes trailing spaces")
            << QString(275, u'a') + u"  \t"_s + QString(20, u'b') << QString(275, u'a') + u"\u2026"_s;
        const QString accented = u"e\u0301"_s;
        QTest::newRow("limits count characters") << accented.repeated(280) << accented.repeated(280);
        QTest::newRow("cut never splits a character")
            << accented.repeated(300) << accented.repeated(277) + u"\u2026"_s;
        // Gathering stops after the line that crosses 600 characters, so a
        // later line never reaches the excerpt, whatever its punctuation.
        // The bold mark opened on the first line closes on a line that is never
        // gathered, so it stays in the text.
        QTest::newRow("gathering stops after 600")
            << u"**"_s + QString(599, u'x') + u"\ny**"_s << u"**"_s + QString(275, u'x') + u"\u2026"_s;
        QTest::newRow("sentence after gathered lines")
            << QString(100, u'x') + u"\nEnd. tail"_s << QString(100, u'x') + u" End."_s;
    }

    void excerpt()
    {
        QFETCH(QString, body);
        QFETCH(QString, expected);
        QCOMPARE(Document::excerpt(body), expected);
    }
};

QTEST_GUILESS_MAIN(TestTitles)
#include "tst_titles.moc"
