// Where the thin scroller draws its knob, and where a dragged knob scrolls to.

#include "widgets/core/ThinScrollerGeometry.h"

#include <QRectF>
#include <QTest>

class TestThinScrollerGeometry : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void thinScrollerKnob_data()
    {
        QTest::addColumn<qreal>("proportion");
        QTest::addColumn<qreal>("position");
        QTest::addColumn<QRectF>("expected"); // null: no knob
        const QRectF none;
        QTest::newRow("everything visible") << 1.0 << 0.0 << none;
        QTest::newRow("half visible, at the top") << 0.5 << 0.0 << QRectF(0, 2, 5, 48);
        QTest::newRow("half visible, at the end") << 0.5 << 1.0 << QRectF(0, 50, 5, 48);
        QTest::newRow("very long: 24 high") << 0.001 << 0.0 << QRectF(0, 2, 5, 24);
        QTest::newRow("very long, at the end: 2 from the end") << 0.001 << 1.0 << QRectF(0, 74, 5, 24);
    }

    void thinScrollerKnob()
    {
        QFETCH(qreal, proportion);
        QFETCH(qreal, position);
        QFETCH(QRectF, expected);
        const QRectF bounds(0, 0, 7, 100);
        const std::optional<QRectF> knob = ThinScrollerGeometry::knobRect(bounds, proportion, position);
        QCOMPARE(knob.has_value(), !expected.isNull());
        if (knob) {
            QCOMPARE(*knob, expected);
            QCOMPARE(ThinScrollerGeometry::positionForKnobTop(bounds, proportion, knob->top()), position);
        }
    }
};

QTEST_GUILESS_MAIN(TestThinScrollerGeometry)
#include "tst_thinscrollergeometry.moc"
