#pragma once

#include <QByteArray>
#include <QString>
#include <QStringDecoder>

#include <optional>

// Turns the raw UTF-8 bytes of a streamed reply into text chunks: bytes are
// gathered for at least `interval` milliseconds between hand-overs, and a
// chunk never ends inside a character that could still be completed (the
// decoder keeps its start for the next hand-over). Bytes that can never form
// a character come out as U+FFFD. Time is only looked at when bytes arrive
// (the caller passes its monotonic clock's reading).
class AIReplyDecoder
{
public:
    static constexpr qint64 interval = 16;

    // The reply head has arrived: the gathering interval starts now.
    void start(qint64 now);
    // Takes the next bytes of the body; a chunk when it is time to hand one over.
    std::optional<QString> push(const QByteArray &bytes, qint64 now);
    // The end of the body: whatever whole text is still pending; a last
    // character cut off by the end is dropped.
    std::optional<QString> finish();

    // Whether any text at all was handed over.
    bool yielded() const { return m_yielded; }

private:
    std::optional<QString> hand();

    QStringDecoder m_decoder{QStringDecoder::Utf8};
    QByteArray m_pending;
    qint64 m_lastFlush = 0;
    bool m_yielded = false;
};
