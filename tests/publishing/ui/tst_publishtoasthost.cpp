#include "store/ManualSaveClock.h"

#include "app/core/AppNotifications.h"
#include "publishing/PublishToastHost.h"
#include "publishing/core/PublishToast.h"
#include "widgets/Motion.h"

#include <QDesktopServices>
#include <QLabel>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QTest>

using namespace Qt::StringLiterals;

class TestPublishToastHost : public QObject
{
    Q_OBJECT

    QList<QUrl> m_opened;
    AppNotifications m_notifications;

public Q_SLOTS:
    void open(const QUrl &url) { m_opened << url; }

private Q_SLOTS:
    // The card stays five seconds after the last toast and shows the last
    // one; a toast it cannot read changes nothing; only the card takes
    // clicks; "View post" opens the link and hides the card at once.
    void showsTheLastToastForFiveSeconds()
    {
        Motion::overrideEnabled(false);
        QDesktopServices::setUrlHandler(u"http"_s, this, "open");
        ManualSaveClock clock;
        QWidget pane;
        pane.resize(600, 400);
        auto *host = new PublishToastHost(&m_notifications, &pane, &clock);
        host->setGeometry(pane.rect());
        pane.show();

        const QUrl a(u"http://x/p/a/"_s), b(u"http://x/p/b/"_s);
        m_notifications.post(AppNotifications::publishToast,
                             {{PublishToast::messageKey, u"Text"_s}, {PublishToast::urlKey, a.toString()}});
        QVERIFY(!host->isShowing());
        PublishToast::post(&m_notifications, u"Article published"_s, a);
        clock.advance(3000);
        PublishToast::post(&m_notifications, u"Changes published"_s, b);
        clock.advance(4999);
        QVERIFY(host->isShowing() && host->message() == u"Changes published"_s);
        // Only the card takes clicks, right up to its edge.
        const QRect card = host->card()->geometry();
        QCOMPARE(pane.childAt(10, 10), nullptr);
        QWidget *hit = pane.childAt(card.center());
        QVERIFY(hit && (hit == host->card() || host->card()->isAncestorOf(hit)));
        for (const QPoint &outside : {card.topLeft() - QPoint(2, 2), card.topLeft() - QPoint(15, 15),
                                      card.bottomLeft() + QPoint(-8, 8), card.topRight() + QPoint(8, 0)})
            QVERIFY2(!pane.childAt(outside), qPrintable(u"%1,%2"_s.arg(outside.x()).arg(outside.y())));
        clock.advance(1);
        QVERIFY(!host->isShowing());
        QCOMPARE(pane.childAt(card.center()), nullptr);

        PublishToast::post(&m_notifications, u"Changes published"_s, a);
        host->viewButton()->click();
        QVERIFY(m_opened == QList<QUrl>{a} && !host->isShowing());
    }

    // In: a spring from below the pane's bottom edge, fading in; out: 0.2 s
    // ease-out back down, fading out. Without motion both are immediate.
    void slidesAndFades_data()
    {
        QTest::addColumn<bool>("motion");
        QTest::newRow("motion") << true;
        QTest::newRow("effects off") << false;
    }

    void slidesAndFades()
    {
        QFETCH(bool, motion);
        Motion::overrideEnabled(motion);
        ManualSaveClock clock;
        QWidget pane;
        pane.resize(600, 400);
        auto *host = new PublishToastHost(&m_notifications, &pane, &clock);
        host->setGeometry(pane.rect());
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        PublishToast::post(&m_notifications, u"Article published"_s, QUrl(u"http://x/p/a/"_s));
        QWidget *card = host->card();
        const QPoint rest(600 - 16 - card->width(), 400 - 16 - card->height());
        const int below = 400 - rest.y();
        if (!motion) {
            QVERIFY(!Motion::running(card, "pos") && !Motion::runningFade(card));
            QCOMPARE(card->pos(), rest);
            QCOMPARE(Motion::opacity(card), 1.0);
            host->dismiss();
            QVERIFY(card->isHidden());
            return;
        }
        QPropertyAnimation *slide = Motion::running(card, "pos");
        QPropertyAnimation *fade = Motion::runningFade(card);
        QVERIFY(slide && fade);
        QCOMPARE(slide->duration(), Motion::settleMs({0.25, 0.85}));
        QCOMPARE(fade->duration(), slide->duration());
        const auto at = [&](int ms) {
            slide->setCurrentTime(ms);
            fade->setCurrentTime(ms);
            return std::pair(card->pos().y(), Motion::opacity(card));
        };
        QCOMPARE(at(0), std::pair(rest.y() + below, 0.0));
        const qreal p = Motion::springProgress({0.25, 0.85}, 0.06);
        const auto [middleY, middleOpacity] = at(60);
        QVERIFY(qAbs(middleY - (rest.y() + below * (1 - p))) <= 1);
        QVERIFY(qAbs(middleOpacity - p) < 0.01 && p > 0.3 && p < 0.9);
        QCOMPARE(at(slide->duration()), std::pair(rest.y(), 1.0));
        QVERIFY(card->isVisible());

        host->dismiss();
        slide = Motion::running(card, "pos");
        fade = Motion::runningFade(card);
        QVERIFY(slide && fade);
        QCOMPARE(slide->duration(), 200);
        QCOMPARE(at(0), std::pair(rest.y(), 1.0));
        const qreal out = Motion::easeOut().valueForProgress(0.5);
        const auto [outY, outOpacity] = at(100);
        QVERIFY(qAbs(outY - (rest.y() + below * out)) <= 1);
        QVERIFY(qAbs(outOpacity - (1 - out)) < 0.01);
        at(200);
        QVERIFY(card->isHidden());
    }

    // The confirmation's icon: a filled green circle (a white mark inside).
    void iconIsAGreenFilledCircle()
    {
        PublishToastHost host(&m_notifications);
        auto *check = host.findChild<QLabel *>(u"publishToastCheck"_s);
        QVERIFY(check);
        const QImage icon = check->pixmap().toImage();
        const qreal ratio = icon.devicePixelRatio();
        QCOMPARE(icon.size() / ratio, QSize(16, 16));
        const auto isGreen = [](QColor c) { return c.alpha() > 200 && c.green() > 150 && c.red() < 120; };
        // The rim all round is filled; so is a point between rim and mark.
        for (const QPointF &at :
             {QPointF(8, 1), QPointF(1, 8), QPointF(15, 8), QPointF(8, 15), QPointF(4, 4)})
            QVERIFY2(isGreen(icon.pixelColor((at * ratio).toPoint())), qPrintable(u"%1"_s.arg(at.x())));
        int white = 0;
        for (int y = 0; y < icon.height(); ++y)
            for (int x = 0; x < icon.width(); ++x) {
                const QColor c = icon.pixelColor(x, y);
                white += c.red() > 220 && c.green() > 220 && c.blue() > 220 ? 1 : 0;
            }
        QVERIFY(white >= 4 * ratio * ratio);
    }
};

QTEST_MAIN(TestPublishToastHost)
#include "tst_publishtoasthost.moc"
