#include <QStandardPaths>
#include <QTest>

#include "shell/core/StandaloneHtml.h"

class TestStandaloneHtml final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("TessivoTests"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_standalonehtml"));
        QStandardPaths::setTestModeEnabled(true);
    }

    void titleEscapedBodyKept_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("html");
        QTest::addColumn<QString>("escapedTitle");
        QTest::newRow("empty") << QString() << QString() << QString();
        QTest::newRow("the fragment's own line feed kept")
            << QStringLiteral("Notes") << QStringLiteral("<p>Hi</p>\n") << QStringLiteral("Notes");
        QTest::newRow("markup characters in order")
            << QStringLiteral("&<>") << QStringLiteral("<p>x</p>") << QStringLiteral("&amp;&lt;&gt;");
        QTest::newRow("entity escaped again")
            << QStringLiteral("a &lt; b") << QString() << QStringLiteral("a &amp;lt; b");
        QTest::newRow("quotes untouched")
            << QStringLiteral("\"it's\"") << QString() << QStringLiteral("\"it's\"");
        QTest::newRow("line break and non-ASCII kept, not trimmed")
            << QStringLiteral(" Crème\r\nbrûlée ") << QString() << QStringLiteral(" Crème\r\nbrûlée ");
        QTest::newRow("in-app links and math untouched")
            << QStringLiteral("T")
            << QStringLiteral("<a href=\"zv-doc:/?id=1\" class=\"wiki-link\">x</a><span class=\"math\" "
                              "data-display=\"0\">a&lt;b</span>")
            << QStringLiteral("T");
    }

    void titleEscapedBodyKept()
    {
        QFETCH(QString, title);
        QFETCH(QString, html);
        QFETCH(QString, escapedTitle);
        const QString page = standaloneHTML(title, html);
        QVERIFY(page.startsWith(QStringLiteral("<!doctype html>\n")));
        QVERIFY(page.contains(QStringLiteral("<meta charset=\"utf-8\">")));
        QCOMPARE(page.count(QStringLiteral("<title>")), 1);
        QVERIFY(!page.contains(u'\r') || title.contains(u'\r'));
        QVERIFY(page.contains(QStringLiteral("<title>") + escapedTitle + QStringLiteral("</title>\n")));
        QVERIFY(page.contains(QStringLiteral("<body>\n") + html + QStringLiteral("\n</body>\n</html>")));
        QVERIFY(page.endsWith(QStringLiteral("</html>")));
    }
};

QTEST_GUILESS_MAIN(TestStandaloneHtml)
#include "tst_standalonehtml.moc"
