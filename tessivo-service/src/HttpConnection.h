#pragma once

#include "TestHooks.h"

#include <QObject>
#include <QTcpSocket>
#include <QTimer>

#include <functional>

namespace tessivo::server {

// One HTTP/1.1 client connection: parses requests one at a time (keep-alive,
// no pipelining in parallel) and writes whole or chunked replies. Bodies are
// refused by their declared length before any of them is buffered.
class HttpConnection final : public QObject
{
    Q_OBJECT

public:
    // Asked, from the request's head, before a body over 64 KB is read: the
    // largest body accepted, or a negative value when the request lacks the
    // credentials for a large body (answered 401).
    using BodyLimit = std::function<qint64(const LoggedRequest &head)>;

    HttpConnection(QTcpSocket *socket, BodyLimit limit, QObject *parent = nullptr);

    void reply(int status, const HeaderList &headers, const QByteArray &body);
    // A streamed reply in chunked transfer coding.
    void beginStream(int status, const HeaderList &headers);
    void writeChunk(const QByteArray &bytes);
    void endStream();
    // Drops the connection at once, whatever was sent so far.
    void abort();

    bool isOpen() const;

signals:
    void requestReady(const tessivo::server::LoggedRequest &request);
    void closed();
    // A request answered here, from its head alone; its body is not kept.
    void refused(const tessivo::server::LoggedRequest &head);

private:
    void readMore();
    bool parseHead();
    void finishReply(bool close);
    void rejectAndClose(int status, const QByteArray &code, const QByteArray &message);

    QTcpSocket *m_socket;
    BodyLimit m_limit;
    QByteArray m_buffer;
    LoggedRequest m_request;
    qint64 m_bodyLength = -1; // -1: still reading the head
    bool m_busy = false;      // a request is waiting for its reply
    bool m_closeAfterReply = false;
    bool m_streaming = false;
    qint64 m_discardRemaining = 0;
    QTimer m_idle;
};

// Reason phrase for a status code.
QByteArray reasonPhrase(int status);

} // namespace tessivo::server
