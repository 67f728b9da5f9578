#pragma once

#include <QSocketNotifier>
#include <QTcpServer>

#include <functional>

namespace tessivo::server {

// A listening socket that hands each accepted descriptor to `accepted`
// rather than wrapping it in a QTcpSocket. While accepting is paused it can
// tell `waiting` that a client waits in the backlog.
class Listener final : public QTcpServer
{
public:
    Listener(std::function<void(qintptr)> accepted, std::function<void()> waiting, QObject *parent = nullptr)
        : QTcpServer(parent), m_accepted(std::move(accepted)), m_waiting(std::move(waiting))
    {}

    // Only while paused: the listener's own notifier and this one never
    // watch the socket at once.
    void watchBacklog(bool on)
    {
        if (!m_backlog && on && socketDescriptor() >= 0) {
            m_backlog = new QSocketNotifier(socketDescriptor(), QSocketNotifier::Read, this);
            connect(m_backlog, &QSocketNotifier::activated, this, [this] { m_waiting(); });
        }
        if (m_backlog)
            m_backlog->setEnabled(on);
    }

protected:
    void incomingConnection(qintptr descriptor) override { m_accepted(descriptor); }

private:
    std::function<void(qintptr)> m_accepted;
    std::function<void()> m_waiting;
    QSocketNotifier *m_backlog = nullptr;
};

} // namespace tessivo::server
