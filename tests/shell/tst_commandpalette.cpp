#include "app/core/AppNotifications.h"
#include "shell/core/CommandPaletteModel.h"
#include "shell/core/DetailViewMode.h"
#include "store/DocumentStore.h"

#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using Item = CommandPaletteModel::Item;

namespace {

QStringList ids(const QList<Item> &items)
{
    QStringList out;
    for (const Item &item : items)
        out << item.id;
    return out;
}

const Item *find(const QList<Item> &items, const QString &id)
{
    for (const Item &item : items)
        if (item.id == id)
            return &item;
    return nullptr;
}

} // namespace

class TestCommandPalette : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<DocumentStore> m_store;
    std::unique_ptr<ViewModeSetting> m_mode;
    QStringList m_log; // dismiss and action order

    std::unique_ptr<CommandPaletteModel> palette(bool sidebarVisible = true)
    {
        return std::make_unique<CommandPaletteModel>(m_store.get(), m_mode.get(), sidebarVisible,
                                                     [this] { m_log << QStringLiteral("dismiss"); });
    }

    // Collections "Work" > "Notes", and "Home"; documents: "Plan" and "Todo"
    // in Work, "Loose" unfiled. Returns the ids by name.
    QHash<QString, QString> populate()
    {
        QHash<QString, QString> idOf;
        const auto work = m_store->createCollection(QStringLiteral("Work"));
        const auto notes = m_store->createCollection(QStringLiteral("Notes"), work->id);
        const auto home = m_store->createCollection(QStringLiteral("Home"));
        idOf["Work"] = work->id;
        idOf["Notes"] = notes->id;
        idOf["Home"] = home->id;
        idOf["Loose"] = m_store->createDocument(std::nullopt, QStringLiteral("# Loose\n")).id;
        idOf["Todo"] = m_store->createDocument(work->id, QStringLiteral("# Todo\n")).id;
        idOf["Plan"] = m_store->createDocument(work->id, QStringLiteral("# Plan\n")).id;
        return idOf;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("TessivoTests"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_commandpalette"));
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_settings = std::make_unique<QSettings>(m_dir->filePath(QStringLiteral("settings.ini")),
                                                 QSettings::IniFormat);
        m_store = std::make_unique<DocumentStore>(m_dir->filePath(QStringLiteral("store")), m_settings.get());
        m_mode = std::make_unique<ViewModeSetting>(m_settings.get());
        m_log.clear();
    }

    void cleanup()
    {
        m_store.reset();
        m_mode.reset();
        m_settings.reset();
        m_dir.reset();
    }

    void listWithoutActiveDocumentHasNoActions()
    {
        populate();
        m_store->setActiveDocumentID(QString());
        const QList<Item> items = palette()->allItems();
        for (const Item &item : items)
            QVERIFY2(item.section != QStringLiteral("Actions"), qPrintable(item.id));
        QCOMPARE(items.first().id, QStringLiteral("new-doc"));
        QCOMPARE(items.last().id, QStringLiteral("sidebar"));
    }

    void fullListForAFiledDocument()
    {
        const auto idOf = populate();
        m_store->setActiveDocumentID(idOf["Plan"]);
        const QList<Item> items = palette()->allItems();
        const QStringList expected = {
            "new-doc",
            "doc:" + idOf["Plan"],
            "doc:" + idOf["Todo"],
            "doc:" + idOf["Loose"],
            // Its own collection (Work) is not a target; pre-order otherwise.
            "move:" + idOf["Notes"],
            "move:" + idOf["Home"],
            "unfile",
            "publish",
            "media",
            "ai-refine",
            "ai-generate",
            "delete",
            "new-collection",
            "collection:" + idOf["Work"],
            "collection:" + idOf["Notes"],
            "collection:" + idOf["Home"],
            "mode:editor",
            "mode:split",
            "mode:preview",
            "sidebar",
        };
        QCOMPARE(ids(items), expected);

        QStringList sections;
        for (const Item &item : items)
            if (sections.isEmpty() || sections.last() != item.section)
                sections << item.section;
        QCOMPARE(sections, QStringList({"Documents", "Actions", "Collections", "View"}));

        QCOMPARE(find(items, "move:" + idOf["Notes"])->title,
                 QStringLiteral("Move \u201CPlan\u201D to Work / Notes"));
        QCOMPARE(find(items, "unfile")->title, QStringLiteral("Remove \u201CPlan\u201D from its collection"));
        QCOMPARE(find(items, "publish")->title, QStringLiteral("Publish \u201CPlan\u201D\u2026"));
        QCOMPARE(find(items, "delete")->title, QStringLiteral("Delete \u201CPlan\u201D"));
        QVERIFY(find(items, "delete")->destructive);
        QCOMPARE(find(items, "collection:" + idOf["Notes"])->title, QStringLiteral("Work / Notes"));
        QCOMPARE(find(items, "mode:split")->title, QStringLiteral("Show split view"));
        QCOMPARE(find(items, "mode:editor")->title, QStringLiteral("Show editor"));
        QCOMPARE(find(items, "sidebar")->title, QStringLiteral("Hide sidebar"));
        QCOMPARE(find(palette(false)->allItems(), "sidebar")->title, QStringLiteral("Show sidebar"));

        int destructive = 0;
        for (const Item &item : items)
            destructive += item.destructive ? 1 : 0;
        QCOMPARE(destructive, 1);
    }

    void unfiledOrDanglingCollectionOffersEveryTarget_data()
    {
        QTest::addColumn<bool>("dangling");
        QTest::newRow("no collection") << false;
        QTest::newRow("collection id naming no live collection") << true;
    }

    void unfiledOrDanglingCollectionOffersEveryTarget()
    {
        QFETCH(bool, dangling);
        const auto idOf = populate();
        QString id = idOf["Loose"];
        if (dangling) {
            const auto gone = m_store->createCollection(QStringLiteral("Gone"));
            id = m_store->createDocument(gone->id, QStringLiteral("# Orphan\n")).id;
            m_store->deleteCollection(gone->id);
        }
        m_store->setActiveDocumentID(id);
        const QList<Item> items = palette()->allItems();
        QStringList moves;
        for (const Item &item : items)
            if (item.id.startsWith(QStringLiteral("move:")))
                moves << item.id.mid(5);
        QCOMPARE(moves, QStringList({idOf["Work"], idOf["Notes"], idOf["Home"]}));
        QVERIFY(!find(items, "unfile"));
    }

    void collectionDetailCountsOwnDocumentsOnly()
    {
        const auto idOf = populate();
        m_store->createDocument(idOf["Notes"], QStringLiteral("# One\n"));
        const QList<Item> items = palette()->allItems();
        QCOMPARE(find(items, "collection:" + idOf["Work"])->detail, std::optional<QString>("2 documents"));
        QCOMPARE(find(items, "collection:" + idOf["Notes"])->detail, std::optional<QString>("1 document"));
        QCOMPARE(find(items, "collection:" + idOf["Home"])->detail, std::optional<QString>("empty"));
        QCOMPARE(CommandPaletteModel::documentCountDetail(12), QStringLiteral("12 documents"));
    }

    void currentModeIsChecked_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("checked");
        QTest::newRow("editor") << "editor"
                                << "mode:editor";
        QTest::newRow("split") << "split"
                               << "mode:split";
        QTest::newRow("preview") << "preview"
                                 << "mode:preview";
        QTest::newRow("robustness: unknown value reads as split") << "Preview"
                                                                  << "mode:split";
        QTest::newRow("robustness: missing value reads as split") << ""
                                                                  << "mode:split";
    }

    void currentModeIsChecked()
    {
        QFETCH(QString, stored);
        QFETCH(QString, checked);
        if (stored.isEmpty())
            m_settings->remove(AppSettings::viewModeKey);
        else
            m_settings->setValue(AppSettings::viewModeKey, stored);
        QStringList checkedIDs;
        for (const Item &item : palette()->allItems())
            if (item.checked)
                checkedIDs << item.id;
        QCOMPARE(checkedIDs, QStringList({checked}));
    }

    void filtering_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("titles");
        QTest::newRow("prefix beats substring") << "pl" << QStringList({"Plan", "Show split view"});
        QTest::newRow("letters in order") << "wk" << QStringList({"Work", "Work / Notes"});
        QTest::newRow("case-insensitive") << "TODO" << QStringList({"Todo"});
        QTest::newRow("sections and ids are not searched") << "Documents" << QStringList();
    }

    void filtering()
    {
        QFETCH(QString, query);
        QFETCH(QStringList, titles);
        populate();
        m_store->setActiveDocumentID(QString());
        auto model = palette();
        model->setQuery(query);
        QStringList shown;
        for (const Item &item : model->shownItems())
            shown << item.title;
        QCOMPARE(shown, titles);
    }

    void blankQueryShowsTheFullListInBuiltOrder()
    {
        populate();
        auto model = palette();
        model->setQuery(QStringLiteral("  \t "));
        QCOMPARE(ids(model->shownItems()), ids(model->allItems()));
    }

    void emptyResultIgnoresKeys()
    {
        populate();
        auto model = palette();
        model->setQuery(QStringLiteral("zzzzqqq"));
        QVERIFY(model->shownItems().isEmpty());
        const int before = int(m_store->documents().size());
        model->move(1);
        model->move(-1);
        QCOMPARE(model->selection(), 0);
        model->runSelected();
        QVERIFY(m_log.isEmpty()); // stays open
        QCOMPARE(int(m_store->documents().size()), before);
    }

    void sectionHeadersRepeatWhenFilteringInterleaves()
    {
        // "showcase" scores 1000-8, the view rows 1000-11 to 1000-15, and the
        // long title 1000-31: Documents, View, Documents.
        m_store->createDocument(std::nullopt, QStringLiteral("# Showcase\n"));
        m_store->createDocument(std::nullopt, QStringLiteral("# Show me the long list of things\n"));
        m_store->setActiveDocumentID(QString());
        auto model = palette();
        model->setQuery(QStringLiteral("show"));
        const QList<Item> shown = model->shownItems();
        QStringList headers;
        for (int i = 0; i < shown.size(); ++i)
            if (CommandPaletteModel::startsSection(shown, i))
                headers << shown[i].section;
        QCOMPARE(headers, QStringList({"Documents", "View", "Documents"}));
    }

    void selectionWrapsAndResetsOnTyping()
    {
        populate();
        auto model = palette();
        const int n = int(model->shownItems().size());
        model->move(-1);
        QCOMPARE(model->selection(), n - 1);
        model->move(1);
        QCOMPARE(model->selection(), 0);
        model->move(1);
        model->move(1);
        QCOMPARE(model->selection(), 2);
        QSignalSpy spy(model.get(), &CommandPaletteModel::selectionChanged);
        model->setQuery(QStringLiteral("p"));
        QCOMPARE(model->selection(), 0);
        QCOMPARE(spy.size(), 1);
    }

    void returnDismissesFirstClickRunsFirst()
    {
        populate();
        QObject observer;
        connect(AppNotifications::instance(), &AppNotifications::posted, &observer,
                [this](const QString &name, const QVariantMap &) { m_log << name; });
        auto model = palette();
        model->setSelection(int(model->shownItems().size()) - 1); // "sidebar"
        model->runSelected();
        QCOMPARE(m_log, QStringList({"dismiss", AppNotifications::toggleSidebar}));
        m_log.clear();
        model->runItem(int(model->shownItems().size()) - 1);
        QCOMPARE(m_log, QStringList({AppNotifications::toggleSidebar, "dismiss"}));
    }

    void returnOnAStaleSelectionDoesNothing()
    {
        const auto idOf = populate();
        m_store->setActiveDocumentID(idOf["Plan"]);
        auto model = palette();
        model->setSelection(int(model->shownItems().size()) - 1);
        m_store->setActiveDocumentID(QString()); // the Actions rows go away
        model->runSelected();
        QVERIFY(m_log.isEmpty());
    }

    void actionsReachTheStoreAndSettings()
    {
        const auto idOf = populate();
        m_store->setActiveDocumentID(idOf["Plan"]);
        auto run = [&](const QString &id) {
            auto model = palette();
            const QList<Item> items = model->shownItems();
            const int index = int(ids(items).indexOf(id));
            QVERIFY2(index >= 0, qPrintable(id));
            model->runItem(index);
        };
        run("move:" + idOf["Home"]);
        QCOMPARE(m_store->document(idOf["Plan"])->collectionId, std::optional<QString>(idOf["Home"]));
        run("unfile");
        QCOMPARE(m_store->document(idOf["Plan"])->collectionId, std::nullopt);
        run("doc:" + idOf["Loose"]);
        QCOMPARE(m_store->activeDocumentID(), idOf["Loose"]);
        run("collection:" + idOf["Work"]);
        QCOMPARE(m_store->activeDocumentID(), idOf["Todo"]);
        run("collection:" + idOf["Home"]); // empty: changes nothing, still closes
        QCOMPARE(m_store->activeDocumentID(), idOf["Todo"]);
        QCOMPARE(m_log.count(QStringLiteral("dismiss")), 5);

        const qsizetype before = m_store->documents().size();
        run("new-doc");
        QCOMPARE(m_store->documents().size(), before + 1);
        QCOMPARE(m_store->activeDocumentID(), m_store->documents().first().id);
        QCOMPARE(m_store->documents().first().collectionId, std::nullopt);
        QCOMPARE(m_store->documents().first().body, QString());

        run("mode:preview");
        QCOMPARE(m_settings->value(AppSettings::viewModeKey).toString(), QStringLiteral("preview"));
        run("mode:editor");
        QCOMPARE(m_settings->value(AppSettings::viewModeKey).toString(), QStringLiteral("editor"));
    }

    void notifications_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QVariantMap>("info");
        const QString mode = AppNotifications::modeKey;
        QTest::newRow("publish") << "publish" << AppNotifications::publishDocument << QVariantMap();
        QTest::newRow("media") << "media" << AppNotifications::openMediaLibrary << QVariantMap();
        QTest::newRow("refine") << "ai-refine" << AppNotifications::aiAssist << QVariantMap{{mode, "refine"}};
        QTest::newRow("generate") << "ai-generate" << AppNotifications::aiAssist
                                  << QVariantMap{{mode, "generate"}};
        QTest::newRow("delete") << "delete" << AppNotifications::deleteDocument << QVariantMap();
        QTest::newRow("new collection")
            << "new-collection" << AppNotifications::newCollection << QVariantMap();
        QTest::newRow("sidebar") << "sidebar" << AppNotifications::toggleSidebar << QVariantMap();
    }

    void notifications()
    {
        QFETCH(QString, id);
        QFETCH(QString, name);
        QFETCH(QVariantMap, info);
        const auto idOf = populate();
        m_store->setActiveDocumentID(idOf["Plan"]);
        QSignalSpy spy(AppNotifications::instance(), &AppNotifications::posted);
        auto model = palette();
        model->runItem(int(ids(model->shownItems()).indexOf(id)));
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy[0][0].toString(), name);
        QCOMPARE(spy[0][1].toMap(), info);
    }

    void listFollowsTheStore()
    {
        auto model = palette();
        QSignalSpy spy(model.get(), &CommandPaletteModel::itemsChanged);
        const Document document = m_store->createDocument(std::nullopt, QStringLiteral("# Fresh\n"));
        QVERIFY(spy.size() >= 1);
        QVERIFY(find(model->allItems(), "doc:" + document.id));
    }
};

QTEST_GUILESS_MAIN(TestCommandPalette)
#include "tst_commandpalette.moc"
