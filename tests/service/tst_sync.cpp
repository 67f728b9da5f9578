#include "FloodServer.h"
#include "PeakMemory.h"
#include "SyncClient.h"
#include "TestNeeds.h"
#include "store/StoreTesting.h"

#include "protocol/Routes.h"
#include "protocol/Rules.h"
#include "service/LocalServer.h"
#include "service/core/SyncPass.h"
#include "store/RecordIds.h"

#include <QDir>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace tessivo::server;

namespace {

const QString syncPath = u"/api/v1/documents/sync"_s;

QJsonObject body(const LoggedRequest &request)
{
    return QJsonDocument::fromJson(request.body).object();
}

// The ids of the documents pushed, and each pull's query, in the order sent.
std::pair<QStringList, QStringList> syncTraffic(const QList<LoggedRequest> &log)
{
    QStringList pushedIds, pulls;
    for (const LoggedRequest &r : log) {
        if (r.path != syncPath)
            continue;
        if (r.method == "GET")
            pulls << QString::fromLatin1(r.rawQuery);
        else
            for (const QJsonValue &doc : body(r)[u"docs"_s].toArray())
                pushedIds << doc[u"id"_s].toString();
    }
    return {pushedIds, pulls};
}

} // namespace

class TestSync : public QObject
{
    Q_OBJECT

    static constexpr qint64 pushLimit = 1 << 20;

    std::unique_ptr<Server> m_server;
    Account m_account;
    int m_users = 0;

    TestHooks hooks() { return m_server->hooks(); }
    std::unique_ptr<SyncClient> computer()
    {
        return std::make_unique<SyncClient>(m_server->baseUrl(), m_account.sessionToken);
    }
    QList<LoggedRequest> syncRequests(const QByteArray &method)
    {
        QList<LoggedRequest> out;
        for (const LoggedRequest &r : hooks().requestLog())
            if (r.path == syncPath && r.method == method)
                out.append(r);
        return out;
    }
    // Makes `docs` documents and `collections` collections dirty in all.
    static void makeDirty(SyncClient &c, int docs, int collections)
    {
        while (c.store->state().dirtyCollectionIDs.size() < collections)
            c.store->createCollection(u"Folder"_s);
        while (c.store->state().dirtyDocumentIDs.size() < docs)
            c.store->createDocument(std::nullopt, u"note"_s);
    }

    // The cap is the largest push and a piece of records; the push limit is
    // lowered here only in testing builds.
    static QString tooLargeMessage()
    {
        return u"The service sent more than %1 MB in one reply."_s.arg(
            (protocol::bodyLimit("POST", syncPath) + protocol::records::pullPieceBytes) / (1024 * 1024));
    }

private Q_SLOTS:
    void initTestCase()
    {
        // Test builds let both sides take a lower push limit, so that bodies
        // past it stay small; read before anything looks at the routes.
        qputenv("TESSIVO_TEST_SYNC_BODY_LIMIT", QByteArray::number(pushLimit));
        m_server = startLocalServer();
    }

    void init()
    {
        m_account = hooks().registerUser(u"u%1@example.com"_s.arg(++m_users), u"U"_s);
        hooks().setLatency(syncPath, 0);
        hooks().clearRequestLog();
    }

    // --- the pass --------------------------------------------------------

    void twoComputersConverge_data()
    {
        QTest::addColumn<QString>("change");
        for (const char *row :
             {"new document", "edited document", "deleted document", "moved document",
              "collection moved into another", "collection moved to the top", "collection without parentId"})
            QTest::newRow(row) << QString::fromLatin1(row);
    }

    void twoComputersConverge()
    {
        QFETCH(QString, change);
        auto a = computer(), b = computer();
        const Collection p = *a->store->createCollection(u"P"_s);
        const Collection q = *a->store->createCollection(u"Q"_s, p.id);
        const Document d = a->store->createDocument(p.id, u"# One\n\ntext"_s);
        QVERIFY(converge(*a, *b));
        const QByteArray before = a->snapshot();
        if (change == u"new document")
            b->store->createDocument(q.id, u"fresh"_s);
        else if (change == u"edited document")
            b->store->updateBody(u"# One\n\nchanged"_s, d.id);
        else if (change == u"deleted document")
            b->store->deleteDocument(d.id);
        else if (change == u"moved document")
            b->store->moveDocument(d.id, q.id);
        else if (change == u"collection moved into another")
            QVERIFY(b->store->moveCollection(p.id, b->store->createCollection(u"R"_s)->id));
        else if (change == u"collection moved to the top")
            QVERIFY(b->store->moveCollection(q.id, std::nullopt));
        else
            hooks().injectCollection(
                m_account.userId,
                {{"id", "c-old"}, {"name", "Old"}, {"position", 9}, {"createdAt", 1}, {"updatedAt", 1}});
        QVERIFY(converge(*a, *b));
        QVERIFY(a->snapshot() != before);
        QCOMPARE(a->snapshot(), b->snapshot());
        if (const auto old = a->store->collection(u"c-old"_s))
            QVERIFY(!old->toJson().contains(u"parentId"_s));
    }

    void editDuringABatchGoesWithTheNextPass()
    {
        auto a = computer();
        const Document d = a->store->createDocument(std::nullopt, u"first"_s);
        hooks().holdRequests("POST", syncPath, 1);
        QFuture<void> pass = a->engine->sync();
        QVERIFY(QTest::qWaitFor([&] { return !syncRequests("POST").isEmpty(); }, TestWaits::limitMs));
        a->store->updateBody(u"second"_s, d.id);
        QVERIFY(hooks().releaseHeldRequest());
        QTRY_VERIFY(pass.isFinished());
        QVERIFY(a->store->state().dirtyDocumentIDs.contains(d.id));
        QVERIFY(a->syncOnce());
        auto b = computer();
        QVERIFY(b->syncOnce());
        QCOMPARE(b->store->document(d.id)->body, u"second"_s);
    }

    void replacedLocalEditLeavesAConflictedCopy()
    {
        auto a = computer(), b = computer();
        const Document d = a->store->createDocument(std::nullopt, u"# Plan\n\nbase"_s);
        QVERIFY(converge(*a, *b));
        a->store->updateBody(u"# Plan\n\nmine"_s, d.id);
        const qint64 later = QDateTime::currentMSecsSinceEpoch() + 60000;
        b->store->setClockForTesting([later] { return later; });
        b->store->updateBody(u"# Plan\n\ntheirs"_s, d.id);
        QVERIFY(b->syncOnce());
        QVERIFY(converge(*a, *b));
        QCOMPARE(a->snapshot(), b->snapshot());
        QCOMPARE(b->store->document(d.id)->body, u"# Plan\n\ntheirs"_s);
        const QString copy = b->store->documentIDsByTitle().value(u"plan (conflicted copy)"_s);
        QVERIFY(!copy.isEmpty());
        QCOMPARE(b->store->document(copy)->body, u"# Plan\n\nmine"_s);
    }

    // B's push lands over a version B's pull never saw: only the service can
    // tell, and it keeps the replaced text as a copy both computers pull.
    void aPushLandingBetweenPullAndPushLosesNoText()
    {
        auto a = computer(), b = computer();
        const Document d = a->store->createDocument(std::nullopt, u"# Plan\n\nbase"_s);
        QVERIFY(converge(*a, *b));
        a->store->appendText(u"from A"_s, d.id);
        b->store->setClockForTesting([] { return QDateTime::currentMSecsSinceEpoch() + 60000; });
        b->store->appendText(u"from B"_s, d.id);
        // B's pull is answered before A's push lands; B's push after it.
        hooks().clearRequestLog();
        hooks().holdRequests("POST", syncPath, 2);
        QFuture<void> passA = a->engine->sync();
        QVERIFY(QTest::qWaitFor([&] { return syncRequests("POST").size() == 1; }, TestWaits::limitMs));
        QFuture<void> passB = b->engine->sync();
        QVERIFY(QTest::qWaitFor([&] { return syncRequests("POST").size() == 2; }, TestWaits::limitMs));
        QVERIFY(hooks().releaseHeldRequest());
        QTRY_VERIFY_WITH_TIMEOUT(passA.isFinished(), TestWaits::limitMs);
        QVERIFY(hooks().releaseHeldRequest());
        QTRY_VERIFY_WITH_TIMEOUT(passB.isFinished(), TestWaits::limitMs);
        QVERIFY(converge(*a, *b));
        QCOMPARE(a->snapshot(), b->snapshot());
        QCOMPARE(a->store->document(d.id)->body, u"# Plan\n\nbase\n\nfrom B"_s);
        QStringList copies;
        for (const Document &doc : a->store->documents())
            if (doc.displayTitle() == u"Plan (conflicted copy)"_s)
                copies << doc.body;
        QCOMPARE(copies, QStringList{u"# Plan\n\nbase\n\nfrom A"_s});
    }

    // "stale": the service holds a newer version. The id stays dirty, and
    // the newer version then replaces the local text only as a copy.
    void aStalePushStaysDirtyUntilItsTextIsKept()
    {
        auto a = computer(), b = computer();
        const Document d = a->store->createDocument(std::nullopt, u"# Plan\n\nbase"_s);
        QVERIFY(converge(*a, *b));
        b->store->setClockForTesting([] { return QDateTime::currentMSecsSinceEpoch() + 60000; });
        b->store->appendText(u"later"_s, d.id);
        QVERIFY(b->syncOnce());
        a->store->appendText(u"earlier"_s, d.id);
        const QString pushed = a->store->dirtyDocumentsForPush().first().body;
        hooks().forceReply("GET", syncPath, 1, {200, R"({"documents":[],"now":1})", {}, false});
        QVERIFY(a->syncOnce()); // its pull saw nothing; the push is answered "stale"
        const QList<LoggedRequest> pushes = syncRequests("POST");
        QVERIFY(!pushes.isEmpty());
        QCOMPARE(a->store->document(d.id)->body, u"# Plan\n\nbase\n\nlater"_s);
        const QString copy = RecordIds::conflictedCopyID(
            d.id,
            QJsonDocument::fromJson(pushes.last().body).object()[u"docs"_s][0][u"updatedAt"_s].toInteger());
        QCOMPARE(a->store->document(copy)->body, pushed);
        QVERIFY(converge(*a, *b));
        QCOMPARE(b->store->document(copy)->body, pushed);
    }

    // The cursor belongs to the account that earned it: a pass already out
    // when another account's /me answers must not raise it again.
    void aPassOutWhileTheAccountChangesKeepsTheResetCursor()
    {
        const Account other = hooks().registerUser(u"other%1@example.com"_s.arg(m_users), u"O"_s);
        const auto record = [](const char *id) {
            return QJsonObject{{"id", id}, {"body", id}, {"createdAt", 1}, {"updatedAt", 1}};
        };
        hooks().injectDocument(other.userId, record("older"));
        auto a = computer();
        QFuture<void> first = a->auth->refreshMe();
        QTRY_VERIFY(first.isFinished());
        a->store->createDocument(std::nullopt, u"mine"_s);
        QVERIFY(a->syncOnce());
        const qint64 cursor = a->store->state().syncCursor;
        QVERIFY(cursor > 0);
        // The other account's next record is stamped after the cursor.
        QTRY_VERIFY(QDateTime::currentMSecsSinceEpoch() > cursor);
        hooks().injectDocument(other.userId, record("newer"));

        a->keyring.put(other.sessionToken);
        a->open();
        // The pass's pull is out when /me answers, and is answered after.
        hooks().clearRequestLog();
        hooks().holdRequests("GET", syncPath, 1);
        QFuture<void> me = a->auth->refreshMe();
        QFuture<void> pass = a->engine->sync();
        QVERIFY(QTest::qWaitFor([&] { return syncRequests("GET").size() == 1; }, TestWaits::limitMs));
        QTRY_VERIFY_WITH_TIMEOUT(me.isFinished(), TestWaits::limitMs);
        QVERIFY(hooks().releaseHeldRequest());
        QTRY_VERIFY_WITH_TIMEOUT(pass.isFinished(), TestWaits::limitMs);
        QVERIFY(a->syncOnce());
        QVERIFY(a->store->document(u"newer"_s));
        QVERIFY(a->store->document(u"older"_s));
    }

    // A copy made by a pass's last pull is pushed by a pass of its own,
    // without waiting for another edit.
    void aCopyFromTheLastPullIsPushedAtOnce()
    {
        auto a = computer();
        const Document d = a->store->createDocument(std::nullopt, u"# Plan\n\nmine"_s);
        const qint64 later = QDateTime::currentMSecsSinceEpoch() + 60000;
        const QJsonObject theirs{{"id", d.id},
                                 {"body", "# Plan\n\ntheirs"},
                                 {"createdAt", 1},
                                 {"updatedAt", later},
                                 {"serverUpdatedAt", later}};
        hooks().forceReply(
            "GET", syncPath, 2,
            {200,
             QJsonDocument(QJsonObject{{"documents", QJsonArray{theirs}}, {"now", later}}).toJson(),
             {},
             false});
        hooks().holdRequests("POST", syncPath, 1);
        QFuture<void> pass = a->engine->sync();
        QVERIFY(QTest::qWaitFor([&] { return !syncRequests("POST").isEmpty(); }, TestWaits::limitMs));
        a->store->appendText(u"typed while the push was out"_s, d.id);
        const QString copy = RecordIds::conflictedCopyID(d.id, a->store->document(d.id)->updatedAt);
        QVERIFY(hooks().releaseHeldRequest());
        QTRY_VERIFY(pass.isFinished());
        QVERIFY(a->store->document(copy));
        const auto pushedCopy = [&] {
            const QList<LoggedRequest> pushes = syncRequests("POST");
            return std::any_of(pushes.cbegin(), pushes.cend(),
                               [&](const LoggedRequest &r) { return r.body.contains(copy.toUtf8()); });
        };
        QTRY_VERIFY(pushedCopy());
    }

    // The cursor tells which records this computer keeps: though the pass
    // gives the main thread up while the pulled documents are written, it
    // moves only once every one of them is on disk.
    void theCursorMovesOnlyOnceThePulledDocumentsAreOnDisk()
    {
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        for (int i = 0; i < 300; ++i)
            hooks().injectDocument(m_account.userId, {{"id", u"pulled-%1"_s.arg(i)},
                                                      {"body", u"# Pulled %1"_s.arg(i)},
                                                      {"createdAt", now - i},
                                                      {"updatedAt", now - i}});
        auto a = computer();
        const QDir documents(a->dataFolder + u"/documents"_s);
        QList<qsizetype> onDiskWhenTheCursorMoved;
        connect(a->store.get(), &DocumentStore::stateChanged, this, [&] {
            if (a->store->state().syncCursor > 0 && onDiskWhenTheCursorMoved.isEmpty())
                onDiskWhenTheCursorMoved.append(
                    documents.entryList({u"pulled-*.json"_s}, QDir::Files).size());
        });
        QVERIFY(a->syncOnce());
        QCOMPARE(onDiskWhenTheCursorMoved, QList<qsizetype>{300});
        QCOMPARE(a->store->documents().size(), 300);
    }

    void anOversizedPullIsRefused()
    {
        auto a = computer();
        a->store->createDocument(std::nullopt, u"some text to make the reply long enough"_s);
        QVERIFY(a->syncOnce());
        hooks().forceReply(
            "GET", syncPath, 1,
            {200, R"({"documents":[],"now":1,"pad":")" + QByteArray(2000, 'x') + R"("})", {}, false});
        SyncPass pass(a->store.get(), &a->api);
        pass.setPullLimitForTesting(1000);
        QSignalSpy finished(&pass, &SyncPass::finished);
        pass.start();
        QVERIFY(finished.wait(TestWaits::limitMs));
        QCOMPARE(pass.end(), SyncPass::End::failed);
        QCOMPARE(pass.message(), tooLargeMessage());
    }

    // The pull is ended once its declared length or what came of it passes
    // the cap, rather than read whole and then refused.
    void aPullPastTheCapStopsAsItArrives_data()
    {
        QTest::addColumn<bool>("chunked");
        QTest::addColumn<QByteArray>("head");
        QTest::newRow("declared length") << false << "content-length: 4294967296\r\n"_ba;
        QTest::newRow("chunked") << true << QByteArray();
    }

    void aPullPastTheCapStopsAsItArrives()
    {
        QFETCH(bool, chunked);
        QFETCH(QByteArray, head);
        const qint64 cap = 32 << 20;
        FloodServer flood(200, chunked ? FloodServer::Body::chunked : FloodServer::Body::plain, 512 << 20,
                          head);
        SyncClient a(flood.url(), u"t"_s);
        SyncPass pass(a.store.get(), &a.api);
        pass.setPullLimitForTesting(cap);
        QSignalSpy finished(&pass, &SyncPass::finished);
        const PeakMemory memory;
        pass.start();
        QVERIFY(finished.wait(TestWaits::limitMs));
        QCOMPARE(pass.end(), SyncPass::End::failed);
        QCOMPARE(pass.message(), tooLargeMessage());
        if (PeakMemory::meaningful)
            QVERIFY2(memory.rise() < cap + (64 << 20),
                     qPrintable(u"peak rose by %1 MiB"_s.arg(memory.rise() >> 20)));
        QVERIFY(flood.served() < 512 << 20);
    }

    // A pull comes in pieces: the pass asks again while the service has
    // more, merging each piece, and what any piece of the first pull found
    // newer here is pushed.
    void aPullInPiecesIsFollowedToTheEnd()
    {
        ServiceLimits limits;
        limits.pullPieceBytes = 4096;
        const std::unique_ptr<Server> server = startLocalServer(limits);
        const Account account = server->hooks().registerUser(u"pieces@example.com"_s, u"P"_s);
        SyncClient a(server->baseUrl(), account.sessionToken), b(server->baseUrl(), account.sessionToken);
        QStringList kept;
        for (int i = 0; i < 3; ++i)
            kept << a.store->createDocument(std::nullopt, u"kept %1"_s.arg(i)).id;
        QVERIFY(a.syncOnce());
        QVERIFY(b.syncOnce());
        for (int i = 0; i < 60; ++i)
            a.store->createDocument(std::nullopt, u"note %1 "_s.arg(i) + QString(200, u'x'));
        QVERIFY(a.syncOnce());
        // Older versions of what b holds, stamped after everything else:
        // they reach b in the last piece, where b's own are newer.
        for (const QString &id : std::as_const(kept))
            server->hooks().injectDocument(account.userId,
                                           {{"id", id}, {"body", "old"}, {"createdAt", 1}, {"updatedAt", 1}});
        server->hooks().clearRequestLog();
        QVERIFY(b.syncOnce());
        QCOMPARE(b.engine->status().kind, SyncEngine::Status::synced);
        // The service keeps each replaced old text as a conflicted copy.
        QCOMPARE(b.store->documents().size(), 63 + kept.size());
        auto [pushedIds, pulls] = syncTraffic(server->hooks().requestLog());
        QVERIFY2(pulls.size() > 3, qPrintable(pulls.join(u' ')));
        QStringList expected = kept;
        expected.sort();
        pushedIds.sort();
        QCOMPARE(pushedIds, expected);
        for (const QString &id : std::as_const(kept))
            QCOMPARE(b.store->document(id)->body, u"kept %1"_s.arg(kept.indexOf(id)));
        QVERIFY(b.store->state().dirtyDocumentIDs.isEmpty());
    }

    // A pass that ends between the pieces of its pull (the network fails on
    // the third of three) keeps what the first two found newer here, though
    // the cursor has moved past the versions that showed it: after a
    // restart the next pass pushes it, and the service holds this text.
    void aPullStoppedBetweenPiecesForgetsNothingNewerHere()
    {
        ServiceLimits limits;
        limits.pullPieceBytes = 8192;
        const std::unique_ptr<Server> server = startLocalServer(limits);
        const Account account = server->hooks().registerUser(u"stopped@example.com"_s, u"S"_s);
        SyncClient a(server->baseUrl(), account.sessionToken), b(server->baseUrl(), account.sessionToken);
        const QStringList kept = {a.store->createDocument(std::nullopt, u"kept 0"_s).id,
                                  a.store->createDocument(std::nullopt, u"kept 1"_s).id};
        QVERIFY(a.syncOnce());
        QVERIFY(b.syncOnce());
        // Pieces of a large note each; the first two also bring an older
        // version of a document b holds.
        for (int i = 0; i < 3; ++i) {
            server->hooks().injectDocument(account.userId, {{"id", u"note-%1"_s.arg(i)},
                                                            {"body", QString(6000, u'x')},
                                                            {"createdAt", 1},
                                                            {"updatedAt", 1}});
            if (i < kept.size())
                server->hooks().injectDocument(
                    account.userId, {{"id", kept[i]}, {"body", "old"}, {"createdAt", 1}, {"updatedAt", 1}});
        }
        server->hooks().clearRequestLog();
        server->hooks().forceReply("GET", syncPath, 3, ScriptedReply{500, {}, {}, false});
        QVERIFY(b.syncOnce());
        QCOMPARE(b.engine->status().kind, SyncEngine::Status::offline);
        QVERIFY(b.store->document(u"note-1"_s) && !b.store->document(u"note-2"_s));
        QCOMPARE(server->hooks().requestLog().size(), 3);

        b.open();
        server->hooks().clearRequestLog();
        QVERIFY(b.syncOnce());
        QCOMPARE(b.engine->status().kind, SyncEngine::Status::synced);
        QStringList pushedIds;
        for (const LoggedRequest &r : server->hooks().requestLog())
            if (r.path == syncPath && r.method == "POST")
                for (const QJsonValue &doc : body(r)[u"docs"_s].toArray())
                    pushedIds << doc[u"id"_s].toString();
        pushedIds.sort();
        QStringList expected = kept;
        expected.sort();
        QCOMPARE(pushedIds, expected);
        SyncClient c(server->baseUrl(), account.sessionToken);
        QVERIFY(c.syncOnce());
        for (int i = 0; i < kept.size(); ++i)
            QCOMPARE(c.store->document(kept[i])->body, u"kept %1"_s.arg(i));
    }

    // A deletion is pushed when it was made here since the last push, not
    // because a pull finds the service holding an older version: that push
    // would delete the document on every computer.
    void aTombstoneNewerHereGoesOutOnlyWhenDirty()
    {
        auto a = computer();
        const Document kept = a->store->createDocument(std::nullopt, u"kept"_s);
        const Document gone = a->store->createDocument(std::nullopt, u"gone"_s);
        QVERIFY(a->syncOnce());
        a->store->deleteDocument(gone.id);
        QVERIFY(a->syncOnce());
        for (const QString &id : {kept.id, gone.id})
            hooks().injectDocument(m_account.userId,
                                   {{"id", id}, {"body", "old"}, {"createdAt", 1}, {"updatedAt", 1}});
        const Document fresh = a->store->createDocument(std::nullopt, u"fresh"_s);
        hooks().clearRequestLog();
        QVERIFY(a->syncOnce());
        QStringList pushedIds;
        for (const LoggedRequest &r : syncRequests("POST"))
            for (const QJsonValue &doc : body(r)[u"docs"_s].toArray())
                pushedIds << doc[u"id"_s].toString();
        pushedIds.sort();
        QStringList expected{kept.id, fresh.id};
        expected.sort();
        QCOMPARE(pushedIds, expected);
        QVERIFY(a->store->state().dirtyDocumentIDs.isEmpty());
    }

    // A edits offline and quits; its state file is then lost (and with it
    // the dirty marks); B edits the same documents later and syncs. A's
    // next pull, in pieces, keeps every text A typed: as the document, as a
    // conflicted copy beside B's version, or pushed where the service lacks
    // it. In the stopped rows A's first pass ends before the piece with B's
    // versions, and A restarts before the next.
    void aLostStateFileLosesNothingTypedHere_data()
    {
        QTest::addColumn<QString>("loss");
        QTest::addColumn<bool>("stopped");
        for (const char *loss : {"deleted", "unreadable", "undecodable", "a folder", "a pipe"})
            QTest::newRow(loss) << QString::fromLatin1(loss) << false;
        // The marks outlive the run whether or not a state file can be written.
        QTest::newRow("deleted, pass stopped, restarted") << u"deleted"_s << true;
        QTest::newRow("a folder, pass stopped, restarted") << u"a folder"_s << true;
    }

    void aLostStateFileLosesNothingTypedHere()
    {
        QFETCH(QString, loss);
        QFETCH(bool, stopped);
        ServiceLimits limits;
        limits.pullPieceBytes = 4096;
        const std::unique_ptr<Server> server = startLocalServer(limits);
        const Account account = server->hooks().registerUser(u"lost@example.com"_s, u"L"_s);
        SyncClient a(server->baseUrl(), account.sessionToken), b(server->baseUrl(), account.sessionToken);
        QStringList both, mine, same;
        for (int i = 0; i < 3; ++i) {
            both << a.store->createDocument(std::nullopt, u"# Both %1\n\nbase"_s.arg(i)).id;
            mine << a.store->createDocument(std::nullopt, u"# Mine %1\n\nbase"_s.arg(i)).id;
        }
        for (int i = 0; i < 16; ++i)
            same << a.store->createDocument(std::nullopt, u"# Same %1\n\n"_s.arg(i) + QString(600, u'x')).id;
        QVERIFY(a.syncOnce());
        QVERIFY(b.syncOnce());

        QHash<QString, qint64> editedAt;
        for (const QString &id : both + mine) {
            a.store->appendText(u"mine"_s, id);
            editedAt.insert(id, a.store->document(id)->updatedAt);
        }
        const Document fresh = a.store->createDocument(std::nullopt, u"# Fresh\n\nwritten offline"_s);
        b.store->setClockForTesting([] { return QDateTime::currentMSecsSinceEpoch() + 60000; });
        for (const QString &id : std::as_const(both))
            b.store->appendText(u"theirs"_s, id);
        QVERIFY(b.syncOnce());

        a.engine.reset();
        a.auth.reset();
        a.store->flushPendingSaves();
        a.store.reset();
        const QString path = a.dataFolder + u"/state.json"_s;
        const QByteArray bytes = StoreTesting::readBytes(path);
        QVERIFY(loss == u"unreadable"_s || QFile::remove(path));
        if (loss == u"unreadable"_s)
            QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
        else if (loss == u"undecodable"_s)
            QVERIFY(StoreTesting::writeBytes(path, bytes.left(bytes.size() / 2)));
        else if (loss == u"a folder"_s)
            QVERIFY(QDir().mkpath(path));
        else if (loss == u"a pipe"_s)
            QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        // Permission bits do not stop the superuser: A then starts as nobody,
        // whom the folders let in and the file does not.
        const bool asNobody = loss == u"unreadable"_s && geteuid() == 0;
        if (asNobody) {
            QCOMPARE(::chmod(QFile::encodeName(a.folder.path()).constData(), 0755), 0);
            QCOMPARE(::seteuid(65534), 0);
        }
        {
            // The superuser again, however the start ends.
            const auto back = qScopeGuard([&] {
                if (asNobody)
                    QCOMPARE(::seteuid(0), 0);
            });
            a.open();
        }

        server->hooks().clearRequestLog();
        if (stopped) {
            server->hooks().forceReply("GET", syncPath, 2, ScriptedReply{500, {}, {}, false});
            QVERIFY(a.syncOnce());
            QCOMPARE(a.engine->status().kind, SyncEngine::Status::offline);
            QVERIFY(a.store->document(both.first())->body.endsWith(u"mine"_s));
            a.open();
            server->hooks().clearRequestLog();
        }
        QVERIFY(a.syncOnce());
        QCOMPARE(a.engine->status().kind, SyncEngine::Status::synced);
        auto [pushedIds, pulls] = syncTraffic(server->hooks().requestLog());
        QVERIFY2(stopped || pulls.size() > 3, qPrintable(pulls.join(u' ')));

        QStringList expected = mine;
        expected << fresh.id;
        for (const QString &id : std::as_const(both)) {
            QVERIFY(a.store->document(id)->body.endsWith(u"theirs"_s));
            const QString copy = RecordIds::conflictedCopyID(id, editedAt.value(id));
            QVERIFY2(a.store->document(copy) && a.store->document(copy)->body.endsWith(u"mine"_s),
                     qPrintable(id));
            expected << copy;
        }
        for (const QString &id : std::as_const(mine))
            QVERIFY(a.store->document(id)->body.endsWith(u"mine"_s));
        // No copy where the texts agree, nor of the text A's edit came from.
        QCOMPARE(a.store->documents().size(), both.size() * 2 + mine.size() + same.size() + 1);
        QVERIFY(a.store->state().dirtyDocumentIDs.isEmpty());
        // Nothing the service held already goes back, unless the marks
        // outlived the run that could tell.
        expected.sort();
        pushedIds.sort();
        if (!stopped)
            QCOMPARE(pushedIds, expected);
        SyncClient c(server->baseUrl(), account.sessionToken);
        QVERIFY(c.syncOnce());
        QCOMPARE(c.snapshot(), a.snapshot());
    }

    void pushGoesInBatchesOf500()
    {
        auto a = computer();
        makeDirty(*a, 1201, 3);
        QVERIFY(a->syncOnce());
        QList<QPair<qsizetype, qsizetype>> batches;
        for (const LoggedRequest &r : syncRequests("POST"))
            batches.append({body(r)[u"docs"_s].toArray().size(), body(r)[u"collections"_s].toArray().size()});
        QCOMPARE(batches, (QList<QPair<qsizetype, qsizetype>>{{500, 3}, {500, 0}, {201, 0}}));
        QCOMPARE(syncRequests("GET").size(), 2);
        QVERIFY(a->isClean());
        QCOMPARE(a->engine->status().kind, SyncEngine::Status::synced);
    }

    // Batches stay under the service's limit, so every document that fits
    // reaches it; one too large for any batch stays behind, named.
    void pushBatchesStayUnderTheBodyLimit()
    {
        TESSIVO_NEED(protocol::bodyLimit("POST", syncPath) != pushLimit ? TestNeeds::testingBuild()
                                                                        : QString());
        auto a = computer();
        for (int i = 0; i < 40; ++i)
            a->store->createDocument(std::nullopt, u"# Part %1\n\n"_s.arg(i) + QString(40 << 10, u'x'));
        const Document huge =
            a->store->createDocument(std::nullopt, u"# Atlas\n\n"_s + QString(pushLimit, u'y'));
        QVERIFY(a->syncOnce());
        QCOMPARE(a->engine->status(),
                 SyncEngine::Status::makeOffline(u"\u201cAtlas\u201d is too large to sync."_s));
        QCOMPARE(a->store->state().dirtyDocumentIDs, QStringList{huge.id});
        QVERIFY(syncRequests("POST").size() > 1);
        for (const LoggedRequest &r : syncRequests("POST"))
            QVERIFY2(r.body.size() <= pushLimit, qPrintable(QString::number(r.body.size())));
        auto b = computer();
        QVERIFY(b->syncOnce());
        QCOMPARE(b->store->documents().size(), 40);
        QVERIFY(!b->store->document(huge.id));
    }

    void failedBatchKeepsWhatWasDone_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<SyncEngine::Status>("ending");
        QTest::addColumn<bool>("signedIn");
        QTest::newRow("service error")
            << 500 << QByteArray() << SyncEngine::Status::makeOffline(u"Request failed (500)."_s) << true;
        QTest::newRow("session refused")
            << 401 << QByteArray() << SyncEngine::Status::makeSignedOut() << false;
        // The service's quota, not a batch too large: its own words.
        QTest::newRow("storage full")
            << 413
            << R"({"error":{"code":"quota_exceeded","message":"Your storage on this service is full."}})"_ba
            << SyncEngine::Status::makeOffline(u"Your storage on this service is full."_s) << true;
    }

    void failedBatchKeepsWhatWasDone()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, reply);
        QFETCH(SyncEngine::Status, ending);
        QFETCH(bool, signedIn);
        auto a = computer();
        makeDirty(*a, 1201, 0);
        const QList<Document> documents = a->store->documents();
        hooks().forceReply("POST", syncPath, 2, {status, reply, {}, false});
        QVERIFY(a->syncOnce());
        QCOMPARE(a->engine->status(), ending);
        QCOMPARE(bool(a->auth->token()), signedIn);
        QCOMPARE(syncRequests("POST").size(), 2);
        QCOMPARE(syncRequests("GET").size(), 1);
        QCOMPARE(a->store->documents(), documents);
        QSet<QString> first;
        for (const QJsonValue &doc : body(syncRequests("POST").first())[u"docs"_s].toArray())
            first.insert(doc[u"id"_s].toString());
        QCOMPARE(first.size(), 500);
        for (const Document &doc : documents)
            QCOMPARE(a->store->state().dirtyDocumentIDs.contains(doc.id), !first.contains(doc.id));
    }

    // A full account is the service's to say: its words reach the status,
    // and the edits stay to be pushed once there is room.
    void aFullAccountShowsTheServicesMessage()
    {
        ServerOptions options;
        options.listen = {{QHostAddress::LocalHost, 0}};
        options.database = u"sqlite::memory:"_s;
        options.passwordIterations = 1000;
        options.limits.quotaBytes = 1000;
        Server full(options);
        QVERIFY(full.start());
        const Account account = full.hooks().registerUser(u"full@example.com"_s, u"F"_s);
        SyncClient a(full.baseUrl(), account.sessionToken);
        const Document d = a.store->createDocument(std::nullopt, QString(1001, u'x'));
        QVERIFY(a.syncOnce());
        QCOMPARE(a.engine->status(),
                 SyncEngine::Status::makeOffline(u"Your storage on this service is full."_s));
        QVERIFY(a.store->state().dirtyDocumentIDs.contains(d.id));
    }

    void hostileIDsStayOutOfTheFolder()
    {
        auto a = computer();
        QJsonArray pulled;
        const QStringList hostile = {u""_s,
                                     u"."_s,
                                     u".."_s,
                                     u"../escape"_s,
                                     u"a\\b"_s,
                                     u"nul\u0000x"_s,
                                     u"tab\tx"_s,
                                     QString(201, u'a'),
                                     QString(67, QChar(0x8a9e))};
        const QStringList fine = {u"fine"_s, QString(200, u'a'), QString(66, QChar(0x8a9e)) + u"ab"_s};
        for (const QString &id : hostile + fine) {
            pulled.append(QJsonObject{
                {"id", id}, {"body", "x"}, {"createdAt", 1}, {"updatedAt", 1}, {"serverUpdatedAt", 5}});
        }
        hooks().forceReply(
            "GET", syncPath, 1,
            {200, QJsonDocument(QJsonObject{{"documents", pulled}, {"now", 5}}).toJson(), {}, false});
        for (qsizetype i = 0; i < hostile.size(); ++i)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^\\[sync\\] skipped pulled document"_s));
        QVERIFY(a->syncOnce());
        for (const QString &id : fine)
            QVERIFY(a->store->document(id));
        QCOMPARE(a->store->state().syncCursor, 5);
        a->open(); // what was taken is on disk
        for (const QString &id : fine)
            QVERIFY(a->store->document(id));
        a->store->flushPendingSaves();
        QDirIterator files(a->folder.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString path = files.next();
            QVERIFY2(path.startsWith(a->dataFolder + u"/"_s) || path.endsWith(u"settings.ini"_s),
                     qPrintable(path));
            QVERIFY2(!path.contains(u"escape"_s) && !path.contains(u"\\"_s), qPrintable(path));
        }
    }

    // --- the engine --------------------------------------------------------

    void editsAreDebounced()
    {
        auto a = computer();
        a->engine->start();
        QTRY_COMPARE(a->engine->status().kind, SyncEngine::Status::synced);
        for (int i = 0; i < 10; ++i) {
            a->store->createDocument(std::nullopt, u"typed"_s);
            a->clock.advance(1000);
            QVERIFY(!a->engine->isRunning());
        }
        a->clock.advance(1999);
        QVERIFY(!a->engine->isRunning());
        a->clock.advance(1);
        QVERIFY(a->engine->isRunning());
        QTRY_VERIFY(a->isClean());
    }

    void requestsDuringAPassCostOneMore()
    {
        auto a = computer();
        hooks().setLatency(syncPath, 100);
        QSignalSpy status(a->engine.get(), &SyncEngine::statusChanged);
        for (int i = 0; i < 4; ++i)
            a->engine->sync();
        QVERIFY(a->engine->isQueued());
        QTRY_COMPARE(syncRequests("GET").size(), 2);
        QTRY_VERIFY(!a->engine->isRunning());
        QVERIFY(!a->engine->isQueued());
        QCOMPARE(status.size(), 4); // syncing, synced, syncing, synced
    }

    void anEditCancelsOnlyTheDebouncesOwnPass_data()
    {
        QTest::addColumn<bool>("fromDebounce");
        QTest::newRow("debounce pass") << true;
        QTest::newRow("sync now") << false;
    }

    void anEditCancelsOnlyTheDebouncesOwnPass()
    {
        QFETCH(bool, fromDebounce);
        auto a = computer();
        a->engine->start();
        QTRY_COMPARE(a->engine->status().kind, SyncEngine::Status::synced);
        const SyncEngine::Status before = a->engine->status();
        hooks().setLatency(syncPath, 200);
        if (fromDebounce) {
            a->store->createDocument(std::nullopt, u"one"_s);
            a->clock.advance(3000);
        } else {
            a->engine->sync();
        }
        QVERIFY(a->engine->isRunning());
        a->store->createDocument(std::nullopt, u"two"_s);
        QTRY_VERIFY(!a->engine->isRunning());
        // A superseded pass leaves the status as it was before it.
        if (fromDebounce)
            QCOMPARE(a->engine->status(), before);
        else
            QCOMPARE(a->engine->status().kind, SyncEngine::Status::synced);
        hooks().setLatency(syncPath, 0);
        a->clock.advance(3000);
        QTRY_VERIFY(a->isClean());
        QTRY_COMPARE(a->engine->status().kind, SyncEngine::Status::synced);
    }

    void aSignInIsFollowedByOnePass()
    {
        SyncClient a(m_server->baseUrl(), QString());
        a.auth->setPlatform({[&](const QUrl &) {
                                 const QString ott = hooks().mintOneTimeToken(m_account.userId);
                                 QTimer::singleShot(0, a.auth.get(), [&a, ott] {
                                     a.auth->handleCallbackURL(QUrl(u"tessivo://auth?ott="_s + ott));
                                 });
                                 return true;
                             },
                             [] {}});
        a.engine->start();
        QVERIFY(a.syncOnce());
        QCOMPARE(a.engine->status(), SyncEngine::Status::makeSignedOut());
        QVERIFY(a.auth->signIn(AuthManager::Provider::github).isValid());
        QTRY_COMPARE(a.engine->status().kind, SyncEngine::Status::synced);
        QCOMPARE(syncRequests("GET").size(), 1);
        QCOMPARE(syncRequests("GET").first().rawQuery, QByteArray("since=0"));
    }
};

QTEST_GUILESS_MAIN(TestSync)
#include "tst_sync.moc"
