#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include "editor/core/Highlights.h"
#include "editor/core/MarkdownScan.h"
#include "editor/core/MathExtractor.h"
#include "editor/core/ProseRewriter.h"
#include "editor/core/WikiLinks.h"
#include "store/Text.h"

namespace {

// Placeholders shown as {k}, spans as "i:tex" or "d:tex" joined by ";".
QString readable(const MathExtractor::Extracted &e)
{
    QString text = e.text;
    for (qsizetype k = e.spans.size() - 1; k >= 0; --k) {
        text.replace(MathExtractor::placeholder(k), QStringLiteral("{%1}").arg(k));
    }
    QStringList spans;
    for (const MathExtractor::Span &s : e.spans) {
        spans += (s.display ? QStringLiteral("d:") : QStringLiteral("i:")) + s.tex;
    }
    return text + u'|' + spans.join(u';');
}

QString ph(int k)
{
    return MathExtractor::placeholder(k);
}

const QHash<QString, QString> &titles()
{
    static const QHash<QString, QString> table{{QStringLiteral("project plan"), QStringLiteral("abc")},
                                               {QStringLiteral("odd id"), QStringLiteral("a b/c?d=e&f")}};
    return table;
}

QString missingAnchor(const QString &encodedTitle, const QString &label)
{
    return QStringLiteral("<a href=\"zv-new:/?title=%1\" class=\"wiki-link wiki-link--missing\">%2</a>")
        .arg(encodedTitle, label);
}

QString randomText(QRandomGenerator &rng, const QList<QChar> &alphabet, int maxLength)
{
    QString s;
    const int length = int(rng.bounded(0, maxLength + 1));
    for (int i = 0; i < length; ++i) {
        s += alphabet.at(int(rng.bounded(qsizetype(alphabet.size()))));
    }
    return s;
}

QList<std::pair<qsizetype, qsizetype>> regexMatches(const QRegularExpression &re, const QString &text)
{
    QList<std::pair<qsizetype, qsizetype>> out;
    auto it = re.globalMatch(text);
    while (it.hasNext()) {
        const auto m = it.next();
        out.append({m.capturedStart(), m.capturedEnd()});
    }
    return out;
}

} // namespace

class TestMarkdownPasses final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("TessivoTests"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_markdownpasses"));
        QStandardPaths::setTestModeEnabled(true);
    }

    void mathExtract_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        const auto same = [](const char *s) { return QString::fromUtf8(s) + u'|'; };
        QTest::newRow("display on its own lines, trimmed")
            << QStringLiteral("$$\n\\int_0^1 x\\,dx\n$$") << QStringLiteral("{0}|d:\\int_0^1 x\\,dx");
        QTest::newRow("closer followed by a digit") << QStringLiteral("$x$5") << same("$x$5");
        QTest::newRow("closer followed by another number")
            << QStringLiteral("$x$½ $x$٣") << same("$x$½ $x$٣");
        QTest::newRow("closer followed by a letter") << QStringLiteral("$x$a") << QStringLiteral("{0}a|i:x");
        QTest::newRow("space after opener") << QStringLiteral("$ x$") << same("$ x$");
        QTest::newRow("space before closer") << QStringLiteral("$x $") << same("$x $");
        QTest::newRow("escaped dollar inside math")
            << QStringLiteral("$a\\$b$") << QStringLiteral("{0}|i:a\\$b");
        QTest::newRow("unclosed inline code does not hide math")
            << QStringLiteral("`` $x$") << QStringLiteral("`` {0}|i:x");
        QTest::newRow("inline code across lines") << QStringLiteral("`a\n$x$ b`") << same("`a\n$x$ b`");
        QTest::newRow("tilde fence indented three")
            << QStringLiteral("   ~~~\n$x$\n~~~\n$y$") << QStringLiteral("   ~~~\n$x$\n~~~\n{0}|i:y");
        QTest::newRow("four spaces is no fence")
            << QStringLiteral("    ~~~\n$x$\n~~~") << QStringLiteral("    ~~~\n{0}\n~~~|i:x");
        QTest::newRow("shorter run does not close")
            << QStringLiteral("~~~~\n~~~\n$x$\n~~~~\n$y$") << QStringLiteral("~~~~\n~~~\n$x$\n~~~~\n{0}|i:y");
        QTest::newRow("other character does not close")
            << QStringLiteral("~~~\n```\n$x$") << same("~~~\n```\n$x$");
        QTest::newRow("quoted fence is code")
            << QStringLiteral("> ~~~\n> $x$\n> ~~~") << QStringLiteral("> ~~~\n> $x$\n> ~~~|");
        QTest::newRow("indented code is scanned")
            << QStringLiteral("    $x$") << QStringLiteral("    {0}|i:x");
        QTest::newRow("unclosed display tries inline")
            << QStringLiteral("$$x$") << QStringLiteral("${0}|i:x");
        QTest::newRow("inline stops at a backtick") << QStringLiteral("$a`b$") << same("$a`b$");
        QTest::newRow("CR LF lines") << QStringLiteral("$x$\r\n$$\r\ny\r\n$$\r\n")
                                     << QStringLiteral("{0}\r\n{1}\r\n|i:x;d:y");
        QTest::newRow("fence after CR LF")
            << QStringLiteral("a\r\n```\r\n$x$\r\n```") << same("a\r\n```\r\n$x$\r\n```");
        QTest::newRow("dollar with a combining mark is another character")
            << QStringLiteral("$\u0301x$ and $x$\u0301 and $y$")
            << QStringLiteral("$\u0301x$ and $x$\u0301 and {0}|i:y");
        QTest::newRow("non-BMP TeX") << QStringLiteral("$𝔸$") << QStringLiteral("{0}|i:𝔸");
        QTest::newRow("no dollar at all") << QStringLiteral("plain `code`") << same("plain `code`");
    }

    void mathExtract()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(readable(MathExtractor::extract(input)), expected);
    }

    void mathRestore_data()
    {
        using Spans = QList<MathExtractor::Span>;
        QTest::addColumn<QString>("html");
        QTest::addColumn<Spans>("spans");
        QTest::addColumn<QString>("expected");
        const QString d0 = QStringLiteral("<span class=\"math\" data-display=\"1\">x</span>");
        const QString i0 = QStringLiteral("<span class=\"math\" data-display=\"0\">x</span>");
        QTest::newRow("no spans, HTML unchanged")
            << (QStringLiteral("<p>") + ph(0) + QStringLiteral("</p>")) << Spans{}
            << (QStringLiteral("<p>") + ph(0) + QStringLiteral("</p>"));
        QTest::newRow("alone in a paragraph") << (QStringLiteral("<p>") + ph(0) + QStringLiteral("</p>\n"))
                                              << Spans{{QStringLiteral("x"), true}} << (d0 + u'\n');
        QTest::newRow("inside a paragraph")
            << (QStringLiteral("<p>a ") + ph(0) + QStringLiteral("</p>"))
            << Spans{{QStringLiteral("x"), false}} << (QStringLiteral("<p>a ") + i0 + QStringLiteral("</p>"));
        Spans eleven;
        for (int k = 0; k <= 10; ++k) {
            eleven.append({QString::number(k), false});
        }
        QTest::newRow("span 1 is not found inside span 10")
            << (ph(1) + u' ' + ph(10)) << eleven
            << QStringLiteral("<span class=\"math\" data-display=\"0\">1</span> <span class=\"math\" "
                              "data-display=\"0\">10</span>");
        QTest::newRow("markup characters escaped, quotes kept")
            << ph(0) << Spans{{QStringLiteral("a<b & c>\"d'"), false}}
            << QStringLiteral("<span class=\"math\" data-display=\"0\">a&lt;b &amp; c&gt;\"d'</span>");
        QTest::newRow("unknown number left alone") << ph(5) << Spans{{QStringLiteral("x"), false}} << ph(5);
        QTest::newRow("inside code HTML")
            << (QStringLiteral("<pre><code>") + ph(0) + QStringLiteral("\n</code></pre>"))
            << Spans{{QStringLiteral("x"), false}}
            << (QStringLiteral("<pre><code>") + i0 + QStringLiteral("\n</code></pre>"));
    }

    void mathRestore()
    {
        using Spans = QList<MathExtractor::Span>;
        QFETCH(QString, html);
        QFETCH(Spans, spans);
        QFETCH(QString, expected);
        QCOMPARE(MathExtractor::restore(html, spans), expected);
    }

    void proseRewrite_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no trigger: unchanged")
            << QStringLiteral("a\n\n    b") << QStringLiteral("a\n\n    b");
        QTest::newRow("trailing line feed kept") << QStringLiteral("@\n") << QStringLiteral("[@]\n");
        QTest::newRow("fenced block")
            << QStringLiteral("```\n@\n```\n@") << QStringLiteral("```\n@\n```\n[@]");
        QTest::newRow("backtick in a backtick info string: no fence")
            << QStringLiteral("``` a`b @\n@") << QStringLiteral("[``` a`b @]\n[@]");
        QTest::newRow("backtick in a tilde info string: fence")
            << QStringLiteral("~~~ a`b\n@\n~~~\n@") << QStringLiteral("~~~ a`b\n@\n~~~\n[@]");
        QTest::newRow("shorter closing run stays open")
            << QStringLiteral("````\n@\n```\n@\n````\n@") << QStringLiteral("````\n@\n```\n@\n````\n[@]");
        QTest::newRow("closing run with text after stays open")
            << QStringLiteral("```\n@\n``` x\n@\n```\n@") << QStringLiteral("```\n@\n``` x\n@\n```\n[@]");
        QTest::newRow("fence with quote prefix")
            << QStringLiteral("> ```\n> @\n> ```\n> @") << QStringLiteral("> ```\n> @\n> ```\n[> @]");
        QTest::newRow("unbalanced fence runs to the end")
            << QStringLiteral("@\n~~~\n@\n@") << QStringLiteral("[@]\n~~~\n@\n@");
        QTest::newRow("indented code after a blank")
            << QStringLiteral("para\n\n    @\n@") << QStringLiteral("para\n\n    @\n[@]");
        QTest::newRow("lazy continuation")
            << QStringLiteral("para\n    @") << QStringLiteral("para\n[    @]");
        QTest::newRow("indented code across blank lines")
            << QStringLiteral("    code\n\n    @") << QStringLiteral("    code\n\n    @");
        QTest::newRow("list item text and continuation")
            << QStringLiteral("- item @\n  @\n\n      @\n\n  @")
            << QStringLiteral("[- item @]\n[  @]\n\n      @\n\n[  @]");
        QTest::newRow("list marker in indented code")
            << QStringLiteral("    code\n    - @") << QStringLiteral("    code\n    - @");
        QTest::newRow("quoted indented code")
            << QStringLiteral("> a\n>\n>     @") << QStringLiteral("> a\n>\n>     @");
        QTest::newRow("CR LF: blank line counts as blank")
            << QStringLiteral("para\r\n\r\n    @\r\n@\r\n") << QStringLiteral("para\r\n\r\n    @\r\n[@]\r\n");
        QTest::newRow("fence opened on a list item line")
            << QStringLiteral("1. ```\n   @\n   ```\n@") << QStringLiteral("1. ```\n   @\n   ```\n[@]");
        QTest::newRow("tabs after a list marker make indented code")
            << QStringLiteral("-\t\t@\n\n@") << QStringLiteral("-\t\t@\n\n[@]");
        QTest::newRow("indented code right after a heading")
            << QStringLiteral("# Title\n    @\n@") << QStringLiteral("# Title\n    @\n[@]");
        QTest::newRow("a quoted fence ends with the quote")
            << QStringLiteral("> ```\n> @\n@") << QStringLiteral("> ```\n> @\n[@]");
        QTest::newRow("a fence indented four columns does not close")
            << QStringLiteral("```\n    ```\n@\n```\n@") << QStringLiteral("```\n    ```\n@\n```\n[@]");
        QTest::newRow("HTML comment block")
            << QStringLiteral("<!--\n@\n-->\n@") << QStringLiteral("<!--\n@\n-->\n[@]");
        QTest::newRow("CR LF: fence closes")
            << QStringLiteral("```\r\n@\r\n```\r\n@") << QStringLiteral("```\r\n@\r\n```\r\n[@]");
    }

    void proseRewrite()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        const auto mark = [](const QString &line, const QList<TextRange> &) { return u'[' + line + u']'; };
        QCOMPARE(ProseRewriter::rewrite(input, u"@", mark), expected);
    }

    void codeSpanRanges_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QList<TextRange>>("expected");
        QTest::newRow("none") << QStringLiteral("plain") << QList<TextRange>{};
        QTest::newRow("one") << QStringLiteral("a `b` c") << QList<TextRange>{{2, 3}};
        QTest::newRow("two") << QStringLiteral("`a` `b`") << QList<TextRange>{{0, 3}, {4, 3}};
        QTest::newRow("double run with a single inside")
            << QStringLiteral("``a`b``") << QList<TextRange>{{0, 7}};
        QTest::newRow("other lengths skipped") << QStringLiteral("`a``b`") << QList<TextRange>{{0, 6}};
        QTest::newRow("unclosed opener skipped") << QStringLiteral("`` a `b`") << QList<TextRange>{{5, 3}};
        QTest::newRow("run at the end stops") << QStringLiteral("`a` ``") << QList<TextRange>{{0, 3}};
        QTest::newRow("non-BMP inside") << QStringLiteral("`🚀` x") << QList<TextRange>{{0, 4}};
    }

    void codeSpanRanges()
    {
        QFETCH(QString, line);
        QFETCH(QList<TextRange>, expected);
        QCOMPARE(ProseRewriter::codeSpanRanges(line), expected);
    }

    void wikiRender_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expected");
        const QString plan = QStringLiteral("<a href=\"zv-doc:/?id=abc\" class=\"wiki-link\">%1</a>");
        QTest::newRow("title match ignores case and outer space")
            << QStringLiteral("[[  PROJECT plan ]]") << plan.arg(QStringLiteral("PROJECT plan"));
        QTest::newRow("in a code span")
            << QStringLiteral("`[[x]]` [[y]]")
            << (QStringLiteral("`[[x]]` ") + missingAnchor(QStringLiteral("y"), QStringLiteral("y")));
        QTest::newRow("overlapping a code span") << QStringLiteral("`[[x` ]]") << QStringLiteral("`[[x` ]]");
        QTest::newRow("letters kept, symbols encoded")
            << QStringLiteral("[[Café/日本?🚀]]")
            << missingAnchor(QStringLiteral("Café%2F日本%3F%F0%9F%9A%80"), QStringLiteral("Café\\/日本\\?🚀"));
        QTest::newRow("two links and a pipe in the label")
            << QStringLiteral("[[a]] [[b|c|d]]")
            << (missingAnchor(QStringLiteral("a"), QStringLiteral("a")) + u' ' +
                missingAnchor(QStringLiteral("b"), QStringLiteral("c\\|d")));
        QTest::newRow("extra opening bracket joins the target")
            << QStringLiteral("[[[x]]") << missingAnchor(QStringLiteral("%5Bx"), QStringLiteral("\\[x"));
    }

    void wikiRender()
    {
        QFETCH(QString, line);
        QFETCH(QString, expected);
        QCOMPARE(WikiLinks::render(line, titles()), expected);
    }

    void wikiParse_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<int>("kind"); // -1 nothing, 0 existing, 1 missing
        QTest::addColumn<QString>("value");
        QTest::newRow("existing") << QStringLiteral("zv-doc:/?id=abc") << 0 << QStringLiteral("abc");
        QTest::newRow("missing, scheme case-insensitive")
            << QStringLiteral("ZV-NEW:/?title=New%20Note") << 1 << QStringLiteral("New Note");
        QTest::newRow("plus is not a space")
            << QStringLiteral("zv-new:/?title=a%2Bb+c") << 1 << QStringLiteral("a+b+c");
        QTest::newRow("first id item")
            << QStringLiteral("zv-doc:/?x=1&id=q&id=r") << 0 << QStringLiteral("q");
        QTest::newRow("empty id") << QStringLiteral("zv-doc:/?id=") << -1 << QString();
        QTest::newRow("no query") << QStringLiteral("zv-doc:/") << -1 << QString();
        QTest::newRow("wrong item name") << QStringLiteral("zv-new:/?id=a") << -1 << QString();
        QTest::newRow("other scheme") << QStringLiteral("https://example.com/?id=a") << -1 << QString();
        QTest::newRow("no scheme") << QStringLiteral("/?id=a") << -1 << QString();
    }

    void wikiParse()
    {
        QFETCH(QString, url);
        QFETCH(int, kind);
        QFETCH(QString, value);
        const std::optional<WikiLinks::Link> link = WikiLinks::parse(QUrl(url));
        QCOMPARE(link.has_value(), kind >= 0);
        if (link) {
            QCOMPARE(int(link->kind), kind);
            QCOMPARE(link->value, value);
        }
    }

    void wikiAnchorRoundTrip_data()
    {
        QTest::addColumn<QString>("title");
        QTest::newRow("spaces") << QStringLiteral("Meeting notes 2024");
        QTest::newRow("query characters") << QStringLiteral("a?b=c&d#e%f+g");
        QTest::newRow("non-ASCII and non-BMP") << QStringLiteral("Crème brûlée 🚀 𝔸");
        QTest::newRow("quotes and angle brackets") << QStringLiteral("\"x\" <y> 'z'");
    }

    void wikiAnchorRoundTrip()
    {
        QFETCH(QString, title);
        const QString html = WikiLinks::anchor(title, title, {});
        static const QRegularExpression href(QStringLiteral("href=\"([^\"]*)\""));
        const QRegularExpressionMatch m = href.match(html);
        QVERIFY(m.hasMatch());
        const std::optional<WikiLinks::Link> link = WikiLinks::parse(QUrl(m.captured(1)));
        QVERIFY(link.has_value());
        QCOMPARE(*link, WikiLinks::Link::missing(title));
    }

    void escapeMarkdown()
    {
        QCOMPARE(WikiLinks::escapeMarkdown(u"A & B <i>"), QStringLiteral("A \\& B \\<i\\>"));
        QString punctuation;
        for (char16_t c = 0x21; c <= 0x7E; ++c) {
            if (!QChar(c).isLetterOrNumber()) {
                punctuation += QChar(c);
            }
        }
        QCOMPARE(punctuation.size(), 32);
        QCOMPARE(WikiLinks::escapeMarkdown(punctuation).size(), 64);
        QCOMPARE(WikiLinks::escapeMarkdown(u"é—“x” 1"), QStringLiteral("é—“x” 1"));
    }

    void highlights_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expected");
        QTest::newRow("closer inside code does not close")
            << QStringLiteral("==a `b==` c==") << QStringLiteral("<mark>a `b==` c</mark>");
        QTest::newRow("shortest") << QStringLiteral("==a== b==") << QStringLiteral("<mark>a</mark> b==");
        QTest::newRow("no-break space is white space")
            << QStringLiteral("==\u00A0a==") << QStringLiteral("==\u00A0a==");
        QTest::newRow("not across a line separator")
            << QStringLiteral("==a\u2028b==") << QStringLiteral("==a\u2028b==");
        QTest::newRow("non-BMP") << QStringLiteral("==🚀==") << QStringLiteral("<mark>🚀</mark>");
    }

    void highlights()
    {
        QFETCH(QString, line);
        QFETCH(QString, expected);
        QCOMPARE(applyHighlights(line), expected);
    }

    // The hand-written scanners must find exactly what the patterns they stand
    // for find, on many small random texts over the characters that matter.
    void scannersAgreeWithTheirPatterns_data()
    {
        QTest::addColumn<int>("which");
        QTest::newRow("highlight pairs") << 0;
        QTest::newRow("bold pairs") << 1;
        QTest::newRow("strike pairs") << 2;
        QTest::newRow("wiki links") << 3;
    }

    void scannersAgreeWithTheirPatterns()
    {
        QFETCH(int, which);
        static const char *const patterns[] = {
            R"((?<![=\\])==(?=\S)(.+?)(?<=\S)==(?!=))",
            R"((\*\*|__)(?=\S)(.+?)(?<=\S)\1)",
            R"(~~(?=\S)(.+?)(?<=\S)~~)",
            R"(\[\[([^\]|\n]+?)(?:\|([^\]\n]+?))?\]\])",
        };
        const QRegularExpression re = Text::regex(QString::fromLatin1(patterns[which]));
        // Alphabets dense in each pattern's delimiters, with the white space
        // and line ends that decide where a match may start and stop.
        static const QList<QList<QChar>> alphabets = {
            {u'=', u'=', u'=', u'a', u'b', u' ', u'\\', u'\n', QChar(0xA0), QChar(0x2028)},
            {u'*', u'*', u'_', u'_', u'a', u' ', u'\n', u'\r', u'\t'},
            {u'~', u'~', u'~', u'a', u' ', u'\n', u'\r', QChar(0x2029)},
            {u'[', u'[', u']', u']', u'|', u'a', u' ', u'\n'},
        };
        const QList<QChar> &alphabet = alphabets.at(which);
        QRandomGenerator rng(7 + which);
        qsizetype total = 0;
        for (int round = 0; round < 20000; ++round) {
            const QString text = randomText(rng, alphabet, 24);
            QList<std::pair<qsizetype, qsizetype>> found;
            if (which == 3) {
                for (const WikiLinks::Match &m : WikiLinks::findLinks(text)) {
                    found.append({m.range.location, m.range.end()});
                }
            } else {
                const auto kind = which == 0   ? MarkdownScan::PairKind::Highlight
                                  : which == 1 ? MarkdownScan::PairKind::Bold
                                               : MarkdownScan::PairKind::Strike;
                for (const MarkdownScan::Pair &p : MarkdownScan::findPairs(text, kind)) {
                    found.append({p.start, p.end});
                }
            }
            const auto expected = regexMatches(re, text);
            total += expected.size();
            if (found != expected) {
                QFAIL(qPrintable(QStringLiteral("differs on \"%1\"").arg(text.toHtmlEscaped())));
            }
        }
        QVERIFY2(total > 300, "the random texts should hold plenty of matches");
    }
};

QTEST_GUILESS_MAIN(TestMarkdownPasses)
#include "tst_markdownpasses.moc"
