#include "store/ManualSaveClock.h"

#include "app/core/AppNotifications.h"
#include "publishing/PublishToastHost.h"
#include "publishing/core/PublishToast.h"
#include "widgets/Motion.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QTemporaryDir>
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
    // Tests of motion choose it; only the one about the desktop reads it.
    void init() { Motion::overrideReduced(false); }

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

    // A second toast while the card shows (or is going) fits the card to its
    // longer text, in the same corner.
    void secondToastFitsItsText_data()
    {
        QTest::addColumn<bool>("leaving");
        QTest::newRow("shown") << false;
        QTest::newRow("fading out") << true;
    }

    void secondToastFitsItsText()
    {
        QFETCH(bool, leaving);
        Motion::overrideEnabled(leaving);
        ManualSaveClock clock;
        QWidget pane;
        pane.resize(600, 400);
        auto *host = new PublishToastHost(&m_notifications, &pane, &clock);
        host->setGeometry(pane.rect());
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane, TestWaits::limitMs));
        PublishToast::post(&m_notifications, u"Article published"_s, QUrl(u"http://x/p/a/"_s));
        QWidget *card = host->card();
        if (leaving) {
            Motion::running(card, "pos")->setCurrentTime(1000);
            Motion::runningFade(card)->setCurrentTime(1000);
            host->dismiss();
            Motion::running(card, "pos")->setCurrentTime(100);
        }
        const int before = card->width();
        PublishToast::post(&m_notifications, u"Changes published"_s, QUrl(u"http://x/p/a/"_s));
        if (QPropertyAnimation *fade = Motion::runningFade(card))
            fade->setCurrentTime(fade->duration());
        if (QPropertyAnimation *slide = Motion::running(card, "pos"))
            slide->setCurrentTime(slide->duration());
        QVERIFY(card->isVisible());
        QVERIFY(card->width() > before);
        QCOMPARE(card->geometry(),
                 QRect(QPoint(600 - 16 - card->sizeHint().width(), 400 - 16 - card->sizeHint().height()),
                       card->sizeHint()));
        const QLabel *text = nullptr;
        for (const QLabel *label : card->findChildren<QLabel *>())
            text = label->text() == u"Changes published" ? label : text;
        QVERIFY(text);
        QVERIFY(text->contentsRect().width() >= text->fontMetrics().horizontalAdvance(text->text()));
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
        QVERIFY(QTest::qWaitForWindowExposed(&pane, TestWaits::limitMs));
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

    // An ordinary desktop gets the slide; one that asks for less motion
    // (GNOME, KDE, or the variable where the desktop has neither) gets the
    // fade alone, the card resting in its place.
    void followsTheDesktopsMotion_data()
    {
        QTest::addColumn<QByteArray>("gnome"); // enable-animations, none when empty
        QTest::addColumn<QByteArray>("kde");   // AnimationDurationFactor, none when empty
        QTest::addColumn<QByteArray>("variable");
        QTest::addColumn<bool>("slides");
        QTest::newRow("no setting") << QByteArray() << QByteArray() << QByteArray() << true;
        QTest::newRow("GNOME animates") << QByteArray("true") << QByteArray() << QByteArray() << true;
        QTest::newRow("GNOME reduces") << QByteArray("false") << QByteArray() << QByteArray() << false;
        QTest::newRow("KDE slower") << QByteArray() << QByteArray("2") << QByteArray() << true;
        QTest::newRow("KDE instant") << QByteArray() << QByteArray("0") << QByteArray() << false;
        QTest::newRow("variable") << QByteArray() << QByteArray() << QByteArray("1") << false;
    }

    void followsTheDesktopsMotion()
    {
        QFETCH(QByteArray, gnome);
        QFETCH(QByteArray, kde);
        QFETCH(QByteArray, variable);
        QFETCH(bool, slides);
        QTemporaryDir config;
        const auto write = [&](const QString &name, const QByteArray &text) {
            QDir(config.path()).mkpath(QFileInfo(config.filePath(name)).path());
            QFile file(config.filePath(name));
            return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
        };
        if (!gnome.isEmpty())
            QVERIFY(write(u"glib-2.0/settings/keyfile"_s,
                          "[org/gnome/desktop/interface]\nenable-animations=" + gnome + "\n"));
        if (!kde.isEmpty())
            QVERIFY(write(u"kdeglobals"_s, "[KDE]\nAnimationDurationFactor=" + kde + "\n"));
        // The machine's own settings stay out of it.
        const QList<QByteArray> names{"XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "GSETTINGS_BACKEND",
                                      "TESSIVO_REDUCE_MOTION"};
        QList<std::optional<QByteArray>> saved;
        for (const QByteArray &name : names)
            saved << (qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
        const auto restore = qScopeGuard([&] {
            for (qsizetype i = 0; i < names.size(); ++i)
                saved[i] ? qputenv(names[i], *saved[i]) : qunsetenv(names[i]);
            Motion::overrideReduced(false);
        });
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
        qputenv("XDG_CONFIG_DIRS", config.filePath(u"system"_s).toUtf8());
        qputenv("GSETTINGS_BACKEND", "keyfile");
        variable.isEmpty() ? qunsetenv("TESSIVO_REDUCE_MOTION") : qputenv("TESSIVO_REDUCE_MOTION", variable);
        Motion::overrideEnabled(std::nullopt);
        Motion::overrideReduced(std::nullopt);

        ManualSaveClock clock;
        QWidget pane;
        pane.resize(600, 400);
        auto *host = new PublishToastHost(&m_notifications, &pane, &clock);
        host->setGeometry(pane.rect());
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane, TestWaits::limitMs));
        PublishToast::post(&m_notifications, u"Article published"_s, QUrl(u"http://x/p/a/"_s));
        QWidget *card = host->card();
        const QPoint rest(600 - 16 - card->width(), 400 - 16 - card->height());
        QPropertyAnimation *fade = Motion::runningFade(card);
        QVERIFY(fade);
        QPropertyAnimation *slide = Motion::running(card, "pos");
        QCOMPARE(bool(slide), slides);
        fade->setCurrentTime(0);
        if (slide)
            slide->setCurrentTime(0);
        QCOMPARE(Motion::opacity(card), 0.0);
        QCOMPARE(card->pos(), slides ? QPoint(rest.x(), 400) : rest);

        host->dismiss();
        QVERIFY(Motion::runningFade(card));
        QCOMPARE(bool(Motion::running(card, "pos")), slides);
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
