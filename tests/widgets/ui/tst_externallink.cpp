#include "widgets/ExternalLink.h"

#include <QMessageBox>
#include <QTest>

class TestExternalLink : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void aLinkNoBrowserTakesIsReportedWithItsAddress()
    {
        QWidget window;
        window.show();
        const QUrl url(QStringLiteral("https://example.com/notes?a=1&b=<2>"));
        QVERIFY(!ExternalLink::open(url, &window, [](const QUrl &) { return false; }));
        auto *box = window.findChild<QMessageBox *>();
        QVERIFY(box && box->isVisible());
        QVERIFY(box->informativeText().contains(QStringLiteral("https://example.com/notes?a=1&b=%3C2%3E")));
    }
};

QTEST_MAIN(TestExternalLink)
#include "tst_externallink.moc"
