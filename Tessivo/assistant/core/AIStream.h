#pragma once

#include "assistant/core/AIReplyDecoder.h"
#include "protocol/Rules.h"
#include "service/core/APIError.h"

#include <QObject>
#include <QPointer>

#include <functional>

class APIStream;

// One streamed reply, read on the thread that made it: whole-character text
// chunks in order, then exactly one end — finished() or failed(). A
// cancellation is silent: after cancel() the stream reports nothing more.
// The reply is read up to `maximumReplyBytes`; what came before that limit is
// handed over and the stream then fails with tooLongError().
class AIStream final : public QObject
{
    Q_OBJECT

public:
    // Monotonic milliseconds.
    using Clock = std::function<qint64()>;

    static constexpr qsizetype maximumReplyBytes = protocol::ai::maxReplyBytes;

    // Takes ownership of `source` and reads it until it ends.
    AIStream(APIStream *source, Clock clock, QObject *parent = nullptr);
    ~AIStream() override;

    // Aborts the transfer; no chunk or end follows.
    void cancel();
    bool isOpen() const { return m_open; }

    static QString failureMessage() { return QStringLiteral("The AI request failed. Try again."); }
    static APIError emptyError();
    static APIError tooLongError();
    // Whether `error` ended a reply that was cut at the limit: what was
    // written of it is whole and may stay.
    static bool isTooLong(const APIError &error) { return error.code == tooLongError().code; }

Q_SIGNALS:
    void chunk(const QString &text);
    void finished();
    void failed(const APIError &error);

private:
    void take(const QByteArray &bytes);
    void end(const std::optional<APIError> &error);

    QPointer<APIStream> m_source;
    Clock m_clock;
    AIReplyDecoder m_decoder;
    qsizetype m_received = 0;
    bool m_started = false;
    bool m_open = true;
};
