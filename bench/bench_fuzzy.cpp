// fuzzyFilter over a palette-sized list of document titles.

#include "store/FuzzyFilter.h"

#include <QRandomGenerator>
#include <QStringList>

#include <benchmark/benchmark.h>

namespace {

// 10,000 titles built from everyday words, with some accented and non-Latin
// ones mixed in, reproducibly.
QStringList realisticTitles()
{
    static const QStringList words{
        u"Meeting"_qs,       u"notes"_qs,     u"Draft"_qs,     u"Project"_qs, u"plan"_qs,    u"Weekly"_qs,
        u"review"_qs,        u"Ideas"_qs,     u"for"_qs,       u"the"_qs,     u"blog"_qs,    u"Recipe"_qs,
        u"Travel"_qs,        u"journal"_qs,   u"Budget"_qs,    u"2024"_qs,    u"Q3"_qs,      u"roadmap"_qs,
        u"Documentation"_qs, u"Reading"_qs,   u"list"_qs,      u"Café"_qs,    u"crème"_qs,   u"brûlée"_qs,
        u"Übersicht"_qs,     u"日本語"_qs,    u"メモ"_qs,      u"Design"_qs,  u"system"_qs,  u"API"_qs,
        u"migration"_qs,     u"Interview"_qs, u"questions"_qs, u"Book"_qs,    u"summary"_qs, u"Daily"_qs,
        u"standup"_qs,       u"Release"_qs,   u"checklist"_qs, u"Bug"_qs,     u"triage"_qs,  u"Retro"_qs};
    QRandomGenerator rng(42);
    QStringList titles;
    titles.reserve(10000);
    for (int i = 0; i < 10000; ++i) {
        const int count = 2 + int(rng.bounded(5));
        QStringList parts;
        for (int w = 0; w < count; ++w) {
            parts << words.at(int(rng.bounded(int(words.size()))));
        }
        titles << parts.join(u' ');
    }
    return titles;
}

void BM_FuzzyFilterTitles(benchmark::State &state, const char *query)
{
    const QStringList titles = realisticTitles();
    const QString q = QString::fromUtf8(query);
    qsizetype matches = 0;
    for (auto _ : state) {
        const QStringList result = fuzzyFilter(titles, q);
        matches = result.size();
        benchmark::DoNotOptimize(result.constData());
    }
    state.counters["matches"] = double(matches);
}

} // namespace

BENCHMARK_CAPTURE(BM_FuzzyFilterTitles, prefix_and_substring, "rev")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FuzzyFilterTitles, letters_in_order, "mtn")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FuzzyFilterTitles, accented, "caf")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FuzzyFilterTitles, no_match, "zzq")->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
