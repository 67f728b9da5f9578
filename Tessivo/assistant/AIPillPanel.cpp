#include "assistant/AIPillPanel.h"

#include "assistant/AIPillView.h"
#include "assistant/core/AIPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

AIPillPanel::AIPillPanel(QObject *parent) : QObject(parent)
{
    makeView();
    // Like any floating panel of an inactive application, it steps aside
    // while another application is in front.
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (m_visible && m_view) {
            m_view->setVisible(state == Qt::ApplicationActive);
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
    m_view->setKind(kind == Kind::Refine ? AIPillView::Kind::Refine : AIPillView::Kind::Generate);
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
    const QPoint origin = AIPlacement::pillOrigin(kind == Kind::Refine ? AIPlacement::PillKind::Refine
                                                                       : AIPlacement::PillKind::Generate,
                                                  anchor, size, visible);
    m_view->setGeometry(QRect(origin, size));
    m_view->update();
    if (!m_visible) {
        m_view->show();
        m_view->raise();
        m_visible = true;
    }
}

void AIPillPanel::hide()
{
    if (!m_visible) {
        return;
    }
    m_visible = false;
    m_kind.reset();
    if (m_view) {
        m_view->hide();
        m_view->setParent(nullptr, m_view->windowFlags());
    }
    m_parentWindow = nullptr;
}
