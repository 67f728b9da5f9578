#include "sidebar/core/SidebarModel.h"

#include "protocol/Routes.h"
#include "sidebar/core/CollapsedCollections.h"
#include "sidebar/core/RelativeTime.h"
#include "sidebar/core/SidebarDrag.h"
#include "sidebar/core/SidebarTexts.h"
#include "store/DocumentStore.h"
#include "store/Text.h"

#include <QMimeData>

namespace {

using Item = SidebarMenuItem;

QString pathLabel(const CollectionTree::Node &node)
{
    return node.path.join(QStringLiteral(" / "));
}

Item action(const QString &title, Item::Command command, const QString &subject)
{
    Item item;
    item.title = title;
    item.command = command;
    item.subject = subject;
    return item;
}

} // namespace

SidebarModel::SidebarModel(DocumentStore *store, QSettings *settings, QObject *parent)
    : QAbstractListModel(parent), m_store(store), m_settings(settings)
{
    Q_ASSERT(store);
    m_collapsed = CollapsedCollections::decode(m_settings.collapsedCollections());
    m_clock = [] { return QDateTime::currentDateTimeUtc(); };
    m_siteURL = [] { return std::optional<QUrl>(); };

    connect(store, &DocumentStore::documentsChanged, this, &SidebarModel::onDocumentsChanged);
    connect(store, &DocumentStore::collectionsChanged, this, &SidebarModel::rebuild);
    connect(store, &DocumentStore::searchTextChanged, this, &SidebarModel::rebuild);
    connect(store, &DocumentStore::activeDocumentIDChanged, this, &SidebarModel::onActiveDocumentChanged);

    rebuild();
    // The active document is revealed once when the sidebar first shows, and
    // again whenever another document becomes active.
    m_selectedDocumentID = store->activeDocumentID();
    revealActiveDocument(m_selectedDocumentID);
}

SidebarModel::~SidebarModel() = default;

// --- Rows --------------------------------------------------------------------

int SidebarModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

const Document *SidebarModel::liveDocument(const QString &id) const
{
    if (!m_store)
        return nullptr;
    const qsizetype index = m_store->indexOfDocument(id);
    if (index < 0)
        return nullptr;
    return &m_store->documents().at(index);
}

QVariant SidebarModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const Row &row = m_rows.at(index.row());
    switch (role) {
    case KindRole:
        return QVariant::fromValue(row.kind);
    case IndentRole:
        return row.indent;
    case CollectionIDRole:
        return row.collectionID;
    case DocumentIDRole:
        return row.documentID;
    case CountRole:
        return row.count;
    case CollapsedRole:
        return row.collapsed;
    case FixedRole:
        return row.fixed;
    case DepthRole:
        return row.depth;
    case DimmedRole:
        return row.dimmed;
    case SectionEndRole:
        return row.sectionEnd;
    case SelectedRole:
        return row.kind == RowKind::Document && m_store && row.documentID == m_store->activeDocumentID();
    default:
        break;
    }
    if (role == Qt::DisplayRole || role == TitleRole) {
        if (row.kind == RowKind::Document) {
            const Document *doc = liveDocument(row.documentID);
            return doc ? doc->displayTitle() : QString();
        }
        if (row.kind == RowKind::Placeholder)
            return SidebarTexts::noDocumentsYet();
        if (row.kind == RowKind::TopLevelStrip)
            return SidebarTexts::moveToTopLevel();
        return row.title;
    }
    if (row.kind != RowKind::Document)
        return {};
    const Document *doc = liveDocument(row.documentID);
    if (!doc)
        return {};
    switch (role) {
    case ExcerptRole:
        if (row.excerptFor != doc->updatedAt) {
            row.excerpt = Text::leftCharacters(m_store->excerpt(*doc), excerptLength);
            row.excerptFor = doc->updatedAt;
        }
        return row.excerpt;
    case UpdatedAtRole:
        return doc->updatedAt;
    case TimeTextRole:
        return relativeTimeString(doc->updatedAt, m_clock());
    default:
        return {};
    }
}

Qt::ItemFlags SidebarModel::flags(const QModelIndex &index) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return Qt::NoItemFlags;
    const Row &row = m_rows.at(index.row());
    Qt::ItemFlags result = Qt::ItemIsEnabled;
    if (row.kind == RowKind::Document || row.kind == RowKind::CollectionHeader)
        result |= Qt::ItemIsSelectable;
    if (row.kind == RowKind::Document || (row.kind == RowKind::CollectionHeader && !row.fixed))
        result |= Qt::ItemIsDragEnabled;
    if (row.target.kind != DropTarget::Kind::None)
        result |= Qt::ItemIsDropEnabled;
    return result;
}

QHash<int, QByteArray> SidebarModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names.insert(KindRole, "kind");
    names.insert(IndentRole, "indent");
    names.insert(CollectionIDRole, "collectionID");
    names.insert(DocumentIDRole, "documentID");
    names.insert(TitleRole, "title");
    names.insert(CountRole, "count");
    names.insert(CollapsedRole, "collapsed");
    names.insert(FixedRole, "fixed");
    names.insert(DepthRole, "depth");
    names.insert(ExcerptRole, "excerpt");
    names.insert(UpdatedAtRole, "updatedAt");
    names.insert(TimeTextRole, "timeText");
    names.insert(SelectedRole, "selected");
    names.insert(DimmedRole, "dimmed");
    names.insert(SectionEndRole, "sectionEnd");
    return names;
}

QStringList SidebarModel::mimeTypes() const
{
    return {QString::fromLatin1(SidebarDrag::documentReferenceType),
            QString::fromLatin1(SidebarDrag::collectionReferenceType)};
}

QMimeData *SidebarModel::mimeData(const QModelIndexList &indexes) const
{
    for (const QModelIndex &index : indexes) {
        if (!index.isValid() || index.row() >= m_rows.size())
            continue;
        const Row &row = m_rows.at(index.row());
        if (row.kind == RowKind::Document)
            return SidebarDrag::documentMimeData(row.documentID);
        if (row.kind == RowKind::CollectionHeader && !row.fixed)
            return SidebarDrag::collectionMimeData(row.collectionID);
    }
    return nullptr;
}

SidebarModel::RowKind SidebarModel::kind(int row) const
{
    return m_rows.at(row).kind;
}

int SidebarModel::rowOfDocument(const QString &documentID) const
{
    return m_documentRows.value(documentID, -1);
}

int SidebarModel::rowOfCollection(const QString &collectionID) const
{
    return m_collectionRows.value(collectionID, -1);
}

bool SidebarModel::hasCollections() const
{
    return m_store && !m_store->collections().isEmpty();
}

void SidebarModel::setClockForTesting(std::function<QDateTime()> clock)
{
    m_clock = std::move(clock);
}

void SidebarModel::rebuild()
{
    if (!m_store)
        return;
    beginResetModel();
    m_rows.clear();
    m_documentRows.clear();
    m_collectionRows.clear();
    m_documentSections.clear();
    m_liveCollections.clear();

    const QList<Collection> &collections = m_store->collections();
    for (const Collection &c : collections)
        m_liveCollections.insert(c.id);
    const CollectionTree tree(collections);
    const CollectionTree::Forest forest = tree.nodes(m_store->filteredDocuments());
    m_rows.reserve(m_store->documents().size() + collections.size() * 2 + 4);

    for (const CollectionTree::Node &root : forest.roots) {
        appendSection(root, 0);
        Row spacer;
        spacer.kind = RowKind::SectionSpacer;
        m_rows.append(spacer);
    }

    m_showsUngrouped = collections.isEmpty() || !forest.unfiled.isEmpty();
    if (m_showsUngrouped) {
        const DropTarget ungrouped{DropTarget::Kind::Ungrouped, QString()};
        Row label;
        label.kind = RowKind::GroupLabel;
        label.dimmed = !collections.isEmpty();
        label.title = label.dimmed ? SidebarTexts::noCollectionTitle() : SidebarTexts::documentsTitle();
        label.count = int(forest.unfiled.size());
        label.target = ungrouped;
        m_rows.append(label);
        for (const Document &doc : forest.unfiled)
            appendDocumentRow(doc, 0, ungrouped);
    }
    for (const Document &doc : forest.unfiled)
        m_documentSections.insert(doc.id, QString());

    Row strip;
    strip.kind = RowKind::TopLevelStrip;
    strip.target = DropTarget{DropTarget::Kind::TopLevelStrip, QString()};
    m_rows.append(strip);

    ++m_rebuildCount;
    endResetModel();
    Q_EMIT rowsRebuilt();
}

void SidebarModel::appendSection(const CollectionTree::Node &node, int indent)
{
    const QString &id = node.collection.id;
    Row header;
    header.kind = RowKind::CollectionHeader;
    header.indent = indent;
    header.collectionID = id;
    header.title = node.collection.name;
    header.count = node.totalDocuments;
    header.depth = node.depth;
    header.collapsed = m_collapsed.contains(id);
    header.fixed = isFixedCollectionID(id);
    header.target = DropTarget{
        header.fixed ? DropTarget::Kind::FixedCollection : DropTarget::Kind::CollectionSection, id};
    const int headerRow = int(m_rows.size());
    m_collectionRows.insert(id, headerRow);
    m_rows.append(header);

    if (header.collapsed) {
        // Hidden documents still need their section, so that an edit of one
        // of them is told apart from a move.
        const QList<CollectionTree::Node> hidden = CollectionTree::flattened({node});
        for (const CollectionTree::Node &n : hidden) {
            for (const Document &doc : n.documents)
                m_documentSections.insert(doc.id, n.collection.id);
        }
    } else {
        for (const CollectionTree::Node &child : node.children)
            appendSection(child, indent + 1);
        for (const Document &doc : node.documents) {
            m_documentSections.insert(doc.id, id);
            appendDocumentRow(doc, indent + 1, header.target);
        }
        if (node.documents.isEmpty() && node.children.isEmpty()) {
            Row placeholder;
            placeholder.kind = RowKind::Placeholder;
            placeholder.indent = indent + 1;
            placeholder.target = header.target;
            m_rows.append(placeholder);
        }
    }
    m_rows[headerRow].sectionEnd = int(m_rows.size());
}

void SidebarModel::appendDocumentRow(const Document &document, int indent, const DropTarget &target)
{
    Row row;
    row.kind = RowKind::Document;
    row.indent = indent;
    row.documentID = document.id;
    row.target = target;
    m_documentRows.insert(document.id, int(m_rows.size()));
    m_rows.append(row);
}

void SidebarModel::onDocumentsChanged(const QString &changedDocumentID)
{
    if (changedDocumentID.isEmpty() || !m_store) {
        rebuild();
        return;
    }
    // An edit in place. With a search under way the edit may bring the
    // document into or out of the results; otherwise only a move changes
    // the rows' shape.
    const Document *doc = liveDocument(changedDocumentID);
    const auto section = m_documentSections.constFind(changedDocumentID);
    if (!doc || section == m_documentSections.cend() ||
        !Text::trimmedSpacesAndTabs(m_store->searchText()).isEmpty()) {
        rebuild();
        return;
    }
    QString expected;
    if (doc->collectionId && m_liveCollections.contains(*doc->collectionId))
        expected = *doc->collectionId;
    if (expected != *section) {
        rebuild();
        return;
    }
    const int row = rowOfDocument(changedDocumentID);
    if (row >= 0)
        Q_EMIT dataChanged(index(row), index(row));
}

void SidebarModel::onActiveDocumentChanged()
{
    const QString previous = m_selectedDocumentID;
    m_selectedDocumentID = m_store->activeDocumentID();
    for (const QString &id : {previous, m_selectedDocumentID}) {
        const int row = rowOfDocument(id);
        if (row >= 0)
            Q_EMIT dataChanged(index(row), index(row), {SelectedRole});
    }
    revealActiveDocument(m_selectedDocumentID);
}

// --- Collapse state -------------------------------------------------------------

QSet<QString> SidebarModel::collapsed() const
{
    return m_collapsed;
}

void SidebarModel::setCollapsed(const QSet<QString> &ids)
{
    writeCollapsed(ids);
}

bool SidebarModel::isCollapsed(const QString &collectionID) const
{
    return m_collapsed.contains(collectionID);
}

void SidebarModel::writeCollapsed(const QSet<QString> &ids)
{
    m_collapsed = ids;
    m_settings.setCollapsedCollections(CollapsedCollections::encode(ids));
    Q_EMIT collapsedChanged();
    rebuild();
}

void SidebarModel::toggleCollapsed(const QString &collectionID)
{
    Q_EMIT animationRequested(collapseAnimationMs);
    QSet<QString> ids = m_collapsed;
    if (!ids.remove(collectionID))
        ids.insert(collectionID);
    writeCollapsed(ids);
}

void SidebarModel::expand(const QStringList &collectionIDs)
{
    QSet<QString> ids = m_collapsed;
    for (const QString &id : collectionIDs)
        ids.remove(id);
    if (ids == m_collapsed)
        return;
    writeCollapsed(ids);
}

void SidebarModel::revealActiveDocument(const QString &documentID)
{
    if (documentID.isEmpty() || !m_store)
        return;
    const std::optional<Document> doc = m_store->document(documentID);
    if (!doc || !doc->collectionId)
        return;
    const CollectionTree tree(m_store->collections());
    QStringList ids{*doc->collectionId};
    ids += tree.ancestors(*doc->collectionId);
    expand(ids);
}

// --- Moves and drops ------------------------------------------------------------------

QList<CollectionTree::Node> SidebarModel::moveTargets() const
{
    if (!m_store)
        return {};
    const CollectionTree tree(m_store->collections());
    return CollectionTree::flattened(tree.nodes({}).roots);
}

void SidebarModel::moveDocument(const QString &documentID, const std::optional<QString> &collectionID)
{
    if (m_store)
        m_store->moveDocument(documentID, collectionID);
}

bool SidebarModel::moveCollection(const QString &collectionID, const std::optional<QString> &parentID)
{
    if (!m_store || !m_store->moveCollection(collectionID, parentID))
        return false;
    if (parentID)
        expand({*parentID});
    return true;
}

bool SidebarModel::canTake(const std::optional<QString> &draggedCollectionID, const QString &targetID) const
{
    if (!draggedCollectionID)
        return true;
    if (!m_store)
        return false;
    const CollectionTree tree(m_store->collections());
    const auto parent = tree.parents().constFind(*draggedCollectionID);
    if (parent != tree.parents().cend() && *parent == targetID)
        return false;
    return tree.canMove(*draggedCollectionID, targetID);
}

void SidebarModel::beginDrag(int row)
{
    if (row < 0 || row >= m_rows.size())
        return;
    const Row &r = m_rows.at(row);
    if (r.kind == RowKind::CollectionHeader && !r.fixed)
        m_draggingCollectionID = r.collectionID;
    else if (r.kind == RowKind::Document)
        m_draggingCollectionID.reset();
}

SidebarModel::DropTarget SidebarModel::dropTarget(int row) const
{
    if (row < 0 || row >= m_rows.size())
        return {};
    return m_rows.at(row).target;
}

bool SidebarModel::acceptsDrop(const DropTarget &target, const QMimeData *mime) const
{
    using Kind = DropTarget::Kind;
    switch (target.kind) {
    case Kind::None:
        return false;
    case Kind::CollectionSection:
        for (const SidebarDrag::Item &item : SidebarDrag::items(mime)) {
            if (item.kind == SidebarDrag::Item::Kind::Document || canTake(item.id, target.collectionID))
                return true;
        }
        return false;
    case Kind::FixedCollection:
    case Kind::Ungrouped:
        return !SidebarDrag::items(mime, true, false).isEmpty();
    case Kind::TopLevelStrip:
        return !SidebarDrag::items(mime, false, true).isEmpty();
    }
    return false;
}

bool SidebarModel::highlightsDrop(const DropTarget &target) const
{
    if (target.kind == DropTarget::Kind::None)
        return false;
    if (target.kind == DropTarget::Kind::CollectionSection)
        return canTake(m_draggingCollectionID, target.collectionID);
    return true;
}

bool SidebarModel::drop(const DropTarget &target, const QMimeData *mime)
{
    using Kind = DropTarget::Kind;
    if (acceptsDrop(target, mime))
        Q_EMIT animationRequested(moveAnimationMs);
    switch (target.kind) {
    case Kind::None:
        return false;
    case Kind::CollectionSection: {
        bool handled = false;
        for (const SidebarDrag::Item &item : SidebarDrag::items(mime)) {
            if (item.kind == SidebarDrag::Item::Kind::Document) {
                moveDocument(item.id, target.collectionID);
                handled = true;
            } else if (canTake(item.id, target.collectionID)) {
                moveCollection(item.id, target.collectionID);
                handled = true;
            }
        }
        return handled;
    }
    case Kind::FixedCollection:
    case Kind::Ungrouped: {
        const QList<SidebarDrag::Item> items = SidebarDrag::items(mime, true, false);
        const std::optional<QString> collection =
            target.kind == Kind::Ungrouped ? std::nullopt : std::optional<QString>(target.collectionID);
        for (const SidebarDrag::Item &item : items)
            moveDocument(item.id, collection);
        return !items.isEmpty();
    }
    case Kind::TopLevelStrip: {
        const QList<SidebarDrag::Item> items = SidebarDrag::items(mime, false, true);
        for (const SidebarDrag::Item &item : items)
            moveCollection(item.id, std::nullopt);
        return !items.isEmpty();
    }
    }
    return false;
}

// --- Menus ------------------------------------------------------------------------------

void SidebarModel::setSiteURLProvider(std::function<std::optional<QUrl>()> provider)
{
    m_siteURL = provider ? std::move(provider) : [] { return std::optional<QUrl>(); };
}

QList<SidebarMenuItem> SidebarModel::collectionMenu(const QString &collectionID) const
{
    QList<Item> menu;
    if (!m_store)
        return menu;
    const std::optional<Collection> collection = m_store->collection(collectionID);
    if (!collection)
        return menu;
    const bool fixed = isFixedCollectionID(collectionID);
    const CollectionTree tree(m_store->collections());
    const int depth = int(tree.ancestors(collectionID).size()) + 1;

    menu.append(action(QStringLiteral("New Document"), Item::Command::NewDocument, collectionID));
    if (collectionID == fixedCollectionIDs().at(0)) {
        QUrl blog = m_serviceBaseURL;
        blog.setPath(protocol::routePath(protocol::Endpoint::blog));
        Item link = action(QStringLiteral("View Blog"), Item::Command::OpenURL, collectionID);
        link.url = blog;
        menu.append(Item::separator());
        menu.append(link);
    } else if (collectionID == fixedCollectionIDs().at(1)) {
        if (const std::optional<QUrl> site = m_siteURL(); site && site->isValid()) {
            Item link = action(QStringLiteral("View Site"), Item::Command::OpenURL, collectionID);
            link.url = *site;
            menu.append(Item::separator());
            menu.append(link);
        }
    }
    if (fixed)
        return menu;
    if (depth <= CollectionTree::maximumDepth - 1)
        menu.append(action(QStringLiteral("New Sub-collection\u2026"), Item::Command::NewSubcollection,
                           collectionID));
    menu.append(Item::separator());
    menu.append(action(QStringLiteral("Rename\u2026"), Item::Command::RenameCollection, collectionID));
    Item move;
    move.kind = Item::Kind::Submenu;
    move.title = QStringLiteral("Move to");
    move.subject = collectionID;
    move.children = collectionMoveMenu(collectionID);
    menu.append(move);
    menu.append(Item::separator());
    Item remove =
        action(QStringLiteral("Delete Collection\u2026"), Item::Command::DeleteCollection, collectionID);
    remove.destructive = true;
    menu.append(remove);
    return menu;
}

QList<SidebarMenuItem> SidebarModel::collectionMoveMenu(const QString &collectionID) const
{
    QList<Item> menu;
    if (!m_store)
        return menu;
    const CollectionTree tree(m_store->collections());
    const auto parentIt = tree.parents().constFind(collectionID);
    const std::optional<QString> parent =
        parentIt == tree.parents().cend() ? std::nullopt : std::optional<QString>(*parentIt);

    Item top = action(QStringLiteral("Top Level"), Item::Command::MoveCollection, collectionID);
    top.checked = !parent;
    top.animated = true;
    menu.append(top);
    menu.append(Item::separator());
    for (const CollectionTree::Node &node : CollectionTree::flattened(tree.nodes({}).roots)) {
        const QString &target = node.collection.id;
        const bool isParent = parent && *parent == target;
        if (!isParent && !tree.canMove(collectionID, target))
            continue;
        Item entry = action(pathLabel(node), Item::Command::MoveCollection, collectionID);
        entry.target = target;
        entry.checked = isParent;
        entry.animated = true;
        menu.append(entry);
    }
    return menu;
}

QList<SidebarMenuItem> SidebarModel::documentMenu(const QString &documentID) const
{
    QList<Item> menu;
    Item move;
    move.kind = Item::Kind::Submenu;
    move.title = QStringLiteral("Move to");
    move.subject = documentID;
    move.children = documentMoveMenu(documentID);
    menu.append(move);
    menu.append(Item::separator());
    Item remove = action(QStringLiteral("Delete\u2026"), Item::Command::DeleteDocument, documentID);
    remove.destructive = true;
    menu.append(remove);
    return menu;
}

QList<SidebarMenuItem> SidebarModel::documentMoveMenu(const QString &documentID) const
{
    QList<Item> menu;
    if (!m_store)
        return menu;
    const std::optional<Document> doc = m_store->document(documentID);
    const std::optional<QString> current = doc ? doc->collectionId : std::nullopt;
    for (const CollectionTree::Node &node : moveTargets()) {
        Item entry = action(pathLabel(node), Item::Command::MoveDocument, documentID);
        entry.target = node.collection.id;
        entry.checked = current && *current == node.collection.id;
        menu.append(entry);
    }
    if (!m_store->collections().isEmpty())
        menu.append(Item::separator());
    Item none = action(QStringLiteral("No Collection"), Item::Command::MoveDocument, documentID);
    none.enabled = current && m_store->collection(current);
    menu.append(none);
    menu.append(Item::separator());
    menu.append(
        action(QStringLiteral("New Collection\u2026"), Item::Command::NewCollectionForDocument, documentID));
    return menu;
}

void SidebarModel::trigger(const SidebarMenuItem &item)
{
    if (!m_store || item.kind != Item::Kind::Action || !item.enabled)
        return;
    switch (item.command) {
    case Item::Command::None:
        break;
    case Item::Command::NewDocument:
        m_store->createDocument(item.subject, QString());
        break;
    case Item::Command::OpenURL:
        Q_EMIT openURLRequested(item.url);
        break;
    case Item::Command::NewSubcollection:
        beginNewSubcollection(item.subject);
        break;
    case Item::Command::RenameCollection:
        beginRename(item.subject);
        break;
    case Item::Command::MoveCollection:
        if (item.animated)
            Q_EMIT animationRequested(moveAnimationMs);
        moveCollection(item.subject, item.target);
        break;
    case Item::Command::DeleteCollection:
        beginDeleteCollection(item.subject);
        break;
    case Item::Command::MoveDocument:
        moveDocument(item.subject, item.target);
        break;
    case Item::Command::NewCollectionForDocument:
        beginNewCollectionForDocument(item.subject);
        break;
    case Item::Command::DeleteDocument:
        beginDeleteDocument(item.subject);
        break;
    }
}

// --- Dialog state -----------------------------------------------------------------------

void SidebarModel::beginNewCollection()
{
    openNewCollection(std::nullopt, std::nullopt);
}

void SidebarModel::beginNewSubcollection(const QString &parentID)
{
    openNewCollection(std::nullopt, parentID);
}

void SidebarModel::beginNewCollectionForDocument(const QString &documentID)
{
    openNewCollection(documentID, std::nullopt);
}

void SidebarModel::openNewCollection(const std::optional<QString> &moveDocID,
                                     const std::optional<QString> &parentID)
{
    m_newCollectionName.clear();
    m_pendingMoveDocID = moveDocID;
    m_pendingParentID = parentID;
    m_creatingCollection = true;
    // Told even when the prompt is already up, so that it shows the cleared name.
    Q_EMIT creatingCollectionChanged(true);
}

void SidebarModel::createCollection()
{
    if (m_store) {
        const std::optional<Collection> created =
            m_store->createCollection(m_newCollectionName, m_pendingParentID);
        if (created && m_pendingMoveDocID)
            m_store->moveDocument(*m_pendingMoveDocID, created->id);
        if (m_pendingParentID)
            expand({*m_pendingParentID});
    }
    m_pendingMoveDocID.reset();
    m_pendingParentID.reset();
    dismissNewCollection();
}

void SidebarModel::cancelNewCollection()
{
    m_pendingMoveDocID.reset();
    m_pendingParentID.reset();
    dismissNewCollection();
}

void SidebarModel::dismissNewCollection()
{
    if (!m_creatingCollection)
        return;
    m_creatingCollection = false;
    Q_EMIT creatingCollectionChanged(false);
}

void SidebarModel::beginRename(const QString &collectionID)
{
    const std::optional<Collection> collection = m_store ? m_store->collection(collectionID) : std::nullopt;
    if (!collection)
        return;
    m_renameText = collection->name;
    m_renaming = collection;
    Q_EMIT renamingChanged();
}

void SidebarModel::confirmRename()
{
    if (m_renaming && m_store)
        m_store->renameCollection(m_renaming->id, m_renameText);
    dismissRename();
}

void SidebarModel::dismissRename()
{
    if (!m_renaming)
        return;
    m_renaming.reset();
    Q_EMIT renamingChanged();
}

void SidebarModel::beginDeleteCollection(const QString &collectionID)
{
    const std::optional<Collection> collection = m_store ? m_store->collection(collectionID) : std::nullopt;
    if (!collection)
        return;
    m_collectionToDelete = collection;
    Q_EMIT collectionToDeleteChanged();
}

void SidebarModel::confirmDeleteCollection()
{
    if (m_collectionToDelete && m_store)
        m_store->deleteCollection(m_collectionToDelete->id);
    dismissDeleteCollection();
}

void SidebarModel::dismissDeleteCollection()
{
    if (!m_collectionToDelete)
        return;
    m_collectionToDelete.reset();
    Q_EMIT collectionToDeleteChanged();
}

QString SidebarModel::deleteCollectionTitle() const
{
    return SidebarTexts::deleteTitle(m_collectionToDelete ? m_collectionToDelete->name : QString());
}

void SidebarModel::beginDeleteDocument(const QString &documentID)
{
    const std::optional<Document> doc = m_store ? m_store->document(documentID) : std::nullopt;
    if (!doc)
        return;
    m_documentToDelete = doc;
    Q_EMIT documentToDeleteChanged();
}

void SidebarModel::confirmDeleteDocument()
{
    if (m_documentToDelete && m_store)
        m_store->deleteDocument(m_documentToDelete->id);
    dismissDeleteDocument();
}

void SidebarModel::dismissDeleteDocument()
{
    if (!m_documentToDelete)
        return;
    m_documentToDelete.reset();
    Q_EMIT documentToDeleteChanged();
}

QString SidebarModel::deleteDocumentTitle() const
{
    return SidebarTexts::deleteTitle(m_documentToDelete ? m_documentToDelete->displayTitle() : QString());
}
