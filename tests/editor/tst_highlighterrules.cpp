#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include "GoldenFiles.h"
#include "editor/core/MarkdownHighlighterRules.h"
#include "store/Text.h"

using namespace MarkdownHighlighterRules;

namespace {

CharStyle styleAt(const QList<HighlightSpan> &spans, qsizetype position)
{
    for (const HighlightSpan &s : spans) {
        if (s.range.contains(position)) {
            return s.style;
        }
    }
    return {};
}

const char *fontName(FontRole f)
{
    static const char *const names[] = {"base", "bold", "h1", "h2", "h3", "h4", "h5", "h6"};
    return names[int(f)];
}

const char *colorName(ColorRole c)
{
    static const char *const names[] = {"text", "secondary", "tertiary", "accent"};
    return names[int(c)];
}

// One line per run: where it is, its look, and the text it covers.
QString dump(const QString &text)
{
    QString out;
    for (const HighlightSpan &s : spans(text)) {
        QString covered = text.mid(s.range.location, s.range.length);
        covered.replace(u'\\', QStringLiteral("\\\\"))
            .replace(u'\n', QStringLiteral("\\n"))
            .replace(u'\r', QStringLiteral("\\r"));
        covered.replace(u'\t', QStringLiteral("\\t")).replace(QChar(u'\0'), QStringLiteral("\\0"));
        out += QStringLiteral("%1+%2 %3 %4%5%6%7 |%8|\n")
                   .arg(s.range.location)
                   .arg(s.range.length)
                   .arg(QLatin1String(fontName(s.style.font)), QLatin1String(colorName(s.style.foreground)),
                        s.style.oblique ? QStringLiteral(" oblique") : QString(),
                        s.style.strikethrough ? QStringLiteral(" strike") : QString(),
                        s.style.highlighted ? QStringLiteral(" highlighted") : QString(), covered);
    }
    return out;
}

QList<TextRange> regexRanges(const QRegularExpression &re, const QString &text)
{
    QList<TextRange> out;
    auto it = re.globalMatch(text);
    while (it.hasNext()) {
        const auto m = it.next();
        out.append({m.capturedStart(), m.capturedLength()});
    }
    return out;
}

} // namespace

class TestHighlighterRules final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("TessivoTests"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_highlighterrules"));
        QStandardPaths::setTestModeEnabled(true);
    }

    void golden_data() { GoldenFiles::addRows(); }

    void golden()
    {
        QFETCH(QString, input);
        GoldenFiles::compare(dump(QString::fromUtf8(GoldenFiles::readFile(input))),
                             GoldenFiles::expectedPath(input, QStringLiteral(".spans")));
    }

    void looks_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qsizetype>("position");
        QTest::addColumn<CharStyle>("expected");
        const CharStyle base;
        const CharStyle tertiary{FontRole::Base, ColorRole::Tertiary};
        QTest::newRow("seven hashes: no heading") << QStringLiteral("####### x") << qsizetype(0) << base;
        QTest::newRow("heading hashes tertiary") << QStringLiteral("## Title") << qsizetype(0)
                                                 << CharStyle{FontRole::Heading2, ColorRole::Tertiary};
        QTest::newRow("hashes need a blank") << QStringLiteral("#Title") << qsizetype(1) << base;
        QTest::newRow("heading stops before CR") << QStringLiteral("# a\r\nb") << qsizetype(3) << base;
        QTest::newRow("bold inside heading")
            << QStringLiteral("# a **b**") << qsizetype(6) << CharStyle{FontRole::Bold};
        QTest::newRow("heading around bold")
            << QStringLiteral("# a **b**") << qsizetype(2) << CharStyle{FontRole::Heading1};
        QTest::newRow("one-character bold: opening pair")
            << QStringLiteral("**a**") << qsizetype(1) << CharStyle{FontRole::Bold, ColorRole::Tertiary};
        QTest::newRow("one-character bold: closing pair")
            << QStringLiteral("**a**") << qsizetype(3) << CharStyle{FontRole::Bold, ColorRole::Tertiary};
        QTest::newRow("one-character italic: delimiters")
            << QStringLiteral("*a*") << qsizetype(2) << CharStyle{FontRole::Base, ColorRole::Tertiary, true};
        QTest::newRow("italic not inside a word") << QStringLiteral("a_b_c") << qsizetype(2) << base;
        QTest::newRow("highlight inner") << QStringLiteral("==a==") << qsizetype(2)
                                         << CharStyle{FontRole::Base, ColorRole::Text, false, false, true};
        QTest::newRow("highlight after backslash") << QStringLiteral("\\==a==") << qsizetype(3) << base;
        QTest::newRow("emphasis inside a fence keeps its font")
            << QStringLiteral("```\n**b**\n```") << qsizetype(6)
            << CharStyle{FontRole::Bold, ColorRole::Secondary};
        QTest::newRow("unterminated fence is no block")
            << QStringLiteral("```\nplain\n**b**") << qsizetype(5) << base;
        QTest::newRow("unterminated fence keeps inline styles")
            << QStringLiteral("```\nplain\n**b**") << qsizetype(12) << CharStyle{FontRole::Bold};
        QTest::newRow("fence closed only by a bare fence line")
            << QStringLiteral("```\na\n```js\nb\n```") << qsizetype(12)
            << CharStyle{FontRole::Base, ColorRole::Secondary};
        QTest::newRow("link bracket keeps the base colour")
            << QStringLiteral("[t](http://x.y)") << qsizetype(0) << base;
        QTest::newRow("address in a destination is not a url")
            << QStringLiteral("[t](http://x.y)") << qsizetype(4) << tertiary;
        QTest::newRow("url after a letter is not a url")
            << QStringLiteral("xhttps://x.y") << qsizetype(3) << base;
        QTest::newRow("link inside a code span is coloured as a link")
            << QStringLiteral("`[t](u)`") << qsizetype(2) << CharStyle{FontRole::Base, ColorRole::Accent};
        QTest::newRow("robustness: 50000 quote markers on a line")
            << (QStringLiteral("> ").repeated(50000) + u'x') << qsizetype(99998) << tertiary;
        QTest::newRow("lone surrogate does not stop the rules")
            << (QString(QChar(0xD800)) + QStringLiteral(" **b**")) << qsizetype(4)
            << CharStyle{FontRole::Bold};
    }

    void looks()
    {
        QFETCH(QString, text);
        QFETCH(qsizetype, position);
        QFETCH(CharStyle, expected);
        const CharStyle actual = styleAt(spans(text), position);
        QCOMPARE(int(actual.font), int(expected.font));
        QCOMPARE(int(actual.foreground), int(expected.foreground));
        QCOMPARE(actual.oblique, expected.oblique);
        QCOMPARE(actual.strikethrough, expected.strikethrough);
        QCOMPARE(actual.highlighted, expected.highlighted);
    }

    void headingSizes()
    {
        QCOMPARE(pointSize(FontRole::Heading1), 26.0);
        QCOMPARE(pointSize(FontRole::Heading5), 14.0);
        QCOMPARE(pointSize(FontRole::Heading6), 14.0);
        QCOMPARE(pointSize(FontRole::Bold), 14.0);
        QVERIFY(isSemibold(FontRole::Heading6));
        QVERIFY(!isSemibold(FontRole::Base));
    }

    void sizeLimit()
    {
        QString text = QStringLiteral("**bold** ");
        text += QString(maximumLength - text.size(), u'x');
        QCOMPARE(text.size(), maximumLength);
        QVERIFY(!spans(text).isEmpty());
        text += u'x';
        QVERIFY(spans(text).isEmpty());
        QVERIFY(matches(text).isEmpty());
        text.chop(1);
        QVERIFY(!spans(text).isEmpty());
    }

    void spansAreOrderedAndDisjoint()
    {
        const QString text = QString::fromUtf8(
            GoldenFiles::readFile(QStringLiteral(TESSIVO_TEST_DATA_DIR "/golden/basics.md")));
        const QList<HighlightSpan> all = spans(text);
        QVERIFY(!all.isEmpty());
        qsizetype end = 0;
        for (const HighlightSpan &s : all) {
            QVERIFY(s.range.location >= end);
            QVERIFY(s.range.length > 0);
            QVERIFY(!s.style.isBase());
            end = s.range.end();
        }
        QVERIFY(end <= text.size());
    }

    // Rules scanned by hand must match exactly what their patterns match.
    void scannedRulesAgreeWithTheirPatterns_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QStringList>("fragments");
        const auto split = [](const char *s) { return QString::fromUtf8(s).split(u'|'); };
        QTest::newRow("fenced blocks")
            << int(Style::CodeBlock) << QStringLiteral("^```[\\s\\S]*?^```[ \\t]*$")
            << split("```|```|\n|\r\n|\r| |\t|a|`|\u2028");
        QTest::newRow("blockquote markers") << int(Style::Marker) << QStringLiteral("^[ \\t]*(>[ \\t]?)+")
                                            << split(">|>| |\t|a|\n|\r\n|\r|\u2028");
        QTest::newRow("bold") << int(Style::Bold) << QStringLiteral("(\\*\\*|__)(?=\\S)(.+?)(?<=\\S)\\1")
                              << split("*|*|_|_|a| |\n|\u00a0");
        QTest::newRow("strike") << int(Style::Strike) << QStringLiteral("~~(?=\\S)(.+?)(?<=\\S)~~")
                                << split("~|~|~|a| |\n|\r");
        QTest::newRow("highlight") << int(Style::Highlight)
                                   << QStringLiteral("(?<![=\\\\])==(?=\\S)(.+?)(?<=\\S)==(?!=)")
                                   << split("=|=|=|\\|a| |\n");
        QTest::newRow("links") << int(Style::Link) << QStringLiteral("!?\\[([^\\]\\n]*)\\]\\(([^)\\n]*)\\)")
                               << split("[|]|(|)|!|a|](|\n|\r");
        QTest::newRow("urls") << int(Style::Url)
                              << QStringLiteral("<https?://[^>\\s]+>|(?<![(\\w])https?://[^\\s<>)]+")
                              << split("<|>|(|)|a| |\n|_|é|http://|https://|http://");
    }

    void scannedRulesAgreeWithTheirPatterns()
    {
        QFETCH(int, style);
        QFETCH(QString, pattern);
        QFETCH(QStringList, fragments);
        const QRegularExpression re = Text::regex(pattern, QRegularExpression::MultilineOption);
        QRandomGenerator rng(1234 + style);
        qsizetype total = 0;
        for (int round = 0; round < 20000; ++round) {
            QString text;
            const int count = int(rng.bounded(0, 16));
            for (int i = 0; i < count; ++i) {
                text += fragments.at(int(rng.bounded(qsizetype(fragments.size()))));
            }
            QList<TextRange> found;
            for (const RuleMatch &m : matches(text)) {
                if (int(m.style) == style) {
                    found.append(m.range);
                }
            }
            QList<TextRange> expected = regexRanges(re, text);
            if (style == int(Style::Highlight)) {
                // A setext underline ("=====") is a heading's, never a highlight.
                static const QRegularExpression underline(QStringLiteral("(?m)^ {0,3}=+[ \t]*\r?$"));
                for (const TextRange &u : regexRanges(underline, text)) {
                    expected.removeIf(
                        [u](const TextRange &r) { return r.location < u.end() && u.location < r.end(); });
                }
            }
            total += expected.size();
            if (found != expected) {
                QString shown = text;
                shown.replace(u'\n', QStringLiteral("\\n")).replace(u'\r', QStringLiteral("\\r"));
                QFAIL(qPrintable(QStringLiteral("differs on \"%1\"").arg(shown)));
            }
        }
        QVERIFY2(total > 300, "the random texts should hold plenty of matches");
    }
};

QTEST_GUILESS_MAIN(TestHighlighterRules)
#include "tst_highlighterrules.moc"
