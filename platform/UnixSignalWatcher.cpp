#include "platform/UnixSignalWatcher.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};
// Written by the destructor to end the reading thread; no signal is 0.
constexpr char stopByte = 0;

void onSignal(int number)
{
    // Async-signal-safe: one byte into the pipe, errno preserved.
    const int saved = errno;
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

UnixSignalWatcher::UnixSignalWatcher(const QList<int> &signalNumbers,
                                     std::function<void(int)> onWatcherThread, QObject *parent)
    : QObject(parent), m_signals(signalNumbers), m_onWatcherThread(std::move(onWatcherThread))
{
    if (signalPipe[0] < 0) {
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) {
            qWarning("[shell] cannot watch termination signals");
            return;
        }
        ::fcntl(signalPipe[1], F_SETFL, ::fcntl(signalPipe[1], F_GETFL) | O_NONBLOCK);
    }
    m_reader = std::thread([this] { readSignals(); });

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : m_signals)
        ::sigaction(number, &action, nullptr);
}

UnixSignalWatcher::~UnixSignalWatcher()
{
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int number : std::as_const(m_signals))
        ::sigaction(number, &action, nullptr);
    if (m_reader.joinable()) {
        [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &stopByte, 1);
        m_reader.join();
    }
}

void UnixSignalWatcher::readSignals()
{
    // The thread blocks every signal, so handlers run on other threads and
    // this read is never interrupted.
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    for (;;) {
        char byte = 0;
        const ssize_t got = ::read(signalPipe[0], &byte, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got != 1 || byte == stopByte)
            return;
        const int number = static_cast<unsigned char>(byte);
        QMetaObject::invokeMethod(
            this, [this, number] { Q_EMIT signalReceived(number); }, Qt::QueuedConnection);
        if (m_onWatcherThread)
            m_onWatcherThread(number);
    }
}
