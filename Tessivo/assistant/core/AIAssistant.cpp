#include "assistant/core/AIAssistant.h"

#include "assistant/core/AIByteSource.h"
#include "assistant/core/AIRequest.h"

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

namespace {

// Stands in until the application's API client can stream.
class UnavailableSource final : public AIByteSource
{
public:
    UnavailableSource()
    {
        QMetaObject::invokeMethod(
            this,
            [this] {
                Q_EMIT failed(
                    {QStringLiteral("network"), QStringLiteral("The AI service can't be reached."), 0});
            },
            Qt::QueuedConnection);
    }
    void abort() override {}
};

} // namespace

AIAssistant *AIAssistant::shared()
{
    static AIAssistant *instance = new AIAssistant([](const QByteArray &) { return new UnavailableSource; });
    return instance;
}
