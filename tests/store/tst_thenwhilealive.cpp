#include "store/ThenWhileAlive.h"

#include <QPromise>
#include <QTest>
#include <QtConcurrent>

#include <memory>

// A continuation whose object has gone by the time the work ends: Qt's own
// asserts on it in a build that keeps assertions.
class TestThenWhileAlive : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void runsWithTheResultWhileItsObjectLives()
    {
        QObject context;
        QPromise<int> work;
        work.start();
        QString seen;
        const QFuture<QString> after = thenWhileAlive(work.future(), &context, [&](int value) {
            seen = QString::number(value);
            return seen;
        });
        work.addResult(7);
        work.finish();
        // At once on the object's own thread, as Qt's continuation does.
        QCOMPARE(seen, u"7"_qs);
        QVERIFY(after.isFinished() && !after.isCanceled());
        QCOMPARE(after.result(), u"7"_qs);
    }

    void anObjectGoneFirstCancelsIt_data()
    {
        QTest::addColumn<bool>("finished");
        QTest::newRow("work finished") << true;
        QTest::newRow("work dropped") << false;
    }

    void anObjectGoneFirstCancelsIt()
    {
        QFETCH(bool, finished);
        auto context = std::make_unique<QObject>();
        auto work = std::make_unique<QPromise<void>>();
        work->start();
        bool ran = false;
        const QFuture<void> after = thenWhileAlive(work->future(), context.get(), [&] { ran = true; });
        context.reset();
        if (finished)
            work->finish();
        work.reset();
        QTRY_VERIFY(after.isFinished());
        QVERIFY(after.isCanceled());
        QVERIFY(!ran);
    }

    void workOnAnotherThreadComesBackToTheObjectsThread()
    {
        QObject context;
        QThread *ranOn = nullptr;
        const QFuture<void> after = thenWhileAlive(QtConcurrent::run([] { return 1; }), &context,
                                                   [&](int) { ranOn = QThread::currentThread(); });
        QTRY_VERIFY(after.isFinished());
        QCOMPARE(ranOn, context.thread());
    }
};

QTEST_GUILESS_MAIN(TestThenWhileAlive)
#include "tst_thenwhilealive.moc"
