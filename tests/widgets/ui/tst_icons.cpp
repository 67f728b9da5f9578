#include "widgets/Icon.h"
#include "widgets/IconButton.h"
#include "widgets/Motion.h"
#include "widgets/PressableIconButtonStyle.h"
#include "widgets/Pulse.h"

#include <QAnimationDriver>
#include <QFile>
#include <QLabel>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Animations move only when the test advances this clock, so a fade is
// stepped through instead of waited for.
class ManualAnimationDriver final : public QAnimationDriver
{
public:
    qint64 elapsed() const override { return m_now; }
    void advance(qint64 ms)
    {
        // Animations started since the last step join the timers over two
        // turns of the event loop, and count their time from the tick after.
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        advanceAnimation();
        m_now += ms;
        advanceAnimation();
    }

private:
    qint64 m_now = 0;
};

} // namespace

class TestIcons : public QObject
{
    Q_OBJECT

    ManualAnimationDriver m_animations;

private Q_SLOTS:
    void initTestCase() { m_animations.install(); }
    void cleanupTestCase() { m_animations.uninstall(); }

    void everyIconIsCompiledIn()
    {
        for (IconName name : IconNames::allCases()) {
            QVERIFY2(QFile::exists(IconNames::resourcePath(name)), qPrintable(IconNames::resourcePath(name)));
            const QPixmap image = Icon::pixmap(name, 16, Qt::black);
            QVERIFY2(!image.isNull(), qPrintable(IconNames::rawValue(name)));
        }
        QVERIFY(QFile::exists(u":/app/tessivo.svg"_s));
    }

    void iconTakesTheForegroundAndFillsItsSquare()
    {
        Icon widget(IconName::folder, 14);
        QCOMPARE(widget.sizeHint(), QSize(14, 14));
        // The widget paints with its palette's foreground unless told otherwise.
        QPalette palette = widget.palette();
        palette.setColor(QPalette::WindowText, Qt::blue);
        widget.setPalette(palette);
        QCOMPARE(widget.color(), QColor(Qt::blue));
        widget.setColor(Qt::red);
        QCOMPARE(widget.color(), QColor(Qt::red));
        // Wide artwork is stretched, not letterboxed; the tint covers every opaque pixel.
        const QColor tint(200, 30, 60);
        const QImage image = Icon::pixmap(IconName::moreHorizontal, 32, tint, 2.0).toImage();
        QCOMPARE(image.size(), QSize(64, 64));
        int painted = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c.alpha() == 255 && ++painted)
                    QCOMPARE(c.rgb(), tint.rgb());
            }
        }
        QVERIFY(painted > 50);
    }

    void pulseBreathesWhileActive()
    {
        QLabel label;
        label.show();
        auto *pulse = new Pulse(&label, true);
        QCOMPARE(label.graphicsEffect(), pulse);
        for (const qreal expected : {0.35, 1.0}) { // down and up again
            m_animations.advance(700);
            QCOMPARE(pulse->opacity(), expected);
        }
        m_animations.advance(350);
        pulse->setActive(false); // settles back
        m_animations.advance(350);
        QCOMPARE(pulse->opacity(), 1.0);
        pulse->setActive(true); // restarts the repetition
        m_animations.advance(350);
        QVERIFY(pulse->opacity() < 0.9 && pulse->opacity() > 0.35);
        label.hide(); // a hidden pulse holds still, and breathes on when shown
        const qreal held = pulse->opacity();
        m_animations.advance(350);
        QCOMPARE(pulse->opacity(), held);
        label.show();
        m_animations.advance(350);
        m_animations.advance(350);
        QVERIFY(pulse->opacity() < held);
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
        Motion::overrideReduced(reduceMotion);
        IconButton button(IconName::panelLeft, 16, 28);
        auto *style = qobject_cast<PressableIconButtonStyle *>(button.graphicsEffect());
        QVERIFY(style);
        QCOMPARE(button.size(), QSize(28, 28));
        QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(3, 3)); // any point of the frame
        m_animations.advance(1000);
        QCOMPARE(style->scale(), scale);
        QCOMPARE(style->opacity(), opacity);
        QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(3, 3));
        m_animations.advance(1000);
        QCOMPARE(style->scale(), 1.0);
        QCOMPARE(style->opacity(), 1.0);
    }
};

QTEST_MAIN(TestIcons)
#include "tst_icons.moc"
