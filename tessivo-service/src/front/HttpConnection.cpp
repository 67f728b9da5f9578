#include "HttpConnection.h"

#include "Peer.h"
#include "RequestHead.h"

#include "protocol/Routes.h"
#include "protocol/WireRecords.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tessivo::server {

namespace {
// Bodies up to this size are read without asking for admission.
constexpr qint64 smallBodyBytes = protocol::smallBodyLimit;
// After a refusal, what the client still sends is read and dropped (up to
// this much, for this long) so that it meets the reply rather than a reset.
constexpr qint64 maxDiscardBytes = 64 * 1024 * 1024;
constexpr int lingerMs = 2000;
constexpr qsizetype readPiece = 64 * 1024;

QByteArray errorJson(const QByteArray &code, const QByteArray &message)
{
    return ErrorBody{QString::fromLatin1(code), QString::fromLatin1(message)}.encoded();
}

QByteArray headBytes(int status, const HeaderList &headers, bool close)
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    for (const auto &[name, value] : headers)
        out += name + ": " + value + "\r\n";
    if (close)
        out += "connection: close\r\n";
    return out;
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
    case 408:
        return "Request Timeout";
    case 409:
        return "Conflict";
    case 411:
        return "Length Required";
    case 413:
        return "Payload Too Large";
    case 415:
        return "Unsupported Media Type";
    case 421:
        return "Misdirected Request";
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
    case 505:
        return "HTTP Version Not Supported";
    default:
        return "Status";
    }
}

HttpConnection::HttpConnection(qintptr descriptor, const QHostAddress &peer, const ServiceLimits &limits,
                               const QList<QHostAddress> &trustedProxies, const SteadyClock &clock,
                               QObject *parent)
    : QObject(parent), m_descriptor(descriptor), m_socketPeer(peer), m_limits(limits),
      m_trustedProxies(trustedProxies), m_clock(clock),
      m_readNotifier(new QSocketNotifier(descriptor, QSocketNotifier::Read, this)),
      m_writeNotifier(new QSocketNotifier(descriptor, QSocketNotifier::Write, this)),
      m_floor(limits.floorBytesPerSecond, limits.floorWindowMs, limits.floorGraceMs)
{
    m_readNotifier->setEnabled(false);
    m_writeNotifier->setEnabled(false);
    // The accepted descriptor comes blocking: one client that stops reading
    // would then hold the whole event loop in send().
    ::fcntl(int(descriptor), F_SETFL, ::fcntl(int(descriptor), F_GETFL) | O_NONBLOCK);
    // A reply goes out in pieces (head, body, chunks): with Nagle's delay
    // each piece after the first would wait for the client's delayed
    // acknowledgement, some 40 ms on every request.
    const int noDelay = 1;
    ::setsockopt(int(descriptor), IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    // The kernel would otherwise take megabytes of a reply its reader never
    // asked for (the send buffer grows on its own), and each connection
    // would ask the database for that much: what waits unsent is kept to
    // about one piece, while what is in flight still grows with the link.
    const int unsentBytes = int(m_limits.drainBytes) * 2;
    ::setsockopt(int(descriptor), IPPROTO_TCP, TCP_NOTSENT_LOWAT, &unsentBytes, sizeof unsentBytes);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &HttpConnection::onReadable);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &HttpConnection::onWritable);
    m_idle.setSingleShot(true);
    m_idle.setInterval(m_limits.idleTimeoutMs);
    connect(&m_idle, &QTimer::timeout, this, [this] {
        switch (m_state) {
        case State::Head:
            // A reader still taking the last reply is judged by its pace;
            // a head on its way has its own deadline.
            if (owesReply())
                m_idle.start();
            else if (!m_headDeadline.isActive())
                closeNow();
            break;
        case State::Admission:
        case State::Body:
            break; // the floor decides
        case State::Busy:
            // A route still working on its reply keeps the connection, and
            // so does a reader that takes it at its floor rate; a reply
            // that stopped coming does not.
            if (owesReply())
                m_idle.start();
            else if (m_bodyRemaining > 0 || m_streaming)
                closeNow();
            break;
        case State::Closing:
        case State::Closed:
            closeNow();
            break;
        }
    });
    // The whole head within the deadline from the start: a connection that
    // sends nothing doesn't hold its slot for the idle timeout.
    m_headDeadline.setSingleShot(true);
    m_headDeadline.setInterval(m_limits.headDeadlineMs);
    connect(&m_headDeadline, &QTimer::timeout, this, [this] {
        if (m_state == State::Head)
            refuse(408, "timeout", "The request took too long to arrive.");
    });
    m_progressCheck.setInterval(m_limits.progressCheckMs);
    connect(&m_progressCheck, &QTimer::timeout, this, &HttpConnection::checkProgress);
    m_linger.setSingleShot(true);
    m_linger.setInterval(lingerMs);
    connect(&m_linger, &QTimer::timeout, this, &HttpConnection::closeNow);
}

HttpConnection::~HttpConnection()
{
    if (m_descriptor >= 0)
        ::close(int(m_descriptor));
}

void HttpConnection::start()
{
    if (m_started || m_state != State::Head)
        return;
    m_started = true;
    m_readNotifier->setEnabled(true);
    m_idle.start();
    m_headDeadline.start();
}

void HttpConnection::onReadable()
{
    if (m_state == State::Closing) {
        char scratch[readPiece];
        const ssize_t n = ::recv(int(m_descriptor), scratch, sizeof scratch, 0);
        if (n > 0)
            m_discarded += n;
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR) || m_discarded > maxDiscardBytes)
            closeNow();
        return;
    }
    // Only what the current request needs is read; the rest waits in the
    // kernel, which slows a client that sends ahead.
    const bool wanted =
        m_state == State::Body || (m_state == State::Head && m_in.size() <= m_limits.maxHeadBytes);
    if (!wanted) {
        m_readNotifier->setEnabled(false);
        return;
    }
    const qsizetype before = m_in.size();
    m_in.resize(before + readPiece);
    const ssize_t n = ::recv(int(m_descriptor), m_in.data() + before, readPiece, 0);
    m_in.resize(before + std::max<ssize_t>(n, 0));
    m_received += std::max<ssize_t>(n, 0);
    if (n < 0) {
        if (errno != EAGAIN && errno != EINTR)
            closeNow();
        return;
    }
    if (n == 0) {
        // The client may have only closed its sending side: it still gets
        // the reply to what it sent.
        m_readClosed = true;
        m_readNotifier->setEnabled(false);
    }
    m_idle.start();
    process();
}

void HttpConnection::process()
{
    if (m_state == State::Head) {
        if (!m_in.isEmpty() && !m_headDeadline.isActive())
            m_headDeadline.start();
        if (!parseHead()) {
            if (m_state == State::Head && m_readClosed)
                closeGracefully();
            return;
        }
    }
    if (m_state != State::Body)
        return;
    if (m_in.size() < m_bodyLength) {
        if (m_readClosed)
            closeNow(); // the body will never be complete
        else
            m_readNotifier->setEnabled(true);
        return;
    }
    m_floor.stop();
    if (m_in.size() == m_bodyLength) {
        // Most bodies: no copy of what may be a hundred megabytes.
        m_request.body = std::move(m_in);
        m_in = QByteArray();
    } else {
        m_request.body = m_in.left(m_bodyLength);
        m_in.remove(0, m_bodyLength);
    }
    m_state = State::Busy;
    m_readNotifier->setEnabled(false);
    LoggedRequest request = std::move(m_request);
    m_request = {};
    emit requestReady(request);
}

// True once a head was consumed; false when more bytes are needed or the
// request was refused.
bool HttpConnection::parseHead()
{
    RequestHead head = parseRequestHead(m_in, m_limits.maxHeadBytes);
    if (head.outcome == RequestHead::Outcome::Incomplete) {
        m_readNotifier->setEnabled(true);
        return false;
    }
    m_headDeadline.stop();
    if (head.outcome == RequestHead::Outcome::Refused) {
        refuse(head.refusal.status, head.refusal.code, head.refusal.message);
        return false;
    }
    m_in.remove(0, head.consumed);
    m_request = std::move(head.request);
    QList<QByteArray> forwardedFor;
    for (const auto &[name, value] : std::as_const(m_request.headers)) {
        if (name.compare("x-forwarded-for", Qt::CaseInsensitive) == 0)
            forwardedFor.append(value);
    }
    m_request.peer = forwardedClient(m_socketPeer, forwardedFor, m_trustedProxies);
    m_http10 = head.http10;
    m_closeAfterReply = head.closeAfterReply;
    m_bodyLength = head.contentLength;
    m_state = m_bodyLength > smallBodyBytes ? State::Admission : State::Body;
    emit headParsed(m_request);
    if (m_state == State::Admission) {
        m_readNotifier->setEnabled(false);
        emit bodyAdmission(m_request);
        return false;
    }
    if (m_state != State::Body)
        return false; // refused by a receiver of headParsed
    if (m_bodyLength > 0) {
        startFloor();
        if (m_request.header("expect").toLower() == "100-continue")
            send("HTTP/1.1 100 Continue\r\n\r\n");
    }
    return true;
}

void HttpConnection::admitBody(qint64 limit)
{
    if (m_state != State::Admission)
        return;
    if (limit < 0 || m_bodyLength > limit) {
        emit refused(m_request);
        if (limit < 0) {
            const ErrorBody unauthorized = ErrorBody::unauthorized();
            refuse(401, unauthorized.code.toLatin1(), unauthorized.message.toUtf8());
        } else {
            refuse(413, "too_large", "Too large.");
        }
        return;
    }
    m_state = State::Body;
    // Admitted whole: one block, not a copy at each doubling.
    m_in.reserve(m_in.size() + m_bodyLength + readPiece);
    startFloor();
    if (m_request.header("expect").toLower() == "100-continue")
        send("HTTP/1.1 100 Continue\r\n\r\n");
    process();
}

void HttpConnection::refuse(int status, const QByteArray &code, const QByteArray &message,
                            const HeaderList &headers)
{
    if (m_state == State::Closing || m_state == State::Closed)
        return;
    m_in = QByteArray();
    m_floor.stop();
    m_closeAfterReply = true;
    m_streaming = false;
    m_bodyRemaining = -1;
    m_state = State::Busy;
    reply(status, HeaderList{{"content-type", "application/json"}} + headers, errorJson(code, message));
}

void HttpConnection::reply(int status, const HeaderList &headers, const QByteArray &body)
{
    if (m_state != State::Busy)
        return;
    send(headBytes(status, headers, m_closeAfterReply) +
         "content-length: " + QByteArray::number(body.size()) + "\r\n\r\n");
    send(body);
    finishReply();
}

void HttpConnection::beginBody(int status, const HeaderList &headers, qint64 length)
{
    if (m_state != State::Busy)
        return;
    send(headBytes(status, headers, m_closeAfterReply) + "content-length: " + QByteArray::number(length) +
         "\r\n\r\n");
    m_bodyRemaining = length;
    if (length == 0) {
        m_bodyRemaining = -1;
        finishReply();
        return;
    }
    afterFlush();
}

void HttpConnection::writeBody(const QByteArray &bytes)
{
    if (m_state != State::Busy || m_bodyRemaining < 0)
        return;
    const QByteArray piece = bytes.left(m_bodyRemaining);
    m_bodyRemaining -= piece.size();
    send(piece);
    if (m_bodyRemaining == 0) {
        m_bodyRemaining = -1;
        finishReply();
    } else if (m_descriptor >= 0) {
        // A piece the kernel took at once arms no write notification, so
        // the next one is asked for here.
        afterFlush();
    }
}

void HttpConnection::beginStream(int status, const HeaderList &headers)
{
    if (m_state != State::Busy)
        return;
    m_streaming = true;
    // HTTP/1.0 knows no chunks: the body ends where the connection does.
    send(headBytes(status, headers, m_closeAfterReply) +
         (m_http10 ? "\r\n" : "transfer-encoding: chunked\r\n\r\n"));
}

void HttpConnection::writeChunk(const QByteArray &bytes)
{
    if (m_state != State::Busy || !m_streaming || bytes.isEmpty())
        return;
    send(m_http10 ? bytes : QByteArray::number(bytes.size(), 16) + "\r\n" + bytes + "\r\n");
    // As with writeBody: a chunk the kernel took at once arms no write
    // notification.
    if (m_descriptor >= 0)
        afterFlush();
}

void HttpConnection::endStream()
{
    if (m_state != State::Busy || !m_streaming)
        return;
    m_streaming = false;
    if (!m_http10)
        send("0\r\n\r\n");
    finishReply();
}

bool HttpConnection::isIdle() const
{
    return (m_state == State::Head || m_state == State::Closing) && !owesReply();
}

bool HttpConnection::mayGiveWay() const
{
    if (m_state == State::Closed)
        return false;
    return isIdle() || (m_floor.isRunning() && m_floor.behind(m_clock.now(), progress()));
}

qint64 HttpConnection::unacknowledged() const
{
    int bytes = 0;
    if (m_descriptor < 0 || ::ioctl(int(m_descriptor), SIOCOUTQ, &bytes) != 0)
        return 0;
    return bytes;
}

bool HttpConnection::owesReply() const
{
    return queuedBytes() > 0 || unacknowledged() > 0;
}

qint64 HttpConnection::progress() const
{
    return m_state == State::Body ? m_received : m_written - unacknowledged();
}

void HttpConnection::startFloor()
{
    m_floor.start(m_clock.now(), progress(),
                  m_state == State::Body ? ProgressFloor::Grace::Counts : ProgressFloor::Grace::IsForgotten);
    m_progressCheck.start();
}

void HttpConnection::checkProgress()
{
    const qint64 now = m_clock.now();
    if (m_state == State::Body) {
        m_floor.sample(now, m_received);
        if (m_floor.failed(now, m_received))
            refuse(408, "timeout", "The request took too long to arrive.");
        return;
    }
    // A reply is judged while its reader has some of it to take, here or
    // in the kernel; a route still working on it isn't the reader's doing.
    if (m_state == State::Closed || m_state == State::Admission || !owesReply()) {
        m_floor.stop();
        m_progressCheck.stop();
        return;
    }
    const qint64 taken = progress();
    if (!m_floor.isRunning()) {
        m_floor.start(now, taken, ProgressFloor::Grace::IsForgotten);
        return;
    }
    m_floor.sample(now, taken);
    if (m_floor.failed(now, taken))
        reset();
}

void HttpConnection::abort()
{
    closeNow();
}

void HttpConnection::reset()
{
    if (m_descriptor >= 0 && owesReply()) {
        const linger immediately{1, 0};
        ::setsockopt(int(m_descriptor), SOL_SOCKET, SO_LINGER, &immediately, sizeof immediately);
    }
    closeNow();
}

void HttpConnection::send(const QByteArray &bytes)
{
    if (m_descriptor < 0 || bytes.isEmpty())
        return;
    m_out += bytes;
    flush();
    // A whole reply may be larger; what a stream adds on top of unread
    // output is not let grow without end.
    if (m_descriptor >= 0 && (m_streaming || m_bodyRemaining > 0) && queuedBytes() > m_limits.maxQueuedBytes)
        closeNow();
}

void HttpConnection::flush()
{
    while (m_descriptor >= 0 && m_outPos < m_out.size()) {
        const ssize_t n = ::send(int(m_descriptor), m_out.constData() + m_outPos,
                                 size_t(m_out.size() - m_outPos), MSG_NOSIGNAL);
        if (n > 0) {
            m_outPos += n;
            m_written += n;
            m_idle.start();
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        } else {
            closeNow();
            return;
        }
    }
    if (m_descriptor < 0)
        return;
    if (m_outPos == m_out.size()) {
        m_out.clear();
        m_outPos = 0;
    } else if (m_outPos >= 1024 * 1024) {
        m_out.remove(0, m_outPos);
        m_outPos = 0;
    }
    m_writeNotifier->setEnabled(queuedBytes() > 0);
    if (m_state == State::Body)
        return;
    // The kernel's buffer is full: the reader's pace counts from here, not
    // from what the buffers took at once.
    if (queuedBytes() > 0 && !m_floor.isRunning())
        startFloor();
    // Whatever the kernel still holds is looked after until it is taken.
    if (!m_progressCheck.isActive())
        m_progressCheck.start();
}

void HttpConnection::onWritable()
{
    flush();
    if (m_descriptor >= 0)
        afterFlush();
}

void HttpConnection::afterFlush()
{
    if (m_state == State::Closed)
        return;
    if (m_state == State::Closing) {
        if (queuedBytes() == 0 && !m_linger.isActive()) {
            // Half-close and read what is still coming until the client
            // closes too, so a refused body doesn't turn the reply into a reset.
            ::shutdown(int(m_descriptor), SHUT_WR);
            m_linger.start();
            m_readNotifier->setEnabled(true);
        }
        return;
    }
    if (queuedBytes() >= m_limits.drainBytes)
        return;
    if (m_state == State::Busy && (m_bodyRemaining > 0 || m_streaming))
        emit wantsBody();
    else if (m_state == State::Head)
        resumeReading();
}

void HttpConnection::finishReply()
{
    if (m_state == State::Closed)
        return; // the client went away while the reply was written
    m_state = m_closeAfterReply ? State::Closing : State::Head;
    m_idle.start();
    if (m_state == State::Closing)
        m_readNotifier->setEnabled(false);
    afterFlush();
}

void HttpConnection::resumeReading()
{
    // Later, not within the reply call: the next request must not be
    // handled inside the handler of the one before it.
    if (m_resumeQueued)
        return;
    m_resumeQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_resumeQueued = false;
            if (m_state != State::Head)
                return;
            if (!m_in.isEmpty())
                process();
            else if (m_readClosed)
                closeGracefully();
            else
                m_readNotifier->setEnabled(true);
        },
        Qt::QueuedConnection);
}

void HttpConnection::closeGracefully()
{
    m_state = State::Closing;
    m_readNotifier->setEnabled(false);
    afterFlush();
}

void HttpConnection::closeNow()
{
    if (m_state == State::Closed)
        return;
    m_state = State::Closed;
    m_readNotifier->setEnabled(false);
    m_writeNotifier->setEnabled(false);
    m_idle.stop();
    m_headDeadline.stop();
    m_progressCheck.stop();
    m_floor.stop();
    m_linger.stop();
    if (m_descriptor >= 0)
        ::close(int(m_descriptor));
    m_descriptor = -1;
    m_out.clear();
    m_outPos = 0;
    m_in.clear();
    emit closed();
    deleteLater();
}

} // namespace tessivo::server
