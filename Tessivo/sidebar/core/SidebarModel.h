#pragma once

#include "app/core/AppSettings.h"
#include "sidebar/core/SidebarMenu.h"
#include "store/Collection.h"
#include "store/CollectionTree.h"
#include "store/Document.h"
#include "store/DocumentStore.h"

#include <QAbstractListModel>
#include <QDateTime>
#include <QHash>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class QMimeData;
class QSettings;

// Everything the sidebar shows and does, without a widget: the flat list of
// rows the view draws (collection sections nested to the tree's depth, the
// ungrouped section, the top-level drop strip), the persisted collapse state,
// revealing the active document, the drop rules, the menus as data and the
// state of the sidebar's dialogs. Every change to documents or collections
// is one call into the store.
//
// The rows follow the store: a change of the collections, of the list of
// documents or of the search text rebuilds them; an edit of one document in
// place (a keystroke) only refreshes that document's row.
class SidebarModel final : public QAbstractListModel
{
    Q_OBJECT

public:
    enum class RowKind {
        CollectionHeader,
        Document,
        // "No documents yet" inside an expanded, empty collection.
        Placeholder,
        // The gap after each top-level collection section.
        SectionSpacer,
        // The label above the ungrouped documents.
        GroupLabel,
        TopLevelStrip,
    };
    Q_ENUM(RowKind)

    enum Role {
        KindRole = Qt::UserRole + 1,
        // Number of collection bodies the row sits in (0 at the top).
        IndentRole,
        CollectionIDRole,
        DocumentIDRole,
        // Header: collection name; document: display title; label: title.
        TitleRole,
        // Header: total documents of the subtree; label: unfiled documents.
        CountRole,
        CollapsedRole,
        FixedRole,
        // Header: the collection's depth (1 for a top-level collection).
        DepthRole,
        // Document: the store's excerpt cut to 60 characters.
        ExcerptRole,
        UpdatedAtRole,
        // Document: the relative time of its last change, as of now.
        TimeTextRole,
        SelectedRole,
        DimmedRole,
        // Header: the row just past its section (header, children, documents).
        SectionEndRole,
    };

    // Where a drop lands: the innermost section under the pointer.
    struct DropTarget
    {
        enum class Kind { None, CollectionSection, FixedCollection, Ungrouped, TopLevelStrip };
        Kind kind = Kind::None;
        QString collectionID;
        friend bool operator==(const DropTarget &, const DropTarget &) = default;
    };

    // How long the rows take to settle after a move, and after a collapse.
    static constexpr int moveAnimationMs = 200;
    static constexpr int collapseAnimationMs = 180;

    // Longest excerpt shown in a row, in user-perceived characters.
    static constexpr int excerptLength = 60;

    // `store` must outlive the model. The collapse state lives in `settings`
    // (the application's default settings when null; not owned).
    explicit SidebarModel(DocumentStore *store, QSettings *settings = nullptr, QObject *parent = nullptr);
    ~SidebarModel() override;

    DocumentStore *store() const { return m_store; }

    // --- Rows ---------------------------------------------------------------

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QHash<int, QByteArray> roleNames() const override;
    Qt::DropActions supportedDragActions() const override { return Qt::MoveAction; }
    Qt::DropActions supportedDropActions() const override { return Qt::MoveAction; }
    QStringList mimeTypes() const override;
    // A document row gives a document reference, a header of a collection
    // that is not fixed a collection reference; nothing else can be dragged.
    QMimeData *mimeData(const QModelIndexList &indexes) const override;

    RowKind kind(int row) const;
    // Row of a document's row, or of a collection's header; -1 when hidden.
    int rowOfDocument(const QString &documentID) const;
    int rowOfCollection(const QString &collectionID) const;
    // Whether the ungrouped section shows: no collections at all, or at
    // least one matching document without a live collection.
    bool showsUngrouped() const { return m_showsUngrouped; }
    bool hasCollections() const;
    // Rebuilds every row from the store now.
    void rebuild();
    // For tests and benchmarks: how many times the rows were rebuilt.
    quint64 rebuildCount() const { return m_rebuildCount; }

    // The clock the time texts are measured against (tests fix it).
    void setClockForTesting(std::function<QDateTime()> clock);

    // --- Collapse state ---------------------------------------------------------

    QSet<QString> collapsed() const;
    void setCollapsed(const QSet<QString> &ids);
    bool isCollapsed(const QString &collectionID) const;
    void toggleCollapsed(const QString &collectionID);
    // Opens the given collections; writes nothing when none was collapsed.
    void expand(const QStringList &collectionIDs);
    // Opens the collection of the document and all its ancestors.
    void revealActiveDocument(const QString &documentID);

    // --- Moves and drops ------------------------------------------------------------

    // Every live collection as a node, in pre-order (the "Move to" targets).
    QList<CollectionTree::Node> moveTargets() const;
    void moveDocument(const QString &documentID, const std::optional<QString> &collectionID);
    // Opens the new parent when the store made the move.
    bool moveCollection(const QString &collectionID, const std::optional<QString> &parentID);
    // Whether a collection section may take the dragged collection (none: a
    // document is being dragged, always true).
    bool canTake(const std::optional<QString> &draggedCollectionID, const QString &targetID) const;

    // The collection of the drag under way; none while a document is dragged.
    std::optional<QString> draggingCollectionID() const { return m_draggingCollectionID; }
    // A drag started from `row`: a collection header sets the dragged
    // collection, a document row clears it.
    void beginDrag(int row);

    DropTarget dropTarget(int row) const;
    // Whether the target takes any item of the payload (the formats it
    // accepts, and for collections the tree's rules).
    bool acceptsDrop(const DropTarget &target, const QMimeData *mime) const;
    // Whether the target lights up while hovered.
    bool highlightsDrop(const DropTarget &target) const;
    // Moves every delivered item the target takes; true when any was taken.
    bool drop(const DropTarget &target, const QMimeData *mime);

    // --- Menus -------------------------------------------------------------------

    // Where "View Blog" and "View Site" point.
    void setServiceBaseURL(const QUrl &url) { m_serviceBaseURL = url; }
    QUrl serviceBaseURL() const { return m_serviceBaseURL; }
    void setSiteURLProvider(std::function<std::optional<QUrl>()> provider);

    QList<SidebarMenuItem> collectionMenu(const QString &collectionID) const;
    QList<SidebarMenuItem> collectionMoveMenu(const QString &collectionID) const;
    QList<SidebarMenuItem> documentMenu(const QString &documentID) const;
    QList<SidebarMenuItem> documentMoveMenu(const QString &documentID) const;
    void trigger(const SidebarMenuItem &item);

    // --- Dialog state -----------------------------------------------------------------

    bool creatingCollection() const { return m_creatingCollection; }
    QString newCollectionName() const { return m_newCollectionName; }
    void setNewCollectionName(const QString &name) { m_newCollectionName = name; }
    std::optional<QString> pendingMoveDocID() const { return m_pendingMoveDocID; }
    std::optional<QString> pendingParentID() const { return m_pendingParentID; }
    // Opens the New Collection prompt for a top-level collection.
    void beginNewCollection();
    void beginNewSubcollection(const QString &parentID);
    void beginNewCollectionForDocument(const QString &documentID);
    // The prompt's Create: makes the collection, moves the pending document
    // into it, opens the pending parent.
    void createCollection();
    void cancelNewCollection();
    // The prompt closed, by any button or dismissal.
    void dismissNewCollection();

    std::optional<Collection> renaming() const { return m_renaming; }
    QString renameText() const { return m_renameText; }
    void setRenameText(const QString &text) { m_renameText = text; }
    void beginRename(const QString &collectionID);
    void confirmRename();
    void dismissRename();

    std::optional<Collection> collectionToDelete() const { return m_collectionToDelete; }
    void beginDeleteCollection(const QString &collectionID);
    void confirmDeleteCollection();
    void dismissDeleteCollection();
    QString deleteCollectionTitle() const;

    std::optional<Document> documentToDelete() const { return m_documentToDelete; }
    void beginDeleteDocument(const QString &documentID);
    void confirmDeleteDocument();
    void dismissDeleteDocument();
    QString deleteDocumentTitle() const;

Q_SIGNALS:
    void collapsedChanged();
    void creatingCollectionChanged(bool creating);
    void renamingChanged();
    void collectionToDeleteChanged();
    void documentToDeleteChanged();
    void openURLRequested(const QUrl &url);
    void rowsRebuilt();
    // Sent just before a change the user made by collapsing, dropping or
    // moving a collection from its menu, so that the view can ease the rows
    // into their new places over `durationMs`.
    void animationRequested(int durationMs);

private:
    struct Row
    {
        RowKind kind = RowKind::Document;
        int indent = 0;
        QString collectionID;
        QString documentID;
        QString title;
        int count = 0;
        int depth = 0;
        bool collapsed = false;
        bool fixed = false;
        bool dimmed = false;
        int sectionEnd = 0;
        DropTarget target;
        // The cut excerpt and the updatedAt it was cut for.
        mutable qint64 excerptFor = -1;
        mutable QString excerpt;
    };

    void appendSection(const CollectionTree::Node &node, int indent);
    void appendDocumentRow(const Document &document, int indent, const DropTarget &target);
    void onDocumentsChanged(const QString &changedDocumentID);
    void onActiveDocumentChanged();
    const Document *liveDocument(const QString &id) const;
    void writeCollapsed(const QSet<QString> &ids);
    void openNewCollection(const std::optional<QString> &moveDocID, const std::optional<QString> &parentID);

    QPointer<DocumentStore> m_store;
    AppSettings m_settings;
    QSet<QString> m_collapsed;

    QList<Row> m_rows;
    QHash<QString, int> m_documentRows;
    QHash<QString, int> m_collectionRows;
    // Every listed document (shown or inside a collapsed collection) to the
    // collection it is shown under ("" when ungrouped), so that an edit in
    // place can tell whether it moved.
    QHash<QString, QString> m_documentSections;
    QSet<QString> m_liveCollections;
    bool m_showsUngrouped = true;
    QString m_selectedDocumentID;
    quint64 m_rebuildCount = 0;
    std::function<QDateTime()> m_clock;

    std::optional<QString> m_draggingCollectionID;

    QUrl m_serviceBaseURL;
    std::function<std::optional<QUrl>()> m_siteURL;

    bool m_creatingCollection = false;
    QString m_newCollectionName;
    std::optional<QString> m_pendingMoveDocID;
    std::optional<QString> m_pendingParentID;
    std::optional<Collection> m_renaming;
    QString m_renameText;
    std::optional<Collection> m_collectionToDelete;
    std::optional<Document> m_documentToDelete;
};
