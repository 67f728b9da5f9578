#include "shell/MainWindow.h"

#include "shell/AppCommands.h"
#include "shell/ContentView.h"
#include "shell/core/BundleInfo.h"

#include <QHideEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QShowEvent>
#include <QWindow>

#include <utility>

MainWindow::MainWindow(AppServices &services, ContentView::Options options, QWidget *parent)
    : QMainWindow(parent), m_content(new ContentView(services, nullptr, std::move(options), this))
{
    setObjectName(identifier);
    setWindowTitle(QStringLiteral("Tessivo"));
    setCentralWidget(m_content);
    resize(defaultWidth, defaultHeight);
    m_commands = new AppCommands(menuBar(), this, services);
    connect(m_commands, &AppCommands::settingsRequested, this, &MainWindow::settingsRequested);
    connect(m_content, &ContentView::settingsRequested, this, &MainWindow::settingsRequested);
    connect(m_commands, &AppCommands::quitRequested, this, &MainWindow::quitRequested);
    connect(m_commands, &AppCommands::aboutRequested, this, &MainWindow::showAbout);
}

void MainWindow::hideEvent(QHideEvent *event)
{
    QMainWindow::hideEvent(event);
    // A spontaneous hide is the window system's (minimised): it keeps the
    // place itself.
    if (!event->spontaneous())
        m_hiddenAt = pos();
}

void MainWindow::showEvent(QShowEvent *event)
{
    // Before the window is mapped, so that the position goes with the map
    // request as the user's own. Set on the native window even when Qt
    // already has it: moving a widget to where it is does nothing, and the
    // window manager would place the window afresh.
    if (!event->spontaneous() && m_hiddenAt) {
        const QPoint place = *std::exchange(m_hiddenAt, std::nullopt);
        if (QWindow *handle = windowHandle())
            handle->setFramePosition(place);
        else
            move(place);
    }
    QMainWindow::showEvent(event);
}

void MainWindow::showAbout()
{
    QMessageBox::about(this, QStringLiteral("About Tessivo"),
                       QStringLiteral("<b>Tessivo</b><br>Version %1 (%2)")
                           .arg(BundleInfo::shortVersion(), BundleInfo::bundleVersion()));
}
