#include "shell/MainWindow.h"

#include "shell/AppCommands.h"
#include "shell/AppServices.h"
#include "shell/ContentView.h"
#include "shell/core/BundleInfo.h"

#include <QDataStream>
#include <QGuiApplication>
#include <QHideEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QShowEvent>
#include <QStyle>
#include <QWindow>

#include <algorithm>
#include <optional>
#include <utility>

namespace {

// The frame in a QWidget::saveGeometry() record: a magic number, the major
// and minor version, then the frame rectangle. Nothing for anything else.
std::optional<QRect> savedFrame(const QByteArray &geometry)
{
    QDataStream stream(geometry);
    stream.setVersion(QDataStream::Qt_4_0);
    quint32 magic = 0;
    quint16 major = 0;
    quint16 minor = 0;
    QRect frame;
    stream >> magic >> major >> minor >> frame;
    if (stream.status() != QDataStream::Ok || magic != 0x1D9D0CB || major != 3 || !frame.isValid())
        return std::nullopt;
    return frame;
}

bool onSomeScreen(const QRect &frame)
{
    const QList<QScreen *> screens = QGuiApplication::screens();
    return std::any_of(screens.cbegin(), screens.cend(),
                       [&](const QScreen *screen) { return screen->availableGeometry().intersects(frame); });
}

} // namespace

MainWindow::MainWindow(AppServices &services, ContentView::Options options, QWidget *parent)
    : QMainWindow(parent), m_settings(services.settings()),
      m_content(new ContentView(services, services.settings(), std::move(options), this))
{
    setObjectName(identifier);
    setWindowTitle(QStringLiteral("Tessivo"));
    setCentralWidget(m_content);
    restoreFrame();
    m_commands = new AppCommands(menuBar(), this, services);
    connect(m_commands, &AppCommands::settingsRequested, this, &MainWindow::settingsRequested);
    connect(m_content, &ContentView::settingsRequested, this, &MainWindow::settingsRequested);
    connect(m_commands, &AppCommands::quitRequested, this, &MainWindow::quitRequested);
    connect(m_commands, &AppCommands::aboutRequested, this, &MainWindow::showAbout);
}

void MainWindow::restoreFrame()
{
    const QByteArray saved = m_settings.mainWindowGeometry();
    // Qt would pull a frame that no screen shows any more (a monitor since
    // unplugged) to the edge of the primary screen at its old size; such a
    // frame counts as none.
    const std::optional<QRect> frame = savedFrame(saved);
    if (frame && onSomeScreen(*frame) && restoreGeometry(saved))
        return;
    const QSize size(defaultWidth, defaultHeight);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size, screen->availableGeometry()));
    else
        resize(size);
}

void MainWindow::saveFrame()
{
    m_settings.setMainWindowGeometry(saveGeometry());
}

void MainWindow::hideEvent(QHideEvent *event)
{
    QMainWindow::hideEvent(event);
    // A spontaneous hide is the window system's (minimised): it keeps the
    // place itself.
    if (!event->spontaneous()) {
        m_hiddenAt = pos();
        saveFrame();
    }
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
