// Sidebar speed on a large store: 10,000 documents in 300 collections four
// levels deep.
//
//   BM_BuildRows              rebuilding every row from the store (all expanded)
//   BM_KeystrokeModel         a keystroke (updateBody) until the row's title,
//                             excerpt and time read back current from the model
//   BM_KeystrokeView          the same through a shown SidebarView, until the
//                             repaint of the changed row has run
//   BM_ToggleCollapseView     collapsing a collection in a shown SidebarView
//   BM_PaletteOpen            opening the command palette over a window, until
//                             its first frame is painted
//   BM_PaletteKey             a key typed into the open palette's field, until
//                             the palette has been repainted with the new list
//
// Run with QT_QPA_PLATFORM=offscreen.

#include "app/core/AppNotifications.h"
#include "service/core/Keychain.h"
#include "shell/AppServices.h"
#include "shell/CommandPaletteView.h"
#include "sidebar/SidebarListView.h"
#include "sidebar/SidebarView.h"
#include "sidebar/core/SidebarModel.h"
#include "store/DocumentStore.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

struct LargeStore
{
    QTemporaryDir dir;
    std::unique_ptr<QSettings> settings;
    std::unique_ptr<DocumentStore> store;
    QStringList collectionIDs;
    QString visibleDocument;

    LargeStore()
    {
        QStandardPaths::setTestModeEnabled(true);
        settings =
            std::make_unique<QSettings>(dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        store = std::make_unique<DocumentStore>(dir.path(), settings.get());
        // 15 roots, each with 4 children, each with 2 children, and one
        // grandchild under the first 105 of those: 15 + 60 + 120 + 105 = 300.
        QStringList level3;
        for (int r = 0; r < 15; ++r) {
            const QString root = add(QStringLiteral("Area %1").arg(r), QString());
            for (int c = 0; c < 4; ++c) {
                const QString child = add(QStringLiteral("Topic %1.%2").arg(r).arg(c), root);
                for (int g = 0; g < 2; ++g)
                    level3 << add(QStringLiteral("Part %1.%2.%3").arg(r).arg(c).arg(g), child);
            }
        }
        for (int i = 0; i < 105; ++i)
            add(QStringLiteral("Detail %1").arg(i), level3.at(i));
        for (int i = 0; i < 10000; ++i) {
            const std::optional<QString> collection =
                i % 20 == 0 ? std::nullopt
                            : std::optional<QString>(collectionIDs.at(i % collectionIDs.size()));
            store->createDocument(collection,
                                  QStringLiteral("# Note %1\n\nSome words about topic %1, written "
                                                 "to fill an excerpt line in the sidebar.")
                                      .arg(i));
        }
        // Write everything now, so that no debounced save of the set-up runs
        // inside a measurement.
        store->flushPendingSaves();
        // The first document row of the sidebar: on screen at the top.
        SidebarModel rows(store.get(), settings.get());
        rows.setCollapsed({});
        for (int r = 0; r < rows.rowCount() && visibleDocument.isEmpty(); ++r)
            visibleDocument = rows.index(r).data(SidebarModel::DocumentIDRole).toString();
    }

    ~LargeStore() { store.reset(); }

    QString add(const QString &name, const QString &parent)
    {
        const auto c =
            store->createCollection(name, parent.isEmpty() ? std::nullopt : std::optional<QString>(parent));
        collectionIDs << c->id;
        return c->id;
    }
};

LargeStore &largeStore()
{
    static LargeStore store;
    return store;
}

void BM_BuildRows(benchmark::State &state)
{
    LargeStore &large = largeStore();
    SidebarModel model(large.store.get(), large.settings.get());
    model.setCollapsed({});
    for (auto _ : state)
        model.rebuild();
    state.counters["rows"] = model.rowCount();
}
BENCHMARK(BM_BuildRows)->Unit(benchmark::kMillisecond);

void BM_KeystrokeModel(benchmark::State &state)
{
    LargeStore &large = largeStore();
    SidebarModel model(large.store.get(), large.settings.get());
    model.setCollapsed({});
    const QString id = large.visibleDocument;
    const quint64 rebuilds = model.rebuildCount();
    int n = 0;
    for (auto _ : state) {
        large.store->updateBody(
            QStringLiteral("# Typing %1\n\nThe excerpt changes with every key %1.").arg(++n), id);
        const QModelIndex index = model.index(model.rowOfDocument(id));
        benchmark::DoNotOptimize(index.data(SidebarModel::TitleRole));
        benchmark::DoNotOptimize(index.data(SidebarModel::ExcerptRole));
        benchmark::DoNotOptimize(index.data(SidebarModel::TimeTextRole));
    }
    state.counters["rebuilds"] = double(model.rebuildCount() - rebuilds);
}
BENCHMARK(BM_KeystrokeModel)->Unit(benchmark::kMicrosecond);

// What the store alone spends on the same keystroke, for comparison.
void BM_KeystrokeStoreOnly(benchmark::State &state)
{
    LargeStore &large = largeStore();
    const QString id = large.visibleDocument;
    int n = 0;
    for (auto _ : state)
        large.store->updateBody(
            QStringLiteral("# Typing %1\n\nThe excerpt changes with every key %1.").arg(++n), id);
}
BENCHMARK(BM_KeystrokeStoreOnly)->Unit(benchmark::kMicrosecond);

// Repainting the shown sidebar's one changed row, without the store.
void BM_RowRepaint(benchmark::State &state)
{
    LargeStore &large = largeStore();
    AppNotifications notifications;
    SidebarView view(large.store.get(), large.settings.get(), SidebarView::Services{&notifications});
    view.model()->setCollapsed({});
    view.resize(260, 780);
    view.show();
    QCoreApplication::processEvents();
    SidebarListView *list = view.listView();
    const QModelIndex index = view.model()->index(view.model()->rowOfDocument(large.visibleDocument));
    for (auto _ : state) {
        list->update(index);
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_RowRepaint)->Unit(benchmark::kMicrosecond);

void BM_KeystrokeView(benchmark::State &state)
{
    LargeStore &large = largeStore();
    AppNotifications notifications;
    SidebarView view(large.store.get(), large.settings.get(), SidebarView::Services{&notifications});
    view.model()->setCollapsed({});
    view.resize(260, 780);
    view.show();
    QCoreApplication::processEvents();
    const QString id = large.visibleDocument;
    const quint64 rebuilds = view.model()->rebuildCount();
    int n = 0;
    for (auto _ : state) {
        large.store->updateBody(
            QStringLiteral("# Typing %1\n\nThe excerpt changes with every key %1.").arg(++n), id);
        // Delivers the row's repaint.
        QCoreApplication::processEvents();
    }
    state.counters["rebuilds"] = double(view.model()->rebuildCount() - rebuilds);
}
BENCHMARK(BM_KeystrokeView)->Unit(benchmark::kMicrosecond);

// Collapsing or expanding a collection in the shown sidebar: every row is
// rebuilt and laid out again.
void BM_ToggleCollapseView(benchmark::State &state)
{
    LargeStore &large = largeStore();
    AppNotifications notifications;
    SidebarView view(large.store.get(), large.settings.get(), SidebarView::Services{&notifications});
    view.model()->setCollapsed({});
    view.resize(260, 780);
    view.show();
    QCoreApplication::processEvents();
    const QString root = large.collectionIDs.first();
    for (auto _ : state) {
        view.model()->toggleCollapsed(root);
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_ToggleCollapseView)->Unit(benchmark::kMillisecond);

// The palette as the window shows it: over a window of the default size,
// 96 pixels from the top.
struct ShownPalette
{
    // Services over an address nothing answers on: the palette needs none.
    AppServices services{largeStore().store.get(),
                         {QUrl(QStringLiteral("http://127.0.0.1:9")), Keychain(Keychain::inMemory()),
                          largeStore().settings.get()}};
    QWidget window;
    CommandPaletteView *palette;

    ShownPalette()
        : palette(new CommandPaletteView(
              true, [] {}, services, &window))
    {
        window.resize(1200, 780);
        palette->move((window.width() - palette->width()) / 2, 96);
        window.show();
        // The window's first expose paints the palette with it.
        QCoreApplication::processEvents();
        palette->repaint();
    }
};

void BM_PaletteOpen(benchmark::State &state)
{
    LargeStore &large = largeStore();
    large.store->setActiveDocumentID(large.visibleDocument);
    for (auto _ : state) {
        auto shown = std::make_unique<ShownPalette>();
        benchmark::DoNotOptimize(shown->palette);
        state.PauseTiming();
        shown.reset(); // closing is not part of opening
        state.ResumeTiming();
    }
}
BENCHMARK(BM_PaletteOpen)->Unit(benchmark::kMillisecond);

// Each key types a letter or takes it back: the list goes from every entry
// to those matching "n" and back.
void BM_PaletteKey(benchmark::State &state)
{
    LargeStore &large = largeStore();
    large.store->setActiveDocumentID(large.visibleDocument);
    ShownPalette shown;
    QLineEdit *field = shown.palette->searchField();
    bool typed = false;
    for (auto _ : state) {
        QKeyEvent press(QEvent::KeyPress, typed ? Qt::Key_Backspace : Qt::Key_N, Qt::NoModifier,
                        typed ? QString() : QStringLiteral("n"));
        QApplication::sendEvent(field, &press);
        typed = !typed;
        QCoreApplication::processEvents();
        shown.palette->repaint();
    }
    state.counters["rows"] = double(shown.palette->model()->shownItems().size());
}
BENCHMARK(BM_PaletteKey)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("TessivoBench"));
    QCoreApplication::setApplicationName(QStringLiteral("bench_sidebar"));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
