#include "shell/MainWindow.h"

#include "platform/WindowPlace.h"
#include "shell/AppCommands.h"
#include "shell/AppServices.h"
#include "shell/ContentView.h"
#include "shell/core/BundleInfo.h"
#include "shell/core/WindowFit.h"

#include <QDataStream>
#include <QGuiApplication>
#include <QHideEvent>
#include <QLayout>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QShowEvent>
#include <QWindow>

#include <algorithm>
#include <optional>
#include <utility>

namespace {

// What a QWidget::saveGeometry() record holds of the window: its frame, its
// client area within the frame, and whether it filled the screen. Nothing
// for anything else.
struct SavedFrame
{
    QRect frame;
    QRect client;
    bool filling = false;
};

std::optional<SavedFrame> savedFrame(const QByteArray &geometry)
{
    QDataStream stream(geometry);
    stream.setVersion(QDataStream::Qt_4_0);
    quint32 magic = 0;
    quint16 major = 0;
    quint16 minor = 0;
    SavedFrame saved;
    qint32 screenNumber = 0;
    quint8 maximized = 0;
    quint8 fullScreen = 0;
    stream >> magic >> major >> minor >> saved.frame >> saved.client >> screenNumber >> maximized >>
        fullScreen;
    if (stream.status() != QDataStream::Ok || magic != 0x1D9D0CB || major != 3 || !saved.frame.isValid())
        return std::nullopt;
    saved.filling = maximized || fullScreen;
    return saved;
}

// The window manager's title bar and borders around `client`; none when
// `frame` does not hold it.
QMargins marginsBetween(const QRect &frame, const QRect &client)
{
    if (!client.isValid() || !frame.contains(client))
        return {};
    return {client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
            frame.bottom() - client.bottom()};
}

bool onSomeScreen(const QRect &frame)
{
    const QList<QScreen *> screens = QGuiApplication::screens();
    return std::any_of(screens.cbegin(), screens.cend(),
                       [&](const QScreen *screen) { return screen->availableGeometry().intersects(frame); });
}

// The screen that shows most of `frame`.
const QScreen *screenOf(const QRect &frame)
{
    const QScreen *best = QGuiApplication::primaryScreen();
    qint64 most = 0;
    for (const QScreen *screen : QGuiApplication::screens()) {
        const QRect shown = screen->availableGeometry().intersected(frame);
        const qint64 area = qint64(shown.width()) * shown.height();
        if (area > most) {
            most = area;
            best = screen;
        }
    }
    return best;
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
    m_placed = geometry();
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
    const std::optional<SavedFrame> frame = savedFrame(saved);
    if (frame && onSomeScreen(frame->frame) && restoreGeometry(saved)) {
        // Saved on a larger screen, or one since made smaller: Qt brings
        // such a frame back only partly. A frame that fits stays as it was.
        const QScreen *screen = screenOf(frame->frame);
        m_margins = marginsBetween(frame->frame, frame->client);
        setRoom(screen, m_margins);
        if (!frame->filling && screen)
            placeFrame(WindowFit::fitted(frame->frame, screen->availableGeometry()), frame->frame, m_margins);
        return;
    }
    const QSize size(defaultWidth, defaultHeight);
    // The manager's frame is not known before it has framed the window;
    // fitFramed() fits the window again then.
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        setRoom(screen, {});
        setGeometry(WindowFit::centred(size, {}, screen->availableGeometry()));
    } else {
        resize(size);
    }
}

void MainWindow::setRoom(const QScreen *screen, const QMargins &margins)
{
    if (!screen)
        return;
    const int least = m_content->minimumWidth();
    m_content->setAvailableWidth(screen->availableGeometry().width() - margins.left() - margins.right());
    // The window's own least size follows at once, so that a frame placed
    // next is not held wider than the screen. Where the room changes
    // nothing (any screen wide enough), nothing is laid out here.
    if (QLayout *own = layout(); own && m_content->minimumWidth() != least)
        own->activate();
}

void MainWindow::updateRoom()
{
    const QWindow *handle = windowHandle();
    setRoom(handle ? handle->screen() : screen(), m_margins);
}

void MainWindow::placeFrame(const QRect &frame, const QRect &current, const QMargins &margins)
{
    if (frame != current)
        setGeometry(frame.marginsRemoved(margins));
}

void MainWindow::fitFramed()
{
    QWindow *handle = windowHandle();
    if (m_fittedFramed || !handle || !isVisible() ||
        (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
        return;
    // Asked of the window itself: the widget learns of the margins only
    // with a move, and a manager that frames the window around its place
    // does not move it.
    const QMargins margins = handle->frameMargins();
    if (margins.isNull())
        return; // not framed (yet)
    m_fittedFramed = true;
    handle->removeEventFilter(this); // fitted once; later moves are the user's
    m_margins = margins;
    updateRoom();
    // Moved or resized since it was placed, by the user or by the manager
    // as it mapped the window: that place stands. Asked of the window
    // system, as this event may have waited while the user moved it.
    if (WindowPlace::current(*handle).value_or(geometry()) != m_placed)
        return;
    const QRect frame = geometry().marginsAdded(margins);
    if (const QScreen *screen = this->screen())
        placeFrame(WindowFit::fitted(frame, screen->availableGeometry()), frame, margins);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    // On screen, the window has its manager's frame.
    if (watched == windowHandle() && event->type() == QEvent::Expose && windowHandle()->isExposed())
        fitFramed();
    return QMainWindow::eventFilter(watched, event);
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
    if (QWindow *handle = windowHandle(); handle && !m_fittedFramed)
        handle->installEventFilter(this);
    // The room follows the window to another screen, and a panel that
    // comes or goes.
    if (QWindow *handle = windowHandle(); handle && !std::exchange(m_watchesScreen, true)) {
        const auto watchScreen = [this](QScreen *screen) {
            disconnect(m_screenWatch);
            if (screen)
                m_screenWatch =
                    connect(screen, &QScreen::availableGeometryChanged, this, &MainWindow::updateRoom);
            updateRoom();
        };
        connect(handle, &QWindow::screenChanged, this, watchScreen);
        watchScreen(handle->screen());
    }
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
