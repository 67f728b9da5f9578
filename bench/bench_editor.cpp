// Typing cost in the editor: the time to handle one typed key in a 1 MB
// document and in one of 200,000 characters (the largest the highlighter
// colours), next to a bare QPlainTextEdit holding the same text (the floor),
// and the time of the debounced re-highlight and of a spelling pass.
//
// Run: QT_QPA_PLATFORM=offscreen ./bench_editor
// Counters: median_ms and p99_ms per typed key (press and release, the
// layout of the changed line included; painting only in the "Painted"
// variants), or per pass.
#include "app/core/AppNotifications.h"
#include "assistant/AssistantPanels.h"
#include "assistant/core/AIAssistant.h"
#include "editor/InlineSpelling.h"
#include "editor/ListContinuingTextView.h"
#include "editor/MarkdownTextView.h"
#include "editor/SpellChecker.h"
#include "editor/core/MarkdownHighlighterRules.h"
#include "service/core/APIClient.h"
#include "store/DocumentStore.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
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

    explicit EditorFixture(qsizetype size)
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
        QTextCursor cursor = editor->textView()->textCursor();
        cursor.setPosition(editor->textView()->document()->characterCount() / 2);
        editor->textView()->setTextCursor(cursor);
        editor->textView()->ensureCursorVisible();
        QApplication::processEvents();
    }
};

void BM_KeystrokeEditor(benchmark::State &state)
{
    EditorFixture fixture(state.range(0));
    typeInto(state, fixture.editor->textView(), [] {});
}

// The same with the repaint of the view that follows each key.
void BM_KeystrokeEditorPainted(benchmark::State &state)
{
    EditorFixture fixture(state.range(0));
    QWidget *viewport = fixture.editor->textView()->viewport();
    typeInto(
        state, fixture.editor->textView(), [] {}, viewport);
}

void BM_KeystrokePlainFloorPainted(benchmark::State &state)
{
    QPlainTextEdit edit;
    edit.resize(900, 800);
    edit.setPlainText(sampleText(state.range(0)));
    edit.show();
    edit.setFocus();
    QTextCursor cursor = edit.textCursor();
    cursor.setPosition(edit.document()->characterCount() / 2);
    edit.setTextCursor(cursor);
    QApplication::processEvents();
    typeInto(
        state, &edit, [] {}, edit.viewport());
}

void BM_KeystrokePlainFloor(benchmark::State &state)
{
    QPlainTextEdit edit;
    edit.resize(900, 800);
    edit.setPlainText(sampleText(state.range(0)));
    edit.show();
    edit.setFocus();
    QTextCursor cursor = edit.textCursor();
    cursor.setPosition(edit.document()->characterCount() / 2);
    edit.setTextCursor(cursor);
    QApplication::processEvents();
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

} // namespace

BENCHMARK(BM_KeystrokeEditor)->Arg(200000)->Arg(1000000)->Iterations(300)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KeystrokePlainFloor)->Arg(200000)->Arg(1000000)->Iterations(300)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KeystrokeEditorPainted)
    ->Arg(200000)
    ->Arg(1000000)
    ->Iterations(200)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KeystrokePlainFloorPainted)
    ->Arg(200000)
    ->Arg(1000000)
    ->Iterations(200)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rehighlight)->Arg(200000)->Arg(1000000)->Iterations(60)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HighlightRules)->Arg(200000)->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SpellPass)->Arg(1000000)->Iterations(60)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
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
