#pragma once

#include "sidebar/core/SidebarModel.h"

#include <QListView>
#include <QPointer>
#include <QStyledItemDelegate>

#include <functional>

class QDrag;
class QMenu;
class QVariantAnimation;

// The scrolling tree of the sidebar: collection sections with their
// documents, the ungrouped section and the drop strip, drawn from a
// SidebarModel. Clicking a header opens or closes it, clicking a document
// makes it active; headers show their options button while hovered; rows are
// dragged onto sections, which light up while they would take the drop.
class SidebarListView final : public QListView
{
    Q_OBJECT

public:
    // Runs a drag; by default a QDrag with the given payload and preview.
    using DragRunner = std::function<void(QMimeData *mime, const QPixmap &preview)>;
    // Shows a menu at a global position; by default QMenu::exec.
    using MenuPresenter = std::function<void(QMenu *menu, const QPoint &globalPos)>;

    explicit SidebarListView(SidebarModel *model, QWidget *parent = nullptr);

    SidebarModel *sidebarModel() const { return m_model; }

    int hoveredRow() const { return m_hoverRow; }
    // The section lit as a drop target, or none.
    SidebarModel::DropTarget highlightedTarget() const { return m_highlight; }
    // Whether the pointer is over a drop target that takes the drag.
    bool isDropTargeted() const { return m_targeted.kind != SidebarModel::DropTarget::Kind::None; }
    SidebarModel::DropTarget targetedDrop() const { return m_targeted; }

    // Where a header's options button sits, in viewport coordinates.
    QRect optionsButtonRect(int row) const;
    // The rectangle of a whole section (header through its last row), in
    // viewport coordinates; empty when none of it is laid out.
    QRect sectionRect(const SidebarModel::DropTarget &target) const;

    // Menus built from the model's data: the collection menu of a header and
    // the document menu of a document row (owned by the caller).
    QMenu *makeCollectionMenu(const QString &collectionID, QWidget *parent);
    QMenu *makeDocumentMenu(const QString &documentID, QWidget *parent);

    void setDragRunner(DragRunner runner);
    void setMenuPresenter(MenuPresenter presenter);

    // The image shown under the pointer while dragging a row.
    QPixmap dragPreview(const QString &title) const;

protected:
    void dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                     const QList<int> &roles = QList<int>()) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void setHoverRow(int row);
    void revealActiveDocument();
    void startRowDrag(int row);
    void updateDrop(const QPoint &pos, const QMimeData *mime, QDropEvent *event);
    void setTargeted(const SidebarModel::DropTarget &targeted, const SidebarModel::DropTarget &highlight);
    SidebarModel::DropTarget targetAt(const QPoint &pos) const;
    void showMenu(QMenu *menu, const QPoint &globalPos);
    void armTransition(int durationMs);
    void runTransition();
    void fillMenu(QMenu *menu, const QList<SidebarMenuItem> &items);

    QPointer<SidebarModel> m_model;
    int m_hoverRow = -1;
    int m_pressRow = -1;
    QPoint m_pressPos;
    bool m_pressOnOptions = false;
    SidebarModel::DropTarget m_targeted;
    SidebarModel::DropTarget m_highlight;
    // The target whose highlight is fading in or out, and its strength.
    SidebarModel::DropTarget m_shownHighlight;
    qreal m_highlightStrength = 0;
    QVariantAnimation *m_highlightAnimation;
    DragRunner m_dragRunner;
    MenuPresenter m_menuPresenter;
    int m_scrollBeforeReset = 0;
    // The active document waits to be scrolled into view.
    bool m_revealPending = true;
    // The rows as they looked before an animated change, faded out over the
    // new rows once the change has landed.
    QPixmap m_before;
    int m_transitionMs = 0;
};

// Draws the sidebar's rows: collection headers, document rows, the empty
// placeholder, the group label and the drop strip.
class SidebarRowDelegate final : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit SidebarRowDelegate(SidebarListView *view);

    static constexpr int horizontalPadding = 8;
    static constexpr int indentStep = 18;
    static constexpr int headerHeight = 28;
    static constexpr int spacerHeight = 14;
    static constexpr int stripHeight = 32;
    static int documentRowHeight();

    // The row's content rectangle inside the list's padding and indent.
    static QRect contentRect(const QRect &rowRect, int indent);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    void paintHeader(QPainter *p, const QRect &rect, const QModelIndex &index, bool hovered) const;
    void paintDocument(QPainter *p, const QRect &rect, const QModelIndex &index, bool hovered) const;

    SidebarListView *m_view;
};
