#include "shell/ContentView.h"

#include "app/core/AppNotifications.h"
#include "app/core/AppShortcuts.h"
#include "editor/FileDrop.h"
#include "editor/MarkdownTextView.h"
#include "publishing/core/ImageLibrary.h"
#include "service/core/APIClient.h"
#include "service/core/AuthManager.h"
#include "service/core/SyncEngine.h"
#include "shell/AppServices.h"
#include "shell/CommandPaletteView.h"
#include "shell/DocumentDetailView.h"
#include "shell/core/StartupSequence.h"
#include "sidebar/SidebarView.h"
#include "store/DocumentStore.h"
#include "widgets/IconButton.h"

#include <QBackingStore>
#include <QDragEnterEvent>
#include <QGraphicsOpacityEffect>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include <cmath>

// The dimmed layer over the window while the palette is open; a click on it
// outside the palette closes the palette. Made on the first opening and
// hidden in between, so an opening only lays out and draws.
class PaletteOverlay final : public QWidget
{
public:
    PaletteOverlay(ContentView *host, bool sidebarVisible, AppServices &services)
        : QWidget(host->window(), Qt::Tool | Qt::FramelessWindowHint), m_host(host),
          m_palette(new CommandPaletteView(
              sidebarVisible, [host] { host->setPaletteOpen(false); }, services, this))
    {
        // The preview's web view composites above every widget inside the
        // window, so the layer is a borderless window of its own over the
        // content, showing a dimmed still of what lies beneath.
        setAttribute(Qt::WA_OpaquePaintEvent);
        host->window()->installEventFilter(this);
        connect(
            m_palette->model(), &CommandPaletteModel::itemsChanged, this,
            [this] {
                if (isVisible())
                    place();
            },
            Qt::QueuedConnection);
    }

    CommandPaletteView *paletteView() const { return m_palette; }

    // Before each showing: a fresh palette over a fresh still.
    void prepare(bool sidebarVisible)
    {
        m_palette->reset(sidebarVisible);
        m_still = QPixmap();
        place();
    }

    void place()
    {
        if (m_still.isNull() || m_still.deviceIndependentSize().toSize() != m_host->size()) {
            m_still = stillOf(m_host);
            // Dimmed once here rather than on every repaint.
            QPainter painter(&m_still);
            painter.fillRect(QRect(QPoint(0, 0), m_host->size()), QColor(0, 0, 0, qRound(0.18 * 255)));
            m_shadowUnder = QRect();
            update();
        }
        setGeometry(QRect(m_host->mapToGlobal(QPoint(0, 0)), m_host->size()));
        m_palette->adjustSize();
        m_palette->move((width() - m_palette->width()) / 2, 96);
        // The shadow follows the panel's size: only where it was and is.
        if (m_palette->geometry() != m_shadowUnder) {
            if (!m_shadowUnder.isNull())
                update(PanelShadow::extent(m_shadowUnder, CommandPaletteView::shadow).toAlignedRect());
            m_shadowUnder = m_palette->geometry();
            update(PanelShadow::extent(m_shadowUnder, CommandPaletteView::shadow).toAlignedRect());
        }
    }

protected:
    // What the window shows of `host`, from the window's backing store as
    // last drawn: drawing every widget again (QWidget::grab) took longer
    // than all the rest of opening the palette.
    static QPixmap stillOf(QWidget *host)
    {
        QWidget *window = host->window();
        QBackingStore *store = window->backingStore();
        QPaintDevice *device = store ? store->paintDevice() : nullptr;
        if (device && device->devType() == QInternal::Image) {
            const QImage &drawn = *static_cast<const QImage *>(device);
            const qreal ratio = window->devicePixelRatio();
            const QRect area(
                QRectF(QPointF(host->mapTo(window, QPoint(0, 0))) * ratio, QSizeF(host->size()) * ratio)
                    .toAlignedRect());
            if (!drawn.isNull() && drawn.rect().contains(area)) {
                QPixmap still = QPixmap::fromImage(drawn.copy(area));
                still.setDevicePixelRatio(ratio);
                return still;
            }
        }
        return host->grab();
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_host->window() && isVisible()) {
            if (event->type() == QEvent::Move)
                place();
            else if (event->type() == QEvent::Hide)
                QMetaObject::invokeMethod(
                    m_host, [host = m_host] { host->setPaletteOpen(false); }, Qt::QueuedConnection);
        }
        return QWidget::eventFilter(watched, event);
    }

    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.drawPixmap(0, 0, m_still);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        PanelShadow::paint(painter, m_palette->geometry(), CommandPaletteView::shadow);
    }

    void mousePressEvent(QMouseEvent *event) override
    {
        event->accept();
        m_host->setPaletteOpen(false);
    }

private:
    ContentView *m_host;
    CommandPaletteView *m_palette;
    QPixmap m_still;
    // The panel's place when its shadow was last drawn.
    QRect m_shadowUnder;
};

// Drawn over the panes: the detail pane's rounded leading corners (the
// backdrop painted into the corner pieces) and its hairline border. Takes no
// clicks.
class PaneChrome final : public QWidget
{
public:
    explicit PaneChrome(QWidget *parent) : QWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
    }

    void setPane(const QRect &pane, qreal radius)
    {
        m_pane = pane;
        m_radius = radius;
        // Only the leading edge and its two corners show: a repaint
        // elsewhere, the caret's blink among them, leaves this alone.
        const int corner = int(std::ceil(radius)) + 2;
        QRegion shown(pane.left() - 1, pane.top(), 3, pane.height());
        shown += QRect(pane.left() - 1, pane.top(), corner, corner);
        shown += QRect(pane.left() - 1, pane.bottom() + 1 - corner, corner, corner);
        setMask(pane.isEmpty() ? QRegion(0, 0, 1, 1) : shown);
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        if (m_pane.isEmpty())
            return;
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QPainterPath shape = roundedLeading(QRectF(m_pane), m_radius);
        if (m_radius > 0) {
            QPainterPath corners;
            corners.addRect(QRectF(m_pane));
            painter.fillPath(corners.subtracted(shape), palette().color(QPalette::Window));
        }
        // Enlarged by one pixel beyond the top, trailing and bottom edges,
        // so only the leading edge shows inside the window.
        const QRectF outline = QRectF(m_pane).adjusted(0.5, -1 + 0.5, 1 - 0.5, 1 - 0.5);
        QColor line = palette().color(QPalette::WindowText);
        line.setAlphaF(0.18f);
        painter.setPen(QPen(line, 1, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
        painter.drawPath(roundedLeading(outline, m_radius));
    }

private:
    static QPainterPath roundedLeading(const QRectF &r, qreal radius)
    {
        QPainterPath path;
        path.moveTo(r.right(), r.top());
        path.lineTo(r.left() + radius, r.top());
        path.quadTo(r.left(), r.top(), r.left(), r.top() + radius);
        path.lineTo(r.left(), r.bottom() - radius);
        path.quadTo(r.left(), r.bottom(), r.left() + radius, r.bottom());
        path.lineTo(r.right(), r.bottom());
        path.closeSubpath();
        return path;
    }

    QRect m_pane;
    qreal m_radius = 12;
};

namespace {

constexpr int toggleInset = 8;
// Centred on the sidebar's brand row and the detail pane's 40-high header.
constexpr int toggleTop = 6;

} // namespace

ContentView::ContentView(AppServices &services, QSettings *settings, Options options, QWidget *parent)
    : QWidget(parent), m_options(std::move(options)), m_services(&services), m_store(services.store()),
      m_settings(settings), m_sidebarAnimation(new QVariantAnimation(this))
{
    setMinimumSize(minimumContentWidth, minimumContentHeight);
    setAcceptDrops(true);
    setAutoFillBackground(false);

    m_sidebarVisible = m_settings.sidebarVisible().value_or(true);
    m_sidebarFraction = m_sidebarVisible ? 1.0 : 0.0;

    m_sidebarPane = new QWidget(this);
    m_sidebarContent = makeSidebar();
    m_sidebarContent->setParent(m_sidebarPane);
    m_detailPane = new QWidget(this);
    m_detailPane->setAutoFillBackground(true);
    m_detailPane->setBackgroundRole(QPalette::Base);
    auto *detailLayout = new QVBoxLayout(m_detailPane);
    detailLayout->setContentsMargins(0, 0, 0, 0);
    detailLayout->addWidget(makeDetail());
    connect(static_cast<SidebarView *>(m_sidebarContent), &SidebarView::importRequested, m_detail->fileDrop(),
            [this](const QList<QUrl> &files) { m_detail->fileDrop()->handle(files); });
    m_chrome = new PaneChrome(this);

    m_toggle = new IconButton(IconName::panelLeft, 16, 28, this);
    connect(m_toggle, &QAbstractButton::clicked, this, &ContentView::toggleSidebar);
    updateToggleHelp();

    // A spring of response 0.25 s settles in about that time without overshoot
    // at this damping; an ease-out curve of the same length matches it.
    m_sidebarAnimation->setDuration(250);
    m_sidebarAnimation->setEasingCurve(QEasingCurve::OutCubic);
    connect(m_sidebarAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_sidebarFraction = value.toReal();
        layoutPanes();
    });

    connect(services.notifications(), &AppNotifications::toggleSidebarRequested, this,
            &ContentView::toggleSidebar);
    connect(services.notifications(), &AppNotifications::toggleCommandPaletteRequested, this,
            &ContentView::togglePalette);
    // The detail pane's minimum changes with the panes it shows and with
    // the style, palette and font in use; each change asks for a new layout.
    m_detail->installEventFilter(this);
    updateMinimumWidth();
    layoutPanes();
}

void ContentView::updateMinimumWidth()
{
    updateBeside();
    // The sidebar counts at its full width from the moment it starts
    // showing, so the panes never have to squeeze during the animation.
    const int side = m_sidebarBeside && m_sidebarVisible ? sidebarWidth : 0;
    setMinimumWidth(std::max(minimumContentWidth, side + m_detail->minimumSizeHint().width()));
}

bool ContentView::roomBeside() const
{
    return m_availableWidth >= sidebarWidth + m_detail->minimumSizeHint().width();
}

void ContentView::updateBeside()
{
    const bool beside = roomBeside();
    if (beside == m_sidebarBeside)
        return;
    // The room changed with the screen or the panes shown, not at the
    // user's hand: the sidebar takes its new place at once, closed when it
    // was open over the pane.
    m_sidebarBeside = beside;
    m_sidebarOver = false;
    m_sidebarAnimation->stop();
    m_sidebarFraction = sidebarShown() ? 1.0 : 0.0;
    m_sidebarPane->setAttribute(Qt::WA_TransparentForMouseEvents, !sidebarShown());
    m_sidebarPane->setEnabled(sidebarShown());
    updateToggleHelp();
    layoutPanes();
}

void ContentView::setAvailableWidth(int width)
{
    if (width == m_availableWidth)
        return;
    m_availableWidth = width;
    updateMinimumWidth();
}

ContentView::~ContentView()
{
    // The layer is the window's child and watches the window, which outlives this view.
    delete m_overlay;
}

QWidget *ContentView::makeSidebar()
{
    AppServices *services = m_services;
    auto *sidebar = new SidebarView(
        m_store, m_settings.settings(),
        {services->notifications(), services->auth(), services->sync(), services->client()->session()}, this);
    connect(sidebar, &SidebarView::settingsRequested, this, &ContentView::settingsRequested);
    sidebar->setServiceBaseURL(services->client()->baseURL());
    return sidebar;
}

QWidget *ContentView::makeDetail()
{
    // Dropped images upload to the app's image library, which the media
    // sheet shows, unless the options name others.
    DocumentDetailView::Strategies strategies = m_options.detail;
    if (!strategies.fileDrops.uploader) {
        strategies.fileDrops.uploader = m_services->images();
    }
    m_detail = new DocumentDetailView(*m_services, std::move(strategies), this);
    connect(m_detail, &DocumentDetailView::accountSettingsRequested, this,
            &ContentView::accountSettingsRequested);
    return m_detail;
}

CommandPaletteView *ContentView::commandPalette() const
{
    return m_paletteOpen && m_overlay ? m_overlay->paletteView() : nullptr;
}

void ContentView::toggleSidebar()
{
    if (!m_sidebarBeside) {
        m_sidebarOver = !m_sidebarOver;
        animateSidebar();
        return;
    }
    m_sidebarVisible = !m_sidebarVisible;
    m_settings.setSidebarVisible(m_sidebarVisible);
    updateMinimumWidth();
    animateSidebar();
    Q_EMIT sidebarVisibleChanged(m_sidebarVisible);
}

void ContentView::animateSidebar()
{
    const bool shown = sidebarShown();
    m_sidebarAnimation->stop();
    m_sidebarAnimation->setStartValue(m_sidebarFraction);
    m_sidebarAnimation->setEndValue(shown ? 1.0 : 0.0);
    m_sidebarAnimation->start();
    // The hidden sidebar takes no clicks from the moment it starts hiding.
    m_sidebarPane->setAttribute(Qt::WA_TransparentForMouseEvents, !shown);
    m_sidebarPane->setEnabled(shown);
    updateToggleHelp();
    layoutPanes();
}

void ContentView::togglePalette()
{
    setPaletteOpen(!m_paletteOpen);
}

void ContentView::setPaletteOpen(bool open)
{
    if (open == m_paletteOpen)
        return;
    m_paletteOpen = open;
    if (open) {
        m_focusBeforePalette = window()->focusWidget();
        m_documentBeforePalette = m_store->activeDocumentID();
        if (!m_overlay)
            m_overlay = new PaletteOverlay(this, sidebarShown(), *m_services);
        m_overlay->prepare(sidebarShown());
        m_overlay->show();
        m_overlay->raise();
        m_overlay->activateWindow();
    } else if (m_overlay) {
        m_overlay->hide();
        // The overlay is a window of its own and took the keyboard: give it
        // back to the main window, or the menu shortcuts stop working until
        // the user clicks into it.
        if (QWidget *host = window(); host->isVisible()) {
            host->activateWindow();
            if (m_focusBeforePalette && m_focusBeforePalette->isVisible())
                m_focusBeforePalette->setFocus(Qt::OtherFocusReason);
            // A document opened from the palette is there to be written in,
            // as a new one is: the caret goes to its editor. Later, because
            // Return closes the palette before its entry runs.
            QMetaObject::invokeMethod(
                this,
                [this, before = m_documentBeforePalette] {
                    if (m_paletteOpen || m_store->activeDocumentID() == before)
                        return;
                    if (QWidget *editor = m_detail->editor(); editor && editor->isVisible())
                        editor->setFocus(Qt::OtherFocusReason);
                },
                Qt::QueuedConnection);
        }
    }
    Q_EMIT paletteOpenChanged(open);
}

bool ContentView::isStartupFinished() const
{
    return m_startup && m_startup->isFinished();
}

void ContentView::updateToggleHelp()
{
    const QString keys = CommandPaletteView::shortcutText(AppShortcuts::toggleSidebar);
    m_toggle->setToolTip(
        (sidebarShown() ? QStringLiteral("Hide sidebar (") : QStringLiteral("Show sidebar (")) + keys +
        QStringLiteral(")"));
}

void ContentView::layoutPanes()
{
    const int side = qRound(sidebarWidth * m_sidebarFraction);
    m_sidebarPane->setGeometry(0, 0, side, height());
    // The sidebar keeps its full width and slides out past the leading edge.
    m_sidebarContent->setGeometry(side - sidebarWidth, 0, sidebarWidth, height());
    m_sidebarPane->setVisible(side > 0);
    // Over the pane, the sidebar lies on the editor's leading part: split
    // view, the one layout without room beside, starts with the editor,
    // which is never narrower than the sidebar.
    const int beside = m_sidebarBeside ? side : 0;
    m_detailPane->setGeometry(beside, 0, width() - beside, height());
    m_chrome->setGeometry(rect());
    m_chrome->setPane(m_detailPane->geometry(), m_sidebarBeside ? 12 * m_sidebarFraction : 0);
    m_chrome->raise();
    // Over the pane it needs a ground of its own.
    m_sidebarPane->setAutoFillBackground(!m_sidebarBeside);
    if (!m_sidebarBeside)
        m_sidebarPane->raise();
    // The window manager draws the window's buttons in its own title bar,
    // so the toggle takes no room of its own: it sits at the end of the
    // sidebar's brand row and, with the sidebar hidden, in the free start of
    // the detail pane's header.
    m_toggle->move(std::max(toggleInset, side - toggleInset - m_toggle->width()), toggleTop);
    m_toggle->raise();
    if (m_overlay && m_overlay->isVisible()) {
        m_overlay->place();
        m_overlay->raise();
    }
}

bool ContentView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_detail) {
        switch (event->type()) {
        case QEvent::LayoutRequest:
        case QEvent::StyleChange:
        case QEvent::FontChange:
        case QEvent::PaletteChange:
            // Once the pane's layout has taken the change in.
            QMetaObject::invokeMethod(this, &ContentView::updateMinimumWidth, Qt::QueuedConnection);
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ContentView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutPanes();
}

void ContentView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
}

void ContentView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_startup)
        return;
    StartupSequence::Steps steps;
    if (m_options.startupSteps) {
        steps = *m_options.startupSteps;
    } else {
        steps = StartupSequence::appSteps(m_store, m_services->sync(), m_services->auth());
    }
    m_startup = new StartupSequence(steps, this);
    connect(m_startup, &StartupSequence::finished, this, &ContentView::startupFinished);
    m_startup->start();
}

void ContentView::dragEnterEvent(QDragEnterEvent *event)
{
    if (!FileDrop::fileURLs(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void ContentView::dragMoveEvent(QDragMoveEvent *event)
{
    if (!FileDrop::fileURLs(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void ContentView::dropEvent(QDropEvent *event)
{
    const QList<QUrl> urls = FileDrop::fileURLs(event->mimeData());
    // Accepted at once whatever the files turn out to be; handled after the
    // drop has returned.
    event->acceptProposedAction();
    QMetaObject::invokeMethod(
        this,
        [this, urls] {
            if (FileDrop::canHandle(urls))
                m_detail->fileDrop()->handle(urls);
        },
        Qt::QueuedConnection);
}
