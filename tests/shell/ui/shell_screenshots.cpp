// Renders the main window as a new user meets it, in a light or a dark
// palette, to PNG files (for looking at it, not a test): the window with a
// long list, the palette's move rows and a row's tooltip, the split view
// with tasks and a link, the smallest window with and without the sidebar,
// the delete confirmations from the menu and from the sidebar, and the New
// button after its menu closed.
//   shell_screenshots <output folder> [light|dark]

#include "editor/ListContinuingTextView.h"
#include "editor/PreviewWebView.h"
#include "shell/AppCommands.h"
#include "shell/CommandPaletteView.h"
#include "shell/ContentView.h"
#include "shell/MainWindow.h"
#include "shell/core/DetailViewMode.h"
#include "sidebar/SidebarHeader.h"
#include "sidebar/SidebarView.h"
#include "sidebar/core/SidebarModel.h"
#include "store/DocumentStore.h"
#include "store/Persistence.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QHelpEvent>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QStandardPaths>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

QPalette darkPalette()
{
    QPalette p;
    const QColor window(0x32, 0x32, 0x34), base(0x1e, 0x1e, 0x20), text(0xe8, 0xe8, 0xed);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, window);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::ToolTipBase, window);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, QColor(0x8e, 0x8e, 0x93));
    // A deep blue accent, as dark desktop themes often have.
    p.setColor(QPalette::Highlight, QColor(0x1f, 0x4f, 0x9e));
    p.setColor(QPalette::HighlightedText, Qt::white);
    return p;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("TessivoTests"));
    QCoreApplication::setApplicationName(QStringLiteral("shell_screenshots"));
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    const bool dark = argc > 2 && QString::fromLocal8Bit(argv[2]) == u"dark";
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    if (dark)
        QApplication::setPalette(darkPalette());
    QSettings().clear();
    QTemporaryDir dir;
    Persistence::setBaseDirectoryOverride(dir.filePath(QStringLiteral("store")));
    PreviewWebView::setResourceFolder(QStringLiteral(TESSIVO_BUILD_DIR "/Tessivo/Preview"));

    MainWindow window;
    window.resize(1200, 800);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    DocumentStore *store = DocumentStore::shared();
    for (int i = 0; i < 100 && !store->isLoaded(); ++i)
        QTest::qWait(100);

    const QString work = store->createCollection(QStringLiteral("Work"))->id;
    const QString meetings = store->createCollection(QStringLiteral("Meetings"), work)->id;
    const QString q3 = store->createCollection(QStringLiteral("Q3 planning"), meetings)->id;
    const QString reading = store->createCollection(QStringLiteral("Reading notes"))->id;
    store->createCollection(QStringLiteral("Archive"));
    const QString longTitle =
        store
            ->createDocument(work, QStringLiteral("# Quarterly planning notes for the launch of the new "
                                                  "publishing workflow\n\nDraft."))
            .id;
    const QString tasks =
        store
            ->createDocument(
                q3, QStringLiteral("# Launch checklist\n\n- [x] Write the announcement\n"
                                   "- [ ] Record the demo\n- [x] Book the room\n- [ ] Send the "
                                   "invitations\n\nSee [the plan](https://example.com/plan) "
                                   "and the [[Weekly sync]].\n\n") +
                        QStringLiteral("A paragraph to scroll past, line after line.\n\n").repeated(30))
            .id;
    const QStringList places = {QString(), work, meetings, reading};
    for (int i = 0; i < 36; ++i)
        store->createDocument(places[i % 4].isEmpty() ? std::nullopt : std::optional<QString>(places[i % 4]),
                              QStringLiteral("# Note %1\n\nSomething worth keeping.").arg(i + 1));
    store->setActiveDocumentID(longTitle);
    ViewModeSetting::shared()->setMode(ViewMode::split);

    const auto shot = [&](const QString &name) {
        QTest::qWait(900);
        const QRect frame = window.frameGeometry().adjusted(-2, -2, 2, 2);
        QGuiApplication::primaryScreen()->grabWindow(0).copy(frame).save(out + u'/' + name +
                                                                         QStringLiteral(".png"));
    };

    shot(QStringLiteral("01-reveal-long-title"));

    ContentView *content = window.contentView();
    content->setPaletteOpen(true);
    CommandPaletteView *palette = content->commandPalette();
    palette->searchField()->setText(QStringLiteral("Move"));
    QTest::qWait(300);
    if (QWidget *list = palette->findChild<QScrollArea *>()->widget()) {
        const QPoint at = palette->rowRect(0).center();
        const QPoint local = list->mapFrom(palette, at);
        QHelpEvent help(QEvent::ToolTip, local, list->mapToGlobal(local));
        QApplication::sendEvent(list, &help);
    }
    shot(QStringLiteral("02-palette-move-rows"));
    content->setPaletteOpen(false);

    store->setActiveDocumentID(tasks);
    QTest::qWait(1500);
    if (auto *editor = window.findChild<ListContinuingTextView *>()) {
        window.activateWindow();
        QApplication::setActiveWindow(&window);
        editor->setFocus();
        editor->moveCursor(QTextCursor::Start);
        for (int i = 0; i < 8; ++i)
            editor->moveCursor(QTextCursor::Down);
        editor->moveCursor(QTextCursor::Right);
    }
    shot(QStringLiteral("03-split-tasks-link-caret"));

    window.resize(1, 1);
    shot(QStringLiteral("04-minimum-with-sidebar"));
    content->toggleSidebar();
    QTest::qWait(500);
    window.resize(1, 1);
    shot(QStringLiteral("05-minimum-without-sidebar"));
    content->toggleSidebar();
    window.resize(1200, 800);
    store->setActiveDocumentID(longTitle);

    const auto grabModal = [&](const QString &name) {
        QTimer::singleShot(1200, &window, [&, name] {
            shot(name);
            if (QWidget *modal = QApplication::activeModalWidget())
                modal->close();
        });
    };
    grabModal(QStringLiteral("06-delete-from-menu"));
    window.commands()->action(QStringLiteral("Delete Document"))->trigger();
    QTest::qWait(500);
    auto *sidebar = window.findChild<SidebarView *>();
    sidebar->model()->beginDeleteDocument(longTitle);
    QTest::qWait(200);
    shot(QStringLiteral("07-delete-from-sidebar"));
    if (QWidget *modal = QApplication::activeModalWidget())
        modal->close();

    CreateSplitButton *create = sidebar->createButton();
    const QPoint caret(create->width() - 12, create->height() / 2);
    QCursor::setPos(create->mapToGlobal(caret));
    QTest::qWait(200);
    QTest::mouseClick(create, Qt::LeftButton, Qt::NoModifier, caret);
    QTest::qWait(400);
    if (QWidget *popup = QApplication::activePopupWidget())
        popup->close();
    QCursor::setPos(window.mapToGlobal(QPoint(700, 500)));
    shot(QStringLiteral("08-new-button-after-menu"));
    return 0;
}
