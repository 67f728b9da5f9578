#pragma once

#include <QByteArray>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

// A loopback HTTP server whose reply the test writes piece by piece: the
// client side (APIClient, its stream, the AI stream over it) is the real one.
class LoopbackReply final : public QObject
{
public:
    LoopbackReply()
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            m_peer = m_server.nextPendingConnection();
            m_request.clear();
            ++m_requests;
            connect(m_peer, &QTcpSocket::readyRead, this, [this] { m_request += m_peer->readAll(); });
        });
    }

    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort())); }
    // Requests whose connection came in.
    int requests() const { return m_requests; }
    // Whether the newest request's head has arrived.
    bool requested() const { return m_request.contains("\r\n\r\n"); }
    bool connected() const { return m_peer && m_peer->state() == QAbstractSocket::ConnectedState; }

    // A 200 head with a chunked body to follow. Every reply closes its
    // connection, so each request comes on a new one.
    void head()
    {
        write("HTTP/1.1 200 OK\r\ncontent-type: text/plain; charset=utf-8\r\n"
              "transfer-encoding: chunked\r\nconnection: close\r\n\r\n");
    }
    void send(const QByteArray &bytes)
    {
        write(QByteArray::number(bytes.size(), 16) + "\r\n" + bytes + "\r\n");
    }
    void end() { write("0\r\n\r\n"); }
    // A whole error reply.
    void error(int status, const QByteArray &json)
    {
        write("HTTP/1.1 " + QByteArray::number(status) +
              " Error\r\nconnection: close\r\ncontent-type: application/json\r\ncontent-length: " +
              QByteArray::number(json.size()) + "\r\n\r\n" + json);
    }
    void drop()
    {
        if (m_peer)
            m_peer->abort();
    }

private:
    void write(const QByteArray &bytes)
    {
        if (m_peer) {
            m_peer->write(bytes);
            m_peer->flush();
        }
    }

    QTcpServer m_server;
    QPointer<QTcpSocket> m_peer;
    QByteArray m_request;
    int m_requests = 0;
};
