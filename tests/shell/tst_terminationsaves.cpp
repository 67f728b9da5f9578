// Edits reach the disk when a termination signal finds the main thread busy.
#include "shell/core/TerminationSaves.h"
#include "store/Persistence.h"

#include <QTemporaryDir>
#include <QTest>

#include <thread>

using namespace Qt::StringLiterals;

class TestTerminationSaves : public QObject
{
    Q_OBJECT

private:
    static Document document(const QString &id, const QString &body)
    {
        Document d;
        d.id = id;
        d.body = body;
        d.createdAt = 1;
        d.updatedAt = 2;
        return d;
    }

    static QString bodyOnDisk(const QTemporaryDir &dir, const QString &id)
    {
        Persistence::setBaseDirectoryOverride(dir.path());
        for (const Document &d : Persistence::loadDocuments()) {
            if (d.id == id)
                return d.body;
        }
        return u"<none>"_s;
    }

private Q_SLOTS:
    void busyMainThread_data()
    {
        QTest::addColumn<bool>("acknowledged");
        QTest::addColumn<bool>("forgotten");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no answer: the watcher writes the edit") << false << false << u"edited"_s;
        QTest::newRow("answered: the store's flush is left to do it") << true << false << u"<none>"_s;
        QTest::newRow("deleted meanwhile: not brought back") << false << true << u"<none>"_s;
    }

    void busyMainThread()
    {
        QFETCH(bool, acknowledged);
        QFETCH(bool, forgotten);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        int storeWaits = 0;
        TerminationSaves saves(dir.path(), [&] { ++storeWaits; });
        saves.remember(document(u"a"_s, u"first"_s));
        saves.remember(document(u"a"_s, u"edited"_s));
        if (forgotten)
            saves.forget(u"a"_s);
        if (acknowledged)
            saves.acknowledge();
        std::thread watcher([&] { saves.guard(std::chrono::milliseconds(0)); });
        watcher.join();
        QCOMPARE(bodyOnDisk(dir, u"a"_s), expected);
        QCOMPARE(storeWaits, acknowledged ? 0 : 1);
    }
};

QTEST_GUILESS_MAIN(TestTerminationSaves)
#include "tst_terminationsaves.moc"
