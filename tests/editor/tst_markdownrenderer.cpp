#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTest>
#include <QtConcurrent/QtConcurrentMap>

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm.h>

#include "GoldenFiles.h"
#include "editor/core/MarkdownRenderer.h"

using namespace Qt::StringLiterals;

// The golden files pin the whole pipeline's output; run scripts/update-golden.sh
// (or the test with TESSIVO_UPDATE_GOLDEN=1) to rewrite them after an
// intended change and review the diff.

namespace {

const QHash<QString, QString> &titles()
{
    static const QHash<QString, QString> table{
        {u"project plan"_s, u"0f8fad5b-d9cb-469f-a165-70867728950e"_s},
        {u"notes & ideas"_s, u"id with spaces/and?query=1"_s},
        {u"café crème"_s, u"7c9e6679-7425-40de-944b-e07fc1f90ae7"_s},
        {u"🚀 rocket"_s, u"rocket-id"_s},
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
    for (const char *name : {"table", "strikethrough", "autolink", "tasklist", "tagfilter"})
        cmark_parser_attach_syntax_extension(parser, cmark_find_syntax_extension(name));
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
        u"# "_s,     u"## "_s,
        u"- "_s,     u"1. "_s,
        u"2) "_s,    u"> "_s,
        u"```"_s,    u"~~~"_s,
        u"    "_s,   u"\t"_s,
        u"*"_s,      u"**"_s,
        u"_"_s,      u"`"_s,
        u"``"_s,     u"["_s,
        u"]"_s,      u"("_s,
        u")"_s,      u"|"_s,
        u"---"_s,    u"\n"_s,
        u"\n\n"_s,   u"\r\n"_s,
        u"word"_s,   u"text "_s,
        u" "_s,      u"<div>"_s,
        u"</div>"_s, u"<script>"_s,
        u"\\"_s,     u"!"_s,
        u"="_s,      u"https://example.com/x"_s,
        u"😀"_s,      u"&amp;"_s,
        u"~~"_s,     u"- [ ] "_s,
        u"[^1]"_s,   u"[^1]: "_s,
        u"é"_s,      u"<"_s,
        u">"_s,      u"|---|---|\n"_s,
    };
    QString doc;
    const int count = int(rng.bounded(1, 120));
    for (int i = 0; i < count; ++i)
        doc += fragments.at(int(rng.bounded((fragments.size()))));
    while (doc.contains(u"=="_s))
        doc.replace(u"=="_s, u"="_s);
    while (doc.contains(u"[["_s))
        doc.replace(u"[["_s, u"["_s);
    if (doc.startsWith(u"---"_s))
        doc.prepend(u'x');
    return doc;
}

} // namespace

class TestMarkdownRenderer final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void golden_data() { GoldenFiles::addRows(); }

    void golden()
    {
        QFETCH(QString, input);
        const QString body = QString::fromUtf8(GoldenFiles::readFile(input));
        GoldenFiles::compare(MarkdownRenderer::render(body, titles()),
                             GoldenFiles::expectedPath(input, u".html"_s));
    }

    void sameAsBareLibraryWhenNothingToRewrite_data()
    {
        QTest::addColumn<QString>("body");
        QTest::newRow("empty") << QString();
        QTest::newRow("triggers only inside fences")
            << u"```\n$x$ ==y== [[z]]\n```\n\n~~~\n$$\na\n$$\n~~~\n"_s;
        QTest::newRow("triggers only inside code spans") << u"`$x$` and ``==y== [[z]]``\n"_s;
        QTest::newRow("escaped dollars") << u"Costs \\$5 or \\$10.\n"_s;
        QTest::newRow("prices are not math") << u"It costs $5 and $10.\n"_s;
        QTest::newRow("lone equals and brackets") << u"a = b, [a] [b], = = [ [\n"_s;
        QTest::newRow("rule, not front matter") << u"Intro\n\n---\ntitle: x\n---\n"_s;
        QTest::newRow("indented code with triggers") << u"Text\n\n    ==x== [[y]]\n"_s;
        QTest::newRow("mended: setext underline of five equals") << u"Title\n=====\n"_s;
        QTest::newRow("mended: math in a link destination") << u"[link]($x$(y))\n"_s;
        QTest::newRow("mended: math in an HTML attribute") << u"<div id=\"$x$\">\n\n</div>\n"_s;
        QTest::newRow("mended: math in an inline tag") << u"a <span title=\"$x$\">b</span> c\n"_s;
        QTest::newRow("mended: highlight in an HTML comment") << u"<!-- ==x== -->\n"_s;
        QTest::newRow("mended: highlight in an inline comment") << u"a <!-- ==x==\n[[y]] --> b\n"_s;
        QTest::newRow("mended: highlight in a tag") << u"a <span title=\"==x== [[y]]\">b</span>\n"_s;
        QTest::newRow("mended: fence opened on a list item line") << u"1. ```\n   ==x== [[y]]\n   ```\n"_s;
        QTest::newRow("mended: tabs after a list marker") << u"-\t\t==x== [[y]]\n"_s;
        QTest::newRow("mended: indented code after a heading") << u"# T\n    ==x== [[y]]\n"_s;
        QTest::newRow("mended: code span across lines") << u"a `b\n==x== [[y]] c` d\n"_s;

        QRandomGenerator rng(20240611);
        for (int i = 0; i < 300; ++i)
            QTest::newRow(qPrintable(u"random document %1"_s.arg(i))) << randomPlainDocument(rng);
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
        QTest::newRow("front matter only") << u"---\ntitle: A\n---\n"_s << QString();
        QTest::newRow("math in a wiki label")
            << u"[[T|$x$]]"_s
            << QStringLiteral("<p><a href=\"zv-new:/?title=T\" class=\"wiki-link wiki-link--missing\"><span "
                              "class=\"math\" data-display=\"0\">x</span></a></p>\n");
        QTest::newRow("typed placeholder stays as typed, once")
            << u"\uE000M0\uE000 $x$"_s
            << u"<p>\uE000M0\uE000 <span class=\"math\" data-display=\"0\">x</span></p>\n"_s;
        QTest::newRow("math next to a link destination")
            << u"[$a$]($b$) $c$"_s
            << QStringLiteral("<p><a href=\"$b$\"><span class=\"math\" data-display=\"0\">a</span></a> <span "
                              "class=\"math\" data-display=\"0\">c</span></p>\n");
        // Lines keep their kinds through the math pass, except a fence whose
        // info string loses its backtick to the math: it opens a fence then.
        QTest::newRow("math takes a fence's backtick")
            << u"```$$a`b$$\n[[x]] ==y==\n```\n"_s
            << u"<pre lang=\"<span class=\"math\" data-display=\"1\">a`b</span>\"><code>[[x]] ==y==\n</code></pre>\n"_s;
        QTest::newRow("display math over lines, then prose")
            << u"$$\na\n$$\n```x`\n[[x]]\n"_s
            << QStringLiteral("<p><span class=\"math\" data-display=\"1\">a</span>\n```x`\n<a "
                              "href=\"zv-new:/?title=x\" class=\"wiki-link wiki-link--missing\">x</a></p>\n");
        QTest::newRow("lone surrogate becomes a replacement character")
            << (u"a"_s + QChar(0xD800) + u"b"_s) << u"<p>a\uFFFDb</p>\n"_s;
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
        QTest::addColumn<int>("words");
        QTest::addColumn<int>("characters");
        QTest::newRow("empty") << QString() << (0) << (0);
        QTest::newRow("strong") << u"Hello **world**"_s << (2) << (15);
        QTest::newRow("heading marks count as words") << u"# Title"_s << (2) << (7);
        QTest::newRow("dash is a word") << u"a - b"_s << (3) << (5);
        QTest::newRow("apostrophe") << u"don't"_s << (1) << (5);
        QTest::newRow("front matter counted") << u"---\ntitle: A\n---\n"_s << (4) << (17);
        QTest::newRow("CR LF is one character") << u"a\r\nb"_s << (2) << (3);
        QTest::newRow("no-break space separates") << u"a\u00A0b"_s << (2) << (3);
        QTest::newRow("line separator separates") << u"a\u2028b"_s << (2) << (3);
        QTest::newRow("emoji family is one character") << u"👨‍👩‍👧 x"_s << (2) << (3);
        QTest::newRow("NUL counted") << u"a b"_s.replace(u' ', QChar(u'\0')) << (1) << (3);
        QTest::newRow("only white space") << u" \t\n "_s << (0) << (4);
    }

    void stats()
    {
        QFETCH(QString, body);
        QFETCH(int, words);
        QFETCH(int, characters);
        const MarkdownRenderer::Stats s = MarkdownRenderer::stats(body);
        QCOMPARE(s.words, qsizetype(words));
        QCOMPARE(s.characters, qsizetype(characters));
    }

    void hostileInput_data()
    {
        QTest::addColumn<QString>("body");
        const auto repeat = [](const QString &s, int n) { return s.repeated(n); };
        QTest::newRow("2 MB line") << repeat(u"word **b [[x ==y `z $w "_s, 100000);
        QTest::newRow("10000 nested quotes") << repeat(u"> "_s, 10000) + u"deep"_s;
        QTest::newRow("10000 quote markers per line, many lines")
            << repeat(repeat(u">"_s, 10000) + u" x\n"_s, 50);
        QTest::newRow("10000 nested list items") << repeat(u"- "_s, 10000) + u"deep"_s;
        QTest::newRow("stair of list levels") << [] {
            QString s;
            for (int i = 0; i < 2000; ++i)
                s += QString(i, u' ') + u"- level [[x]] ==y==\n"_s;
            return s;
        }();
        QTest::newRow("unbalanced fences") << repeat(u"```\n~~~~\n````` x\n$a$\n"_s, 5000);
        QTest::newRow("lone surrogates everywhere")
            << repeat(u"[[a@]] ==#== $@$ `%` @\n"_s.replace(u'@', QChar(0xD800))
                          .replace(u'#', QChar(0xDC00))
                          .replace(u'%', QChar(0xDFFF)),
                      2000);
        QTest::newRow("dollar flood") << repeat(u"$"_s, 300000);
        QTest::newRow("dollar-word flood") << repeat(u"$a "_s, 100000);
        QTest::newRow("escaped dollar flood") << u"$a"_s + repeat(u"\\$"_s, 100000);
        QTest::newRow("bracket flood") << repeat(u"[["_s, 300000);
        QTest::newRow("open link flood") << repeat(u"[[a|"_s, 100000);
        QTest::newRow("many links") << repeat(u"[[a]] "_s, 100000);
        QTest::newRow("equals flood") << repeat(u"== "_s, 200000);
        QTest::newRow("highlight openers") << repeat(u"==a "_s, 100000);
        QTest::newRow("backtick runs of every length") << [] {
            QString s;
            for (int i = 1; i < 1000; ++i)
                s += QString(i, u'`') + u" $x$ ==y== "_s;
            return s;
        }();
        QTest::newRow("brackets and emphasis") << repeat(u"*_[!("_s, 100000);
        QTest::newRow("wide delimiter row over many short rows")
            << (u"|"_s + repeat(u"a|"_s, 2000) + u"\n|"_s + repeat(u"-|"_s, 2000) + u"\n"_s +
                repeat(u"x\n"_s, 20000));
        QTest::newRow("many wide tables in a quote") << repeat(
            u"> |a|b|c|d|e|f|g|h|\n> |-|-|-|-|-|-|-|-|\n"_s + repeat(u"> x\n"_s, 300) + u"\n"_s, 100);
        QTest::newRow("image openers between links") << repeat(u"![[]()"_s, 20000);
        QTest::newRow("a row of pipes in a table") << u"a|b\n-|-\n"_s + repeat(u"|"_s, 40000);
        QTest::newRow("a header row of pipes") << repeat(u"|"_s, 40000) + u"\n|-|\n"_s;
        QTest::newRow("typed placeholders after a long formula")
            << u"$"_s + repeat(u"x"_s, 4000) + u"$ "_s + repeat(u"\uE000M0\uE000 "_s, 2000);
        QTest::newRow("unclosed comments and tags ==x==")
            << repeat(u"<!-- <a x=\"1\" ]($x "_s, 20000) + u"==y== [[z]]"_s;
        QTest::newRow("NUL at start") << QString(QChar(u'\0')) + u"text"_s;
        QTest::newRow("U+E000 in the text") << u"\uE000M0\uE000 and \uE000M99999999999\uE000 $x$ \uE000M1"_s;
    }

    void hostileInput()
    {
        QFETCH(QString, body);
        const QString html = MarkdownRenderer::render(body, titles());
        QVERIFY2(html.size() <= body.size() * 40 + 4096,
                 qPrintable(u"output of %1 units for %2 units of input"_s.arg(html.size()).arg(body.size())));
        QVERIFY(MarkdownRenderer::stats(body).characters <= body.size());
    }

    // Reused link references copy a long destination at every use: the
    // document is shown as text instead of as megabytes of HTML.
    void tooLargeShowsEscapedText()
    {
        const QString body = u"[r]: /"_s + QString(2000, u'x') + u"\n\n<b>"_s + u"[r] "_s.repeated(2500);
        QCOMPARE(MarkdownRenderer::render(body), u"<p>This document is too large to preview.</p>\n<pre>"_s +
                                                     body.toHtmlEscaped() + u"</pre>\n"_s);
        const QString fewer = u"[r]: /x\n\n"_s + u"[r] "_s.repeated(2500);
        QVERIFY(MarkdownRenderer::render(fewer).startsWith(u"<p><a href=\"/x\">r</a>"_s));
    }

    void cancelledRenderGivesUp()
    {
        std::atomic<bool> cancelled{true};
        QVERIFY(MarkdownRenderer::render(u"Hello **world**"_s, {}, &cancelled).isEmpty());
        cancelled = false;
        QCOMPARE(MarkdownRenderer::render(u"Hello **world**"_s, {}, &cancelled),
                 u"<p>Hello <strong>world</strong></p>\n"_s);
    }

    void concurrentRendersAgree()
    {
        QStringList bodies;
        const QDir dir(QStringLiteral(TESSIVO_TEST_DATA_DIR "/golden"));
        for (const QString &name : dir.entryList({u"*.md"_s}, QDir::Files, QDir::Name))
            bodies += QString::fromUtf8(GoldenFiles::readFile(dir.filePath(name)));
        QVERIFY(!bodies.isEmpty());
        QStringList expected;
        for (const QString &b : bodies)
            expected += MarkdownRenderer::render(b, titles());
        QStringList work;
        for (int i = 0; i < 16; ++i)
            work += bodies;
        const QStringList results = QtConcurrent::blockingMapped<QStringList>(
            work, [](const QString &b) { return MarkdownRenderer::render(b, titles()); });
        for (qsizetype i = 0; i < results.size(); ++i)
            QCOMPARE(results.at(i), expected.at(i % bodies.size()));
    }
};

QTEST_GUILESS_MAIN(TestMarkdownRenderer)
#include "tst_markdownrenderer.moc"
