#include "assistant/core/APIStreamByteSource.h"

#include "service/core/APIStream.h"

APIStreamByteSource::APIStreamByteSource(APIStream *stream, QObject *parent)
    : AIByteSource(parent), m_stream(stream)
{
    stream->setParent(this);
    connect(stream, &APIStream::responseReceived, this, [this] {
        m_started = true;
        Q_EMIT started();
    });
    connect(stream, &APIStream::received, this, &AIByteSource::received);
    connect(stream, &APIStream::finished, this, &AIByteSource::finished);
    connect(stream, &APIStream::failed, this, [this](const APIFailure &failure) {
        // Only our own abort() cancels, and that is not reported.
        if (failure.isAPIError() && !m_started) {
            Q_EMIT failed(failure.apiError());
        } else {
            Q_EMIT broken();
        }
    });
}

void APIStreamByteSource::abort()
{
    if (m_stream) {
        m_stream->disconnect(this);
        m_stream->abort();
    }
}
