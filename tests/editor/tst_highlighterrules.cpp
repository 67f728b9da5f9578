#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

#include "GoldenFiles.h"
#include "editor/core/MarkdownHighlighterRules.h"
#include "store/Text.h"

using namespace MarkdownHighlighterRules;

using namespace Qt::StringLiterals;

namespace {

CharStyle styleAt(const QList<HighlightSpan> &spans, qsizetype position)
{
    for (const HighlightSpan &s : spans) {
        if (s.range.contains(position))
            return s.style;
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
        covered.replace(u'\\', u"\\\\"_s).replace(u'\n', u"\\n"_s).replace(u'\r', u"\\r"_s);
        covered.replace(u'\t', u"\\t"_s).replace(QChar(u'\0'), u"\\0"_s);
        out += u"%1+%2 %3 %4%5%6%7 |%8|\n"_s.arg(s.range.location)
                   .arg(s.range.length)
                   .arg(QLatin1String(fontName(s.style.font)), QLatin1String(colorName(s.style.foreground)),
                        s.style.oblique ? u" oblique"_s : QString(),
                        s.style.strikethrough ? u" strike"_s : QString(),
                        s.style.highlighted ? u" highlighted"_s : QString(), covered);
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
    void golden_data() { GoldenFiles::addRows(); }

    void golden()
    {
        QFETCH(QString, input);
        GoldenFiles::compare(dump(QString::fromUtf8(GoldenFiles::readFile(input))),
                             GoldenFiles::expectedPath(input, u".spans"_s));
    }

    void looks_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qsizetype>("position");
        QTest::addColumn<CharStyle>("expected");
        const CharStyle base;
        const CharStyle tertiary{FontRole::Base, ColorRole::Tertiary};
        QTest::newRow("hashes need a blank") << u"#Title"_s << qsizetype(1) << base;
        QTest::newRow("one-character bold: opening pair")
            << u"**a**"_s << qsizetype(1) << CharStyle{FontRole::Bold, ColorRole::Tertiary};
        QTest::newRow("one-character bold: closing pair")
            << u"**a**"_s << qsizetype(3) << CharStyle{FontRole::Bold, ColorRole::Tertiary};
        QTest::newRow("one-character italic: delimiters")
            << u"*a*"_s << qsizetype(2) << CharStyle{FontRole::Base, ColorRole::Tertiary, true};
        QTest::newRow("italic not inside a word") << u"a_b_c"_s << qsizetype(2) << base;
        QTest::newRow("emphasis inside a fence keeps its font")
            << u"```\n**b**\n```"_s << qsizetype(6) << CharStyle{FontRole::Bold, ColorRole::Secondary};
        QTest::newRow("fence closed only by a bare fence line")
            << u"```\na\n```js\nb\n```"_s << qsizetype(12) << CharStyle{FontRole::Base, ColorRole::Secondary};
        QTest::newRow("url after a letter is not a url") << u"xhttps://x.y"_s << qsizetype(3) << base;
        QTest::newRow("link inside a code span is coloured as a link")
            << u"`[t](u)`"_s << qsizetype(2) << CharStyle{FontRole::Base, ColorRole::Accent};
        QTest::newRow("robustness: 50000 quote markers on a line")
            << (u"> "_s.repeated(50000) + u'x') << qsizetype(99998) << tertiary;
        QTest::newRow("lone surrogate does not stop the rules")
            << (QString(QChar(0xD800)) + u" **b**"_s) << qsizetype(4) << CharStyle{FontRole::Bold};
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

    void sizeLimit()
    {
        QString text = u"**bold** "_s;
        text += QString(maximumLength - text.size(), u'x');
        QCOMPARE(text.size(), maximumLength);
        QVERIFY(!spans(text).isEmpty());
        text += u'x';
        QVERIFY(spans(text).isEmpty());
        QVERIFY(matches(text).isEmpty());
        text.chop(1);
        QVERIFY(!spans(text).isEmpty());
    }

    // Rules scanned by hand must match exactly what their patterns match.
    void scannedRulesAgreeWithTheirPatterns_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QStringList>("fragments");
        const auto split = [](const char *s) { return QString::fromUtf8(s).split(u'|'); };
        QTest::newRow("fenced blocks") << int(Style::CodeBlock) << u"^```[\\s\\S]*?^```[ \\t]*$"_s
                                       << split("```|```|\n|\r\n|\r| |\t|a|`|\u2028");
        QTest::newRow("blockquote markers")
            << int(Style::Marker) << u"^[ \\t]*(>[ \\t]?)+"_s << split(">|>| |\t|a|\n|\r\n|\r|\u2028");
        QTest::newRow("bold") << int(Style::Bold) << u"(\\*\\*|__)(?=\\S)(.+?)(?<=\\S)\\1"_s
                              << split("**|*|__|_|a| |\n|\r|\t|\u00a0");
        QTest::newRow("strike") << int(Style::Strike) << u"~~(?=\\S)(.+?)(?<=\\S)~~"_s
                                << split("~|~|~|a| |\n|\r|\u2029");
        QTest::newRow("highlight") << int(Style::Highlight) << u"(?<![=\\\\])==(?=\\S)(.+?)(?<=\\S)==(?!=)"_s
                                   << split("=|=|=|\\|a| |\n|\u00a0|\u2028");
        QTest::newRow("links") << int(Style::Link) << u"!?\\[([^\\]\\n]*)\\]\\(([^)\\n]*)\\)"_s
                               << split("[|]|(|)|!|a|](|\n|\r");
        QTest::newRow("urls") << int(Style::Url) << u"<https?://[^>\\s]+>|(?<![(\\w])https?://[^\\s<>)]+"_s
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
            for (int i = 0; i < count; ++i)
                text += fragments.at(int(rng.bounded(qsizetype(fragments.size()))));
            QList<TextRange> found;
            for (const RuleMatch &m : matches(text)) {
                if (int(m.style) == style)
                    found.append(m.range);
            }
            QList<TextRange> expected = regexRanges(re, text);
            if (style == int(Style::Highlight)) {
                // A setext underline ("=====") is a heading's, never a highlight.
                static const QRegularExpression underline(u"(?m)^ {0,3}=+[ \t]*\r?$"_s);
                for (const TextRange &u : regexRanges(underline, text)) {
                    expected.removeIf(
                        [u](const TextRange &r) { return r.location < u.end() && u.location < r.end(); });
                }
            }
            total += expected.size();
            if (found != expected) {
                QString shown = text;
                shown.replace(u'\n', u"\\n"_s).replace(u'\r', u"\\r"_s);
                QFAIL(qPrintable(u"differs on \"%1\""_s.arg(shown)));
            }
        }
        QVERIFY2(total > 300, "the random texts should hold plenty of matches");
    }
};

QTEST_GUILESS_MAIN(TestHighlighterRules)
#include "tst_highlighterrules.moc"
