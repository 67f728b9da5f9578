#pragma once

// Runs a test on an X server of its own: key grabs are global to a display,
// so tests that grab must not share one. The server starts before the
// application object and ends with the test.

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <xcb/xcb.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace OwnXServer {

// Starts Xvfb on a free display with one screen of `screen` (width x
// height x depth) and points DISPLAY at it; the pid, or -1.
inline pid_t start(const char *screen = "1280x800x24")
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        // A test that crashes takes its server with it.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        close(fds[0]);
        const std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen, "-nolisten", "tcp",
               static_cast<char *>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string display;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n')
        display += c;
    close(fds[0]);
    if (pid < 0 || display.empty())
        return -1;
    setenv("DISPLAY", (":" + display).c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");
    setenv("XDG_SESSION_TYPE", "x11", 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    return pid;
}

inline void stop(pid_t pid)
{
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

// Whether the window manager (process `manager`) has taken a window of ours
// into its care, as it reparents every window it manages into its frame.
// openbox reads the events that come while it starts into a queue of its
// own, and then waits on the X connection alone: a window shown in that
// time stays unmapped until the next event of any kind reaches the manager.
// The wait sends it one (a property change on the root window) at every
// look, so a request held back that way is answered too.
inline bool managesWindows(pid_t manager, int limitMs)
{
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return false;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const xcb_window_t window = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, root, 0, 0, 64, 64, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_map_window(connection, window);
    static constexpr char nudge[] = "_TESSIVO_TEST_NUDGE";
    xcb_intern_atom_reply_t *atom =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, sizeof nudge - 1, nudge), nullptr);
    QElapsedTimer waited;
    waited.start();
    bool managed = false;
    while (atom && !managed && waited.elapsed() < limitMs && waitpid(manager, nullptr, WNOHANG) == 0) {
        const uint32_t value = 1;
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, root, atom->atom, XCB_ATOM_CARDINAL, 32, 1,
                            &value);
        xcb_query_tree_reply_t *tree =
            xcb_query_tree_reply(connection, xcb_query_tree(connection, window), nullptr);
        managed = tree && tree->parent != root;
        free(tree);
        if (!managed)
            usleep(20000);
    }
    xcb_destroy_window(connection, window);
    if (atom)
        xcb_delete_property(connection, root, atom->atom);
    free(atom);
    xcb_disconnect(connection);
    return managed;
}

inline void stopWindowManager(pid_t manager);

// Runs openbox on the server, as a desktop would: windows then get frames,
// placement and activation from a window manager, asynchronously. Returns
// once the manager has announced itself on the root window and maps the
// windows it is asked to, as one that has run since the desktop started
// does; -1 when it did not within the usual limit.
inline pid_t startWindowManager()
{
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        execlp("openbox", "openbox", "--sm-disable", static_cast<char *>(nullptr));
        _exit(127);
    }
    if (pid < 0)
        return -1;
    // Announced, it redirects the windows shown from now on to itself; a
    // window shown before would be mapped without it.
    bool announced = false;
    for (int i = 0; i < 200 && !announced; ++i) {
        QProcess xprop;
        xprop.start(QStringLiteral("xprop"), {"-root", "_NET_SUPPORTING_WM_CHECK"});
        xprop.waitForFinished(TestWaits::limitMs);
        announced = xprop.readAllStandardOutput().contains("window id");
        if (!announced)
            usleep(50000);
    }
    if (announced && managesWindows(pid, TestWaits::limitMs))
        return pid;
    stopWindowManager(pid);
    return -1;
}

// Ends the window manager. openbox notes a SIGTERM and acts on it once its
// loop wakes; one that came while it was going back to waiting for the X
// connection would wait for the next event of any kind. Each look sends it
// one, as managesWindows() does.
inline void stopWindowManager(pid_t manager)
{
    kill(manager, SIGTERM);
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    static constexpr char nudge[] = "_TESSIVO_TEST_NUDGE";
    xcb_intern_atom_reply_t *atom =
        xcb_connection_has_error(connection)
            ? nullptr
            : xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, sizeof nudge - 1, nudge),
                                    nullptr);
    const xcb_window_t root = atom ? xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root : 0;
    QElapsedTimer waited;
    waited.start();
    while (waitpid(manager, nullptr, WNOHANG) == 0) {
        if (!atom || waited.elapsed() > TestWaits::limitMs) {
            kill(manager, SIGKILL);
            waitpid(manager, nullptr, 0);
            break;
        }
        const uint32_t value = 1;
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, root, atom->atom, XCB_ATOM_CARDINAL, 32, 1,
                            &value);
        xcb_flush(connection);
        usleep(20000);
    }
    free(atom);
    xcb_disconnect(connection);
}

// Presses keys as the user would (xdotool's key names), or asks about
// windows; what it printed.
inline QString xdotool(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    process.waitForFinished(TestWaits::limitMs);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// Another client: a connection of its own that tries to grab a combination
// of an evdev key and core modifier bits; false when it is held already.
class OtherClient
{
public:
    OtherClient() : m_connection(xcb_connect(nullptr, nullptr)) {}
    ~OtherClient() { xcb_disconnect(m_connection); }

    bool grab(int evdev, uint16_t modifiers)
    {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        xcb_generic_error_t *error = xcb_request_check(
            m_connection, xcb_grab_key_checked(m_connection, 0, root, modifiers, xcb_keycode_t(evdev + 8),
                                               XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        free(error);
        return !error;
    }

    // Key presses that reached this client through its grabs so far.
    int presses()
    {
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
            if ((event->response_type & 0x7f) == XCB_KEY_PRESS)
                ++m_presses;
            free(event);
        }
        return m_presses;
    }

private:
    int m_presses = 0;
    xcb_connection_t *m_connection;
};

// Super is Mod4 and Alt Mod1 in the server's default keymap.
constexpr uint16_t metaAlt = XCB_MOD_MASK_4 | XCB_MOD_MASK_1;

template <typename Test>
int run(int argc, char *argv[], const char *screen = "1280x800x24")
{
    const pid_t server = start(screen);
    if (server < 0)
        qFatal("Xvfb could not be started");
    int status = 0;
    {
        QApplication app(argc, argv);
        Test test;
        status = QTest::qExec(&test, argc, argv);
    }
    stop(server);
    return status;
}

} // namespace OwnXServer

#define OWN_X_SERVER_TEST_MAIN(Test)                                                                         \
    int main(int argc, char *argv[])                                                                         \
    {                                                                                                        \
        return OwnXServer::run<Test>(argc, argv);                                                            \
    }
