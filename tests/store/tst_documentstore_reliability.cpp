#include "ManualSaveClock.h"
#include "TestNeeds.h"
#include "documentstore_report.h"
#include "store/DocumentStore.h"
#include "store/Persistence.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

#include <functional>
#include <memory>

using namespace Qt::StringLiterals;
using Versions = QHash<QString, QSet<QString>>;

namespace {

// What the store logged; its writers log from their own threads.
QMutex capturedLock;
QStringList capturedMessages;

bool captured(const QRegularExpression &pattern)
{
    const QMutexLocker locker(&capturedLock);
    return capturedMessages.contains(pattern);
}

// Every file below `root`, relative to it, sorted.
QStringList tree(const QString &root)
{
    QStringList out;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(root).relativeFilePath(it.next());
    out.sort();
    return out;
}

bool run(const QString &program, const QStringList &arguments)
{
    QProcess p;
    p.start(program, arguments);
    return p.waitForFinished(TestWaits::limitMs) && p.exitStatus() == QProcess::NormalExit &&
           p.exitCode() == 0;
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

QJsonDocument readJson(const QString &path)
{
    return QJsonDocument::fromJson(readBytes(path));
}

struct Event
{
    enum Kind { DocumentVersion, CollectionVersion, Settled, Flushing, Flushed, Ready } kind;
    QString key;
    bool listed = false; // a record as loaded, not a change
};

// Every settled change is there, and nothing is there that was never made.
QString compare(const QString &what, const QHash<QString, QString> &promised,
                const QHash<QString, QString> &found, const Versions &reported)
{
    using DocumentStoreReport::updatedAtOf;
    for (auto it = promised.cbegin(); it != promised.cend(); ++it) {
        const QString disk = found.value(it.key());
        if (disk.isEmpty()) {
            return u"%1 %2 is missing; expected %3"_s.arg(what, it.key(), it.value());
        }
        if (updatedAtOf(disk) < updatedAtOf(it.value()) ||
            (updatedAtOf(disk) == updatedAtOf(it.value()) && disk != it.value())) {
            return u"%1 lost a change: on disk %2, expected %3"_s.arg(what, disk, it.value());
        }
    }
    for (auto it = found.cbegin(); it != found.cend(); ++it) {
        if (!reported.value(it.key()).contains(it.value())) {
            return u"%1 on disk was never reported: %2"_s.arg(what, it.value());
        }
    }
    return QString();
}

} // namespace

class TestDocumentStoreReliability : public QObject
{
    Q_OBJECT

    // Checks the folder after a kill; returns the first problem found.
    QString verifyFolder(const QList<Event> &events)
    {
        // The last moment up to which every reported change must be on disk:
        // the child says so once its store's clock has passed every save
        // delay and the writes have finished, so it holds however slowly the
        // machine ran.
        qsizetype settled = -1;
        for (qsizetype i = 0; i < events.size(); ++i) {
            const Event::Kind kind = events.at(i).kind;
            if (kind == Event::Ready || kind == Event::Flushed || kind == Event::Settled) {
                settled = i;
            }
        }
        QHash<QString, QString> promisedDocuments, promisedCollections;
        QSet<QString> changedDocuments;
        for (qsizetype i = 0; i < settled; ++i) {
            const Event &e = events.at(i);
            const QString id = DocumentStoreReport::idOf(e.key);
            if (e.kind == Event::DocumentVersion) {
                promisedDocuments.insert(id, e.key);
                if (!e.listed) {
                    changedDocuments.insert(id);
                }
            } else if (e.kind == Event::CollectionVersion) {
                promisedCollections.insert(id, e.key);
            }
        }

        // Every file decodes.
        QHash<QString, QString> documentsOnDisk, collectionsOnDisk;
        const QDir documents(Persistence::documentsDirectory(m_base));
        for (const QFileInfo &info : documents.entryInfoList({u"*.json"_s}, QDir::Files)) {
            const auto d = Document::fromJson(readJson(info.filePath()).object());
            if (!d) {
                return u"%1 does not decode"_s.arg(info.fileName());
            }
            documentsOnDisk.insert(d->id, DocumentStoreReport::key(*d));
        }
        if (QFile::exists(Persistence::collectionsFilePath(m_base))) {
            const QJsonDocument json = readJson(Persistence::collectionsFilePath(m_base));
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
        if (QFile::exists(Persistence::stateFilePath(m_base)) &&
            !(state = Persistence::State::fromJson(readJson(Persistence::stateFilePath(m_base)).object()))) {
            return u"state.json does not decode"_s;
        }

        if (QString p = compare(u"document"_s, promisedDocuments, documentsOnDisk, m_documentVersions);
            !p.isEmpty()) {
            return p;
        }
        if (QString p =
                compare(u"collection"_s, promisedCollections, collectionsOnDisk, m_collectionVersions);
            !p.isEmpty()) {
            return p;
        }
        for (const QString &id : changedDocuments) {
            if (!state || !state->dirtyDocumentIDs.contains(id)) {
                return u"document %1 changed but is not marked for sync"_s.arg(id);
            }
        }

        // The store loads what is there.
        QSettings settings(m_dir->filePath(u"verify.ini"_s), QSettings::IniFormat);
        DocumentStore store(m_base, &settings);
        QFuture<void> loading = store.load();
        if (!QTest::qWaitFor([&] { return loading.isFinished(); }, TestWaits::limitMs) || !store.isLoaded()) {
            return u"the store did not load"_s;
        }
        const qsizetype loaded = store.documents().size() + store.tombstones().size();
        if (loaded != documentsOnDisk.size()) {
            return u"the store loaded %1 documents of %2"_s.arg(loaded).arg(documentsOnDisk.size());
        }
        return QString();
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_base;
    // Every version of every record any child reported, by id.
    Versions m_documentVersions;
    Versions m_collectionVersions;

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(u"TessivoTests"_s);
        QCoreApplication::setApplicationName(u"tst_documentstore_reliability"_s);
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_base = m_dir->filePath(u"base"_s);
        const QMutexLocker locker(&capturedLock);
        capturedMessages.clear();
    }

    void cleanup()
    {
        qInstallMessageHandler(nullptr);
        m_dir.reset();
    }

    void killsNeverLoseSettledChanges()
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
            process.setStandardErrorFile(QProcess::nullDevice());
            QList<Event> events;
            QElapsedTimer clock;
            clock.start();
            bool ready = false;
            bool flushing = false;
            const bool killInFlush = rng.bounded(3) == 0;
            const auto readLines = [&] {
                while (process.canReadLine()) {
                    const QString line = QString::fromUtf8(process.readLine()).trimmed();
                    const QString tag = line.section(u' ', 0, 0);
                    const QString rest = line.section(u' ', 1);
                    Event e{Event::Ready, rest, tag == u"d"_s || tag == u"c"_s};
                    if (tag.compare(u"D"_s, Qt::CaseInsensitive) == 0) {
                        e.kind = Event::DocumentVersion;
                        m_documentVersions[DocumentStoreReport::idOf(rest)].insert(rest);
                    } else if (tag.compare(u"C"_s, Qt::CaseInsensitive) == 0) {
                        e.kind = Event::CollectionVersion;
                        m_collectionVersions[DocumentStoreReport::idOf(rest)].insert(rest);
                    } else if (tag == u"SETTLED"_s) {
                        e.kind = Event::Settled;
                    } else if (tag == u"FLUSHING"_s || tag == u"FLUSHED"_s) {
                        flushing = tag == u"FLUSHING"_s;
                        e.kind = flushing ? Event::Flushing : Event::Flushed;
                    } else if (tag == u"READY"_s) {
                        ready = true;
                    } else {
                        continue;
                    }
                    events.append(e);
                    if (e.kind == Event::Flushing && killInFlush && ready) {
                        // Mid-flush: the child is writing everything at once.
                        process.kill();
                    }
                }
            };
            connect(&process, &QProcess::readyReadStandardOutput, this, [&] { readLines(); });
            process.start(child, {m_base, m_dir->filePath(u"child.ini"_s), QString::number(rng.generate())});
            QVERIFY2(process.waitForStarted(TestWaits::limitMs), qPrintable(process.errorString()));
            QVERIFY2(QTest::qWaitFor([&] { return ready; }, TestWaits::limitMs), "the child did not load");

            const qint64 readyAt = clock.elapsed();
            const qint64 lifetime = 20 + qint64(rng.bounded(1300));
            (void)QTest::qWaitFor(
                [&] {
                    return process.state() == QProcess::NotRunning || clock.elapsed() - readyAt >= lifetime;
                },
                int(lifetime) + 1000);
            if (process.state() != QProcess::NotRunning) {
                process.kill();
                QVERIFY(process.waitForFinished(TestWaits::limitMs));
            }
            QCOMPARE(process.exitStatus(), QProcess::CrashExit);
            // Lines the child wrote before it died: they happened before the kill.
            readLines();
            killsDuringFlush += flushing ? 1 : 0;
            disconnect(&process, nullptr, this, nullptr);

            const QString problem = verifyFolder(events);
            QVERIFY2(problem.isEmpty(), qPrintable(u"after kill %1: %2"_s.arg(round + 1).arg(problem)));
            settledChecks += int(std::count_if(events.cbegin(), events.cend(),
                                               [](const Event &e) { return e.kind == Event::Settled; }));
        }
        qInfo("%d kills (%d during a flush), %d settled pauses, %lld documents, %.1f s", kills,
              killsDuringFlush, settledChecks, static_cast<long long>(m_documentVersions.size()),
              total.elapsed() / 1000.0);
        QVERIFY(killsDuringFlush > 0);
    }

    // A batch write killed part-way leaves its temporary files; a start
    // right after removes every one of them, however new, and nothing else:
    // the user's own files beside the records stay as they were, whatever
    // their names and age, through the start and the quit.
    void aKilledBatchWriteLeavesNothingBehind()
    {
        Persistence::State state;
        state.welcomeSeeded = true;
        QVERIFY(Persistence::saveState(state, m_base));
        const QDir documents(Persistence::documentsDirectory(m_base));
        const QString id = u"0b6f6c1e-2f0a-4c55-9d1e-5a4f3c2b1a09"_s;
        const QStringList users = {u"documents/"_s + id + u".json.backup"_s,
                                   u"documents/"_s + id + u".json.before"_s,
                                   u"documents/"_s + id + u".json.BACKUP"_s,
                                   u"documents/"_s + id + u".json.orig12"_s,
                                   u"documents/x.json.tessivo-tmp-abc"_s,
                                   u"documents/notes.txt"_s,
                                   u"state.json.backup"_s,
                                   u"collections.json.backup"_s,
                                   u"state.json.Xy34Zw"_s};
        const QDateTime tenMinutesAgo = QDateTime::currentDateTimeUtc().addSecs(-600);
        QHash<QString, QByteArray> kept;
        for (const QString &name : users) {
            QFile file(QDir(m_base).filePath(name));
            const QByteArray bytes = "kept by the user: " + name.toUtf8();
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
            QVERIFY(file.setFileTime(tenMinutesAgo, QFileDevice::FileModificationTime));
            kept.insert(name, bytes);
        }

        QProcess child;
        child.start(QStringLiteral(BATCHWRITE_CHILD), {m_base, u"10000"_s});
        QVERIFY2(child.waitForStarted(TestWaits::limitMs), qPrintable(child.errorString()));
        const QStringList temporaries = {u"*"_s + QLatin1String(Persistence::temporaryMark) + u"*"_s};
        QVERIFY2(QTest::qWaitFor([&] { return !documents.entryList(temporaries, QDir::Files).isEmpty(); },
                                 TestWaits::limitMs),
                 "no temporary file appeared");
        child.kill();
        QVERIFY(child.waitForFinished(TestWaits::limitMs));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        // A whole-file save cut short too, and a link that only looks like a
        // temporary: it points at a file of the user's and is no file itself.
        QStringList gone;
        for (const QString &name : documents.entryList(temporaries, QDir::Files))
            gone.append(u"documents/"_s + name);
        gone.append(u"state.json"_s + QLatin1String(Persistence::temporaryMark) + u"7q"_s);
        QVERIFY(QFile(QDir(m_base).filePath(gone.last())).open(QIODevice::WriteOnly));
        const QString link = u"documents/y.json"_s + QLatin1String(Persistence::temporaryMark) + u"1"_s;
        QVERIFY(QFile::link(u"../state.json.backup"_s, QDir(m_base).filePath(link)));
        const QStringList before = tree(m_base);
        const qsizetype records = documents.entryList({u"*.json"_s}, QDir::Files).size();

        {
            QSettings settings(m_dir->filePath(u"load.ini"_s), QSettings::IniFormat);
            DocumentStore store(m_base, &settings);
            QFuture<void> loading = store.load();
            QTRY_VERIFY(loading.isFinished());
            QCOMPARE(store.documents().size(), records);
            store.flushPendingSaves();
        }
        QStringList expected = before;
        for (const QString &name : std::as_const(gone))
            QVERIFY(expected.removeOne(name));
        expected.append(u"collections.json"_s); // the quit writes it
        expected.sort();
        QCOMPARE(tree(m_base), expected);
        for (auto it = kept.cbegin(); it != kept.cend(); ++it)
            QCOMPARE(readBytes(QDir(m_base).filePath(it.key())), it.value());
    }

    // A folder that refuses writes (read-only, or a full disk): saves fail
    // and say so, the old files stay whole, the edit stays in memory, and the
    // next flush once writes work again saves it.
    void unwritableFolder_data()
    {
        QTest::addColumn<bool>("fullDisk");
        QTest::newRow("read-only folder") << false;
        QTest::newRow("full disk") << true;
    }

    void unwritableFolder()
    {
        QFETCH(bool, fullDisk);
        Mount mount;
        std::function<bool()> makeWritable;
        const QString filler = QDir(m_base).filePath(u"filler"_s);
        if (fullDisk) {
            TESSIVO_NEED(TestNeeds::superuser(u"mounting a small tmpfs to fill"_s));
            QVERIFY(QDir().mkpath(m_base));
            TESSIVO_NEED(run(u"mount"_s, {u"-t"_s, u"tmpfs"_s, u"-o"_s, u"size=1m"_s, u"tmpfs"_s, m_base})
                             ? QString()
                             : u"mounting a tmpfs is not permitted here"_s);
            mount.path = m_base;
            makeWritable = [&] { return QFile::remove(filler); };
        }
        Document kept;
        kept.id = u"kept"_s;
        kept.body = u"# Kept"_s;
        kept.createdAt = kept.updatedAt = 10;
        Persistence::saveDocument(kept, m_base);
        Persistence::State state;
        state.welcomeSeeded = true;
        Persistence::saveState(state, m_base);
        const QString path = QDir(Persistence::documentsDirectory(m_base)).filePath(u"kept.json"_s);
        const QByteArray before = readBytes(path);
        QVERIFY(!before.isEmpty());

        QSettings settings(m_dir->filePath(u"settings.ini"_s), QSettings::IniFormat);
        ManualSaveClock clock;
        DocumentStore store(m_base, &settings, &clock);
        QSignalSpy written(&store, &DocumentStore::fileWritten);
        QFuture<void> loading = store.load();
        QTRY_VERIFY(loading.isFinished());
        QCOMPARE(store.documents().size(), 1);

        if (fullDisk) {
            QFile fill(filler);
            QVERIFY(fill.open(QIODevice::WriteOnly));
            const QByteArray chunk(4096, 'f');
            while (fill.write(chunk) == chunk.size() && fill.flush()) {
            }
        } else if (geteuid() == 0) {
            // Root ignores permission bits, so make the folder read-only by mounting it so.
            TESSIVO_NEED(run(u"mount"_s, {u"--bind"_s, m_base, m_base})
                             ? QString()
                             : u"a read-only bind mount is not permitted here"_s);
            mount.path = m_base;
            QVERIFY(run(u"mount"_s, {u"-o"_s, u"remount,bind,ro"_s, m_base}));
            makeWritable = [&] { return run(u"umount"_s, {std::exchange(mount.path, QString())}); };
        } else {
            QVERIFY(run(u"chmod"_s, {u"-R"_s, u"a-w"_s, m_base}));
            makeWritable = [&] { return run(u"chmod"_s, {u"-R"_s, u"u+w"_s, m_base}); };
        }

        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &message) {
            const QMutexLocker locker(&capturedLock);
            capturedMessages.append(message);
        });
        const QString text = u"# Kept\n\n"_s + QString(200 * 1024, u'w');
        store.updateBody(text, u"kept"_s);
        const auto folder = store.createCollection(u"Folder"_s);
        clock.advance(10'000);
        // Three times: the collections start once the state before them has
        // landed, and the record once both have.
        for (int i = 0; i < 3; ++i) {
            store.waitForWrites();
            QCoreApplication::sendPostedEvents();
        }
        QVERIFY(std::any_of(written.cbegin(), written.cend(), [](const QList<QVariant> &args) {
            return args.at(0).toString() == u"documents/kept.json"_s && !args.at(1).toBool();
        }));
        QVERIFY(captured(QRegularExpression(u"^\\[persistence\\] failed to save document kept: .+"_s)));
        if (!fullDisk) {
            store.flushPendingSaves();
            for (const QString &what : {u"collections"_s, u"state"_s}) {
                QVERIFY(
                    captured(QRegularExpression(u"^\\[persistence\\] failed to save %1: .+"_s.arg(what))));
            }
        }
        QCOMPARE(readBytes(path), before);
        QCOMPARE(store.document(u"kept"_s)->body, text);

        QVERIFY(makeWritable());
        store.flushPendingSaves();
        QCOMPARE(Document::fromJson(readJson(path).object())->body, text);
        QVERIFY(readBytes(Persistence::collectionsFilePath(m_base)).contains(folder->id.toUtf8()));
    }
};

QTEST_GUILESS_MAIN(TestDocumentStoreReliability)
#include "tst_documentstore_reliability.moc"
