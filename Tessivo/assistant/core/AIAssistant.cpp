#include "assistant/core/AIAssistant.h"

#include "assistant/core/AIRequest.h"
#include "protocol/Routes.h"
#include "service/core/APIClient.h"
#include "service/core/APIStream.h"

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
    return [client](const QByteArray &body) {
        return client->stream(APIClient::Method::Post, protocol::routePath(protocol::Endpoint::ai), body,
                              QByteArrayLiteral("application/json"));
    };
}
