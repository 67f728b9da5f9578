#include "widgets/ExternalLink.h"

#include <QMessageBox>
#include <QTest>

using namespace Qt::StringLiterals;

class TestExternalLink : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void aLinkNoBrowserTakesIsReportedWithItsAddress()
    {
        QWidget window;
        window.show();
        const QUrl url(u"https://example.com/notes?a=1&b=<2>"_s);
        QVERIFY(!ExternalLink::open(url, &window, [](const QUrl &) { return false; }));
        auto *box = window.findChild<QMessageBox *>();
        QVERIFY(box && box->isVisible());
        QVERIFY(box->informativeText().contains(u"https://example.com/notes?a=1&b=%3C2%3E"_s));
    }
};

QTEST_MAIN(TestExternalLink)
#include "tst_externallink.moc"
