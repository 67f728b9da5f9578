#pragma once

#include "assistant/core/AIStream.h"

#include <QObject>

#include <functional>

class APIClient;
class APIStream;
struct AIRequest;

// Sends writing-assistant requests to the service's "/api/ai" and hands the
// reply back as a stream of text chunks while it arrives. Everything runs on
// the calling thread's event loop: no thread, no blocking wait.
class AIAssistant final : public QObject
{
    Q_OBJECT

public:
    // Starts a POST of `body` (JSON) to "/api/ai" and returns its reply.
    using Transport = std::function<APIStream *(const QByteArray &body)>;

    explicit AIAssistant(Transport transport, AIStream::Clock clock = steadyClock(),
                         QObject *parent = nullptr);

    // POSTs to "/api/ai" through `client`'s streams.
    static Transport overClient(APIClient *client);

    // Starts `request` at once and returns its reply, owned by `parent`. It
    // does not validate: ask AIRequest::validationError() first.
    AIStream *stream(const AIRequest &request, QObject *parent = nullptr);

    static AIStream::Clock steadyClock();

private:
    Transport m_transport;
    AIStream::Clock m_clock;
};
