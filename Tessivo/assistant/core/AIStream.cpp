#include "assistant/core/AIStream.h"

#include "service/core/APIStream.h"

AIStream::AIStream(APIStream *source, Clock clock, QObject *parent)
    : QObject(parent), m_source(source), m_clock(std::move(clock))
{
    source->setParent(this);
    // Until the head arrives the interval counts from now.
    m_decoder.start(m_clock());
    connect(source, &APIStream::responseReceived, this, [this] {
        m_started = true;
        m_decoder.start(m_clock());
    });
    connect(source, &APIStream::received, this, &AIStream::take);
    connect(source, &APIStream::finished, this, [this] {
        if (const std::optional<QString> text = m_decoder.finish()) {
            Q_EMIT chunk(*text);
        }
        end(m_decoder.yielded() ? std::nullopt : std::optional(emptyError()));
    });
    connect(source, &APIStream::failed, this, [this](const APIFailure &failure) {
        if (failure.isCancelled()) {
            // Only cancel() aborts, and it has already gone quiet.
            return;
        }
        // Before the body the client's own words stand (unreachable, an error
        // status); a body that breaks off is the stream's failure.
        if (failure.isAPIError() && !m_started) {
            end(failure.apiError());
        } else {
            end(APIError{QStringLiteral("stream"), failureMessage(), 0});
        }
    });
}

AIStream::~AIStream()
{
    cancel();
}

APIError AIStream::emptyError()
{
    return {QStringLiteral("empty"), QStringLiteral("Nothing came back. Try rephrasing the request."), 502};
}

APIError AIStream::tooLongError()
{
    return {QStringLiteral("too_long"), QStringLiteral("The AI reply was too long."), 0};
}

void AIStream::take(const QByteArray &bytes)
{
    const qsizetype room = maximumReplyBytes - m_received;
    if (bytes.size() <= room) {
        m_received += bytes.size();
        if (const std::optional<QString> text = m_decoder.push(bytes, m_clock())) {
            Q_EMIT chunk(*text);
        }
        return;
    }
    // Everything up to the limit is handed over; nothing more is read.
    m_received = maximumReplyBytes;
    QString text = m_decoder.push(protocol::ai::cutToFit(bytes, room), m_clock()).value_or(QString());
    text += m_decoder.finish().value_or(QString());
    if (m_source) {
        m_source->disconnect(this);
        m_source->abort();
    }
    if (!text.isEmpty()) {
        Q_EMIT chunk(text);
    }
    end(tooLongError());
}

void AIStream::cancel()
{
    if (!m_open) {
        return;
    }
    m_open = false;
    if (m_source) {
        m_source->disconnect(this);
        m_source->abort();
    }
}

void AIStream::end(const std::optional<APIError> &error)
{
    if (!m_open) {
        return;
    }
    m_open = false;
    if (m_source) {
        m_source->disconnect(this);
    }
    if (error) {
        Q_EMIT failed(*error);
    } else {
        Q_EMIT finished();
    }
}
