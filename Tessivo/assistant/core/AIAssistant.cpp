#include "assistant/core/AIAssistant.h"

#include "assistant/core/AIByteSource.h"
#include "assistant/core/AIRequest.h"
#include "assistant/core/APIStreamByteSource.h"
#include "service/core/APIClient.h"

#include <QElapsedTimer>

AIAssistant::AIAssistant(Transport transport, AIStream::Clock clock, QObject *parent)
    : QObject(parent), m_transport(std::move(transport)), m_clock(std::move(clock))
{}

AIStream *AIAssistant::stream(const AIRequest &request, QObject *parent)
{
    return new AIStream(m_transport(request.encodedBody()), m_clock, parent);
}

AIStream::Clock AIAssistant::steadyClock()
{
    return [] {
        static QElapsedTimer timer = [] {
            QElapsedTimer started;
            started.start();
            return started;
        }();
        return timer.elapsed();
    };
}

AIAssistant::Transport AIAssistant::overClient(APIClient *client)
{
    return [client](const QByteArray &body) -> AIByteSource * {
        return new APIStreamByteSource(client->stream(APIClient::Method::Post, QStringLiteral("/api/ai"),
                                                      body, QByteArrayLiteral("application/json")));
    };
}
