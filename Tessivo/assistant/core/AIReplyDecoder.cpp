#include "assistant/core/AIReplyDecoder.h"

#include <algorithm>

namespace {

bool isContinuation(uchar byte)
{
    return (byte & 0xC0) == 0x80;
}

qsizetype sequenceLength(uchar lead)
{
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC0 && lead <= 0xDF) {
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return 3;
    }
    return 4;
}

} // namespace

std::optional<QString> AIReplyDecoder::takeCompletePrefix(QByteArray &buffer)
{
    const qsizetype n = buffer.size();
    qsizetype cut = n;
    for (qsizetype p = n - 1; p >= std::max<qsizetype>(0, n - 4); --p) {
        const auto byte = uchar(buffer.at(p));
        if (!isContinuation(byte)) {
            cut = n - p >= sequenceLength(byte) ? n : p;
            break;
        }
    }
    if (cut == 0) {
        return std::nullopt;
    }
    const QString text = QString::fromUtf8(buffer.constData(), cut);
    buffer.remove(0, cut);
    return text;
}

void AIReplyDecoder::start(qint64 now)
{
    m_pending.clear();
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
    return hand(takeCompletePrefix(m_pending));
}

std::optional<QString> AIReplyDecoder::finish()
{
    // What is left after the prefix is a character the reply cut off.
    std::optional<QString> text = takeCompletePrefix(m_pending);
    m_pending.clear();
    return hand(std::move(text));
}

std::optional<QString> AIReplyDecoder::hand(std::optional<QString> text)
{
    if (!text || text->isEmpty()) {
        return std::nullopt;
    }
    m_yielded = true;
    return text;
}
