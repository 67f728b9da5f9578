#include "SidebarTestStore.h"

#include "sidebar/core/SidebarDrag.h"

#include <QMimeData>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using DropTarget = SidebarModel::DropTarget;
using Kind = SidebarModel::DropTarget::Kind;

// Which drops the sidebar takes and what they move: documents onto
// collections and the ungrouped section, collections onto collections within
// the tree's depth and onto the top-level strip.
class TestSidebarDrop final : public QObject
{
    Q_OBJECT

private:
    struct Fixture
    {
        SidebarTestStore t;
        QMap<QString, QString> ids;
        QString doc;

        Fixture()
        {
            t.addFixed();
            ids = t.tree();
            ids["site-blog"] = QStringLiteral("site-blog");
            ids["personal-site"] = QStringLiteral("personal-site");
            doc = t.document("Doc", ids["Work"]);
            t.makeModel();
        }

        SidebarModel &model() { return *t.model; }
        DropTarget section(const QString &name)
        {
            return model().dropTarget(model().rowOfCollection(ids.value(name)));
        }
        DropTarget target(const QString &name)
        {
            if (name == "ungrouped")
                return {Kind::Ungrouped, QString()};
            if (name == "strip")
                return {Kind::TopLevelStrip, QString()};
            return section(name);
        }
        std::optional<QString> parentOf(const QString &name)
        {
            return t.store->collection(ids.value(name))->parentId;
        }
    };

    static std::unique_ptr<QMimeData> payload(const QString &kind, const QString &id)
    {
        return std::unique_ptr<QMimeData>(kind == "document" ? SidebarDrag::documentMimeData(id)
                                                             : SidebarDrag::collectionMimeData(id));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("TessivoTests"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_sidebardrop"));
    }

    void referencePayloads_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("valid");
        QTest::newRow("wire form") << QByteArray("{\"id\":\"abc\"}") << "abc" << true;
        QTest::newRow("extra members are ignored") << QByteArray("{\"id\":\"x\",\"more\":1}") << "x" << true;
        QTest::newRow("robustness: not JSON") << QByteArray("abc") << "" << false;
        QTest::newRow("robustness: id not a string") << QByteArray("{\"id\":7}") << "" << false;
        QTest::newRow("robustness: no id") << QByteArray("{}") << "" << false;
        QTest::newRow("robustness: an array") << QByteArray("[\"abc\"]") << "" << false;
    }

    void referencePayloads()
    {
        QFETCH(QByteArray, data);
        QFETCH(QString, id);
        QFETCH(bool, valid);
        const std::optional<QString> decoded = SidebarDrag::decodeReference(data);
        QCOMPARE(decoded.has_value(), valid);
        if (valid)
            QCOMPARE(*decoded, id);
    }

    void collectionDrops_data()
    {
        QTest::addColumn<QString>("dragged");
        QTest::addColumn<QString>("onto");
        QTest::addColumn<bool>("taken");
        QTest::addColumn<QString>("newParent"); // "" = top level, "-" = unchanged

        QTest::newRow("leaf under a level-3 collection lands at level 4")
            << "Leaf" << u"Deep"_s << true << u"Deep"_s;
        QTest::newRow("depth: three-level subtree under a level-2 collection is too deep")
            << "Tall" << u"Notes"_s << false << u"-"_s;
        QTest::newRow("depth: three-level subtree under a leaf root fits")
            << "Tall" << u"Leaf"_s << true << u"Leaf"_s;
        QTest::newRow("onto itself") << "Work" << u"Work"_s << false << u"-"_s;
        QTest::newRow("onto a descendant") << "Work" << u"Deep"_s << false << u"-"_s;
        QTest::newRow("onto its current parent") << "Deep" << u"Notes"_s << false << u"-"_s;
        QTest::newRow("onto a fixed collection") << "Leaf" << u"site-blog"_s << false << u"-"_s;
        QTest::newRow("onto the ungrouped section") << "Leaf" << u"ungrouped"_s << false << u"-"_s;
        QTest::newRow("nested onto the strip goes to the top") << "Notes" << u"strip"_s << true << u""_s;
        QTest::newRow("top-level onto the strip: taken, unchanged") << "Leaf" << u"strip"_s << true << u""_s;
        QTest::newRow("a fixed collection onto the strip changes nothing")
            << "personal-site" << u"strip"_s << true << u""_s;
    }

    void collectionDrops()
    {
        QFETCH(QString, dragged);
        QFETCH(QString, onto);
        QFETCH(bool, taken);
        QFETCH(QString, newParent);
        Fixture f;
        const std::optional<QString> before = f.parentOf(dragged);
        const auto mime = payload("collection", f.ids.value(dragged));
        const DropTarget target = f.target(onto);

        QCOMPARE(f.model().acceptsDrop(target, mime.get()), taken);
        QCOMPARE(f.model().drop(target, mime.get()), taken);
        const std::optional<QString> after = f.parentOf(dragged);
        if (newParent == "-")
            QCOMPARE(after, before);
        else if (newParent.isEmpty())
            QVERIFY(!after);
        else
            QCOMPARE(after, std::optional<QString>(f.ids.value(newParent)));
    }

    void documentDrops_data()
    {
        QTest::addColumn<QString>("onto");
        QTest::addColumn<bool>("taken");
        QTest::addColumn<QString>("collection"); // "" = none, "-" = unchanged
        QTest::newRow("onto a collection") << "Leaf" << true << "Leaf";
        QTest::newRow("onto a nested collection") << "Deep" << true << "Deep";
        QTest::newRow("onto a fixed collection") << "site-blog" << true << "site-blog";
        QTest::newRow("onto the ungrouped section") << "ungrouped" << true << "";
        QTest::newRow("the strip takes collections only") << "strip" << false << "-";
    }

    void documentDrops()
    {
        QFETCH(QString, onto);
        QFETCH(bool, taken);
        QFETCH(QString, collection);
        Fixture f;
        const auto mime = payload("document", f.doc);
        QCOMPARE(f.model().acceptsDrop(f.target(onto), mime.get()), taken);
        QCOMPARE(f.model().drop(f.target(onto), mime.get()), taken);
        const std::optional<QString> now = f.t.store->document(f.doc)->collectionId;
        if (collection == "-")
            QCOMPARE(now, std::optional<QString>(f.ids["Work"]));
        else if (collection.isEmpty())
            QVERIFY(!now);
        else
            QCOMPARE(now, std::optional<QString>(f.ids.value(collection)));
    }

    void documentAndRefusedCollectionTogether()
    {
        Fixture f;
        QMimeData mime;
        mime.setData(SidebarDrag::documentReferenceType, SidebarDrag::encodeReference(f.doc));
        mime.setData(SidebarDrag::collectionReferenceType, SidebarDrag::encodeReference(f.ids["Deep"]));
        // Deep already sits in Notes, so only the document is taken.
        QVERIFY(f.model().drop(f.section("Notes"), &mime));
        QCOMPARE(f.t.store->document(f.doc)->collectionId, std::optional<QString>(f.ids["Notes"]));
        QCOMPARE(f.parentOf("Deep"), std::optional<QString>(f.ids["Notes"]));
    }

    void undecodablePayloadIsNotDelivered()
    {
        Fixture f;
        QMimeData mime;
        mime.setData(SidebarDrag::documentReferenceType, QByteArray("garbage"));
        QVERIFY(!f.model().acceptsDrop(f.section("Leaf"), &mime));
        QVERIFY(!f.model().drop(f.section("Leaf"), &mime));
    }

    void droppingIntoACollapsedCollectionOpensIt()
    {
        Fixture f;
        f.model().setCollapsed({f.ids["Leaf"], f.ids["Work"]});
        const auto mime = payload("collection", f.ids["Notes"]);
        QVERIFY(f.model().drop(f.section("Leaf"), mime.get()));
        QCOMPARE(f.model().collapsed(), QSet<QString>{f.ids["Work"]});
        // A move to the top level opens nothing.
        const auto back = payload("collection", f.ids["Notes"]);
        f.model().setCollapsed({f.ids["Leaf"]});
        QVERIFY(f.model().drop(f.target("strip"), back.get()));
        QCOMPARE(f.model().collapsed(), QSet<QString>{f.ids["Leaf"]});
    }

    void highlightFollowsTheDraggedCollection()
    {
        Fixture f;
        SidebarModel &m = f.model();
        // Nothing dragged yet: a document drag lights every section.
        QVERIFY(m.highlightsDrop(f.section("Notes")));
        m.beginDrag(m.rowOfCollection(f.ids["Deep"]));
        QCOMPARE(m.draggingCollectionID(), std::optional<QString>(f.ids["Deep"]));
        QVERIFY(!m.highlightsDrop(f.section("Notes"))); // its parent
        QVERIFY(!m.highlightsDrop(f.section("Deep")));  // itself
        QVERIFY(m.highlightsDrop(f.section("Leaf")));
        // A fixed header starts no collection drag.
        m.beginDrag(m.rowOfCollection(f.ids["site-blog"]));
        QCOMPARE(m.draggingCollectionID(), std::optional<QString>(f.ids["Deep"]));
        // A document drag clears it, so sections light up again.
        m.beginDrag(m.rowOfDocument(f.doc));
        QVERIFY(!m.draggingCollectionID());
        QVERIFY(m.highlightsDrop(f.section("Notes")));
    }

    void dragSourcesAndTargetsOfRows()
    {
        Fixture f;
        SidebarModel &m = f.model();
        const QModelIndex fixedHeader = m.index(m.rowOfCollection(f.ids["site-blog"]));
        const QModelIndex header = m.index(m.rowOfCollection(f.ids["Work"]));
        const QModelIndex docRow = m.index(m.rowOfDocument(f.doc));
        QVERIFY(!(m.flags(fixedHeader) & Qt::ItemIsDragEnabled));
        QVERIFY(m.flags(header) & Qt::ItemIsDragEnabled);
        std::unique_ptr<QMimeData> mime(m.mimeData({docRow}));
        QCOMPARE(SidebarDrag::items(mime.get()),
                 (QList<SidebarDrag::Item>{{SidebarDrag::Item::Kind::Document, f.doc}}));
        QVERIFY(m.mimeData({fixedHeader}) == nullptr);
        // A document row inside Work drops into Work; a spacer takes nothing.
        QCOMPARE(m.dropTarget(docRow.row()), (DropTarget{Kind::CollectionSection, f.ids["Work"]}));
        QCOMPARE(m.dropTarget(fixedHeader.row()), (DropTarget{Kind::FixedCollection, f.ids["site-blog"]}));
        QCOMPARE(m.kind(fixedHeader.row() + 2), SidebarModel::RowKind::SectionSpacer);
        QCOMPARE(m.dropTarget(fixedHeader.row() + 2).kind, Kind::None);
    }
};

QTEST_GUILESS_MAIN(TestSidebarDrop)
#include "tst_sidebardrop.moc"
