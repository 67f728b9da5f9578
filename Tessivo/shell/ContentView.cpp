#include "shell/ContentView.h"

#include "editor/FileDrop.h"
#include "shell/CommandPaletteView.h"
#include "shell/IconButton.h"
#include "shell/core/AppNotifications.h"
#include "shell/core/AppShortcuts.h"
#include "shell/core/StartupSequence.h"
#include "store/DocumentStore.h"

#include <QDragEnterEvent>
#include <QGraphicsOpacityEffect>
#include <QListWidget>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QSettings>
#include <QVBoxLayout>
#include <QVariantAnimation>

namespace {

const QString sidebarVisibleKey = QStringLiteral("sidebarVisible");

// QSettings keeps a Boolean as the text "true" or "false" in its files.
std::optional<bool> storedBool(const QVariant &value)
{
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString();
        if (text == QLatin1String("true"))
            return true;
        if (text == QLatin1String("false"))
            return false;
    }
    return std::nullopt;
}

// Stand-in for the sidebar: the documents in store order; a click opens one.
class DocumentListPane final : public QListWidget
{
public:
    DocumentListPane(DocumentStore *store, QWidget *parent) : QListWidget(parent), m_store(store)
    {
        setFrameShape(QFrame::NoFrame);
        setAttribute(Qt::WA_MacShowFocusRect, false);
        viewport()->setAutoFillBackground(false);
        setStyleSheet(QStringLiteral("QListWidget { background: transparent; padding-top: 36px; }"
                                     "QListWidget::item { padding: 6px 10px; border-radius: 6px; }"));
        connect(store, &DocumentStore::documentsChanged, this, &DocumentListPane::reload);
        connect(store, &DocumentStore::activeDocumentIDChanged, this, &DocumentListPane::reload);
        connect(this, &QListWidget::itemClicked, this, [this](QListWidgetItem *item) {
            m_store->setActiveDocumentID(item->data(Qt::UserRole).toString());
        });
        reload();
    }

private:
    void reload()
    {
        const QSignalBlocker blocker(this);
        clear();
        for (const Document &document : m_store->documents()) {
            auto *item = new QListWidgetItem(document.displayTitle(), this);
            item->setData(Qt::UserRole, document.id);
            if (document.id == m_store->activeDocumentID())
                setCurrentItem(item);
        }
    }

    DocumentStore *m_store;
};

// Stand-in for the detail pane: the open document's Markdown, edited in place.
class PlainDetailPane final : public QPlainTextEdit
{
public:
    PlainDetailPane(DocumentStore *store, QWidget *parent) : QPlainTextEdit(parent), m_store(store)
    {
        setFrameShape(QFrame::NoFrame);
        setObjectName(QStringLiteral("editor"));
        document()->setDocumentMargin(28);
        connect(store, &DocumentStore::activeDocumentIDChanged, this, &PlainDetailPane::reload);
        connect(store, &DocumentStore::documentsChanged, this, [this](const QString &changed) {
            if (changed.isEmpty() || changed != m_shownID)
                reload();
        });
        connect(this, &QPlainTextEdit::textChanged, this, [this] {
            if (!m_loading && !m_shownID.isEmpty())
                m_store->updateBody(toPlainText(), m_shownID);
        });
        reload();
    }

private:
    void reload()
    {
        const std::optional<Document> active = m_store->activeDocument();
        const QString id = active ? active->id : QString();
        if (id == m_shownID && active && active->body == toPlainText())
            return;
        m_loading = true;
        m_shownID = id;
        setReadOnly(!active);
        setPlainText(active ? active->body : QString());
        m_loading = false;
    }

    DocumentStore *m_store;
    QString m_shownID;
    bool m_loading = false;
};

} // namespace

// The dimmed layer over the window while the palette is open; a click on it
// outside the palette closes the palette.
class PaletteOverlay final : public QWidget
{
public:
    PaletteOverlay(ContentView *host, bool sidebarVisible, DocumentStore *store)
        : QWidget(host), m_palette(new CommandPaletteView(
                             sidebarVisible, [host] { host->setPaletteOpen(false); }, store, nullptr, this))
    {
        setAttribute(Qt::WA_NoSystemBackground);
        connect(m_palette->model(), &CommandPaletteModel::itemsChanged, this, &PaletteOverlay::place,
                Qt::QueuedConnection);
        auto *fade = new QGraphicsOpacityEffect(this);
        fade->setOpacity(0.0);
        setGraphicsEffect(fade);
        auto *animation = new QVariantAnimation(this);
        animation->setStartValue(0.0);
        animation->setEndValue(1.0);
        animation->setDuration(150);
        animation->setEasingCurve(QEasingCurve::OutCubic);
        connect(animation, &QVariantAnimation::valueChanged, this,
                [fade](const QVariant &value) { fade->setOpacity(value.toReal()); });
        connect(animation, &QVariantAnimation::finished, this, [this] { setGraphicsEffect(nullptr); });
        animation->start(QAbstractAnimation::DeleteWhenStopped);
    }

    CommandPaletteView *paletteView() const { return m_palette; }

    void place()
    {
        setGeometry(parentWidget()->rect());
        m_palette->adjustSize();
        m_palette->move((width() - m_palette->width()) / 2, 96);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(0, 0, 0, qRound(0.18 * 255)));
    }

    void mousePressEvent(QMouseEvent *event) override
    {
        event->accept();
        static_cast<ContentView *>(parentWidget())->setPaletteOpen(false);
    }

private:
    CommandPaletteView *m_palette;
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

ContentView::ContentView(DocumentStore *store, QSettings *settings, QWidget *parent)
    : QWidget(parent), m_store(store ? store : DocumentStore::shared()), m_settings(settings),
      m_sidebarAnimation(new QVariantAnimation(this))
{
    setMinimumSize(minimumWidth, minimumHeight);
    setAcceptDrops(true);
    setAutoFillBackground(false);

    m_sidebarVisible = storedBool(this->settings()->value(sidebarVisibleKey)).value_or(true);
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

    connect(AppNotifications::instance(), &AppNotifications::posted, this,
            [this](const QString &name, const QVariantMap &) {
                if (name == AppNotifications::toggleSidebar)
                    toggleSidebar();
                else if (name == AppNotifications::toggleCommandPalette)
                    togglePalette();
            });
    layoutPanes();
}

ContentView::~ContentView() = default;

QSettings *ContentView::settings() const
{
    if (m_settings)
        return m_settings;
    static QSettings *defaults = new QSettings;
    return defaults;
}

QWidget *ContentView::makeSidebar()
{
    return new DocumentListPane(m_store, this);
}

QWidget *ContentView::makeDetail()
{
    return new PlainDetailPane(m_store, this);
}

CommandPaletteView *ContentView::commandPalette() const
{
    return m_overlay ? m_overlay->paletteView() : nullptr;
}

void ContentView::toggleSidebar()
{
    m_sidebarVisible = !m_sidebarVisible;
    m_sidebarAnimation->stop();
    m_sidebarAnimation->setStartValue(m_sidebarFraction);
    m_sidebarAnimation->setEndValue(m_sidebarVisible ? 1.0 : 0.0);
    m_sidebarAnimation->start();
    // The hidden sidebar takes no clicks from the moment it starts hiding.
    m_sidebarPane->setAttribute(Qt::WA_TransparentForMouseEvents, !m_sidebarVisible);
    m_sidebarPane->setEnabled(m_sidebarVisible);
    settings()->setValue(sidebarVisibleKey, m_sidebarVisible);
    updateToggleHelp();
    layoutPanes();
    Q_EMIT sidebarVisibleChanged(m_sidebarVisible);
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
        m_overlay = new PaletteOverlay(this, m_sidebarVisible, m_store);
        m_overlay->place();
        m_overlay->show();
        m_overlay->raise();
    } else if (m_overlay) {
        // Later: the palette may be closing from inside one of its own handlers.
        m_overlay->hide();
        m_overlay->deleteLater();
        m_overlay = nullptr;
    }
    Q_EMIT paletteOpenChanged(open);
}

void ContentView::setStartupSteps(std::function<StartupSequence *(QObject *parent)> factory)
{
    m_startupFactory = std::move(factory);
}

bool ContentView::isStartupFinished() const
{
    return m_startup && m_startup->isFinished();
}

void ContentView::updateToggleHelp()
{
    const QString keys = CommandPaletteView::shortcutText(AppShortcuts::toggleSidebar);
    m_toggle->setToolTip(
        (m_sidebarVisible ? QStringLiteral("Hide sidebar (") : QStringLiteral("Show sidebar (")) + keys +
        QStringLiteral(")"));
}

void ContentView::layoutPanes()
{
    const int side = qRound(sidebarWidth * m_sidebarFraction);
    m_sidebarPane->setGeometry(0, 0, side, height());
    // The sidebar keeps its full width and slides out past the leading edge.
    m_sidebarContent->setGeometry(side - sidebarWidth, 0, sidebarWidth, height());
    m_sidebarPane->setVisible(side > 0);
    m_detailPane->setGeometry(side, 0, width() - side, height());
    m_chrome->setGeometry(rect());
    m_chrome->setPane(m_detailPane->geometry(), 12 * m_sidebarFraction);
    m_chrome->raise();
    m_toggle->move(74, 2);
    m_toggle->raise();
    if (m_overlay) {
        m_overlay->place();
        m_overlay->raise();
    }
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
    if (m_startupFactory) {
        m_startup = m_startupFactory(this);
    } else {
        StartupSequence::Steps steps = StartupSequence::sharedSteps();
        steps.loadStore = [store = m_store] { return store->load(); };
        m_startup = new StartupSequence(steps, this);
    }
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
        [urls] {
            if (FileDrop::canHandle(urls))
                FileDrop::handle(urls, std::nullopt, nullptr);
        },
        Qt::QueuedConnection);
}
