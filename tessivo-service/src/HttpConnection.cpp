#include "HttpConnection.h"

#include "protocol/Routes.h"
#include "protocol/WireRecords.h"

#include <QUrl>

namespace tessivo::server {

namespace {
constexpr qsizetype maxHeadBytes = 64 * 1024;
// Refused bodies up to this size are read and dropped before closing.
constexpr qint64 maxDiscardBytes = 64 * 1024 * 1024;
// Bodies up to this size are read without asking the limit.
constexpr qint64 smallBodyBytes = protocol::smallBodyLimit;
// A connection that sends nothing for this long while no reply is pending
// is closed, so idle or stalled clients can't hold sockets for ever.
constexpr int idleTimeoutMs = 120 * 1000;

QByteArray errorJson(const QByteArray &code, const QByteArray &message)
{
    return ErrorBody{QString::fromLatin1(code), QString::fromLatin1(message)}.encoded();
}
} // namespace

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 100:
        return "Continue";
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 409:
        return "Conflict";
    case 411:
        return "Length Required";
    case 413:
        return "Payload Too Large";
    case 415:
        return "Unsupported Media Type";
    case 429:
        return "Too Many Requests";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

HttpConnection::HttpConnection(QTcpSocket *socket, BodyLimit limit, QObject *parent)
    : QObject(parent), m_socket(socket), m_limit(std::move(limit))
{
    m_socket->setParent(this);
    connect(m_socket, &QTcpSocket::readyRead, this, &HttpConnection::readMore);
    m_idle.setSingleShot(true);
    m_idle.setInterval(idleTimeoutMs);
    connect(&m_idle, &QTimer::timeout, this, [this] {
        if (!m_busy && !m_streaming)
            m_socket->abort();
    });
    m_idle.start();
    connect(m_socket, &QTcpSocket::disconnected, this, [this] {
        emit closed();
        deleteLater();
    });
}

bool HttpConnection::isOpen() const
{
    return m_socket->state() == QAbstractSocket::ConnectedState;
}

void HttpConnection::readMore()
{
    m_idle.start();
    if (m_discardRemaining > 0) {
        // Read and drop the refused body, so the client is still reading
        // when the reply arrives rather than meeting a reset connection.
        m_discardRemaining -= m_socket->skip(m_discardRemaining);
        if (m_discardRemaining <= 0)
            m_socket->disconnectFromHost();
        return;
    }
    if (m_closeAfterReply && !m_busy)
        return;
    m_buffer += m_socket->readAll();
    while (!m_busy) {
        if (m_bodyLength < 0) {
            if (!parseHead())
                return;
        }
        if (m_bodyLength < 0)
            return;
        if (m_buffer.size() < m_bodyLength)
            return;
        m_request.body = m_buffer.left(m_bodyLength);
        m_buffer.remove(0, m_bodyLength);
        m_bodyLength = -1;
        m_busy = true;
        LoggedRequest request = std::move(m_request);
        m_request = {};
        emit requestReady(request);
    }
}

// True when the head was consumed (or the connection refused); false when
// more bytes are needed.
bool HttpConnection::parseHead()
{
    const qsizetype end = m_buffer.indexOf("\r\n\r\n");
    if (end < 0) {
        if (m_buffer.size() > maxHeadBytes)
            rejectAndClose(431, "too_large", "Request headers are too large.");
        return false;
    }
    const QByteArray head = m_buffer.left(end);
    m_buffer.remove(0, end + 4);
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    if (requestLine.size() != 3 || !requestLine[2].startsWith("HTTP/1.")) {
        rejectAndClose(400, "bad_request", "Malformed request.");
        return false;
    }
    LoggedRequest request;
    request.method = requestLine[0];
    const QByteArray target = requestLine[1];
    const qsizetype question = target.indexOf('?');
    request.hadQuery = question >= 0;
    request.rawQuery = request.hadQuery ? target.mid(question + 1) : QByteArray();
    request.path = QUrl::fromPercentEncoding(question >= 0 ? target.left(question) : target);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0) {
            rejectAndClose(400, "bad_request", "Malformed header.");
            return false;
        }
        request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }
    m_closeAfterReply = requestLine[2] == "HTTP/1.0" || request.header("connection").toLower() == "close";
    if (request.hasHeader("transfer-encoding")) {
        rejectAndClose(411, "length_required", "Send the body with a Content-Length.");
        return false;
    }
    bool ok = true;
    const QByteArray declared = request.header("content-length");
    const qint64 length = declared.isEmpty() ? 0 : declared.toLongLong(&ok);
    if (!ok || length < 0) {
        rejectAndClose(400, "bad_request", "Malformed Content-Length.");
        return false;
    }
    const qint64 limit = length > smallBodyBytes ? m_limit(request) : smallBodyBytes;
    if (length > limit) {
        if (length <= maxDiscardBytes)
            m_discardRemaining = std::max<qint64>(0, length - m_buffer.size());
        emit refused(request);
        if (limit < 0)
            rejectAndClose(401, "unauthorized", "Sign in to continue.");
        else
            rejectAndClose(413, "too_large", "Too large.");
        return false;
    }
    if (length > 0 && request.header("expect").toLower() == "100-continue")
        m_socket->write("HTTP/1.1 100 Continue\r\n\r\n");
    m_request = std::move(request);
    m_bodyLength = length;
    return true;
}

void HttpConnection::rejectAndClose(int status, const QByteArray &code, const QByteArray &message)
{
    m_buffer.clear();
    m_busy = true;
    m_closeAfterReply = true;
    reply(status, {{"content-type", "application/json"}}, errorJson(code, message));
}

static QByteArray headBytes(int status, const HeaderList &headers, bool close)
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    for (const auto &[name, value] : headers)
        out += name + ": " + value + "\r\n";
    if (close)
        out += "connection: close\r\n";
    return out;
}

void HttpConnection::reply(int status, const HeaderList &headers, const QByteArray &body)
{
    if (!isOpen())
        return;
    QByteArray out = headBytes(status, headers, m_closeAfterReply);
    out += "content-length: " + QByteArray::number(body.size()) + "\r\n\r\n";
    m_socket->write(out);
    m_socket->write(body);
    finishReply(m_closeAfterReply);
}

void HttpConnection::beginStream(int status, const HeaderList &headers)
{
    if (!isOpen())
        return;
    m_streaming = true;
    m_socket->write(headBytes(status, headers, m_closeAfterReply) + "transfer-encoding: chunked\r\n\r\n");
    m_socket->flush();
}

void HttpConnection::writeChunk(const QByteArray &bytes)
{
    if (!isOpen() || !m_streaming || bytes.isEmpty())
        return;
    m_socket->write(QByteArray::number(bytes.size(), 16) + "\r\n" + bytes + "\r\n");
    m_socket->flush();
}

void HttpConnection::endStream()
{
    if (!isOpen() || !m_streaming)
        return;
    m_streaming = false;
    m_socket->write("0\r\n\r\n");
    finishReply(m_closeAfterReply);
}

void HttpConnection::abort()
{
    m_socket->abort();
}

void HttpConnection::finishReply(bool close)
{
    m_busy = false;
    m_idle.start();
    if (m_discardRemaining > 0)
        return;
    if (close) {
        m_socket->disconnectFromHost();
        return;
    }
    if (!m_buffer.isEmpty() || m_socket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &HttpConnection::readMore, Qt::QueuedConnection);
}

} // namespace tessivo::server
