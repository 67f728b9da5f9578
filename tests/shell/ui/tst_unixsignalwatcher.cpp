// Termination signals are seen while the main thread is busy, and still
// reach the main thread as a Qt signal.
#include "platform/UnixSignalWatcher.h"

#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>

#include <csignal>

class TestUnixSignalWatcher : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void signalIsSeenWhileTheMainThreadIsBusy()
    {
        QSemaphore seen;
        UnixSignalWatcher watcher({SIGUSR1}, [&](int number) {
            if (number == SIGUSR1)
                seen.release();
        });
        QSignalSpy received(&watcher, &UnixSignalWatcher::signalReceived);
        ::raise(SIGUSR1);
        // The main thread runs no event loop here, as in a long layout.
        QVERIFY(seen.tryAcquire(1, 10000));
        QVERIFY(received.wait(TestWaits::limitMs));
        QCOMPARE(received.constFirst().constFirst().toInt(), SIGUSR1);
    }
};

QTEST_MAIN(TestUnixSignalWatcher)
#include "tst_unixsignalwatcher.moc"
