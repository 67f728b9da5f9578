#include "assistant/core/AIStream.h"

#include "assistant/core/AIByteSource.h"

AIStream::AIStream(AIByteSource *source, Clock clock, QObject *parent)
    : QObject(parent), m_source(source), m_clock(std::move(clock))
{
    source->setParent(this);
    // Until the head arrives the interval counts from now.
    m_decoder.start(m_clock());
    connect(source, &AIByteSource::started, this, [this] { m_decoder.start(m_clock()); });
    connect(source, &AIByteSource::received, this, [this](const QByteArray &bytes) {
        if (const std::optional<QString> text = m_decoder.push(bytes, m_clock())) {
            Q_EMIT chunk(*text);
        }
    });
    connect(source, &AIByteSource::finished, this, [this] {
        if (const std::optional<QString> text = m_decoder.finish()) {
            Q_EMIT chunk(*text);
        }
        end(m_decoder.yielded() ? std::nullopt : std::optional(emptyError()));
    });
    connect(source, &AIByteSource::failed, this, [this](const APIError &error) { end(error); });
    connect(source, &AIByteSource::broken, this, [this] {
        end(APIError{QStringLiteral("stream"), failureMessage(), 0});
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
