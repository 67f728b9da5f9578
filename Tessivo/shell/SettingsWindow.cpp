#include "shell/SettingsWindow.h"

#include "app/core/AppShortcuts.h"
#include "service/core/AuthManager.h"
#include "service/core/BrowserSignIn.h"
#include "shell/AccountSettings.h"
#include "shell/AppDelegate.h"
#include "shell/GeneralSettings.h"
#include "shell/UpdateSettings.h"
#include "widgets/Icon.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

namespace {

// Holds one tab's content. Only the shown page has a size: the tab view
// asks every page and would otherwise be as tall as the tallest tab.
class TabPage final : public QWidget
{
public:
    explicit TabPage(QWidget *content)
    {
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(content);
    }

    void setShown(bool shown)
    {
        // Only a real change may ask for a new layout: the window fits itself
        // on every layout request.
        if (shown == m_shown)
            return;
        m_shown = shown;
        updateGeometry();
    }

    // A hidden page still tells its width, so that the tab view is wide
    // enough for every tab and keeps its width from tab to tab.
    QSize sizeHint() const override { return m_shown ? QWidget::sizeHint() : QSize(); }
    QSize minimumSizeHint() const override
    {
        return m_shown ? QWidget::minimumSizeHint() : QSize(QWidget::minimumSizeHint().width(), 0);
    }
    bool hasHeightForWidth() const override { return m_shown && QWidget::hasHeightForWidth(); }
    int heightForWidth(int width) const override { return m_shown ? QWidget::heightForWidth(width) : 0; }

private:
    bool m_shown = false;
};

} // namespace

SettingsWindow::SettingsWindow(const Dependencies &dependencies, QWidget *parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_tabs(new QTabWidget(this))
{
    setObjectName(identifier);
    setWindowTitle(QStringLiteral("Settings"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->addWidget(m_tabs, 0, Qt::AlignHCenter | Qt::AlignTop);
    m_tabs->setDocumentMode(false);

    m_general = new GeneralSettings(dependencies.viewMode, dependencies.shortcuts);
    m_account = new AccountSettings(dependencies.auth, *dependencies.sync);
    m_updates = new UpdateSettings(dependencies.updater);
    m_tabs->addTab(new TabPage(m_general), QStringLiteral("General"));
    m_tabs->addTab(new TabPage(m_account), QStringLiteral("Account"));
    m_tabs->addTab(new TabPage(m_updates), QStringLiteral("Updates"));
    showTabIcons();

    connect(m_tabs, &QTabWidget::currentChanged, this, &SettingsWindow::fitToContent);
    fitToContent();

    // The main window's menu bar holds Quit, and its shortcut only works in
    // that window; the app quits from this one too.
    auto *quit = new QAction(QStringLiteral("Quit Tessivo"), this);
    quit->setShortcut(QKeySequence(AppShortcuts::quit, QKeySequence::PortableText));
    quit->setShortcutContext(Qt::WindowShortcut);
    connect(quit, &QAction::triggered, this, &SettingsWindow::quitRequested);
    addAction(quit);
    // The browser's callback brings the main window forward before the
    // sign-in's outcome is known; a failure's message is in this window,
    // which would otherwise lie buried under it.
    connect(dependencies.auth->browserSignIn(), &BrowserSignIn::failed, this,
            [this] { present(Tab::account); });
}

void SettingsWindow::present(std::optional<Tab> tab)
{
    if (tab)
        setCurrentTab(*tab);
    if (!isVisible()) {
        QWidget *main = AppDelegate::mainWindow();
        placeOver(main && main->isVisible() ? main : nullptr);
    }
    show();
    raise();
    activateWindow();
}

SettingsWindow::Tab SettingsWindow::currentTab() const
{
    return static_cast<Tab>(m_tabs->currentIndex());
}

void SettingsWindow::setCurrentTab(Tab tab)
{
    m_tabs->setCurrentIndex(static_cast<int>(tab));
}

// The tab view's height is that of the shown tab alone: the hidden tabs
// take no part in its size.
void SettingsWindow::fitToContent()
{
    if (m_fitting)
        return;
    m_fitting = true;
    for (int i = 0; i < m_tabs->count(); ++i)
        static_cast<TabPage *>(m_tabs->widget(i))->setShown(i == m_tabs->currentIndex());
    // Wider only where a tab needs more (a larger font): a label squeezed
    // below its text would be cut off.
    m_tabs->setFixedWidth(std::max(tabViewWidth, m_tabs->minimumSizeHint().width()));
    layout()->activate();
    const int width = layout()->totalSizeHint().width();
    const int height = layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(width)
                                                     : layout()->totalSizeHint().height();
    setFixedSize(width, height);
    m_fitting = false;
}

void SettingsWindow::placeOver(const QWidget *anchor)
{
    QScreen *screen = anchor ? anchor->screen() : nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    // The title bar and borders count too once the window manager has
    // framed the window; before that, its client area is all we know.
    const QMargins frame(geometry().left() - frameGeometry().left(), geometry().top() - frameGeometry().top(),
                         frameGeometry().right() - geometry().right(),
                         frameGeometry().bottom() - geometry().bottom());
    const QSize outer = size().grownBy(frame);
    const QPoint centre = anchor ? anchor->frameGeometry().center() : area.center();
    QRect placed(QPoint(centre.x() - outer.width() / 2, centre.y() - outer.height() / 2), outer);
    placed.moveLeft(qBound(area.left(), placed.left(), qMax(area.left(), area.right() + 1 - outer.width())));
    placed.moveTop(qBound(area.top(), placed.top(), qMax(area.top(), area.bottom() + 1 - outer.height())));
    move(placed.topLeft());
}

// The app's own artwork, tinted with the text colour of the palette in use.
void SettingsWindow::showTabIcons()
{
    const QColor color = palette().color(QPalette::WindowText);
    const IconName icons[] = {IconName::settings, IconName::user, IconName::download};
    for (int i = 0; i < m_tabs->count(); ++i)
        m_tabs->setTabIcon(i, Icon::icon(icons[i], color));
}

void SettingsWindow::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        showTabIcons();
}

void SettingsWindow::keyPressEvent(QKeyEvent *event)
{
    // Only an Escape that no control used (a recorder cancels its
    // recording with it) closes the window.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool SettingsWindow::event(QEvent *event)
{
    const bool handled = QWidget::event(event);
    // A tab's content changed size (the account's face, an error line).
    if (event->type() == QEvent::LayoutRequest)
        fitToContent();
    return handled;
}
