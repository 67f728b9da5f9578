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
using namespace Qt::StringLiterals;

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
    const qsizetype i = ids(items).indexOf(id);
    return i < 0 ? nullptr : &items[i];
}

} // namespace

class TestCommandPalette : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<DocumentStore> m_store;
    std::unique_ptr<ViewModeSetting> m_mode;
    AppNotifications m_notifications;
    QStringList m_log; // dismiss and action order

    std::unique_ptr<CommandPaletteModel> palette(bool sidebarVisible = true)
    {
        return std::make_unique<CommandPaletteModel>(m_store.get(), m_mode.get(), &m_notifications,
                                                     sidebarVisible, [this] { m_log << u"dismiss"_s; });
    }

    // Collections "Work" > "Notes", and "Home"; documents "Plan" and "Todo"
    // in Work, "Loose" unfiled; `active` is made the open one.
    QHash<QString, QString> populate(const QString &active = {})
    {
        QHash<QString, QString> idOf;
        idOf["Work"] = m_store->createCollection(u"Work"_s)->id;
        idOf["Notes"] = m_store->createCollection(u"Notes"_s, idOf["Work"])->id;
        idOf["Home"] = m_store->createCollection(u"Home"_s)->id;
        idOf["Loose"] = m_store->createDocument(std::nullopt, u"# Loose\n"_s).id;
        idOf["Todo"] = m_store->createDocument(idOf["Work"], u"# Todo\n"_s).id;
        idOf["Plan"] = m_store->createDocument(idOf["Work"], u"# Plan\n"_s).id;
        m_store->setActiveDocumentID(idOf.value(active));
        return idOf;
    }

    void runItem(const QString &id)
    {
        auto model = palette();
        const int index = int(ids(model->shownItems()).indexOf(id));
        QVERIFY2(index >= 0, qPrintable(id));
        model->runItem(index);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(u"TessivoTests"_s);
        QCoreApplication::setApplicationName(u"tst_commandpalette"_s);
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_settings = std::make_unique<QSettings>(m_dir->filePath(u"settings.ini"_s), QSettings::IniFormat);
        m_store = std::make_unique<DocumentStore>(m_dir->filePath(u"store"_s), m_settings.get());
        m_mode = std::make_unique<ViewModeSetting>(m_settings.get());
        m_log.clear();
    }

    void cleanup() { m_store.reset(); }

    void fullListForAFiledDocument()
    {
        const auto idOf = populate(u"Plan"_s);
        const QList<Item> items = palette()->allItems();
        // Its own collection (Work) is not a move target; pre-order otherwise.
        QString named = ids(items).join(u' ');
        for (auto it = idOf.cbegin(); it != idOf.cend(); ++it)
            named.replace(it.value(), it.key());
        QCOMPARE(named,
                 u"new-doc doc:Plan doc:Todo doc:Loose move:Notes move:Home unfile publish media ai-refine "
                 "ai-generate delete new-collection collection:Work collection:Notes collection:Home "
                 "mode:editor mode:split mode:preview sidebar"_s);

        QStringList sections;
        for (const Item &item : items)
            if (sections.isEmpty() || sections.last() != item.section)
                sections << item.section;
        QCOMPARE(sections, QStringList({"Documents", "Actions", "Collections", "View"}));

        QStringList titles;
        for (const QString &id :
             {"move:" + idOf["Notes"], u"unfile"_s, u"publish"_s, u"delete"_s, u"sidebar"_s})
            titles << find(items, id)->title;
        QCOMPARE(titles, QStringList({u"Move \u201CPlan\u201D to Work / Notes"_s,
                                      u"Remove \u201CPlan\u201D from its collection"_s,
                                      u"Publish \u201CPlan\u201D\u2026"_s, u"Delete \u201CPlan\u201D"_s,
                                      u"Hide sidebar"_s}));
        QCOMPARE(find(palette(false)->allItems(), "sidebar")->title, u"Show sidebar"_s);
        for (const Item &item : items)
            QCOMPARE(item.destructive, item.id == u"delete");
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
        const auto idOf = populate(u"Loose"_s);
        if (dangling) {
            const auto gone = m_store->createCollection(u"Gone"_s);
            m_store->setActiveDocumentID(m_store->createDocument(gone->id, u"# Orphan\n"_s).id);
            m_store->deleteCollection(gone->id);
        }
        const QList<Item> items = palette()->allItems();
        QStringList moves;
        for (const Item &item : items)
            if (item.id.startsWith(u"move:"_s))
                moves << item.id.mid(5);
        QCOMPARE(moves, QStringList({idOf["Work"], idOf["Notes"], idOf["Home"]}));
        QVERIFY(!find(items, "unfile"));
    }

    void collectionDetailCountsOwnDocumentsOnly()
    {
        const auto idOf = populate();
        m_store->createDocument(idOf["Notes"], u"# One\n"_s);
        const QList<Item> items = palette()->allItems();
        QStringList details;
        for (const char *name : {"Work", "Notes", "Home"})
            details << find(items, "collection:" + idOf[name])->detail.value_or(u"-"_s);
        QCOMPARE(details, QStringList({"2 documents", "1 document", "empty"}));
    }

    void currentModeIsChecked_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("checked");
        QTest::newRow("preview") << "preview"
                                 << "mode:preview";
        QTest::newRow("robustness: missing value reads as split") << ""
                                                                  << "mode:split";
    }

    void currentModeIsChecked()
    {
        QFETCH(QString, stored);
        QFETCH(QString, checked);
        if (!stored.isEmpty())
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

    // With no open document there are no Actions rows: "pl" would find "Publish".
    void filtering()
    {
        QFETCH(QString, query);
        QFETCH(QStringList, titles);
        populate();
        auto model = palette();
        model->setQuery(query);
        QStringList shown;
        for (const Item &item : model->shownItems())
            shown << item.title;
        QCOMPARE(shown, titles);

        model->setQuery(u"  \t "_s); // blank: the full list in its built order
        QCOMPARE(ids(model->shownItems()), ids(model->allItems()));
    }

    // Typing on looks only at what the shorter query kept; deleting, or a
    // query that does not extend the last, looks at everything again. Each
    // step shows what a new palette would for the same query.
    void typingOnNarrowsAsAFreshFilterWould()
    {
        populate(u"Plan"_s);
        m_store->createDocument(std::nullopt, u"# Caf\u00E9 notes\n"_s);
        m_store->createDocument(std::nullopt, u"# Cafe\u0301 plans\n"_s);
        m_store->createDocument(std::nullopt, u"# \u00C9t\u00E9 list\n"_s);
        auto typed = palette();
        for (const QString &query :
             {u"o"_s,      u"on"_s,      u"one"_s, u"on"_s,  u"p"_s,    u"pl"_s,         u"pla"_s,
              u"pl"_s,     u"pla n"_s,   u"c"_s,   u"caf"_s, u"cafe"_s, u"cafe\u0301"_s, u"caf\u00E9"_s,
              u"\u00E9"_s, u"\u00E9t"_s, u"x"_s,   u"xq"_s,  u"TODO"_s, u"todo"_s}) {
            typed->setQuery(query);
            auto fresh = palette();
            fresh->setQuery(query);
            QCOMPARE(ids(typed->shownItems()), ids(fresh->shownItems()));
        }
    }

    void emptyResultIgnoresKeys()
    {
        populate();
        auto model = palette();
        model->setQuery(u"zzzzqqq"_s);
        QVERIFY(model->shownItems().isEmpty());
        const qsizetype before = m_store->documents().size();
        model->move(1);
        model->move(-1);
        QCOMPARE(model->selection(), 0);
        model->runSelected();
        QVERIFY(m_log.isEmpty()); // stays open
        QCOMPARE(m_store->documents().size(), before);
    }

    void sectionHeadersRepeatWhenFilteringInterleaves()
    {
        // "showcase" scores 1000-8, the view rows 1000-11 to 1000-15, and the
        // long title 1000-31: Documents, View, Documents.
        m_store->createDocument(std::nullopt, u"# Showcase\n"_s);
        m_store->createDocument(std::nullopt, u"# Show me the long list of things\n"_s);
        m_store->setActiveDocumentID(QString());
        auto model = palette();
        model->setQuery(u"show"_s);
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
        model->move(-1);
        QCOMPARE(model->selection(), int(model->shownItems().size()) - 1);
        model->move(1);
        model->move(1);
        model->move(1);
        QCOMPARE(model->selection(), 2);
        QSignalSpy spy(model.get(), &CommandPaletteModel::selectionChanged);
        model->setQuery(u"p"_s);
        QCOMPARE(model->selection(), 0);
        QCOMPARE(spy.size(), 1);
    }

    void returnDismissesFirstClickRunsFirst()
    {
        populate(u"Plan"_s);
        QObject observer;
        connect(&m_notifications, &AppNotifications::posted, &observer,
                [this](const QString &name, const QVariantMap &) { m_log << name; });
        auto model = palette();
        const int last = int(model->shownItems().size()) - 1; // "sidebar"
        model->setSelection(last);
        model->runSelected();
        model->runItem(last);
        QCOMPARE(m_log, QStringList({"dismiss", AppNotifications::toggleSidebar,
                                     AppNotifications::toggleSidebar, "dismiss"}));

        // Return on a stale selection does nothing.
        m_log.clear();
        model->setSelection(last);
        m_store->setActiveDocumentID(QString()); // the Actions rows go away
        model->runSelected();
        QVERIFY(m_log.isEmpty());
    }

    void actionsReachTheStoreAndSettings()
    {
        const auto idOf = populate(u"Plan"_s);
        runItem("move:" + idOf["Home"]);
        QCOMPARE(m_store->document(idOf["Plan"])->collectionId, std::optional<QString>(idOf["Home"]));
        runItem(u"unfile"_s);
        QCOMPARE(m_store->document(idOf["Plan"])->collectionId, std::nullopt);
        runItem("doc:" + idOf["Loose"]);
        QCOMPARE(m_store->activeDocumentID(), idOf["Loose"]);
        runItem("collection:" + idOf["Work"]);
        QCOMPARE(m_store->activeDocumentID(), idOf["Todo"]);
        runItem("collection:" + idOf["Home"]); // empty: changes nothing, still closes
        QCOMPARE(m_store->activeDocumentID(), idOf["Todo"]);
        QCOMPARE(m_log.count(u"dismiss"_s), 5);

        const qsizetype before = m_store->documents().size();
        runItem(u"new-doc"_s);
        QCOMPARE(m_store->documents().size(), before + 1);
        const Document made = m_store->documents().first();
        QCOMPARE(m_store->activeDocumentID(), made.id);
        QVERIFY(!made.collectionId && made.body.isEmpty());

        runItem(u"mode:preview"_s);
        QCOMPARE(m_settings->value(AppSettings::viewModeKey).toString(), u"preview"_s);
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
    }

    void notifications()
    {
        QFETCH(QString, id);
        QFETCH(QString, name);
        QFETCH(QVariantMap, info);
        populate(u"Plan"_s);
        QSignalSpy spy(&m_notifications, &AppNotifications::posted);
        runItem(id);
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy[0][0].toString(), name);
        QCOMPARE(spy[0][1].toMap(), info);
    }

    void listFollowsTheStore()
    {
        auto model = palette();
        QSignalSpy spy(model.get(), &CommandPaletteModel::itemsChanged);
        const Document document = m_store->createDocument(std::nullopt, u"# Fresh\n"_s);
        QVERIFY(spy.size() >= 1);
        QVERIFY(find(model->allItems(), "doc:" + document.id));
    }

    // The list is kept between reads: every kind of change still shows in
    // the next read, filtered or not.
    void keptListFollowsEveryChange()
    {
        const auto idOf = populate();
        auto model = palette();
        model->setQuery(u"zephyr"_s);
        QVERIFY(model->shownItems().isEmpty());
        const Document fresh = m_store->createDocument(std::nullopt, u"# Zephyr\n"_s);
        QVERIFY(ids(model->shownItems()).contains("doc:" + fresh.id));
        m_store->updateBody(u"# Quill\n"_s, fresh.id);
        QVERIFY(model->shownItems().isEmpty());
        model->setQuery(QString());
        QCOMPARE(find(model->allItems(), "doc:" + fresh.id)->title, u"Quill"_s);

        m_store->setActiveDocumentID(fresh.id);
        QVERIFY(find(model->allItems(), "move:" + idOf["Notes"]));
        m_store->moveDocument(fresh.id, idOf["Notes"]);
        QVERIFY(!find(model->allItems(), "move:" + idOf["Notes"]));
        QCOMPARE(find(model->allItems(), "collection:" + idOf["Notes"])->detail, u"1 document"_s);

        m_mode->setMode(ViewMode::preview);
        QVERIFY(find(model->allItems(), "mode:preview")->checked);
    }
};

QTEST_GUILESS_MAIN(TestCommandPalette)
#include "tst_commandpalette.moc"
