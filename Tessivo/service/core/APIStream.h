#pragma once

#include "service/core/APIClient.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>

#include <optional>

class QNetworkReply;

// One streamed request (APIClient::stream), on the main thread. Its signals
// come in this order:
//  - responseReceived(head) once, when a 2xx head arrives (a rolled token
//    has already been handed on);
//  - received(bytes) for each piece of the body as it arrives, in order;
//  - then exactly one of finished() (the body ended) or failed(failure).
// failed() carries:
//  - before any head, or on a head whose transfer then broke: the "network"
//    APIError;
//  - for a status outside 200-299: APIError::from() of the whole body, which
//    is read to its end first (no received() for it); a body longer than
//    maxErrorBodyBytes is cut there and the transfer ended;
//  - after responseReceived(), when the connection drops mid-body: the
//    "network" APIError; what was received stays received;
//  - after abort(): APIFailure::cancelled(), emitted before abort() returns.
// Connect with the default (direct) connection; from inside these signals,
// release the stream with deleteLater(), never with delete.
class APIStream final : public QObject
{
    Q_OBJECT

public:
    // What Qt may hold of the body between two reads: past it, it stops
    // reading from the connection until the main thread has taken the
    // bytes, so a reply that comes faster than it is used waits in the
    // network instead of in memory.
    static constexpr qint64 readBufferBytes = qint64(1) << 20;
    // The largest piece received() hands on at once.
    static constexpr qint64 pieceBytes = 64 * 1024;
    // The part of an error reply's body that is kept to describe it.
    static constexpr qsizetype maxErrorBodyBytes = 64 * 1024;

    ~APIStream() override;

    // Ends the transfer; does nothing once the stream is over.
    void abort();
    bool isOver() const { return m_over; }
    // The 2xx head, once received.
    const std::optional<APIResponse> &response() const { return m_response; }

Q_SIGNALS:
    void responseReceived(const APIResponse &response);
    void received(const QByteArray &bytes);
    void finished();
    void failed(const APIFailure &failure);

private:
    friend class APIClient;
    APIStream(QNetworkReply *reply, APIClient *client, QObject *parent);

    void takeHead();
    void readBody();
    void finish();
    void failWithErrorBody();
    void fail(const APIFailure &failure);

    QPointer<QNetworkReply> m_reply;
    QPointer<APIClient> m_client;
    QString m_host;
    std::optional<APIResponse> m_response;
    std::optional<int> m_status;
    QByteArray m_errorBody;
    bool m_aborted = false;
    bool m_over = false;
};
