// The preview keeps the reader's place in a long document, whose parts off
// screen are laid out with estimated heights: the keys that scroll it and
// its links land where they lead in one go, and an update leaves the view
// at the end when it was there, or else its first block where it was.

#include "editor/DropRoutingWebView.h"
#include "editor/PreviewPage.h"
#include "editor/PreviewProfile.h"
#include "editor/PreviewWebView.h"
#include "editor/core/MarkdownRenderer.h"
#include "store/DocumentStore.h"

#include "PageScript.h"
#include "PreviewTestSetup.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QQuickWindow>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

// About a megabyte of the kinds of blocks a long document holds, with a
// link near the top to a heading far down.
QString longDocument()
{
    QString text = u"# A long document\n\nJump to [the target](#target).\n\n"_s;
    for (int i = 0; text.size() < 1'000'000; ++i) {
        if (i == 6000)
            text += u"<h2 id=\"target\">The target</h2>\n\n"_s;
        switch (i % 6) {
        case 0:
            text += u"## Section %1\n\n"_s.arg(i);
            break;
        case 1:
            text += u"Some *words* of a paragraph that goes on for a while, with `code` and a "
                    "[link](https://example.com/%1). "_s.arg(i)
                        .repeated(3) +
                    u"\n\n"_s;
            break;
        case 2:
            text += u"- item one of list %1\n- item **two**\n- [ ] a task\n\n"_s.arg(i);
            break;
        case 3:
            text += u"> A quotation number %1, quoted.\n\n"_s.arg(i);
            break;
        case 4:
            text += u"```\nlet x = 1;\n```\n\n"_s;
            break;
        default:
            text += u"| a | b |\n|---|---|\n| 1 | 2 |\n\n"_s;
        }
    }
    return text + u"The end.\n"_s;
}

// The view's scroll state, and where the last block of the content sits.
const QString viewState = uR"JS((function () {
  var s = document.scrollingElement;
  var last = document.getElementById('content').lastElementChild;
  var box = last ? last.getBoundingClientRect() : { top: 0, bottom: 0 };
  return JSON.stringify({ y: s.scrollTop, height: s.clientHeight, scrollHeight: s.scrollHeight,
                          lastTop: box.top, lastBottom: box.bottom, last: last ? last.textContent : '' });
})())JS"_s;

// Marks the first block of the content at or below `y` (viewport pixels) as
// window.probe and returns its top.
const QString markBlockBelow = uR"JS((function (y) {
  var blocks = document.getElementById('content').children;
  for (var i = 0; i < blocks.length; i++) {
    var box = blocks[i].getBoundingClientRect();
    if (box.top >= y) {
      window.probe = blocks[i];
      return box.top;
    }
  }
  return null;
})(%1))JS"_s;

const QString probeTop =
    u"window.probe && window.probe.isConnected ? window.probe.getBoundingClientRect().top "
    ": null"_s;

} // namespace

class TestPreviewPlace final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QSettings m_settings{m_dir.filePath(u"settings.ini"_s), QSettings::IniFormat};
    DocumentStore m_store{m_dir.filePath(u"store"_s), &m_settings};
    PreviewProfile m_profile; // outlives the page
    std::unique_ptr<PreviewWebView> m_preview;
    QString m_body;

    QJsonObject state()
    {
        return QJsonDocument::fromJson(evaluate(page(), viewState).toByteArray()).object();
    }

    PreviewPage *page() { return m_preview->page(); }

    bool atEnd()
    {
        const QJsonObject s = state();
        const double height = s[u"height"_s].toDouble();
        return s[u"y"_s].toDouble() > 0 &&
               s[u"y"_s].toDouble() + height >= s[u"scrollHeight"_s].toDouble() - 1 &&
               s[u"lastBottom"_s].toDouble() > 0 && s[u"lastBottom"_s].toDouble() <= height + 1;
    }

    double probe() { return evaluate(page(), probeTop).toDouble(); }
    // Where the probe is against where it was held, and the view's scroll.
    QString placeSeen(double top)
    {
        return QStringLiteral("probe at %1, held at %2, scrolled to %3 of %4")
            .arg(probe())
            .arg(top)
            .arg(evaluate(page(), u"document.scrollingElement.scrollTop"_s).toDouble())
            .arg(evaluate(page(), u"document.scrollingElement.scrollHeight"_s).toDouble());
    }

    void press(Qt::Key key)
    {
        QWidget *surface = m_preview->webView()->focusProxy();
        QVERIFY(surface);
        QTest::keyClick(surface, key);
    }

    void scrollTo(double fraction)
    {
        evaluate(page(), u"window.scrollTo(0, document.scrollingElement.scrollHeight * %1)"_s.arg(fraction));
    }

    void show(const QString &body)
    {
        m_body = body;
        m_preview->setHtml(MarkdownRenderer::render(body));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(usePreviewFromBuildTree(), "the preview page is not in the build tree");
        m_preview = std::make_unique<PreviewWebView>(&m_profile, &m_store);
        m_preview->resize(700, 600);
        m_preview->show();
        m_preview->activateWindow();
        QVERIFY(QTest::qWaitForWindowExposed(m_preview.get(), TestWaits::limitMs));
        QTRY_VERIFY_WITH_TIMEOUT(page()->isLoaded(), TestWaits::limitMs);
        m_preview->webView()->setFocus();
        // Frames drawn, to see the view settle.
        evaluate(page(), u"window.framesDrawn = 0; (function count() { window.framesDrawn += 1; "
                         "requestAnimationFrame(count); })();"_s);
    }

    void cleanupTestCase() { m_preview.reset(); }

    void init()
    {
        // Each test starts from a page that has drawn only its top: every
        // block below carries its estimated height.
        m_preview->setHtml(QString());
        QTRY_COMPARE(state()[u"last"_s].toString(), QString());
        scrollTo(0);
        show(longDocument());
        QTRY_VERIFY_WITH_TIMEOUT(state()[u"last"_s].toString() == u"The end."_s, TestWaits::limitMs);
        QTRY_COMPARE(state()[u"y"_s].toDouble(), 0.0);
    }

    void keysGoToTheirPlaceInOnePress()
    {
        press(Qt::Key_End);
        QTRY_VERIFY_WITH_TIMEOUT(atEnd(), TestWaits::limitMs);

        // A page up from the end: the block at the top moves down by the
        // page, the estimated blocks above it drawn meanwhile.
        const double step = state()[u"height"_s].toDouble() * 0.875;
        const double top = settledTop();
        press(Qt::Key_PageUp);
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(probe() - (top + step)) <= 1, TestWaits::limitMs);

        press(Qt::Key_Home);
        QTRY_COMPARE(state()[u"y"_s].toDouble(), 0.0);

        // From the middle, where what lies below has not been drawn yet.
        scrollTo(0.5);
        const double middle = settledTop();
        press(Qt::Key_PageDown);
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(probe() - (middle - step)) <= 1, TestWaits::limitMs);
        press(Qt::Key_PageUp);
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(probe() - middle) <= 1, TestWaits::limitMs);
    }

    void linkLandsOnItsTarget()
    {
        // After a look at the end, back at the top.
        press(Qt::Key_End);
        QTRY_VERIFY_WITH_TIMEOUT(state()[u"y"_s].toDouble() > 0, TestWaits::limitMs);
        scrollTo(0.5);
        settledTop();
        press(Qt::Key_Home);
        QTRY_COMPARE(state()[u"y"_s].toDouble(), 0.0);
        const QVariantList box =
            evaluate(page(), u"(function(){var r=document.querySelector('a[href=\"#target\"]')"
                             ".getBoundingClientRect();"
                             "return [r.left+r.width/2, r.top+r.height/2];})()"_s)
                .toList();
        QCOMPARE(box.size(), 2);
        QTest::mouseClick(m_preview->webView()->focusProxy(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(qRound(box.at(0).toDouble()), qRound(box.at(1).toDouble())));
        QTRY_VERIFY_WITH_TIMEOUT(
            qAbs(evaluate(page(), u"document.getElementById('target').getBoundingClientRect().top"_s)
                     .toDouble()) <= 1,
            TestWaits::limitMs);
        QCOMPARE(page()->url().fileName(), u"index.html"_s);
    }

    void updatesKeepThePlace()
    {
        // Typing at the end with the view at the end: each letter stays in view.
        press(Qt::Key_End);
        QTRY_VERIFY_WITH_TIMEOUT(atEnd(), TestWaits::limitMs);
        QString body = m_body + u"\n"_s;
        for (const QString &typed : {u"A"_s, u"n"_s, u"d"_s}) {
            body.append(typed);
            show(body);
            QTRY_VERIFY_WITH_TIMEOUT(atEnd() && body.endsWith(state()[u"last"_s].toString()),
                                     TestWaits::limitMs);
        }

        // Elsewhere: the first block in view keeps its offset, whether the
        // change comes above it, in it, or below it.
        // The page may still hold the end from the typing, a frame or more
        // after its last letter showed, and take the view back there: the
        // heading is brought into view again at each look until it stays,
        // and a look that had to bring it counts as not settled.
        const double top = settledTop(u"(function(){var h=Array.prototype.find.call("
                                      "document.querySelectorAll('#content h2'),"
                                      "function(h){return h.textContent === 'Section 7200';});"
                                      "var top=h.getBoundingClientRect().top;"
                                      "if(window.probe===h&&Math.abs(top)<=1)return top;"
                                      "window.probe=h;h.scrollIntoView();"
                                      "return 1e9+window.framesDrawn;})()"_s);
        const QString paragraphs = u"A new paragraph, and another.\n\nAnd a third one here.\n\n"_s;
        body.insert(body.indexOf(u"## Section 60\n"_s), paragraphs);
        show(body);
        QTRY_VERIFY2_WITH_TIMEOUT(qAbs(probe() - top) <= 1, qPrintable(placeSeen(top)), TestWaits::limitMs);
        body.replace(u"## Section 7200\n"_s, u"## Section 7200, edited\n"_s);
        show(body);
        QTRY_VERIFY_WITH_TIMEOUT(evaluate(page(), u"window.probe.textContent"_s).toString() ==
                                     u"Section 7200, edited"_s,
                                 TestWaits::limitMs);
        QTRY_VERIFY2_WITH_TIMEOUT(qAbs(probe() - top) <= 1, qPrintable(placeSeen(top)), TestWaits::limitMs);
        body.insert(body.indexOf(u"## Section 9000\n"_s), paragraphs);
        show(body);
        QTRY_VERIFY2_WITH_TIMEOUT(qAbs(probe() - top) <= 1, qPrintable(placeSeen(top)), TestWaits::limitMs);
    }

private:
    // Marks the first block in view as window.probe once the view has
    // stopped moving (the same over a few frames), and returns its top.
    double settledTop(const QString &mark = markBlockBelow.arg(0))
    {
        double top = evaluate(page(), mark).toDouble();
        for (int round = 0; round < 100; ++round) {
            const int frame = evaluate(page(), u"window.framesDrawn"_s).toInt();
            if (!QTest::qWaitFor(
                    [&] { return evaluate(page(), u"window.framesDrawn"_s).toInt() >= frame + 3; },
                    TestWaits::limitMs))
                break;
            const double now = evaluate(page(), mark).toDouble();
            if (qAbs(now - top) < 0.5)
                break;
            top = now;
        }
        return top;
    }
};

QTEST_MAIN(TestPreviewPlace)
#include "tst_previewplace.moc"
