// From the newest text to its preview HTML while renders of older text are
// still running: each keystroke on a large document supersedes the render
// before it, and the newest must not wait for the ones it superseded.
// Headless; run as bench/bench_render_latency.

#include "shell/core/DetailRenderScheduler.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <benchmark/benchmark.h>

namespace {

QString largeDocument(qsizetype size)
{
    const QString section =
        QStringLiteral("## Notes\n\nA paragraph with **bold**, [[Wiki Link]], ==marked== text, $x^2$ and a "
                       "[link](https://example.org). ![[]()![[]()\n\n| a | b |\n|---|---|\n| 1 | 2 |\n\n");
    QString doc;
    while (doc.size() < size) {
        doc += section;
    }
    return doc;
}

void BM_NewestAfterSupersededRenders(benchmark::State &state)
{
    const QString base = largeDocument(state.range(0));
    const int keystrokes = 8;
    for (auto _ : state) {
        DetailRenderScheduler scheduler;
        scheduler.setDelay(0);
        const auto text = [](const QString &body) {
            return [body]() -> std::optional<QString> { return body; };
        };
        scheduler.request(QStringLiteral("doc"), 0, text(base), {});
        while (scheduler.isBusy()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        }
        for (int k = 1; k <= keystrokes; ++k) {
            scheduler.request(QStringLiteral("doc"), k, text(base + QStringLiteral("\n\nmarker-%1").arg(k)),
                              {});
            QCoreApplication::processEvents(); // the zero delay fires: a render starts
        }
        QElapsedTimer timer;
        timer.start();
        const QString newest = QStringLiteral("marker-%1").arg(keystrokes);
        while (!scheduler.html().contains(newest)) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        }
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        while (scheduler.isBusy()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        }
    }
}
BENCHMARK(BM_NewestAfterSupersededRenders)
    ->Arg(1000 * 1000)
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
