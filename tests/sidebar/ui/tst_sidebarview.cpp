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

        void show()
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
            view = std::make_unique<SidebarView>(t.store.get(), t.settings.get(), nullptr, nullptr,
                                                 std::move(strategies));
            view->resize(260, 760);
            view->show();
            QVERIFY(QTest::qWaitForWindowExposed(view.get()));
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

    void fixedCollectionHeaderIsNoDragSource()
    {
        Fixture f;
        Collection blog;
        blog.id = QStringLiteral("site-blog");
        blog.name = QStringLiteral("Blog");
        blog.createdAt = blog.updatedAt = 1;
        f.t.store->applyPull({}, {blog});
        f.show();
        f.startDrag(f.centreOfCollection(blog.id));
        QVERIFY(!f.dragged);
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
        QCOMPARE(prompt->field()->placeholderText(), QStringLiteral("Name"));
        QTRY_VERIFY(prompt->isVisible());
        prompt->field()->clear();
        QTest::keyClicks(prompt->field(), QStringLiteral("Projects"));
        QCOMPARE(prompt->acceptButton()->text(), QStringLiteral("Rename"));
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

        QContextMenuEvent onDoc(QContextMenuEvent::Mouse, f.centreOfDocument(doc),
                                f.viewport()->mapToGlobal(f.centreOfDocument(doc)));
        QCoreApplication::sendEvent(f.viewport(), &onDoc);
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

        QContextMenuEvent onDoc(QContextMenuEvent::Mouse, f.centreOfDocument(doc),
                                f.viewport()->mapToGlobal(f.centreOfDocument(doc)));
        QCoreApplication::sendEvent(f.viewport(), &onDoc);
        QVERIFY(f.menu);
        f.menuAction("Delete…")->trigger();
        QMessageBox *box = f.view->activeConfirmation();
        QVERIFY(box);
        QCOMPARE(box->text(), QStringLiteral("Delete \u201CDraft\u201D?"));
        QCOMPARE(box->informativeText(),
                 QStringLiteral("This removes the document from every synced device."));
        // Cancel keeps the document.
        QTRY_VERIFY(box->isVisible());
        QTest::mouseClick(box->button(QMessageBox::Cancel), Qt::LeftButton);
        QVERIFY(f.t.store->document(doc));
        QVERIFY(!f.model()->documentToDelete());

        QCoreApplication::sendEvent(f.viewport(), &onDoc);
        f.menuAction("Delete…")->trigger();
        box = f.view->activeConfirmation();
        QAbstractButton *destroy = nullptr;
        for (QAbstractButton *b : box->buttons())
            if (box->buttonRole(b) == QMessageBox::DestructiveRole)
                destroy = b;
        QVERIFY(destroy);
        QCOMPARE(destroy->text(), QStringLiteral("Delete Document"));
        QTRY_VERIFY(box->isVisible());
        QTest::mouseClick(destroy, Qt::LeftButton);
        QVERIFY(!f.t.store->document(doc));

        QContextMenuEvent onHeader(QContextMenuEvent::Mouse, f.centreOfCollection(work),
                                   f.viewport()->mapToGlobal(f.centreOfCollection(work)));
        QCoreApplication::sendEvent(f.viewport(), &onHeader);
        f.menuAction("Delete Collection…")->trigger();
        box = f.view->activeConfirmation();
        QCOMPARE(box->text(), QStringLiteral("Delete \u201CWork\u201D?"));
        for (QAbstractButton *b : box->buttons())
            if (box->buttonRole(b) == QMessageBox::DestructiveRole)
                destroy = b;
        QCOMPARE(destroy->text(), QStringLiteral("Delete Collection"));
        QTRY_VERIFY(box->isVisible());
        QTest::mouseClick(destroy, Qt::LeftButton);
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
        AppNotifications::post(AppNotifications::newCollection);
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
        box = f.view->activeConfirmation();
        QTRY_VERIFY(box->isVisible());
        for (QAbstractButton *button : box->buttons()) {
            if (box->buttonRole(button) == QMessageBox::DestructiveRole)
                QTest::mouseClick(button, Qt::LeftButton);
        }
        QVERIFY(!f.t.store->collection(b));
        QVERIFY(f.t.store->collection(a));
        QVERIFY(f.t.store->document(doc));
    }

    void newCollectionFromTheCommandAndTheDocumentMenu()
    {
        Fixture f;
        const QString doc = f.t.document("Loose");
        f.show();
        AppNotifications::post(AppNotifications::newCollection);
        SidebarPrompt *prompt = f.view->activePrompt();
        QVERIFY(prompt);
        QCOMPARE(prompt->windowTitle(), QStringLiteral("New Collection"));
        QTRY_VERIFY(prompt->isVisible());
        QTest::keyClicks(prompt->field(), QStringLiteral("Inbox"));
        QTest::keyClick(prompt->field(), Qt::Key_Return);
        QCOMPARE(f.t.store->collections().size(), 1);
        QVERIFY(!f.t.store->document(doc)->collectionId);

        QContextMenuEvent onDoc(QContextMenuEvent::Mouse, f.centreOfDocument(doc),
                                f.viewport()->mapToGlobal(f.centreOfDocument(doc)));
        QCoreApplication::sendEvent(f.viewport(), &onDoc);
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
        QStringList askedFilters;
        QString askedMessage;
        f.pickFiles = [&](QWidget *, const QString &message, const QStringList &filters) {
            askedMessage = message;
            askedFilters = filters;
            return QList<QUrl>{QUrl::fromLocalFile("/tmp/a.md"), QUrl::fromLocalFile("/tmp/pic.png"),
                               QUrl::fromLocalFile("/tmp/B.MD"), QUrl::fromLocalFile("/tmp/notes.txt"),
                               QUrl::fromLocalFile("/tmp/folder")};
        };
        QList<QList<QUrl>> imported;
        connect(f.view.get(), &SidebarView::importRequested, this,
                [&](const QList<QUrl> &files) { imported.append(files); });

        // Through the create button's caret menu, as a user would.
        std::unique_ptr<QMenu> menu(f.view->createButton()->makeMenu(nullptr));
        f.menuAction("Open File…", menu.get())->trigger();
        QCOMPARE(askedMessage, QStringLiteral("Open Markdown files as documents"));
        QCOMPARE(askedFilters.size(), 1);
        QVERIFY(askedFilters.first().contains("*.md *.markdown *.mdown *.mkd *.mkdn *.mdwn *.txt"));
        QCOMPARE(imported.size(), 1);
        QCOMPARE(imported.first(),
                 (QList<QUrl>{QUrl::fromLocalFile("/tmp/a.md"), QUrl::fromLocalFile("/tmp/B.MD"),
                              QUrl::fromLocalFile("/tmp/notes.txt")}));

        // Nothing usable chosen, or the dialog cancelled: nothing is imported.
        f.pickFiles = [](QWidget *, const QString &, const QStringList &) {
            return QList<QUrl>{QUrl::fromLocalFile("/tmp/pic.png")};
        };
        f.view->openMarkdownFiles();
        f.pickFiles = [](QWidget *, const QString &, const QStringList &) { return QList<QUrl>{}; };
        f.view->openMarkdownFiles();
        QCOMPARE(imported.size(), 1);
    }

    void headerButtons()
    {
        Fixture f;
        f.show();
        QSignalSpy posted(AppNotifications::instance(), &AppNotifications::posted);
        QTest::mouseClick(f.view->paletteButton(), Qt::LeftButton);
        QCOMPARE(posted.count(), 1);
        QCOMPARE(posted.first().first().toString(), QStringLiteral("zv.toggleCommandPalette"));
        QCOMPARE(f.view->paletteButton()->toolTip(), QStringLiteral("Command palette (Ctrl+Shift+K)"));

        CreateSplitButton *create = f.view->createButton();
        QTest::mouseClick(create, Qt::LeftButton, Qt::NoModifier, create->mainRect().center());
        QCOMPARE(f.t.store->documents().size(), 1);
        QCOMPARE(f.t.store->activeDocumentID(), f.t.store->documents().first().id);

        std::unique_ptr<QMenu> menu(create->makeMenu(nullptr));
        QStringList entries;
        for (QAction *action : menu->actions())
            entries << (action->isSeparator() ? QStringLiteral("---")
                                              : action->text() + u'|' + action->shortcut().toString());
        QCOMPARE(entries,
                 (QStringList{"New Document|Ctrl+N", "New Collection|Ctrl+Shift+N", "---", "Open File…|"}));
        f.menuAction("New Collection", menu.get())->trigger();
        QVERIFY(f.view->activePrompt());
    }

    void signedOutFooter()
    {
        Fixture f;
        f.show();
        QCOMPARE(f.view->syncStatusRow()->shown().text, QStringLiteral("Documents stay on this computer"));
        QVERIFY(f.view->syncStatusRow()->toolTip().isEmpty());
        QVERIFY(!f.view->syncStatusRow()->isPulsing());
        QCOMPARE(f.view->accountRow()->nameText(), QStringLiteral("Sign in"));
        QCOMPARE(f.view->accountRow()->toolTip(), QStringLiteral("Sign in to publish and sync"));
        QSignalSpy opened(f.view.get(), &SidebarView::settingsRequested);
        QTest::mouseClick(f.view->accountRow(), Qt::LeftButton);
        QCOMPARE(opened.size(), 1);
    }
};

QTEST_MAIN(TestSidebarView)
#include "tst_sidebarview.moc"
