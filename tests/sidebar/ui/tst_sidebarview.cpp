#include "sidebar/SidebarTestStore.h"

#include "app/core/AppNotifications.h"
#include "sidebar/SidebarDialogs.h"
#include "sidebar/SidebarFooterRows.h"
#include "sidebar/SidebarHeader.h"
#include "sidebar/SidebarListView.h"
#include "sidebar/SidebarView.h"
#include "sidebar/core/SidebarDrag.h"

#include <QApplication>
#include <QDragMoveEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>

#include <memory>

// The sidebar driven by real mouse, keyboard and drag events: drags onto
// collections and the top-level strip, the rename prompt, the delete
// confirmations, the open dialog and the header's buttons.
class TestSidebarView final : public QObject
{
    Q_OBJECT

private:
    struct Fixture
    {
        SidebarTestStore t;
        AppNotifications notifications;
        std::unique_ptr<SidebarView> view;
        QMimeData *dragged = nullptr;
        QMenu *menu = nullptr;
        SidebarView::FilePicker pickFiles = [](QWidget *, const QString &, const QStringList &) {
            return QList<QUrl>{};
        };

        Fixture() = default;
        ~Fixture()
        {
            view.reset();
            delete dragged;
        }

        void show(int height = 760)
        {
            // Drags, menus and the file dialog are captured instead of running
            // their own event loops.
            SidebarView::Strategies strategies;
            strategies.pickFiles = [this](QWidget *parent, const QString &message,
                                          const QStringList &filters) {
                return pickFiles(parent, message, filters);
            };
            strategies.list.runDrag = [this](QMimeData *mime, const QPixmap &) {
                delete dragged;
                dragged = mime;
            };
            strategies.list.presentMenu = [this](QMenu *m, const QPoint &) { menu = m; };
            view =
                std::make_unique<SidebarView>(t.store.get(), t.settings.get(),
                                              SidebarView::Services{&notifications}, std::move(strategies));
            view->resize(260, height);
            view->show();
            QVERIFY(QTest::qWaitForWindowExposed(view.get(), TestWaits::limitMs));
        }

        SidebarListView *list() const { return view->listView(); }
        SidebarModel *model() const { return view->model(); }
        QWidget *viewport() const { return list()->viewport(); }
        QPoint centreOfCollection(const QString &id) const
        {
            return list()->visualRect(model()->index(model()->rowOfCollection(id))).center();
        }
        QPoint centreOfDocument(const QString &id) const
        {
            return list()->visualRect(model()->index(model()->rowOfDocument(id))).center();
        }
        QPoint centreOfStrip() const
        {
            const QRect strip = list()->visualRect(model()->index(model()->rowCount() - 1));
            return QPoint(strip.center().x(), strip.top() + 16);
        }

        // Presses on `from` and moves the mouse far enough to start a drag.
        void startDrag(const QPoint &from)
        {
            QTest::mousePress(viewport(), Qt::LeftButton, Qt::NoModifier, from);
            QTest::mouseMove(viewport(), from + QPoint(0, QApplication::startDragDistance() + 4));
            QTest::mouseRelease(viewport(), Qt::LeftButton, Qt::NoModifier, from);
        }

        // Enters, moves over and drops the captured payload at `to`; the
        // result says whether the drop was taken.
        bool dropAt(const QPoint &to, bool *lit = nullptr)
        {
            QDragEnterEvent enter(to, Qt::MoveAction, dragged, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(viewport(), &enter);
            QDragMoveEvent move(to, Qt::MoveAction, dragged, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(viewport(), &move);
            if (lit)
                *lit = list()->highlightedTarget().kind != SidebarModel::DropTarget::Kind::None;
            if (!move.isAccepted()) {
                QDragLeaveEvent leave;
                QCoreApplication::sendEvent(viewport(), &leave);
                return false;
            }
            QDropEvent drop(QPointF(to), Qt::MoveAction, dragged, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(viewport(), &drop);
            return drop.isAccepted();
        }

        void contextMenuAt(const QPoint &at)
        {
            QContextMenuEvent event(QContextMenuEvent::Mouse, at, viewport()->mapToGlobal(at));
            QCoreApplication::sendEvent(viewport(), &event);
        }

        // Clicks the confirmation's destructive button once it is on screen.
        QString confirm()
        {
            QMessageBox *box = view->activeConfirmation();
            if (!box)
                return {};
            (void)QTest::qWaitFor([box] { return box->isVisible(); }, TestWaits::limitMs);
            for (QAbstractButton *button : box->buttons()) {
                if (box->buttonRole(button) == QMessageBox::DestructiveRole) {
                    const QString text = box->text() + u'|' + button->text();
                    QTest::mouseClick(button, Qt::LeftButton);
                    return text;
                }
            }
            return {};
        }

        QAction *menuAction(const QString &title, QMenu *in = nullptr)
        {
            for (QAction *action : (in ? in : menu)->actions()) {
                if (action->text() == title)
                    return action;
            }
            return nullptr;
        }
    };

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("TessivoTests"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_sidebarview"));
    }

    void dragDocumentOntoCollection()
    {
        Fixture f;
        const QString work = f.t.collection("Work");
        const QString home = f.t.collection("Home");
        const QString doc = f.t.document("Plan", work);
        f.show();
        f.model()->setCollapsed({home});

        f.startDrag(f.centreOfDocument(doc));
        QVERIFY(f.dragged);
        QVERIFY(f.dragged->hasFormat("com.tessivo.document-reference"));
        bool lit = false;
        QVERIFY(f.dropAt(f.centreOfCollection(home), &lit));
        QVERIFY(lit);
        QCOMPARE(f.t.store->document(doc)->collectionId, std::optional<QString>(home));
        // A drop moves, it does not open: the collapsed target stays closed.
        QVERIFY(f.model()->isCollapsed(home));
        QCOMPARE(f.model()->rowOfDocument(doc), -1);
        QCOMPARE(f.model()->index(f.model()->rowOfCollection(home)).data(SidebarModel::CountRole).toInt(), 1);
    }

    void dragCollectionOntoTopLevelStrip()
    {
        Fixture f;
        const QString work = f.t.collection("Work");
        const QString child = f.t.collection("Child", work);
        f.show();

        f.startDrag(f.centreOfCollection(child));
        QVERIFY(f.dragged);
        QCOMPARE(f.model()->draggingCollectionID(), std::optional<QString>(child));
        // Onto its own parent: refused, and the section does not light up.
        bool lit = true;
        QVERIFY(!f.dropAt(f.centreOfCollection(work), &lit));
        QVERIFY(!lit);
        QCOMPARE(f.t.store->collection(child)->parentId, std::optional<QString>(work));

        QVERIFY(f.dropAt(f.centreOfStrip(), &lit));
        QVERIFY(lit);
        QVERIFY(!f.t.store->collection(child)->parentId);
        QCOMPARE(f.model()->index(f.model()->rowOfCollection(child)).data(SidebarModel::IndentRole).toInt(),
                 0);
    }

    void clicksToggleAndSelect()
    {
        Fixture f;
        const QString work = f.t.collection("Work");
        const QString a = f.t.document("A", work);
        const QString b = f.t.document("B", work);
        f.show();
        QCOMPARE(f.t.store->activeDocumentID(), b);
        QTest::mouseClick(f.viewport(), Qt::LeftButton, Qt::NoModifier, f.centreOfDocument(a));
        QCOMPARE(f.t.store->activeDocumentID(), a);
        QTest::mouseClick(f.viewport(), Qt::LeftButton, Qt::NoModifier, f.centreOfCollection(work));
        QVERIFY(f.model()->isCollapsed(work));
        QCOMPARE(f.model()->rowOfDocument(a), -1);
        QTest::mouseClick(f.viewport(), Qt::LeftButton, Qt::NoModifier, f.centreOfCollection(work));
        QVERIFY(!f.model()->isCollapsed(work));
    }

    void renameThroughItsPrompt()
    {
        Fixture f;
        const QString work = f.t.collection("Work");
        f.show();
        // The options button shows on hover and opens the collection menu.
        QTest::mouseMove(f.viewport(), f.centreOfCollection(work));
        QTRY_COMPARE(f.list()->hoveredRow(), f.model()->rowOfCollection(work));
        const QRect options = f.list()->optionsButtonRect(f.model()->rowOfCollection(work));
        QTest::mouseClick(f.viewport(), Qt::LeftButton, Qt::NoModifier, options.center());
        QVERIFY(f.menu);
        QVERIFY(f.menuAction("Rename…"));
        f.menuAction("Rename…")->trigger();

        SidebarPrompt *prompt = f.view->activePrompt();
        QVERIFY(prompt);
        QCOMPARE(prompt->windowTitle(), QStringLiteral("Rename Collection"));
        QCOMPARE(prompt->field()->text(), QStringLiteral("Work"));
        QTRY_VERIFY(prompt->isVisible());
        prompt->field()->clear();
        QTest::keyClicks(prompt->field(), QStringLiteral("Projects"));
        QTest::mouseClick(prompt->acceptButton(), Qt::LeftButton);
        QCOMPARE(f.t.store->collection(work)->name, QStringLiteral("Projects"));
        QVERIFY(!f.model()->renaming());
        QTRY_VERIFY(!f.view->activePrompt());
    }

    void namesShowAsWritten()
    {
        Fixture f;
        const QString name = QStringLiteral("R&D <b>team</b>");
        const QString rd = f.t.collection(name);
        const QString doc = f.t.document("Plan", rd);
        f.show();

        f.contextMenuAt(f.centreOfDocument(doc));
        QVERIFY(f.menu);
        const QList<QAction *> targets = f.menuAction("Move to")->menu()->actions();
        QVERIFY(!targets.isEmpty());
        QCOMPARE(targets.first()->iconText(), name);

        const QRect options = f.list()->optionsButtonRect(f.model()->rowOfCollection(rd));
        QHelpEvent help(QEvent::ToolTip, options.center(), f.viewport()->mapToGlobal(options.center()));
        QCoreApplication::sendEvent(f.viewport(), &help);
        QTRY_VERIFY(QToolTip::isVisible());
        QVERIFY2(QToolTip::text().contains(QStringLiteral("&lt;b&gt;team&lt;/b&gt;")),
                 qPrintable(QToolTip::text()));
        QToolTip::hideText();
    }

    void deleteThroughConfirmations()
    {
        Fixture f;
        const QString work = f.t.collection("Work");
        const QString doc = f.t.document("Draft", work);
        f.show();

        f.contextMenuAt(f.centreOfDocument(doc));
        QVERIFY(f.menu);
        f.menuAction("Delete…")->trigger();
        QMessageBox *box = f.view->activeConfirmation();
        QVERIFY(box);
        QCOMPARE(box->informativeText(),
                 QStringLiteral("This removes the document from every synced device."));
        // Cancel keeps the document.
        QTRY_VERIFY(box->isVisible());
        QTest::mouseClick(box->button(QMessageBox::Cancel), Qt::LeftButton);
        QVERIFY(f.t.store->document(doc));
        QVERIFY(!f.model()->documentToDelete());

        f.contextMenuAt(f.centreOfDocument(doc));
        f.menuAction("Delete…")->trigger();
        QCOMPARE(f.confirm(), QStringLiteral("Delete \u201CDraft\u201D?|Delete Document"));
        QVERIFY(!f.t.store->document(doc));

        f.contextMenuAt(f.centreOfCollection(work));
        f.menuAction("Delete Collection…")->trigger();
        QCOMPARE(f.confirm(), QStringLiteral("Delete \u201CWork\u201D?|Delete Collection"));
        QVERIFY(!f.t.store->collection(work));
    }

    void oneDialogAtATime()
    {
        Fixture f;
        const QString a = f.t.collection("A");
        const QString b = f.t.collection("B");
        const QString doc = f.t.document("Doc", a);
        f.show();

        // A prompt of the other kind gives way and its flow ends.
        f.model()->beginRename(a);
        f.notifications.post(AppNotifications::newCollection);
        QVERIFY(!f.model()->renaming());
        QVERIFY(f.model()->creatingCollection());
        QCOMPARE(f.view->activePrompt()->windowTitle(), QStringLiteral("New Collection"));
        f.model()->beginRename(b);
        QVERIFY(!f.model()->creatingCollection());
        QCOMPARE(f.view->activePrompt()->field()->text(), QStringLiteral("B"));

        // A second confirmation of the same kind replaces the first.
        f.model()->beginDeleteCollection(a);
        f.model()->beginDeleteCollection(b);
        QMessageBox *box = f.view->activeConfirmation();
        QCOMPARE(box->text(), QStringLiteral("Delete \u201CB\u201D?"));
        // One of the other kind ends the first flow.
        f.model()->beginDeleteDocument(doc);
        QVERIFY(!f.model()->collectionToDelete());
        box = f.view->activeConfirmation();
        QCOMPARE(box->text(), QStringLiteral("Delete \u201CDoc\u201D?"));
        f.model()->beginDeleteCollection(b);
        QVERIFY(!f.confirm().isEmpty());
        QVERIFY(!f.t.store->collection(b));
        QVERIFY(f.t.store->collection(a));
        QVERIFY(f.t.store->document(doc));
    }

    void newCollectionFromTheCommandAndTheDocumentMenu()
    {
        Fixture f;
        const QString doc = f.t.document("Loose");
        f.show();
        f.notifications.post(AppNotifications::newCollection);
        SidebarPrompt *prompt = f.view->activePrompt();
        QVERIFY(prompt);
        QCOMPARE(prompt->windowTitle(), QStringLiteral("New Collection"));
        QTRY_VERIFY(prompt->isVisible());
        QTest::keyClicks(prompt->field(), QStringLiteral("Inbox"));
        QTest::keyClick(prompt->field(), Qt::Key_Return);
        QCOMPARE(f.t.store->collections().size(), 1);
        QVERIFY(!f.t.store->document(doc)->collectionId);

        f.contextMenuAt(f.centreOfDocument(doc));
        QMenu *moveTo = f.menuAction("Move to")->menu();
        QVERIFY(moveTo);
        f.menuAction("New Collection…", moveTo)->trigger();
        prompt = f.view->activePrompt();
        QVERIFY(prompt);
        QVERIFY(prompt->field()->text().isEmpty());
        QTRY_VERIFY(prompt->isVisible());
        QTest::keyClicks(prompt->field(), QStringLiteral("Ideas"));
        QTest::mouseClick(prompt->acceptButton(), Qt::LeftButton);
        QCOMPARE(f.t.store->collections().size(), 2);
        QCOMPARE(f.t.store->document(doc)->collectionId,
                 std::optional<QString>(f.t.store->collections().last().id));
    }

    void openDialogImportsMarkdownFilesOnly()
    {
        Fixture f;
        f.show();
        QStringList asked;
        QList<QUrl> chosen;
        for (const char *name : {"a.md", "pic.png", "B.MD", "notes.txt", "folder"})
            chosen << QUrl::fromLocalFile(QStringLiteral("/tmp/") + QLatin1String(name));
        f.pickFiles = [&](QWidget *, const QString &message, const QStringList &filters) {
            asked = QStringList{message} + filters;
            return std::exchange(chosen, {QUrl::fromLocalFile("/tmp/pic.png")});
        };
        QList<QList<QUrl>> imported;
        connect(f.view.get(), &SidebarView::importRequested, this,
                [&](const QList<QUrl> &files) { imported.append(files); });

        // Through the create button's caret menu, as a user would.
        std::unique_ptr<QMenu> menu(f.view->createButton()->makeMenu(nullptr));
        f.menuAction("Open File…", menu.get())->trigger();
        QCOMPARE(asked.size(), 2);
        QCOMPARE(asked.first(), QStringLiteral("Open Markdown files as documents"));
        QVERIFY(asked.last().contains("*.md *.markdown *.mdown *.mkd *.mkdn *.mdwn *.txt"));
        QCOMPARE(imported.size(), 1);
        QCOMPARE(imported.first(),
                 (QList<QUrl>{QUrl::fromLocalFile("/tmp/a.md"), QUrl::fromLocalFile("/tmp/B.MD"),
                              QUrl::fromLocalFile("/tmp/notes.txt")}));

        // Nothing usable chosen, or the dialog cancelled: nothing is imported.
        f.view->openMarkdownFiles();
        f.pickFiles = [](QWidget *, const QString &, const QStringList &) { return QList<QUrl>{}; };
        f.view->openMarkdownFiles();
        QCOMPARE(imported.size(), 1);
    }

    void activeDocumentScrollsIntoView()
    {
        // At start-up, after a jump (the palette) and after a new document,
        // the active row is on screen in a long list.
        Fixture f;
        QStringList ids;
        for (int i = 0; i < 40; ++i)
            ids << f.t.document(QStringLiteral("Note %1").arg(i));
        f.t.store->setActiveDocumentID(ids.first());
        f.show(420);
        const auto shows = [&f](const QString &id) {
            const QRect row = f.list()->visualRect(f.model()->index(f.model()->rowOfDocument(id)));
            return !row.isEmpty() && f.viewport()->rect().contains(row);
        };
        for (const QString &id : {ids.first(), ids.last(), ids.at(20)}) {
            f.t.store->setActiveDocumentID(id);
            QTRY_VERIFY(shows(id));
        }
        const QString created = f.t.store->createDocument().id; // becomes active, as with Ctrl+N
        QTRY_VERIFY(shows(created));
    }

    void headerButtons()
    {
        Fixture f;
        f.show();
        QSignalSpy posted(&f.notifications, &AppNotifications::posted);
        QTest::mouseClick(f.view->paletteButton(), Qt::LeftButton);
        QCOMPARE(posted.count(), 1);
        QCOMPARE(posted.first().first().toString(), QStringLiteral("zv.toggleCommandPalette"));
        QCOMPARE(f.view->paletteButton()->toolTip(), QStringLiteral("Command palette (Ctrl+K)"));

        CreateSplitButton *create = f.view->createButton();
        QTest::mouseClick(create, Qt::LeftButton, Qt::NoModifier, create->mainRect().center());
        QCOMPARE(f.t.store->documents().size(), 1);
        QCOMPARE(f.t.store->activeDocumentID(), f.t.store->documents().first().id);

        std::unique_ptr<QMenu> menu(create->makeMenu(nullptr));
        f.menuAction("New Collection", menu.get())->trigger();
        QVERIFY(f.view->activePrompt());
    }

    void signedOutFooter()
    {
        Fixture f;
        f.show();
        QCOMPARE(f.view->syncStatusRow()->shown().text, QStringLiteral("Documents stay on this computer"));
        QCOMPARE(f.view->accountRow()->nameText(), QStringLiteral("Sign in"));
        QSignalSpy opened(f.view.get(), &SidebarView::settingsRequested);
        QTest::mouseClick(f.view->accountRow(), Qt::LeftButton);
        QCOMPARE(opened.size(), 1);
    }
};

QTEST_MAIN(TestSidebarView)
#include "tst_sidebarview.moc"
