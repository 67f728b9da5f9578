#include "assistant/AIPillPanel.h"

#include "assistant/AIPillView.h"
#include "assistant/core/AIPlacement.h"

#include <QApplication>
#include <QEvent>
#include <QScreen>
#include <QTimer>
#include <QWidget>

AIPillPanel::AIPillPanel(QObject *parent) : QObject(parent)
{
    makeView();
    // Like any floating panel of an inactive application, it steps aside
    // while another application is in front.
    connect(qApp, &QGuiApplication::applicationStateChanged, this, &AIPillPanel::refreshVisibility);
}

void AIPillPanel::refreshVisibility()
{
    if (!m_visible || !m_view) {
        return;
    }
    // Only over the window that has the keyboard: a sheet or another
    // application in front puts the pill away.
    const bool front = QGuiApplication::applicationState() == Qt::ApplicationActive &&
                       (!m_parentWindow || m_parentWindow->isActiveWindow());
    if (front != m_view->isVisible()) {
        m_view->setVisible(front);
        if (front) {
            m_view->raise();
        }
    }
}

bool AIPillPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (!m_visible || !m_parentWindow || !watched->isWidgetType()) {
        return QObject::eventFilter(watched, event);
    }
    auto *widget = static_cast<QWidget *>(watched);
    switch (event->type()) {
    case QEvent::WindowActivate:
    case QEvent::WindowDeactivate:
        if (widget == m_parentWindow) {
            refreshVisibility();
            if (event->type() == QEvent::WindowActivate) {
                askForPlacement();
            }
        }
        break;
    case QEvent::Move:
    case QEvent::Resize:
        // The window, or anything between it and the text the pill points
        // at (the sidebar giving way moves the editor), moved.
        if (widget == m_parentWindow.data() ||
            (widget->window() == m_parentWindow && m_parentWindow->focusWidget() &&
             (widget == m_parentWindow->focusWidget() ||
              widget->isAncestorOf(m_parentWindow->focusWidget())))) {
            askForPlacement();
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void AIPillPanel::askForPlacement()
{
    if (m_placementAsked) {
        return;
    }
    m_placementAsked = true;
    // After the layout settled: one request for a burst of moves.
    QTimer::singleShot(0, this, [this] {
        m_placementAsked = false;
        if (m_visible) {
            Q_EMIT placementStale();
        }
    });
}

void AIPillPanel::makeView()
{
    m_view = new AIPillView;
    connect(m_view, &AIPillView::pressed, this, [this] {
        if (m_kind) {
            Q_EMIT pressed(*m_kind);
        }
    });
}

AIPillPanel::~AIPillPanel()
{
    delete m_view.data();
}

void AIPillPanel::show(Kind kind, const QRect &anchor, QWidget *window)
{
    if (!m_view) {
        // Taken along by a window that went away.
        makeView();
        m_visible = false;
        m_parentWindow = nullptr;
    }
    m_kind = kind;
    m_view->setKind(kind);
    if (window != m_parentWindow) {
        const bool shown = m_view->isVisible();
        m_view->setParent(window, m_view->windowFlags());
        m_parentWindow = window;
        if (window) {
            m_view->setPalette(window->palette());
        }
        if (shown) {
            m_visible = false; // reparenting hid it
        }
    }
    const QSize size = m_view->sizeHint();
    QScreen *screen = window ? window->screen() : nullptr;
    if (!screen) {
        screen = QGuiApplication::primaryScreen();
    }
    const std::optional<QRect> visible = screen ? std::optional(screen->availableGeometry()) : std::nullopt;
    const QPoint origin = AIPlacement::pillOrigin(kind, anchor, size, visible);
    m_view->setGeometry(QRect(origin, size));
    m_view->update();
    if (!m_visible) {
        m_visible = true;
        qApp->installEventFilter(this);
        m_view->show();
        m_view->raise();
    }
    refreshVisibility();
}

void AIPillPanel::hide()
{
    if (!m_visible) {
        return;
    }
    m_visible = false;
    qApp->removeEventFilter(this);
    m_kind.reset();
    if (m_view) {
        m_view->hide();
        m_view->setParent(nullptr, m_view->windowFlags());
    }
    m_parentWindow = nullptr;
}
