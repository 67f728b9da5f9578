#include "app/core/AppNotifications.h"
#include "editor/DropRoutingWebView.h"
#include "editor/ListContinuingTextView.h"
#include "editor/PreviewPage.h"
#include "editor/PreviewWebView.h"
#include "editor/UndoNames.h"
#include "shell/AppCommands.h"
#include "shell/CommandPaletteView.h"
#include "shell/ContentView.h"
#include "shell/DocumentDetailView.h"
#include "shell/MainWindow.h"
#include "shell/core/DetailViewMode.h"
#include "store/DocumentStore.h"

#include "shell/OfflineServices.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace Qt::StringLiterals;

class TestMenus : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<DocumentStore> m_store;
    int m_deleteConfirmations = 0;
    std::unique_ptr<AppServices> m_services;
    std::unique_ptr<MainWindow> m_window;
    // The same menu bar on a window with no views behind it, on services of
    // its own, so that the observers of the commands (sheets,
    // confirmations) stay out of the way.
    std::unique_ptr<AppServices> m_bareServices;
    std::unique_ptr<QMainWindow> m_bare;
    AppCommands *m_commands = nullptr;

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("TessivoTests"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_menus"));
        QSettings().clear();
        m_store = std::make_unique<DocumentStore>(m_dir.filePath(QStringLiteral("store")), nullptr);
        PreviewWebView::setResourceFolder(QStringLiteral(TESSIVO_BUILD_DIR "/Tessivo/Preview"));
        m_services = offlineServices(m_store.get());
        ContentView::Options options;
        options.detail.confirmDelete = [this](const QString &, const QString &) {
            ++m_deleteConfirmations;
            return false;
        };
        m_window = std::make_unique<MainWindow>(*m_services, std::move(options));
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get(), TestWaits::limitMs));
        QTRY_VERIFY(m_store->isLoaded());
        m_bareServices = offlineServices(m_store.get());
        m_bare = std::make_unique<QMainWindow>();
        m_commands = new AppCommands(m_bare->menuBar(), m_bare.get(), *m_bareServices);
    }

    void cleanupTestCase()
    {
        m_bare.reset();
        m_window.reset();
        m_bareServices.reset();
        m_services.reset();
        m_store->flushPendingSaves();
    }

    // No shortcut of ours is one of the platform's common text-editing keys
    // (Ctrl+K, delete to the end of the line, is the editor's to give).
    void shortcutsLeaveTheEditingKeys()
    {
        static const QStringList editing{u"Undo"_s, u"Redo"_s, u"Select All"_s};
        for (QAction *action : m_window->commands()->actions()) {
            if (action->shortcut().isEmpty() || editing.contains(action->text()))
                continue;
            for (auto key :
                 {QKeySequence::DeleteStartOfWord, QKeySequence::DeleteEndOfWord,
                  QKeySequence::DeleteCompleteLine, QKeySequence::Undo, QKeySequence::Redo,
                  QKeySequence::SelectAll, QKeySequence::Italic, QKeySequence::Bold, QKeySequence::Underline})
                QVERIFY2(!QKeySequence::keyBindings(key).contains(action->shortcut()),
                         qPrintable(action->text()));
        }
    }

    // Other parts of the window offer the same command in their own menus;
    // the key must stay unambiguous. The new document is unfiled and open.
    void newDocumentKeyReachesTheMenu()
    {
        DocumentStore *store = m_store.get();
        store->setActiveDocumentID(
            store->createDocument(store->createCollection(u"Drafts"_s)->id, u"x"_s).id);
        QApplication::setActiveWindow(m_window.get());
        QCOMPARE(QApplication::activeWindow(), m_window.get());
        const qsizetype before = store->documents().size();
        QSignalSpy spy(m_services->notifications(), &AppNotifications::posted);
        QTest::keyClick(m_window.get(), Qt::Key_N, Qt::ControlModifier);
        QCOMPARE(store->documents().size(), before + 1);
        QVERIFY(!store->documents().first().collectionId && store->documents().first().body.isEmpty());
        QCOMPARE(store->activeDocumentID(), store->documents().first().id);
        QCOMPARE(spy.size(), 0);
    }

    void viewModesWriteTheRawValue()
    {
        for (const QString &title :
             {QStringLiteral("Editor"), QStringLiteral("Preview"), QStringLiteral("Split")}) {
            m_window->commands()->action(title)->trigger();
            QCOMPARE(QSettings().value(QStringLiteral("viewMode")).toString(), title.toLower());
        }
    }

    void updatesStayDisabledWithoutAKey()
    {
        QAction *check = m_window->commands()->action(QStringLiteral("Check for Updates…"));
        QVERIFY(check);
        QVERIFY(!check->isEnabled());
    }

    void editorKeepsItsEditingKeysAndGivesWayToTheMenus()
    {
        // In the document's editor, Ctrl+Backspace deletes the previous word
        // and posts nothing; the menus' own keys (Ctrl+K, the delete
        // command's key) reach the menus instead of the editor's bindings.
        auto *detail = m_window->findChild<DocumentDetailView *>();
        QVERIFY(detail);
        const int confirmations = m_deleteConfirmations;
        m_services->viewMode()->setMode(ViewMode::editor);
        m_store->createDocument(std::nullopt, QStringLiteral("one two"));
        auto *editor = m_window->findChild<ListContinuingTextView *>();
        QVERIFY(editor);
        QTRY_COMPARE(editor->toPlainText(), QStringLiteral("one two"));
        QApplication::setActiveWindow(m_window.get());
        editor->setFocus();
        QTRY_VERIFY(editor->hasFocus());
        editor->moveCursor(QTextCursor::End);
        QSignalSpy spy(m_services->notifications(), &AppNotifications::posted);

        QTest::keyClick(editor, Qt::Key_Backspace, Qt::ControlModifier);
        QCOMPARE(editor->toPlainText(), QStringLiteral("one "));
        QCOMPARE(spy.size(), 0);

        editor->moveCursor(QTextCursor::Start);
        QTest::keyClick(editor, Qt::Key_K, Qt::ControlModifier);
        QCOMPARE(editor->toPlainText(), QStringLiteral("one "));
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy[0][0].toString(), AppNotifications::toggleCommandPalette);
        QTRY_VERIFY(m_window->contentView()->commandPalette());
        m_window->contentView()->setPaletteOpen(false);
        QApplication::setActiveWindow(m_window.get());
        editor->setFocus();
        QTRY_VERIFY(editor->hasFocus());

        QTest::keyClick(editor, Qt::Key_Backspace, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(spy.size(), 2);
        QCOMPARE(spy[1][0].toString(), AppNotifications::deleteDocument);
        QCOMPARE(m_deleteConfirmations, confirmations + 1); // the detail pane asked before deleting
        QCOMPARE(editor->toPlainText(), QStringLiteral("one "));
    }

    // The Edit menu names the step that Undo and Redo would take, where the
    // editor keeps a name for it.
    void undoItemsNameTheirSteps()
    {
        m_services->viewMode()->setMode(ViewMode::editor);
        m_store->createDocument(std::nullopt, u"one"_s);
        auto *editor = m_window->findChild<ListContinuingTextView *>();
        QVERIFY(editor);
        QTRY_COMPARE(editor->toPlainText(), u"one"_s);
        QApplication::setActiveWindow(m_window.get());
        editor->setFocus();
        QTRY_VERIFY(editor->hasFocus());
        QMenu *edit = nullptr;
        for (QAction *item : m_window->menuBar()->actions())
            if (item->text() == u"&Edit"_s)
                edit = item->menu();
        QVERIFY(edit);
        QAction *undo = edit->actions().at(0);
        QAction *redo = edit->actions().at(1);
        const auto texts = [&] {
            Q_EMIT edit->aboutToShow();
            return QStringList{undo->text(), redo->text()};
        };
        editor->replaceCharacters({3, 0}, u" two"_s);
        QCOMPARE(texts(), (QStringList{u"Undo"_s, u"Redo"_s}));
        const int from = editor->document()->availableUndoSteps();
        editor->replaceCharacters({7, 0}, u" three"_s);
        UndoNames::of(editor->document())->nameNewestStep(from, u"AI Rewrite"_s);
        QCOMPARE(texts(), (QStringList{u"Undo AI Rewrite"_s, u"Redo"_s}));
        editor->undo();
        QCOMPARE(texts(), (QStringList{u"Undo"_s, u"Redo AI Rewrite"_s}));
    }

    void editCommandsReachThePreview()
    {
        // The keyboard sits in a child of the preview's web view; the Edit
        // menu's commands still act on the page.
        auto *preview = m_window->findChild<PreviewWebView *>();
        QVERIFY(preview);
        m_services->viewMode()->setMode(ViewMode::split);
        m_store->createDocument(std::nullopt, QStringLiteral("Copied from the preview"));
        QTRY_VERIFY(preview->html().contains(QStringLiteral("Copied from the preview")));
        QTRY_COMPARE(preview->page()->lastSent().value_or(QString()), preview->html());
        QApplication::setActiveWindow(m_window.get());
        preview->webView()->setFocus();
        QTRY_VERIFY(QApplication::focusWidget() &&
                    preview->webView()->isAncestorOf(QApplication::focusWidget()));
        QApplication::clipboard()->clear();
        QAction *selectAll = m_window->commands()->action(QStringLiteral("Select All"));
        QAction *copy = m_window->commands()->action(QStringLiteral("Copy"));
        // The page takes the commands once it has the focus itself: they are
        // given again until the copy lands.
        QTimer again;
        connect(&again, &QTimer::timeout, this, [&] {
            selectAll->trigger();
            copy->trigger();
        });
        again.start(50);
        QTRY_VERIFY(QApplication::clipboard()->text().contains(QStringLiteral("Copied from the preview")));
    }

    void shortcutTextsUseThePlatformNotation()
    {
        QCOMPARE(CommandPaletteView::shortcutText(QStringLiteral("Ctrl+Shift+P")),
                 QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P).toString(QKeySequence::NativeText));
        QVERIFY(!CommandPaletteView::shortcutText(QStringLiteral("Ctrl+Shift+P")).contains(QChar(0x2318)));
    }

    void commandsPostTheirNotifications_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QVariantMap>("info");
        const QString mode = AppNotifications::modeKey;
        QTest::newRow("new collection")
            << "New Collection…" << AppNotifications::newCollection << QVariantMap();
        QTest::newRow("publish") << "Publish…" << AppNotifications::publishDocument << QVariantMap();
        QTest::newRow("media") << "Insert Image from Library…" << AppNotifications::openMediaLibrary
                               << QVariantMap();
        QTest::newRow("ai without mode") << "AI Assistant…" << AppNotifications::aiAssist << QVariantMap();
        QTest::newRow("refine") << "Refine Selection with AI…" << AppNotifications::aiAssist
                                << QVariantMap{{mode, "refine"}};
        QTest::newRow("generate") << "Generate with AI…" << AppNotifications::aiAssist
                                  << QVariantMap{{mode, "generate"}};
        QTest::newRow("delete") << "Delete Document" << AppNotifications::deleteDocument << QVariantMap();
        QTest::newRow("palette") << "Command Palette" << AppNotifications::toggleCommandPalette
                                 << QVariantMap();
        QTest::newRow("sidebar") << "Toggle Sidebar" << AppNotifications::toggleSidebar << QVariantMap();
    }

    void commandsPostTheirNotifications()
    {
        QFETCH(QString, title);
        QFETCH(QString, name);
        QFETCH(QVariantMap, info);
        m_window.reset(); // its views act on these notifications (sheets, confirmations)
        QSignalSpy spy(m_bareServices->notifications(), &AppNotifications::posted);
        QAction *action = m_commands->action(title);
        QVERIFY(action->isEnabled());
        QVERIFY(!action->isCheckable());
        action->trigger();
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy[0][0].toString(), name);
        QCOMPARE(spy[0][1].toMap(), info);
    }
};

QTEST_MAIN(TestMenus)
#include "tst_menus.moc"
