// The conflicted copies the app makes, synced through its own pass to the
// service on each database: they are kept past the quota as the service's
// own copies are.
#include "ServiceFixture.h"
#include "SyncClient.h"

#include <QJsonArray>

using namespace Qt::StringLiterals;
using namespace tessivo::server;

class TestSyncCopies : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Two computers edit the same four large documents offline; A syncs
    // first. B's own texts are newer, so B keeps them and makes a copy of
    // each of A's: the account then holds both, past the quota but within
    // twice it, and B's sync goes through.
    void copiesTheAppMakesAreKeptPastTheQuota()
    {
        ServerOptions options;
        options.limits.quotaBytes = 2 << 20;
        servicetest::Fixture f;
        START_SERVICE(f, options);
        const QString token = f.token();
        SyncClient a(f.server->baseUrl(), token), b(f.server->baseUrl(), token);
        QStringList ids;
        const QString text(490 * 1024 - 64, u'x');
        for (int i = 0; i < 4; ++i)
            ids << a.store->createDocument(std::nullopt, u"# Part %1\n\n"_s.arg(i) + text).id;
        QVERIFY(a.syncOnce());
        QVERIFY(b.syncOnce());
        QCOMPARE(b.store->documents().size(), 4);

        for (const QString &id : std::as_const(ids))
            a.store->appendText(u"from A"_s, id);
        b.store->setClockForTesting([] { return QDateTime::currentMSecsSinceEpoch() + 60000; });
        for (const QString &id : std::as_const(ids))
            b.store->appendText(u"from B"_s, id);
        QVERIFY(a.syncOnce());
        QCOMPARE(a.engine->status().kind, SyncEngine::Status::synced);
        QVERIFY(b.syncOnce());
        QVERIFY2(b.engine->status().kind == SyncEngine::Status::synced,
                 qPrintable(b.engine->status().message));
        QVERIFY(b.isClean());

        // A third computer pulls what the service holds: B's texts as the
        // documents, A's as copies, and no more than twice the quota.
        SyncClient c(f.server->baseUrl(), token);
        QVERIFY(c.syncOnce());
        QStringList endings;
        qint64 stored = 0;
        for (const Document &d : c.store->documents()) {
            endings << d.body.right(6);
            stored += QJsonDocument(d.toJson()).toJson(QJsonDocument::Compact).size();
            if (ids.contains(d.id))
                QVERIFY(d.body.endsWith(u"from B"_s));
            else
                QVERIFY(d.displayTitle().endsWith(u" (conflicted copy)"_s));
        }
        endings.sort();
        QCOMPARE(endings, (QStringList{4, u"from A"_s} + QStringList{4, u"from B"_s}));
        QVERIFY2(stored > options.limits.quotaBytes && stored <= 2 * options.limits.quotaBytes,
                 qPrintable(QString::number(stored)));
        QVERIFY(a.syncOnce());
        QCOMPARE(a.snapshot(), c.snapshot());
    }
};

QTEST_MAIN(TestSyncCopies)
#include "tst_sync_copies.moc"
