#include <QStandardPaths>
#include <QTest>

#include "shell/core/StandaloneHtml.h"

namespace {

const QString kHead =
    QStringLiteral("<!doctype html>\n"
                   "<html lang=\"en\">\n"
                   "<head>\n"
                   "<meta charset=\"utf-8\">\n"
                   "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                   "<title>");

} // namespace

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

    void wholePage()
    {
        const QString page = standaloneHTML(QStringLiteral("Notes"), QStringLiteral("<p>Hi</p>\n"));
        const QStringList lines = page.split(u'\n');
        const QStringList expected = {
            QStringLiteral("<!doctype html>"),
            QStringLiteral("<html lang=\"en\">"),
            QStringLiteral("<head>"),
            QStringLiteral("<meta charset=\"utf-8\">"),
            QStringLiteral("<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"),
            QStringLiteral("<title>Notes</title>"),
            QStringLiteral("<style>"),
            QStringLiteral("body { max-width: 42rem; margin: 3rem auto; padding: 0 1.5rem; font: 16px/1.6 "
                           "-apple-system, system-ui, sans-serif; color: #111; }"),
            QStringLiteral(
                "pre { overflow-x: auto; padding: 1rem; background: #f5f5f5; border-radius: 8px; }"),
            QStringLiteral("code { font-family: ui-monospace, Menlo, monospace; font-size: 0.9em; }"),
            QStringLiteral("img { max-width: 100%; }"),
            QStringLiteral("</style>"),
            QStringLiteral("</head>"),
            QStringLiteral("<body>"),
            QStringLiteral("<p>Hi</p>"),
            QString(), // the fragment's own line feed, then the closing one
            QStringLiteral("</body>"),
            QStringLiteral("</html>"),
        };
        QCOMPARE(lines, expected);
        QVERIFY(page.startsWith(kHead));
        QCOMPARE(kHead.toUtf8().size(), 139);
    }

    void sizes_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("html");
        QTest::addColumn<QString>("escapedTitle");
        QTest::newRow("empty") << QString() << QString() << QString();
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

    void sizes()
    {
        QFETCH(QString, title);
        QFETCH(QString, html);
        QFETCH(QString, escapedTitle);
        const QString page = standaloneHTML(title, html);
        QCOMPARE(page.toUtf8().size(), 506 + escapedTitle.toUtf8().size() + html.toUtf8().size());
        QVERIFY(page.contains(QStringLiteral("<title>") + escapedTitle + QStringLiteral("</title>\n")));
        QVERIFY(page.contains(QStringLiteral("<body>\n") + html + QStringLiteral("\n</body>\n</html>")));
        QVERIFY(page.endsWith(QStringLiteral("</html>")));
        QCOMPARE(page, standaloneHTML(title, html));
    }

    void noCarriageReturnOfItsOwn()
    {
        QVERIFY(!standaloneHTML(QStringLiteral("t"), QStringLiteral("<p>a</p>")).contains(u'\r'));
    }

    void exportFormats()
    {
        QCOMPARE(fileExtension(ExportFormat::Markdown), QStringLiteral("md"));
        QCOMPARE(fileExtension(ExportFormat::Html), QStringLiteral("html"));
    }
};

QTEST_GUILESS_MAIN(TestStandaloneHtml)
#include "tst_standalonehtml.moc"
