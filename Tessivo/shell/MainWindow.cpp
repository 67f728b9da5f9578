#include "shell/MainWindow.h"

#include "shell/AppCommands.h"
#include "shell/ContentView.h"
#include "shell/core/BundleInfo.h"
#include "store/DocumentStore.h"

#include <QMenuBar>
#include <QMessageBox>

MainWindow::MainWindow(DocumentStore *store, QWidget *parent)
    : MainWindow(store, ContentView::Options{}, parent)
{}

MainWindow::MainWindow(DocumentStore *store, ContentView::Options options, QWidget *parent)
    : QMainWindow(parent),
      m_content(new ContentView(store ? store : DocumentStore::shared(), nullptr, std::move(options), this))
{
    setObjectName(identifier);
    setWindowTitle(QStringLiteral("Tessivo"));
    setCentralWidget(m_content);
    resize(defaultWidth, defaultHeight);
    m_commands = new AppCommands(menuBar(), this, store ? store : DocumentStore::shared());
    connect(m_commands, &AppCommands::settingsRequested, this, &MainWindow::settingsRequested);
    connect(m_content, &ContentView::settingsRequested, this, &MainWindow::settingsRequested);
    connect(m_commands, &AppCommands::quitRequested, this, &MainWindow::quitRequested);
    connect(m_commands, &AppCommands::aboutRequested, this, &MainWindow::showAbout);
}

void MainWindow::showAbout()
{
    QMessageBox::about(this, QStringLiteral("About Tessivo"),
                       QStringLiteral("<b>Tessivo</b><br>Version %1 (%2)")
                           .arg(BundleInfo::shortVersion(), BundleInfo::bundleVersion()));
}
