// The document store's load of a large folder (against the floor: a bare
// loop that reads and parses the same files with QJsonDocument), the
// keystroke path on a 1 MB document in a store of 10,000 documents, and the
// resident memory of 10,000 loaded documents against their bytes on disk.

#include "store/DocumentStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr int documentCount = 10000;
constexpr int collectionCount = 200;

QString paragraphBody(int index, qsizetype size, QRandomGenerator &rng)
{
    static const QString paragraph =
        u"Writing every day builds the habit; the words matter less than showing up. "
        "Notes turn into drafts, drafts into posts, and posts into something worth keeping. "_s;
    QString body = u"# Document number "_s + QString::number(index) + u"\n\n"_s;
    while (body.size() < size) {
        body += paragraph;
        if (rng.bounded(4) == 0) {
            body += u"\n\n- a list item with **bold** text\n\n"_s;
        }
    }
    return body;
}

// 10,000 documents of about 4 KB, 200 collections and a state, written once.
const QString &folder()
{
    static QTemporaryDir dir;
    static const bool filled = [] {
        QRandomGenerator rng(11);
        QList<Collection> collections;
        for (int i = 0; i < collectionCount; ++i) {
            Collection c(u"Collection %1"_s.arg(i), i, std::nullopt);
            if (i >= 20) {
                c.parentId = collections.at(i % 20).id;
            }
            collections.append(c);
        }
        for (int i = 0; i < documentCount; ++i) {
            Document doc(paragraphBody(i, 3900, rng), std::nullopt);
            doc.updatedAt += i;
            if (i % 3 == 0) {
                doc.collectionId = collections.at(i % collectionCount).id;
            }
            Persistence::saveDocument(doc, dir.path());
        }
        Persistence::saveCollections(collections, dir.path());
        Persistence::State state;
        state.welcomeSeeded = true;
        Persistence::saveState(state, dir.path());
        return true;
    }();
    Q_UNUSED(filled);
    static const QString path = dir.path();
    return path;
}

QSettings &settings()
{
    static QTemporaryDir dir;
    static QSettings s(dir.filePath(u"settings.ini"_s), QSettings::IniFormat);
    return s;
}

void waitLoaded(DocumentStore &store)
{
    QFuture<void> loading = store.load();
    while (!loading.isFinished()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

qint64 residentBytes()
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
        }
    }
    return 0;
}

void BM_StoreLoad(benchmark::State &state)
{
    folder();
    qsizetype loaded = 0;
    for (auto _ : state) {
        DocumentStore store(folder(), &settings());
        waitLoaded(store);
        loaded = store.documents().size();
        benchmark::DoNotOptimize(store.documents().constData());
    }
    state.counters["documents"] = double(loaded);
}

void BM_FloorReadAndParse(benchmark::State &state)
{
    const QDir base(folder());
    const QString documents = base.filePath(u"documents"_s);
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
        for (const QString &name : {u"collections.json"_s, u"state.json"_s}) {
            QFile file(base.filePath(name));
            if (file.open(QIODevice::ReadOnly)) {
                benchmark::DoNotOptimize(QJsonDocument::fromJson(file.readAll()));
            }
        }
    }
    state.counters["documents"] = double(parsed);
}

// One keystroke: the editor hands the whole new text of a 1 MB document to
// the store. The store's size is the argument: the time must not grow with it.
void BM_UpdateBodyKeystroke(benchmark::State &state)
{
    QTemporaryDir dir;
    DocumentStore store(dir.path(), &settings());
    waitLoaded(store);
    QRandomGenerator rng(3);
    for (int i = 1; i < state.range(0); ++i) {
        store.createDocument(std::nullopt, paragraphBody(i, 3900, rng));
    }
    const QString id = store.createDocument(std::nullopt, paragraphBody(0, 1024 * 1024, rng)).id;
    QObject::connect(&store, &DocumentStore::localChange, [] {});
    QString text = store.document(id)->body;
    std::vector<double> samples;
    qsizetype caret = text.size() / 2;
    const bool sameLength = state.range(1) != 0;
    for (auto _ : state) {
        // Typing inserts; overtyping a selected character keeps the length,
        // so telling the bodies apart has to compare up to the change.
        if (sameLength) {
            text[caret] = text.at(caret) == u'a' ? u'b' : u'a';
        } else {
            text.insert(caret++, u'a');
        }
        const QString typed = text; // what the editor's binding passes
        const auto start = std::chrono::steady_clock::now();
        store.updateBody(typed, id);
        const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        samples.push_back(seconds);
    }
    std::sort(samples.begin(), samples.end());
    state.counters["median_us"] = samples.empty() ? 0.0 : samples.at(samples.size() / 2) * 1e6;
    state.counters["documents"] = double(store.documents().size());
}

void BM_ResidentMemory(benchmark::State &state)
{
    qint64 onDisk = 0;
    QDirIterator it(QDir(folder()).filePath(u"documents"_s), QDir::Files);
    while (it.hasNext()) {
        onDisk += QFileInfo(it.next()).size();
    }
    for (auto _ : state) {
        const qint64 before = residentBytes();
        auto store = std::make_unique<DocumentStore>(folder(), &settings());
        waitLoaded(*store);
        const qint64 after = residentBytes();
        state.counters["resident_MB"] = double(after - before) / (1024.0 * 1024.0);
        state.counters["disk_MB"] = double(onDisk) / (1024.0 * 1024.0);
        state.counters["ratio"] = onDisk > 0 ? double(after - before) / double(onDisk) : 0.0;
        benchmark::DoNotOptimize(store.get());
    }
}

} // namespace

// Memory first, before other runs have grown the heap.
BENCHMARK(BM_ResidentMemory)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorReadAndParse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StoreLoad)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UpdateBodyKeystroke)
    ->Args({10, 0})
    ->Args({documentCount, 0})
    ->Args({documentCount, 1})
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(u"TessivoBench"_s);
    QCoreApplication::setApplicationName(u"bench_documentstore"_s);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
