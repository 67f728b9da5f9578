// What the service does with a push that replaces a version its pusher never
// saw, and with ids no computer could store.
#include "ServiceFixture.h"

#include "store/Document.h"
#include "store/RecordIds.h"

#include <QJsonArray>

using namespace servicetest;
using namespace Qt::StringLiterals;

namespace {
const QString syncPath = u"/api/v1/documents/sync"_s;

QJsonObject doc(const QString &id, qint64 updatedAt, const QString &body)
{
    return {{"id", id},       {"title", "Plan"},        {"body", body},
            {"createdAt", 1}, {"updatedAt", updatedAt}, {"collectionId", "c"}};
}

} // namespace

class tst_ServiceSyncConflicts : public QObject
{
    Q_OBJECT

    std::unique_ptr<Fixture> f;
    QString t;

    QJsonObject push(const QJsonArray &docs, const QJsonArray &collections = {})
    {
        return f->post(syncPath, t, pushBody(docs, collections)).json();
    }
    QHash<QString, QJsonObject> stored()
    {
        QHash<QString, QJsonObject> out;
        const QJsonArray all = f->call("GET", syncPath + u"?since=0"_s, t).json()[u"documents"_s].toArray();
        for (const QJsonValue &d : all)
            out.insert(d[u"id"_s].toString(), d.toObject());
        return out;
    }

private slots:
    void init()
    {
        f = std::make_unique<Fixture>();
        START_SERVICE(*f);
        t = f->token();
        push({}, {QJsonObject{{"id", "c"}, {"name", "C"}, {"createdAt", 1}, {"updatedAt", 1}},
                  QJsonObject{
                      {"id", "gone"}, {"name", "G"}, {"createdAt", 1}, {"updatedAt", 1}, {"deletedAt", 1}},
                  QJsonObject{{"id", "e"}, {"name", "E"}, {"createdAt", 1}, {"updatedAt", 1}}});
    }

    void replacingAnUnseenVersionKeepsItAsACopy_data()
    {
        QTest::addColumn<QString>("seen"); // "stored", "older", "none"
        QTest::addColumn<QString>("pushedBody");
        QTest::addColumn<bool>("storedDeleted");
        QTest::addColumn<bool>("copied");
        QTest::newRow("pusher saw the stored version") << "stored"
                                                       << "# Plan\n\nmine" << false << false;
        QTest::newRow("pusher saw an older version") << "older"
                                                     << "# Plan\n\nmine" << false << true;
        QTest::newRow("pusher saw no version") << "none"
                                               << "# Plan\n\nmine" << false << true;
        QTest::newRow("same body") << "older"
                                   << "# Plan\n\ntheirs" << false << false;
        QTest::newRow("stored tombstone") << "older"
                                          << "# Plan\n\nmine" << true << false;
    }

    void replacingAnUnseenVersionKeepsItAsACopy()
    {
        QFETCH(QString, seen);
        QFETCH(QString, pushedBody);
        QFETCH(bool, storedDeleted);
        QFETCH(bool, copied);
        push({doc("d", 10, "# Plan\n\nbase")});
        const qint64 older = stored().value(u"d"_s)[u"serverUpdatedAt"_s].toInteger();
        QJsonObject theirs = doc("d", 20, storedDeleted ? "" : "# Plan\n\ntheirs");
        theirs["serverUpdatedAt"] = older; // written over the base it had seen
        if (storedDeleted)
            theirs["deletedAt"] = 20;
        push({theirs});
        const qint64 storedStamp = stored().value(u"d"_s)[u"serverUpdatedAt"_s].toInteger();

        QJsonObject mine = doc("d", 30, pushedBody);
        if (seen != u"none"_s)
            mine["serverUpdatedAt"] = seen == u"stored"_s ? storedStamp : older;
        QCOMPARE(statuses(push({mine})[u"results"_s].toArray()), QStringList{u"ok"_s});

        const QHash<QString, QJsonObject> all = stored();
        QCOMPARE(all.value(u"d"_s)[u"body"_s].toString(), pushedBody);
        const QString copyID = RecordIds::conflictedCopyID(u"d"_s, 20);
        QCOMPARE(all.size(), copied ? 2 : 1);
        if (!copied)
            return;
        const QJsonObject copy = all.value(copyID);
        QCOMPARE(copy[u"body"_s].toString(), u"# Plan\n\ntheirs"_s);
        QCOMPARE(copy[u"title"_s].toString(), u"Plan (conflicted copy)"_s);
        QCOMPARE(copy[u"collectionId"_s].toString(), u"c"_s);
        QVERIFY(copy[u"serverUpdatedAt"_s].toInteger() > storedStamp);
        QVERIFY(copy[u"serverUpdatedAt"_s].toInteger() < all.value(u"d"_s)[u"serverUpdatedAt"_s].toInteger());
        QVERIFY(Document::fromJson(copy).has_value());
    }

    void theAppsCopyAndTheServicesAreOne()
    {
        push({doc("d", 10, "# Plan\n\ntheirs")});
        // The app met the conflict first and pushes its copy before the
        // winner, as it does.
        const QString copyID = RecordIds::conflictedCopyID(u"d"_s, 10);
        QJsonObject appCopy = doc(copyID, 40, "# Plan\n\ntheirs");
        QCOMPARE(statuses(push({appCopy, doc("d", 30, "# Plan\n\nmine")})[u"results"_s].toArray()),
                 (QStringList{u"ok"_s, u"ok"_s}));
        QCOMPARE(stored().size(), 2);
    }

    void concurrentPushesOfOneMomentEachKeepTheirText_data()
    {
        QTest::addColumn<QStringList>("bodies");
        QTest::newRow("three") << QStringList{u"one"_s, u"two"_s, u"three"_s};
        QTest::newRow("five") << QStringList{u"one"_s, u"two"_s, u"three"_s, u"four"_s, u"five"_s};
        // A text already kept is the same copy, not a new one.
        QTest::newRow("texts met again") << QStringList{u"one"_s, u"two"_s, u"one"_s, u"two"_s, u"three"_s};
    }

    // Pushes of one document with one updatedAt, none having seen the
    // others: each is taken, and each text stays, as the document or as one
    // copy, under the ids the app derives alike.
    void concurrentPushesOfOneMomentEachKeepTheirText()
    {
        QFETCH(QStringList, bodies);
        for (const QString &body : std::as_const(bodies))
            QCOMPARE(statuses(push({doc("e", 10, body)})[u"results"_s].toArray()), QStringList{u"ok"_s});
        const QHash<QString, QJsonObject> all = stored();
        QCOMPARE(all.value(u"e"_s)[u"body"_s].toString(), bodies.last());
        QStringList distinct = bodies;
        distinct.removeDuplicates();
        QStringList copied;
        for (int n = 1; n < distinct.size(); ++n) {
            const QJsonObject copy = all.value(RecordIds::conflictedCopyID(u"e"_s, 10, n));
            QCOMPARE(copy[u"title"_s].toString(), u"Plan (conflicted copy)"_s);
            copied << copy[u"body"_s].toString();
        }
        QCOMPARE(all.size(), distinct.size());
        copied << bodies.last();
        copied.sort();
        distinct.sort();
        QCOMPARE(copied, distinct);
    }

    void copyGoesWhereALiveCollectionIs_data()
    {
        QTest::addColumn<QString>("storedCollection");
        QTest::addColumn<QString>("pushedCollection");
        QTest::addColumn<QString>("expected");
        QTest::newRow("the loser's") << "c"
                                     << "e"
                                     << "c";
        QTest::newRow("the winner's when the loser's is deleted") << "gone"
                                                                  << "e"
                                                                  << "e";
        QTest::newRow("none when neither is live") << "gone"
                                                   << "missing"
                                                   << "";
    }

    void copyGoesWhereALiveCollectionIs()
    {
        QFETCH(QString, storedCollection);
        QFETCH(QString, pushedCollection);
        QFETCH(QString, expected);
        QJsonObject theirs = doc("d", 10, "theirs");
        theirs["collectionId"] = storedCollection;
        push({theirs}); // new here: nothing is replaced
        QJsonObject mine = doc("d", 20, "mine");
        mine["collectionId"] = pushedCollection;
        push({mine});
        const QJsonValue placed = stored().value(RecordIds::conflictedCopyID(u"d"_s, 10))[u"collectionId"_s];
        QCOMPARE(placed.isNull() ? QString() : placed.toString(), expected);
    }

    void idsAreCheckedOneByOne_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("valid");
        const QString kanji = u"\u8a9e"_s; // three bytes of UTF-8
        QTest::newRow("200 ASCII bytes") << QString(200, u'a') << true;
        QTest::newRow("201 ASCII bytes") << QString(201, u'a') << false;
        QTest::newRow("200 bytes, 3-byte characters") << kanji.repeated(66) + u"ab"_s << true;
        QTest::newRow("201 bytes, 3-byte characters") << kanji.repeated(67) << false;
        QTest::newRow("dot") << u"."_s << false;
        QTest::newRow("dot dot") << u".."_s << false;
        QTest::newRow("dots and more") << u"..x"_s << true;
        QTest::newRow("slash") << u"a/b"_s << false;
        QTest::newRow("backslash") << u"a\\b"_s << false;
        QTest::newRow("NUL") << QString::fromUtf16(u"a\u0000b", 3) << false;
        QTest::newRow("tab") << u"a\tb"_s << false;
        QTest::newRow("C1 control") << u"a\u0085b"_s << false;
    }

    // One bad id is answered "invalid" alone, on every database (a NUL once
    // failed the whole push on PostgreSQL).
    void idsAreCheckedOneByOne()
    {
        QFETCH(QString, id);
        QFETCH(bool, valid);
        QJsonObject collection{{"id", id}, {"name", "X"}, {"createdAt", 1}, {"updatedAt", 1}};
        const QJsonObject reply = push({doc(id, 1, "x"), doc("fine", 1, "y")}, {collection});
        const QString verdict = valid ? u"ok"_s : u"invalid"_s;
        QCOMPARE(statuses(reply[u"results"_s].toArray()), (QStringList{verdict, u"ok"_s}));
        QCOMPARE(statuses(reply[u"collectionResults"_s].toArray()), QStringList{verdict});
        QCOMPARE(stored().contains(id), valid);
    }
};

QTEST_GUILESS_MAIN(tst_ServiceSyncConflicts)
#include "tst_servicesyncconflicts.moc"
