// Edits reach the disk when a termination signal finds the main thread busy.
#include "shell/core/TerminationSaves.h"
#include "store/DocumentStore.h"
#include "store/Persistence.h"

#include <QSettings>
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
        return bodyOnDisk(dir.path(), id);
    }
    static QString bodyOnDisk(const QString &base, const QString &id)
    {
        for (const Document &d : Persistence::loadDocuments(base)) {
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

    // Typing in a long document is kept as its edits: the store's body stays
    // its own between keys, so an edit never copies it, and what a busy main
    // thread leaves to the watcher is still the newest text.
    void followsTypingWithoutSharingTheText()
    {
        QTemporaryDir dir;
        QSettings settings(dir.filePath(u"settings.ini"_s), QSettings::IniFormat);
        DocumentStore store(dir.filePath(u"data"_s), &settings);
        QFuture<void> loading = store.load();
        QTRY_VERIFY(loading.isFinished());
        const QString id = store.createDocument(std::nullopt, u"# Long\n"_s + QString(100'000, u'x')).id;
        TerminationSaves saves(dir.filePath(u"data"_s), [&] { store.waitForWrites(); });
        QObject context;
        saves.follow(&store, &context, 0);
        const auto stored = [&]() -> const QString & {
            return store.documents().at(store.indexOfDocument(id)).body;
        };

        store.updateBody(stored() + u"\n"_s, id); // taken whole: shared until the next edit
        QString expected = stored();
        for (int key = 0; key < 20; ++key) {
            const TextEdit edit{TextRange(8 + key, 0), u"k"_s};
            expected.insert(edit.range.location, edit.text);
            QVERIFY(store.editBody({edit}, expected.size(), id));
            QVERIFY2(stored().isDetached(), qPrintable(u"key %1"_s.arg(key)));
        }
        QVERIFY(
            store.editBody({{TextRange(2, 4), u"Short"_s}, {TextRange(0, 1), u""_s}}, expected.size(), id));
        expected.replace(2, 4, u"Short"_s).remove(0, 1);
        QCOMPARE(stored(), expected);
        QVERIFY(stored().isDetached());

        std::thread watcher([&] { saves.guard(std::chrono::milliseconds(0)); });
        watcher.join();
        QCOMPARE(bodyOnDisk(dir.filePath(u"data"_s), id), expected);
    }
};

QTEST_GUILESS_MAIN(TestTerminationSaves)
#include "tst_terminationsaves.moc"
