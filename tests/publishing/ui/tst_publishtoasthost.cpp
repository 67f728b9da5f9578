#include "store/ManualSaveClock.h"

#include "publishing/PublishToastHost.h"
#include "publishing/core/PublishToast.h"
#include "shell/core/AppNotifications.h"

#include <QDesktopServices>
#include <QPushButton>
#include <QTest>

using namespace Qt::StringLiterals;

class TestPublishToastHost : public QObject
{
    Q_OBJECT

    QList<QUrl> m_opened;

public Q_SLOTS:
    void open(const QUrl &url) { m_opened << url; }

private Q_SLOTS:
    void initTestCase() { QDesktopServices::setUrlHandler(u"http"_s, this, "open"); }

    // The card stays five seconds after the last toast and shows the last
    // one; a toast it cannot read changes nothing.
    void showsTheLastToastForFiveSeconds()
    {
        ManualSaveClock clock;
        QWidget pane;
        pane.resize(600, 400);
        auto *host = new PublishToastHost(&pane, &clock);
        host->setGeometry(pane.rect());
        pane.show();

        AppNotifications::post(
            AppNotifications::publishToast,
            {{PublishToast::messageKey, u"Article published"_s}, {PublishToast::urlKey, u"http://x/p/a/"_s}});
        QVERIFY(!host->isShowing());
        PublishToast::post(u"Article published"_s, QUrl(u"http://x/p/a/"_s));
        clock.advance(3000);
        PublishToast::post(u"Changes published"_s, QUrl(u"http://x/p/b/"_s));
        clock.advance(4999);
        QVERIFY(host->isShowing() && host->card()->isVisible());
        QCOMPARE(host->message(), u"Changes published"_s);
        // Only the card takes clicks.
        QCOMPARE(pane.childAt(10, 10), nullptr);
        QVERIFY(pane.childAt(host->card()->geometry().center()));
        clock.advance(1);
        QVERIFY(!host->isShowing());

        PublishToast::post(u"Changes published"_s, QUrl(u"http://x/p/c/"_s));
        host->viewButton()->click();
        QCOMPARE(m_opened, QList<QUrl>{QUrl(u"http://x/p/c/"_s)});
        QVERIFY(!host->isShowing());
        clock.advance(5000);
        QVERIFY(!host->isShowing());
    }
};

QTEST_MAIN(TestPublishToastHost)
#include "tst_publishtoasthost.moc"
