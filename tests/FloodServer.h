#pragma once

#include <QAtomicInteger>
#include <QByteArray>
#include <QMetaObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QUrl>

#include <memory>

// A hostile loopback service on a thread of its own: it answers every
// request with `head` and then a body of `budget` bytes, chunked or as they
// come (a head that declares its own length), written only as fast as the
// client takes it, so the server itself holds little. It runs while the
// test's main thread is busy, as a real service would.
class FloodServer final
{
public:
    enum class Body { chunked, plain };

    FloodServer(int status, Body body, qint64 budget, const QByteArray &extraHead = {})
    {
        QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + " Flood\r\nconnection: close\r\n" +
                          "content-type: text/plain; charset=utf-8\r\n" + extraHead;
        if (body == Body::chunked)
            head += "transfer-encoding: chunked\r\n";
        m_worker = new Worker(head + "\r\n", body == Body::chunked, budget, &m_served);
        m_worker->moveToThread(&m_thread);
        QObject::connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
        m_thread.start();
        QMetaObject::invokeMethod(m_worker, &Worker::listen, Qt::BlockingQueuedConnection, &m_port);
    }
    ~FloodServer()
    {
        m_thread.quit();
        m_thread.wait();
    }

    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_port)); }
    // Body bytes written so far.
    qint64 served() const { return m_served.loadAcquire(); }

private:
    class Worker final : public QObject
    {
    public:
        Worker(QByteArray head, bool chunked, qint64 budget, QAtomicInteger<qint64> *served)
            : m_head(std::move(head)), m_chunked(chunked), m_budget(budget), m_served(served),
              m_piece(QByteArray(4095, 'a').append('\n').repeated(16))
        {}

        quint16 listen()
        {
            m_server = new QTcpServer(this);
            m_server->listen(QHostAddress::LocalHost);
            QObject::connect(m_server, &QTcpServer::newConnection, this, [this] {
                while (QTcpSocket *peer = m_server->nextPendingConnection())
                    serve(peer);
            });
            return m_server->serverPort();
        }

    private:
        void serve(QTcpSocket *peer)
        {
            auto request = std::make_shared<QByteArray>();
            QObject::connect(peer, &QTcpSocket::disconnected, peer, &QObject::deleteLater);
            QObject::connect(peer, &QTcpSocket::readyRead, this, [this, peer, request] {
                if (request->contains("\r\n\r\n"))
                    return (void)peer->readAll();
                *request += peer->readAll();
                if (!request->contains("\r\n\r\n"))
                    return;
                peer->write(m_head);
                QObject::connect(peer, &QTcpSocket::bytesWritten, this, [this, peer] { feed(peer); });
                feed(peer);
            });
        }

        // Tops the socket's queue up to a little, until the budget is spent.
        void feed(QTcpSocket *peer)
        {
            while (peer->state() == QAbstractSocket::ConnectedState && peer->bytesToWrite() < (1 << 20)) {
                const qint64 served = m_served->loadRelaxed();
                if (served >= m_budget) {
                    if (m_chunked)
                        peer->write("0\r\n\r\n");
                    peer->disconnectFromHost();
                    return;
                }
                const QByteArray piece = m_piece.first(std::min<qint64>(m_piece.size(), m_budget - served));
                peer->write(m_chunked ? QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n"
                                      : piece);
                m_served->storeRelease(served + piece.size());
            }
        }

        QPointer<QTcpServer> m_server;
        const QByteArray m_head;
        const bool m_chunked;
        const qint64 m_budget;
        QAtomicInteger<qint64> *m_served;
        const QByteArray m_piece;
    };

    QThread m_thread;
    Worker *m_worker = nullptr;
    QAtomicInteger<qint64> m_served = 0;
    quint16 m_port = 0;
};
