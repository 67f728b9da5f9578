// The collection tree on a chain of nested collections, as a synced or
// hand-edited collections.json can hold: 6,000, 12,000 and 24,000 levels.
// The app itself nests four levels; the cost should stay linear in depth.
//
//   BM_CollectionChain/<depth>   building the tree and its nodes, then the
//                                pre-order list the sidebar and palette read

#include "store/CollectionTree.h"

#include <benchmark/benchmark.h>

namespace {

QList<Collection> chain(int depth)
{
    QList<Collection> list;
    list.reserve(depth);
    for (int i = 0; i < depth; ++i) {
        Collection c;
        c.id = QStringLiteral("c%1").arg(i);
        c.name = QStringLiteral("Level %1").arg(i);
        c.position = i;
        c.parentKnown = true;
        if (i > 0) {
            c.parentId = QStringLiteral("c%1").arg(i - 1);
        }
        list.append(c);
    }
    return list;
}

void BM_CollectionChain(benchmark::State &state)
{
    const QList<Collection> collections = chain(int(state.range(0)));
    for (auto _ : state) {
        const CollectionTree tree(collections);
        const CollectionTree::Forest forest = tree.nodes({});
        benchmark::DoNotOptimize(CollectionTree::flattened(forest.roots).size());
    }
}
BENCHMARK(BM_CollectionChain)->Arg(6000)->Arg(12000)->Arg(24000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
