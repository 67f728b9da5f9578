#include "SidebarTestStore.h"

#include "sidebar/core/SidebarTexts.h"

#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

// The collection and document menus as data (entries, marks, enabled states,
// targets) and the flows of the sidebar's prompts and confirmations.
class TestSidebarMenus final : public QObject
{
    Q_OBJECT

private:
    // "Title" per entry; "---" for a separator; "[x]" marks, "(off)" disabled,
    // "!" destructive; a submenu lists its entries after "Title >".
    static QStringList describe(const QList<SidebarMenuItem> &items)
    {
        QStringList out;
        for (const SidebarMenuItem &item : items) {
            if (item.kind == SidebarMenuItem::Kind::Separator)
                out << QStringLiteral("---");
            else
                out << item.title + (item.checked ? " [x]" : "") + (item.enabled ? "" : " (off)") +
                           (item.destructive ? " !" : "") +
                           (item.kind == SidebarMenuItem::Kind::Submenu ? " >" : "");
        }
        return out;
    }

    static SidebarMenuItem find(const QList<SidebarMenuItem> &items, const QString &title)
    {
        for (const SidebarMenuItem &item : items)
            if (item.title == title)
                return item;
        return {};
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("TessivoTests"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_sidebarmenus"));
    }

    void collectionMenu_data()
    {
        QTest::addColumn<QString>("which");
        QTest::addColumn<QStringList>("entries");
        const QStringList full{"New Document", "New Sub-collection…", "---", "Rename…", "Move to >",
                               "---",          "Delete Collection… !"};
        QStringList noSub = full;
        noSub.removeAt(1);
        QTest::newRow("depth 1 offers a sub-collection") << "L1" << full;
        QTest::newRow("depth 3 still does") << "L3" << full;
        QTest::newRow("depth 4 does not") << "L4" << noSub;
        QTest::newRow("site-blog: new document and its blog link")
            << "site-blog" << QStringList{"New Document", "---", "View Blog"};
        QTest::newRow("personal-site without a site: no link")
            << "personal-site" << QStringList{"New Document"};
        QTest::newRow("personal-site with a site")
            << "personal-site+site" << QStringList{"New Document", "---", "View Site"};
    }

    void collectionMenu()
    {
        QFETCH(QString, which);
        QFETCH(QStringList, entries);
        SidebarTestStore t;
        t.addFixed();
        const QStringList levels = t.chain(4);
        SidebarModel &model = t.makeModel();
        model.setServiceBaseURL(QUrl(QStringLiteral("https://example.test")));
        if (which.endsWith("+site")) {
            which.chop(5);
            model.setSiteURLProvider(
                [] { return std::optional<QUrl>(QUrl(QStringLiteral("https://me.example.test/"))); });
        }
        const QString id = which.startsWith('L') ? levels.at(which.mid(1).toInt() - 1) : which;
        const QList<SidebarMenuItem> menu = model.collectionMenu(id);
        QCOMPARE(describe(menu), entries);
        if (which == "site-blog")
            QCOMPARE(find(menu, "View Blog").url, QUrl(QStringLiteral("https://example.test/blog/")));
        if (entries.last() == "View Site") { // a link asks the view to open it
            QSignalSpy open(&model, &SidebarModel::openURLRequested);
            model.trigger(menu.last());
            QCOMPARE(open.count(), 1);
            QCOMPARE(open.first().first().toUrl(), QUrl(QStringLiteral("https://me.example.test/")));
        }
    }

    void collectionMoveMenu_data()
    {
        QTest::addColumn<QString>("moved");
        QTest::addColumn<QStringList>("entries");
        // Tree: Work > Notes > Deep; Tall > T2 > T3; Leaf; fixed ones first.
        QTest::newRow("top-level collection marks Top Level; no self, descendants or fixed")
            << "Work" << QStringList{"Top Level [x]", "---", "Tall", "Leaf"};
        QTest::newRow("nested collection marks its parent, listed though moving there changes nothing")
            << "Deep" << QStringList{"Top Level", "---",       "Work",           "Work / Notes [x]",
                                     "Tall",      "Tall / T2", "Tall / T2 / T3", "Leaf"};
        QTest::newRow("three-level subtree only fits under a root")
            << "Tall" << QStringList{"Top Level [x]", "---", "Work", "Leaf"};
    }

    void collectionMoveMenu()
    {
        QFETCH(QString, moved);
        QFETCH(QStringList, entries);
        SidebarTestStore t;
        t.addFixed();
        const QMap<QString, QString> ids = t.tree();
        SidebarModel &model = t.makeModel();
        const QList<SidebarMenuItem> menu = model.collectionMoveMenu(ids[moved]);
        QCOMPARE(describe(menu), entries);
        // The submenu is also what the collection menu's "Move to" holds.
        QCOMPARE(find(model.collectionMenu(ids[moved]), "Move to").children, menu);
    }

    void collectionMoveMenuMovesAndOpensTheTarget()
    {
        SidebarTestStore t;
        const QString work = t.collection("Work");
        const QString leaf = t.collection("Leaf");
        SidebarModel &model = t.makeModel();
        model.setCollapsed({work});
        model.trigger(find(model.collectionMoveMenu(leaf), "Work"));
        QCOMPARE(t.store->collection(leaf)->parentId, std::optional<QString>(work));
        QVERIFY(model.collapsed().isEmpty());
        model.trigger(find(model.collectionMoveMenu(leaf), "Top Level"));
        QVERIFY(!t.store->collection(leaf)->parentId);
    }

    void documentMoveMenu_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QStringList>("entries");
        QTest::newRow("no collections: only No Collection, disabled")
            << "none" << QStringList{"No Collection (off)", "---", "New Collection…"};
        QTest::newRow("fixed collections listed, current one marked")
            << "filed" << QStringList{"Blog", "Site",          "Work [x]", "Work / Notes",
                                      "---",  "No Collection", "---",      "New Collection…"};
        QTest::newRow("collection deleted: no mark, No Collection disabled")
            << "deleted"
            << QStringList{"Blog", "Site", "---", "No Collection (off)", "---", "New Collection…"};
    }

    void documentMoveMenu()
    {
        QFETCH(QString, setup);
        QFETCH(QStringList, entries);
        SidebarTestStore t;
        QString doc;
        if (setup == "none") {
            doc = t.document("Doc");
        } else {
            t.addFixed();
            const QString work = t.collection("Work");
            doc = t.document("Doc", work);
            if (setup == "deleted")
                t.store->deleteCollection(work);
            else
                t.collection("Notes", work);
        }
        SidebarModel &model = t.makeModel();
        QCOMPARE(describe(model.documentMoveMenu(doc)), entries);
        QCOMPARE(describe(model.documentMenu(doc)), (QStringList{"Move to >", "---", "Delete… !"}));
    }

    void documentMoveMenuMoves()
    {
        SidebarTestStore t;
        const QString work = t.collection("Work");
        const QString doc = t.document("Doc", work);
        SidebarModel &model = t.makeModel();
        model.trigger(find(model.documentMoveMenu(doc), "No Collection"));
        QVERIFY(!t.store->document(doc)->collectionId);
        model.trigger(find(model.documentMoveMenu(doc), "Work"));
        QCOMPARE(t.store->document(doc)->collectionId, std::optional<QString>(work));
    }

    void newCollectionFlows_data()
    {
        QTest::addColumn<QString>("opener");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("created");
        QTest::newRow("top level") << "top" << u"Ideas"_s << true;
        QTest::newRow("name is trimmed") << "top" << u"  Ideas \n"_s << true;
        QTest::newRow("empty name creates nothing") << "top" << u"   "_s << false;
        QTest::newRow("for a document: made and the document moved in") << "document" << u"Ideas"_s << true;
        QTest::newRow("for a document, empty name: nothing moves") << "document" << u""_s << false;
        QTest::newRow("sub-collection opens the collapsed parent") << "sub" << u"Ideas"_s << true;
        QTest::newRow("sub-collection, empty name: parent still opened") << "sub" << u""_s << false;
    }

    void newCollectionFlows()
    {
        QFETCH(QString, opener);
        QFETCH(QString, name);
        QFETCH(bool, created);
        SidebarTestStore t;
        const QString parent = t.collection("Parent");
        const QString doc = t.document("Doc");
        SidebarModel &model = t.makeModel();
        model.setCollapsed({parent});
        QSignalSpy shown(&model, &SidebarModel::creatingCollectionChanged);
        if (opener == "top")
            model.beginNewCollection();
        else if (opener == "document")
            model.trigger(find(model.documentMoveMenu(doc), "New Collection…"));
        else
            model.trigger(find(model.collectionMenu(parent), "New Sub-collection…"));
        QVERIFY(model.creatingCollection());
        QCOMPARE(shown.count(), 1);
        QVERIFY(model.newCollectionName().isEmpty());

        model.setNewCollectionName(name);
        model.createCollection();
        QVERIFY(!model.creatingCollection());
        QVERIFY(!model.pendingMoveDocID());
        QVERIFY(!model.pendingParentID());
        QCOMPARE(t.store->collections().size(), created ? 2 : 1);
        if (created) {
            const Collection made = t.store->collections().last();
            QCOMPARE(made.name, QStringLiteral("Ideas"));
            QCOMPARE(made.parentId, opener == "sub" ? std::optional<QString>(parent) : std::nullopt);
            QCOMPARE(t.store->document(doc)->collectionId,
                     opener == "document" ? std::optional<QString>(made.id) : std::nullopt);
        } else {
            QVERIFY(!t.store->document(doc)->collectionId);
        }
        QCOMPARE(model.isCollapsed(parent), opener != "sub");
    }

    void cancelClearsPendingAndNextOpeningStartsEmpty()
    {
        SidebarTestStore t;
        const QString doc = t.document("Doc");
        SidebarModel &model = t.makeModel();
        model.beginNewCollectionForDocument(doc);
        QCOMPARE(model.pendingMoveDocID(), std::optional<QString>(doc));
        model.setNewCollectionName(QStringLiteral("Half typed"));
        model.cancelNewCollection();
        QVERIFY(!model.creatingCollection());
        QVERIFY(!model.pendingMoveDocID());
        QVERIFY(t.store->collections().isEmpty());
        model.beginNewCollection();
        QVERIFY(model.newCollectionName().isEmpty());
    }

    void renameFlow()
    {
        SidebarTestStore t;
        const QString work = t.collection("Work");
        SidebarModel &model = t.makeModel();
        model.trigger(find(model.collectionMenu(work), "Rename…"));
        QVERIFY(model.renaming());
        QCOMPARE(model.renameText(), QStringLiteral("Work"));
        model.setRenameText(QStringLiteral("  "));
        model.confirmRename();
        QVERIFY(!model.renaming());
        QCOMPARE(t.store->collection(work)->name, QStringLiteral("Work"));
        model.beginRename(work);
        model.setRenameText(QStringLiteral("Job"));
        model.confirmRename();
        QCOMPARE(t.store->collection(work)->name, QStringLiteral("Job"));
    }

    void deleteConfirmations()
    {
        SidebarTestStore t;
        const QString work = t.collection("Work");
        const QString child = t.collection("Child", work);
        const QString doc = t.document("My note", work);
        const QString unnamed = t.collection("Temp");
        t.store->renameCollection(unnamed, QString()); // ignored: stays "Temp"
        SidebarModel &model = t.makeModel();

        model.trigger(find(model.collectionMenu(work), "Delete Collection…"));
        model.confirmDeleteCollection();
        QVERIFY(!model.collectionToDelete());
        QVERIFY(!t.store->collection(work));
        QCOMPARE(model.index(model.rowOfCollection(child)).data(SidebarModel::IndentRole).toInt(), 0);
        QVERIFY(model.showsUngrouped());

        model.trigger(find(model.documentMenu(doc), "Delete…"));
        model.dismissDeleteDocument();
        QVERIFY(t.store->document(doc));
        model.beginDeleteDocument(doc);
        model.confirmDeleteDocument();
        QVERIFY(!t.store->document(doc));
        QCOMPARE(model.rowOfDocument(doc), -1);
    }
};

QTEST_GUILESS_MAIN(TestSidebarMenus)
#include "tst_sidebarmenus.moc"
