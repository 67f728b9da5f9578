#pragma once

#include <QTcpServer>

#include <functional>

namespace tessivo::server {

// A listening socket that hands each accepted descriptor to `accepted`
// rather than wrapping it in a QTcpSocket.
class Listener final : public QTcpServer
{
public:
    explicit Listener(std::function<void(qintptr)> accepted, QObject *parent = nullptr)
        : QTcpServer(parent), m_accepted(std::move(accepted))
    {}

protected:
    void incomingConnection(qintptr descriptor) override { m_accepted(descriptor); }

private:
    std::function<void(qintptr)> m_accepted;
};

} // namespace tessivo::server
