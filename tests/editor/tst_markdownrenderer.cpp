#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTest>
#include <QtConcurrent/QtConcurrentMap>

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm.h>

#include "GoldenFiles.h"
#include "editor/core/MarkdownRenderer.h"

// The golden files pin the whole pipeline's output; run scripts/update-golden.sh
// (or the test with TESSIVO_UPDATE_GOLDEN=1) to rewrite them after an
// intended change and review the diff.

namespace {

const QHash<QString, QString> &titles()
{
    static const QHash<QString, QString> table{
        {QStringLiteral("project plan"), QStringLiteral("0f8fad5b-d9cb-469f-a165-70867728950e")},
        {QStringLiteral("notes & ideas"), QStringLiteral("id with spaces/and?query=1")},
        {QStringLiteral("café crème"), QStringLiteral("7c9e6679-7425-40de-944b-e07fc1f90ae7")},
        {QStringLiteral("🚀 rocket"), QStringLiteral("rocket-id")},
    };
    return table;
}

// cmark-gfm called directly, independently of the renderer, with the options
// and extensions the preview promises.
QString bareCmark(const QString &markdown)
{
    cmark_gfm_core_extensions_ensure_registered();
    const int options =
        CMARK_OPT_UNSAFE | CMARK_OPT_FOOTNOTES | CMARK_OPT_GITHUB_PRE_LANG | CMARK_OPT_VALIDATE_UTF8;
    cmark_parser *parser = cmark_parser_new(options);
    for (const char *name : {"table", "strikethrough", "autolink", "tasklist", "tagfilter"}) {
        cmark_parser_attach_syntax_extension(parser, cmark_find_syntax_extension(name));
    }
    const QByteArray utf8 = markdown.toUtf8();
    cmark_parser_feed(parser, utf8.constData(), size_t(utf8.size()));
    cmark_node *doc = cmark_parser_finish(parser);
    char *html = cmark_render_html(doc, options, cmark_parser_get_syntax_extensions(parser));
    const QString result = QString::fromUtf8(html);
    cmark_get_default_mem_allocator()->free(html);
    cmark_node_free(doc);
    cmark_parser_free(parser);
    return result;
}

// A random Markdown document built from fragments that never form "$", "==",
// "[[" or a front-matter block.
QString randomPlainDocument(QRandomGenerator &rng)
{
    static const QStringList fragments = {
        QStringLiteral("# "),     QStringLiteral("## "),
        QStringLiteral("- "),     QStringLiteral("1. "),
        QStringLiteral("2) "),    QStringLiteral("> "),
        QStringLiteral("```"),    QStringLiteral("~~~"),
        QStringLiteral("    "),   QStringLiteral("\t"),
        QStringLiteral("*"),      QStringLiteral("**"),
        QStringLiteral("_"),      QStringLiteral("`"),
        QStringLiteral("``"),     QStringLiteral("["),
        QStringLiteral("]"),      QStringLiteral("("),
        QStringLiteral(")"),      QStringLiteral("|"),
        QStringLiteral("---"),    QStringLiteral("\n"),
        QStringLiteral("\n\n"),   QStringLiteral("\r\n"),
        QStringLiteral("word"),   QStringLiteral("text "),
        QStringLiteral(" "),      QStringLiteral("<div>"),
        QStringLiteral("</div>"), QStringLiteral("<script>"),
        QStringLiteral("\\"),     QStringLiteral("!"),
        QStringLiteral("="),      QStringLiteral("https://example.com/x"),
        QStringLiteral("😀"),      QStringLiteral("&amp;"),
        QStringLiteral("~~"),     QStringLiteral("- [ ] "),
        QStringLiteral("[^1]"),   QStringLiteral("[^1]: "),
        QStringLiteral("é"),      QStringLiteral("<"),
        QStringLiteral(">"),      QStringLiteral("|---|---|\n"),
    };
    QString doc;
    const int count = int(rng.bounded(1, 120));
    for (int i = 0; i < count; ++i) {
        doc += fragments.at(int(rng.bounded(qsizetype(fragments.size()))));
    }
    while (doc.contains(QStringLiteral("=="))) {
        doc.replace(QStringLiteral("=="), QStringLiteral("="));
    }
    while (doc.contains(QStringLiteral("[["))) {
        doc.replace(QStringLiteral("[["), QStringLiteral("["));
    }
    if (doc.startsWith(QStringLiteral("---"))) {
        doc.prepend(u'x');
    }
    return doc;
}

} // namespace

class TestMarkdownRenderer final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("TessivoTests"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_markdownrenderer"));
        QStandardPaths::setTestModeEnabled(true);
    }

    void golden_data() { GoldenFiles::addRows(); }

    void golden()
    {
        QFETCH(QString, input);
        const QString body = QString::fromUtf8(GoldenFiles::readFile(input));
        GoldenFiles::compare(MarkdownRenderer::render(body, titles()),
                             GoldenFiles::expectedPath(input, QStringLiteral(".html")));
    }

    void sameAsBareLibraryWhenNothingToRewrite_data()
    {
        QTest::addColumn<QString>("body");
        QTest::newRow("empty") << QString();
        QTest::newRow("triggers only inside fences")
            << QStringLiteral("```\n$x$ ==y== [[z]]\n```\n\n~~~\n$$\na\n$$\n~~~\n");
        QTest::newRow("triggers only inside code spans") << QStringLiteral("`$x$` and ``==y== [[z]]``\n");
        QTest::newRow("escaped dollars") << QStringLiteral("Costs \\$5 or \\$10.\n");
        QTest::newRow("prices are not math") << QStringLiteral("It costs $5 and $10.\n");
        QTest::newRow("lone equals and brackets") << QStringLiteral("a = b, [a] [b], = = [ [\n");
        QTest::newRow("rule, not front matter") << QStringLiteral("Intro\n\n---\ntitle: x\n---\n");
        QTest::newRow("indented code with triggers") << QStringLiteral("Text\n\n    ==x== [[y]]\n");
        QTest::newRow("mended: setext underline of five equals") << QStringLiteral("Title\n=====\n");
        QTest::newRow("mended: math in a link destination") << QStringLiteral("[link]($x$(y))\n");
        QTest::newRow("mended: math in an HTML attribute") << QStringLiteral("<div id=\"$x$\">\n\n</div>\n");
        QTest::newRow("mended: math in an inline tag")
            << QStringLiteral("a <span title=\"$x$\">b</span> c\n");
        QTest::newRow("mended: highlight in an HTML comment") << QStringLiteral("<!-- ==x== -->\n");
        QTest::newRow("mended: highlight in an inline comment")
            << QStringLiteral("a <!-- ==x==\n[[y]] --> b\n");
        QTest::newRow("mended: highlight in a tag")
            << QStringLiteral("a <span title=\"==x== [[y]]\">b</span>\n");
        QTest::newRow("mended: fence opened on a list item line")
            << QStringLiteral("1. ```\n   ==x== [[y]]\n   ```\n");
        QTest::newRow("mended: tabs after a list marker") << QStringLiteral("-\t\t==x== [[y]]\n");
        QTest::newRow("mended: indented code after a heading") << QStringLiteral("# T\n    ==x== [[y]]\n");
        QTest::newRow("mended: code span across lines") << QStringLiteral("a `b\n==x== [[y]] c` d\n");

        QRandomGenerator rng(20240611);
        for (int i = 0; i < 300; ++i) {
            QTest::newRow(qPrintable(QStringLiteral("random document %1").arg(i)))
                << randomPlainDocument(rng);
        }
    }

    void sameAsBareLibraryWhenNothingToRewrite()
    {
        QFETCH(QString, body);
        QCOMPARE(MarkdownRenderer::render(body, titles()), bareCmark(body));
    }

    void rendering_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty body") << QString() << QString();
        QTest::newRow("front matter only") << QStringLiteral("---\ntitle: A\n---\n") << QString();
        QTest::newRow("strong") << QStringLiteral("Hello **world**")
                                << QStringLiteral("<p>Hello <strong>world</strong></p>\n");
        QTest::newRow("script neutralised, div kept")
            << QStringLiteral("<script>x</script>\n<div>y</div>")
            << QStringLiteral("&lt;script>x&lt;/script>\n<div>y</div>\n");
        QTest::newRow("fence lang on pre") << QStringLiteral("```diff\n-a\n```")
                                           << QStringLiteral("<pre lang=\"diff\"><code>-a\n</code></pre>\n");
        QTest::newRow("NUL ends the rendered part")
            << (QStringLiteral("a") + QChar(u'\0') + QStringLiteral("b")) << QStringLiteral("<p>a</p>\n");
        QTest::newRow("display math alone is not in a paragraph")
            << QStringLiteral("$$\n\\int_0^1 x\\,dx\n$$")
            << QStringLiteral("<span class=\"math\" data-display=\"1\">\\int_0^1 x\\,dx</span>\n");
        QTest::newRow("inline math escaped")
            << QStringLiteral("x $a<b$")
            << QStringLiteral("<p>x <span class=\"math\" data-display=\"0\">a&lt;b</span></p>\n");
        QTest::newRow("math in a wiki label")
            << QStringLiteral("[[T|$x$]]")
            << QStringLiteral("<p><a href=\"zv-new:/?title=T\" class=\"wiki-link wiki-link--missing\"><span "
                              "class=\"math\" data-display=\"0\">x</span></a></p>\n");
        QTest::newRow("highlight with emphasis inside")
            << QStringLiteral("==**a**==") << QStringLiteral("<p><mark><strong>a</strong></mark></p>\n");
        QTest::newRow("typed placeholder stays as typed, once")
            << QStringLiteral("\uE000M0\uE000 $x$")
            << QStringLiteral("<p>\uE000M0\uE000 <span class=\"math\" data-display=\"0\">x</span></p>\n");
        QTest::newRow("math next to a link destination")
            << QStringLiteral("[$a$]($b$) $c$")
            << QStringLiteral("<p><a href=\"$b$\"><span class=\"math\" data-display=\"0\">a</span></a> <span "
                              "class=\"math\" data-display=\"0\">c</span></p>\n");
        QTest::newRow("lone surrogate becomes a replacement character")
            << (QStringLiteral("a") + QChar(0xD800) + QStringLiteral("b"))
            << QStringLiteral("<p>a\uFFFDb</p>\n");
    }

    void rendering()
    {
        QFETCH(QString, body);
        QFETCH(QString, expected);
        QCOMPARE(MarkdownRenderer::render(body, titles()), expected);
    }

    void stats_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<qsizetype>("words");
        QTest::addColumn<qsizetype>("characters");
        QTest::newRow("empty") << QString() << qsizetype(0) << qsizetype(0);
        QTest::newRow("strong") << QStringLiteral("Hello **world**") << qsizetype(2) << qsizetype(15);
        QTest::newRow("heading marks count as words")
            << QStringLiteral("# Title") << qsizetype(2) << qsizetype(7);
        QTest::newRow("dash is a word") << QStringLiteral("a - b") << qsizetype(3) << qsizetype(5);
        QTest::newRow("apostrophe") << QStringLiteral("don't") << qsizetype(1) << qsizetype(5);
        QTest::newRow("front matter counted")
            << QStringLiteral("---\ntitle: A\n---\n") << qsizetype(4) << qsizetype(17);
        QTest::newRow("CR LF is one character") << QStringLiteral("a\r\nb") << qsizetype(2) << qsizetype(3);
        QTest::newRow("no-break space separates")
            << QStringLiteral("a\u00A0b") << qsizetype(2) << qsizetype(3);
        QTest::newRow("line separator separates")
            << QStringLiteral("a\u2028b") << qsizetype(2) << qsizetype(3);
        QTest::newRow("emoji family is one character")
            << QStringLiteral("👨‍👩‍👧 x") << qsizetype(2) << qsizetype(3);
        QTest::newRow("NUL counted") << QStringLiteral("a b").replace(u' ', QChar(u'\0')) << qsizetype(1)
                                     << qsizetype(3);
        QTest::newRow("only white space") << QStringLiteral(" \t\n ") << qsizetype(0) << qsizetype(4);
    }

    void stats()
    {
        QFETCH(QString, body);
        QFETCH(qsizetype, words);
        QFETCH(qsizetype, characters);
        const MarkdownRenderer::Stats s = MarkdownRenderer::stats(body);
        QCOMPARE(s.words, words);
        QCOMPARE(s.characters, characters);
    }

    void hostileInput_data()
    {
        QTest::addColumn<QString>("body");
        const auto repeat = [](const QString &s, int n) { return s.repeated(n); };
        QTest::newRow("robustness: 2 MB line") << repeat(QStringLiteral("word **b [[x ==y `z $w "), 100000);
        QTest::newRow("robustness: 10000 nested quotes")
            << repeat(QStringLiteral("> "), 10000) + QStringLiteral("deep");
        QTest::newRow("robustness: 10000 quote markers per line, many lines")
            << repeat(repeat(QStringLiteral(">"), 10000) + QStringLiteral(" x\n"), 50);
        QTest::newRow("robustness: 10000 nested list items")
            << repeat(QStringLiteral("- "), 10000) + QStringLiteral("deep");
        QTest::newRow("robustness: stair of list levels") << [] {
            QString s;
            for (int i = 0; i < 2000; ++i) {
                s += QString(i, u' ') + QStringLiteral("- level [[x]] ==y==\n");
            }
            return s;
        }();
        QTest::newRow("robustness: unbalanced fences")
            << repeat(QStringLiteral("```\n~~~~\n````` x\n$a$\n"), 5000);
        QTest::newRow("robustness: lone surrogates everywhere")
            << repeat(QStringLiteral("[[a@]] ==#== $@$ `%` @\n")
                          .replace(u'@', QChar(0xD800))
                          .replace(u'#', QChar(0xDC00))
                          .replace(u'%', QChar(0xDFFF)),
                      2000);
        QTest::newRow("robustness: dollar flood") << repeat(QStringLiteral("$"), 300000);
        QTest::newRow("robustness: dollar-word flood") << repeat(QStringLiteral("$a "), 100000);
        QTest::newRow("robustness: escaped dollar flood")
            << QStringLiteral("$a") + repeat(QStringLiteral("\\$"), 100000);
        QTest::newRow("robustness: bracket flood") << repeat(QStringLiteral("[["), 300000);
        QTest::newRow("robustness: open link flood") << repeat(QStringLiteral("[[a|"), 100000);
        QTest::newRow("robustness: many links") << repeat(QStringLiteral("[[a]] "), 100000);
        QTest::newRow("robustness: equals flood") << repeat(QStringLiteral("== "), 200000);
        QTest::newRow("robustness: highlight openers") << repeat(QStringLiteral("==a "), 100000);
        QTest::newRow("robustness: backtick runs of every length") << [] {
            QString s;
            for (int i = 1; i < 1000; ++i) {
                s += QString(i, u'`') + QStringLiteral(" $x$ ==y== ");
            }
            return s;
        }();
        QTest::newRow("robustness: brackets and emphasis") << repeat(QStringLiteral("*_[!("), 100000);
        QTest::newRow("robustness: wide delimiter row over many short rows")
            << (QStringLiteral("|") + repeat(QStringLiteral("a|"), 2000) + QStringLiteral("\n|") +
                repeat(QStringLiteral("-|"), 2000) + QStringLiteral("\n") +
                repeat(QStringLiteral("x\n"), 20000));
        QTest::newRow("robustness: many wide tables in a quote")
            << repeat(QStringLiteral("> |a|b|c|d|e|f|g|h|\n> |-|-|-|-|-|-|-|-|\n") +
                          repeat(QStringLiteral("> x\n"), 300) + QStringLiteral("\n"),
                      100);
        QTest::newRow("bounded: image openers between links") << repeat(QStringLiteral("![[]()"), 20000);
        QTest::newRow("bounded: a row of pipes in a table")
            << QStringLiteral("a|b\n-|-\n") + repeat(QStringLiteral("|"), 40000);
        QTest::newRow("bounded: a header row of pipes")
            << repeat(QStringLiteral("|"), 40000) + QStringLiteral("\n|-|\n");
        QTest::newRow("bounded: typed placeholders after a long formula")
            << QStringLiteral("$") + repeat(QStringLiteral("x"), 4000) + QStringLiteral("$ ") +
                   repeat(QStringLiteral("\uE000M0\uE000 "), 2000);
        QTest::newRow("robustness: unclosed comments and tags ==x==")
            << repeat(QStringLiteral("<!-- <a x=\"1\" ]($x "), 20000) + QStringLiteral("==y== [[z]]");
        QTest::newRow("robustness: NUL at start") << QString(QChar(u'\0')) + QStringLiteral("text");
        QTest::newRow("robustness: U+E000 in the text")
            << QStringLiteral("\uE000M0\uE000 and \uE000M99999999999\uE000 $x$ \uE000M1");
    }

    void hostileInput()
    {
        QFETCH(QString, body);
        const QString html = MarkdownRenderer::render(body, titles());
        QVERIFY2(html.size() <= body.size() * 40 + 4096,
                 qPrintable(QStringLiteral("output of %1 units for %2 units of input")
                                .arg(html.size())
                                .arg(body.size())));
        QVERIFY(MarkdownRenderer::stats(body).characters <= body.size());
    }

    // Reused link references copy a long destination at every use: the
    // document is shown as text instead of as megabytes of HTML.
    void tooLargeShowsEscapedText()
    {
        const QString body = QStringLiteral("[r]: /") + QString(2000, u'x') + QStringLiteral("\n\n<b>") +
                             QStringLiteral("[r] ").repeated(2500);
        QCOMPARE(MarkdownRenderer::render(body),
                 QStringLiteral("<p>This document is too large to preview.</p>\n<pre>") +
                     body.toHtmlEscaped() + QStringLiteral("</pre>\n"));
        const QString fewer = QStringLiteral("[r]: /x\n\n") + QStringLiteral("[r] ").repeated(2500);
        QVERIFY(MarkdownRenderer::render(fewer).startsWith(QStringLiteral("<p><a href=\"/x\">r</a>")));
    }

    void cancelledRenderGivesUp()
    {
        std::atomic<bool> cancelled{true};
        QVERIFY(MarkdownRenderer::render(QStringLiteral("Hello **world**"), {}, &cancelled).isEmpty());
        cancelled = false;
        QCOMPARE(MarkdownRenderer::render(QStringLiteral("Hello **world**"), {}, &cancelled),
                 QStringLiteral("<p>Hello <strong>world</strong></p>\n"));
    }

    void concurrentRendersAgree()
    {
        QStringList bodies;
        const QDir dir(QStringLiteral(TESSIVO_TEST_DATA_DIR "/golden"));
        for (const QString &name : dir.entryList({QStringLiteral("*.md")}, QDir::Files, QDir::Name)) {
            bodies += QString::fromUtf8(GoldenFiles::readFile(dir.filePath(name)));
        }
        QVERIFY(!bodies.isEmpty());
        QStringList expected;
        for (const QString &b : bodies) {
            expected += MarkdownRenderer::render(b, titles());
        }
        QStringList work;
        for (int i = 0; i < 16; ++i) {
            work += bodies;
        }
        const QStringList results = QtConcurrent::blockingMapped<QStringList>(
            work, [](const QString &b) { return MarkdownRenderer::render(b, titles()); });
        for (qsizetype i = 0; i < results.size(); ++i) {
            QCOMPARE(results.at(i), expected.at(i % bodies.size()));
        }
    }
};

QTEST_GUILESS_MAIN(TestMarkdownRenderer)
#include "tst_markdownrenderer.moc"
