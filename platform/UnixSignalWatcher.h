#pragma once

#include <QList>
#include <QObject>

#include <functional>
#include <thread>

// Turns the termination signals the desktop sends (SIGTERM at logout or
// shutdown, SIGINT from a terminal, SIGHUP when the terminal goes away) into
// a Qt signal on the main thread, through a self-pipe, so the app can save
// before it ends. One instance per process.
//
// The pipe is read on a thread of its own, so a signal is seen even while the
// main thread is busy; `onWatcherThread` (optional) runs there for each
// signal, after signalReceived() has been queued for the main thread.
class UnixSignalWatcher final : public QObject
{
    Q_OBJECT

public:
    explicit UnixSignalWatcher(const QList<int> &signalNumbers, std::function<void(int)> onWatcherThread = {},
                               QObject *parent = nullptr);
    ~UnixSignalWatcher() override;

Q_SIGNALS:
    void signalReceived(int signalNumber);

private:
    void readSignals();

    QList<int> m_signals;
    std::function<void(int)> m_onWatcherThread;
    std::thread m_reader;
};
