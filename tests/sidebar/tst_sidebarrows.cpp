#include "SidebarTestStore.h"

#include "sidebar/core/CollapsedCollections.h"

#include <QSignalSpy>
#include <QTest>

// The rows the sidebar shows, the persisted collapse state, revealing the
// active document and the cost of an edit in place.
class TestSidebarRows final : public QObject
{
    Q_OBJECT

private:
    // One line per row: indentation dots, a kind letter and what it shows.
    static QStringList snapshot(const SidebarModel &model)
    {
        QStringList lines;
        for (int r = 0; r < model.rowCount(); ++r) {
            const QModelIndex i = model.index(r);
            const int kind = int(model.kind(r)); // header, document, placeholder, spacer, label, strip
            QString line = QStringLiteral(". ").repeated(i.data(SidebarModel::IndentRole).toInt()) +
                           QStringLiteral("HDP-LT").at(kind);
            if (kind != 3 && kind != 5)
                line += u' ' + i.data(SidebarModel::TitleRole).toString();
            if (kind == 0 || kind == 4)
                line += u' ' + QString::number(i.data(SidebarModel::CountRole).toInt());
            if (i.data(SidebarModel::CollapsedRole).toBool())
                line += QStringLiteral(" +");
            if (i.data(SidebarModel::DimmedRole).toBool())
                line += QStringLiteral(" dim");
            lines << line;
        }
        return lines;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("TessivoTests"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_sidebarrows"));
    }

    void sections_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("no collections: every document under Documents")
            << "none" << QStringList{"L Documents 2", "D B", "D A", "T"};
        QTest::newRow("all filed: no ungrouped section")
            << "filed" << QStringList{"H Work 2", ". D B", ". D A", "-", "T"};
        QTest::newRow("one unfiled: dimmed No collection")
            << "mixed" << QStringList{"H Work 1", ". D A", "-", "L No collection 1 dim", "D Loose", "T"};
        QTest::newRow("empty collection shows the placeholder")
            << "empty" << QStringList{"H Empty 0", ". P No documents yet", "-", "T"};
        QTest::newRow("children but no documents: no placeholder")
            << "parentOnly" << QStringList{"H Parent 1", ". H Child 1", ". . D A", "-", "T"};
        QTest::newRow("nesting: children before own documents, counts include descendants")
            << "nested"
            << QStringList{"H Work 3", ". H Notes 2", ". . H Deep 1",         ". . . D C", ". . D B", ". D A",
                           "-",        "H Home 0",    ". P No documents yet", "-",         "T"};
        QTest::newRow("fixed collections come first") << "fixed" << QStringList{"H Blog 1",
                                                                                ". D Post",
                                                                                "-",
                                                                                "H Site 0",
                                                                                ". P No documents yet",
                                                                                "-",
                                                                                "H Zeta 0",
                                                                                ". P No documents yet",
                                                                                "-",
                                                                                "T"};
        QTest::newRow("search keeps sections and counts only matches")
            << "search"
            << QStringList{"H Work 1", ". D Apple pie", "-", "H Home 0", ". P No documents yet", "-", "T"};
        QTest::newRow("deleted collection: documents unfiled, children at the top")
            << "deletedParent"
            << QStringList{"H Child 1", ". D A", "-", "L No collection 1 dim", "D Orphan", "T"};
    }

    void sections()
    {
        QFETCH(QString, layout);
        QFETCH(QStringList, expected);
        SidebarTestStore t;
        if (layout == "none") {
            t.document("A");
            t.document("B");
        } else if (layout == "filed") {
            const QString work = t.collection("Work");
            t.document("A", work);
            t.document("B", work);
        } else if (layout == "mixed") {
            t.document("A", t.collection("Work"));
            t.document("Loose");
        } else if (layout == "empty") {
            t.collection("Empty");
        } else if (layout == "parentOnly") {
            const QString parent = t.collection("Parent");
            t.document("A", t.collection("Child", parent));
        } else if (layout == "nested") {
            const QString work = t.collection("Work");
            const QString notes = t.collection("Notes", work);
            t.collection("Home");
            t.document("A", work);
            t.document("B", notes);
            t.document("C", t.collection("Deep", notes));
        } else if (layout == "fixed") {
            t.collection("Zeta");
            t.addFixed(); // the store sorts fixed collections first
            t.document("Post", QStringLiteral("site-blog"));
        } else if (layout == "search") {
            const QString work = t.collection("Work");
            t.collection("Home");
            t.document("Apple pie", work);
            t.document("Banana bread", work);
            t.store->setSearchText(QStringLiteral("  APPLE "));
        } else if (layout == "deletedParent") {
            const QString parent = t.collection("Parent");
            t.document("A", t.collection("Child", parent));
            t.document("Orphan", parent);
            t.store->deleteCollection(parent);
        }
        SidebarModel &model = t.makeModel();
        QCOMPARE(snapshot(model), expected);
    }

    void collapsedSectionHidesItsBodyButKeepsItsCount()
    {
        SidebarTestStore t;
        const QString work = t.collection("Work");
        t.document("A", t.collection("Notes", work));
        t.store->setActiveDocumentID(QString());
        SidebarModel &model = t.makeModel();
        model.toggleCollapsed(work);
        QCOMPARE(snapshot(model), (QStringList{"H Work 1 +", "-", "T"}));
        model.toggleCollapsed(work);
        QCOMPARE(snapshot(model), (QStringList{"H Work 1", ". H Notes 1", ". . D A", "-", "T"}));
    }

    void collapseCodec_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QStringList>("ids");
        QTest::addColumn<QString>("rewritten");
        QTest::newRow("empty default") << "" << QStringList{} << "";
        QTest::newRow("stray commas are harmless") << ",b,,a," << QStringList{"a", "b"} << "a,b";
        QTest::newRow("written sorted by code point") << "b,B,a" << QStringList{"B", "a", "b"} << "B,a,b";
        QTest::newRow("unknown ids are kept") << "gone,zz" << QStringList{"gone", "zz"} << "gone,zz";
        QTest::newRow("duplicates collapse into one") << "x,x" << QStringList{"x"} << "x";
    }

    void collapseCodec()
    {
        QFETCH(QString, stored);
        QFETCH(QStringList, ids);
        QFETCH(QString, rewritten);
        const QSet<QString> decoded = CollapsedCollections::decode(stored);
        QCOMPARE(decoded, QSet<QString>(ids.cbegin(), ids.cend()));
        QCOMPARE(CollapsedCollections::encode(decoded), rewritten);
    }

    void collapseStateSurvivesANewSidebar()
    {
        SidebarTestStore t;
        const QString a = t.collection("A");
        const QString b = t.collection("B");
        t.store->setActiveDocumentID(QString());
        {
            SidebarModel &model = t.makeModel();
            model.toggleCollapsed(b);
            model.toggleCollapsed(a);
        }
        SidebarModel &again = t.makeModel();
        QVERIFY(again.isCollapsed(a));
        QVERIFY(again.isCollapsed(b));
        again.toggleCollapsed(a);
        QCOMPARE(t.settings->value(QStringLiteral("sidebarCollapsedCollections")).toString(), b);
    }

    void expandingNothingCollapsedLeavesTheStoredStringAlone()
    {
        SidebarTestStore t;
        t.settings->setValue(QStringLiteral("sidebarCollapsedCollections"), QStringLiteral(",zz,,yy,"));
        SidebarModel &model = t.makeModel();
        QSignalSpy changed(&model, &SidebarModel::collapsedChanged);
        model.expand({QStringLiteral("other")});
        QCOMPARE(changed.count(), 0);
        QCOMPARE(t.settings->value(QStringLiteral("sidebarCollapsedCollections")).toString(),
                 QStringLiteral(",zz,,yy,"));
        model.expand({QStringLiteral("zz")});
        QCOMPARE(t.settings->value(QStringLiteral("sidebarCollapsedCollections")).toString(),
                 QStringLiteral("yy"));
    }

    void revealOpensTheActiveDocumentsAncestorsOnly()
    {
        SidebarTestStore t;
        const QStringList levels = t.chain(3);
        const QString sibling = t.collection("Sibling", levels.at(0));
        const QString doc = t.document("Deep", levels.at(2));
        const QString other = t.document("Elsewhere");
        SidebarModel &model = t.makeModel();
        model.setCollapsed({levels.at(0), levels.at(1), levels.at(2), sibling});

        t.store->setActiveDocumentID(other); // unfiled: nothing to open
        QCOMPARE(model.collapsed().size(), 4);
        t.store->setActiveDocumentID(doc);
        QCOMPARE(model.collapsed(), QSet<QString>{sibling});
        QVERIFY(model.rowOfDocument(doc) >= 0);
        QVERIFY(model.index(model.rowOfDocument(doc)).data(SidebarModel::SelectedRole).toBool());
    }

    void newDocumentInACollapsedCollectionOpensIt()
    {
        SidebarTestStore t;
        const QStringList levels = t.chain(2);
        SidebarModel &model = t.makeModel();
        model.setCollapsed({levels.at(0), levels.at(1)});
        SidebarMenuItem newDocument = model.collectionMenu(levels.at(1)).first();
        QCOMPARE(newDocument.title, QStringLiteral("New Document"));
        model.trigger(newDocument);
        QVERIFY(model.collapsed().isEmpty());
        QVERIFY(model.rowOfDocument(t.store->activeDocumentID()) >= 0);
    }

    void revealRunsWhenTheSidebarFirstShows()
    {
        SidebarTestStore t;
        const QStringList levels = t.chain(2);
        t.document("Inside", levels.at(1));
        t.settings->setValue(QStringLiteral("sidebarCollapsedCollections"), levels.join(','));
        SidebarModel &model = t.makeModel();
        QVERIFY(model.collapsed().isEmpty());
    }

    void editInPlaceRefreshesOnlyThatRow()
    {
        SidebarTestStore t;
        const QString work = t.collection("Work");
        const QString a = t.document("Alpha", work, QStringLiteral("First words."));
        t.document("Beta", work);
        SidebarModel &model = t.makeModel();
        const quint64 rebuilds = model.rebuildCount();
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);

        t.store->updateBody(QStringLiteral("# Alpha two\n\nNew words here."), a);

        QCOMPARE(model.rebuildCount(), rebuilds);
        QCOMPARE(reset.count(), 0);
        QCOMPARE(changed.count(), 1);
        const int row = model.rowOfDocument(a);
        QCOMPARE(changed.first().at(0).toModelIndex().row(), row);
        QCOMPARE(model.index(row).data(SidebarModel::TitleRole).toString(), QStringLiteral("Alpha two"));
        QCOMPARE(model.index(row).data(SidebarModel::ExcerptRole).toString(),
                 QStringLiteral("New words here."));
    }

    void editsThatChangeTheShapeRebuild_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("document moved to another collection") << "move";
        QTest::newRow("edit while searching") << "search";
        QTest::newRow("collection renamed") << "rename";
    }

    void editsThatChangeTheShapeRebuild()
    {
        QFETCH(QString, change);
        SidebarTestStore t;
        const QString work = t.collection("Work");
        const QString home = t.collection("Home");
        const QString a = t.document("Alpha", work);
        SidebarModel &model = t.makeModel();
        if (change == "search")
            t.store->setSearchText(QStringLiteral("alpha"));
        const quint64 rebuilds = model.rebuildCount();
        if (change == "move") {
            t.store->moveDocument(a, home);
            QCOMPARE(snapshot(model).mid(0, 4),
                     (QStringList{"H Work 0", ". P No documents yet", "-", "H Home 1"}));
        } else if (change == "search") {
            t.store->updateBody(QStringLiteral("# Omega"), a);
            QCOMPARE(model.rowOfDocument(a), -1);
        } else {
            t.store->renameCollection(work, QStringLiteral("Job"));
            QCOMPARE(model.index(model.rowOfCollection(work)).data(SidebarModel::TitleRole).toString(),
                     QStringLiteral("Job"));
        }
        QVERIFY(model.rebuildCount() > rebuilds);
    }

    void excerptIsCutToSixtyCharacters_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        const QString sixty = QStringLiteral("a").repeated(59) + u'.';
        QTest::newRow("exactly sixty: whole") << sixty << sixty;
        QTest::newRow("sixty-one: last one dropped, no ellipsis")
            << QStringLiteral("b").repeated(60) + u'.' << QStringLiteral("b").repeated(60);
        QTest::newRow("user-perceived characters, not code units")
            << QStringLiteral("\U0001F600").repeated(61) << QStringLiteral("\U0001F600").repeated(60);
        QTest::newRow("no prose: empty") << QString() << QString();
    }

    void excerptIsCutToSixtyCharacters()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        SidebarTestStore t;
        const QString id = t.document("Title", QString(), text);
        SidebarModel &model = t.makeModel();
        QCOMPARE(model.index(model.rowOfDocument(id)).data(SidebarModel::ExcerptRole).toString(), shown);
    }

    void timeTextFollowsTheClock()
    {
        SidebarTestStore t;
        const QString id = t.document("Title");
        SidebarModel &model = t.makeModel();
        const qint64 updated = t.store->document(id)->updatedAt;
        model.setClockForTesting(
            [updated] { return QDateTime::fromMSecsSinceEpoch(updated + 125 * 60 * 1000); });
        QCOMPARE(model.index(model.rowOfDocument(id)).data(SidebarModel::TimeTextRole).toString(),
                 QStringLiteral("2h ago"));
    }
};

QTEST_GUILESS_MAIN(TestSidebarRows)
#include "tst_sidebarrows.moc"
