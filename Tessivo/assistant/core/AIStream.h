#pragma once

#include "assistant/core/AIReplyDecoder.h"
#include "service/core/APIError.h"

#include <QObject>
#include <QPointer>

#include <functional>

class AIByteSource;

// One streamed reply, read on the thread that made it: whole-character text
// chunks in order, then exactly one end — finished() or failed(). A
// cancellation is silent: after cancel() the stream reports nothing more.
class AIStream final : public QObject
{
    Q_OBJECT

public:
    // Monotonic milliseconds.
    using Clock = std::function<qint64()>;

    // Takes ownership of `source` and reads it until it ends.
    AIStream(AIByteSource *source, Clock clock, QObject *parent = nullptr);
    ~AIStream() override;

    // Aborts the transfer; no chunk or end follows.
    void cancel();
    bool isOpen() const { return m_open; }

    static QString failureMessage() { return QStringLiteral("The AI request failed. Try again."); }
    static APIError emptyError();

Q_SIGNALS:
    void chunk(const QString &text);
    void finished();
    void failed(const APIError &error);

private:
    void end(const std::optional<APIError> &error);

    QPointer<AIByteSource> m_source;
    Clock m_clock;
    AIReplyDecoder m_decoder;
    bool m_open = true;
};
