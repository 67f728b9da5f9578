#include "SyncClient.h"
#include "TestSeed.h"

#include "service/LocalServer.h"
#include "store/documentstore_report.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace tessivo::server;

namespace {

constexpr int kills = 50;

} // namespace

class TestSyncReliability : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The child edits and syncs; a second computer edits the same account
    // at the same time (always the later writer, so the child's unsent
    // edits get replaced and leave conflicted copies). After each kill the
    // child's folder is opened again and both computers sync until neither
    // has anything to push.
    void killedWhileSyncingLosesNothing()
    {
        const auto server = startLocalServer();
        const Account account = server->hooks().registerUser(u"k@example.com"_s, u"K"_s);

        QTemporaryDir childFolder;
        const QString data = childFolder.filePath(u"data"_s);
        SyncClient::seedFolder(data);
        SyncClient other(server->baseUrl(), account.sessionToken);
        other.store->setClockForTesting([] { return QDateTime::currentMSecsSinceEpoch() + 3600 * 1000; });
        QHash<QString, QString> settled; // id to the newest settled version's key
        QRandomGenerator rng(testSeed());

        for (int run = 0; run < kills; ++run) {
            QProcess child;
            child.start(QStringLiteral(SYNC_CHILD),
                        {data, childFolder.filePath(u"settings.ini"_s), server->baseUrl().toString(),
                         account.sessionToken, QString::number(rng.generate())});
            // Driven by events: the child's lines, a timer for the other
            // computer's edits, and one for the kill.
            QEventLoop loop;
            QByteArray pending;
            bool ready = false;
            QTimer kill, otherEdit;
            kill.setSingleShot(true);
            connect(&kill, &QTimer::timeout, &loop, &QEventLoop::quit);
            connect(&child, &QProcess::finished, &loop, &QEventLoop::quit);
            connect(&otherEdit, &QTimer::timeout, &loop, [&] {
                const auto &docs = other.store->documents();
                if (!docs.isEmpty()) {
                    other.store->appendText(u"other %1"_s.arg(run),
                                            docs.at(rng.bounded(std::min<qsizetype>(docs.size(), 8))).id);
                    other.engine->sync();
                }
                otherEdit.start(int(rng.bounded(400)));
            });
            connect(&child, &QProcess::readyReadStandardOutput, &loop, [&] {
                pending += child.readAllStandardOutput();
                for (qsizetype nl; (nl = pending.indexOf('\n')) >= 0; pending.remove(0, nl + 1)) {
                    const QString line = QString::fromUtf8(pending.left(nl));
                    if (line == u"READY"_s && !ready) {
                        ready = true;
                        kill.start(100 + int(rng.bounded(1500)));
                        otherEdit.start(int(rng.bounded(400)));
                    } else if (line.startsWith(u"S "_s)) {
                        settled.insert(DocumentStoreReport::idOf(line.mid(2)), line.mid(2));
                    }
                }
            });
            loop.exec();
            otherEdit.stop();
            QVERIFY2(child.state() != QProcess::NotRunning, child.readAllStandardError().constData());
            child.kill();
            child.waitForFinished(TestWaits::limitMs);
            if (other.engine->isRunning()) {
                QSignalSpy running(other.engine.get(), &SyncEngine::runningChanged);
                QVERIFY(running.wait(TestWaits::limitMs));
            }

            verifyFiles(data);
            QVERIFY(!QTest::currentTestFailed());
            SyncClient restarted(server->baseUrl(), account.sessionToken, data);
            QVERIFY(converge(restarted, other));
            QCOMPARE(restarted.snapshot(), other.snapshot());
            verifyNothingLost(restarted, settled);
            QVERIFY(!QTest::currentTestFailed());
        }
    }

private:
    // Every settled version is still there, or a later one replaced it, or
    // (a tie with the other computer's version) a conflicted copy holds it.
    static void verifyNothingLost(const SyncClient &c, const QHash<QString, QString> &settled)
    {
        QHash<QString, Document> held;
        QSet<QString> copies;
        for (const auto *list : {&c.store->tombstones(), &c.store->documents()}) {
            for (const Document &d : *list) {
                held.insert(d.id, d);
                if (d.displayTitle().endsWith(u" (conflicted copy)"_s))
                    copies.insert(DocumentStoreReport::digest(d.body));
            }
        }
        for (const QString &key : settled) {
            if (copies.contains(key.section(u' ', 4, 4)))
                continue;
            const auto it = held.constFind(DocumentStoreReport::idOf(key));
            QVERIFY2(it != held.cend(), qPrintable(key));
            const qint64 updatedAt = DocumentStoreReport::updatedAtOf(key);
            QVERIFY2(it->updatedAt > updatedAt ||
                         (it->updatedAt == updatedAt && DocumentStoreReport::key(*it) == key),
                     qPrintable(key + u" now "_s + DocumentStoreReport::key(*it)));
        }
    }

    static void verifyFiles(const QString &base)
    {
        QDir documents(base + u"/documents"_s);
        for (const QString &name : documents.entryList({u"*.json"_s}, QDir::Files)) {
            QFile file(documents.filePath(name));
            QVERIFY(file.open(QIODevice::ReadOnly));
            const auto d = Document::fromJson(QJsonDocument::fromJson(file.readAll()).object());
            QVERIFY2(d && d->id + u".json"_s == name, qPrintable(name));
        }
        QFile collections(base + u"/collections.json"_s), state(base + u"/state.json"_s);
        if (collections.open(QIODevice::ReadOnly))
            QVERIFY(QJsonDocument::fromJson(collections.readAll()).isArray());
        QVERIFY(state.open(QIODevice::ReadOnly));
        QVERIFY(Persistence::State::fromJson(QJsonDocument::fromJson(state.readAll()).object()));
    }
};

QTEST_GUILESS_MAIN(TestSyncReliability)
#include "tst_sync_reliability.moc"
