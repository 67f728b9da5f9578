#pragma once

#include "ProgressFloor.h"
#include "ServiceTypes.h"

#include <QObject>
#include <QTimer>

class QSocketNotifier;

namespace tessivo::server {

// One HTTP/1.1 client connection on a socket of its own. Requests are read
// one at a time: while one waits for its reply nothing more is read, so
// unread input stays in the kernel and throttles the client. Bodies over
// 64 KiB wait for `admitBody` before any of them is buffered. The head has
// a deadline; a body being received and a reply its reader has yet to take
// keep a floor rate (ProgressFloor); the idle timeout covers the time
// between requests and a reply that stops coming.
class HttpConnection final : public QObject
{
    Q_OBJECT

public:
    HttpConnection(qintptr descriptor, const QHostAddress &peer, const ServiceLimits &limits,
                   const QList<QHostAddress> &trustedProxies, const SteadyClock &clock,
                   QObject *parent = nullptr);
    ~HttpConnection() override;

    // The socket's peer address.
    QHostAddress socketPeer() const { return m_socketPeer; }

    // Begins reading requests. Until then the connection waits for a slot:
    // nothing is read and no deadline runs.
    void start();

    // Answers `bodyAdmission`: the largest body accepted, or a negative
    // value when the request lacks the credentials for a large body.
    void admitBody(qint64 limit);

    void reply(int status, const HeaderList &headers, const QByteArray &body);
    // A reply of `length` bytes written in pieces with `writeBody`;
    // `wantsBody` asks for the next piece whenever the client has read
    // most of what was sent.
    void beginBody(int status, const HeaderList &headers, qint64 length);
    void writeBody(const QByteArray &bytes);
    // A streamed reply in chunked transfer coding (to HTTP/1.0, ended by
    // closing); `wantsBody` asks for more as with `beginBody`.
    void beginStream(int status, const HeaderList &headers);
    void writeChunk(const QByteArray &bytes);
    void endStream();
    // Answers with an error and closes, whatever the connection was doing.
    void refuse(int status, const QByteArray &code, const QByteArray &message,
                const HeaderList &headers = {});
    // Drops the connection at once, whatever was sent so far.
    void abort();
    // Drops it at once together with whatever of a reply the kernel still
    // holds: a reader cut off for its pace gets no more of it.
    void reset();

    bool isOpen() const { return m_descriptor >= 0; }
    // Between requests or still receiving a head, with nothing left to send:
    // closing it loses nobody anything.
    bool isIdle() const;
    // Idle, or a body or reply behind its floor rate: at the connection cap
    // it gives way to a new one.
    bool mayGiveWay() const;
    qint64 queuedBytes() const { return m_out.size() - m_outPos; }
    // An admitted body is still on its way.
    bool isReceivingBody() const { return m_state == State::Body; }

signals:
    // Every request head as soon as it is parsed; a receiver may refuse it.
    void headParsed(const tessivo::server::LoggedRequest &head);
    // A head whose body is over 64 KiB; answer with admitBody().
    void bodyAdmission(const tessivo::server::LoggedRequest &head);
    void requestReady(const tessivo::server::LoggedRequest &request);
    void wantsBody();
    void closed();
    // A request answered here, from its head alone; its body is not kept.
    void refused(const tessivo::server::LoggedRequest &head);

private:
    enum class State { Head, Admission, Body, Busy, Closing, Closed };

    void onReadable();
    void onWritable();
    void process();
    bool parseHead();
    void send(const QByteArray &bytes);
    void flush();
    void afterFlush();
    void finishReply();
    void resumeReading();
    void closeGracefully();
    void closeNow();
    void startFloor();
    void checkProgress();
    // Bytes the kernel holds that the peer has not acknowledged.
    qint64 unacknowledged() const;
    // Reply bytes the reader has yet to take, here or in the kernel.
    bool owesReply() const;
    // What the floor counts: body bytes received, or reply bytes taken.
    qint64 progress() const;

    qintptr m_descriptor;
    QHostAddress m_socketPeer;
    ServiceLimits m_limits;
    QList<QHostAddress> m_trustedProxies;
    const SteadyClock &m_clock;
    QSocketNotifier *m_readNotifier;
    QSocketNotifier *m_writeNotifier;
    QByteArray m_in;
    QByteArray m_out;
    qsizetype m_outPos = 0;
    State m_state = State::Head;
    LoggedRequest m_request;
    qint64 m_bodyLength = 0;
    qint64 m_bodyRemaining = -1; // of a reply begun with beginBody; -1: none
    qint64 m_discarded = 0;
    qint64 m_received = 0;
    qint64 m_written = 0;
    bool m_streaming = false;
    bool m_http10 = false; // the request being answered
    bool m_closeAfterReply = false;
    bool m_readClosed = false;
    bool m_resumeQueued = false;
    bool m_started = false;
    QTimer m_idle;
    QTimer m_headDeadline;
    ProgressFloor m_floor;
    QTimer m_progressCheck;
    QTimer m_linger;
};

// Reason phrase for a status code.
QByteArray reasonPhrase(int status);

} // namespace tessivo::server
