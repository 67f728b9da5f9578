// The store's pure parts on hostile input: deeply nested front matter,
// huge and deep collection trees, and fuzzy scores on very long titles.
// Each was quadratic (or overflowed the stack) before; times should grow
// linearly with the argument.

#include "store/CollectionTree.h"
#include "store/FrontmatterParser.h"
#include "store/FuzzyFilter.h"

#include <benchmark/benchmark.h>

namespace {

// "tags: [[[...a...]]]" nested `depth` deep, the shape of a dropped file
// that overflowed the parser's stack.
void BM_FrontmatterNested(benchmark::State &state)
{
    const int depth = int(state.range(0));
    const QString text =
        u"---\ntags: "_qs + u"["_qs.repeated(depth) + u'a' + u"]"_qs.repeated(depth) + u"\n---\nBody\n"_qs;
    for (auto _ : state) {
        benchmark::DoNotOptimize(FrontmatterParser::extract(text));
    }
    state.SetBytesProcessed(state.iterations() * text.size() * 2);
}
BENCHMARK(BM_FrontmatterNested)->Arg(1000)->Arg(16000)->Arg(30000)->Unit(benchmark::kMillisecond);

QList<Collection> flatCollections(int count)
{
    QList<Collection> list;
    list.reserve(count);
    for (int i = 0; i < count; ++i) {
        Collection c;
        c.id = u"c%1"_qs.arg(i);
        c.name = c.id;
        c.position = i;
        c.parentKnown = true;
        list.append(c);
    }
    return list;
}

void BM_CollectionTreeTopLevel(benchmark::State &state)
{
    const QList<Collection> collections = flatCollections(int(state.range(0)));
    for (auto _ : state) {
        const CollectionTree tree(collections);
        benchmark::DoNotOptimize(tree.nodes({}));
    }
}
BENCHMARK(BM_CollectionTreeTopLevel)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_CollectionTreeChain(benchmark::State &state)
{
    QList<Collection> collections = flatCollections(int(state.range(0)));
    for (qsizetype i = 1; i < collections.size(); ++i) {
        collections[i].parentId = collections.at(i - 1).id;
    }
    for (auto _ : state) {
        const CollectionTree tree(collections);
        benchmark::DoNotOptimize(CollectionTree::flattened(tree.nodes({}).roots));
    }
}
BENCHMARK(BM_CollectionTreeChain)->Arg(300)->Arg(3000)->Unit(benchmark::kMillisecond);

// A wiki-link query against a 40,000-character title that almost matches
// everywhere: the worst case of a naive substring search.
void BM_FuzzyScoreLongTitle(benchmark::State &state)
{
    const QString title = QString(int(state.range(0)), u'a') + u'b';
    const QString query = QString(60, u'a') + u'b';
    for (auto _ : state) {
        benchmark::DoNotOptimize(fuzzyScore(query, title));
    }
}
BENCHMARK(BM_FuzzyScoreLongTitle)->Arg(4000)->Arg(40000)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
