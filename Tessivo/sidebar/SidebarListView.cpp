#include "sidebar/SidebarListView.h"

#include "sidebar/core/SidebarDrag.h"
#include "sidebar/core/SidebarTexts.h"
#include "store/DocumentStore.h"
#include "widgets/Icon.h"
#include "widgets/ThinScroller.h"
#include "widgets/WidgetStyle.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QDrag>
#include <QGraphicsOpacityEffect>
#include <QHelpEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPropertyAnimation>
#include <QScrollBar>
#include <QTimer>
#include <QToolTip>
#include <QVariantAnimation>

using RowKind = SidebarModel::RowKind;
using DropTarget = SidebarModel::DropTarget;

namespace {

constexpr int optionsButtonSize = 24;
constexpr int optionsButtonTrailing = 4;
constexpr int bottomPadding = 12;
constexpr int highlightMs = 120;

IconName collectionIcon(const QString &id)
{
    if (id == QLatin1String("site-blog"))
        return IconName::quill;
    if (id == QLatin1String("personal-site"))
        return IconName::globe;
    return IconName::folder;
}

RowKind rowKind(const QModelIndex &index)
{
    return index.data(SidebarModel::KindRole).value<RowKind>();
}

} // namespace

// --- Delegate -------------------------------------------------------------------------

SidebarRowDelegate::SidebarRowDelegate(SidebarListView *view) : QStyledItemDelegate(view), m_view(view) {}

int SidebarRowDelegate::documentRowHeight()
{
    static const int height = 7 + QFontMetrics(WidgetStyle::font(14, QFont::Medium)).height() + 3 +
                              QFontMetrics(WidgetStyle::font(12)).height() + 7;
    return height;
}

QRect SidebarRowDelegate::contentRect(const QRect &rowRect, int indent)
{
    return rowRect.adjusted(horizontalPadding + indent * indentStep, 0, -horizontalPadding, 0);
}

QSize SidebarRowDelegate::sizeHint(const QStyleOptionViewItem &, const QModelIndex &index) const
{
    const int width = m_view->viewport()->width();
    switch (rowKind(index)) {
    case RowKind::Document:
        return {width, documentRowHeight()};
    case RowKind::SectionSpacer:
        return {width, spacerHeight};
    case RowKind::TopLevelStrip:
        return {width, stripHeight + bottomPadding};
    case RowKind::CollectionHeader:
    case RowKind::Placeholder:
    case RowKind::GroupLabel:
        break;
    }
    return {width, headerHeight};
}

void SidebarRowDelegate::paint(QPainter *p, const QStyleOptionViewItem &option,
                               const QModelIndex &index) const
{
    p->save();
    p->setRenderHint(QPainter::Antialiasing);
    const QPalette &palette = m_view->palette();
    const bool hovered = index.row() == m_view->hoveredRow();
    const QRect content = contentRect(option.rect, index.data(SidebarModel::IndentRole).toInt());
    switch (rowKind(index)) {
    case RowKind::CollectionHeader:
        paintHeader(p, content, index, hovered);
        break;
    case RowKind::Document:
        paintDocument(p, content, index, hovered);
        break;
    case RowKind::Placeholder:
        p->setFont(WidgetStyle::font(13));
        p->setPen(WidgetStyle::tertiary(palette));
        p->drawText(content.adjusted(10, 0, -10, 0), Qt::AlignVCenter | Qt::AlignLeft,
                    index.data(SidebarModel::TitleRole).toString());
        break;
    case RowKind::GroupLabel: {
        const QRect inner = content.adjusted(10, 0, -10, 0);
        p->setFont(WidgetStyle::font(13, QFont::Medium));
        p->setPen(index.data(SidebarModel::DimmedRole).toBool() ? WidgetStyle::tertiary(palette)
                                                                : WidgetStyle::secondary(palette));
        const QString count = QString::number(index.data(SidebarModel::CountRole).toInt());
        const QFont countFont = WidgetStyle::monospacedDigitsFont(13, QFont::Medium);
        const int countWidth = QFontMetrics(countFont).horizontalAdvance(count);
        p->setFont(countFont);
        p->drawText(inner, Qt::AlignVCenter | Qt::AlignRight, count);
        p->setFont(WidgetStyle::font(13, QFont::Medium));
        p->drawText(inner.adjusted(0, 0, -countWidth - 6, 0), Qt::AlignVCenter | Qt::AlignLeft,
                    p->fontMetrics().elidedText(index.data(SidebarModel::TitleRole).toString(),
                                                Qt::ElideRight, inner.width() - countWidth - 6));
        break;
    }
    case RowKind::TopLevelStrip:
        if (m_view->targetedDrop().kind == DropTarget::Kind::TopLevelStrip) {
            p->setFont(WidgetStyle::font(12));
            p->setPen(WidgetStyle::secondary(palette));
            p->drawText(QRect(content.left(), content.top(), content.width(), stripHeight), Qt::AlignCenter,
                        index.data(SidebarModel::TitleRole).toString());
        }
        break;
    case RowKind::SectionSpacer:
        break;
    }
    p->restore();
}

void SidebarRowDelegate::paintHeader(QPainter *p, const QRect &rect, const QModelIndex &index,
                                     bool hovered) const
{
    const QPalette &palette = m_view->palette();
    const qreal dpr = m_view->devicePixelRatioF();
    if (hovered)
        p->fillPath(WidgetStyle::roundedRect(rect, 7), WidgetStyle::primary(palette, 0.05));

    const QColor secondary = WidgetStyle::secondary(palette);
    const bool collapsed = index.data(SidebarModel::CollapsedRole).toBool();
    const bool fixed = index.data(SidebarModel::FixedRole).toBool();
    const int cy = rect.center().y();
    int x = rect.left() + 10;

    // Chevron: pointing right when collapsed, down when open.
    p->save();
    p->translate(x + 6, cy + 0.5);
    if (!collapsed)
        p->rotate(90);
    p->drawPixmap(QPointF(-6, -6), Icon::pixmap(IconName::chevronRight, 12, secondary, dpr));
    p->restore();
    x += 12 + 6;

    const QString id = index.data(SidebarModel::CollectionIDRole).toString();
    const QColor iconColor = fixed ? WidgetStyle::accent(palette) : secondary;
    p->drawPixmap(QPointF(x + 1, cy - 6.5), Icon::pixmap(collectionIcon(id), 14, iconColor, dpr));
    x += 16 + 6;

    const QFont font = WidgetStyle::monospacedDigitsFont(13, QFont::Medium);
    p->setFont(font);
    const QFontMetrics metrics(font);
    const QString count = QString::number(index.data(SidebarModel::CountRole).toInt());
    const int right = rect.right() - 10;
    const int countWidth = metrics.horizontalAdvance(count);
    p->setPen(secondary);
    if (!hovered)
        p->drawText(QRect(right - countWidth, rect.top(), countWidth + 1, rect.height()), Qt::AlignVCenter,
                    count);
    const int nameRight =
        hovered ? rect.right() - optionsButtonTrailing - optionsButtonSize - 6 : right - countWidth - 6;
    const QRect nameRect(x, rect.top(), std::max(0, nameRight - x), rect.height());
    p->drawText(
        nameRect, Qt::AlignVCenter | Qt::AlignLeft,
        metrics.elidedText(index.data(SidebarModel::TitleRole).toString(), Qt::ElideRight, nameRect.width()));

    if (hovered) {
        const QRect button = m_view->optionsButtonRect(index.row());
        p->drawPixmap(QPointF(button.center().x() - 6.5, button.center().y() - 6.5),
                      Icon::pixmap(IconName::moreHorizontal, 14, secondary, dpr));
    }
}

void SidebarRowDelegate::paintDocument(QPainter *p, const QRect &rect, const QModelIndex &index,
                                       bool hovered) const
{
    const QPalette &palette = m_view->palette();
    const bool selected = index.data(SidebarModel::SelectedRole).toBool();
    if (selected || hovered)
        p->fillPath(WidgetStyle::roundedRect(rect, 7), WidgetStyle::primary(palette, selected ? 0.08 : 0.04));

    const QRect inner = rect.adjusted(10, 7, -10, -7);
    const QFont titleFont = WidgetStyle::font(14, QFont::Medium);
    const QFontMetrics titleMetrics(titleFont);
    p->setFont(titleFont);
    p->setPen(palette.color(QPalette::WindowText));
    const QRect titleRect(inner.left(), inner.top(), inner.width(), titleMetrics.height());
    p->drawText(titleRect, Qt::AlignVCenter | Qt::AlignLeft,
                titleMetrics.elidedText(index.data(SidebarModel::TitleRole).toString(), Qt::ElideRight,
                                        inner.width()));

    const QFont metaFont = WidgetStyle::monospacedDigitsFont(12);
    const QFontMetrics metaMetrics(metaFont);
    p->setFont(metaFont);
    p->setPen(WidgetStyle::secondary(palette));
    const QRect meta(inner.left(), titleRect.bottom() + 1 + 3, inner.width(), metaMetrics.height());
    const QString time = index.data(SidebarModel::TimeTextRole).toString();
    p->drawText(meta, Qt::AlignVCenter | Qt::AlignLeft, time);
    const QString excerpt = index.data(SidebarModel::ExcerptRole).toString();
    if (excerpt.isEmpty())
        return;
    int x = meta.left() + metaMetrics.horizontalAdvance(time) + 5;
    const QString dot = QStringLiteral("\u00B7");
    p->drawText(QRect(x, meta.top(), meta.right() - x, meta.height()), Qt::AlignVCenter | Qt::AlignLeft, dot);
    x += metaMetrics.horizontalAdvance(dot) + 5;
    if (x < meta.right()) {
        p->drawText(QRect(x, meta.top(), meta.right() - x + 1, meta.height()),
                    Qt::AlignVCenter | Qt::AlignLeft,
                    metaMetrics.elidedText(excerpt, Qt::ElideRight, meta.right() - x + 1));
    }
}

// --- View ---------------------------------------------------------------------------------

SidebarListView::SidebarListView(SidebarModel *model, QWidget *parent)
    : QListView(parent), m_model(model), m_highlightAnimation(new QVariantAnimation(this))
{
    setModel(model);
    setItemDelegate(new SidebarRowDelegate(this));
    setFrameShape(QFrame::NoFrame);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);
    setUniformItemSizes(false);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    verticalScrollBar()->setSingleStep(24);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBar(new ThinScroller);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDropIndicatorShown(false);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);

    m_highlightAnimation->setDuration(highlightMs);
    m_highlightAnimation->setEasingCurve(QEasingCurve::OutCubic);
    connect(m_highlightAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_highlightStrength = value.toReal();
        viewport()->update();
    });

    // Keep the scroll position when the rows are rebuilt under it.
    connect(model, &QAbstractItemModel::modelAboutToBeReset, this,
            [this] { m_scrollBeforeReset = verticalScrollBar()->value(); });
    connect(model, &QAbstractItemModel::modelReset, this, [this] {
        executeDelayedItemsLayout();
        verticalScrollBar()->setValue(m_scrollBeforeReset);
        // Rows have moved under the pointer: hover what is there now.
        m_pressRow = -1;
        const QPoint pointer = viewport()->mapFromGlobal(QCursor::pos());
        const QModelIndex under = viewport()->underMouse() ? indexAt(pointer) : QModelIndex();
        m_hoverRow = under.isValid() ? under.row() : -1;
        runTransition();
        if (m_revealPending)
            QTimer::singleShot(0, this, &SidebarListView::revealActiveDocument);
    });
    connect(model, &SidebarModel::animationRequested, this, &SidebarListView::armTransition);
    // Revealing the active document scrolls it into view: at start-up, after
    // a jump from the palette, after a new document in a long list.
    connect(model->store(), &DocumentStore::activeDocumentIDChanged, this, [this] {
        m_revealPending = true;
        QTimer::singleShot(0, this, &SidebarListView::revealActiveDocument);
    });

    m_dragRunner = [this](QMimeData *mime, const QPixmap &preview) {
        auto *drag = new QDrag(this);
        drag->setMimeData(mime);
        drag->setPixmap(preview);
        drag->setHotSpot(QPoint(int(preview.width() / preview.devicePixelRatio() / 2),
                                int(preview.height() / preview.devicePixelRatio() / 2)));
        drag->exec(Qt::MoveAction);
        setTargeted({}, {});
    };
    m_menuPresenter = [](QMenu *menu, const QPoint &globalPos) { menu->exec(globalPos); };
}

// Runs after the model has rebuilt its rows for the change; stays pending
// while the row or the view's height is not there yet (loading, first show).
void SidebarListView::revealActiveDocument()
{
    if (!m_revealPending)
        return;
    const QString id = m_model->store()->activeDocumentID();
    if (id.isEmpty()) {
        m_revealPending = false;
        return;
    }
    const int row = m_model->rowOfDocument(id);
    if (row < 0 || viewport()->height() <= 0)
        return;
    executeDelayedItemsLayout();
    scrollTo(m_model->index(row), QAbstractItemView::EnsureVisible);
    m_revealPending = false;
}

void SidebarListView::resizeEvent(QResizeEvent *event)
{
    QListView::resizeEvent(event);
    if (m_revealPending)
        QTimer::singleShot(0, this, &SidebarListView::revealActiveDocument);
}

void SidebarListView::armTransition(int durationMs)
{
    if (!isVisible())
        return;
    m_before = viewport()->grab();
    m_transitionMs = durationMs;
    // A change the store refused lands nothing: forget the picture.
    QTimer::singleShot(0, this, [this] { m_before = QPixmap(); });
}

void SidebarListView::runTransition()
{
    if (m_before.isNull())
        return;
    auto *overlay = new QLabel(viewport());
    overlay->setAttribute(Qt::WA_TransparentForMouseEvents);
    overlay->setPixmap(m_before);
    overlay->setGeometry(viewport()->rect());
    m_before = QPixmap();
    auto *effect = new QGraphicsOpacityEffect(overlay);
    overlay->setGraphicsEffect(effect);
    overlay->show();
    auto *fade = new QPropertyAnimation(effect, "opacity", overlay);
    fade->setDuration(m_transitionMs);
    fade->setStartValue(1.0);
    fade->setEndValue(0.0);
    fade->setEasingCurve(QEasingCurve::OutCubic);
    connect(fade, &QPropertyAnimation::finished, overlay, &QObject::deleteLater);
    fade->start();
}

void SidebarListView::setDragRunner(DragRunner runner)
{
    if (runner)
        m_dragRunner = std::move(runner);
}

void SidebarListView::setMenuPresenter(MenuPresenter presenter)
{
    if (presenter)
        m_menuPresenter = std::move(presenter);
}

QRect SidebarListView::optionsButtonRect(int row) const
{
    const QModelIndex index = m_model->index(row);
    const QRect content =
        SidebarRowDelegate::contentRect(visualRect(index), index.data(SidebarModel::IndentRole).toInt());
    return QRect(content.right() - optionsButtonTrailing - optionsButtonSize + 1,
                 content.center().y() - optionsButtonSize / 2 + 1, optionsButtonSize, optionsButtonSize);
}

QRect SidebarListView::sectionRect(const DropTarget &target) const
{
    int first = -1;
    int last = -1;
    switch (target.kind) {
    case DropTarget::Kind::None:
        return {};
    case DropTarget::Kind::CollectionSection:
    case DropTarget::Kind::FixedCollection:
        first = m_model->rowOfCollection(target.collectionID);
        if (first >= 0)
            last = m_model->index(first).data(SidebarModel::SectionEndRole).toInt() - 1;
        break;
    case DropTarget::Kind::Ungrouped:
        last = m_model->rowCount() - 2;
        first = last;
        while (first - 1 >= 0 && m_model->dropTarget(first - 1).kind == DropTarget::Kind::Ungrouped)
            --first;
        if (last < 0 || m_model->dropTarget(last).kind != DropTarget::Kind::Ungrouped)
            return {};
        break;
    case DropTarget::Kind::TopLevelStrip: {
        const QRect strip = visualRect(m_model->index(m_model->rowCount() - 1));
        return SidebarRowDelegate::contentRect(strip, 0).adjusted(0, 0, 0, -bottomPadding);
    }
    }
    if (first < 0 || last < first)
        return {};
    const QModelIndex head = m_model->index(first);
    const QRect top = visualRect(head);
    const QRect bottom = visualRect(m_model->index(last));
    return SidebarRowDelegate::contentRect(top.united(bottom), head.data(SidebarModel::IndentRole).toInt());
}

QPixmap SidebarListView::dragPreview(const QString &title) const
{
    const QFont font = WidgetStyle::font(14);
    const QFontMetrics metrics(font);
    const QString text = metrics.elidedText(title, Qt::ElideRight, 240);
    const QSize size(metrics.horizontalAdvance(text) + 20, metrics.height() + 10);
    const qreal dpr = devicePixelRatioF();
    QPixmap pixmap(size * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QColor material = palette().color(QPalette::Window);
    material.setAlphaF(0.92f);
    p.fillPath(WidgetStyle::roundedRect(QRectF(QPointF(0, 0), QSizeF(size)), 7), material);
    p.setPen(WidgetStyle::primary(palette(), 0.12));
    p.drawPath(WidgetStyle::roundedRect(QRectF(0.5, 0.5, size.width() - 1, size.height() - 1), 6.5));
    p.setFont(font);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(QRect(QPoint(10, 5), QSize(size.width() - 20, metrics.height())), Qt::AlignVCenter, text);
    return pixmap;
}

void SidebarListView::dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                                  const QList<int> &roles)
{
    // A row's height follows from its kind alone, which a change in place
    // never alters: repaint the row without laying out every row again
    // (QListView would, once per keystroke in the editor).
    QAbstractItemView::dataChanged(topLeft, bottomRight, roles);
}

void SidebarListView::paintEvent(QPaintEvent *event)
{
    const QRect highlight = m_highlightStrength > 0 ? sectionRect(m_shownHighlight) : QRect();
    const QColor accent = WidgetStyle::accent(palette());
    if (!highlight.isEmpty()) {
        QPainter p(viewport());
        p.setRenderHint(QPainter::Antialiasing);
        QColor fill = accent;
        fill.setAlphaF(float(0.18 * m_highlightStrength));
        p.fillPath(WidgetStyle::roundedRect(highlight, 7), fill);
    }
    QListView::paintEvent(event);
    if (!highlight.isEmpty()) {
        QPainter p(viewport());
        p.setRenderHint(QPainter::Antialiasing);
        QColor line = accent;
        line.setAlphaF(float(0.6 * m_highlightStrength));
        p.setPen(QPen(line, 1));
        p.drawPath(WidgetStyle::roundedRect(QRectF(highlight).adjusted(0.5, 0.5, -0.5, -0.5), 6.5));
    }
}

void SidebarListView::setHoverRow(int row)
{
    if (row == m_hoverRow)
        return;
    const int previous = m_hoverRow;
    m_hoverRow = row;
    for (int r : {previous, row}) {
        if (r >= 0 && r < m_model->rowCount())
            viewport()->update(visualRect(m_model->index(r)));
    }
}

void SidebarListView::mousePressEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    const QModelIndex index = indexAt(pos);
    setHoverRow(index.isValid() ? index.row() : -1);
    if (event->button() != Qt::LeftButton || !index.isValid()) {
        m_pressRow = -1;
        return;
    }
    m_pressRow = index.row();
    m_pressPos = pos;
    if (rowKind(index) == RowKind::CollectionHeader && optionsButtonRect(index.row()).contains(pos)) {
        m_pressRow = -1;
        const QRect button = optionsButtonRect(index.row());
        showMenu(makeCollectionMenu(index.data(SidebarModel::CollectionIDRole).toString(), this),
                 viewport()->mapToGlobal(button.bottomLeft() + QPoint(0, 2)));
    }
}

void SidebarListView::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    if ((event->buttons() & Qt::LeftButton) && m_pressRow >= 0 &&
        (pos - m_pressPos).manhattanLength() >= QApplication::startDragDistance()) {
        const int row = m_pressRow;
        m_pressRow = -1;
        if (m_model->flags(m_model->index(row)) & Qt::ItemIsDragEnabled)
            startRowDrag(row);
        return;
    }
    const QModelIndex index = indexAt(pos);
    setHoverRow(index.isValid() ? index.row() : -1);
}

void SidebarListView::mouseReleaseEvent(QMouseEvent *event)
{
    const QModelIndex index = indexAt(event->position().toPoint());
    const int pressed = m_pressRow;
    m_pressRow = -1;
    if (event->button() != Qt::LeftButton || !index.isValid() || index.row() != pressed)
        return;
    switch (rowKind(index)) {
    case RowKind::CollectionHeader:
        m_model->toggleCollapsed(index.data(SidebarModel::CollectionIDRole).toString());
        break;
    case RowKind::Document:
        m_model->store()->setActiveDocumentID(index.data(SidebarModel::DocumentIDRole).toString());
        break;
    default:
        break;
    }
}

void SidebarListView::mouseDoubleClickEvent(QMouseEvent *event)
{
    // Each click of a double click is a click of its own.
    mousePressEvent(event);
}

bool SidebarListView::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(event);
        const QModelIndex index = indexAt(help->pos());
        if (index.isValid() && rowKind(index) == RowKind::CollectionHeader &&
            optionsButtonRect(index.row()).contains(help->pos())) {
            QToolTip::showText(help->globalPos(),
                               WidgetStyle::plainToolTip(
                                   SidebarTexts::optionsFor(index.data(SidebarModel::TitleRole).toString())),
                               viewport());
        } else {
            QToolTip::hideText();
        }
        return true;
    }
    return QListView::viewportEvent(event);
}

void SidebarListView::leaveEvent(QEvent *event)
{
    setHoverRow(-1);
    QListView::leaveEvent(event);
}

void SidebarListView::contextMenuEvent(QContextMenuEvent *event)
{
    const QModelIndex index = indexAt(viewport()->mapFrom(this, event->pos()));
    if (!index.isValid())
        return;
    if (rowKind(index) == RowKind::CollectionHeader)
        showMenu(makeCollectionMenu(index.data(SidebarModel::CollectionIDRole).toString(), this),
                 event->globalPos());
    else if (rowKind(index) == RowKind::Document)
        showMenu(makeDocumentMenu(index.data(SidebarModel::DocumentIDRole).toString(), this),
                 event->globalPos());
}

void SidebarListView::showMenu(QMenu *menu, const QPoint &globalPos)
{
    menu->setAttribute(Qt::WA_DeleteOnClose);
    m_menuPresenter(menu, globalPos);
}

QMenu *SidebarListView::makeCollectionMenu(const QString &collectionID, QWidget *parent)
{
    auto *menu = new QMenu(parent);
    fillMenu(menu, m_model->collectionMenu(collectionID));
    return menu;
}

QMenu *SidebarListView::makeDocumentMenu(const QString &documentID, QWidget *parent)
{
    auto *menu = new QMenu(parent);
    fillMenu(menu, m_model->documentMenu(documentID));
    return menu;
}

void SidebarListView::fillMenu(QMenu *menu, const QList<SidebarMenuItem> &items)
{
    const QIcon check = Icon::icon(IconName::check, palette().color(QPalette::WindowText), 14);
    for (const SidebarMenuItem &item : items) {
        switch (item.kind) {
        case SidebarMenuItem::Kind::Separator:
            menu->addSeparator();
            break;
        case SidebarMenuItem::Kind::Submenu:
            fillMenu(menu->addMenu(item.title), item.children);
            break;
        case SidebarMenuItem::Kind::Action: {
            // Names are shown as written: a single "&" would mark a mnemonic.
            QAction *action = menu->addAction(QString(item.title).replace(u'&', QStringLiteral("&&")));
            if (item.checked)
                action->setIcon(check);
            action->setEnabled(item.enabled);
            connect(action, &QAction::triggered, this, [this, item] {
                if (m_model)
                    m_model->trigger(item);
            });
            break;
        }
        }
    }
}

void SidebarListView::startRowDrag(int row)
{
    const QModelIndex index = m_model->index(row);
    QMimeData *mime = m_model->mimeData({index});
    if (!mime)
        return;
    m_model->beginDrag(row);
    setHoverRow(-1);
    m_dragRunner(mime, dragPreview(index.data(SidebarModel::TitleRole).toString()));
}

DropTarget SidebarListView::targetAt(const QPoint &pos) const
{
    const QModelIndex index = indexAt(pos);
    if (!index.isValid())
        return {};
    const DropTarget target = m_model->dropTarget(index.row());
    // The padding under the strip takes nothing.
    if (target.kind == DropTarget::Kind::TopLevelStrip &&
        pos.y() > visualRect(index).top() + SidebarRowDelegate::stripHeight)
        return {};
    return target;
}

void SidebarListView::updateDrop(const QPoint &pos, const QMimeData *mime, QDropEvent *event)
{
    // Scroll when the pointer nears the top or bottom edge.
    if (pos.y() < 24)
        verticalScrollBar()->setValue(verticalScrollBar()->value() - 12);
    else if (pos.y() > viewport()->height() - 24)
        verticalScrollBar()->setValue(verticalScrollBar()->value() + 12);

    const DropTarget target = targetAt(pos);
    if (m_model->acceptsDrop(target, mime)) {
        event->setDropAction(Qt::MoveAction);
        event->accept();
        setTargeted(target, m_model->highlightsDrop(target) ? target : DropTarget{});
    } else {
        event->ignore();
        setTargeted({}, {});
    }
}

void SidebarListView::setTargeted(const DropTarget &targeted, const DropTarget &highlight)
{
    if (!(targeted == m_targeted)) {
        const bool stripChanged = targeted.kind == DropTarget::Kind::TopLevelStrip ||
                                  m_targeted.kind == DropTarget::Kind::TopLevelStrip;
        m_targeted = targeted;
        if (stripChanged && m_model && m_model->rowCount() > 0)
            viewport()->update(visualRect(m_model->index(m_model->rowCount() - 1)));
    }
    if (highlight == m_highlight)
        return;
    m_highlight = highlight;
    m_highlightAnimation->stop();
    if (highlight.kind != DropTarget::Kind::None) {
        m_shownHighlight = highlight;
        m_highlightAnimation->setStartValue(0.0);
        m_highlightAnimation->setEndValue(1.0);
    } else {
        m_highlightAnimation->setStartValue(m_highlightStrength);
        m_highlightAnimation->setEndValue(0.0);
    }
    m_highlightAnimation->start();
    viewport()->update();
}

void SidebarListView::dragEnterEvent(QDragEnterEvent *event)
{
    const QMimeData *mime = event->mimeData();
    const bool ours = mime->hasFormat(QString::fromLatin1(SidebarDrag::documentReferenceType)) ||
                      mime->hasFormat(QString::fromLatin1(SidebarDrag::collectionReferenceType));
    if (!ours) {
        event->ignore();
        return;
    }
    updateDrop(event->position().toPoint(), mime, event);
    // Stay told about the drag even where this spot takes nothing.
    event->accept();
}

void SidebarListView::dragMoveEvent(QDragMoveEvent *event)
{
    updateDrop(event->position().toPoint(), event->mimeData(), event);
}

void SidebarListView::dragLeaveEvent(QDragLeaveEvent *)
{
    setTargeted({}, {});
}

void SidebarListView::dropEvent(QDropEvent *event)
{
    const DropTarget target = targetAt(event->position().toPoint());
    setTargeted({}, {});
    if (m_model->drop(target, event->mimeData())) {
        event->setDropAction(Qt::MoveAction);
        event->accept();
    } else {
        event->ignore();
    }
}
