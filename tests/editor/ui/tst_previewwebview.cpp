// The preview web view: content delivery, link policy, hostile documents and
// drops, against the real preview page.

#include "editor/DropRoutingWebView.h"
#include "editor/FileDrop.h"
#include "editor/PreviewPage.h"
#include "editor/PreviewProfile.h"
#include "editor/PreviewWebView.h"
#include "store/DocumentStore.h"

#include "PageScript.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWebEngineProfile>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

QString contentHtml(QWebEnginePage *page)
{
    return evaluate(page, u"document.getElementById('content').innerHTML"_s).toString();
}

} // namespace

class TestPreviewWebView final : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    PreviewProfile m_profile; // outlives every page
    std::unique_ptr<PreviewWebView> m_shared;
    PreviewWebView *m_preview = nullptr;
    std::unique_ptr<DocumentStore> m_ownStore;
    DocumentStore *m_store = nullptr;
    QList<QUrl> m_opened;
    QStringList m_prompts;
    bool m_promptAnswer = false;

    std::unique_ptr<PreviewWebView> loadedPreview()
    {
        auto preview = std::make_unique<PreviewWebView>(&m_profile, m_store, nullptr,
                                                        PreviewPage::Strategies{
                                                            [this](const QUrl &url) { m_opened << url; },
                                                            [this](const QString &title) {
                                                                m_prompts << title;
                                                                return m_promptAnswer;
                                                            },
                                                        });
        preview->resize(800, 600);
        preview->show();
        if (!QTest::qWaitFor([&] { return preview->page()->isLoaded(); }, TestWaits::limitMs))
            return nullptr;
        return preview;
    }

    void click(PreviewWebView *preview, const QString &selector)
    {
        // A real click of the mouse on the element, as the user would: once
        // the page has drawn a frame of what it was given, as only then does
        // the click land on it.
        evaluate(preview->page(), u"window.framed=false;requestAnimationFrame(function(){"
                                  "requestAnimationFrame(function(){window.framed=true;});});"_s);
        QTRY_VERIFY_WITH_TIMEOUT(evaluate(preview->page(), u"window.framed"_s).toBool(), TestWaits::limitMs);
        const QVariantList box =
            evaluate(preview->page(), u"(function(){var e=document.querySelector('%1');"
                                      "if(!e)return [];e.scrollIntoView({block:'center'});"
                                      "var r=e.getBoundingClientRect();"
                                      "return [r.left+r.width/2, r.top+r.height/2];})()"_s.arg(selector))
                .toList();
        QVERIFY2(box.size() == 2, qPrintable(u"no element "_s + selector));
        QWidget *surface = preview->webView()->focusProxy();
        QVERIFY(surface);
        const QPoint at(qRound(box.at(0).toDouble()), qRound(box.at(1).toDouble()));
        QTest::mouseClick(surface, Qt::LeftButton, Qt::NoModifier, at);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(u"TessivoTests"_s);
        QCoreApplication::setApplicationName(u"tst_previewwebview"_s);
        // Drawn in software, as the app draws it.
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        PreviewWebView::setResourceFolder(QStringLiteral(TESSIVO_BUILD_DIR "/Tessivo/Preview"));
        QVERIFY2(!PreviewWebView::resourceFolder().isEmpty(), "the preview page is not in the build tree");
        m_ownStore = std::make_unique<DocumentStore>(m_dir->filePath(u"base"_s), nullptr);
        m_store = m_ownStore.get();
        m_store->load();
        QTRY_VERIFY(m_store->isLoaded());
    }

    void init()
    {
        m_opened.clear();
        m_prompts.clear();
        m_promptAnswer = false;
        // Starting a web view takes seconds; the link and content tests share one.
        if (!m_shared)
            m_shared = loadedPreview();
        QVERIFY(m_shared);
        m_preview = m_shared.get();
        m_preview->setHtml(QString());
        evaluate(m_preview->page(), u"window.scrollTo(0, 0)"_s);
    }

    void cleanupTestCase() { m_shared.reset(); }

    void engineStartsAfterTheFirstPaint()
    {
        // The window shows before the web engine loads: the preview starts
        // it once painted, and the content set before then arrives.
        QWidget window;
        window.resize(600, 400);
        auto *preview = new PreviewWebView(&m_profile, m_store, &window);
        preview->resize(600, 400);
        preview->setHtml(u"<p>early</p>"_s);
        QVERIFY(!preview->hasStartedEngine());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window, TestWaits::limitMs));
        QTRY_VERIFY(preview->hasStartedEngine());
        QTRY_VERIFY_WITH_TIMEOUT(preview->page()->isLoaded(), TestWaits::limitMs);
        QTRY_COMPARE(contentHtml(preview->page()), u"<p>early</p>"_s);

        // A preview that never shows never starts one.
        PreviewWebView hidden(&m_profile, m_store);
        hidden.setHtml(u"<p>x</p>"_s);
        QCoreApplication::processEvents();
        QVERIFY(!hidden.hasStartedEngine());
    }

    void contentQueuedBeforeLoadIsDeliveredOnce()
    {
        PreviewWebView preview(&m_profile, m_store);
        QSignalSpy sent(preview.page(), &PreviewPage::contentSent);
        preview.setHtml(u"<p>first</p>"_s);
        preview.setHtml(u"<p>second</p>"_s);
        QVERIFY(!preview.page()->isLoaded());
        QCOMPARE(sent.count(), 0);

        QTRY_VERIFY_WITH_TIMEOUT(preview.page()->isLoaded(), TestWaits::limitMs);
        QCOMPARE(sent.count(), 1);
        QCOMPARE(sent.at(0).at(0).toString(), u"<p>second</p>"_s);
        QCOMPARE(contentHtml(preview.page()), u"<p>second</p>"_s);
    }

    void unchangedContentIsNotSentAgain()
    {
        QSignalSpy sent(m_preview->page(), &PreviewPage::contentSent);
        const QString html = u"<h1>Title</h1>\n<p>Quote \" backslash \\ and \u2028 line</p>\n"_s;
        m_preview->setHtml(html);
        m_preview->setHtml(html);
        QCOMPARE(sent.count(), 1);
        QCOMPARE(contentHtml(m_preview->page()),
                 u"<h1>Title</h1>\n<p>Quote \" backslash \\ and \u2028 line</p>\n"_s);

        // An empty render (the renderer failed) still replaces the content.
        m_preview->setHtml(QString());
        QCOMPARE(sent.count(), 2);
        QCOMPARE(contentHtml(m_preview->page()), QString());
    }

    void linkClicks_data()
    {
        QTest::addColumn<QString>("href");
        QTest::addColumn<bool>("opens");   // in the browser
        QTest::addColumn<bool>("selects"); // the live document
        QTest::newRow("existing document is selected") << u"zv-doc:/?id={live}"_s << false << true;
        QTest::newRow("deleted document does nothing") << u"zv-doc:/?id={deleted}"_s << false << false;
        QTest::newRow("unknown id does nothing") << u"zv-doc:/?id=no-such-id"_s << false << false;
        QTest::newRow("https opens in the browser") << u"https://example.com/page?q=1"_s << true << false;
        QTest::newRow("mailto opens the mail client") << u"mailto:someone@example.com"_s << true << false;
        QTest::newRow("file is refused") << u"file:///etc/passwd"_s << false << false;
        QTest::newRow("custom scheme is refused") << u"vscode://open?x=1"_s << false << false;
    }

    void linkClicks()
    {
        QFETCH(QString, href);
        QFETCH(bool, opens);
        QFETCH(bool, selects);
        const Document shown = m_store->createDocument(std::nullopt, u"# Shown"_s);
        const Document live = m_store->createDocument(std::nullopt, u"# Live"_s);
        const Document deleted = m_store->createDocument(std::nullopt, u"# Gone"_s);
        m_store->deleteDocument(deleted.id);
        m_store->setActiveDocumentID(shown.id);
        href.replace(u"{live}"_s, live.id).replace(u"{deleted}"_s, deleted.id);
        const QString html = u"<p><a id=\"x\" href=\"%1\">out</a></p>"_s.arg(href);
        m_preview->setHtml(html);
        QSignalSpy refused(m_preview->page(), &PreviewPage::navigationRefused);
        click(m_preview, u"#x"_s);
        QVERIFY(refused.wait(TestWaits::limitMs));
        QCOMPARE(refused.at(0).at(0).toUrl().scheme(), QUrl(href).scheme());
        if (opens)
            QTRY_COMPARE(m_opened, QList<QUrl>{QUrl(href)});
        if (selects)
            QTRY_COMPARE(m_store->activeDocumentID(), live.id);
        QCoreApplication::processEvents(); // the action is queued behind the engine's callback
        QCOMPARE(m_opened.size(), opens ? 1 : 0);
        QCOMPARE(m_store->activeDocumentID(), selects ? live.id : shown.id);
        // The preview stays on its page with its content.
        QCOMPARE(m_preview->page()->url().fileName(), u"index.html"_s);
        QCOMPARE(contentHtml(m_preview->page()), html);
    }

    void missingDocumentLink_data()
    {
        QTest::addColumn<bool>("answer");
        QTest::addColumn<bool>("activeFiled");

        QTest::newRow("create, in the active document's collection") << true << true;
        QTest::newRow("create, active document unfiled") << true << false;
        QTest::newRow("cancel") << false << false;
    }

    void missingDocumentLink()
    {
        QFETCH(bool, answer);
        QFETCH(bool, activeFiled);

        std::optional<QString> collection;
        if (activeFiled) {
            const auto made = m_store->createCollection(u"Notes"_s);
            QVERIFY(made);
            collection = made->id;
        }
        const Document active = m_store->createDocument(collection, u"# Active"_s);
        const qsizetype before = m_store->documents().size();
        m_promptAnswer = answer;

        m_preview->setHtml(u"<p><a id=\"m\" href=\"zv-new:/?title=Project%20Plan%20%C3%A9\" "
                           "class=\"wiki-link wiki-link--missing\">Project Plan</a></p>"_s);
        click(m_preview, u"#m"_s);
        QTRY_COMPARE(m_prompts.size(), 1);
        QCOMPARE(m_prompts.at(0), u"Project Plan \u00E9"_s);

        if (!answer) {
            QCOMPARE(m_store->documents().size(), before);
            QCOMPARE(m_store->activeDocumentID(), active.id);
            return;
        }
        QCOMPARE(m_store->documents().size(), before + 1);
        const auto created = m_store->activeDocument();
        QVERIFY(created);
        QVERIFY(created->id != active.id);
        QVERIFY(created->body.startsWith(u"# Project Plan \u00E9"_s));
        QCOMPARE(created->collectionId, collection);
    }

    void missingDocumentAlertShowsTheTitleAsWritten()
    {
        PreviewPage page(&m_profile, m_store);
        const QString title = u"<h1>Big</h1><img src=file:///etc/hosts>"_s;
        QStringList shown;
        QTimer::singleShot(0, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            for (QLabel *label : box->findChildren<QLabel *>()) {
                if (!label->text().isEmpty())
                    shown << (label->textFormat() == Qt::PlainText ? label->text() : u"<rich>"_s);
            }
            box->reject();
        });
        page.openMissingDocumentLink(title);
        QVERIFY(!shown.isEmpty());
        QVERIFY2(!shown.contains(u"<rich>"_s), qPrintable(shown.join(u'|')));
        QVERIFY(shown.constFirst().contains(title));
    }

    void scriptNavigationToTheWebIsCancelled()
    {
        // A view the user has not clicked in yet.
        auto preview = loadedPreview();
        QVERIFY(preview);
        preview->setHtml(u"<p id=\"kept\">kept</p>"_s);
        QSignalSpy refused(preview->page(), &PreviewPage::navigationRefused);
        preview->page()->runJavaScript(u"window.location.href = 'https://example.com/elsewhere';"_s);
        QVERIFY(refused.wait(TestWaits::limitMs));
        QCOMPARE(refused.at(0).at(0).toUrl(), QUrl(u"https://example.com/elsewhere"_s));
        QCOMPARE(preview->page()->url().fileName(), u"index.html"_s);
        QCOMPARE(contentHtml(preview->page()), u"<p id=\"kept\">kept</p>"_s);
        QVERIFY(m_opened.isEmpty());
    }

    void footnoteLinkScrollsWithinThePage()
    {
        QString html = u"<p>See<sup><a id=\"ref\" href=\"#fn-1\">1</a></sup></p>"_s;
        for (int i = 0; i < 200; ++i)
            html += u"<p>filler paragraph</p>"_s;
        html += u"<section class=\"footnotes\"><ol><li id=\"fn-1\"><p>The note</p></li></ol></section>"_s;
        m_preview->setHtml(html);
        QSignalSpy sent(m_preview->page(), &PreviewPage::contentSent);
        click(m_preview, u"#ref"_s);
        QTRY_VERIFY_WITH_TIMEOUT(evaluate(m_preview->page(), u"window.scrollY"_s).toDouble() > 100,
                                 TestWaits::limitMs);
        QCOMPARE(m_preview->page()->url().adjusted(QUrl::RemoveFragment).fileName(), u"index.html"_s);
        QVERIFY(contentHtml(m_preview->page()).contains(u"The note"_s));
        QVERIFY(m_opened.isEmpty());
    }

    void hostileDocumentRunsNoScript()
    {
        const QString title = evaluate(m_preview->page(), u"document.title"_s).toString();
        QVERIFY(!title.isEmpty());
        m_preview->setHtml(u"<p>raw <b>html</b> is kept</p>"
                           "<img id=\"bad\" src=\"x\" onerror=\"document.title='onerror'\">"
                           "<script>document.title='script';</script>"
                           "<svg><script>document.title='svg-script'</script></svg>"
                           "<svg onload=\"document.title='svg-onload'\"></svg>"
                           "<div id=\"hover\" onclick=\"document.title='onclick'\">click me</div>"
                           "<a id=\"js\" href=\"javascript:document.title='javascript-url'\">js</a>"
                           "<iframe srcdoc=\"<script>parent.document.title='iframe'</script>\"></iframe>"
                           "<object data=\"javascript:document.title='object'\"></object>"_s);
        click(m_preview, u"#hover"_s);
        click(m_preview, u"#js"_s);
        // Give the broken image its chance to fail and fire its handler.
        QTRY_VERIFY(evaluate(m_preview->page(), u"document.getElementById('bad').complete"_s).toBool());
        QCOMPARE(evaluate(m_preview->page(), u"document.title"_s).toString(), title);
        QCOMPARE(
            evaluate(m_preview->page(), u"document.querySelector('#content b').textContent"_s).toString(),
            u"html"_s);
        QCOMPARE(evaluate(m_preview->page(),
                          u"document.querySelectorAll('#content script, #content iframe').length"_s)
                     .toInt(),
                 0);
    }

    void remoteResourcesAreNeverRequested()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        const QString base = u"http://127.0.0.1:%1"_s.arg(server.serverPort());

        m_preview->setHtml(
            u"<img id=\"remote\" src=\"%1/pixel.png\">"
            "<link rel=\"stylesheet\" href=\"%1/style.css\">"
            "<video src=\"%1/movie.mp4\"></video>"
            "<div style=\"background-image:url('%1/bg.png');width:10px;height:10px\"></div>"_s.arg(base));
        QTRY_VERIFY(evaluate(m_preview->page(), u"document.getElementById('remote').complete"_s).toBool());
        // A request would have had to connect by now: the image gave up.
        QVERIFY(!server.waitForNewConnection(300));
        QVERIFY(!server.hasPendingConnections());
    }

    void mathIsTypeset()
    {
        m_preview->setHtml(u"<p>Euler: <span class=\"math\" data-display=\"0\">e^{i\\pi}+1=0</span></p>"
                           "<span class=\"math\" data-display=\"1\">\\int_0^1 x\\,dx</span>"_s);
        const auto count = [&](const QString &selector) {
            return evaluate(m_preview->page(), u"document.querySelectorAll('%1').length"_s.arg(selector))
                .toInt();
        };
        QCOMPARE(count(u"span.math .katex"_s), 2);
        QCOMPARE(count(u"span.math .katex-display"_s), 1);
    }

    void updatesMatchAFreshPage()
    {
        // The page replaces only the blocks that changed; whatever the edits, it
        // must end up showing exactly what a fresh page shows for the last text.
        const QStringList steps{
            u"<h1>T</h1>\n<p>a <span class=\"math\" data-display=\"0\">x^2</span></p>\n<p>b</p>\n<p>c</p>\n"_s,
            u"<h1>T</h1>\n<p>a <span class=\"math\" data-display=\"0\">x^3</span></p>\n<p>b</p>\n<p>c</p>\n"_s,
            u"<h1>T!</h1>\n<p>a <span class=\"math\" data-display=\"0\">x^3</span></p>\n<p>b</p>\n<p>c</p>\n"_s,
            u"<h1>T!</h1>\n<p>b</p>\n<p>c</p>\n"_s,
            u"<h1>T!</h1>\n<p>b</p>\n<script>document.title='x'</script>\n<p>c</p>\n<p>d</p>\n"_s,
            u"<h1>T!</h1>\n<p>b2</p>\n<script>document.title='x'</script>\n<p>c</p>\n<p>d</p>\n"_s,
            u"<h1>T!</h1>\n<p>b2</p>\n<script>document.title='y'</script>\n<p>c</p>\n<p>d</p>\n"_s,
            u"<h1>T!</h1>\n<p>b2</p>\n<p>c</p>\n<p>d</p>\n<p>e</p>\n"_s,
            u"<p>c</p>\n<ul>\n<li>one</li>\n<li>two</li>\n</ul>\n<p>d</p>\n<p>e</p>\n"_s,
            u"<p>c</p>\n<ul>\n<li>one</li>\n<li>two <em>2</em></li>\n</ul>\n<p>d</p>\n<p>e</p>\n"_s,
            // Raw HTML that leaves an element open takes in what follows.
            u"<p>c</p>\n<div class=\"box\">\n<p>d</p>\n<p>e</p>\n"_s,
            u"<p>c</p>\n<div class=\"box\">\n<p>d!</p>\n<p>e</p>\n"_s,
            u"<p>c</p>\n<div class=\"box\"></div>\n<p>d!</p>\n<p>e</p>\n"_s,
            u"<p>c</p>\nx<div class=\"box\"></div>\n<p>d!</p>\n<!-- <p>e</p>\n"_s,
            u"<p>c</p>\nx<div class=\"box\"></div>\n<p>d!</p>\n<!-- <p>e</p> -->\n<p>f</p>\n"_s,
            u"<p><b>c</p>\n<p>d</p>\n<table>\n<tr><td>1</td></tr>\n</table>\n<p>f</p>\n"_s,
            u"<p><b>c</b></p>\n<p>d</p>\n<table>\n<tr><td>1</td></tr>\n</table>\n<p>f</p>\n"_s,
            u"<p><b>c</b></p>\n<p>d</p>\n<table>\nt<tr><td>12</td></tr>\n</table>\n<p>f</p>\n"_s,
            u"<p><b>c</b></p>\n<td>d</td>\n<pre>\n<code>x</code></pre>\n<p>f</p>\n"_s,
        };
        auto preview = loadedPreview();
        QVERIFY(preview);
        auto fresh = loadedPreview();
        QVERIFY(fresh);
        for (const QString &html : steps) {
            preview->setHtml(html);
            fresh->setHtml(QString());
            fresh->setHtml(html);
            const QString shown = contentHtml(preview->page());
            QCOMPARE(shown, contentHtml(fresh->page()));
            // The page parses block by block: the result is what one parse of
            // the whole fragment gives (less the scripts; math is typeset).
            if (!html.contains(u"math"_s)) {
                const QString whole =
                    evaluate(preview->page(),
                             u"(function(h){var t=document.createElement('template');t.innerHTML=h;"
                             "t.content.querySelectorAll('script').forEach(function(e){e.remove();});"
                             "return t.innerHTML;})(%1[0])"_s.arg(QString::fromUtf8(
                                 QJsonDocument(QJsonArray{html}).toJson(QJsonDocument::Compact))))
                        .toString();
                QCOMPARE(shown, whole);
            }
        }
        QVERIFY(!contentHtml(preview->page()).contains(u"script"_s));
    }

    void drops_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<bool>("accepted");

        QTest::newRow("markdown file is imported") << u"dropped.md"_s << true;
        QTest::newRow("pdf is refused") << u"paper.pdf"_s << false;
    }

    void drops()
    {
        QFETCH(QString, fileName);
        QFETCH(bool, accepted);

        const QString path = m_dir->filePath(fileName);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("# Dropped on the preview\n\nbody\n");
        file.close();

        const qsizetype before = m_store->documents().size();
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(path)});
        DropRoutingWebView *view = m_preview->webView();
        FileDropHandler drops(m_store, nullptr);
        connect(view, &DropRoutingWebView::filesDropped, &drops,
                [&](const QList<QUrl> &urls) { drops.handle(urls); });
        const QPoint at(100, 100);
        QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view, &enter);
        QCOMPARE(enter.isAccepted(), accepted);
        QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view, &drop);
        QCOMPARE(drop.isAccepted(), accepted);
        QCOMPARE(m_store->documents().size(), before + (accepted ? 1 : 0));
        if (accepted)
            QCOMPARE(m_store->activeDocument()->title, u"Dropped on the preview"_s);
        QCOMPARE(m_preview->page()->url().fileName(), u"index.html"_s);
    }
};

QTEST_MAIN(TestPreviewWebView)
#include "tst_previewwebview.moc"
