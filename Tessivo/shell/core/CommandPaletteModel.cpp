#include "shell/core/CommandPaletteModel.h"

#include "app/core/AppNotifications.h"
#include "app/core/AppShortcuts.h"
#include "shell/core/DetailViewMode.h"
#include "store/CollectionTree.h"
#include "store/DocumentStore.h"
#include "store/FuzzyFilter.h"

#include <QHash>
#include <QSet>

#include <algorithm>

#include <utility>

namespace {

const QString documentsSection = QStringLiteral("Documents");
const QString actionsSection = QStringLiteral("Actions");
const QString collectionsSection = QStringLiteral("Collections");
const QString viewSection = QStringLiteral("View");

QString quoted(const QString &text)
{
    return QStringLiteral("\u201C") + text + QStringLiteral("\u201D");
}

} // namespace

CommandPaletteModel::CommandPaletteModel(DocumentStore *store, ViewModeSetting *viewMode,
                                         AppNotifications *notifications, bool sidebarVisible,
                                         std::function<void()> dismiss, QObject *parent)
    : QObject(parent), m_store(store), m_viewMode(viewMode), m_notifications(notifications),
      m_sidebarVisible(sidebarVisible), m_dismiss(std::move(dismiss))
{
    if (store) {
        connect(store, &DocumentStore::documentsChanged, this, &CommandPaletteModel::sourcesChanged);
        connect(store, &DocumentStore::collectionsChanged, this, &CommandPaletteModel::sourcesChanged);
        connect(store, &DocumentStore::activeDocumentIDChanged, this, &CommandPaletteModel::sourcesChanged);
    }
    if (viewMode)
        connect(viewMode, &ViewModeSetting::modeChanged, this, &CommandPaletteModel::sourcesChanged);
}

void CommandPaletteModel::sourcesChanged()
{
    // Marked only: a hidden palette hears of every keystroke in the editor,
    // and its list is built again (and the old one let go) when next read.
    m_stale = true;
    m_shown.reset();
    Q_EMIT itemsChanged();
}

void CommandPaletteModel::ensureBuilt() const
{
    if (m_all && !m_stale)
        return;
    m_stale = false;
    m_all = buildItems();
    m_lowered.clear();
    m_lowered.reserve(m_all->size());
    for (const Item &item : std::as_const(*m_all))
        m_lowered.append(item.title.toLower());
    m_matchedQuery.reset();
}

QList<CommandPaletteModel::Item> CommandPaletteModel::allItems() const
{
    ensureBuilt();
    return *m_all;
}

QString CommandPaletteModel::documentCountDetail(int count)
{
    if (count == 0)
        return QStringLiteral("empty");
    return QString::number(count) + QStringLiteral(" document") +
           (count == 1 ? QString() : QStringLiteral("s"));
}

QList<CommandPaletteModel::Item> CommandPaletteModel::buildItems() const
{
    QList<Item> items;
    DocumentStore *store = m_store.data();
    if (!store)
        return items;
    // Actions capture the store weakly: a palette row may outlive nothing,
    // but a queued click must not touch a store that is gone.
    const QPointer<DocumentStore> weakStore(store);
    const QList<Document> &documents = store->documents();
    const QList<Collection> &collections = store->collections();
    items.reserve(documents.size() + 2 * collections.size() + 16);
    const CollectionTree tree(collections);
    const QList<CollectionTree::Node> flatCollections = CollectionTree::flattened(tree.nodes({}).roots);
    const QPointer<AppNotifications> bus(m_notifications);

    items.append({QStringLiteral("new-doc"), documentsSection, QStringLiteral("New document"), IconName::plus,
                  std::nullopt, AppShortcuts::newDocument, false, false, [weakStore] {
                      if (weakStore)
                          weakStore->createDocument(std::nullopt, QString());
                  }});
    for (const Document &document : documents) {
        const QString id = document.id;
        items.append({QStringLiteral("doc:") + id, documentsSection, document.displayTitle(), IconName::file,
                      std::nullopt, std::nullopt, false, false, [weakStore, id] {
                          if (weakStore)
                              weakStore->setActiveDocumentID(id);
                      }});
    }

    if (const std::optional<Document> active = store->activeDocument()) {
        const QString t = active->displayTitle();
        const QString activeID = active->id;
        QSet<QString> liveIDs;
        for (const Collection &collection : collections)
            liveIDs.insert(collection.id);
        std::optional<QString> current;
        if (active->collectionId && liveIDs.contains(*active->collectionId))
            current = active->collectionId;

        for (const CollectionTree::Node &node : flatCollections) {
            const QString collectionID = node.collection.id;
            if (current && *current == collectionID)
                continue;
            items.append({QStringLiteral("move:") + collectionID, actionsSection,
                          QStringLiteral("Move ") + quoted(t) + QStringLiteral(" to ") +
                              node.path.join(QStringLiteral(" / ")),
                          IconName::folder, std::nullopt, std::nullopt, false, false,
                          [weakStore, activeID, collectionID] {
                              if (weakStore)
                                  weakStore->moveDocument(activeID, collectionID);
                          }});
            items.last().elidableFrom = QStringLiteral("Move \u201C").size();
            items.last().elidableLength = t.size();
        }
        if (current) {
            items.append({QStringLiteral("unfile"), actionsSection,
                          QStringLiteral("Remove ") + quoted(t) + QStringLiteral(" from its collection"),
                          IconName::folder, std::nullopt, std::nullopt, false, false, [weakStore, activeID] {
                              if (weakStore)
                                  weakStore->moveDocument(activeID, std::nullopt);
                          }});
            items.last().elidableFrom = QStringLiteral("Remove \u201C").size();
            items.last().elidableLength = t.size();
        }
        items.append({QStringLiteral("publish"), actionsSection,
                      QStringLiteral("Publish ") + quoted(t) + QStringLiteral("\u2026"), IconName::link,
                      std::nullopt, AppShortcuts::publishDocument, false, false, [bus] {
                          if (bus)
                              bus->post(AppNotifications::publishDocument);
                      }});
        items.append({QStringLiteral("media"), actionsSection, QStringLiteral("Browse media library"),
                      IconName::image, std::nullopt, AppShortcuts::insertImage, false, false, [bus] {
                          if (bus)
                              bus->post(AppNotifications::openMediaLibrary);
                      }});
        items.append({QStringLiteral("ai-refine"), actionsSection, QStringLiteral("Refine selection with AI"),
                      IconName::sparkles, std::nullopt, AppShortcuts::aiAssistant, false, false, [bus] {
                          if (bus)
                              bus->post(AppNotifications::aiAssist,
                                        {{AppNotifications::modeKey, AppNotifications::refineMode}});
                      }});
        items.append({QStringLiteral("ai-generate"), actionsSection, QStringLiteral("Generate text with AI"),
                      IconName::sparkles, std::nullopt, std::nullopt, false, false, [bus] {
                          if (bus)
                              bus->post(AppNotifications::aiAssist,
                                        {{AppNotifications::modeKey, AppNotifications::generateMode}});
                      }});
        items.append({QStringLiteral("delete"), actionsSection, QStringLiteral("Delete ") + quoted(t),
                      IconName::trash, std::nullopt, AppShortcuts::deleteDocument, false, true, [bus] {
                          if (bus)
                              bus->post(AppNotifications::deleteDocument);
                      }});
    }

    items.append({QStringLiteral("new-collection"), collectionsSection, QStringLiteral("New collection"),
                  IconName::folderAdd, std::nullopt, AppShortcuts::newCollection, false, false, [bus] {
                      if (bus)
                          bus->post(AppNotifications::newCollection);
                  }});
    // Each collection's own documents: how many, and the first in the
    // store's order (the one a click opens).
    QHash<QString, std::pair<int, QString>> filed;
    for (const Document &document : documents) {
        if (document.collectionId) {
            auto &[count, first] = filed[*document.collectionId];
            if (count++ == 0)
                first = document.id;
        }
    }
    for (const CollectionTree::Node &node : flatCollections) {
        const std::pair<int, QString> own = filed.value(node.collection.id);
        const std::optional<QString> firstDocument =
            own.first == 0 ? std::nullopt : std::optional<QString>(own.second);
        items.append({QStringLiteral("collection:") + node.collection.id, collectionsSection,
                      node.path.join(QStringLiteral(" / ")), IconName::folder, documentCountDetail(own.first),
                      std::nullopt, false, false, [weakStore, firstDocument] {
                          if (weakStore && firstDocument)
                              weakStore->setActiveDocumentID(*firstDocument);
                      }});
    }

    const ViewMode current = m_viewMode ? m_viewMode->mode() : ViewMode::split;
    const QPointer<ViewModeSetting> weakMode(m_viewMode);
    const QList<ViewMode> &modes = ViewModes::all();
    for (int i = 0; i < modes.size(); ++i) {
        const ViewMode mode = modes[i];
        const QString raw = ViewModes::rawValue(mode);
        QString title = QStringLiteral("Show ") + raw;
        if (mode == ViewMode::split)
            title += QStringLiteral(" view");
        IconName icon = IconName::viewColumns;
        if (mode == ViewMode::editor)
            icon = IconName::pencilSquare;
        else if (mode == ViewMode::preview)
            icon = IconName::eye;
        items.append({QStringLiteral("mode:") + raw, viewSection, title, icon, std::nullopt,
                      AppShortcuts::viewMode(i), mode == current, false, [weakMode, mode] {
                          if (weakMode)
                              weakMode->setMode(mode);
                      }});
    }
    items.append({QStringLiteral("sidebar"), viewSection,
                  m_sidebarVisible ? QStringLiteral("Hide sidebar") : QStringLiteral("Show sidebar"),
                  IconName::panelLeft, std::nullopt, AppShortcuts::toggleSidebar, false, false, [bus] {
                      if (bus)
                          bus->post(AppNotifications::toggleSidebar);
                  }});
    return items;
}

const QList<qsizetype> &CommandPaletteModel::shownIndices() const
{
    if (m_shown && !m_stale)
        return *m_shown;
    ensureBuilt();
    const QString query = fuzzyNormalizedQuery(m_query);
    const bool narrows = m_matchedQuery && fuzzyQueryNarrows(*m_matchedQuery, query);
    m_shown = fuzzyFilterLowered(m_lowered, query, narrows ? &m_matched : nullptr);
    m_matched = *m_shown;
    std::sort(m_matched.begin(), m_matched.end());
    m_matchedQuery = query;
    return *m_shown;
}

QList<CommandPaletteModel::Item> CommandPaletteModel::shownItems() const
{
    QList<Item> shown;
    const QList<qsizetype> &indices = shownIndices();
    shown.reserve(indices.size());
    for (const qsizetype i : indices)
        shown.append(m_all->at(i));
    return shown;
}

int CommandPaletteModel::shownCount() const
{
    return int(shownIndices().size());
}

const CommandPaletteModel::Item &CommandPaletteModel::shownItem(int index) const
{
    const qsizetype at = shownIndices().at(index);
    return m_all->at(at);
}

bool CommandPaletteModel::shownStartsSection(int index) const
{
    if (index < 0 || index >= shownCount())
        return false;
    return index == 0 || shownItem(index).section != shownItem(index - 1).section;
}

void CommandPaletteModel::setSidebarVisible(bool visible)
{
    if (visible == m_sidebarVisible)
        return;
    m_sidebarVisible = visible;
    sourcesChanged();
}

void CommandPaletteModel::setQuery(const QString &query)
{
    if (query == m_query)
        return;
    m_query = query;
    m_shown.reset();
    Q_EMIT queryChanged();
    Q_EMIT itemsChanged();
    setSelection(0);
}

void CommandPaletteModel::setSelection(int index)
{
    if (index == m_selection)
        return;
    m_selection = index;
    Q_EMIT selectionChanged(index);
}

void CommandPaletteModel::move(int step)
{
    const int n = shownCount();
    if (n == 0)
        return;
    // Double remainder: the stored selection may be stale or far out of range.
    setSelection((((m_selection + step) % n) + n) % n);
}

void CommandPaletteModel::runSelected()
{
    if (m_selection < 0 || m_selection >= shownCount())
        return;
    const std::function<void()> action = shownItem(m_selection).action;
    if (m_dismiss)
        m_dismiss();
    if (action)
        action();
}

void CommandPaletteModel::runItem(int index)
{
    if (index < 0 || index >= shownCount())
        return;
    // Copy first: the action may change the store and so the list.
    const std::function<void()> action = shownItem(index).action;
    if (action)
        action();
    if (m_dismiss)
        m_dismiss();
}

void CommandPaletteModel::dismiss()
{
    if (m_dismiss)
        m_dismiss();
}

bool CommandPaletteModel::startsSection(const QList<Item> &shown, int index)
{
    if (index < 0 || index >= shown.size())
        return false;
    return index == 0 || shown.at(index).section != shown.at(index - 1).section;
}
