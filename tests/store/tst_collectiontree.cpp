#include "store/CollectionTree.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// "id>parent:position" entries; a missing ">parent" means top level.
QList<Collection> collections(const QStringList &layout)
{
    QList<Collection> list;
    for (const QString &entry : layout) {
        Collection c;
        QString rest = entry;
        const qsizetype colon = rest.indexOf(u':');
        if (colon >= 0) {
            c.position = rest.mid(colon + 1).toLongLong();
            rest.truncate(colon);
        }
        const qsizetype arrow = rest.indexOf(u'>');
        if (arrow >= 0) {
            c.parentId = rest.mid(arrow + 1);
            rest.truncate(arrow);
        }
        c.id = rest;
        c.name = rest.toUpper();
        c.parentKnown = true;
        list.append(c);
    }
    return list;
}

template <typename Record>
QStringList ids(const QList<Record> &list)
{
    QStringList out;
    for (const Record &r : list) {
        out << r.id;
    }
    return out;
}

QStringList parentPairs(const CollectionTree &tree)
{
    QStringList out;
    for (auto it = tree.parents().cbegin(); it != tree.parents().cend(); ++it) {
        out << it.key() + u'>' + it.value();
    }
    out.sort();
    return out;
}

Document document(const QString &id, const std::optional<QString> &collection)
{
    Document d;
    d.id = id;
    d.collectionId = collection;
    return d;
}

} // namespace

class TestCollectionTree : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parents_data()
    {
        QTest::addColumn<QStringList>("layout");
        QTest::addColumn<QStringList>("links");
        QTest::newRow("plain nesting")
            << QStringList{u"a"_s, u"b>a"_s, u"c>b"_s} << QStringList{u"b>a"_s, u"c>b"_s};
        QTest::newRow("missing parent is a root") << QStringList{u"a>gone"_s} << QStringList();
        QTest::newRow("self link is a root") << QStringList{u"a>a"_s} << QStringList();
        QTest::newRow("fixed id as parent")
            << QStringList{u"site-blog"_s, u"a>site-blog"_s, u"b>personal-site"_s, u"personal-site"_s}
            << QStringList();
        QTest::newRow("fixed id never a child")
            << QStringList{u"a"_s, u"site-blog>a"_s, u"personal-site>a"_s} << QStringList();
        QTest::newRow("two-cycle: both roots") << QStringList{u"a>b"_s, u"b>a"_s} << QStringList();
        QTest::newRow("chain into a loop keeps its link")
            << QStringList{u"a>b"_s, u"b>c"_s, u"c>b"_s} << QStringList{u"a>b"_s};
        QTest::newRow("three-cycle with tail")
            << QStringList{u"x>a"_s, u"a>b"_s, u"b>c"_s, u"c>a"_s, u"y>x"_s}
            << QStringList{u"x>a"_s, u"y>x"_s};
        QTest::newRow("parent known only after child in list")
            << QStringList{u"b>a"_s, u"a"_s} << QStringList{u"b>a"_s};
    }

    void parents()
    {
        QFETCH(QStringList, layout);
        QFETCH(QStringList, links);
        const CollectionTree tree(collections(layout));
        QCOMPARE(parentPairs(tree), links);
        QCOMPARE(ids(tree.collections()), ids(collections(layout)));
    }

    void childrenAncestorsAndDescendants()
    {
        const CollectionTree tree(
            collections({u"r1"_s, u"c2>r1"_s, u"r2"_s, u"c1>r1"_s, u"d>c2"_s, u"e>d"_s, u"s>d"_s}));
        QCOMPARE(ids(tree.children(std::nullopt)), (QStringList{u"r1"_s, u"r2"_s}));
        QCOMPARE(ids(tree.children(u"r1"_s)), (QStringList{u"c2"_s, u"c1"_s}));
        QCOMPARE(ids(tree.children(u"e"_s)), QStringList());
        QCOMPARE(ids(tree.children(u"unknown"_s)), QStringList());
        QCOMPARE(tree.ancestors(u"e"_s), (QStringList{u"d"_s, u"c2"_s, u"r1"_s}));
        QCOMPARE(tree.ancestors(u"r1"_s), QStringList());
        QCOMPARE(tree.ancestors(u"unknown"_s), QStringList());
        const QSet<QString> below = tree.descendants(u"r1"_s);
        QCOMPARE(below, (QSet<QString>{u"c2"_s, u"c1"_s, u"d"_s, u"e"_s, u"s"_s}));
        QCOMPARE(tree.descendants(u"e"_s), QSet<QString>());
        QCOMPARE(tree.descendants(u"unknown"_s), QSet<QString>());
        QList<int> heights = tree.descendantHeights(u"r1"_s, below);
        std::sort(heights.begin(), heights.end());
        QCOMPARE(heights, (QList<int>{2, 2, 3, 4, 4}));
    }

    void canNest_data()
    {
        QTest::addColumn<QString>("parent");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("root") << u"l1"_s << true;
        QTest::newRow("level 3 (two ancestors)") << u"l3"_s << true;
        QTest::newRow("level 4 (three ancestors)") << u"l4"_s << false;
        QTest::newRow("site-blog") << u"site-blog"_s << false;
        QTest::newRow("personal-site") << u"personal-site"_s << false;
        QTest::newRow("unknown") << u"nope"_s << false;
    }

    void canNest()
    {
        QFETCH(QString, parent);
        QFETCH(bool, allowed);
        const CollectionTree tree(
            collections({u"site-blog"_s, u"personal-site"_s, u"l1"_s, u"l2>l1"_s, u"l3>l2"_s, u"l4>l3"_s}));
        QCOMPARE(tree.canNest(parent), allowed);
    }

    void canMove_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<std::optional<QString>>("target");
        QTest::addColumn<bool>("allowed");
        using T = std::optional<QString>;
        QTest::newRow("leaf under level 3 lands at 4") << u"leaf"_s << T(u"l3"_s) << true;
        QTest::newRow("collection with a child under level 3") << u"p"_s << T(u"l3"_s) << false;
        QTest::newRow("collection with a child under level 2") << u"p"_s << T(u"l2"_s) << true;
        QTest::newRow("three levels under a root") << u"t1"_s << T(u"l1"_s) << true;
        QTest::newRow("three levels under level 2") << u"t1"_s << T(u"l2"_s) << false;
        QTest::newRow("deep collection to top level") << u"l4"_s << T() << true;
        QTest::newRow("into own child") << u"l1"_s << T(u"l2"_s) << false;
        QTest::newRow("into own grandchild") << u"l1"_s << T(u"l3"_s) << false;
        QTest::newRow("onto itself") << u"p"_s << T(u"p"_s) << false;
        QTest::newRow("to current parent") << u"l2"_s << T(u"l1"_s) << true;
        QTest::newRow("fixed collection to top") << u"personal-site"_s << T() << false;
        QTest::newRow("fixed collection anywhere") << u"site-blog"_s << T(u"l1"_s) << false;
        QTest::newRow("into fixed collection") << u"leaf"_s << T(u"site-blog"_s) << false;
        QTest::newRow("unknown id") << u"nope"_s << T() << false;
        QTest::newRow("unknown target") << u"leaf"_s << T(u"nope"_s) << false;
    }

    void canMove()
    {
        QFETCH(QString, id);
        QFETCH(std::optional<QString>, target);
        QFETCH(bool, allowed);
        // l1 > l2 > l3 > l4; p > pc; t1 > t2 > t3; leaf.
        const CollectionTree tree(
            collections({u"site-blog"_s, u"personal-site"_s, u"l1"_s, u"l2>l1"_s, u"l3>l2"_s, u"l4>l3"_s,
                         u"p"_s, u"pc>p"_s, u"t1"_s, u"t2>t1"_s, u"t3>t2"_s, u"leaf"_s}));
        QCOMPARE(tree.canMove(id, target), allowed);
    }

    void nextPosition_data()
    {
        QTest::addColumn<QStringList>("layout");
        QTest::addColumn<std::optional<QString>>("parent");
        QTest::addColumn<qint64>("position");
        using T = std::optional<QString>;
        QTest::newRow("no children") << QStringList{u"a:4"_s} << T(u"a"_s) << qint64(0);
        QTest::newRow("gaps and duplicates")
            << QStringList{u"a"_s, u"b>a:0"_s, u"c>a:0"_s, u"d>a:7"_s} << T(u"a"_s) << qint64(8);
        QTest::newRow("roots") << QStringList{u"a:3"_s, u"b>a:10"_s, u"c:-2"_s} << T() << qint64(4);
        QTest::newRow("negative positions") << QStringList{u"a:-5"_s, u"b:-3"_s} << T() << qint64(-2);
        QTest::newRow("loop members count as roots")
            << QStringList{u"a>b:9"_s, u"b>a:1"_s} << T() << qint64(10);
    }

    void nextPosition()
    {
        QFETCH(QStringList, layout);
        QFETCH(std::optional<QString>, parent);
        QFETCH(qint64, position);
        QCOMPARE(CollectionTree(collections(layout)).nextPosition(parent), position);
    }

    void nodesInPreOrder()
    {
        // Siblings keep list order (c2 before c1); members of a loop are roots.
        const CollectionTree tree(
            collections({u"r1"_s, u"c2>r1"_s, u"r2"_s, u"d>c2"_s, u"c1>r1"_s, u"x>y"_s, u"y>x"_s}));
        const QList<Document> docs{document(u"d1"_s, u"d"_s), document(u"d2"_s, std::nullopt),
                                   document(u"d3"_s, u"r1"_s), document(u"d4"_s, u"deleted"_s),
                                   document(u"d5"_s, u"d"_s)};
        const auto [roots, unfiled] = tree.nodes(docs);
        QCOMPARE(ids(unfiled), (QStringList{u"d2"_s, u"d4"_s}));
        QStringList nodes;
        for (const CollectionTree::Node &n : CollectionTree::flattened(roots)) {
            nodes << u"%1@%2 %3 [%4] %5"_s.arg(n.collection.id)
                         .arg(n.depth)
                         .arg(n.path.join(u'/'), ids(n.documents).join(u','))
                         .arg(n.totalDocuments);
        }
        QCOMPARE(nodes,
                 (QStringList{u"r1@1 R1 [d3] 3"_s, u"c2@2 R1/C2 [] 2"_s, u"d@3 R1/C2/D [d1,d5] 2"_s,
                              u"c1@2 R1/C1 [] 0"_s, u"r2@1 R2 [] 0"_s, u"x@1 X [] 0"_s, u"y@1 Y [] 0"_s}));
        QCOMPARE(roots.size(), 4);
    }

    void deepChain()
    {
        // Hand-edited or synced files can nest far deeper than the app allows;
        // the tree is walked without recursion and each node's path shares its
        // parent's names, so depth costs neither stack nor quadratic time and
        // memory (at this depth, copied paths held 2 GB).
        constexpr int depth = 24000;
        QStringList layout{u"c0"_s};
        for (int i = 1; i < depth; ++i) {
            layout << u"c%1>c%2"_s.arg(i).arg(i - 1);
        }
        const CollectionTree tree(collections(layout));
        const QList<CollectionTree::Node> flat = CollectionTree::flattened(tree.nodes({}).roots);
        QCOMPARE(flat.size(), depth);
        QCOMPARE(flat.last().depth, depth);
        QCOMPARE(flat.last().path.size(), depth);
        QCOMPARE(flat.at(2).path.join(u" / "), u"C0 / C1 / C2"_s);
        QCOMPARE(flat.last().path.toList().first(), u"C0"_s);
        QCOMPARE(flat.last().path.toList().last(), u"C%1"_s.arg(depth - 1));
        // Paths compare by their names, built apart or not.
        const QList<CollectionTree::Node> shortChain =
            CollectionTree::flattened(CollectionTree(collections(layout.mid(0, 6))).nodes({}).roots);
        QVERIFY(flat.at(5).path == shortChain.at(5).path);
        QVERIFY(!(flat.at(5).path == flat.at(4).path));
        QCOMPARE(tree.descendants(u"c0"_s).size(), depth - 1);
        QCOMPARE(tree.ancestors(u"c%1"_s.arg(depth - 1)).size(), depth - 1);
        QVERIFY(!tree.canMove(u"c1"_s, u"c5"_s));
    }
};

QTEST_GUILESS_MAIN(TestCollectionTree)
#include "tst_collectiontree.moc"
