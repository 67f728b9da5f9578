#include "store/ManualSaveClock.h"

#include "app/core/AppNotifications.h"
#include "publishing/PublishToastHost.h"
#include "publishing/core/PublishToast.h"

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
    // The card stays five seconds after the last toast and shows the last
    // one; a toast it cannot read changes nothing; only the card takes
    // clicks; "View post" opens the link and hides the card at once.
    void showsTheLastToastForFiveSeconds()
    {
        QDesktopServices::setUrlHandler(u"http"_s, this, "open");
        ManualSaveClock clock;
        QWidget pane;
        pane.resize(600, 400);
        auto *host = new PublishToastHost(&pane, &clock);
        host->setGeometry(pane.rect());
        pane.show();

        const QUrl a(u"http://x/p/a/"_s), b(u"http://x/p/b/"_s);
        AppNotifications::post(AppNotifications::publishToast,
                               {{PublishToast::messageKey, u"Text"_s}, {PublishToast::urlKey, a.toString()}});
        QVERIFY(!host->isShowing());
        PublishToast::post(u"Article published"_s, a);
        clock.advance(3000);
        PublishToast::post(u"Changes published"_s, b);
        clock.advance(4999);
        QVERIFY(host->isShowing() && host->message() == u"Changes published"_s);
        QVERIFY(!pane.childAt(10, 10) && pane.childAt(host->card()->geometry().center()));
        clock.advance(1);
        QVERIFY(!host->isShowing());

        PublishToast::post(u"Changes published"_s, a);
        host->viewButton()->click();
        QVERIFY(m_opened == QList<QUrl>{a} && !host->isShowing());
    }
};

QTEST_MAIN(TestPublishToastHost)
#include "tst_publishtoasthost.moc"
