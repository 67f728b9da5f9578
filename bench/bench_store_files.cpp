// Loading a large documents folder through Persistence, against the floor:
// a bare loop that reads and parses the same files with QJsonDocument; and
// the first sync's batch write of 10,000 documents with 1, 2, 4 and 8
// writer threads, in wall time and in the CPU time all threads spent.

#include "store/Persistence.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <ctime>

#include <unistd.h>

namespace {

constexpr int documentCount = 10000;

// 10,000 documents of about 4 KB each, written once per run.
const QTemporaryDir &folder()
{
    static QTemporaryDir dir;
    static const bool filled = [] {
        QRandomGenerator rng(7);
        const QString paragraph =
            u"Writing every day builds the habit; the words matter less than showing up. "
            "Notes turn into drafts, drafts into posts, and posts into something worth keeping. "_qs;
        for (int i = 0; i < documentCount; ++i) {
            Document doc(QString(), std::nullopt);
            QString body = u"# Document number "_qs + QString::number(i) + u"\n\n"_qs;
            while (body.size() < 3900) {
                body += paragraph;
                if (rng.bounded(4) == 0) {
                    body += u"\n\n- a list item with **bold** text\n\n"_qs;
                }
            }
            doc.body = body;
            doc.title = Document::deriveTitle(body);
            if (i % 3 == 0) {
                doc.collectionId = u"collection-"_qs + QString::number(i % 17);
            }
            Persistence::saveDocument(doc, dir.path());
        }
        return true;
    }();
    Q_UNUSED(filled);
    return dir;
}

void BM_PersistenceLoadDocuments(benchmark::State &state)
{
    folder();
    qsizetype loaded = 0;
    for (auto _ : state) {
        const QList<Document> docs = Persistence::loadDocuments(folder().path());
        loaded = docs.size();
        benchmark::DoNotOptimize(docs.constData());
    }
    state.counters["documents"] = double(loaded);
}

void BM_FloorReadAndParse(benchmark::State &state)
{
    const QString documents = QDir(folder().path()).filePath(u"documents"_qs);
    qsizetype parsed = 0;
    for (auto _ : state) {
        parsed = 0;
        const QStringList names = QDir(documents).entryList(QDir::Files);
        for (const QString &name : names) {
            QFile file(documents + u'/' + name);
            if (!file.open(QIODevice::ReadOnly)) {
                continue;
            }
            const QJsonDocument json = QJsonDocument::fromJson(file.readAll());
            parsed += json.isObject() ? 1 : 0;
            benchmark::DoNotOptimize(json);
        }
    }
    state.counters["documents"] = double(parsed);
}

double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// The documents a first sync pulls: new ids, about 4 KB each.
QList<Document> pulledDocuments()
{
    QList<Document> docs;
    const QString body = u"# Pulled\n\n"_qs + QString(3900, u'p');
    for (int i = 0; i < documentCount; ++i) {
        docs.append(Document(body, std::nullopt));
    }
    return docs;
}

void BM_FirstSyncWrite(benchmark::State &state)
{
    const int threads = int(state.range(0));
    const QList<Document> docs = pulledDocuments();
    double cpu = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto dir = std::make_unique<QTemporaryDir>();
        // What earlier runs left unwritten is not this run's to sync.
        ::sync();
        const double cpuBefore = processCpuSeconds();
        state.ResumeTiming();
        const QList<bool> saved = Persistence::saveDocuments(docs, dir->path(), threads);
        state.PauseTiming();
        cpu += processCpuSeconds() - cpuBefore;
        benchmark::DoNotOptimize(saved.constData());
        dir.reset();
        state.ResumeTiming();
    }
    state.counters["cpu_s"] = benchmark::Counter(cpu, benchmark::Counter::kAvgIterations);
}

} // namespace

BENCHMARK(BM_FirstSyncWrite)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FloorReadAndParse)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PersistenceLoadDocuments)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
