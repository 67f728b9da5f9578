// The publish sheet's motion: gaining a link springs the sheet to its new
// height while the link row slides up 6 points and fades in; the Copy
// button's new title fades in. With effects off each is there at once.
#include "../PublishingFixture.h"
#include "app/core/AppNotifications.h"
#include "publishing/PublishSheet.h"
#include "service/core/AuthManager.h"
#include "service/core/Keychain.h"
#include "widgets/Motion.h"

#include <QLayout>
#include <QPropertyAnimation>
#include <QPushButton>

using namespace Qt::StringLiterals;

class TestPublishSheet : public QObject
{
    Q_OBJECT

    PublishingFixture m_fixture;
    std::unique_ptr<AuthManager> m_auth;
    ManualSaveClock m_copyClock;
    AppNotifications m_notifications;

    std::unique_ptr<PublishSheet> open(const QString &documentID)
    {
        auto sheet = std::make_unique<PublishSheet>(documentID, m_fixture.store.get(), &m_notifications,
                                                    m_fixture.service(), m_auth.get(), nullptr, &m_copyClock);
        sheet->show();
        return QTest::qWaitForWindowExposed(sheet.get(), TestWaits::limitMs) ? std::move(sheet) : nullptr;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_fixture.start());
        m_auth = std::make_unique<AuthManager>(AuthManager::Dependencies{m_fixture.client.get(),
                                                                         Keychain(Keychain::inMemory()),
                                                                         m_fixture.store.get(),
                                                                         &m_fixture.settings,
                                                                         {}});
    }

    void cleanupTestCase() { Motion::overrideEnabled(std::nullopt); }
    void init() { Motion::overrideReduced(false); }

    void gainingALinkSprings_data()
    {
        QTest::addColumn<bool>("motion");
        QTest::addColumn<bool>("reduced");
        QTest::newRow("motion") << true << false;
        QTest::newRow("less motion: the row only fades") << true << true;
        QTest::newRow("effects off") << false << false;
    }

    void gainingALinkSprings()
    {
        QFETCH(bool, motion);
        QFETCH(bool, reduced);
        Motion::overrideEnabled(motion);
        Motion::overrideReduced(reduced);
        const Document doc = m_fixture.store->createDocument(std::nullopt, u"Body"_s);
        auto sheet = open(doc.id);
        QVERIFY(sheet);
        QWidget *row = sheet->linkContent();
        QVERIFY(row->isHidden());
        const int before = sheet->height();
        m_fixture.store->setPublishedSlug(u"my-post"_s, doc.id);
        const int after = sheet->layout()->sizeHint().height();
        QVERIFY(after > before);
        QVERIFY(!row->isHidden());
        if (!motion) {
            QVERIFY(!Motion::running(sheet.get(), "sheetHeight") && !Motion::runningFade(row));
            QCOMPARE(sheet->height(), after);
            QCOMPARE(row->pos(), QPoint(0, 0));
            QCOMPARE(Motion::opacity(row), 1.0);
            // Every button of the row is drawn (its title is there).
            for (QPushButton *button : row->findChildren<QPushButton *>()) {
                const QImage face =
                    sheet->grab(QRect(button->mapTo(sheet.get(), QPoint()), button->size())).toImage();
                QSet<QRgb> colours;
                for (int x = 0; x < face.width(); ++x)
                    colours << face.pixel(x, face.height() / 2);
                QVERIFY2(colours.size() > 3, qPrintable(button->text()));
            }
            return;
        }
        const Motion::Spring spring{0.25, 0.85};
        QPropertyAnimation *grow = Motion::running(sheet.get(), "sheetHeight");
        QPropertyAnimation *slide = Motion::running(row, "pos");
        QPropertyAnimation *fade = Motion::runningFade(row);
        QVERIFY(grow && fade);
        QCOMPARE(bool(slide), !reduced);
        QCOMPARE(grow->duration(), Motion::settleMs(spring));
        const auto at = [&](int ms) {
            for (QPropertyAnimation *animation : {grow, slide, fade})
                if (animation)
                    animation->setCurrentTime(ms);
        };
        at(0);
        QCOMPARE(sheet->height(), before);
        QCOMPARE(row->pos(), QPoint(0, reduced ? 0 : 6));
        QCOMPARE(Motion::opacity(row), 0.0);
        at(50);
        const qreal p = Motion::springProgress(spring, 0.05);
        QVERIFY(p > 0.2 && p < 0.9);
        QVERIFY(qAbs(sheet->height() - (before + (after - before) * p)) <= 1);
        QVERIFY(qAbs(row->pos().y() - (reduced ? 0 : 6) * (1 - p)) <= 1);
        QVERIFY(qAbs(Motion::opacity(row) - p) < 0.01);
        at(grow->duration());
        QCOMPARE(sheet->height(), after);
        QCOMPARE(row->pos(), QPoint(0, 0));
        QCOMPARE(Motion::opacity(row), 1.0);
    }

    void copyTitleFades_data()
    {
        QTest::addColumn<bool>("motion");
        QTest::newRow("motion") << true;
        QTest::newRow("effects off") << false;
    }

    void copyTitleFades()
    {
        QFETCH(bool, motion);
        Motion::overrideEnabled(motion);
        const Document doc = m_fixture.store->createDocument(std::nullopt, u"Body"_s);
        m_fixture.store->setPublishedSlug(u"copied-%1"_s.arg(int(motion)), doc.id);
        auto sheet = open(doc.id);
        QVERIFY(sheet);
        QPushButton *copy = sheet->copyButton();
        copy->click();
        QCOMPARE(copy->text(), u"Copied"_s);
        const auto opacity = [&] { return sheet->property("copyTitleOpacity").toReal(); };
        const auto alpha = [&] { return copy->palette().color(QPalette::ButtonText).alphaF(); };
        const qreal full = sheet->palette().color(QPalette::ButtonText).alphaF();
        QPropertyAnimation *fade = Motion::running(sheet.get(), "copyTitleOpacity");
        if (!motion) {
            QVERIFY(!fade);
            QCOMPARE(opacity(), 1.0);
            QCOMPARE(alpha(), full);
            return;
        }
        QVERIFY(fade);
        QCOMPARE(fade->duration(), 150);
        fade->setCurrentTime(0);
        QCOMPARE(opacity(), 0.0);
        QCOMPARE(alpha(), 0.0f);
        fade->setCurrentTime(75);
        QVERIFY(qAbs(opacity() - Motion::easeOut().valueForProgress(0.5)) < 0.01);
        QVERIFY(qAbs(alpha() - full * opacity()) < 0.01);
        fade->setCurrentTime(150);
        QCOMPARE(opacity(), 1.0);
        QCOMPARE(alpha(), full);
    }
};

QTEST_MAIN(TestPublishSheet)
#include "tst_publishsheet.moc"
