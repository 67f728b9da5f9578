#include "ManualSaveClock.h"
#include "StoreTesting.h"
#include "store/DocumentStore.h"
#include "store/RecordIds.h"
#include "store/SaveScheduler.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUuid>

#include <algorithm>
#include <atomic>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace StoreTesting;

namespace {

// The folder the store under test is made for; the process-wide default
// points elsewhere, so a store that read or wrote through it would fail.
QString g_base;

QString documentPath(const QString &id)
{
    return g_base + u"/documents/"_s + id + u".json"_s;
}

std::optional<Document> readDocumentFile(const QString &id)
{
    return Document::fromJson(readJson(documentPath(id)).object());
}

std::optional<Persistence::State> readStateFile()
{
    return Persistence::State::fromJson(readJson(g_base + u"/state.json"_s).object());
}

qsizetype collectionsOnDisk()
{
    return readJson(g_base + u"/collections.json"_s).array().size();
}

// The id form the service expects of records made here.
bool isLowerCaseUuid(const QString &id)
{
    return id.size() == 36 && id == id.toLower() && !QUuid::fromString(id).isNull();
}

int countWrites(const QSignalSpy &spy, const QString &path, bool *lastOk = nullptr)
{
    int n = 0;
    for (const QList<QVariant> &args : spy) {
        if (args.at(0).toString() == path) {
            ++n;
            if (lastOk) {
                *lastOk = args.at(1).toBool();
            }
        }
    }
    return n;
}

void expectSaveFailure(const QString &what)
{
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^\\[persistence\\] failed to save "_s + what));
}

} // namespace

class TestDocumentStore : public QObject
{
    Q_OBJECT

    std::unique_ptr<DocumentStore> newStore()
    {
        auto store = std::make_unique<DocumentStore>(g_base, m_settings.get(), m_saveClock.get());
        store->setClockForTesting([this] { return m_now; });
        return store;
    }

    // Runs every debounce that falls due within `ms`, then waits for the
    // writes it started and delivers their results.
    void advance(DocumentStore &store, qint64 ms = 1000)
    {
        m_saveClock->advance(ms);
        // Three times: collections.json due with the state starts once the
        // state has landed, and a record due with them once both have.
        for (int i = 0; i < 3; ++i) {
            store.waitForWrites();
            QCoreApplication::sendPostedEvents();
        }
    }

    bool loaded(DocumentStore &store)
    {
        QFuture<void> future = store.load();
        return QTest::qWaitFor([&] { return future.isFinished(); }, TestWaits::limitMs) && store.isLoaded();
    }

    // A loaded store on files written beforehand, the welcome document
    // already seeded once. A store that cannot load ends the run.
    std::unique_ptr<DocumentStore> storeWith(const QList<Document> &documents,
                                             const QList<Collection> &collections = {})
    {
        for (const Document &d : documents) {
            Persistence::saveDocument(d, g_base);
        }
        Persistence::saveCollections(collections, g_base);
        Persistence::State state;
        state.welcomeSeeded = true;
        Persistence::saveState(state, g_base);
        auto store = newStore();
        if (!loaded(*store)) {
            qFatal("the store did not load");
        }
        return store;
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ManualSaveClock> m_saveClock;
    std::unique_ptr<QSettings> m_settings;
    qint64 m_now = 1'000'000;

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(u"TessivoTests"_s);
        QCoreApplication::setApplicationName(u"tst_documentstore"_s);
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        g_base = m_dir->filePath(u"base"_s);
        m_saveClock = std::make_unique<ManualSaveClock>();
        m_settings = std::make_unique<QSettings>(m_dir->filePath(u"settings.ini"_s), QSettings::IniFormat);
        m_now = 1'000'000;
    }

    void cleanup()
    {
        m_settings.reset();
        m_dir.reset();
    }

    // --- Loading ---

    void firstRunSeedsWelcomeOnce()
    {
        {
            auto store = newStore();
            int callbacks = 0;
            QObject::connect(store.get(), &DocumentStore::localChange, [&] { ++callbacks; });
            QVERIFY(loaded(*store));
            QCOMPARE(store->documents().size(), 1);
            const Document welcome = store->documents().first();
            QCOMPARE(welcome.title, u"Welcome to Tessivo"_s);
            QCOMPARE(store->activeDocumentID(), welcome.id);
            advance(*store); // the settings are written after a pause
            QCOMPARE(m_settings->value(u"activeDocumentID"_s).toString(), welcome.id);
            // Written at once, not marked for sync.
            QCOMPARE(readDocumentFile(welcome.id), welcome);
            QVERIFY(store->state().dirtyDocumentIDs.isEmpty());
            QCOMPARE(callbacks, 0);
            advance(*store);
            QVERIFY(readStateFile() && readStateFile()->welcomeSeeded);
            store->deleteDocument(welcome.id);
            store->flushPendingSaves();
        }
        // The user deleted it: a later start seeds nothing and opens nothing.
        auto again = newStore();
        QVERIFY(loaded(*again));
        QVERIFY(again->documents().isEmpty());
        QCOMPARE(again->tombstones().size(), 1);
        QVERIFY(again->activeDocumentID().isEmpty());
    }

    void welcomeSeeding_data()
    {
        QTest::addColumn<Document>("document");
        QTest::addColumn<QByteArray>("stateFile");
        QTest::addColumn<QString>("shown"); // title of the one live document, if any
        QTest::addColumn<bool>("welcomeSeeded");
        const QByteArray notSeeded = R"({"dirtyCollectionIDs":[],"dirtyDocumentIDs":[],"publishedSlugs":{},)"
                                     R"("syncCursor":5,"welcomeSeeded":false})";
        const QByteArray seeded = QByteArray(notSeeded).replace("false", "true");
        QTest::newRow("only tombstones, never seeded: seeds")
            << makeTombstone(u"t"_s, 10) << notSeeded << u"Welcome to Tessivo"_s << true;
        QTest::newRow("live documents, never seeded: nothing")
            << makeDocument(u"a"_s) << notSeeded << u"a"_s << false;
        QTest::newRow("live documents, no state file: nothing")
            << makeDocument(u"a"_s) << QByteArray() << u"a"_s << false;
        QTest::newRow("robustness: state without welcomeSeeded, live documents: nothing")
            << makeDocument(u"a"_s) << QByteArray(R"({"syncCursor":5})") << u"a"_s << false;
        QTest::newRow("only tombstones, already seeded: nothing")
            << makeTombstone(u"t"_s, 10) << seeded << QString() << true;
    }

    void welcomeSeeding()
    {
        QFETCH(Document, document);
        QFETCH(QByteArray, stateFile);
        QFETCH(QString, shown);
        QFETCH(bool, welcomeSeeded);
        Persistence::saveDocument(document, g_base);
        QVERIFY(stateFile.isEmpty() || writeBytes(g_base + u"/state.json"_s, stateFile));
        auto store = newStore();
        QVERIFY(loaded(*store));
        QStringList titles;
        for (const Document &d : store->documents()) {
            titles << d.title;
        }
        QCOMPARE(titles, shown.isNull() ? QStringList() : QStringList{shown});
        QCOMPARE(store->state().welcomeSeeded, welcomeSeeded);
        QCOMPARE(store->activeDocumentID().isEmpty(), shown.isNull());
    }

    void loadOrdersRecords()
    {
        // Equal updatedAt keep the listing order (file-name order here).
        Collection gone = makeCollection(u"gone"_s, 0);
        gone.deletedAt = 7;
        auto store = storeWith({makeDocument(u"d1"_s, 5), makeDocument(u"d2"_s, 9), makeDocument(u"d3"_s, 9),
                                makeDocument(u"d4"_s, 1), makeTombstone(u"d0"_s, 50)},
                               {makeCollection(u"personal-site"_s, 0), makeCollection(u"a-late"_s, 3, 2),
                                makeCollection(u"a"_s, 0), gone, makeCollection(u"site-blog"_s, 5),
                                makeCollection(u"b-early"_s, 3, 1)});
        QCOMPARE(ids(store->documents()), (QStringList{u"d2"_s, u"d3"_s, u"d1"_s, u"d4"_s}));
        QCOMPARE(ids(store->tombstones()), QStringList{u"d0"_s});
        QCOMPARE(ids(store->collections()),
                 (QStringList{u"site-blog"_s, u"personal-site"_s, u"a"_s, u"b-early"_s, u"a-late"_s}));
        QCOMPARE(ids(store->deletedCollections()), QStringList{u"gone"_s});
        QCOMPARE(store->activeDocumentID(), u"d2"_s);
        QCOMPARE(store->indexOfDocument(u"d1"_s), 2);
        QCOMPARE(store->indexOfDocument(u"d0"_s), -1);
    }

    void loadRestoresActiveDocument_data()
    {
        QTest::addColumn<QString>("saved");
        QTest::addColumn<QString>("expected");
        QTest::newRow("saved live document") << u"older"_s << u"older"_s;
        QTest::newRow("saved id is now a tombstone") << u"gone"_s << u"newest"_s;
        QTest::newRow("unknown saved id") << u"nope"_s << u"newest"_s;
        QTest::newRow("nothing saved") << QString() << u"newest"_s;
    }

    void loadRestoresActiveDocument()
    {
        QFETCH(QString, saved);
        QFETCH(QString, expected);
        if (!saved.isEmpty()) {
            m_settings->setValue(u"activeDocumentID"_s, saved);
        }
        auto store = storeWith(
            {makeDocument(u"older"_s, 1), makeDocument(u"newest"_s, 2), makeTombstone(u"gone"_s, 3)});
        QCOMPARE(store->activeDocumentID(), expected);
        advance(*store); // the settings are written after a pause
        QCOMPARE(m_settings->value(u"activeDocumentID"_s).toString(), expected);
    }

    void secondLoadWaitsForRunningLoad()
    {
        for (int i = 0; i < 200; ++i) {
            Persistence::saveDocument(makeDocument(u"doc-%1"_s.arg(i), i + 1), g_base);
        }
        auto store = newStore();
        QSignalSpy loadedSpy(store.get(), &DocumentStore::isLoadedChanged);
        QSignalSpy documentsSpy(store.get(), &DocumentStore::documentsChanged);
        QFuture<void> first = store->load();
        QFuture<void> second = store->load();
        QVERIFY(!store->isLoaded());
        QTRY_VERIFY(first.isFinished());
        QVERIFY(second.isFinished());
        QCOMPARE(loadedSpy.size(), 1);
        QCOMPARE(documentsSpy.size(), 1);
        QCOMPARE(store->documents().size(), 200);

        // After loading, a call reads nothing: files changed since are ignored.
        Persistence::saveDocument(makeDocument(u"late"_s, 999), g_base);
        QVERIFY(store->load().isFinished());
        QCOMPARE(store->documents().size(), 200);
        QCOMPARE(loadedSpy.size(), 1);
    }

    void changesBeforeLoadAreKept()
    {
        Persistence::saveDocument(makeDocument(u"old"_s, 10), g_base);
        Persistence::State onDisk;
        onDisk.dirtyDocumentIDs = {u"old"_s};
        onDisk.syncCursor = 77;
        Persistence::saveState(onDisk, g_base);

        auto store = newStore();
        QFuture<void> loading = store->load();
        // A global shortcut creates and fills a document while the files are read.
        const Document early = store->createDocument(std::nullopt, u"draft"_s);
        store->updateBody(u"# Quick note"_s, early.id);
        QTRY_VERIFY(loading.isFinished());

        QCOMPARE(ids(store->documents()), (QStringList{early.id, u"old"_s}));
        QCOMPARE(store->documents().first().title, u"Quick note"_s);
        QCOMPARE(store->state().dirtyDocumentIDs, (QStringList{u"old"_s, early.id}));
        QCOMPARE(store->state().syncCursor, 77);
        QVERIFY(!store->state().welcomeSeeded); // a live document existed: nothing seeded
        QCOMPARE(store->activeDocumentID(), early.id);
        advance(*store);
        QCOMPARE(readDocumentFile(early.id).value_or(Document()).body, u"# Quick note"_s);
        QVERIFY(readStateFile() && readStateFile()->dirtyDocumentIDs.contains(early.id));
    }

    // Without the state file nothing tells which documents hold what was
    // typed here and never synced: every live one is marked, in the next
    // state file too, which keeps its form; a tombstone is not, nor the
    // welcome document as it was made. A good state file is taken as it is.
    void aLostStateFileMarksEveryLiveDocument_data()
    {
        QTest::addColumn<bool>("lost");
        QTest::newRow("good state file") << false;
        QTest::newRow("no state file") << true;
    }

    void aLostStateFileMarksEveryLiveDocument()
    {
        QFETCH(bool, lost);
        auto first = newStore();
        QVERIFY(loaded(*first) && first->documents().size() == 1);
        first->flushPendingSaves();
        first.reset();
        QVERIFY(QFile::remove(g_base + u"/state.json"_s));
        Persistence::saveDocument(makeDocument(u"a"_s, 10), g_base);
        Persistence::saveDocument(makeDocument(u"b"_s, 20), g_base);
        Persistence::saveDocument(makeTombstone(u"t"_s, 30), g_base);
        Persistence::State onDisk;
        onDisk.dirtyDocumentIDs = {u"a"_s};
        if (!lost) {
            Persistence::saveState(onDisk, g_base);
        }
        auto store = newStore();
        QVERIFY(loaded(*store));
        const QStringList marked = lost ? QStringList{u"b"_s, u"a"_s} : onDisk.dirtyDocumentIDs;
        QCOMPARE(store->state().dirtyDocumentIDs, marked);
        QVERIFY(store->documents().size() == 3 && !store->state().welcomeSeeded);
        advance(*store);
        QCOMPARE(readJson(g_base + u"/state.json"_s).object().keys().size(), 5);
        QCOMPARE(readStateFile().value_or(Persistence::State()).dirtyDocumentIDs, marked);
    }

    void savesBeforeLoadNeverReplaceFiles()
    {
        Persistence::saveCollections({makeCollection(u"a"_s, 0), makeCollection(u"b"_s, 1)}, g_base);
        Persistence::State onDisk;
        onDisk.syncCursor = 42;
        onDisk.publishedSlugs = {{u"x"_s, u"slug"_s}};
        onDisk.welcomeSeeded = true;
        Persistence::saveState(onDisk, g_base);
        const QByteArray collectionsBefore = readBytes(g_base + u"/collections.json"_s);
        const QByteArray stateBefore = readBytes(g_base + u"/state.json"_s);
        {
            // The collection and state debounces run out before the load has started.
            auto store = newStore();
            const auto early = store->createCollection(u"Early"_s);
            advance(*store);
            QCOMPARE(readBytes(g_base + u"/collections.json"_s), collectionsBefore);
            QCOMPARE(readBytes(g_base + u"/state.json"_s), stateBefore);
            QVERIFY(loaded(*store));
            // Made before the tree was known: position 0, sorted in by creation time.
            QCOMPARE(ids(store->collections()), (QStringList{u"a"_s, early->id, u"b"_s}));
            advance(*store);
            QCOMPARE(collectionsOnDisk(), 3);
            QCOMPARE(readStateFile()->dirtyCollectionIDs, QStringList{early->id});
            QCOMPARE(readStateFile()->publishedSlugs, onDisk.publishedSlugs);
        }
        // A flush at termination before the load finished reads the files first.
        auto store = newStore();
        const auto late = store->createCollection(u"Late"_s);
        store->flushPendingSaves();
        QVERIFY(store->isLoaded());
        QCOMPARE(collectionsOnDisk(), 4);
        QCOMPARE(readStateFile()->syncCursor, 42);
        QCOMPARE(readStateFile()->dirtyCollectionIDs.size(), 2);
        QVERIFY(readStateFile()->dirtyCollectionIDs.contains(late->id));
    }

    void corruptFilesAreSkippedAndKept_data()
    {
        // bytes "<dir>" makes a folder of that name. The ways a file fails to
        // decode are Persistence's to test; these check that the store never
        // writes over what it skipped.
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("logLine");
        QTest::newRow("robustness: truncated document")
            << u"documents/bad.json"_s << QByteArray("{\"id\":\"bad\",\"createdAt\":1,\"upd")
            << u"skipped document file bad.json: "_s;
        QTest::newRow("robustness: folder named like a document")
            << u"documents/folder.json"_s << QByteArray("<dir>") << u"skipped document file folder.json: "_s;
        QTest::newRow("hostile: a copy of a document under another name")
            << u"documents/good copy.json"_s
            << QByteArray(R"({"body":"copy","createdAt":1,"id":"good","updatedAt":9})")
            << u"skipped document file good copy.json: "_s;
        QTest::newRow("robustness: collections not an array")
            << u"collections.json"_s << QByteArray("{]") << u"collections do not decode: "_s;
        QTest::newRow("robustness: state of wrong shape")
            << u"state.json"_s << QByteArray(R"([1,2])") << u"state does not decode: "_s;
    }

    void corruptFilesAreSkippedAndKept()
    {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, logLine);
        Persistence::saveDocument(makeDocument(u"good"_s, 5), g_base);
        const QString path = QDir(g_base).filePath(fileName);
        QVERIFY(bytes == "<dir>" ? QDir().mkpath(path) : writeBytes(path, bytes));
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression(u"^\\[persistence\\] "_s + QRegularExpression::escape(logLine)));
        auto store = newStore();
        QVERIFY(loaded(*store));
        QCOMPARE(ids(store->documents()), QStringList{u"good"_s});
        store->updateBody(u"edited"_s, u"good"_s);
        store->createCollection(u"Notes"_s);
        store->flushPendingSaves();
        if (fileName.startsWith(u"documents/"_s)) {
            // Never overwritten or removed.
            QVERIFY(QFileInfo(path).isDir() || readBytes(path) == bytes);
        } else {
            QVERIFY(QFile::exists(path + u".unreadable"_s)); // a copy kept before the rewrite
        }
        QCOMPARE(readDocumentFile(u"good"_s).value_or(Document()).body, u"edited"_s);
    }

    void aPipeInPlaceOfAWholeFileCountsAsAbsent_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::newRow("hostile: state.json") << u"state.json"_s;
        QTest::newRow("hostile: collections.json") << u"collections.json"_s;
    }

    // A reader of a pipe waits for a writer that never comes; the file
    // counts as none, and the next save puts one in its place.
    void aPipeInPlaceOfAWholeFileCountsAsAbsent()
    {
        QFETCH(QString, fileName);
        Persistence::saveDocument(makeDocument(u"good"_s, 5), g_base);
        const QString path = QDir(g_base).filePath(fileName);
        const QByteArray pipe = QFile::encodeName(path);
        QCOMPARE(mkfifo(pipe.constData(), 0600), 0);
        QTest::ignoreMessage(
            QtWarningMsg,
            QRegularExpression(u"^\\[persistence\\] ignored \\w+: it is not a regular file$"_s));
        auto store = newStore();
        QFuture<void> load = store->load();
        // The bound is one a load that does not block never comes near. Past
        // it, a writer opened and closed lets a blocked reader go, so that
        // the test fails rather than hangs.
        const bool finished = QTest::qWaitFor([&] { return load.isFinished(); }, TestWaits::limitMs);
        (void)QTest::qWaitFor(
            [&] {
                if (const int writer = ::open(pipe.constData(), O_WRONLY | O_NONBLOCK); writer >= 0) {
                    ::close(writer);
                }
                return load.isFinished();
            },
            TestWaits::limitMs);
        QVERIFY2(finished, "the load waited on the pipe");
        QCOMPARE(ids(store->documents()), QStringList{u"good"_s});
        store->createCollection(u"Notes"_s);
        store->flushPendingSaves();
        QVERIFY(QFileInfo(path).isFile());
        QCOMPARE(collectionsOnDisk(), 1);
        QVERIFY(readStateFile().has_value());
    }

    // --- Documents ---

    void updateBodyRules()
    {
        Document titled = makeDocument(u"titled"_s, 100, u"# Derived"_s);
        titled.overrides = {u"title"_s};
        titled.frontmatter.title = QString();
        auto store = storeWith({makeDocument(u"a"_s, 300), makeDocument(u"b"_s, 200), titled});
        store->waitForWrites();
        QSignalSpy changed(store.get(), &DocumentStore::documentsChanged);
        int callbacks = 0;
        QObject::connect(store.get(), &DocumentStore::localChange, [&] { ++callbacks; });

        // Same body: nothing at all.
        store->updateBody(u"# b"_s, u"b"_s);
        QCOMPARE(store->document(u"b"_s)->updatedAt, 200);
        QVERIFY(store->state().dirtyDocumentIDs.isEmpty());
        QVERIFY(store->pendingSaveIDs().isEmpty());
        QCOMPARE(changed.size(), 0);

        // The clock stands behind the record: updatedAt still moves forward.
        m_now = 50;
        store->updateBody(u"Plain line\n# New heading"_s, u"b"_s);
        QCOMPARE(store->document(u"b"_s)->updatedAt, 201);
        QCOMPARE(store->document(u"b"_s)->title, u"New heading"_s);
        QCOMPARE(ids(store->documents()), (QStringList{u"a"_s, u"b"_s, u"titled"_s})); // no reordering
        QCOMPARE(store->state().dirtyDocumentIDs, QStringList{u"b"_s});
        QCOMPARE(store->pendingSaveIDs(), QStringList{u"b"_s});
        QCOMPARE(callbacks, 1);
        // One row changed in place: the signal names it.
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed.first().first().toString(), u"b"_s);

        // A front-matter title that overrides (even empty) keeps the stored title.
        m_now = 5000;
        store->updateBody(u"# Other"_s, u"titled"_s);
        QCOMPARE(store->document(u"titled"_s)->title, u"Derived"_s);
        QCOMPARE(store->document(u"titled"_s)->updatedAt, 5000);

        // Unknown ids and tombstones are ignored.
        store->updateBody(u"x"_s, u"missing"_s);
        QCOMPARE(callbacks, 2);
    }

    void appendText_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty body takes the text alone") << u""_s << u"T"_s;
        QTest::newRow("no line end gets a blank line") << u"a"_s << u"a\n\nT"_s;
        QTest::newRow("one line end gets one more") << u"a\n"_s << u"a\n\nT"_s;
        QTest::newRow("blank line already there") << u"a\n\n"_s << u"a\n\nT"_s;
    }

    void appendText()
    {
        QFETCH(QString, body);
        QFETCH(QString, expected);
        auto store = storeWith({makeDocument(u"d"_s, 10, body)});
        QVERIFY(store->appendText(u"T"_s, u"d"_s));
        QCOMPARE(store->document(u"d"_s)->body, expected);
        QVERIFY(!store->appendText(u"T"_s, u"missing"_s));
    }

    void deleteAndMoveDocuments()
    {
        Document x = makeDocument(u"x"_s, 30);
        x.collectionId = u"C"_s;
        x.serverUpdatedAt = 12;
        x.overrides = {u"title"_s};
        x.frontmatter.title = u"FM"_s;
        Document z = makeDocument(u"z"_s, 10);
        z.collectionId = u"C"_s;
        auto store = storeWith({x, makeDocument(u"y"_s, 20), z});
        QCOMPARE(store->activeDocumentID(), u"x"_s);

        m_now = 2000;
        store->deleteDocument(u"x"_s);
        QCOMPARE(store->activeDocumentID(), u"z"_s); // same collection beats the first document
        QCOMPARE(ids(store->documents()), (QStringList{u"y"_s, u"z"_s}));
        // A tombstone keeps everything but the text.
        Document tomb = x;
        tomb.body.clear();
        tomb.title.clear();
        tomb.deletedAt = tomb.updatedAt = 2000;
        QCOMPARE(store->tombstones(), QList<Document>{tomb});

        // Moving: to where it is already changes nothing; a move does not reorder.
        store->moveDocument(u"y"_s, std::nullopt);
        QCOMPARE(store->state().dirtyDocumentIDs, QStringList{u"x"_s});
        store->moveDocument(u"z"_s, std::nullopt);
        QVERIFY(!store->document(u"z"_s)->collectionId);
        QCOMPARE(store->document(u"z"_s)->updatedAt, m_now);
        QCOMPARE(store->indexOfDocument(u"z"_s), 1);
        m_now = 3000;
        store->moveDocument(u"z"_s, std::nullopt);
        QCOMPARE(store->document(u"z"_s)->updatedAt, 2000);

        // Deleting an inactive document leaves the selection; a tombstone id is ignored.
        store->deleteDocument(u"y"_s);
        QCOMPARE(store->activeDocumentID(), u"z"_s);
        store->deleteDocument(u"x"_s);
        QCOMPARE(store->tombstones().size(), 2);
        // The last one: no active document and no saved default.
        store->deleteDocument(u"z"_s);
        QVERIFY(store->activeDocumentID().isEmpty());
        advance(*store); // the settings are written after a pause
        QVERIFY(!m_settings->contains(u"activeDocumentID"_s));
        QCOMPARE(store->state().dirtyDocumentIDs, (QStringList{u"x"_s, u"z"_s, u"y"_s}));
        // The tombstone replaces the file, so the deletion survives a restart.
        store->flushPendingSaves();
        QCOMPARE(readDocumentFile(u"x"_s), tomb);
    }

    // --- Saving ---

    // The state file runs on a thread of its own; a kill between a record
    // landing and the state that marks it dirty would leave a record that
    // nothing ever syncs, so the record waits for that state. A large state
    // (many published slugs) makes its write the slow one.
    void recordLandsAfterItsDirtyMark()
    {
        auto store = storeWith({makeDocument(u"a"_s, 20)});
        for (int i = 0; i < 300000; ++i) {
            store->setPublishedSlug(u"slug-%1-with-some-length"_s.arg(i), u"doc-%1"_s.arg(i));
        }
        advance(*store);
        QVERIFY(!readStateFile()->dirtyDocumentIDs.contains(u"a"_s));

        store->updateBody(u"typed"_s, u"a"_s);
        // The state and the record fall due in one wake-up; the record is
        // looked at the moment it lands, as a kill would find it.
        m_saveClock->advance(SaveScheduler::documentDelayMs);
        QDeadlineTimer guard(30000);
        for (;;) {
            QCoreApplication::sendPostedEvents();
            const std::optional<Document> onDisk = readDocumentFile(u"a"_s);
            if (onDisk && onDisk->body == u"typed"_s) {
                break;
            }
            QVERIFY(!guard.hasExpired());
            QThread::yieldCurrentThread();
        }
        QVERIFY2(readStateFile()->dirtyDocumentIDs.contains(u"a"_s),
                 "the record landed before its dirty mark");
        store->waitForWrites();
    }

    void debounceGivesOneWritePerPause()
    {
        auto store = storeWith({makeDocument(u"a"_s, 20), makeDocument(u"b"_s, 10)});
        advance(*store); // the load's own writes
        QSignalSpy written(store.get(), &DocumentStore::fileWritten);

        // Changes closer together than the delay give one write after the last:
        // a document 400 ms after it, collections and state 200 ms after theirs.
        store->updateBody(u"first"_s, u"a"_s);
        advance(*store, 150);
        store->updateBody(u"second"_s, u"a"_s);
        store->updateBody(u"other"_s, u"b"_s);
        store->createCollection(u"One"_s);
        advance(*store, 50);
        store->createCollection(u"Two"_s);
        advance(*store, 199);
        QCOMPARE(written.size(), 0);
        advance(*store, 1);
        QCOMPARE(countWrites(written, u"collections.json"_s), 1);
        QCOMPARE(countWrites(written, u"state.json"_s), 1);
        advance(*store, 149);
        QCOMPARE(countWrites(written, u"documents/a.json"_s), 0);
        advance(*store, 1);
        QCOMPARE(countWrites(written, u"documents/a.json"_s), 1);
        QCOMPARE(countWrites(written, u"documents/b.json"_s), 1);
        QVERIFY(store->pendingSaveIDs().isEmpty());
        advance(*store, 5000); // nothing more comes
        QCOMPARE(written.size(), 4);
        QCOMPARE(readDocumentFile(u"a"_s)->body, u"second"_s);
        QCOMPARE(readDocumentFile(u"b"_s)->body, u"other"_s);
        QCOMPARE(collectionsOnDisk(), 2);
        QCOMPARE(readStateFile()->dirtyCollectionIDs.size(), 2);
    }

    // Every key asks for the document's save again; the requests it replaced
    // fall due while the writer types on and must not take the state with
    // them: one record write per pause, and a state write only where the
    // pause changed the state (the first marks the document dirty; the
    // second finds it marked and writes the same state again: nothing).
    void typingWritesTheStateOncePerPause()
    {
        auto store = storeWith({makeDocument(u"a"_s, 20, u""_s)});
        advance(*store);
        QSignalSpy written(store.get(), &DocumentStore::fileWritten);
        QString typed;
        for (int pause = 1; pause <= 2; ++pause) {
            for (int key = 0; key < 60; ++key) {
                const TextEdit edit{{typed.size(), 0}, u"k"_s};
                typed += edit.text;
                QVERIFY(store->editBody({edit}, typed.size(), u"a"_s));
                advance(*store, 100); // ten keys a second
            }
            advance(*store, 2000);
            QCOMPARE(countWrites(written, u"state.json"_s), 1);
            QCOMPARE(countWrites(written, u"documents/a.json"_s), pause);
            QCOMPARE(readDocumentFile(u"a"_s)->body, typed);
            QCOMPARE(readStateFile()->dirtyDocumentIDs, QStringList{u"a"_s});
        }
        // A pause that changes the state writes it.
        const Document b = store->createDocument(std::nullopt, u"b"_s);
        advance(*store, 2000);
        QCOMPARE(countWrites(written, u"state.json"_s), 2);
        QCOMPARE(readStateFile()->dirtyDocumentIDs, (QStringList{u"a"_s, b.id}));
    }

    // Every write of the settings rewrites and syncs the whole file: a run
    // of switches between documents is mirrored there once, after a pause,
    // and a switch just before quitting by the flush.
    void documentSwitchesWriteTheSettingsOncePerPause()
    {
        QList<Document> documents;
        for (int i = 0; i < 20; ++i)
            documents << makeDocument(u"d%1"_s.arg(i), 100 - i);
        auto store = storeWith(documents);
        advance(*store);
        // What the file holds (another QSettings would share this one's
        // unwritten values).
        const auto onDisk = [this] {
            QFile file(m_dir->filePath(u"settings.ini"_s));
            return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
        };
        const QString before = onDisk();
        QVERIFY(before.contains(u"activeDocumentID=d0"_s));
        for (int i = 19; i >= 0; --i) {
            store->setActiveDocumentID(u"d%1"_s.arg(i));
            m_saveClock->advance(SaveScheduler::settingsDelayMs / 2);
            QCoreApplication::sendPostedEvents(); // where the settings write themselves
            QCOMPARE(onDisk(), before);
        }
        advance(*store, SaveScheduler::settingsDelayMs);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(onDisk(), before); // back at d0: nothing to write

        store->setActiveDocumentID(u"d7"_s);
        advance(*store, SaveScheduler::settingsDelayMs);
        QCoreApplication::sendPostedEvents();
        QVERIFY(onDisk().contains(u"activeDocumentID=d7"_s));

        store->setActiveDocumentID(u"d3"_s);
        store->flushPendingSaves();
        m_settings->sync(); // as the settings do when the app ends
        QVERIFY(onDisk().contains(u"activeDocumentID=d3"_s));
    }

    void writesOfOneFileLandInOrder()
    {
        auto store = storeWith({makeDocument(u"big"_s, 20)});
        // A large version takes long to write; a newer one asked for while it
        // is still being written must not be overtaken by it.
        const QString huge = QString(64 * 1024 * 1024, u'x');
        for (int round = 0; round < 2; ++round) {
            store->updateBody(huge + QString::number(round), u"big"_s);
            m_saveClock->advance(400); // the debounce has fired: the large write runs
            Document pulled = makeDocument(u"big"_s, m_now + 1000 * (round + 1), u"pulled %1"_s.arg(round));
            pulled.serverUpdatedAt = round + 1;
            store->applyPull({pulled}, {});
            store->waitForWrites();
            QCOMPARE(readDocumentFile(u"big"_s)->body, pulled.body);
        }
        store->updateBody(huge, u"big"_s);
        m_saveClock->advance(400);
        store->updateBody(u"small"_s, u"big"_s);
        advance(*store);
        QVERIFY(store->pendingSaveIDs().isEmpty());
        QCOMPARE(readDocumentFile(u"big"_s)->body, u"small"_s);
    }

    void flushWritesCurrentValues()
    {
        auto store = storeWith({makeDocument(u"a"_s, 20)});
        store->waitForWrites();
        QFile::remove(g_base + u"/collections.json"_s);
        QFile::remove(g_base + u"/state.json"_s);
        // Nothing pending: collections and state are written anyway.
        store->flushPendingSaves();
        QVERIFY(QFile::exists(g_base + u"/collections.json"_s));
        QVERIFY(readStateFile().has_value());

        // The document as it stands now, not the snapshot of its pending save.
        store->updateBody(u"one"_s, u"a"_s);
        Document snapshot = *store->document(u"a"_s);
        store->updateBody(u"two"_s, u"a"_s);
        store->scheduleSave(snapshot);
        // A pending save of a record the store does not hold is dropped.
        store->scheduleSave(makeDocument(u"stray"_s, 1));
        store->flushPendingSaves();
        QVERIFY(store->pendingSaveIDs().isEmpty());
        QCOMPARE(readDocumentFile(u"a"_s)->body, u"two"_s);
        QVERIFY(!QFile::exists(documentPath(u"stray"_s)));
        QCOMPARE(readStateFile()->dirtyDocumentIDs, QStringList{u"a"_s});
    }

    void failedWriteIsRetried()
    {
        auto store = storeWith({makeDocument(u"a"_s, 20), makeDocument(u"b"_s, 10)});
        store->waitForWrites();
        QSignalSpy written(store.get(), &DocumentStore::fileWritten);
        // A folder in the way of the file makes the write fail, even for root.
        const QString path = documentPath(u"a"_s);
        const auto block = [&] {
            QVERIFY(QFile::remove(path));
            QVERIFY(QDir().mkpath(path + u"/blocker"_s));
            expectSaveFailure(u"document a: "_s);
        };
        bool ok = true;

        block();
        store->updateBody(u"kept in memory"_s, u"a"_s);
        advance(*store);
        QCOMPARE(countWrites(written, u"documents/a.json"_s, &ok), 1);
        QVERIFY(!ok);
        QVERIFY(store->pendingSaveIDs().isEmpty());
        QCOMPARE(store->document(u"a"_s)->body, u"kept in memory"_s);
        // The flush writes it again though no save is pending any more.
        QVERIFY(QDir(path).removeRecursively());
        store->flushPendingSaves();
        QCOMPARE(readDocumentFile(u"a"_s)->body, u"kept in memory"_s);

        // And so does the next save of the document after another failure.
        block();
        store->updateBody(u"again"_s, u"a"_s);
        advance(*store);
        QVERIFY(QDir(path).removeRecursively());
        store->updateBody(u"again and more"_s, u"a"_s);
        advance(*store);
        QCOMPARE(countWrites(written, u"documents/a.json"_s, &ok), 4);
        QVERIFY(ok);
        QCOMPARE(readDocumentFile(u"a"_s)->body, u"again and more"_s);
    }

    // --- Collections ---

    void createCollection_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected"); // null: nothing created
        QTest::newRow("trimmed of spaces and line breaks") << u"  Notes\n"_s << u"Notes"_s;
        QTest::newRow("white space only") << u" \t\n "_s << QString();
        QTest::newRow("cut to 100 characters") << QString(150, u'n') << QString(100, u'n');
        const QString family = u"\U0001F468\u200D\U0001F469\u200D\U0001F467"_s;
        QTest::newRow("an emoji sequence counts as one") << family.repeated(101) << family.repeated(100);
    }

    void createCollection()
    {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        auto store = storeWith({makeDocument(u"a"_s, 1)});
        const auto created = store->createCollection(name);
        store->flushPendingSaves();
        QCOMPARE(ids(store->collections()), created ? QStringList{created->id} : QStringList());
        QCOMPARE(store->state().dirtyCollectionIDs, ids(store->collections()));
        QCOMPARE(created.has_value(), !expected.isNull());
        if (created) {
            QCOMPARE(created->name, expected);
            QVERIFY(isLowerCaseUuid(created->id));
            // Its file states the parent even when there is none.
            QVERIFY(readJson(g_base + u"/collections.json"_s)[0].toObject().contains(u"parentId"_s));
        }
    }

    void collectionNestingAndPositions()
    {
        auto store = storeWith({makeDocument(u"a"_s, 1)}, {makeCollection(u"site-blog"_s, 0)});
        const auto l1 = store->createCollection(u"L1"_s);
        const auto l2 = store->createCollection(u"L2"_s, l1->id);
        const auto l3 = store->createCollection(u"L3"_s, l2->id);
        const auto l4 = store->createCollection(u"L4"_s, l3->id);
        const auto tooDeep = store->createCollection(u"L5"_s, l4->id);
        const auto underFixed = store->createCollection(u"Blog child"_s, u"site-blog"_s);
        const auto unknownParent = store->createCollection(u"Orphan"_s, u"nope"_s);
        QCOMPARE(l4->parentId, l3->id);
        QVERIFY(!tooDeep->parentId && !underFixed->parentId && !unknownParent->parentId);
        QCOMPARE(l2->position, 0);
        // Top-level positions follow the largest sibling: site-blog 0, L1 1, ...
        QCOMPARE(l1->position, 1);
        QCOMPARE(tooDeep->position, 2);
        QCOMPARE(underFixed->position, 3);
        const auto l2b = store->createCollection(u"L2b"_s, l1->id);
        QCOMPARE(l2b->position, 1);
        QCOMPARE(store->collections().last().id, l2b->id); // appended without sorting
    }

    void renameMoveDeleteCollection()
    {
        Collection child = makeCollection(u"child"_s, 0, 10);
        child.parentId = u"a"_s;
        auto store = storeWith({makeDocument(u"doc"_s, 1)},
                               {makeCollection(u"a"_s, 0, 10), makeCollection(u"b"_s, 1, 10), child,
                                makeCollection(u"personal-site"_s, 9)});
        QCOMPARE(ids(store->collections()), (QStringList{u"personal-site"_s, u"a"_s, u"child"_s, u"b"_s}));
        QSignalSpy changed(store.get(), &DocumentStore::collectionsChanged);

        store->renameCollection(u"a"_s, u"  A  "_s); // same name after trimming
        store->renameCollection(u"a"_s, u"   "_s);
        QCOMPARE(changed.size(), 0);
        QVERIFY(store->state().dirtyCollectionIDs.isEmpty());
        m_now = 5; // the clock is behind: updatedAt still rises
        store->renameCollection(u"a"_s, u"Renamed"_s);
        QCOMPARE(store->collection(u"a"_s)->updatedAt, 11);
        store->renameCollection(u"a"_s, u"Renamed again"_s);
        QCOMPARE(store->collection(u"a"_s)->updatedAt, 12);

        QVERIFY(store->moveCollection(u"child"_s, u"a"_s)); // already there
        QVERIFY(store->moveCollection(u"b"_s, std::nullopt));
        QCOMPARE(store->collection(u"b"_s)->updatedAt, 10);
        QVERIFY(!store->moveCollection(u"personal-site"_s, std::nullopt));
        QVERIFY(!store->moveCollection(u"a"_s, u"child"_s));
        QVERIFY(!store->moveCollection(u"missing"_s, std::nullopt));
        QCOMPARE(store->state().dirtyCollectionIDs, QStringList{u"a"_s});

        QVERIFY(store->moveCollection(u"b"_s, u"a"_s));
        QCOMPARE(store->collection(u"b"_s)->parentId, std::optional<QString>(u"a"_s));
        QCOMPARE(store->collection(u"b"_s)->position, 1);
        // Sorted again: position first, then createdAt.
        QCOMPARE(ids(store->collections()), (QStringList{u"personal-site"_s, u"a"_s, u"child"_s, u"b"_s}));
        QVERIFY(store->moveCollection(u"child"_s, std::nullopt));
        QCOMPARE(store->collection(u"child"_s)->position, 10);
        QCOMPARE(ids(store->collections()), (QStringList{u"personal-site"_s, u"a"_s, u"b"_s, u"child"_s}));

        m_now = 100;
        store->deleteCollection(u"a"_s);
        store->deleteCollection(u"a"_s);
        QCOMPARE(store->deletedCollections().size(), 1);
        const Collection gone = store->deletedCollections().first();
        QVERIFY(gone.name.isEmpty() && !gone.parentId && gone.parentKnown);
        QCOMPARE(gone.deletedAt, 100);
        QCOMPARE(gone.updatedAt, 100);
        // Children keep their parent link; documents are untouched.
        QCOMPARE(store->collection(u"b"_s)->parentId, std::optional<QString>(u"a"_s));
        store->renameCollection(u"a"_s, u"Back"_s);
        QVERIFY(store->deletedCollections().first().name.isEmpty());

        store->flushPendingSaves();
        const QJsonArray onDisk = readJson(g_base + u"/collections.json"_s).array();
        QCOMPARE(onDisk.size(), 4);
        QCOMPARE(onDisk.last().toObject().value(u"id"_s).toString(), u"a"_s); // deleted ones last
        QVERIFY(onDisk.last().toObject().value(u"parentId"_s).isNull());
    }

    // --- Sync bookkeeping ---

    void applyPullConflictRule_data()
    {
        QTest::addColumn<qint64>("localUpdated");
        QTest::addColumn<qint64>("localServer"); // -1: absent
        QTest::addColumn<qint64>("pulledUpdated");
        QTest::addColumn<qint64>("pulledServer");
        QTest::addColumn<bool>("replaced");
        QTest::addColumn<bool>("returned");
        QTest::newRow("newer pull wins over a dirty local copy")
            << 10LL << 1LL << 11LL << 2LL << true << false;
        QTest::newRow("older pull: local is newer, id returned")
            << 10LL << 1LL << 9LL << 2LL << false << true;
        QTest::newRow("same version: nothing") << 10LL << 1LL << 10LL << 1LL << false << false;
        QTest::newRow("pushed record comes back stamped") << 10LL << -1LL << 10LL << 3LL << true << false;
        QTest::newRow("same time, other stamp") << 10LL << 1LL << 10LL << 2LL << true << false;
    }

    void applyPullConflictRule()
    {
        QFETCH(qint64, localUpdated);
        QFETCH(qint64, localServer);
        QFETCH(qint64, pulledUpdated);
        QFETCH(qint64, pulledServer);
        QFETCH(bool, replaced);
        QFETCH(bool, returned);
        Document local = makeDocument(u"d"_s, localUpdated, u"local"_s);
        Collection localCollection = makeCollection(u"c"_s, 0, localUpdated);
        if (localServer >= 0) {
            local.serverUpdatedAt = localCollection.serverUpdatedAt = localServer;
        }
        auto store = storeWith({local, makeDocument(u"other"_s, 5)}, {localCollection});
        store->markDocumentDirty(u"d"_s);
        store->markCollectionDirty(u"c"_s);
        int callbacks = 0;
        QObject::connect(store.get(), &DocumentStore::localChange, [&] { ++callbacks; });

        Document pulled = makeDocument(u"d"_s, pulledUpdated, u"pulled"_s);
        Collection pulledCollection = makeCollection(u"c"_s, 0, pulledUpdated);
        pulledCollection.name = u"Pulled"_s;
        pulled.serverUpdatedAt = pulledCollection.serverUpdatedAt = pulledServer;
        const auto result = store->applyPull({pulled}, {pulledCollection});

        QCOMPARE(result.documentIDs, returned ? QStringList{u"d"_s} : QStringList());
        QCOMPARE(result.collectionIDs, returned ? QStringList{u"c"_s} : QStringList());
        QCOMPARE(store->document(u"d"_s)->body, replaced ? u"pulled"_s : u"local"_s);
        QCOMPARE(store->collection(u"c"_s)->name, replaced ? u"Pulled"_s : u"C"_s);
        // The losing body lives on as a new dirty document, already on disk.
        QStringList dirty = store->state().dirtyDocumentIDs;
        QCOMPARE(dirty.removeAll(u"d"_s), replaced ? 0 : 1);
        QCOMPARE(dirty.size(), returned || replaced ? 1 : 0);
        if (!dirty.isEmpty()) {
            QCOMPARE(readDocumentFile(dirty.first())->body, replaced ? u"local"_s : u"pulled"_s);
        }
        QCOMPARE(store->state().dirtyCollectionIDs, replaced ? QStringList() : QStringList{u"c"_s});
        QCOMPARE(callbacks, 0);
        // Pulled documents are on disk before applyPull returns.
        QCOMPARE(readDocumentFile(u"d"_s)->body, replaced ? u"pulled"_s : u"local"_s);
    }

    // A pulled version meeting a dirty local copy. Concurrent: it is neither
    // the version last agreed on with the service nor the echo of a push.
    void concurrentEditsKeepTheLoser_data()
    {
        QTest::addColumn<bool>("localDeleted");
        QTest::addColumn<bool>("pulledDeleted");
        QTest::addColumn<bool>("concurrent");
        QTest::addColumn<bool>("sameBody");
        QTest::addColumn<bool>("localWins");
        for (const bool localDeleted : {false, true}) {
            for (const bool pulledDeleted : {false, true}) {
                for (const bool concurrent : {true, false}) {
                    for (const bool sameBody : {false, true}) {
                        if (sameBody && localDeleted != pulledDeleted) {
                            continue; // a tombstone's body is empty
                        }
                        for (const bool localWins : {true, false}) {
                            QTest::addRow(
                                "local %s, pulled %s, %s, %s, %s wins", localDeleted ? "deleted" : "live",
                                pulledDeleted ? "deleted" : "live", concurrent ? "concurrent" : "seen",
                                sameBody ? "same body" : "other body", localWins ? "local" : "pulled")
                                << localDeleted << pulledDeleted << concurrent << sameBody << localWins;
                        }
                    }
                }
            }
        }
    }

    void concurrentEditsKeepTheLoser()
    {
        QFETCH(bool, localDeleted);
        QFETCH(bool, pulledDeleted);
        QFETCH(bool, concurrent);
        QFETCH(bool, sameBody);
        QFETCH(bool, localWins);
        const qint64 localAt = localWins ? 20 : 10, pulledAt = localWins ? 10 : 20;
        const auto version = [&](bool deleted, qint64 at, const QString &body) {
            Document d = deleted ? makeTombstone(u"d"_s, at) : makeDocument(u"d"_s, at, body);
            d.collectionId = u"c"_s;
            return d;
        };
        Document local = version(localDeleted, localAt, sameBody ? u"# same"_s : u"# mine"_s);
        local.serverUpdatedAt = 1;
        auto store = storeWith({local, makeDocument(u"other"_s, 5)}, {makeCollection(u"c"_s)});
        store->markDocumentDirty(u"d"_s);
        Document pulled = version(pulledDeleted, pulledAt, sameBody ? u"# same"_s : u"# theirs"_s);
        pulled.serverUpdatedAt = 7;
        if (!concurrent) {
            store->noteAccepted({pulled});
        }
        int changes = 0;
        QObject::connect(store.get(), &DocumentStore::localChange, [&] { ++changes; });

        const DocumentStore::PullResult result = store->applyPull({pulled}, {});

        const Document &loser = localWins ? pulled : local;
        const Document &kept = localWins ? local : pulled;
        const bool copied = concurrent && !loser.body.isEmpty() && loser.body != kept.body;
        const QString copyID = RecordIds::conflictedCopyID(u"d"_s, loser.updatedAt);
        QCOMPARE(result.copyIDs, copied ? QStringList{copyID} : QStringList());
        QCOMPARE(store->document(copyID).has_value(), copied);
        if (copied) {
            const Document copy = *store->document(copyID);
            QCOMPARE(copy.body, loser.body);
            QCOMPARE(copy.displayTitle(), loser.displayTitle() + u" (conflicted copy)"_s);
            QCOMPARE(copy.collectionId, std::optional<QString>(u"c"_s));
            QCOMPARE(readDocumentFile(copyID), copy);
            QVERIFY(store->state().dirtyDocumentIDs.contains(copyID));
        }
        // The winner is what the document shows, on disk too.
        std::optional<Document> shown = store->document(u"d"_s);
        if (!shown) {
            QCOMPARE(store->tombstones().size(), 1);
            shown = store->tombstones().first();
        }
        QCOMPARE(shown->body, kept.body);
        QCOMPARE(shown->deletedAt.has_value(), kept.deletedAt.has_value());
        QCOMPARE(readDocumentFile(u"d"_s)->body, kept.body);
        // A dirty winner here takes the pulled server time and goes out again.
        QCOMPARE(shown->serverUpdatedAt, std::optional<qint64>(7));
        QCOMPARE(readDocumentFile(u"d"_s)->serverUpdatedAt, std::optional<qint64>(7));
        QCOMPARE(store->state().dirtyDocumentIDs.contains(u"d"_s), localWins);
        QCOMPARE(result.documentIDs, localWins ? QStringList{u"d"_s} : QStringList());
        QCOMPARE(changes, 0);

        // The same pull again, or after a restart, makes no second copy.
        QVERIFY(store->applyPull({pulled}, {}).copyIDs.isEmpty());
        if (!copied) {
            return;
        }
        store->flushPendingSaves();
        store.reset();
        store = newStore();
        QVERIFY(loaded(*store));
        QVERIFY(store->applyPull({pulled}, {}).copyIDs.isEmpty());
        QCOMPARE(store->documents().size() + store->tombstones().size(), 3);
    }

    void conflictedCopyTakesTheNextFreeId_data()
    {
        // What the first ids of the loser's copy hold here, or in the pull,
        // before it: "other" (another text), "same" (the loser's), "deleted".
        QTest::addColumn<QStringList>("heldHere");
        QTest::addColumn<QStringList>("pulledWith");
        QTest::addColumn<int>("copyAt"); // 0: no new copy
        QTest::newRow("first holds another text") << QStringList{u"other"_s} << QStringList() << 2;
        QTest::newRow("first two hold other texts")
            << QStringList{u"other"_s, u"other"_s} << QStringList() << 3;
        QTest::newRow("first holds a deleted document") << QStringList{u"deleted"_s} << QStringList() << 2;
        QTest::newRow("first holds the same text") << QStringList{u"same"_s} << QStringList() << 0;
        QTest::newRow("second holds the same text")
            << QStringList{u"other"_s, u"same"_s} << QStringList() << 0;
        QTest::newRow("the pull brings another text at the first")
            << QStringList() << QStringList{u"other"_s} << 2;
        QTest::newRow("the pull brings the same text at the first")
            << QStringList() << QStringList{u"same"_s} << 0;
    }

    // Two versions of one document can share an updatedAt: the copy of the
    // one losing here goes to the next id, the one the service gives it,
    // rather than give up its text for another's copy.
    void conflictedCopyTakesTheNextFreeId()
    {
        QFETCH(QStringList, heldHere);
        QFETCH(QStringList, pulledWith);
        QFETCH(int, copyAt);
        const auto holding = [](const QString &what, int n) {
            const QString id = RecordIds::conflictedCopyID(u"d"_s, 10, n);
            if (what == u"deleted"_s)
                return makeTombstone(id, 3);
            return makeDocument(id, 3, what == u"same"_s ? u"# mine"_s : u"# earlier %1"_s.arg(n));
        };
        Document local = makeDocument(u"d"_s, 10, u"# mine"_s);
        local.serverUpdatedAt = 1;
        QList<Document> documents{local};
        for (int n = 1; n <= heldHere.size(); ++n)
            documents.append(holding(heldHere[n - 1], n));
        auto store = storeWith(documents);
        store->markDocumentDirty(u"d"_s);
        Document theirs = makeDocument(u"d"_s, 10, u"# theirs"_s);
        theirs.serverUpdatedAt = 7;
        QList<Document> pulled{theirs};
        for (int n = 1; n <= pulledWith.size(); ++n)
            pulled.append(holding(pulledWith[n - 1], n));

        const DocumentStore::PullResult result = store->applyPull(pulled, {});

        QCOMPARE(store->document(u"d"_s)->body, u"# theirs"_s);
        if (copyAt == 0) {
            QVERIFY(result.copyIDs.isEmpty());
            return;
        }
        const QString copyID = RecordIds::conflictedCopyID(u"d"_s, 10, copyAt);
        QCOMPARE(result.copyIDs, QStringList{copyID});
        QCOMPARE(store->document(copyID)->body, u"# mine"_s);
        // The ids before it keep what they held.
        for (int n = 1; n < copyAt; ++n) {
            const QString id = RecordIds::conflictedCopyID(u"d"_s, 10, n);
            const std::optional<Document> held = store->document(id);
            QVERIFY(held ? held->body != u"# mine"_s : store->tombstones().first().id == id);
        }
    }

    void conflictedCopyGoesWhereALiveCollectionIs_data()
    {
        QTest::addColumn<QStringList>("liveCollections");
        QTest::addColumn<QString>("expected");
        QTest::newRow("the loser's") << QStringList{u"mine"_s, u"theirs"_s} << u"mine"_s;
        QTest::newRow("the winner's when the loser's is gone") << QStringList{u"theirs"_s} << u"theirs"_s;
        QTest::newRow("none when neither is live") << QStringList{} << QString();
    }

    void conflictedCopyGoesWhereALiveCollectionIs()
    {
        QFETCH(QStringList, liveCollections);
        QFETCH(QString, expected);
        Document local = makeDocument(u"d"_s, 10, u"# mine"_s);
        local.collectionId = u"mine"_s;
        QList<Collection> collections;
        for (const QString &id : liveCollections) {
            collections.append(makeCollection(id));
        }
        auto store = storeWith({local}, collections);
        store->markDocumentDirty(u"d"_s);
        Document pulled = makeDocument(u"d"_s, 20, u"# theirs"_s);
        pulled.collectionId = u"theirs"_s;
        pulled.serverUpdatedAt = 3;
        const QStringList copies = store->applyPull({pulled}, {}).copyIDs;
        QCOMPARE(copies.size(), 1);
        QCOMPARE(store->document(copies.first())->collectionId,
                 expected.isEmpty() ? std::nullopt : std::optional<QString>(expected));
    }

    // A copy that landed before its dirty mark would, after a kill, stay on
    // this computer only: a second pull finds it and makes no other.
    void conflictedCopyLandsAfterItsDirtyMark()
    {
        auto store = storeWith({makeDocument(u"d"_s, 10, u"# mine"_s)});
        store->markDocumentDirty(u"d"_s);
        advance(*store);
        int checked = 0;
        QObject::connect(store.get(), &DocumentStore::fileWritten, [&](const QString &path, bool ok) {
            // Every file the store writes is reported, state.json among them.
            if (!ok || !path.startsWith(u"documents/"_s) || !path.endsWith(u".json"_s)) {
                return;
            }
            const QString id = path.section(u'/', 1).chopped(5);
            if (id != u"d"_s) {
                ++checked;
                QVERIFY2(readStateFile()->dirtyDocumentIDs.contains(id),
                         "the copy landed before its dirty mark");
            }
        });
        Document pulled = makeDocument(u"d"_s, 20, u"# theirs"_s);
        pulled.serverUpdatedAt = 3;
        QCOMPARE(store->applyPull({pulled}, {}).copyIDs.size(), 1);
        QCOMPARE(checked, 1);
    }

    // The echo of this computer's own push is no conflict while the run
    // remembers the push; after a restart it costs one needless copy of the
    // older version, and no text.
    void ownPushComingBackIsNoConflict_data()
    {
        QTest::addColumn<bool>("restart");
        QTest::newRow("during the run") << false;
        QTest::newRow("after a restart") << true;
    }

    void ownPushComingBackIsNoConflict()
    {
        QFETCH(bool, restart);
        auto store = storeWith({makeDocument(u"d"_s, 10, u"# one"_s)});
        store->markDocumentDirty(u"d"_s);
        const Document pushed = store->dirtyDocumentsForPush().first();
        m_now = 50;
        store->updateBody(u"# one\n\ntwo"_s, u"d"_s); // typed while the push is out
        if (restart) {
            store->flushPendingSaves();
            store.reset();
            store = newStore();
            QVERIFY(loaded(*store));
        }
        Document echo = pushed;
        echo.serverUpdatedAt = 9;
        const DocumentStore::PullResult result = store->applyPull({echo}, {});
        QCOMPARE(result.copyIDs.size(), restart ? 1 : 0);
        QCOMPARE(store->document(u"d"_s)->body, u"# one\n\ntwo"_s);
        QCOMPARE(store->document(u"d"_s)->serverUpdatedAt, std::optional<qint64>(9));
        if (restart) {
            QCOMPARE(store->document(result.copyIDs.first())->body, u"# one"_s);
        }
    }

    // A push answered "stale" leaves the id dirty; the newer version the
    // service re-stamped then meets it, and the local text becomes a copy.
    void restampedStaleVersionLeavesACopy()
    {
        auto store = storeWith({makeDocument(u"d"_s, 10, u"# base"_s)});
        Document base = makeDocument(u"d"_s, 10, u"# base"_s);
        base.serverUpdatedAt = 2;
        store->applyPull({base}, {});
        m_now = 30;
        store->updateBody(u"# base\n\nmine"_s, u"d"_s);
        QCOMPARE(store->dirtyDocumentsForPush().size(), 1); // answered "stale": not cleared
        Document newer = makeDocument(u"d"_s, 40, u"# base\n\ntheirs"_s);
        newer.serverUpdatedAt = 6;
        const QStringList copies = store->applyPull({newer}, {}).copyIDs;
        QCOMPARE(copies, QStringList{RecordIds::conflictedCopyID(u"d"_s, 30)});
        QCOMPARE(store->document(copies.first())->body, u"# base\n\nmine"_s);
        QCOMPARE(store->document(u"d"_s)->body, u"# base\n\ntheirs"_s);
        QCOMPARE(store->state().dirtyDocumentIDs, copies);
    }

    void syncCursorEpochRisesWithEveryReset()
    {
        auto store = storeWith({});
        const quint64 start = store->syncCursorEpoch();
        store->advanceSyncCursor(40);
        QCOMPARE(store->syncCursorEpoch(), start);
        store->resetSyncCursor();
        QCOMPARE(store->state().syncCursor, 0);
        store->resetSyncCursor();
        QCOMPARE(store->syncCursorEpoch(), start + 2);
    }

    void applyPullReordersAndReselects()
    {
        auto store = storeWith({makeDocument(u"a"_s, 30), makeDocument(u"b"_s, 20), makeDocument(u"c"_s, 10)},
                               {makeCollection(u"x"_s, 5), makeCollection(u"y"_s, 1)});
        QCOMPARE(store->activeDocumentID(), u"a"_s);
        store->createCollection(u"New"_s); // appended, position 6
        QSignalSpy documentsSpy(store.get(), &DocumentStore::documentsChanged);
        QSignalSpy stateSpy(store.get(), &DocumentStore::stateChanged);

        // Every local copy newer: ids returned and marked to be pushed,
        // nothing sorted.
        auto result = store->applyPull({makeDocument(u"a"_s, 1), makeDocument(u"b"_s, 2)}, {});
        QCOMPARE(result.documentIDs, (QStringList{u"a"_s, u"b"_s}));
        QCOMPARE(documentsSpy.size(), 0);
        QCOMPARE(stateSpy.size(), 1);
        QCOMPARE(store->state().dirtyDocumentIDs, (QStringList{u"a"_s, u"b"_s}));
        // The push that follows takes them to the service.
        store->clearDirty({u"a"_s, u"b"_s}, {});

        // Observers told of the merge already find documents in the new order.
        QStringList foundFromSignal;
        const auto lookup = connect(store.get(), &DocumentStore::stateChanged, this, [&] {
            const auto b = store->document(u"b"_s);
            foundFromSignal << (b ? b->id : QString());
        });
        // The active document arrives as a tombstone; c comes back newest; an
        // unknown record is inserted; a resurrected tombstone takes its place in time.
        result = store->applyPull({makeTombstone(u"a"_s, 50), makeDocument(u"c"_s, 40, u"# c again"_s),
                                   makeDocument(u"fresh"_s, 25)},
                                  {});
        QVERIFY(result.documentIDs.isEmpty());
        QCOMPARE(ids(store->documents()), (QStringList{u"c"_s, u"fresh"_s, u"b"_s}));
        disconnect(lookup);
        QCOMPARE(foundFromSignal, QStringList{u"b"_s});
        QCOMPARE(ids(store->tombstones()), QStringList{u"a"_s});
        QCOMPARE(store->activeDocumentID(), u"c"_s);
        advance(*store); // the settings are written after a pause
        QCOMPARE(m_settings->value(u"activeDocumentID"_s).toString(), u"c"_s);
        QVERIFY(readDocumentFile(u"fresh"_s).has_value());
        // Collections are sorted again even though no collection was pulled.
        QCOMPARE(ids(store->collections()).first(), u"y"_s);

        // A tombstone pulled back to life leaves the tombstones.
        store->applyPull({makeDocument(u"a"_s, 60)}, {});
        QVERIFY(store->tombstones().isEmpty());
        QCOMPARE(ids(store->documents()).first(), u"a"_s);
    }

    void applyPullWritesTheWholeBatchBeforeReturning()
    {
        // A first sync brings thousands of documents in one pull; they are
        // written together, and each is on disk when applyPull returns. A
        // record that cannot be written costs only itself.
        auto store = storeWith({makeDocument(u"kept"_s, 10)});
        QVERIFY(QDir().mkpath(g_base + u"/documents/blocked.json"_s));
        QList<Document> pulled;
        for (int i = 0; i < 200; ++i) {
            pulled << makeDocument(u"p%1"_s.arg(i), 20 + i, u"# Pulled %1"_s.arg(i));
        }
        pulled << makeDocument(u"blocked"_s, 30);
        QStringList written;
        QObject::connect(store.get(), &DocumentStore::fileWritten, [&](const QString &path, bool ok) {
            written << path + (ok ? u""_s : u" failed"_s);
        });
        expectSaveFailure(u"document blocked: .+"_s);
        QCOMPARE(store->applyPull(pulled, {}).documentIDs, QStringList());

        QCOMPARE(written.filter(QRegularExpression(u"^documents/"_s)).size(), 201);
        QVERIFY(written.contains(u"documents/blocked.json failed"_s));
        QVERIFY(written.contains(u"documents/p199.json"_s));
        for (int i = 0; i < 200; i += 37) {
            QCOMPARE(readDocumentFile(u"p%1"_s.arg(i)), pulled.at(i));
        }
        QCOMPARE(readDocumentFile(u"kept"_s)->body, u"# kept"_s);
        QCOMPARE(QDir(g_base + u"/documents"_s).entryList(QDir::Files).size(), 201);
    }

    void applyPullCancelsPendingSave()
    {
        auto store = storeWith({makeDocument(u"d"_s, 10)});
        store->updateBody(u"local edit"_s, u"d"_s);
        QCOMPARE(store->pendingSaveIDs(), QStringList{u"d"_s});
        Document pulled = makeDocument(u"d"_s, m_now + 100, u"from the server"_s);
        pulled.serverUpdatedAt = 7;
        store->applyPull({pulled}, {});
        QVERIFY(store->pendingSaveIDs().isEmpty());
        advance(*store); // longer than the document debounce
        QCOMPARE(readDocumentFile(u"d"_s), pulled);
        store->flushPendingSaves();
        QCOMPARE(readDocumentFile(u"d"_s), pulled);
    }

    // A pull merged at once and written in the background: behind a long
    // write of one of its files, and ahead of an edit typed meanwhile.
    void pullWrittenInTheBackgroundKeepsTheOrderOfEachFile()
    {
        auto store = storeWith({makeDocument(u"p0"_s, 10)});
        store->updateBody(QString(64 * 1024 * 1024, u'x'), u"p0"_s);
        store->clearDirty({u"p0"_s}, {}); // as if pushed: the pull makes no copy
        m_saveClock->advance(400);
        store->waitForWrites();
        QCoreApplication::sendPostedEvents(); // the state has landed: the large write runs
        QList<Document> pulled;
        for (int i = 0; i < 20; ++i) {
            pulled << makeDocument(u"p%1"_s.arg(i), m_now + 100 + i, u"# Pulled %1"_s.arg(i));
        }
        QSignalSpy written(store.get(), &DocumentStore::fileWritten);
        const DocumentStore::PendingPull pending = store->applyPullInBackground(pulled, {});
        QVERIFY(pending.result.documentIDs.isEmpty());
        QCOMPARE(store->documents().size(), 20);
        store->updateBody(u"typed after the pull"_s, u"p0"_s);
        QTRY_VERIFY(pending.written.isFinished());
        QVERIFY(!pending.written.isCanceled());
        // Every pulled file has been told of by then, and is on disk; the
        // large write that was running did not land over it.
        QVERIFY(written.size() >= 20);
        store->waitForWrites();
        for (int i = 0; i < 20; i += 7) {
            QCOMPARE(readDocumentFile(u"p%1"_s.arg(i)), pulled.at(i));
        }
        advance(*store);
        QCOMPARE(readDocumentFile(u"p0"_s)->body, u"typed after the pull"_s);
    }

    // The state and collections.json are written on threads of their own. A
    // new collection must not land before the state that marks it dirty,
    // even when the state takes long to write: a kill in between would leave
    // it on disk and never pushed.
    void aNewCollectionLandsAfterItsDirtyMark()
    {
        auto store = storeWith({});
        for (int i = 0; i < 200'000; ++i) {
            store->setPublishedSlug(u"slug-%1"_s.arg(i), u"document-%1"_s.arg(i)); // a long write
        }
        advance(*store);
        QStringList written;
        QObject::connect(store.get(), &DocumentStore::fileWritten,
                         [&](const QString &path, bool) { written << path; });
        const QString id = store->createCollection(u"New"_s)->id;
        advance(*store);
        QCOMPARE(written, (QStringList{u"state.json"_s, u"collections.json"_s}));
        QCOMPARE(readStateFile()->dirtyCollectionIDs, QStringList{id});
    }

    // Whichever path writes the two whole files, the state that marks a new
    // collection dirty is on disk before the collection is: watched from
    // another thread, as a kill would find them. A long state write makes
    // the other order show.
    void theDirtyMarkLandsBeforeItsCollectionOnEveryPath_data()
    {
        QTest::addColumn<QString>("path");
        for (const char *path : {"debounce", "pull at once", "pull in the background", "flush"}) {
            QTest::newRow(path) << QString::fromLatin1(path);
        }
    }
    void theDirtyMarkLandsBeforeItsCollectionOnEveryPath()
    {
        QFETCH(QString, path);
        auto store = storeWith({});
        for (int i = 0; i < 200'000; ++i) {
            store->setPublishedSlug(u"slug-%1"_s.arg(i), u"document-%1"_s.arg(i));
        }
        advance(*store);
        const QString id = store->createCollection(u"New"_s)->id;

        std::atomic<bool> stop = false;
        std::atomic<int> seen = 0; // 1: with its mark, -1: without
        QThread *watcher = QThread::create([&] {
            while (!stop && seen == 0) {
                const QJsonArray onDisk = readJson(g_base + u"/collections.json"_s).array();
                if (std::any_of(onDisk.begin(), onDisk.end(),
                                [&](const QJsonValue &c) { return c[u"id"_s].toString() == id; })) {
                    const std::optional<Persistence::State> state = readStateFile();
                    seen = state && state->dirtyCollectionIDs.contains(id) ? 1 : -1;
                }
            }
        });
        watcher->start();
        Collection pulled = makeCollection(u"pulled"_s, 5);
        pulled.serverUpdatedAt = 3;
        if (path == u"debounce"_s) {
            advance(*store);
        } else if (path == u"pull at once"_s) {
            store->applyPull({}, {pulled});
        } else if (path == u"pull in the background"_s) {
            const DocumentStore::PendingPull pending = store->applyPullInBackground({}, {pulled});
            QTRY_VERIFY(pending.written.isFinished());
        } else {
            store->flushPendingSaves();
        }
        store->waitForWrites();
        (void)QTest::qWaitFor([&] { return seen != 0; }, TestWaits::limitMs);
        stop = true;
        watcher->wait();
        delete watcher;
        QCOMPARE(seen.load(), 1);
    }

    // A collection made here comes back from the service with its server
    // time: the cursor moved past it next must not get ahead of the
    // collections file, which waits for its debounce (never run here).
    void aPulledCollectionIsOnDiskOnceThePullIs_data()
    {
        QTest::addColumn<bool>("background");
        QTest::newRow("in the background") << true;
        QTest::newRow("at once") << false;
    }
    void aPulledCollectionIsOnDiskOnceThePullIs()
    {
        QFETCH(bool, background);
        auto store = storeWith({});
        const QString id = store->createCollection(u"Made here"_s)->id;
        store->clearDirty({}, {id}); // the service took it
        Collection back = *store->collection(id);
        back.serverUpdatedAt = 42;
        if (background) {
            const DocumentStore::PendingPull pending = store->applyPullInBackground({}, {back});
            QTRY_VERIFY(pending.written.isFinished());
            QVERIFY(!pending.written.isCanceled());
        } else {
            store->applyPull({}, {back});
        }
        QCOMPARE(collectionsOnDisk(), 1);
        QCOMPARE(readJson(g_base + u"/collections.json"_s)[0][u"serverUpdatedAt"_s].toInteger(), 42);
        QVERIFY(readStateFile()->dirtyCollectionIDs.isEmpty());
    }

    void clearDirtyKeepsIdsEditedDuringPush()
    {
        auto store =
            storeWith({makeDocument(u"a"_s, 10), makeDocument(u"b"_s, 5)}, {makeCollection(u"c"_s, 0)});
        store->updateBody(u"a1"_s, u"a"_s);
        store->updateBody(u"b1"_s, u"b"_s);
        store->renameCollection(u"c"_s, u"Renamed"_s);
        store->deleteDocument(u"b"_s);
        QCOMPARE(ids(store->dirtyDocumentsForPush()), (QStringList{u"a"_s, u"b"_s})); // live first
        QCOMPARE(ids(store->dirtyCollectionsForPush()), QStringList{u"c"_s});

        // Typed while the push was in flight.
        store->updateBody(u"a2"_s, u"a"_s);
        store->clearDirty({u"a"_s, u"b"_s, u"unknown"_s}, {u"c"_s});
        QCOMPARE(store->state().dirtyDocumentIDs, QStringList{u"a"_s});
        QVERIFY(store->state().dirtyCollectionIDs.isEmpty());
        QCOMPARE(store->tombstones().size(), 1);
        // The next push carries the new version; accepting it clears the mark.
        QCOMPARE(store->dirtyDocumentsForPush().first().body, u"a2"_s);
        store->clearDirty({u"a"_s}, {});
        QVERIFY(store->state().dirtyDocumentIDs.isEmpty());

        // Pushed because the pull found it newer here, though no longer dirty:
        // an edit during that push stays dirty as well.
        QCOMPARE(store->applyPull({makeDocument(u"a"_s, 1)}, {}).documentIDs, QStringList{u"a"_s});
        store->updateBody(u"a3"_s, u"a"_s);
        store->clearDirty({u"a"_s}, {});
        QCOMPARE(store->state().dirtyDocumentIDs, QStringList{u"a"_s});
    }

    void bookkeepingNotifications()
    {
        auto store = storeWith({makeDocument(u"a"_s, 10)});
        advance(*store);
        QSignalSpy written(store.get(), &DocumentStore::fileWritten);
        QSignalSpy stateSpy(store.get(), &DocumentStore::stateChanged);
        int callbacks = 0;
        QObject::connect(store.get(), &DocumentStore::localChange, [&] { ++callbacks; });

        store->markDocumentDirty(u"a"_s);
        store->markDocumentDirty(u"a"_s);
        QCOMPARE(store->state().dirtyDocumentIDs, QStringList{u"a"_s});
        QCOMPARE(callbacks, 2);
        for (qint64 cursor : {40, 40, 3}) {
            store->advanceSyncCursor(cursor);
        }
        QCOMPARE(store->state().syncCursor, 40);
        store->setPublishedSlug(u"my-post"_s, u"a"_s);
        QCOMPARE(store->publishedSlug(u"a"_s), std::optional<QString>(u"my-post"_s));
        store->setPublishedSlug(std::nullopt, u"a"_s);
        QVERIFY(!store->publishedSlug(u"a"_s));
        store->setPublishedSlug(std::nullopt, u"a"_s); // nothing to remove: still a set
        QCOMPARE(callbacks, 2);
        QCOMPARE(stateSpy.size(), 5);
        advance(*store);
        QCOMPARE(countWrites(written, u"state.json"_s), 1);
        QCOMPARE(readStateFile()->syncCursor, 40);

        // clearDirty with ids that are not listed still saves the state,
        // which holds what the file does: nothing is written.
        store->clearDirty({u"zzz"_s}, {});
        advance(*store);
        QCOMPARE(countWrites(written, u"state.json"_s), 1);
    }

    // --- Search, link titles, import ---

    void filteredDocuments_data()
    {
        QTest::addColumn<QString>("search");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("empty lists all") << QString() << QStringList{u"n"_s, u"u"_s, u"m"_s, u"f"_s};
        QTest::newRow("spaces and tabs only list all")
            << u" \t "_s << QStringList{u"n"_s, u"u"_s, u"m"_s, u"f"_s};
        QTest::newRow("trimmed and case-insensitive") << u"  GROCERY "_s << QStringList{u"n"_s, u"m"_s};
        QTest::newRow("inside words and bodies") << u"cer"_s << QStringList{u"n"_s, u"m"_s};
        QTest::newRow("empty title matches untitled") << u"untitled"_s << QStringList{u"u"_s};
        QTest::newRow("front-matter title") << u"shown"_s << QStringList{u"f"_s};
        QTest::newRow("a line break is not trimmed") << u"grocery\n"_s << QStringList{u"m"_s};
        QTest::newRow("nothing") << u"zebra"_s << QStringList();
    }

    void filteredDocuments()
    {
        QFETCH(QString, search);
        QFETCH(QStringList, expected);
        Document untitled = makeDocument(u"u"_s, 30, u"---"_s);
        untitled.title.clear();
        Document fm = makeDocument(u"f"_s, 10, u"# Stored"_s);
        fm.overrides = {u"title"_s};
        fm.frontmatter.title = u"Shown Title"_s;
        auto store = storeWith({makeDocument(u"n"_s, 40, u"# Grocery list"_s), untitled,
                                makeDocument(u"m"_s, 20, u"# Misc\nbuy at the grocery\nstore"_s), fm,
                                makeTombstone(u"t"_s, 50)});
        QSignalSpy spy(store.get(), &DocumentStore::searchTextChanged);
        store->setSearchText(search);
        store->setSearchText(search);
        QCOMPARE(spy.size(), search.isEmpty() ? 0 : 1);
        QCOMPARE(ids(store->filteredDocuments()), expected);
    }

    void lookupsAndLinkTitles()
    {
        Document described = makeDocument(u"desc"_s, 5, u"Body text. More."_s);
        described.overrides = {u"description"_s};
        described.frontmatter.description = u"From front matter"_s;
        auto store =
            storeWith({makeDocument(u"new"_s, 20, u"# hello"_s), makeDocument(u"old"_s, 10, u"#  Hello  "_s),
                       described, makeTombstone(u"t"_s, 50)});
        // One title per spelling, the newest document's.
        QCOMPARE(store->linkTitles(), (QStringList{u"hello"_s, u"Body text. More."_s}));
        const auto byTitle = store->documentIDsByTitle();
        QCOMPARE(byTitle.value(u"hello"_s), u"new"_s);
        QCOMPARE(byTitle.value(u"body text. more."_s), u"desc"_s);
        QCOMPARE(store->excerpt(*store->document(u"desc"_s)), u"From front matter"_s);
        QCOMPARE(store->excerpt(*store->document(u"new"_s)), QString());
        // An edit is seen at once, however the excerpt is kept.
        store->updateBody(u"# hello\nNew text."_s, u"new"_s);
        QCOMPARE(store->excerpt(*store->document(u"new"_s)), u"New text."_s);
        QVERIFY(!store->document(u"missing"_s));
        QCOMPARE(store->activeDocument()->id, u"new"_s);

        // A wiki link to a missing title makes the document.
        const Document blank = store->createDocumentTitled(u"   "_s, u"C"_s);
        QCOMPARE(blank.body, u"# Untitled\n\n"_s);
        QCOMPARE(blank.title, u"Untitled"_s);
        QCOMPARE(blank.collectionId, std::optional<QString>(u"C"_s));
        const Document linked = store->createDocumentTitled(u" Next Steps\n"_s, std::nullopt);
        QCOMPARE(linked.body, u"# Next Steps\n\n"_s);
        QCOMPARE(ids(store->documents()).mid(0, 2), (QStringList{linked.id, blank.id}));
        QCOMPARE(store->activeDocumentID(), linked.id);
        QCOMPARE(store->state().dirtyDocumentIDs, (QStringList{u"new"_s, blank.id, linked.id}));
    }

    void importMarkdown_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("displayTitle");
        QTest::addColumn<QString>("body"); // null: the text as given
        QTest::newRow("no heading, no text: file name")
            << u" notes "_s << QString() << u"notes"_s << u"notes"_s << QString();
        QTest::newRow("heading wins over file name")
            << u"file"_s << u"# Real\ntext"_s << u"Real"_s << u"Real"_s << QString();
        QTest::newRow("front-matter title shown, derived title stored")
            << u"file"_s << u"---\ntitle: Shown\n---\n# Heading"_s << u"Heading"_s << u"Shown"_s
            << u"# Heading"_s;
        QTest::newRow("blank name keeps Untitled")
            << u" \t"_s << u"---"_s << u"Untitled"_s << u"Untitled"_s << QString();
    }

    void importMarkdown()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(QString, title);
        QFETCH(QString, displayTitle);
        QFETCH(QString, body);
        auto store = storeWith({makeDocument(u"a"_s, 10)});
        const Document imported = store->importMarkdown(name, text);
        QCOMPARE(imported.title, title);
        QCOMPARE(imported.displayTitle(), displayTitle);
        QCOMPARE(imported.body, body.isNull() ? text : body);
        QVERIFY(isLowerCaseUuid(imported.id));
        QVERIFY(!imported.collectionId);
        QCOMPARE(store->documents().first(), imported);
        QCOMPARE(store->activeDocumentID(), imported.id);
        QCOMPARE(store->state().dirtyDocumentIDs, QStringList{imported.id});
        store->flushPendingSaves();
        QCOMPARE(readDocumentFile(imported.id), imported);
    }
};

QTEST_GUILESS_MAIN(TestDocumentStore)
#include "tst_documentstore.moc"
