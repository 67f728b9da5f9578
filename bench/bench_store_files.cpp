// Loading a large documents folder through Persistence, against the floor:
// a bare loop that reads and parses the same files with QJsonDocument.

#include "store/Persistence.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

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

} // namespace

BENCHMARK(BM_FloorReadAndParse)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PersistenceLoadDocuments)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
