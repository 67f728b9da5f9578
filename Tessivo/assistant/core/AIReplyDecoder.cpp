#include "assistant/core/AIReplyDecoder.h"

void AIReplyDecoder::start(qint64 now)
{
    m_pending.clear();
    m_decoder.resetState();
    m_lastFlush = now;
    m_yielded = false;
}

std::optional<QString> AIReplyDecoder::push(const QByteArray &bytes, qint64 now)
{
    m_pending.append(bytes);
    if (now - m_lastFlush < interval) {
        return std::nullopt;
    }
    m_lastFlush = now;
    return hand();
}

std::optional<QString> AIReplyDecoder::finish()
{
    // A character the end cut off stays in the decoder, never to be shown.
    std::optional<QString> text = hand();
    m_decoder.resetState();
    return text;
}

std::optional<QString> AIReplyDecoder::hand()
{
    const QString text = m_decoder.decode(m_pending);
    m_pending.clear();
    if (text.isEmpty()) {
        return std::nullopt;
    }
    m_yielded = true;
    return text;
}
