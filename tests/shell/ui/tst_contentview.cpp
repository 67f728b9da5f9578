#include "app/core/AppNotifications.h"
#include "app/core/AppShortcuts.h"
#include "editor/ListContinuingTextView.h"
#include "editor/MarkdownTextView.h"
#include "editor/PreviewWebView.h"
#include "service/core/APIClient.h"
#include "service/core/AuthManager.h"
#include "service/core/Session.h"
#include "shell/CommandPaletteView.h"
#include "shell/ContentView.h"
#include "shell/MainWindow.h"
#include "shell/core/DetailViewMode.h"
#include "shell/core/StartupSequence.h"
#include "sidebar/SidebarFooterRows.h"
#include "store/DocumentStore.h"
#include "widgets/IconButton.h"

#include "LoopbackImageHost.h"
#include "service/FakeKeyring.h"
#include "shell/OfflineServices.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QNetworkAccessManager>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <limits>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

QStringList ids(const QList<CommandPaletteModel::Item> &items)
{
    QStringList out;
    for (const CommandPaletteModel::Item &item : items)
        out << item.id;
    return out;
}

// Every widget of one window painted, and where, in the window's coordinates.
// Records what is painted in one window.
class PaintRecorder final : public QObject
{
public:
    explicit PaintRecorder(QWidget *window) : m_window(window) { qApp->installEventFilter(this); }
    ~PaintRecorder() override { qApp->removeEventFilter(this); }

    QRegion painted;
    QList<QWidget *> widgets;

    void clear()
    {
        painted = {};
        widgets.clear();
    }

    QString names() const
    {
        QStringList names;
        for (const QWidget *widget : widgets)
            names << QString::fromLatin1(widget->metaObject()->className()) + u' ' + widget->objectName();
        return names.join(u", "_s);
    }

    // One look: whether a flush of what is pending paints nothing in the
    // window. It clears the record first, so it is never a wait's condition.
    bool flushPaintsNothing()
    {
        clear();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        return painted.isEmpty();
    }

    // Looks until a look finds nothing painted; false at the limit.
    bool settle()
    {
        const QDeadlineTimer limit(TestWaits::limitMs);
        while (!flushPaintsNothing()) {
            if (limit.hasExpired())
                return false;
            QTest::qWait(50);
        }
        return true;
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *widget = qobject_cast<QWidget *>(watched);
        if (event->type() == QEvent::Paint && widget && widget->window() == m_window) {
            const QRegion region = static_cast<QPaintEvent *>(event)->region();
            painted += region.translated(widget->mapTo(m_window, QPoint(0, 0)));
            widgets << widget;
        }
        return false;
    }

private:
    QWidget *m_window;
};

} // namespace

class TestContentView : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<DocumentStore> m_store;
    std::unique_ptr<AppServices> m_services;
    std::unique_ptr<ContentView> m_view;

    ContentView *makeView()
    {
        DocumentStore *store = m_store.get();
        m_view = std::make_unique<ContentView>(
            *m_services, m_settings.get(),
            ContentView::Options{StartupSequence::Steps{[store] { return store->load(); }, {}, {}, {}}, {}});
        m_view->resize(1200, 780);
        m_view->show();
        if (!QTest::qWaitForWindowExposed(m_view.get(), TestWaits::limitMs))
            return nullptr;
        return m_view.get();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("TessivoTests"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_contentview"));
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_settings = std::make_unique<QSettings>(m_dir->filePath(QStringLiteral("settings.ini")),
                                                 QSettings::IniFormat);
        m_store = std::make_unique<DocumentStore>(m_dir->filePath(QStringLiteral("store")), m_settings.get());
        m_services = offlineServices(m_store.get());
    }

    void cleanup()
    {
        m_view.reset();
        m_services.reset();
        m_store->flushPendingSaves();
        m_store.reset();
        m_settings.reset();
        m_dir.reset();
    }

    void sidebarVisibleAtLaunch_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("visible");
        QTest::newRow("no stored value shows the sidebar") << QVariant() << true;
        QTest::newRow("stored false hides it") << QVariant(false) << false;
        QTest::newRow("robustness: not a Boolean") << QVariant(QStringLiteral("sideways")) << true;
    }

    // Until the keyring answers, the sidebar's footer offers neither "Sign
    // in" nor a user, nor says the documents stay on this computer.
    void theFooterWaitsForTheKeyring()
    {
        FakeKeyring keyring;
        keyring.answers = FakeKeyring::Answers::held;
        m_services = offlineServices(m_store.get(), Keychain(keyring.backend()));
        ContentView *view = makeView();
        QVERIFY(view);
        const auto shown = [view](const QString &text) {
            const QList<QLabel *> labels = view->sidebarPane()->findChildren<QLabel *>();
            return std::any_of(labels.cbegin(), labels.cend(),
                               [&](const QLabel *label) { return label->text() == text; });
        };
        QVERIFY(!shown(QStringLiteral("Sign in")));
        QVERIFY(!shown(QStringLiteral("Documents stay on this computer")));
        keyring.release();
        QVERIFY(shown(QStringLiteral("Sign in")));
        QVERIFY(shown(QStringLiteral("Documents stay on this computer")));
        m_view.reset();
        m_services.reset();
    }

    // The account's picture comes through the API client's network access,
    // and its host, which is not the service, never sees the session's token.
    void avatarCarriesNoBearerToken()
    {
        LoopbackImageHost pictureHost;
        QVERIFY(pictureHost.isListening());
        QTRY_VERIFY(!m_services->auth()->isReading());
        m_services->auth()->session()->begin(u"secret-token"_s);
        ContentView *view = makeView();
        QVERIFY(view);
        auto *row = view->findChild<AccountRow *>();
        QVERIFY(row);
        QSignalSpy fetched(m_services->client()->session(), &QNetworkAccessManager::finished);
        const QUrl picture(u"http://127.0.0.1:%1/ada.png"_s.arg(pictureHost.port()));
        row->present({true, u"Ada"_s, u"A"_s, picture, {}});
        QTRY_VERIFY(row->avatar()->hasImage());
        QCOMPARE(fetched.size(), 1);
        QCOMPARE(pictureHost.requests().size(), 1);
        QVERIFY2(!pictureHost.requests().first().toLower().contains("authorization"),
                 pictureHost.requests().first().constData());
        m_view.reset();
    }

    void sidebarVisibleAtLaunch()
    {
        QFETCH(QVariant, stored);
        QFETCH(bool, visible);
        if (stored.isValid())
            m_settings->setValue(QStringLiteral("sidebarVisible"), stored);
        m_settings->sync();
        ContentView *view = makeView();
        QVERIFY(view);
        QCOMPARE(view->sidebarVisible(), visible);
        QCOMPARE(view->sidebarPane()->width(), visible ? ContentView::sidebarWidth : 0);
        QCOMPARE(view->detailPane()->x(), visible ? ContentView::sidebarWidth : 0);
    }

    void toggleStoresTheChoiceAndHidesThePane()
    {
        ContentView *view = makeView();
        QVERIFY(view);
        QSignalSpy changed(view, &ContentView::sidebarVisibleChanged);
        const QString keys = CommandPaletteView::shortcutText(AppShortcuts::toggleSidebar);
        QCOMPARE(view->sidebarToggle()->toolTip(), QStringLiteral("Hide sidebar (%1)").arg(keys));

        QTest::mouseClick(view->sidebarToggle(), Qt::LeftButton);
        QVERIFY(!view->sidebarVisible());
        QCOMPARE(m_settings->value(QStringLiteral("sidebarVisible")).toBool(), false);
        QCOMPARE(view->sidebarToggle()->toolTip(), QStringLiteral("Show sidebar (%1)").arg(keys));
        QTRY_COMPARE(view->sidebarPane()->width(), 0);
        QTRY_COMPARE(view->detailPane()->geometry(), view->rect());
        // The toggle stays reachable while the sidebar is hidden; the palette names it by its state.
        QVERIFY(view->sidebarToggle()->isVisible());
        view->setPaletteOpen(true);
        const auto items = view->commandPalette()->model()->allItems();
        QCOMPARE(items.last().title, QStringLiteral("Show sidebar"));
        QCOMPARE(*items.last().shortcut, AppShortcuts::toggleSidebar);
        view->setPaletteOpen(false);

        m_services->notifications()->post(AppNotifications::toggleSidebar);
        QVERIFY(view->sidebarVisible());
        QCOMPARE(m_settings->value(QStringLiteral("sidebarVisible")).toBool(), true);
        QTRY_COMPARE(view->sidebarPane()->width(), ContentView::sidebarWidth);
        QCOMPARE(changed.size(), 2);
    }

    void paletteOpensAndClosesEveryWay()
    {
        ContentView *view = makeView();
        QVERIFY(view);
        QTRY_VERIFY(view->isStartupFinished());

        m_services->notifications()->post(AppNotifications::toggleCommandPalette);
        QVERIFY(view->paletteOpen());
        QPointer<CommandPaletteView> palette = view->commandPalette();
        QVERIFY(palette);
        QTRY_VERIFY(palette->searchField()->hasFocus());

        // A second toggle closes it.
        m_services->notifications()->post(AppNotifications::toggleCommandPalette);
        QVERIFY(!view->paletteOpen());
        QVERIFY(!view->commandPalette());
        QVERIFY(!palette->isVisible());

        // A click inside the panel that hits no row or field (the search
        // row's margin, the divider) is not a click on the backdrop.
        view->setPaletteOpen(true);
        palette = view->commandPalette();
        for (const QPoint &inside : {QPoint(4, 25), QPoint(300, 50), QPoint(palette->width() - 4, 25)}) {
            QTest::mouseClick(palette, Qt::LeftButton, {}, inside);
            QVERIFY2(view->paletteOpen(),
                     qPrintable(QStringLiteral("%1,%2").arg(inside.x()).arg(inside.y())));
        }

        // A click on the dimmed backdrop closes it.
        QTest::mouseClick(palette->parentWidget(), Qt::LeftButton, {}, QPoint(10, view->height() - 10));
        QVERIFY(!view->paletteOpen());

        // Escape closes it, and the keyboard goes back to the window and
        // the widget that had it, so the menu shortcuts work again.
        auto *editor = new QPlainTextEdit(view);
        editor->setGeometry(400, 200, 300, 100);
        editor->show();
        view->activateWindow();
        editor->setFocus();
        QTRY_VERIFY(editor->hasFocus());
        view->setPaletteOpen(true);
        palette = view->commandPalette();
        QTRY_VERIFY(palette->searchField()->hasFocus());
        QTest::keyClick(palette->searchField(), Qt::Key_Escape);
        QVERIFY(!view->paletteOpen());
        QTRY_COMPARE(QApplication::activeWindow(), view);
        QTRY_VERIFY(editor->hasFocus());
    }

    void paletteKeysAndMouse()
    {
        ContentView *view = makeView();
        QVERIFY(view);
        QTRY_VERIFY(view->isStartupFinished());
        view->setPaletteOpen(true);
        CommandPaletteView *palette = view->commandPalette();
        QLineEdit *field = palette->searchField();
        QTRY_VERIFY(field->hasFocus());

        QTest::keyClick(field, Qt::Key_Up); // wraps to the last entry
        const int last = int(palette->model()->shownItems().size()) - 1;
        QCOMPARE(palette->model()->selection(), last);
        QTest::keyClick(field, Qt::Key_Down);
        QCOMPARE(palette->model()->selection(), 0);
        QCOMPARE(field->cursorPosition(), 0);

        QTest::keyClicks(field, QStringLiteral("zzqqxx"));
        QVERIFY(palette->showsEmptyMessage());
        // The message stands with 28 points above and below it.
        const int messageHeight = QFontMetrics(palette->font()).height();
        QTRY_VERIFY2(palette->height() >= 50 + 1 + 28 + messageHeight + 28,
                     qPrintable(QString::number(palette->height())));
        QTest::keyClick(field, Qt::Key_Return); // nothing to run: stays open
        QVERIFY(view->paletteOpen());

        field->clear();
        QTest::keyClicks(field, QStringLiteral("show preview"));
        QCOMPARE(palette->model()->shownItems().first().id, QStringLiteral("mode:preview"));
        QTest::keyClick(field, Qt::Key_Return);
        QVERIFY(!view->paletteOpen());
        QCOMPARE(m_services->viewMode()->mode(), ViewMode::preview);

        // Hovering selects a row; a click runs it and closes the palette.
        view->setPaletteOpen(true);
        palette = view->commandPalette();
        const QList<CommandPaletteModel::Item> items = palette->model()->shownItems();
        const int newDoc = 0;
        QCOMPARE(items[newDoc].id, QStringLiteral("new-doc"));
        const int before = int(m_store->documents().size());
        const QRect row = palette->rowRect(newDoc + 1);
        QWidget *list = palette->childAt(row.center());
        QVERIFY(list);
        QTest::mouseMove(list, list->mapFrom(palette, row.center()));
        QTRY_COMPARE(palette->model()->selection(), newDoc + 1);
        const QRect first = palette->rowRect(newDoc);
        QTest::mouseClick(list, Qt::LeftButton, {}, list->mapFrom(palette, first.center()));
        QVERIFY(!view->paletteOpen());
        QCOMPARE(int(m_store->documents().size()), before + 1);
    }

    // A document chosen in the palette takes the typing that follows, as a
    // new document does: keys go to whichever window and widget has the
    // keyboard, as the window system would send them.
    void documentChosenInThePaletteTakesTyping()
    {
        PreviewWebView::setResourceFolder(QStringLiteral(TESSIVO_BUILD_DIR "/Tessivo/Preview"));
        m_services->viewMode()->setMode(ViewMode::split);
        const auto typeIntoFocus = [](const QString &keys) {
            for (const QChar key : keys)
                QTest::keyClick(QGuiApplication::focusWindow(), key.toLatin1());
        };
        DocumentStore *store = m_store.get();
        MainWindow window(
            *m_services,
            ContentView::Options{StartupSequence::Steps{[store] { return store->load(); }, {}, {}, {}}, {}});
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window, TestWaits::limitMs));
        QTRY_VERIFY(window.contentView()->isStartupFinished());
        const QString first = m_store->createDocument(std::nullopt, u"# Alpha notes\n\nOne."_s).id;
        const QString chosen = m_store->createDocument(std::nullopt, u"# Beta plan\n\nTwo."_s).id;
        m_store->setActiveDocumentID(first);
        window.activateWindow();
        QTRY_COMPARE(QGuiApplication::focusWindow(), window.windowHandle());
        ContentView *view = window.contentView();

        QTest::keyClick(window.windowHandle(), Qt::Key_K, Qt::ControlModifier);
        QTRY_VERIFY(view->commandPalette() && view->commandPalette()->searchField()->hasFocus());
        typeIntoFocus(u"beta"_s);
        QTRY_COMPARE(view->commandPalette()->model()->shownItems().first().id, u"doc:"_s + chosen);
        QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Return);
        QVERIFY(!view->paletteOpen());
        QCOMPARE(m_store->activeDocumentID(), chosen);
        QTRY_COMPARE(QGuiApplication::focusWindow(), window.windowHandle());
        auto *editor = window.findChild<ListContinuingTextView *>();
        QVERIFY(editor);
        QTRY_VERIFY(editor->hasFocus());
        typeIntoFocus(u"xyz"_s);
        QTRY_VERIFY2(m_store->document(chosen)->body.contains(u"xyz"_s),
                     qPrintable(m_store->document(chosen)->body));
        QVERIFY(!m_store->document(first)->body.contains(u"xyz"_s));
    }

    // The palette is made once and shown again: each opening starts as a
    // new palette would, on the store as it is now.
    void reopenedPaletteStartsFresh()
    {
        ContentView *view = makeView();
        QVERIFY(view);
        QTRY_VERIFY(view->isStartupFinished());
        m_store->createDocument(std::nullopt, u"# Kept\n"_s);
        view->setPaletteOpen(true);
        CommandPaletteView *palette = view->commandPalette();
        QTRY_VERIFY(palette->searchField()->hasFocus());
        QTest::keyClicks(palette->searchField(), u"zzqqxx"_s);
        QVERIFY(palette->showsEmptyMessage());
        QTest::keyClick(palette->searchField(), Qt::Key_Escape);
        QVERIFY(!view->paletteOpen());

        // Changed while the palette is closed.
        const QString added = m_store->createDocument(std::nullopt, u"# Added while closed\n"_s).id;
        view->toggleSidebar();
        view->setPaletteOpen(true);
        QCOMPARE(view->commandPalette(), palette);
        QTRY_VERIFY(palette->searchField()->hasFocus());
        QCOMPARE(palette->searchField()->text(), QString());
        QCOMPARE(palette->model()->selection(), 0);
        QVERIFY(!palette->showsEmptyMessage());
        const QList<CommandPaletteModel::Item> shown = palette->model()->shownItems();
        const qsizetype row = ids(shown).indexOf(u"doc:"_s + added);
        QVERIFY(row > 0);
        QVERIFY(!palette->rowRect(int(row)).isEmpty());
        QCOMPARE(palette->shownTitle(int(row)), u"Added while closed"_s);
        QCOMPARE(shown.last().title, u"Show sidebar"_s);
        QTest::keyClick(palette->searchField(), Qt::Key_Down);
        QCOMPARE(palette->model()->selection(), 1);
        QTest::keyClicks(palette->searchField(), u"added"_s);
        QCOMPARE(palette->model()->shownItems().first().id, u"doc:"_s + added);
        QTest::keyClick(palette->searchField(), Qt::Key_Return);
        QVERIFY(!view->paletteOpen());
        QCOMPARE(m_store->activeDocumentID(), added);
    }

    void dropOnTheWindow_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<bool>("imported");
        QTest::newRow("a Markdown file becomes a document") << "Dropped notes.md" << true;
        QTest::newRow("robustness: a file nobody handles is ignored") << "archive.zip" << false;
    }

    void dropOnTheWindow()
    {
        QFETCH(QString, fileName);
        QFETCH(bool, imported);
        ContentView *view = makeView();
        QVERIFY(view);
        QTRY_VERIFY(view->isStartupFinished());
        QFile file(m_dir->filePath(fileName));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("Some dropped text\n");
        file.close();
        DocumentStore *store = m_store.get();
        const qsizetype before = store->documents().size();

        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(file.fileName())});
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view, &enter);
        QVERIFY(enter.isAccepted()); // any file is welcome on the window
        QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view, &drop);
        QVERIFY(drop.isAccepted()); // accepted whatever the files are
        if (imported) {
            QTRY_COMPARE(store->documents().size(), before + 1);
            QCOMPARE(store->documents().first().displayTitle(), QStringLiteral("Some dropped text"));
        } else {
            // The drop is handled on the next turn of the event loop.
            QCoreApplication::processEvents();
            QCOMPARE(store->documents().size(), before);
        }
        store->flushPendingSaves();
    }

    void noPaneIsCutAtTheSmallestWindow_data()
    {
        QTest::addColumn<bool>("sidebar");
        QTest::addColumn<QString>("raw");
        for (const char *raw : {"split", "editor"}) {
            QTest::addRow("sidebar, %s", raw) << true << QString::fromLatin1(raw);
            QTest::addRow("no sidebar, %s", raw) << false << QString::fromLatin1(raw);
        }
    }

    void noPaneIsCutAtTheSmallestWindow()
    {
        QFETCH(bool, sidebar);
        QFETCH(QString, raw);
        m_services->viewMode()->setMode(ViewModes::fromRaw(raw));
        ContentView *view = makeView();
        QVERIFY(view);
        QTRY_VERIFY(view->findChild<MarkdownTextView *>());
        if (!sidebar)
            view->toggleSidebar();
        QTRY_COMPARE(view->detailPane()->x(), sidebar ? ContentView::sidebarWidth : 0);
        view->resize(1, 1);
        QTRY_COMPARE(view->size(), view->minimumSize());
        QVERIFY(view->width() >= 760 && view->height() >= 480);
        // Each shown pane lies whole inside the detail pane, 320 wide or more, apart from the other.
        QRect previous;
        for (QWidget *pane : std::initializer_list<QWidget *>{view->findChild<MarkdownTextView *>(),
                                                              view->findChild<PreviewWebView *>()}) {
            if (!pane->isVisibleTo(view))
                continue;
            const QRect r(pane->mapTo(view, QPoint(0, 0)), pane->size());
            QVERIFY(view->detailPane()->geometry().contains(r) && r.width() >= 320 &&
                    !r.intersects(previous));
            previous = r;
        }
        m_services->viewMode()->setMode(ViewMode::split);
    }

    // Where the window can't be wide enough for the sidebar beside the
    // split's panes, the sidebar gives way: the least width is the panes'
    // own, and the toggle opens the sidebar over the pane, storing nothing.
    // With room again (the editor alone, a wider screen) it is back beside.
    void theSidebarGivesWayWithoutRoomBeside()
    {
        m_services->viewMode()->setMode(ViewMode::split);
        ContentView *view = makeView();
        QVERIFY(view);
        QTRY_VERIFY(view->findChild<MarkdownTextView *>());
        QTRY_VERIFY(view->minimumWidth() >= ContentView::sidebarWidth + 2 * 320);
        QSignalSpy stored(view, &ContentView::sidebarVisibleChanged);
        const QString keys = CommandPaletteView::shortcutText(AppShortcuts::toggleSidebar);

        view->setAvailableWidth(798);
        QVERIFY(!view->sidebarBeside() && view->sidebarVisible() && !view->sidebarShown());
        QCOMPARE(view->minimumWidth(), 760);
        view->resize(798, 560);
        QTRY_COMPARE(view->detailPane()->geometry(), view->rect());
        QVERIFY(!view->sidebarPane()->isVisible());
        QCOMPARE(view->sidebarToggle()->toolTip(), QStringLiteral("Show sidebar (%1)").arg(keys));

        QTest::mouseClick(view->sidebarToggle(), Qt::LeftButton);
        QVERIFY(view->sidebarShown());
        QTRY_COMPARE(view->sidebarPane()->width(), ContentView::sidebarWidth);
        QCOMPARE(view->detailPane()->geometry(), view->rect());
        QCOMPARE(view->sidebarToggle()->toolTip(), QStringLiteral("Hide sidebar (%1)").arg(keys));
        QCOMPARE(stored.size(), 0);

        m_services->viewMode()->setMode(ViewMode::editor);
        QTRY_VERIFY(view->sidebarBeside());
        QTRY_COMPARE(view->detailPane()->x(), ContentView::sidebarWidth);
        m_services->viewMode()->setMode(ViewMode::split);
        QTRY_VERIFY(!view->sidebarBeside());
        QVERIFY(!view->sidebarShown()); // closed, as the room changed
        QTRY_COMPARE(view->detailPane()->geometry(), view->rect());

        view->setAvailableWidth(QWIDGETSIZE_MAX);
        QVERIFY(view->sidebarBeside() && view->sidebarShown());
        QTRY_COMPARE(view->width(), view->minimumWidth());
        QTRY_COMPARE(view->detailPane()->x(), ContentView::sidebarWidth);
        QCOMPARE(stored.size(), 0);
    }

    void caretBlinkRepaintsTheCaretAlone()
    {
        // The welcome document in split mode, the caret in the editor.
        PreviewWebView::setResourceFolder(QStringLiteral(TESSIVO_BUILD_DIR "/Tessivo/Preview"));
        m_services->viewMode()->setMode(ViewMode::split);
        ContentView *view = makeView();
        QVERIFY(view);
        QTRY_VERIFY(view->findChild<MarkdownTextView *>());
        ListContinuingTextView *text = view->findChild<MarkdownTextView *>()->textView();
        QTRY_VERIFY(!text->toPlainText().isEmpty());
        view->activateWindow();
        text->setFocus();
        QTRY_VERIFY(text->hasFocus());
        QTextCursor cursor = text->textCursor();
        cursor.setPosition(12);
        text->setTextCursor(cursor);
        const int flash = QApplication::cursorFlashTime();
        QVERIFY(flash > 0);
        QTimer *blink = nullptr;
        for (QTimer *timer : text->findChildren<QTimer *>()) {
            if (timer->isActive() && !timer->isSingleShot() && timer->interval() == flash / 2)
                blink = timer;
        }
        QVERIFY(blink);
        QTRY_VERIFY(view->findChild<PreviewWebView *>()->page()->isLoaded());

        // The ticks come from the test alone: the timer stays active, as its
        // own events are taken only then, but never runs out by itself.
        blink->setInterval(std::numeric_limits<int>::max());
        PaintRecorder recorder(view->window());
        const QRect caret(text->viewport()->mapTo(view->window(), text->cursorRect().topLeft()),
                          QSize(2, text->cursorRect().height()));
        // The preview draws a frame of its page whenever its renderer sends
        // one, and each frame repaints the pane around it: a tick that
        // lands with one is told by the preview's own paint and made again.
        // A tick that repaints the preview itself shows it every time.
        const auto tickAlone = [&] {
            for (int attempt = 0; attempt < 20; ++attempt) {
                if (!recorder.settle())
                    return;
                QTimerEvent timeout(blink->timerId());
                QCoreApplication::sendEvent(blink, &timeout);
                QTRY_VERIFY(!recorder.painted.isEmpty());
                QCoreApplication::processEvents();
                if (!std::any_of(recorder.widgets.cbegin(), recorder.widgets.cend(),
                                 [](const QWidget *w) { return w->inherits("QQuickWidget"); }))
                    return;
            }
        };
        for (int tick = 0; tick < 4; ++tick) {
            tickAlone();
            if (QTest::currentTestFailed())
                return;
            const QRect painted = recorder.painted.boundingRect();
            QVERIFY2(caret.contains(painted) && recorder.widgets == QList<QWidget *>{text->viewport()},
                     qPrintable(u"painted %1,%2 %3x%4 in %5 widgets for the caret at %6,%7 %8x%9: %10"_s
                                    .arg(painted.x())
                                    .arg(painted.y())
                                    .arg(painted.width())
                                    .arg(painted.height())
                                    .arg(recorder.widgets.size())
                                    .arg(caret.x())
                                    .arg(caret.y())
                                    .arg(caret.width())
                                    .arg(caret.height())
                                    .arg(recorder.names())));
        }

        // Qt's own caret, zero pixels wide under the editor's, blinks on a
        // timer of the view's text control: a tick of it paints nothing.
        QObject *control = nullptr;
        for (QObject *child : text->children()) {
            if (child->inherits("QWidgetTextControl"))
                control = child;
        }
        QVERIFY(control);
        int controlBlink = -1;
        for (const auto &timer : QAbstractEventDispatcher::instance()->registeredTimers(control)) {
            if (timer.interval == flash / 2)
                controlBlink = timer.timerId;
        }
        QVERIFY(controlBlink >= 0);
        blink->stop();
        for (int tick = 0; tick < 4; ++tick) {
            QVERIFY(recorder.settle());
            QTimerEvent timeout(controlBlink);
            QCoreApplication::sendEvent(control, &timeout);
            QVERIFY(recorder.flushPaintsNothing());
        }
    }

    void paletteMoveRowsKeepTheirDestination()
    {
        // A long title gives way; the destination, the part that differs, always shows.
        ContentView *view = makeView();
        QVERIFY(view);
        QTRY_VERIFY(m_store->isLoaded());
        m_store->createCollection(u"Meetings and planning"_s, m_store->createCollection(u"Work"_s)->id);
        m_store->createDocument(std::nullopt, u"# "_s + u"A rather long working title"_s.repeated(5));
        view->setPaletteOpen(true);
        const QList<CommandPaletteModel::Item> shown = view->commandPalette()->model()->shownItems();
        int moves = 0;
        for (int i = 0; i < shown.size(); ++i) {
            const QString text = view->commandPalette()->shownTitle(i);
            const QString destination = shown[i].title.mid(shown[i].title.lastIndexOf(u" to "_s));
            if (!shown[i].id.startsWith(u"move:"_s))
                continue;
            ++moves;
            QVERIFY2(text.startsWith(u"Move \u201CA rather"_s) &&
                         text.endsWith(u"\u2026\u201D"_s + destination),
                     qPrintable(text));
        }
        QCOMPARE(moves, 2);
    }

    // The list paints only the rows in the area asked for, and the layer
    // beneath the panel paints the panel's shadow.
    void paletteListPaintsPartsAndTheLayerItsShadow()
    {
        ContentView *view = makeView();
        QVERIFY(view);
        QTRY_VERIFY(m_store->isLoaded());
        const QString work = m_store->createCollection(u"Work"_s)->id;
        for (int i = 0; i < 30; ++i)
            m_store->createDocument(i % 3 ? std::optional<QString>(work) : std::nullopt,
                                    u"# Note %1\n"_s.arg(i));
        view->setPaletteOpen(true);
        CommandPaletteView *palette = view->commandPalette();
        QWidget *list = palette->findChild<QScrollArea *>()->widget();
        const QImage whole = list->grab().toImage();
        const int shown = int(palette->model()->shownItems().size());
        for (int i = 0; i < shown; i += 3) {
            // From the section header's room above the row into the next one.
            const QRect row = palette->rowRect(i).translated(list->mapFrom(palette, QPoint(0, 0)));
            const QRect band =
                QRect(0, row.top() - 20, list->width(), row.height() + 30).intersected(list->rect());
            QVERIFY2(list->grab(band).toImage() == whole.copy(band), qPrintable(u"row %1"_s.arg(i)));
        }

        QWidget *layer = palette->parentWidget();
        const QImage backdrop = layer->grab().toImage();
        const QRect panel = palette->geometry();
        const int x = panel.center().x();
        const auto lightness = [&](int y) { return backdrop.pixelColor(x, y).lightness(); };
        QVERIFY2(
            lightness(panel.bottom() + 14) < lightness(panel.bottom() + 60),
            qPrintable(u"%1 %2"_s.arg(lightness(panel.bottom() + 14)).arg(lightness(panel.bottom() + 60))));
    }
};

QTEST_MAIN(TestContentView)
#include "tst_contentview.moc"
