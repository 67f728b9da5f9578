#include "widgets/Icon.h"
#include "widgets/IconButton.h"
#include "widgets/PressableIconButtonStyle.h"
#include "widgets/Pulse.h"

#include <QFile>
#include <QLabel>
#include <QTest>

class TestIcons : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everyIconIsCompiledIn()
    {
        for (IconName name : IconNames::allCases()) {
            QVERIFY2(QFile::exists(IconNames::resourcePath(name)), qPrintable(IconNames::resourcePath(name)));
            const QPixmap image = Icon::pixmap(name, 16, Qt::black);
            QVERIFY2(!image.isNull(), qPrintable(IconNames::rawValue(name)));
        }
        QVERIFY(QFile::exists(QStringLiteral(":/app/tessivo.svg")));
    }

    void iconFillsItsSquareWhateverTheArtwork()
    {
        Icon icon(IconName::check, 14);
        QCOMPARE(icon.size(), QSize(14, 14));
        QCOMPARE(icon.sizeHint(), QSize(14, 14));
        // Wide artwork is stretched, not letterboxed.
        const QImage image = Icon::pixmap(IconName::moreHorizontal, 40, Qt::black).toImage();
        QCOMPARE(image.size(), QSize(40, 40));
    }

    void templateTakesTheForegroundColour()
    {
        const QColor tint(200, 30, 60);
        const QImage image = Icon::pixmap(IconName::folder, 32, tint, 2.0).toImage();
        QCOMPARE(image.size(), QSize(64, 64));
        int painted = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c.alpha() < 255)
                    continue;
                ++painted;
                QCOMPARE(c.rgb(), tint.rgb());
            }
        }
        QVERIFY(painted > 50);

        // The widget paints with its palette's foreground unless told otherwise.
        Icon widget(IconName::folder, 16);
        QPalette palette = widget.palette();
        palette.setColor(QPalette::WindowText, Qt::blue);
        widget.setPalette(palette);
        QCOMPARE(widget.color(), QColor(Qt::blue));
        widget.setColor(Qt::red);
        QCOMPARE(widget.color(), QColor(Qt::red));
    }

    void pulseFollowsActive()
    {
        QLabel label(QStringLiteral("syncing"));
        label.show();
        auto *pulse = new Pulse(&label, true);
        QCOMPARE(label.graphicsEffect(), pulse);
        QVERIFY(pulse->isDim());
        QTRY_VERIFY(pulse->opacity() < 0.9); // breathing down towards 0.35
        pulse->setActive(false);
        QVERIFY(!pulse->isDim());
        QTRY_COMPARE(pulse->opacity(), 1.0);
        pulse->setActive(true); // restarts the repetition
        QTRY_VERIFY(pulse->opacity() < 0.9);
        QVERIFY(pulse->opacity() >= 0.35 - 1e-6);
    }

    void pressFeedback_data()
    {
        QTest::addColumn<bool>("reduceMotion");
        QTest::addColumn<qreal>("scale");
        QTest::addColumn<qreal>("opacity");
        QTest::newRow("shrinks") << false << 0.96 << 1.0;
        QTest::newRow("reduced motion fades instead") << true << 1.0 << 0.7;
    }

    void pressFeedback()
    {
        QFETCH(bool, reduceMotion);
        QFETCH(qreal, scale);
        QFETCH(qreal, opacity);
        PressableIconButtonStyle::setReduceMotion(reduceMotion);
        IconButton button(IconName::panelLeft, 16, 28);
        auto *style = qobject_cast<PressableIconButtonStyle *>(button.graphicsEffect());
        QVERIFY(style);
        QCOMPARE(button.size(), QSize(28, 28));
        QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(3, 3)); // any point of the frame
        QVERIFY(button.isDown());
        QTRY_COMPARE(style->scale(), scale);
        QTRY_COMPARE(style->opacity(), opacity);
        QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(3, 3));
        QTRY_COMPARE(style->scale(), 1.0);
        QTRY_COMPARE(style->opacity(), 1.0);
    }
};

QTEST_MAIN(TestIcons)
#include "tst_icons.moc"
