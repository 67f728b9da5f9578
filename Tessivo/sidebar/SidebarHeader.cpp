#include "sidebar/SidebarHeader.h"

#include "sidebar/core/SidebarTexts.h"
#include "widgets/Icon.h"
#include "widgets/PressableIconButtonStyle.h"
#include "widgets/WidgetStyle.h"

#include <QCursor>
#include <QEnterEvent>
#include <QHelpEvent>
#include <QLinearGradient>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

namespace {

constexpr int markSize = 28;
constexpr int rowHeight = 34;
constexpr int caretWidth = 30;

void drawContainer(QPainter &p, const QRectF &rect, const QPalette &palette)
{
    const QPainterPath shape = WidgetStyle::roundedRect(rect, 8);
    p.fillPath(shape, WidgetStyle::primary(palette, 0.06));
    p.setPen(QPen(WidgetStyle::primary(palette, 0.08), 1));
    p.drawPath(WidgetStyle::roundedRect(rect.adjusted(0.5, 0.5, -0.5, -0.5), 7.5));
}

} // namespace

// --- BrandRow --------------------------------------------------------------------

BrandRow::BrandRow(QWidget *parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize BrandRow::sizeHint() const
{
    return {200, markSize + 2};
}

QSize BrandRow::minimumSizeHint() const
{
    return {markSize, markSize + 2};
}

void BrandRow::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF mark(0, (height() - markSize - 1) / 2.0, markSize, markSize);

    // Shadow half a pixel below the mark.
    p.fillPath(WidgetStyle::roundedRect(mark.translated(0, 0.5).adjusted(-0.5, -0.5, 0.5, 0.5), 7.5),
               QColor(0, 0, 0, int(0.15 * 255)));
    QLinearGradient gradient(mark.topLeft(), mark.bottomRight());
    gradient.setColorAt(0, WidgetStyle::brandSecondary());
    gradient.setColorAt(1, WidgetStyle::brandPrimary());
    p.fillPath(WidgetStyle::roundedRect(mark, 7), gradient);
    p.setPen(Qt::white);
    p.setFont(WidgetStyle::font(11, QFont::Bold));
    p.drawText(mark, Qt::AlignCenter, QStringLiteral("M\u2193"));

    QFont name = WidgetStyle::font(15, QFont::DemiBold);
    name.setLetterSpacing(QFont::AbsoluteSpacing, -0.2);
    p.setFont(name);
    p.setPen(palette().color(QPalette::WindowText));
    const QRect textRect(markSize + 10, 0, width() - markSize - 10, height());
    p.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft,
               QFontMetrics(name).elidedText(QStringLiteral("Tessivo"), Qt::ElideRight, textRect.width()));
}

// --- CreateSplitButton -----------------------------------------------------------

CreateSplitButton::CreateSplitButton(std::function<void()> createDocument,
                                     std::function<void()> createCollection, std::function<void()> openFile,
                                     QWidget *parent)
    : QWidget(parent), m_createDocument(std::move(createDocument)),
      m_createCollection(std::move(createCollection)), m_openFile(std::move(openFile))
{
    setMouseTracking(true);
    setFixedHeight(rowHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::ArrowCursor);
}

QSize CreateSplitButton::sizeHint() const
{
    return {180, rowHeight};
}

QRect CreateSplitButton::mainRect() const
{
    return QRect(0, 0, width() - caretWidth - 1, height());
}

QRect CreateSplitButton::caretRect() const
{
    return QRect(width() - caretWidth, 0, caretWidth, height());
}

QMenu *CreateSplitButton::makeMenu(QWidget *parent) const
{
    auto *menu = new QMenu(parent);
    const QColor tint = WidgetStyle::secondary(palette());
    QAction *doc = menu->addAction(Icon::icon(IconName::plusSquare, tint), QStringLiteral("New Document"));
    doc->setShortcut(newDocumentShortcut());
    doc->setShortcutVisibleInContextMenu(true);
    connect(doc, &QAction::triggered, this, [this] { m_createDocument(); });
    QAction *collection =
        menu->addAction(Icon::icon(IconName::folderAdd, tint), QStringLiteral("New Collection"));
    collection->setShortcut(newCollectionShortcut());
    collection->setShortcutVisibleInContextMenu(true);
    connect(collection, &QAction::triggered, this, [this] { m_createCollection(); });
    menu->addSeparator();
    QAction *open =
        menu->addAction(Icon::icon(IconName::folderOpen, tint), QStringLiteral("Open File\u2026"));
    connect(open, &QAction::triggered, this, [this] { m_openFile(); });
    return menu;
}

void CreateSplitButton::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF whole = rect();
    p.save();
    p.setClipPath(WidgetStyle::roundedRect(whole, 8));
    if (m_hoveringMain)
        p.fillRect(mainRect(), WidgetStyle::primary(palette(), 0.05));
    if (m_hoveringCaret)
        p.fillRect(caretRect(), WidgetStyle::primary(palette(), 0.05));
    p.restore();
    drawContainer(p, whole, palette());

    // Separator between the two parts, inset 7 from top and bottom.
    p.fillRect(QRectF(width() - caretWidth - 1, 7, 1, height() - 14), WidgetStyle::primary(palette(), 0.15));

    const QColor secondary = WidgetStyle::secondary(palette());
    const qreal dpr = devicePixelRatioF();
    p.drawPixmap(QPointF(10, (height() - 16) / 2.0), Icon::pixmap(IconName::plusSquare, 16, secondary, dpr));
    p.setFont(WidgetStyle::font(14, QFont::Medium));
    p.setPen(palette().color(QPalette::WindowText));
    const QRect text = mainRect().adjusted(10 + 16 + 8, 0, -8, 0);
    p.drawText(text, Qt::AlignVCenter | Qt::AlignLeft,
               p.fontMetrics().elidedText(QStringLiteral("New document"), Qt::ElideRight, text.width()));
    const QRect caret = caretRect();
    p.drawPixmap(QPointF(caret.center().x() - 6.5, (height() - 14) / 2.0),
                 Icon::pixmap(IconName::caretDown, 14, secondary, dpr));
}

void CreateSplitButton::setHover(bool main, bool caret)
{
    if (main == m_hoveringMain && caret == m_hoveringCaret)
        return;
    m_hoveringMain = main;
    m_hoveringCaret = caret;
    update();
}

void CreateSplitButton::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    setHover(mainRect().contains(pos), caretRect().contains(pos));
}

void CreateSplitButton::leaveEvent(QEvent *)
{
    setHover(false, false);
}

void CreateSplitButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint pos = event->position().toPoint();
    if (caretRect().contains(pos)) {
        QMenu *menu = makeMenu(this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        // The open menu holds the pointer, so no leave event reaches the
        // button: once it closes, hover what is under the pointer now.
        connect(menu, &QMenu::aboutToHide, this, [this] {
            const QPoint pointer = mapFromGlobal(QCursor::pos());
            setHover(mainRect().contains(pointer), caretRect().contains(pointer));
        });
        menu->popup(mapToGlobal(QPoint(0, height() + 2)));
        return;
    }
    m_pressedMain = mainRect().contains(pos);
}

void CreateSplitButton::mouseReleaseEvent(QMouseEvent *event)
{
    const bool click = m_pressedMain && mainRect().contains(event->position().toPoint());
    m_pressedMain = false;
    if (click && event->button() == Qt::LeftButton)
        m_createDocument();
}

bool CreateSplitButton::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(event);
        const QString text = caretRect().contains(help->pos())
                                 ? SidebarTexts::moreWaysToCreate()
                                 : SidebarTexts::newDocumentHelp().arg(
                                       newDocumentShortcut().toString(QKeySequence::NativeText));
        QToolTip::showText(help->globalPos(), text, this);
        return true;
    }
    return QWidget::event(event);
}

// --- SidebarIconButton ------------------------------------------------------------

SidebarIconButton::SidebarIconButton(IconName icon, const QString &help, std::function<void()> action,
                                     QWidget *parent)
    : QAbstractButton(parent), m_icon(icon)
{
    setToolTip(help);
    setFixedSize(34, 34);
    setFocusPolicy(Qt::NoFocus);
    connect(this, &QAbstractButton::clicked, this, [action = std::move(action)] { action(); });
    new PressableIconButtonStyle(this);
}

void SidebarIconButton::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = rect();
    p.fillPath(WidgetStyle::roundedRect(r, 8), WidgetStyle::primary(palette(), m_hovering ? 0.09 : 0.06));
    p.setPen(QPen(WidgetStyle::primary(palette(), 0.08), 1));
    p.drawPath(WidgetStyle::roundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), 7.5));
    p.drawPixmap(QPointF(9, 9),
                 Icon::pixmap(m_icon, 16, WidgetStyle::secondary(palette()), devicePixelRatioF()));
}

void SidebarIconButton::enterEvent(QEnterEvent *)
{
    m_hovering = true;
    update();
}

void SidebarIconButton::leaveEvent(QEvent *)
{
    m_hovering = false;
    update();
}
