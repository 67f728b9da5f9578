#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QHash>
#include <QImage>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

// A loopback web host that answers every request with a small PNG and
// keeps the head of each request it was sent, so that a test can see who
// asked and with which headers.
class LoopbackImageHost final : public QObject
{
public:
    explicit LoopbackImageHost(const QHostAddress &address = QHostAddress::LocalHost)
    {
        m_server.listen(address);
        QImage image(8, 6, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        QBuffer buffer(&m_png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *peer = m_server.nextPendingConnection()) {
                connect(peer, &QTcpSocket::disconnected, peer, &QObject::deleteLater);
                connect(peer, &QTcpSocket::readyRead, this, [this, peer] { answer(peer); });
            }
        });
    }

    bool isListening() const { return m_server.isListening(); }
    quint16 port() const { return m_server.serverPort(); }
    // The heads of the requests answered so far, in order.
    const QList<QByteArray> &requests() const { return m_requests; }

private:
    void answer(QTcpSocket *peer)
    {
        QByteArray &pending = m_pending[peer];
        pending += peer->readAll();
        const qsizetype end = pending.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        m_requests.append(pending.left(end));
        m_pending.remove(peer);
        peer->write("HTTP/1.1 200 OK\r\ncontent-type: image/png\r\nconnection: close\r\ncontent-length: " +
                    QByteArray::number(m_png.size()) + "\r\n\r\n" + m_png);
        peer->disconnectFromHost();
    }

    QTcpServer m_server;
    QByteArray m_png;
    QList<QByteArray> m_requests;
    QHash<QTcpSocket *, QByteArray> m_pending;
};
