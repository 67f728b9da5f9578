#include "service/core/APIStream.h"

#include <QNetworkReply>

APIStream::APIStream(QNetworkReply *reply, APIClient *client, QObject *parent)
    : QObject(parent), m_reply(reply), m_client(client), m_host(client->host())
{
    reply->setParent(this);
    APIClient::keepReadBufferAt(reply, readBufferBytes);
    connect(reply, &QNetworkReply::metaDataChanged, this, &APIStream::takeHead);
    connect(reply, &QNetworkReply::readyRead, this, &APIStream::readBody);
    connect(reply, &QNetworkReply::finished, this, &APIStream::finish);
}

APIStream::~APIStream()
{
    if (m_reply) {
        // Deleting the reply aborts the transfer; nothing is reported.
        m_reply->disconnect(this);
        delete m_reply;
    }
}

void APIStream::abort()
{
    if (m_over || !m_reply)
        return;
    m_aborted = true;
    m_reply->abort();
}

void APIStream::takeHead()
{
    if (m_status || !m_reply)
        return;
    const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return;
    m_status = status.toInt();
    // The head is kept before the client hands a rolled token on, so that
    // whatever its receiver does, the body that follows is this stream's.
    if (*m_status >= 200 && *m_status <= 299)
        m_response = APIResponse{*m_status, m_reply->rawHeaderPairs()};
    if (m_client)
        m_client->validate(m_reply);
    if (m_response && !m_over)
        Q_EMIT responseReceived(*m_response);
}

void APIStream::readBody()
{
    takeHead();
    if (!m_status || !m_reply)
        return;
    if (m_response) {
        // In small pieces, so that a receiver that stops the stream part-way
        // never holds much more than it wanted.
        while (m_reply && !m_aborted && !m_over && m_reply->bytesAvailable() > 0) {
            const QByteArray bytes = m_reply->read(pieceBytes);
            if (!bytes.isEmpty())
                Q_EMIT received(bytes);
        }
        return;
    }
    const QByteArray bytes = m_reply->readAll();
    if (!m_over) {
        m_errorBody += bytes;
        if (m_errorBody.size() > maxErrorBodyBytes) {
            // An error's words come first; an endless body says no more.
            m_errorBody.truncate(maxErrorBodyBytes);
            m_reply->disconnect(this);
            m_reply->abort();
            failWithErrorBody();
        }
    }
}

void APIStream::finish()
{
    if (m_over)
        return;
    if (m_aborted) {
        fail(APIFailure::cancelled());
        return;
    }
    readBody();
    // A handler of the last piece may have aborted or ended the stream.
    if (m_over)
        return;
    if (m_aborted) {
        fail(APIFailure::cancelled());
        return;
    }
    if (!m_status || APIClient::failedInTransport(m_reply)) {
        fail(APIError::network(m_host));
    } else if (!m_response) {
        failWithErrorBody();
    } else {
        m_over = true;
        Q_EMIT finished();
    }
}

void APIStream::failWithErrorBody()
{
    fail(m_client ? m_client->errorReply(m_reply, m_errorBody, *m_status)
                  : APIError::from(m_errorBody, *m_status));
}

void APIStream::fail(const APIFailure &failure)
{
    m_over = true;
    Q_EMIT failed(failure);
}
