// Typing cost in the editor: the time to handle one typed key in documents
// of 1 MB and 5 MB and in one of 200,000 characters (the largest the highlighter
// colours), next to a bare QPlainTextEdit holding the same text and breaking
// its lines in the same places (the floor),
// and the time of the debounced re-highlight and of a spelling pass.
//
// Run: QT_QPA_PLATFORM=offscreen ./bench_editor
// Counters: median_ms and p99_ms per typed key (press and release, the
// layout of the changed line included; painting only in the "Painted"
// variants), or per pass.
#include "app/core/AllocatorPolicy.h"
#include "app/core/AppNotifications.h"
#include "assistant/AssistantPanels.h"
#include "assistant/core/AIAssistant.h"
#include "editor/InlineSpelling.h"
#include "editor/ListContinuingTextView.h"
#include "editor/MarkdownTextView.h"
#include "editor/SpellChecker.h"
#include "editor/SyntaxHighlighter.h"
#include "editor/core/MarkdownHighlighterRules.h"
#include "service/core/APIClient.h"
#include "shell/core/DetailRenderScheduler.h"
#include "store/DocumentStore.h"

#include <benchmark/benchmark.h>

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextLayout>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentMap>

#include <malloc.h>

#include <algorithm>
#include <latch>
#include <vector>

namespace {

QString sampleText(qsizetype size)
{
    static const QString chunk =
        QStringLiteral("## Section heading\n\n"
                       "Some prose with **bold words**, *a slanted phrase*, `inline code` and a "
                       "[link to somewhere](https://example.com/page) that runs on for a while so "
                       "that the line wraps in the editor like real paragraphs do.\n\n"
                       "- first item with ==highlight==\n"
                       "- second item with ~~struck~~ text\n"
                       "1. numbered item\n"
                       "> a quoted line\n\n"
                       "```cpp\nint main() { return 0; }\n```\n\n"
                       "See [[Another Note]] and https://example.org/bare for more.\n\n");
    QString text;
    text.reserve(size);
    while (text.size() < size) {
        text += chunk;
    }
    text.truncate(size);
    return text;
}

struct Stats
{
    std::vector<double> samples;

    void add(qint64 nanoseconds) { samples.push_back(double(nanoseconds) / 1e6); }

    void report(benchmark::State &state)
    {
        if (samples.empty()) {
            return;
        }
        std::sort(samples.begin(), samples.end());
        state.counters["median_ms"] = samples[samples.size() / 2];
        state.counters["p99_ms"] = samples[std::min(samples.size() - 1, samples.size() * 99 / 100)];
    }
};

void sendKey(QWidget *target, int key, const QString &text)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &release);
}

// Types a letter and deletes it again, so the text keeps its size; each key
// is timed on its own.
template <typename Prepare>
void typeInto(benchmark::State &state, QWidget *target, Prepare afterKey, QWidget *repainted = nullptr)
{
    Stats stats;
    QElapsedTimer timer;
    for (auto _ : state) {
        timer.start();
        sendKey(target, Qt::Key_A, QStringLiteral("a"));
        if (repainted) {
            repainted->repaint();
        }
        stats.add(timer.nsecsElapsed());
        afterKey();
        timer.start();
        sendKey(target, Qt::Key_Backspace, QString());
        if (repainted) {
            repainted->repaint();
        }
        stats.add(timer.nsecsElapsed());
        afterKey();
    }
    stats.report(state);
}

// Puts the caret in the middle of the text, in the widest line of the text
// (its copies elsewhere are as wide): typing a letter makes its block the
// widest, deleting the letter shrinks it again, and on that Qt's plain-text
// layout measures every block to find the widest. In a line of ordinary
// width (`ordinaryLine`), that has happened once, as whenever a writer edits
// the widest line, and the caret then moves on to the next line that is at
// most a few letters narrower than the widest, as most lines of a wrapped
// paragraph are.
void placeCaret(QPlainTextEdit *view, bool ordinaryLine)
{
    QTextCursor cursor = view->textCursor();
    cursor.setPosition(view->document()->characterCount() / 2);
    view->setTextCursor(cursor);
    if (ordinaryLine) {
        sendKey(view, Qt::Key_A, QStringLiteral("a"));
        sendKey(view, Qt::Key_Backspace, QString());
        const qreal widest = view->document()->documentLayout()->documentSize().width();
        const qreal letter = QFontMetricsF(view->font()).horizontalAdvance(u'a');
        for (QTextBlock block = cursor.block().next(); block.isValid(); block = block.next()) {
            view->document()->documentLayout()->blockBoundingRect(block); // lays it out
            const QTextLine line = block.layout()->lineAt(0);
            const qreal width = line.naturalTextWidth() + 2 * view->document()->documentMargin();
            if (block.layout()->lineCount() > 1 && width < widest - 2 * letter &&
                width > widest - 5 * letter) {
                cursor.setPosition(block.position() + line.textLength() / 2);
                break;
            }
        }
        view->setTextCursor(cursor);
    }
    view->ensureCursorVisible();
    QApplication::processEvents();
}

struct EditorFixture
{
    QTemporaryDir dir;
    QSettings settings{dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat};
    std::unique_ptr<DocumentStore> store;
    APIClient client{QUrl(QStringLiteral("http://127.0.0.1:9"))};
    AIAssistant assistant{AIAssistant::overClient(&client)};
    AppNotifications notifications;
    SpellChecker spelling;
    std::unique_ptr<QWidget> window;
    MarkdownTextView *editor = nullptr;

    explicit EditorFixture(qsizetype size, bool ordinaryLine = false)
    {
        store = std::make_unique<DocumentStore>(dir.filePath(QStringLiteral("store")), &settings);
        const QString id = store->createDocument(std::nullopt, sampleText(size)).id;
        window = std::make_unique<QWidget>();
        window->resize(900, 800);
        editor = new MarkdownTextView(store.get(), &notifications, &spelling,
                                      new AssistantPanels(&assistant, {}), window.get());
        editor->resize(900, 800);
        editor->setDocumentID(id);
        window->show();
        editor->textView()->setFocus();
        placeCaret(editor->textView(), ordinaryLine);
    }
};

// The floor breaks its lines where the editor does (the editor's font, and a
// viewport as wide as the editor's), so both type into lines of one width.
void wrapLikeTheEditor(QPlainTextEdit &edit)
{
    static const int viewportWidth = [] {
        EditorFixture fixture(1000);
        return fixture.editor->textView()->viewport()->width();
    }();
    edit.setFont(SyntaxHighlighter::baseFont());
    edit.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    edit.resize(900, 800);
    edit.show();
    QApplication::processEvents();
    edit.resize(900 + viewportWidth - edit.viewport()->width(), 800);
}

void BM_KeystrokeEditor(benchmark::State &state)
{
    EditorFixture fixture(state.range(0), state.range(1));
    typeInto(state, fixture.editor->textView(), [] {});
}

// The same with the repaint of the view that follows each key.
void BM_KeystrokeEditorPainted(benchmark::State &state)
{
    EditorFixture fixture(state.range(0), state.range(1));
    QWidget *viewport = fixture.editor->textView()->viewport();
    typeInto(
        state, fixture.editor->textView(), [] {}, viewport);
}

void BM_KeystrokePlainFloorPainted(benchmark::State &state)
{
    QPlainTextEdit edit;
    wrapLikeTheEditor(edit);
    edit.setPlainText(sampleText(state.range(0)));
    edit.show();
    edit.setFocus();
    placeCaret(&edit, state.range(1) != 0);
    typeInto(
        state, &edit, [] {}, edit.viewport());
}

void BM_KeystrokePlainFloor(benchmark::State &state)
{
    QPlainTextEdit edit;
    wrapLikeTheEditor(edit);
    edit.setPlainText(sampleText(state.range(0)));
    edit.show();
    edit.setFocus();
    placeCaret(&edit, state.range(1) != 0);
    typeInto(state, &edit, [] {});
}

// One keystroke's re-highlight: a character deleted, then typed again, so
// the text stays within the highlighter's limit; each pass timed on its own.
void BM_Rehighlight(benchmark::State &state)
{
    EditorFixture fixture(state.range(0));
    Stats stats;
    QElapsedTimer timer;
    for (auto _ : state) {
        sendKey(fixture.editor->textView(), Qt::Key_Backspace, QString());
        timer.start();
        fixture.editor->highlight();
        stats.add(timer.nsecsElapsed());
        sendKey(fixture.editor->textView(), Qt::Key_Asterisk, QStringLiteral("*"));
        timer.start();
        fixture.editor->highlight();
        stats.add(timer.nsecsElapsed());
    }
    stats.report(state);
}

// The rules alone, without putting the result on the display.
void BM_HighlightRules(benchmark::State &state)
{
    const QString text = sampleText(state.range(0));
    qsizetype spans = 0;
    for (auto _ : state) {
        spans = MarkdownHighlighterRules::spans(text).size();
        benchmark::DoNotOptimize(spans);
    }
    state.counters["spans"] = double(spans);
}

void BM_SpellPass(benchmark::State &state)
{
    EditorFixture fixture(state.range(0));
    fixture.spelling.waitUntilReady();
    InlineSpelling *spelling = fixture.editor->spelling();
    spelling->checkNow(); // fills the word cache, as the first pass after loading does
    Stats stats;
    QElapsedTimer timer;
    for (auto _ : state) {
        timer.start();
        spelling->checkNow();
        stats.add(timer.nsecsElapsed());
    }
    stats.report(state);
}

// Memory while typing: letters typed one by one, with the debounced
// re-highlight and spelling pass every 20 keys as a writer's pauses give
// them (1 MB), or, with the preview (5 MB), a pause after every key in which
// the pane's render runs on its thread pool as in split view and the body
// is saved. Counters, in
// MB: the growth of resident memory, of the bytes the allocator has handed
// out and not had back (in use), and of what it holds from the system (its
// arena and mapped blocks); with the preview also the resident memory after
// the keys as a multiple of that after the first render (rss_ratio).
void BM_TypingMemory(benchmark::State &state)
{
    EditorFixture fixture(state.range(0), true);
    fixture.spelling.waitUntilReady();
    const bool withPreview = state.range(1) != 0;
    const QString id = fixture.editor->documentID();
    DetailRenderScheduler renders;
    const auto renderPreview = [&] {
        const std::optional<Document> document = fixture.store->document(id);
        renders.request(
            id, document->updatedAt,
            [&fixture, id]() -> std::optional<QString> {
                std::optional<Document> shown = fixture.store->document(id);
                return shown ? std::optional(std::move(shown->body)) : std::nullopt;
            },
            fixture.store->documentIDsByTitle());
        renders.endPauseNow();
        // The pause lasts until the preview is drawn and the debounced save
        // of the body is written.
        while (renders.isBusy() || !fixture.store->pendingSaveIDs().isEmpty()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        }
    };
    const auto pause = [&] {
        fixture.editor->highlight();
        fixture.editor->spelling()->checkNow();
        if (withPreview) {
            renderPreview();
        }
    };
    const auto residentMB = [] {
        QFile statm(QStringLiteral("/proc/self/statm"));
        if (!statm.open(QIODevice::ReadOnly)) {
            return 0.0;
        }
        return statm.readAll().split(' ').value(1).toDouble() * 4096 / 1e6;
    };
    const auto inUse = [](const struct mallinfo2 &m) { return double(m.uordblks + m.hblkhd) / 1e6; };
    const auto held = [](const struct mallinfo2 &m) { return double(m.arena + m.hblkhd) / 1e6; };
    if (withPreview) {
        // The app's load reads the documents on every thread of the pool,
        // so each of them has an arena of its own when the renders begin.
        const int threads = QThreadPool::globalInstance()->maxThreadCount();
        std::latch started(threads);
        QList<int> work(threads);
        QtConcurrent::blockingMap(work, [&](int &slot) {
            slot = int(QByteArray(4096, 'x').count('x'));
            started.arrive_and_wait();
        });
    }
    for (int k = 0; k < 100; ++k) { // warm up: undo history, caches, the first passes
        sendKey(fixture.editor->textView(), Qt::Key_E, QStringLiteral("e"));
    }
    pause();
    const double rss0 = residentMB();
    const struct mallinfo2 heap0 = mallinfo2();
    qsizetype keys = 0;
    for (auto _ : state) {
        const bool space = keys % 7 == 6;
        sendKey(fixture.editor->textView(), space ? Qt::Key_Space : Qt::Key_E,
                space ? QStringLiteral(" ") : QStringLiteral("e"));
        if (++keys % (withPreview ? 1 : 20) == 0) {
            pause();
        }
    }
    const struct mallinfo2 heap1 = mallinfo2();
    const double rss1 = residentMB();
    state.counters["rss_growth_MB"] = rss1 - rss0;
    state.counters["in_use_growth_MB"] = inUse(heap1) - inUse(heap0);
    state.counters["held_growth_MB"] = held(heap1) - held(heap0);
    if (withPreview) {
        state.counters["rss_ratio"] = rss1 / rss0;
    }
}

} // namespace

// The caret in the widest line, and in an ordinary line (see placeCaret).
void keystrokeCases(benchmark::internal::Benchmark *b)
{
    for (const int64_t size : {200000, 1000000, 5000000}) {
        b->Args({size, 0});
    }
    b->Args({5000000, 1});
}

BENCHMARK(BM_KeystrokeEditor)->Apply(keystrokeCases)->Iterations(300)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KeystrokePlainFloor)->Apply(keystrokeCases)->Iterations(300)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KeystrokeEditorPainted)->Apply(keystrokeCases)->Iterations(200)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KeystrokePlainFloorPainted)
    ->Apply(keystrokeCases)
    ->Iterations(200)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TypingMemory)->Args({1000000, 0})->Iterations(3000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TypingMemory)->Args({5000000, 1})->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rehighlight)->Arg(200000)->Arg(1000000)->Iterations(60)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HighlightRules)->Arg(200000)->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SpellPass)->Arg(1000000)->Iterations(60)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    AllocatorPolicy::applyAtStart(); // as the app does
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
