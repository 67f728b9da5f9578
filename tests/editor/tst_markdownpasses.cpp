#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

#include "editor/core/Highlights.h"
#include "editor/core/MathExtractor.h"
#include "editor/core/ProseRewriter.h"
#include "editor/core/WikiLinks.h"
#include "store/Text.h"

using namespace Qt::StringLiterals;

namespace {

// Placeholders shown as {k}, spans as "i:tex" or "d:tex" joined by ";".
QString readable(const MathExtractor::Extracted &e)
{
    QString text = e.text;
    for (qsizetype k = e.spans.size() - 1; k >= 0; --k) {
        text.replace(MathExtractor::placeholder(k), u"{%1}"_s.arg(k));
    }
    QStringList spans;
    for (const MathExtractor::Span &s : e.spans)
        spans += (s.display ? u"d:"_s : u"i:"_s) + s.tex;
    return text + u'|' + spans.join(u';');
}

QString ph(int k)
{
    return MathExtractor::placeholder(k);
}

const QHash<QString, QString> &titles()
{
    static const QHash<QString, QString> table{{u"project plan"_s, u"abc"_s},
                                               {u"odd id"_s, u"a b/c?d=e&f"_s}};
    return table;
}

QString missingAnchor(const QString &encodedTitle, const QString &label)
{
    return u"<a href=\"zv-new:/?title=%1\" class=\"wiki-link wiki-link--missing\">%2</a>"_s.arg(encodedTitle,
                                                                                                label);
}

} // namespace

class TestMarkdownPasses final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void mathExtract_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        const auto same = [](const char *s) { return QString::fromUtf8(s) + u'|'; };
        QTest::newRow("closer followed by another number") << u"$x$½ $x$٣"_s << same("$x$½ $x$٣");
        QTest::newRow("closer followed by a letter") << u"$x$a"_s << u"{0}a|i:x"_s;
        QTest::newRow("unclosed inline code does not hide math") << u"`` $x$"_s << u"`` {0}|i:x"_s;
        QTest::newRow("inline code across lines") << u"`a\n$x$ b`"_s << same("`a\n$x$ b`");
        QTest::newRow("tilde fence indented three")
            << u"   ~~~\n$x$\n~~~\n$y$"_s << u"   ~~~\n$x$\n~~~\n{0}|i:y"_s;
        QTest::newRow("four spaces is no fence") << u"    ~~~\n$x$\n~~~"_s << u"    ~~~\n{0}\n~~~|i:x"_s;
        QTest::newRow("shorter run does not close")
            << u"~~~~\n~~~\n$x$\n~~~~\n$y$"_s << u"~~~~\n~~~\n$x$\n~~~~\n{0}|i:y"_s;
        QTest::newRow("other character does not close") << u"~~~\n```\n$x$"_s << same("~~~\n```\n$x$");
        QTest::newRow("quoted fence is code") << u"> ~~~\n> $x$\n> ~~~"_s << u"> ~~~\n> $x$\n> ~~~|"_s;
        QTest::newRow("unclosed display tries inline") << u"$$x$"_s << u"${0}|i:x"_s;
        QTest::newRow("inline stops at a backtick") << u"$a`b$"_s << same("$a`b$");
        QTest::newRow("fence after CR LF") << u"a\r\n```\r\n$x$\r\n```"_s << same("a\r\n```\r\n$x$\r\n```");
        QTest::newRow("dollar with a combining mark is another character")
            << u"$\u0301x$ and $x$\u0301 and $y$"_s << u"$\u0301x$ and $x$\u0301 and {0}|i:y"_s;
        QTest::newRow("non-BMP TeX") << u"$𝔸$"_s << u"{0}|i:𝔸"_s;
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
        QTest::newRow("markup characters escaped, quotes kept")
            << ph(0) << Spans{{u"a<b & c>\"d'"_s, false}}
            << u"<span class=\"math\" data-display=\"0\">a&lt;b &amp; c&gt;\"d'</span>"_s;
        QTest::newRow("unknown number left alone") << ph(5) << Spans{{u"x"_s, false}} << ph(5);
        QTest::newRow("alone in a paragraph: replaces it, once")
            << u"\uFEFF<p>é</p>\n<p>"_s + ph(0) + u"</p>\n<p>"_s + ph(0) + u" 𝔸 "_s + ph(1) + u"</p>"_s
            << Spans{{u"x"_s, true}, {u"y"_s, false}}
            << u"\uFEFF<p>é</p>\n<span class=\"math\" data-display=\"1\">x</span>\n<p> 𝔸 "
               "<span class=\"math\" data-display=\"0\">y</span></p>"_s;
        QTest::newRow("leading zero, broken placeholder")
            << u"\uE000M01\uE000 \uE000M\uE000 \uE000"_s + ph(0) << Spans{{u"z"_s, false}}
            << u"\uE000M01\uE000 \uE000M\uE000 \uE000<span class=\"math\" data-display=\"0\">z</span>"_s;
    }

    void mathRestore()
    {
        using Spans = QList<MathExtractor::Span>;
        QFETCH(QString, html);
        QFETCH(Spans, spans);
        QFETCH(QString, expected);
        QCOMPARE(MathExtractor::restore(html, spans), expected);
        // The render's path: the library's UTF-8 decoded as it is restored.
        QCOMPARE(MathExtractor::restoreUtf8(html.toUtf8(), spans), expected);
    }

    void proseRewrite_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no trigger: unchanged") << u"a\n\n    b"_s << u"a\n\n    b"_s;
        QTest::newRow("trailing line feed kept") << u"@\n"_s << u"[@]\n"_s;
        QTest::newRow("backtick in a tilde info string: fence")
            << u"~~~ a`b\n@\n~~~\n@"_s << u"~~~ a`b\n@\n~~~\n[@]"_s;
        QTest::newRow("closing run with text after stays open")
            << u"```\n@\n``` x\n@\n```\n@"_s << u"```\n@\n``` x\n@\n```\n[@]"_s;
        QTest::newRow("indented code across blank lines") << u"    code\n\n    @"_s << u"    code\n\n    @"_s;
        QTest::newRow("list marker in indented code") << u"    code\n    - @"_s << u"    code\n    - @"_s;
        QTest::newRow("quoted indented code") << u"> a\n>\n>     @"_s << u"> a\n>\n>     @"_s;
        QTest::newRow("a quoted fence ends with the quote") << u"> ```\n> @\n@"_s << u"> ```\n> @\n[@]"_s;
        QTest::newRow("a fence indented four columns does not close")
            << u"```\n    ```\n@\n```\n@"_s << u"```\n    ```\n@\n```\n[@]"_s;
        QTest::newRow("HTML comment block") << u"<!--\n@\n-->\n@"_s << u"<!--\n@\n-->\n[@]"_s;
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
        QTest::newRow("two") << u"`a` `b`"_s << QList<TextRange>{{0, 3}, {4, 3}};
        QTest::newRow("double run with a single inside") << u"``a`b``"_s << QList<TextRange>{{0, 7}};
        QTest::newRow("other lengths skipped") << u"`a``b`"_s << QList<TextRange>{{0, 6}};
        QTest::newRow("unclosed opener skipped") << u"`` a `b`"_s << QList<TextRange>{{5, 3}};
        QTest::newRow("non-BMP inside") << u"`🚀` x"_s << QList<TextRange>{{0, 4}};
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
        QTest::newRow("overlapping a code span") << u"`[[x` ]]"_s << u"`[[x` ]]"_s;
        QTest::newRow("two links and a pipe in the label")
            << u"[[a]] [[b|c|d]]"_s
            << (missingAnchor(u"a"_s, u"a"_s) + u' ' + missingAnchor(u"b"_s, u"c\\|d"_s));
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
        QTest::newRow("plus is not a space") << u"zv-new:/?title=a%2Bb+c"_s << 1 << u"a+b+c"_s;
        QTest::newRow("first id item") << u"zv-doc:/?x=1&id=q&id=r"_s << 0 << u"q"_s;
        QTest::newRow("no query") << u"zv-doc:/"_s << -1 << QString();
        QTest::newRow("wrong item name") << u"zv-new:/?id=a"_s << -1 << QString();
        QTest::newRow("other scheme") << u"https://example.com/?id=a"_s << -1 << QString();
        QTest::newRow("no scheme") << u"/?id=a"_s << -1 << QString();
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
        QTest::newRow("spaces") << u"Meeting notes 2024"_s;
        QTest::newRow("query characters") << u"a?b=c&d#e%f+g"_s;
        QTest::newRow("non-ASCII and non-BMP") << u"Crème brûlée 🚀 𝔸"_s;
        QTest::newRow("quotes and angle brackets") << u"\"x\" <y> 'z'"_s;
    }

    void wikiAnchorRoundTrip()
    {
        QFETCH(QString, title);
        const QString html = WikiLinks::anchor(title, title, {});
        static const QRegularExpression href(u"href=\"([^\"]*)\""_s);
        const QRegularExpressionMatch m = href.match(html);
        QVERIFY(m.hasMatch());
        const std::optional<WikiLinks::Link> link = WikiLinks::parse(QUrl(m.captured(1)));
        QVERIFY(link.has_value());
        QCOMPARE(*link, WikiLinks::Link::missing(title));
    }

    void escapeMarkdown()
    {
        QCOMPARE(WikiLinks::escapeMarkdown(u"A & B <i>"), u"A \\& B \\<i\\>"_s);
        QString punctuation;
        for (char16_t c = 0x21; c <= 0x7E; ++c) {
            if (!QChar(c).isLetterOrNumber())
                punctuation += QChar(c);
        }
        QCOMPARE(punctuation.size(), 32);
        QCOMPARE(WikiLinks::escapeMarkdown(punctuation).size(), 64);
        QCOMPARE(WikiLinks::escapeMarkdown(u"é—“x” 1"), u"é—“x” 1"_s);
    }

    void highlights_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expected");
        QTest::newRow("closer inside code does not close")
            << u"==a `b==` c=="_s << u"<mark>a `b==` c</mark>"_s;
        QTest::newRow("shortest") << u"==a== b=="_s << u"<mark>a</mark> b=="_s;
        QTest::newRow("no-break space is white space") << u"==\u00A0a=="_s << u"==\u00A0a=="_s;
        QTest::newRow("not across a line separator") << u"==a\u2028b=="_s << u"==a\u2028b=="_s;
        QTest::newRow("non-BMP") << u"==🚀=="_s << u"<mark>🚀</mark>"_s;
    }

    void highlights()
    {
        QFETCH(QString, line);
        QFETCH(QString, expected);
        QCOMPARE(applyHighlights(line), expected);
    }

    // The hand-written link scanner must find exactly what its pattern finds,
    // on many small random texts over the characters that matter. (The pair
    // scanners are checked the same way through the highlighter's rules.)
    void linkScannerAgreesWithItsPattern()
    {
        const QRegularExpression re = Text::regex(uR"(\[\[([^\]|\n]+?)(?:\|([^\]\n]+?))?\]\])"_s);
        const QList<QChar> alphabet = {u'[', u'[', u']', u']', u'|', u'a', u' ', u'\n'};
        QRandomGenerator rng(10);
        qsizetype total = 0;
        for (int round = 0; round < 20000; ++round) {
            QString text;
            for (int i = int(rng.bounded(0, 25)); i > 0; --i)
                text += alphabet.at(int(rng.bounded(qsizetype(alphabet.size()))));
            QList<std::pair<qsizetype, qsizetype>> found, expected;
            for (const WikiLinks::Match &m : WikiLinks::findLinks(text))
                found.append({m.range.location, m.range.end()});
            for (auto it = re.globalMatch(text); it.hasNext();) {
                const QRegularExpressionMatch m = it.next();
                expected.append({m.capturedStart(), m.capturedEnd()});
            }
            total += expected.size();
            if (found != expected)
                QFAIL(qPrintable(u"differs on \"%1\""_s.arg(text.toHtmlEscaped())));
        }
        QVERIFY2(total > 300, "the random texts should hold plenty of matches");
    }
};

QTEST_GUILESS_MAIN(TestMarkdownPasses)
#include "tst_markdownpasses.moc"
