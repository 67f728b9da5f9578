// Speed of the Markdown pipeline: a full render of a 1 MB document against
// cmark-gfm alone on the same text, the pre-passes on their own, and one
// highlighter pass at its size limit (it runs 80 ms after a keystroke on the
// main thread, so it should stay well under a frame).

#include <benchmark/benchmark.h>

#include <QString>
#include <QStringList>

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm.h>

#include <algorithm>
#include <ctime>

#include "editor/core/Highlights.h"
#include "editor/core/MarkdownHighlighterRules.h"
#include "editor/core/MarkdownRenderer.h"
#include "editor/core/MathExtractor.h"
#include "editor/core/ProseRewriter.h"
#include "editor/core/WikiLinks.h"
#include "store/FrontmatterParser.h"

namespace {

// Mixed prose, headings, lists, tables, code, math, wiki links and
// highlights, repeated with small variations up to `size` UTF-16 units.
QString realisticDocument(qsizetype size)
{
    const QStringList sections = {
        QStringLiteral(
            "## Section %1: planning notes\n\n"
            "The **quarterly plan** links to [[Project Plan]] and [[Roadmap %1|the roadmap]]; "
            "it costs about $5 and $10 per seat, and the model is $f(x) = \\sum_{i=0}^{n} a_i x^i$. "
            "Keep ==important findings== visible, and see https://example.com/notes/%1 for details. "
            "A sentence with _emphasis_, `inline code`, ~~old text~~ and a "
            "[link](https://example.org/%1).\n\n"),
        QStringLiteral("- first item with [[Meeting %1]]\n- second item ==marked==\n  - nested item $x_%1$\n"
                       "- [ ] open task\n- [x] done task\n\n1. ordered\n2. list with **bold**\n\n"),
        QStringLiteral("| Name | Value | Note |\n|:-----|------:|------|\n| alpha | %1 | ==hot== |\n"
                       "| beta | 2.5 | [[Beta %1]] |\n| gamma | $3 | plain |\n\n"),
        QStringLiteral("```swift\nlet total = items.reduce(0) { $0 + $1.price } // %1\nprint(\"[[not a "
                       "link]] ==no==\")\n```\n\n"),
        QStringLiteral(
            "$$\n\\int_0^{%1} e^{-x^2}\\,dx = \\frac{\\sqrt{\\pi}}{2}\n$$\n\n"
            "> A quoted paragraph with [[Quote %1]] and ==a highlight== in it,\n> continued here.\n\n"),
        QStringLiteral("    indented code block %1 with [[no link]]\n    and ==no highlight==\n\n"
                       "Footnote reference[^n%1] in running text.\n\n[^n%1]: The note for section %1.\n\n"),
    };
    QString doc = QStringLiteral("---\ntitle: Benchmark\ntags: [a, b]\n---\n# Benchmark document\n\n");
    for (int i = 0; doc.size() < size; ++i) {
        doc += sections.at(i % sections.size()).arg(i);
    }
    doc.truncate(size);
    return doc;
}

QHash<QString, QString> titles()
{
    QHash<QString, QString> t;
    for (int i = 0; i < 500; ++i) {
        t.insert(QStringLiteral("meeting %1").arg(i), QStringLiteral("id-%1").arg(i));
    }
    t.insert(QStringLiteral("project plan"), QStringLiteral("plan-id"));
    return t;
}

const QString &oneMegabyte()
{
    static const QString doc = realisticDocument(1 << 20);
    return doc;
}

void bareCmark(const QString &text)
{
    cmark_gfm_core_extensions_ensure_registered();
    const int options =
        CMARK_OPT_UNSAFE | CMARK_OPT_FOOTNOTES | CMARK_OPT_GITHUB_PRE_LANG | CMARK_OPT_VALIDATE_UTF8;
    const QByteArray utf8 = text.toUtf8();
    cmark_parser *parser = cmark_parser_new(options);
    for (const char *name : {"table", "strikethrough", "autolink", "tasklist", "tagfilter"}) {
        cmark_parser_attach_syntax_extension(parser, cmark_find_syntax_extension(name));
    }
    cmark_parser_feed(parser, utf8.constData(), size_t(utf8.size()));
    cmark_node *doc = cmark_parser_finish(parser);
    char *html = cmark_render_html(doc, options, cmark_parser_get_syntax_extensions(parser));
    const QString result = QString::fromUtf8(html);
    benchmark::DoNotOptimize(result.size());
    cmark_get_default_mem_allocator()->free(html);
    cmark_node_free(doc);
    cmark_parser_free(parser);
}

void BM_Render1MB(benchmark::State &state)
{
    const QString &doc = oneMegabyte();
    const QHash<QString, QString> t = titles();
    for (auto _ : state) {
        benchmark::DoNotOptimize(MarkdownRenderer::render(doc, t).size());
    }
    state.SetBytesProcessed(state.iterations() * doc.toUtf8().size());
}
BENCHMARK(BM_Render1MB)->Unit(benchmark::kMillisecond);

// The document as it is, front matter included and without the renderer's
// pre-passes, converted and rendered by cmark-gfm alone: the floor the ratio
// below measures the full render against. BM_LibraryOnPrePassed1MB gives the
// library the pre-passed text instead.
void BM_BareCmark1MB(benchmark::State &state)
{
    const QString &doc = oneMegabyte();
    for (auto _ : state) {
        bareCmark(doc);
    }
    state.SetBytesProcessed(state.iterations() * doc.toUtf8().size());
}
BENCHMARK(BM_BareCmark1MB)->Unit(benchmark::kMillisecond);

double threadCpuMs()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// A full render and bare cmark-gfm on the same 1 MB text, one after the
// other in each iteration, so that both see the same machine: the ratio of
// their fastest CPU times (the aim: 1.2 or less).
void BM_RenderToBareRatio1MB(benchmark::State &state)
{
    const QString &doc = oneMegabyte();
    const QHash<QString, QString> t = titles();
    double render = 1e12;
    double bare = 1e12;
    for (auto _ : state) {
        double start = threadCpuMs();
        benchmark::DoNotOptimize(MarkdownRenderer::render(doc, t).size());
        render = std::min(render, threadCpuMs() - start);
        start = threadCpuMs();
        bareCmark(doc);
        bare = std::min(bare, threadCpuMs() - start);
    }
    state.counters["render_ms"] = render;
    state.counters["bare_ms"] = bare;
    state.counters["ratio"] = render / bare;
}
BENCHMARK(BM_RenderToBareRatio1MB)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_PrePasses1MB(benchmark::State &state)
{
    const QString &doc = oneMegabyte();
    const QHash<QString, QString> t = titles();
    for (auto _ : state) {
        const MathExtractor::Extracted math = MathExtractor::extract(FrontmatterParser::strip(doc));
        const QString text = MarkdownRenderer::rewriteProse(math.text, t);
        benchmark::DoNotOptimize(text.size());
    }
}
BENCHMARK(BM_PrePasses1MB)->Unit(benchmark::kMillisecond);

// The library alone on the text the pre-passes hand it (inline HTML for
// links and highlights, placeholders for math): the floor of a full render.
void BM_LibraryOnPrePassed1MB(benchmark::State &state)
{
    const QHash<QString, QString> t = titles();
    const MathExtractor::Extracted math = MathExtractor::extract(FrontmatterParser::strip(oneMegabyte()));
    const QString text = MarkdownRenderer::rewriteProse(math.text, t);
    for (auto _ : state) {
        bareCmark(text);
    }
}
BENCHMARK(BM_LibraryOnPrePassed1MB)->Unit(benchmark::kMillisecond);

void BM_Stats1MB(benchmark::State &state)
{
    const QString &doc = oneMegabyte();
    for (auto _ : state) {
        benchmark::DoNotOptimize(MarkdownRenderer::stats(doc).words);
    }
}
BENCHMARK(BM_Stats1MB)->Unit(benchmark::kMillisecond);

void BM_HighlighterAtLimit(benchmark::State &state)
{
    const QString doc = realisticDocument(MarkdownHighlighterRules::maximumLength);
    for (auto _ : state) {
        benchmark::DoNotOptimize(MarkdownHighlighterRules::spans(doc).size());
    }
}
BENCHMARK(BM_HighlighterAtLimit)->Unit(benchmark::kMillisecond);

// Hostile text at the limit: floods of openers that never close.
void BM_HighlighterFloodAtLimit(benchmark::State &state)
{
    QString doc = QStringLiteral("**a ~~b ==c [d <http://e _f `g ")
                      .repeated(MarkdownHighlighterRules::maximumLength / 32);
    for (auto _ : state) {
        benchmark::DoNotOptimize(MarkdownHighlighterRules::spans(doc).size());
    }
}
BENCHMARK(BM_HighlighterFloodAtLimit)->Unit(benchmark::kMillisecond);

// Inputs that are quadratic in cmark-gfm 0.29.0.gfm.6 or that blow up the
// output, each about the size named: the renderer should bound them all.
QString hostileDocument(int which)
{
    switch (which) {
    case 0:
        return QStringLiteral("![[]()").repeated(20000);
    case 1:
        return QStringLiteral("|").repeated(40000) + QStringLiteral("\n");
    case 5:
        return QStringLiteral("a|b\n-|-\n") + QStringLiteral("|").repeated(40000) + QStringLiteral("\n");
    case 6:
        return QStringLiteral("|").repeated(40000) + QStringLiteral("\n|-|\n");
    case 7:
        return QStringLiteral("x\n") + QStringLiteral("|").repeated(40000) + QStringLiteral("\n");
    case 2:
        return QStringLiteral("[r]: /").repeated(1) + QStringLiteral("x").repeated(2000) +
               QStringLiteral("\n\n") + QStringLiteral("[r] ").repeated(2500);
    case 3:
        return QStringLiteral("$") + QStringLiteral("x").repeated(4000) + QStringLiteral("$ ") +
               QStringLiteral("\uE000M0\uE000 ").repeated(2000);
    default:
        return QStringLiteral("x[^1] ").repeated(20000) + QStringLiteral("\n\n[^1]: note\n");
    }
}

void BM_RenderHostile(benchmark::State &state)
{
    const QString doc = hostileDocument(int(state.range(0)));
    qsizetype size = 0;
    for (auto _ : state) {
        size = MarkdownRenderer::render(doc).size();
    }
    state.counters["input"] = double(doc.size());
    state.counters["output"] = double(size);
}
BENCHMARK(BM_RenderHostile)->DenseRange(0, 7)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
