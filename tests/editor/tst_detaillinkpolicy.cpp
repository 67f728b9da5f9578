// What the preview lets a navigation do.

#include "editor/core/DetailLinkPolicy.h"

#include <QTest>

using namespace Qt::StringLiterals;
using Action = DetailLinkPolicy::Action;

class TestDetailLinkPolicy final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void linkPolicy_data()
    {
        const QUrl page = QUrl::fromLocalFile(u"/opt/tessivo/Preview/index.html"_s);
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<bool>("linkClick");
        QTest::addColumn<QUrl>("page");
        QTest::addColumn<Action>("action");
        QTest::addColumn<QString>("value");

        QTest::newRow("wiki link to a document")
            << QUrl(u"zv-doc:/?id=abc-123"_s) << true << page << Action::openDocument << u"abc-123"_s;
        QTest::newRow("wiki link to a missing document") << QUrl(u"ZV-NEW:/?title=New%20Note"_s) << true
                                                         << page << Action::offerNewDocument << u"New Note"_s;
        QTest::newRow("wiki link without id")
            << QUrl(u"zv-doc:/?id="_s) << true << page << Action::refuse << u""_s;
        QTest::newRow("https") << QUrl(u"https://example.com/a"_s) << true << page << Action::openExternally
                               << u"https://example.com/a"_s;
        QTest::newRow("mailto") << QUrl(u"mailto:a@example.com"_s) << true << page << Action::openExternally
                                << u"mailto:a@example.com"_s;
        QTest::newRow("footnote") << QUrl(page.toString() + u"#fn-1"_s) << true << page
                                  << Action::scrollWithinPage << u"fn-1"_s;
        QTest::newRow("link to the bare page") << page << true << page << Action::refuse << u""_s;
        QTest::newRow("another local file")
            << QUrl::fromLocalFile(u"/etc/passwd"_s) << true << page << Action::refuse << u""_s;
        QTest::newRow("other scheme")
            << QUrl(u"vscode://open?x=1"_s) << true << page << Action::refuse << u""_s;
        QTest::newRow("javascript url")
            << QUrl(u"javascript:alert(1)"_s) << true << page << Action::refuse << u""_s;
        QTest::newRow("page load") << page << false << page << Action::loadPage << u""_s;
        QTest::newRow("script navigation to the web")
            << QUrl(u"https://example.com/"_s) << false << page << Action::refuse << u""_s;
        QTest::newRow("script navigation to another file")
            << QUrl::fromLocalFile(u"/tmp/x.html"_s) << false << page << Action::refuse << u""_s;
        QTest::newRow("script navigation to a wiki url")
            << QUrl(u"zv-doc:/?id=a"_s) << false << page << Action::refuse << u""_s;
    }

    void linkPolicy()
    {
        QFETCH(QUrl, url);
        QFETCH(bool, linkClick);
        QFETCH(QUrl, page);
        QFETCH(Action, action);
        QFETCH(QString, value);
        const auto decision = DetailLinkPolicy::decide(url, linkClick, page);
        QCOMPARE(decision.action, action);
        QCOMPARE(decision.value, value);
        QCOMPARE(decision.allowsNavigation(),
                 action == Action::loadPage || action == Action::scrollWithinPage);
    }
};

QTEST_GUILESS_MAIN(TestDetailLinkPolicy)
#include "tst_detaillinkpolicy.moc"
