// Where the main window's frame goes on a screen: wholly within its
// available area, title bar included, and exactly where it was when it
// fits already.

#include "shell/core/WindowFit.h"

#include <QTest>

class TestWindowFit : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void framesLieWithinTheScreen_data()
    {
        QTest::addColumn<QRect>("frame");
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QRect>("expected");

        const QRect laptop(0, 0, 1366, 768);
        QTest::newRow("fits: stays") << QRect(100, 50, 1000, 700) << laptop << QRect(100, 50, 1000, 700);
        QTest::newRow("fits to the edges: stays") << laptop << laptop << laptop;
        QTest::newRow("right half of a 4K screen") << QRect(2100, 900, 1500, 1100) << laptop << laptop;
        QTest::newRow("below the bottom: moved up only")
            << QRect(300, 500, 800, 600) << laptop << QRect(300, 168, 800, 600);
        QTest::newRow("above the top: moved down only")
            << QRect(300, -23, 800, 600) << laptop << QRect(300, 0, 800, 600);
        QTest::newRow("under a top panel, taller than the rest")
            << QRect(40, 10, 900, 780) << QRect(0, 27, 1366, 741) << QRect(40, 27, 900, 741);
        QTest::newRow("on a second screen to the left")
            << QRect(-1000, 100, 800, 700) << QRect(-1280, 0, 1280, 800) << QRect(-1000, 100, 800, 700);
    }

    void framesLieWithinTheScreen()
    {
        QFETCH(QRect, frame);
        QFETCH(QRect, available);
        QFETCH(QRect, expected);
        QCOMPARE(WindowFit::fitted(frame, available), expected);
    }

    // The first frame: the default size with the manager's title bar and
    // borders, centred; on a laptop's screen no taller than it.
    void theFirstFrameIsCentredAndFits()
    {
        const QMargins margins(1, 23, 1, 1);
        const QRect large(0, 0, 1920, 1080);
        const QRect frame = WindowFit::centred(QSize(1200, 780), margins, large);
        QCOMPARE(frame.size(), QSize(1202, 804));
        QCOMPARE(frame.center(), large.center());

        const QRect laptop(0, 0, 1366, 768);
        const QRect small = WindowFit::centred(QSize(1200, 780), margins, laptop);
        QCOMPARE(small, QRect(82, 0, 1202, 768));
        QVERIFY(laptop.contains(small));
    }
};

QTEST_GUILESS_MAIN(TestWindowFit)
#include "tst_windowfit.moc"
