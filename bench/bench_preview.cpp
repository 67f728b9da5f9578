// From a keystroke to the new HTML shown in the preview, on 1 MB and 5 MB
// documents: the render and count off the main thread, the update of the
// page (script call, parsing, math typesetting, style, layout and paint),
// and the whole road through the detail pane, with the edit near the start,
// in the middle or at the end. Run under a display with the web engine's
// flags, e.g.
//   export QTWEBENGINE_DISABLE_SANDBOX=1
//   xvfb-run -a -s "-screen 0 1920x1080x24" bench/bench_preview
// These end once the page has drawn; bench_pixels follows a key through the
// whole window on to the pixels the X server holds.

#include "editor/PreviewPage.h"
#include "editor/PreviewProfile.h"
#include "editor/PreviewWebView.h"
#include "editor/core/MarkdownRenderer.h"
#include "shell/AppServices.h"
#include "shell/DocumentDetailView.h"
#include "shell/core/DetailRenderScheduler.h"
#include "shell/core/DetailViewMode.h"
#include "store/DocumentStore.h"

#include "PreviewDocument.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QQuickWindow>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

// Runs the event loop until `done` holds; false after `timeoutMs`. The loop
// sleeps between events, as the app's does: a loop that polls would take a
// core from the render threads it waits for.
template <typename Predicate>
bool waitFor(Predicate done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    QTimer deadline;
    deadline.start(timeoutMs + 1);
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

QString document(qsizetype size)
{
    return previewBenchDocument(size);
}

QString previewFolder()
{
    const QString built = QDir(QCoreApplication::applicationDirPath()).filePath(u"../Tessivo/Preview"_s);
    return QFileInfo::exists(built + u"/index.html"_s) ? built : QString();
}

// Waits until every script sent to the page so far has run and the page
// has drawn the frame that shows its result: a timer set from an animation
// frame callback runs once that frame's style, layout and paint are done.
bool waitForPage(QWebEnginePage *page)
{
    bool armed = false;
    page->runJavaScript(u"window.__benchFrame = false;"
                        "requestAnimationFrame(function () {"
                        "  setTimeout(function () { window.__benchFrame = true; }, 0); });"_s,
                        [&](const QVariant &) { armed = true; });
    if (!waitFor([&] { return armed; }, 60000))
        return false;
    bool drawn = false;
    while (!drawn) {
        bool answered = false;
        page->runJavaScript(u"window.__benchFrame"_s, [&](const QVariant &value) {
            drawn = value.toBool();
            answered = true;
        });
        if (!waitFor([&] { return answered; }, 60000))
            return false;
    }
    return true;
}

// Where a keystroke lands: in the first heading, in a paragraph halfway
// down, or after the last character.
enum class Place { start, middle, end };

qsizetype editPosition(const QString &text, Place place)
{
    switch (place) {
    case Place::start:
        return text.indexOf(u"Section 0"_s) + 7;
    case Place::middle:
        return text.indexOf(u"showing up"_s, text.size() / 2) + 3;
    case Place::end:
        break;
    }
    return text.size();
}

void BM_RenderAndCount(benchmark::State &state)
{
    const QString body = document(state.range(0));
    const QHash<QString, QString> titles{{u"project plan"_s, u"0a0a0a0a-1111-4222-8333-444455556666"_s}};
    for (auto _ : state) {
        auto output = DetailRenderScheduler::renderNow(body, titles);
        benchmark::DoNotOptimize(output);
    }
    state.SetBytesProcessed(state.iterations() * body.size() * 2);
}

void BM_PageUpdate(benchmark::State &state)
{
    QTemporaryDir dir;
    QSettings settings(dir.filePath(u"settings.ini"_s), QSettings::IniFormat);
    DocumentStore store(dir.path(), &settings);
    PreviewProfile profile;
    PreviewWebView preview(&profile, &store);
    preview.resize(700, 900);
    preview.show();
    if (!waitFor([&] { return preview.page()->isLoaded(); }, 30000)) {
        state.SkipWithError("the preview page did not load");
        return;
    }
    const QString body = document(state.range(0));
    // Two versions, as consecutive keystrokes give; equal HTML is never resent.
    const QString a = MarkdownRenderer::render(body + u"a"_s);
    const QString b = MarkdownRenderer::render(body + u"ab"_s);
    preview.setHtml(a);
    waitForPage(preview.page());
    bool flip = false;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        preview.setHtml(flip ? a : b);
        if (!waitForPage(preview.page())) {
            state.SkipWithError("the page did not answer");
            return;
        }
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        flip = !flip;
    }
    state.counters["html_MB"] = double(a.toUtf8().size()) / 1e6;
}

// The whole road: the store takes the new body, the pane renders it on the
// thread pool and sends it to the page. The pane's 120 ms debounce is set to
// zero here, so the figure is the work; a typist sees it 120 ms later.
void BM_KeystrokeToPreview(benchmark::State &state)
{
    QTemporaryDir dir;
    QSettings settings(dir.filePath(u"settings.ini"_s), QSettings::IniFormat);
    DocumentStore store(dir.path(), &settings);
    const QString body = document(state.range(0));
    const Document doc = store.createDocument(std::nullopt, body);

    // Services over an address nothing answers on: the preview needs none.
    AppServices services(
        &store, {QUrl(QStringLiteral("http://127.0.0.1:9")), Keychain(Keychain::inMemory()), &settings});
    services.viewMode()->setMode(ViewMode::preview);
    DocumentDetailView pane(services);
    pane.resize(1200, 900);
    pane.show();
    PreviewPage *page = pane.preview()->page();
    if (!waitFor([&] { return page->isLoaded() && pane.renderedDocumentID() == doc.id; }, 300000)) {
        state.SkipWithError("the preview did not come up");
        return;
    }
    waitForPage(page);
    pane.renderScheduler()->setDelay(0);
    // The render's own time, on the thread it runs on, to tell it from the
    // road around it.
    std::atomic<qint64> workNanoseconds = 0;
    pane.renderScheduler()->setRenderFunction(
        [&](const QString &text, const QHash<QString, QString> &titles) {
            QElapsedTimer work;
            work.start();
            auto output = DetailRenderScheduler::renderNow(text, titles);
            workNanoseconds += work.nsecsElapsed();
            return output;
        });

    double renderSeconds = 0;
    double pageSeconds = 0;
    QString text = body;
    const auto place = Place(state.range(1));
    for (auto _ : state) {
        text.insert(editPosition(text, place), u'x');
        QElapsedTimer timer;
        timer.start();
        qint64 renderedAt = 0;
        auto connection = QObject::connect(&pane, &DocumentDetailView::previewUpdated,
                                           [&] { renderedAt = timer.nsecsElapsed(); });
        store.updateBody(text, doc.id);
        if (!waitFor([&] { return renderedAt != 0; }, 60000) || !waitForPage(page)) {
            state.SkipWithError("the preview did not update");
            return;
        }
        const qint64 total = timer.nsecsElapsed();
        QObject::disconnect(connection);
        state.SetIterationTime(double(total) / 1e9);
        renderSeconds += double(renderedAt) / 1e9;
        pageSeconds += double(total - renderedAt) / 1e9;
    }
    const double n = double(state.iterations());
    state.counters["render_ms"] = renderSeconds / n * 1000;
    state.counters["render_work_ms"] = double(workNanoseconds) / n / 1e6;
    state.counters["page_ms"] = pageSeconds / n * 1000;
    state.counters["render_share_pct"] = renderSeconds / (renderSeconds + pageSeconds) * 100;
}

} // namespace

BENCHMARK(BM_RenderAndCount)
    ->Arg(100 * 1000)
    ->Arg(1000 * 1000)
    ->Arg(5000 * 1000)
    ->MinTime(2.0)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PageUpdate)->Arg(1000 * 1000)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);
// Arguments: the document's size, and where the keystroke lands (Place).
BENCHMARK(BM_KeystrokeToPreview)
    ->ArgNames({"size", "place"})
    ->Args({100 * 1000, int(Place::end)})
    ->ArgsProduct({{1000 * 1000, 5000 * 1000}, {int(Place::start), int(Place::middle), int(Place::end)}})
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    QStandardPaths::setTestModeEnabled(true);
    // As the app draws its web views.
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(u"TessivoBench"_s);
    QCoreApplication::setApplicationName(u"bench_preview"_s);
    if (const QString folder = previewFolder(); !folder.isEmpty())
        PreviewWebView::setResourceFolder(folder);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
