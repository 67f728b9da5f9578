#include "widgets/WidgetStyle.h"

#include <QTest>

class TestWidgetStyle : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void accentTextReadsInBothPalettes_data()
    {
        QTest::addColumn<QColor>("accent");
        QTest::addColumn<QColor>("background");
        QTest::newRow("dark blue on dark grey") << QColor(0x1f, 0x4f, 0x9e) << QColor(0x1e, 0x1e, 0x20);
        QTest::newRow("light blue on white") << QColor(0x30, 0x8c, 0xc6) << QColor(Qt::white);
    }

    void accentTextReadsInBothPalettes()
    {
        QFETCH(QColor, accent);
        QFETCH(QColor, background);
        const QColor text = WidgetStyle::readableOn(accent, background);
        QVERIFY2(WidgetStyle::contrastRatio(text, background) >= 4.5, qPrintable(text.name()));
        QVERIFY(qAbs(text.hslHue() - accent.hslHue()) <= 2); // the same hue, to 8-bit rounding
    }
};

QTEST_MAIN(TestWidgetStyle)
#include "tst_widgetstyle.moc"
