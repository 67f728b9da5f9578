#include "ManualSaveClock.h"
#include "documentstore_report.h"
#include "store/DocumentStore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

// A change is only promised to be on disk once the child has been idle for
// the document debounce (0.4 s) plus a margin for timers and the write.
constexpr qint64 settledAfterMs = 850;

QStringList capturedMessages;

void captureMessages(QtMsgType, const QMessageLogContext &, const QString &message)
{
    capturedMessages.append(message);
}

bool run(const QString &program, const QStringList &arguments)
{
    QProcess p;
    p.start(program, arguments);
    return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// Undoes a mount when the test ends, whatever happens.
struct Mount
{
    QString path;
    ~Mount()
    {
        if (!path.isEmpty()) {
            run(u"umount"_s, {u"-l"_s, path});
        }
    }
};

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::optional<Document> readDocumentFile(const QString &path)
{
    return Document::fromJson(QJsonDocument::fromJson(readBytes(path)).object());
}

// Runs every save that falls due, then delivers the writes' results.
void settle(ManualSaveClock &clock, DocumentStore &store)
{
    clock.advance(10'000);
    store.waitForWrites();
    QCoreApplication::sendPostedEvents();
}

struct Event
{
    enum Kind { DocumentVersion, CollectionVersion, Pause, Flushing, Flushed, Ready } kind;
    QString key;
    bool listed = false; // a record as loaded, not a change
    qint64 receivedMs = 0;
    qint64 pauseMs = 0;
};

} // namespace

class TestDocumentStoreReliability : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void killsNeverLoseSettledChanges();
    void readOnlyFolder();
    void fullDisk();

private:
    // Checks the folder after a kill; returns a description of the first
    // problem, or an empty string.
    QString verifyFolder(const QList<Event> &events, qint64 killMs);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_base;
    // Every version of every record any child reported, by id.
    QHash<QString, QSet<QString>> m_documentVersions;
    QHash<QString, QSet<QString>> m_collectionVersions;
};

void TestDocumentStoreReliability::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(u"TessivoTests"_s);
    QCoreApplication::setApplicationName(u"tst_documentstore_reliability"_s);
}

void TestDocumentStoreReliability::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_base = m_dir->filePath(u"base"_s);
    Persistence::setBaseDirectoryOverride(m_base);
    capturedMessages.clear();
}

void TestDocumentStoreReliability::cleanup()
{
    qInstallMessageHandler(nullptr);
    Persistence::setBaseDirectoryOverride(QString());
    m_dir.reset();
}

QString TestDocumentStoreReliability::verifyFolder(const QList<Event> &events, qint64 killMs)
{
    // The last moment up to which every reported change must be on disk.
    qsizetype settled = -1;
    for (qsizetype i = 0; i < events.size(); ++i) {
        const Event &e = events.at(i);
        if (e.kind == Event::Ready || e.kind == Event::Flushed) {
            settled = i;
        } else if (e.kind == Event::Pause && e.pauseMs >= settledAfterMs) {
            const bool resumed = i + 1 < events.size();
            if (resumed || killMs - e.receivedMs >= settledAfterMs) {
                settled = i;
            }
        }
    }
    QHash<QString, QString> promisedDocuments;
    QHash<QString, QString> promisedCollections;
    QSet<QString> changedDocuments;
    for (qsizetype i = 0; i < settled; ++i) {
        const Event &e = events.at(i);
        if (e.kind == Event::DocumentVersion) {
            promisedDocuments.insert(DocumentStoreReport::idOf(e.key), e.key);
            if (!e.listed) {
                changedDocuments.insert(DocumentStoreReport::idOf(e.key));
            }
        } else if (e.kind == Event::CollectionVersion) {
            promisedCollections.insert(DocumentStoreReport::idOf(e.key), e.key);
        }
    }

    // Every file decodes.
    QHash<QString, QString> onDisk;
    const QDir documents(Persistence::documentsDirectory());
    for (const QFileInfo &info : documents.entryInfoList({u"*.json"_s}, QDir::Files)) {
        const auto d = readDocumentFile(info.filePath());
        if (!d) {
            return u"%1 does not decode"_s.arg(info.fileName());
        }
        onDisk.insert(d->id, DocumentStoreReport::key(*d));
    }
    QHash<QString, QString> collectionsOnDisk;
    if (QFile::exists(Persistence::collectionsFilePath())) {
        const QJsonDocument json = QJsonDocument::fromJson(readBytes(Persistence::collectionsFilePath()));
        if (!json.isArray()) {
            return u"collections.json does not decode"_s;
        }
        for (const QJsonValue &v : json.array()) {
            const auto c = Collection::fromJson(v.toObject());
            if (!c) {
                return u"a collection does not decode"_s;
            }
            collectionsOnDisk.insert(c->id, DocumentStoreReport::key(*c));
        }
    }
    std::optional<Persistence::State> state;
    if (QFile::exists(Persistence::stateFilePath())) {
        state = Persistence::State::fromJson(
            QJsonDocument::fromJson(readBytes(Persistence::stateFilePath())).object());
        if (!state) {
            return u"state.json does not decode"_s;
        }
    }

    // Every settled change is there, and nothing is there that was never made.
    const auto check = [](const QString &what, const QHash<QString, QString> &promised,
                          const QHash<QString, QString> &found,
                          const QHash<QString, QSet<QString>> &reported) -> QString {
        for (auto it = promised.cbegin(); it != promised.cend(); ++it) {
            const QString disk = found.value(it.key());
            if (disk.isEmpty()) {
                return u"%1 %2 is missing; expected %3"_s.arg(what, it.key(), it.value());
            }
            const qint64 diskStamp = DocumentStoreReport::updatedAtOf(disk);
            const qint64 promisedStamp = DocumentStoreReport::updatedAtOf(it.value());
            if (diskStamp < promisedStamp || (diskStamp == promisedStamp && disk != it.value())) {
                return u"%1 lost a change: on disk %2, expected %3"_s.arg(what, disk, it.value());
            }
        }
        for (auto it = found.cbegin(); it != found.cend(); ++it) {
            if (!reported.value(it.key()).contains(it.value())) {
                return u"%1 on disk was never reported: %2"_s.arg(what, it.value());
            }
        }
        return QString();
    };
    if (QString problem = check(u"document"_s, promisedDocuments, onDisk, m_documentVersions);
        !problem.isEmpty()) {
        return problem;
    }
    if (QString problem =
            check(u"collection"_s, promisedCollections, collectionsOnDisk, m_collectionVersions);
        !problem.isEmpty()) {
        return problem;
    }
    for (const QString &id : changedDocuments) {
        if (!state || !state->dirtyDocumentIDs.contains(id)) {
            return u"document %1 changed but is not marked for sync"_s.arg(id);
        }
    }

    // The store loads what is there.
    QSettings settings(m_dir->filePath(u"verify.ini"_s), QSettings::IniFormat);
    DocumentStore store(&settings);
    QFuture<void> loading = store.load();
    if (!QTest::qWaitFor([&] { return loading.isFinished(); }, 20000) || !store.isLoaded()) {
        return u"the store did not load"_s;
    }
    if (store.documents().size() + store.tombstones().size() != onDisk.size()) {
        return u"the store loaded %1 documents of %2"_s
            .arg(store.documents().size() + store.tombstones().size())
            .arg(onDisk.size());
    }
    return QString();
}

void TestDocumentStoreReliability::killsNeverLoseSettledChanges()
{
    const QString child = QStringLiteral(DOCUMENTSTORE_CHILD);
    QVERIFY2(QFile::exists(child), qPrintable(child));
    QRandomGenerator rng(20240611);
    constexpr int kills = 210;
    int killsDuringFlush = 0;
    int settledChecks = 0;
    QElapsedTimer total;
    total.start();

    for (int round = 0; round < kills; ++round) {
        QProcess process;
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.setStandardErrorFile(QProcess::nullDevice());
        QList<Event> events;
        QElapsedTimer clock;
        clock.start();
        bool ready = false;
        bool flushing = false;
        qint64 killedAt = -1;
        const bool killInFlush = rng.bounded(3) == 0;
        const auto readLines = [&](qint64 stamp) {
            while (process.canReadLine()) {
                const QString line = QString::fromUtf8(process.readLine()).trimmed();
                Event e{Event::Ready, QString(), false, stamp >= 0 ? stamp : clock.elapsed(), 0};
                const QString tag = line.section(u' ', 0, 0);
                const QString rest = line.section(u' ', 1);
                if (tag == u"D"_s || tag == u"d"_s) {
                    e.kind = Event::DocumentVersion;
                    e.key = rest;
                    e.listed = tag == u"d"_s;
                    m_documentVersions[DocumentStoreReport::idOf(rest)].insert(rest);
                } else if (tag == u"C"_s || tag == u"c"_s) {
                    e.kind = Event::CollectionVersion;
                    e.key = rest;
                    e.listed = tag == u"c"_s;
                    m_collectionVersions[DocumentStoreReport::idOf(rest)].insert(rest);
                } else if (tag == u"PAUSE"_s) {
                    e.kind = Event::Pause;
                    e.pauseMs = rest.toLongLong();
                } else if (tag == u"FLUSHING"_s) {
                    e.kind = Event::Flushing;
                    flushing = true;
                } else if (tag == u"FLUSHED"_s) {
                    e.kind = Event::Flushed;
                    flushing = false;
                } else if (tag == u"READY"_s) {
                    ready = true;
                } else {
                    continue;
                }
                events.append(e);
                if (e.kind == Event::Flushing && killInFlush && ready) {
                    // Mid-flush: the child is writing everything at once.
                    killedAt = clock.elapsed();
                    process.kill();
                }
            }
        };
        connect(&process, &QProcess::readyReadStandardOutput, this, [&] { readLines(-1); });
        process.start(child, {m_base, m_dir->filePath(u"child.ini"_s), QString::number(rng.generate())});
        QVERIFY2(process.waitForStarted(10000), qPrintable(process.errorString()));
        QVERIFY2(QTest::qWaitFor([&] { return ready; }, 20000), "the child did not load");

        const qint64 readyAt = clock.elapsed();
        const qint64 lifetime = 20 + qint64(rng.bounded(1300));
        (void)QTest::qWaitFor(
            [&] { return process.state() == QProcess::NotRunning || clock.elapsed() - readyAt >= lifetime; },
            int(lifetime) + 1000);
        const qint64 killMs = killedAt >= 0 ? killedAt : clock.elapsed();
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            QVERIFY(process.waitForFinished(10000));
        }
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
        // Lines the child wrote before it died: they happened before the kill.
        readLines(killMs);
        if (flushing) {
            ++killsDuringFlush;
        }
        disconnect(&process, nullptr, this, nullptr);

        const QString problem = verifyFolder(events, killMs);
        QVERIFY2(problem.isEmpty(), qPrintable(u"after kill %1: %2"_s.arg(round + 1).arg(problem)));
        settledChecks += int(std::count_if(events.cbegin(), events.cend(), [](const Event &e) {
            return e.kind == Event::Pause && e.pauseMs >= settledAfterMs;
        }));
    }
    qInfo("%d kills (%d during a flush), %d long pauses, %lld documents, %.1f s", kills, killsDuringFlush,
          settledChecks, static_cast<long long>(m_documentVersions.size()), total.elapsed() / 1000.0);
    QVERIFY(killsDuringFlush > 0);
}

void TestDocumentStoreReliability::readOnlyFolder()
{
    Document existing;
    existing.id = u"kept"_s;
    existing.body = u"# Kept"_s;
    existing.title = u"Kept"_s;
    existing.createdAt = existing.updatedAt = 10;
    Persistence::saveDocument(existing);
    Persistence::State state;
    state.welcomeSeeded = true;
    Persistence::saveState(state);
    const QByteArray documentBefore =
        readBytes(QDir(Persistence::documentsDirectory()).filePath(u"kept.json"_s));

    // Root ignores permission bits, so make the folder read-only by mounting it so.
    Mount mount;
    if (geteuid() == 0) {
        if (!run(u"mount"_s, {u"--bind"_s, m_base, m_base})) {
            QSKIP("a read-only bind mount is not permitted here");
        }
        mount.path = m_base;
        QVERIFY(run(u"mount"_s, {u"-o"_s, u"remount,bind,ro"_s, m_base}));
    } else {
        QVERIFY(run(u"chmod"_s, {u"-R"_s, u"a-w"_s, m_base}));
    }

    qInstallMessageHandler(captureMessages);
    QSettings settings(m_dir->filePath(u"settings.ini"_s), QSettings::IniFormat);
    {
        ManualSaveClock clock;
        DocumentStore store(m_base, &settings, &clock);
        QSignalSpy written(&store, &DocumentStore::fileWritten);
        QFuture<void> loading = store.load();
        QTRY_VERIFY(loading.isFinished());
        QCOMPARE(store.documents().size(), 1);
        store.updateBody(u"# Kept\n\nnew words"_s, u"kept"_s);
        const auto folder = store.createCollection(u"Folder"_s);
        settle(clock, store);
        QVERIFY(std::any_of(written.cbegin(), written.cend(), [](const QList<QVariant> &args) {
            return args.at(0).toString() == u"documents/kept.json"_s && !args.at(1).toBool();
        }));
        store.flushPendingSaves();
        QVERIFY(capturedMessages.contains(
            QRegularExpression(u"^\\[persistence\\] failed to save document kept: .+"_s)));
        QVERIFY(capturedMessages.contains(
            QRegularExpression(u"^\\[persistence\\] failed to save collections: .+"_s)));
        QVERIFY(
            capturedMessages.contains(QRegularExpression(u"^\\[persistence\\] failed to save state: .+"_s)));
        QCOMPARE(readBytes(QDir(Persistence::documentsDirectory()).filePath(u"kept.json"_s)), documentBefore);
        QCOMPARE(store.document(u"kept"_s)->body, u"# Kept\n\nnew words"_s);

        // Writable again: the next flush writes what failed before.
        if (!mount.path.isEmpty()) {
            QVERIFY(run(u"umount"_s, {m_base}));
            mount.path.clear();
        } else {
            QVERIFY(run(u"chmod"_s, {u"-R"_s, u"u+w"_s, m_base}));
        }
        store.flushPendingSaves();
        QCOMPARE(readDocumentFile(QDir(Persistence::documentsDirectory()).filePath(u"kept.json"_s))->body,
                 u"# Kept\n\nnew words"_s);
        QVERIFY(readBytes(Persistence::collectionsFilePath()).contains(folder->id.toUtf8()));
    }
}

void TestDocumentStoreReliability::fullDisk()
{
    if (geteuid() != 0) {
        QSKIP("mounting a small tmpfs to fill needs root");
    }
    QVERIFY(QDir().mkpath(m_base));
    Mount mount;
    if (!run(u"mount"_s, {u"-t"_s, u"tmpfs"_s, u"-o"_s, u"size=1m"_s, u"tmpfs"_s, m_base})) {
        QSKIP("mounting a tmpfs is not permitted here");
    }
    mount.path = m_base;

    qInstallMessageHandler(captureMessages);
    QSettings settings(m_dir->filePath(u"settings.ini"_s), QSettings::IniFormat);
    ManualSaveClock clock;
    DocumentStore store(m_base, &settings, &clock);
    QSignalSpy written(&store, &DocumentStore::fileWritten);
    QFuture<void> loading = store.load();
    QTRY_VERIFY(loading.isFinished());
    const QString id = store.documents().first().id; // the welcome document, on disk
    const QString path = QDir(Persistence::documentsDirectory()).filePath(id + u".json"_s);
    const QByteArray before = readBytes(path);
    QVERIFY(!before.isEmpty());

    // Fill the disk to the last byte.
    const QString fillerPath = QDir(m_base).filePath(u"filler"_s);
    {
        QFile filler(fillerPath);
        QVERIFY(filler.open(QIODevice::WriteOnly));
        const QByteArray chunk(4096, 'f');
        while (filler.write(chunk) == chunk.size() && filler.flush()) {
        }
    }
    const QString text = QString(200 * 1024, u'w');
    store.updateBody(text, id);
    settle(clock, store);
    QVERIFY(std::any_of(written.cbegin(), written.cend(), [&](const QList<QVariant> &args) {
        return args.at(0).toString() == u"documents/%1.json"_s.arg(id) && !args.at(1).toBool();
    }));
    QVERIFY(capturedMessages.contains(
        QRegularExpression(u"^\\[persistence\\] failed to save document %1: .+"_s.arg(id))));
    QCOMPARE(readBytes(path), before); // the old version is intact
    QCOMPARE(store.document(id)->body, text);

    // Space again: the flush writes the version that could not be saved.
    QVERIFY(QFile::remove(fillerPath));
    store.flushPendingSaves();
    QCOMPARE(readDocumentFile(path)->body, text);
}

QTEST_GUILESS_MAIN(TestDocumentStoreReliability)
#include "tst_documentstore_reliability.moc"
