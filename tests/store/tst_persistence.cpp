#include "StoreTesting.h"
#include "store/CappedFileRead.h"
#include "store/Persistence.h"
#include "store/RecordIds.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QJsonArray>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace StoreTesting;

namespace {

// Every path below `root`, relative to it, sorted.
QStringList tree(const QString &root)
{
    QStringList out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        out << QDir(root).relativeFilePath(it.next());
    }
    out.sort();
    return out;
}

// A log line the next call must write; any other fails the test.
void expectLog(const QString &pattern)
{
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^\\[persistence\\] "_s + pattern));
}

const QByteArray validDocument = R"({"id":"good","createdAt":1,"updatedAt":2})";

} // namespace

class TestPersistence : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString base() const { return m_dir->filePath(u"Tessivo"_s); }
    QString docs() const { return base() + u"/documents"_s; }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(u"TessivoTests"_s);
        QCoreApplication::setApplicationName(u"tst_persistence"_s);
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        QTest::failOnWarning(QRegularExpression(u".*"_s));
    }

    void cleanup() { m_dir.reset(); }

    void freshFolderAndDefaultLocation()
    {
        QCOMPARE(Persistence::loadDocuments(base()), QList<Document>());
        QCOMPARE(Persistence::loadCollections(base()), QList<Collection>());
        QCOMPARE(Persistence::loadState(base()), Persistence::State());
        QVERIFY(!QFileInfo::exists(base()));
        Persistence::saveState(Persistence::State(), base());
        QVERIFY(QFileInfo(docs()).isDir());
        QCOMPARE(readBytes(base() + u"/state.json"_s),
                 QByteArray(R"({"dirtyCollectionIDs":[],"dirtyDocumentIDs":[],"publishedSlugs":{},)"
                            R"("syncCursor":0,"welcomeSeeded":false})"));

        const QString expected =
            QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + u"/Tessivo"_s;
        QCOMPARE(Persistence::baseDirectory(), expected);
        QCOMPARE(Persistence::documentsDirectory(expected), expected + u"/documents"_s);
        QCOMPARE(Persistence::stateFilePath(expected), expected + u"/state.json"_s);
    }

    void documentFileIsCompactSortedAndRoundTrips()
    {
        Document d = makeDocument(u"abc"_s);
        d.body = u"line one\nline \"two\" \u00e9\U0001F600"_s;
        d.serverUpdatedAt = Q_INT64_C(9007199254740993);
        d.frontmatter.slug = u"fm"_s;
        d.overrides = {u"slug"_s};
        Persistence::saveDocument(d, base());
        QCOMPARE(readBytes(docs() + u"/abc.json"_s),
                 QByteArray("{\"body\":\"line one\\nline \\\"two\\\" ") + u"\u00e9\U0001F600"_s.toUtf8() +
                     "\",\"collectionId\":null,\"createdAt\":1,\"deletedAt\":null,"
                     "\"frontmatter\":{\"slug\":\"fm\"},\"id\":\"abc\",\"overrides\":[\"slug\"],"
                     "\"serverUpdatedAt\":"
                     "9007199254740993,\"title\":\"abc\",\"updatedAt\":2}");
        QCOMPARE(Persistence::loadDocuments(base()), QList<Document>{d});

        // A later, larger save replaces the file and leaves no temporary file behind.
        d.body = u"Lorem \u00e9 \"q\" \\ \t.\n"_s.repeated(200000);
        d.deletedAt = 7;
        Persistence::saveDocument(d, base());
        QCOMPARE(Persistence::loadDocuments(base()), QList<Document>{d});
        QCOMPARE(tree(base()), (QStringList{u"documents"_s, u"documents/abc.json"_s}));
    }

    void colonIdStaysInTheDocumentsFolder()
    {
        // Qt reads a path starting with ":" as a resource; a record with such
        // an id (from a sync or a hand-edited file) once landed in the
        // working directory instead.
        const QString stray = QDir::currentPath() + u"/:x.json"_s;
        QVERIFY(!QFileInfo::exists(stray));
        const Document d = makeDocument(u":x"_s);
        QVERIFY(Persistence::saveDocument(d, base()));
        QVERIFY(!QFileInfo::exists(stray));
        QCOMPARE(tree(base()), (QStringList{u"documents"_s, u"documents/:x.json"_s}));
        QCOMPARE(Persistence::loadDocuments(base()), QList<Document>{d});
    }

    void unsafeIdsAreNeverWritten_data()
    {
        QTest::addColumn<QString>("id");
        QTest::newRow("empty") << QString();
        QTest::newRow("dot") << u"."_s;
        QTest::newRow("dot dot") << u".."_s;
        QTest::newRow("parent path") << u"../state"_s;
        QTest::newRow("nested path") << u"a/b"_s;
        QTest::newRow("absolute path") << u"/tmp/evil"_s;
        QTest::newRow("backslash") << u"..\\x"_s;
        QTest::newRow("NUL") << u"a"_s + QChar(0) + u"b"_s;
    }

    void unsafeIdsAreNeverWritten()
    {
        QFETCH(QString, id);
        QVERIFY(!Persistence::isSafeDocumentID(id));
        Persistence::saveState(Persistence::State(), base());
        const QStringList before = tree(m_dir->path());
        expectLog(u"failed to save document .*"_s);
        Persistence::saveDocument(makeDocument(id), base());
        QCOMPARE(tree(m_dir->path()), before);
        QVERIFY(!QFileInfo::exists(u"/tmp/evil.json"_s));
        QVERIFY(Persistence::isSafeDocumentID(u"...x"_s));
        QVERIFY(Persistence::isSafeDocumentID(u".hidden"_s));
    }

    // The longest id a record may have is written, replaced and read back
    // like any other (room is left for the temporary and set-aside names).
    void longestIdsAreSavedTwice_data()
    {
        QTest::addColumn<QString>("id");
        QTest::newRow("200 ASCII bytes") << QString(RecordIds::maxBytes, u'a');
        QTest::newRow("200 bytes, 3-byte characters") << QString(66, QChar(0x8a9e)) + u"ab"_s;
    }

    void longestIdsAreSavedTwice()
    {
        QFETCH(QString, id);
        QCOMPARE(id.toUtf8().size(), RecordIds::maxBytes);
        QVERIFY(RecordIds::isValid(id));
        QVERIFY(!RecordIds::isValid(id + u"b"_s));
        Document d = makeDocument(id);
        QVERIFY(Persistence::saveDocument(d, base()));
        d.body = u"# again"_s;
        QVERIFY(Persistence::saveDocument(d, base()));
        const QList<Document> loaded = Persistence::loadDocuments(base());
        QCOMPARE(loaded.size(), 1);
        QCOMPARE(loaded.first(), d);
    }

    void failedWritesLogAndKeepTheOldFile()
    {
        // A folder where the file should go makes the write fail.
        QVERIFY(QDir().mkpath(docs() + u"/blocked.json"_s));
        expectLog(u"failed to save document blocked: .+"_s);
        Persistence::saveDocument(makeDocument(u"blocked"_s), base());
        QVERIFY(QFileInfo(docs() + u"/blocked.json"_s).isDir());

        QVERIFY(QDir().mkpath(base() + u"/collections.json"_s));
        expectLog(u"failed to save collections: .+"_s);
        Persistence::saveCollections({makeCollection(u"c"_s)}, base());

        // A base folder that cannot be created fails every save.
        QTemporaryDir other;
        QVERIFY(writeBytes(other.filePath(u"file"_s), "keep"));
        expectLog(u"failed to save state: .+"_s);
        Persistence::saveState(Persistence::State(), other.filePath(u"file"_s));
        QCOMPARE(readBytes(other.filePath(u"file"_s)), QByteArray("keep"));
    }

    void batchSaveWritesEachAtomically()
    {
        // A pull writes thousands of documents in one batch: each lands whole
        // under its own name, with the permissions of the file it replaces,
        // and one failure costs only that document.
        QVERIFY(writeBytes(docs() + u"/kept.json"_s, "old"));
        QVERIFY(::chmod(qPrintable(docs() + u"/kept.json"_s), 0640) == 0);
        QVERIFY(QDir().mkpath(docs() + u"/blocked.json"_s));
        QList<Document> batch;
        for (int i = 0; i < 300; ++i) {
            batch << makeDocument(u"doc-%1"_s.arg(i), 2, u"# Document %1\n\n"_s.arg(i).repeated(40));
        }
        batch.insert(7, makeDocument(u"kept"_s, 5, u"new text"_s));
        batch.insert(11, makeDocument(u"blocked"_s));
        batch.insert(13, makeDocument(u"../escape"_s));
        expectLog(u"failed to save document blocked: .+"_s);
        expectLog(u"failed to save document \\.\\./escape: .+"_s);

        const QList<bool> saved = Persistence::saveDocuments(batch, base());

        QCOMPARE(saved.size(), batch.size());
        QList<Document> expected;
        for (qsizetype i = 0; i < batch.size(); ++i) {
            const bool bad = batch.at(i).id == u"blocked" || batch.at(i).id == u"../escape";
            QCOMPARE(saved.at(i), !bad);
            if (!bad) {
                expected << batch.at(i);
            }
        }
        expectLog(u"skipped document file blocked.json: .+"_s);
        QList<Document> loaded = Persistence::loadDocuments(base());
        const auto byId = [](const Document &a, const Document &b) { return a.id < b.id; };
        std::sort(expected.begin(), expected.end(), byId);
        std::sort(loaded.begin(), loaded.end(), byId);
        QCOMPARE(loaded, expected);
        struct stat info;
        QVERIFY(::stat(qPrintable(docs() + u"/kept.json"_s), &info) == 0);
        QCOMPARE(info.st_mode & 0777, 0640u);
        // No temporary file is left behind, and nothing outside the folder.
        QStringList files = tree(base());
        files.removeAll(u"documents"_s);
        files.removeAll(u"documents/blocked.json"_s);
        QCOMPARE(files.size(), expected.size());
        QVERIFY(
            std::all_of(files.cbegin(), files.cend(), [](const QString &f) { return f.endsWith(u".json"); }));
        QVERIFY(!QFileInfo::exists(m_dir->filePath(u"escape.json"_s)));
    }

    void batchSaveIntoAnUnusableFolderFailsEach()
    {
        // A base folder that cannot be created: every document fails, logged.
        QTemporaryDir other;
        QVERIFY(writeBytes(other.filePath(u"file"_s), "keep"));
        expectLog(u"failed to save document a: .+"_s);
        expectLog(u"failed to save document b: .+"_s);
        const QList<bool> saved = Persistence::saveDocuments({makeDocument(u"a"_s), makeDocument(u"b"_s)},
                                                             other.filePath(u"file"_s));
        QCOMPARE(saved, (QList<bool>{false, false}));
        QCOMPARE(readBytes(other.filePath(u"file"_s)), QByteArray("keep"));
        QCOMPARE(Persistence::saveDocuments({}, base()), QList<bool>());
    }

    void loadSkipsBadFiles_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("robustness: corrupt JSON") << u"file"_s << QByteArray("{\"id\": \"a\", ]");
        QTest::newRow("robustness: truncated file") << u"file"_s << validDocument.left(20);
        QTest::newRow("robustness: zero-byte file") << u"file"_s << QByteArray();
        QTest::newRow("robustness: JSON array") << u"file"_s << QByteArray("[1,2]");
        QTest::newRow("robustness: wrong type")
            << u"file"_s << QByteArray(R"({"id":"a","createdAt":"1","updatedAt":2})");
        QTest::newRow("robustness: missing required key")
            << u"file"_s << QByteArray(R"({"id":"a","updatedAt":2})");
        QTest::newRow("robustness: non-UTF-8 text")
            << u"file"_s
            << QByteArray("{\"id\":\"a\",\"body\":\"\xff\xfe\xc3\",\"createdAt\":1,\"updatedAt\":2}");
        QTest::newRow("robustness: directory named like a document") << u"dir"_s << QByteArray();
        QTest::newRow("robustness: dangling symlink") << u"dangling"_s << QByteArray();
        QTest::newRow("robustness: symlink loop") << u"loop"_s << QByteArray();
        QTest::newRow("robustness: named pipe") << u"fifo"_s << QByteArray();
        QTest::newRow("robustness: unreadable file") << u"unreadable"_s << validDocument;
    }

    void loadSkipsBadFiles()
    {
        QFETCH(QString, kind);
        QFETCH(QByteArray, bytes);
        QVERIFY(writeBytes(docs() + u"/good.json"_s, validDocument));
        const QString bad = docs() + u"/bad.json"_s;
        if (kind == u"file") {
            QVERIFY(writeBytes(bad, bytes));
        } else if (kind == u"dir") {
            QVERIFY(QDir().mkpath(bad));
        } else if (kind == u"dangling") {
            QVERIFY(QFile::link(docs() + u"/missing-target"_s, bad));
        } else if (kind == u"loop") {
            QVERIFY(QFile::link(bad, bad));
        } else if (kind == u"fifo") {
            // Opening a pipe for reading would wait for a writer forever.
            QCOMPARE(mkfifo(QFile::encodeName(bad).constData(), 0600), 0);
        } else if (kind == u"unreadable") {
            QVERIFY(writeBytes(bad, bytes));
            QVERIFY(QFile::setPermissions(bad, QFileDevice::WriteOwner));
        }
        // Permission bits do not stop the superuser: it loads as nobody then,
        // whom the folders let in and the file does not.
        const bool asNobody = kind == u"unreadable" && geteuid() == 0;
        if (asNobody) {
            QCOMPARE(::chmod(QFile::encodeName(m_dir->path()).constData(), 0755), 0);
            QCOMPARE(::seteuid(65534), 0);
        }
        const QStringList before = tree(base());
        expectLog(u"skipped document file bad\\.json: .+"_s);
        const QList<Document> loaded = Persistence::loadDocuments(base());
        if (asNobody)
            QCOMPARE(::seteuid(0), 0);
        QCOMPARE(ids(loaded), QStringList{u"good"_s});
        // Nothing is removed, renamed or rewritten.
        QCOMPARE(tree(base()), before);
        QVERIFY(kind != u"file" || readBytes(bad) == bytes);
    }

    void loadIgnoresOtherExtensions()
    {
        for (const QString &name :
             {u"a.JSON"_s, u"b.json.bak"_s, u"c.txt"_s, u"d.json~"_s, u"e"_s, u".json"_s}) {
            QVERIFY(writeBytes(docs() + u'/' + name, validDocument));
        }
        QVERIFY(writeBytes(docs() + u"/ok.json"_s, validDocument));
        QCOMPARE(ids(Persistence::loadDocuments(base())), QStringList{u"good"_s});
    }

    void loadKeepsOneRecordPerId_data()
    {
        // Files as "file name=id"; each loaded record as "id from file name".
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("loaded");
        QTest::addColumn<QStringList>("skipped");
        QTest::newRow("file-name order, whatever the ids")
            << QStringList{u"m=id-m"_s, u"b=id-b"_s, u"z=id-z"_s, u"a=id-a"_s}
            << QStringList{u"id-a from a"_s, u"id-b from b"_s, u"id-m from m"_s, u"id-z from z"_s}
            << QStringList();
        QTest::newRow("a copy beside the file named after the id")
            << QStringList{u"b=b"_s, u"b copy=b"_s} << QStringList{u"b from b"_s} << QStringList{u"b copy"_s};
        QTest::newRow("a conflicted copy listed before the named file")
            << QStringList{u"a conflicted=b"_s, u"b=b"_s} << QStringList{u"b from b"_s}
            << QStringList{u"a conflicted"_s};
        QTest::newRow("a renamed file alone loads")
            << QStringList{u"a=b"_s} << QStringList{u"b from a"_s} << QStringList();
        QTest::newRow("two copies, neither named: the first by file name")
            << QStringList{u"y=b"_s, u"x=b"_s} << QStringList{u"b from x"_s} << QStringList{u"y"_s};
        QTest::newRow("hostile: an id that cannot be a file name")
            << QStringList{u"escape=../escape"_s, u"ok=ok"_s} << QStringList{u"ok from ok"_s}
            << QStringList{u"escape"_s};
    }

    void loadKeepsOneRecordPerId()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, loaded);
        QFETCH(QStringList, skipped);
        QHash<QString, QByteArray> written;
        for (const QString &file : files) {
            const QString name = file.section(u'=', 0, 0);
            written.insert(name, Persistence::encode(makeDocument(file.section(u'=', 1), 2, name).toJson()));
            QVERIFY(writeBytes(docs() + u'/' + name + u".json"_s, written.value(name)));
        }
        for (const QString &name : skipped) {
            expectLog(u"skipped document file "_s + QRegularExpression::escape(name) + u".json: "_s);
        }
        QStringList got;
        for (const Document &d : Persistence::loadDocuments(base())) {
            got << d.id + u" from "_s + d.body;
        }
        QCOMPARE(got, loaded);
        for (auto it = written.cbegin(); it != written.cend(); ++it) {
            QCOMPARE(readBytes(docs() + u'/' + it.key() + u".json"_s), it.value()); // all left as they were
        }
    }

    void collectionsRoundTrip()
    {
        Collection unknownParent = makeCollection(u"c"_s);
        unknownParent.parentKnown = false;
        Collection deleted = makeCollection(u"a"_s);
        deleted.deletedAt = 9;
        deleted.serverUpdatedAt = 3;
        const QList<Collection> list{makeCollection(u"b"_s, 5), unknownParent, deleted};
        Persistence::saveCollections(list, base());
        QVERIFY(readBytes(base() + u"/collections.json"_s)
                    .startsWith(R"([{"createdAt":1,"deletedAt":null,"id":"b","name":"B","parentId":null,)"));
        QCOMPARE(Persistence::loadCollections(base()), list);
    }

    void collectionsSkipOnlyBadRecords()
    {
        const QByteArray bytes = R"([{"id":"a","createdAt":1,"updatedAt":1},)"
                                 R"({"id":"b","position":"x","createdAt":1,"updatedAt":1},)"
                                 R"(17,)"
                                 R"({"id":"c","createdAt":1,"updatedAt":1,"parentId":"a"}])";
        QVERIFY(writeBytes(base() + u"/collections.json"_s, bytes));
        expectLog(u"skipped collection 1: .*position.*"_s);
        expectLog(u"skipped collection 2: .+"_s);
        expectLog(u"kept a copy of collections\\.json.*"_s);
        const QList<Collection> loaded = Persistence::loadCollections(base());
        QCOMPARE(ids(loaded), (QStringList{u"a"_s, u"c"_s}));
        QCOMPARE(loaded.at(1).parentId, std::optional<QString>(u"a"_s));
        // The original survives the next save, which writes only what loaded.
        Persistence::saveCollections(loaded, base());
        QCOMPARE(readBytes(base() + u"/collections.json.unreadable"_s), bytes);
    }

    void unreadableCollectionsAreKeptAside()
    {
        const QString path = base() + u"/collections.json"_s;
        QVERIFY(writeBytes(path, "[{\"id\":"));
        expectLog(u"collections do not decode: .+"_s);
        expectLog(u"kept a copy of collections\\.json as collections\\.json\\.unreadable$"_s);
        QCOMPARE(Persistence::loadCollections(base()), QList<Collection>());
        // The same broken file is not copied twice.
        expectLog(u"collections do not decode: .+"_s);
        QCOMPARE(Persistence::loadCollections(base()), QList<Collection>());
        // A different broken file never overwrites the first copy.
        QVERIFY(writeBytes(path, "{}"));
        expectLog(u"collections do not decode: .+"_s);
        expectLog(u".*as collections\\.json\\.unreadable\\.1$"_s);
        QCOMPARE(Persistence::loadCollections(base()), QList<Collection>());
        QCOMPARE(readBytes(path + u".unreadable"_s), QByteArray("[{\"id\":"));
        QCOMPARE(readBytes(path + u".unreadable.1"_s), QByteArray("{}"));
    }

    void stateRoundTrip()
    {
        Persistence::State s;
        s.syncCursor = std::numeric_limits<qint64>::max();
        s.dirtyDocumentIDs = {u"z"_s, u"a"_s};
        s.dirtyCollectionIDs = {u"c"_s};
        s.publishedSlugs = {{u"doc"_s, u"my-slug"_s}, {u"a"_s, u"x"_s}};
        s.welcomeSeeded = true;
        Persistence::saveState(s, base());
        QCOMPARE(Persistence::loadState(base()), s);
        QVERIFY(
            readBytes(base() + u"/state.json"_s).contains(R"("publishedSlugs":{"a":"x","doc":"my-slug"})"));
    }

    void stateDecodeFailures_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray full = R"({"syncCursor":5,"dirtyDocumentIDs":["d"],"dirtyCollectionIDs":[],)"
                                R"("publishedSlugs":{},"welcomeSeeded":true})";
        QTest::newRow("missing welcomeSeeded") << QByteArray(full).replace(R"(,"welcomeSeeded":true)", "");
        QTest::newRow("missing syncCursor") << QByteArray(full).replace(R"("syncCursor":5,)", "");
        QTest::newRow("cursor as string") << QByteArray(full).replace("5", "\"5\"");
        QTest::newRow("null dirty list") << QByteArray(full).replace("[\"d\"]", "null");
        QTest::newRow("slug not a string") << QByteArray(full).replace("{}", "{\"d\":1}");
        QTest::newRow("welcome as number") << QByteArray(full).replace("true", "1");
        QTest::newRow("not an object") << QByteArray("[]");
        QTest::newRow("truncated") << full.left(31);
        QTest::newRow("zero bytes") << QByteArray();
    }

    void stateDecodeFailures()
    {
        QFETCH(QByteArray, bytes);
        const QString path = base() + u"/state.json"_s;
        QVERIFY(writeBytes(path, bytes));
        expectLog(u"state does not decode: .+"_s);
        expectLog(u"kept a copy of state\\.json.*"_s);
        QCOMPARE(Persistence::loadState(base()), Persistence::State());
        Persistence::saveState(Persistence::State(), base());
        QCOMPARE(readBytes(path + u".unreadable"_s), bytes);
    }

    // A state or collections file past its bound (here a link to a sparse
    // file) is not read, and not copied either: the link itself is moved
    // aside, so the next save can't destroy what it points at.
    void oversizeFilesAreMovedAsideUnread_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("bound");
        QTest::newRow("state.json") << u"state.json"_s << FileBounds::state;
        QTest::newRow("collections.json") << u"collections.json"_s << FileBounds::collections;
    }

    void oversizeFilesAreMovedAsideUnread()
    {
        QFETCH(QString, name);
        QFETCH(qint64, bound);
        QVERIFY(QDir().mkpath(base()));
        QFile sparse(m_dir->filePath(u"sparse"_s));
        QVERIFY(sparse.open(QIODevice::WriteOnly));
        QVERIFY(sparse.resize(bound + 1));
        sparse.close();
        const QString path = base() + u'/' + name;
        QVERIFY(QFile::link(sparse.fileName(), path));
        expectLog(u"did not read .+: it is larger than .+"_s);
        expectLog(u"moved %1 aside as %1\\.unreadable$"_s.arg(QRegularExpression::escape(name)));
        if (name == u"state.json")
            QCOMPARE(Persistence::loadState(base()), Persistence::State());
        else
            QCOMPARE(Persistence::loadCollections(base()), QList<Collection>());
        QVERIFY(!QFileInfo::exists(path));
        QCOMPARE(QFileInfo(path + u".unreadable"_s).symLinkTarget(), sparse.fileName());
        QCOMPARE(QFileInfo(sparse.fileName()).size(), bound + 1);
    }
};

QTEST_GUILESS_MAIN(TestPersistence)
#include "tst_persistence.moc"
