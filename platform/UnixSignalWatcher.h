#pragma once

#include <QList>
#include <QObject>

class QSocketNotifier;

// Turns the termination signals the desktop sends (SIGTERM at logout or
// shutdown, SIGINT from a terminal, SIGHUP when the terminal goes away) into
// a Qt signal on the main thread, through a self-pipe, so the app can save
// before it ends. One instance per process.
class UnixSignalWatcher final : public QObject
{
    Q_OBJECT

public:
    explicit UnixSignalWatcher(const QList<int> &signalNumbers, QObject *parent = nullptr);
    ~UnixSignalWatcher() override;

Q_SIGNALS:
    void signalReceived(int signalNumber);

private:
    void readSignals();

    QList<int> m_signals;
    QSocketNotifier *m_notifier = nullptr;
};
