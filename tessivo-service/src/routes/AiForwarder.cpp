#include "AiForwarder.h"

#include "RouteContext.h"

#include "protocol/Rules.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkReply>

namespace tessivo::server {

namespace {
// The text of one streamed chunk or of a whole completion.
QString completionText(const QJsonObject &object)
{
    const QJsonObject choice = object.value(QLatin1String("choices")).toArray().at(0).toObject();
    const QJsonValue delta = choice.value(QLatin1String("delta")).toObject().value(QLatin1String("content"));
    return delta.isString()
               ? delta.toString()
               : choice.value(QLatin1String("message")).toObject().value(QLatin1String("content")).toString();
}
} // namespace

AiForwarder::AiForwarder(const ServerOptions &options) : options(options)
{
    network.setCookieJar(nullptr);
    network.setAutoDeleteReplies(true);
}

void AiForwarder::forward(QPointer<HttpConnection> connection, const QJsonObject &payload, HeaderList headers)
{
    QNetworkRequest upstream(options.aiEndpoint);
    upstream.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    upstream.setRawHeader("accept", "text/event-stream, application/json");
    if (!options.aiKey.isEmpty())
        upstream.setRawHeader("authorization", protocol::bearerHeader(options.aiKey));
    upstream.setTransferTimeout(120000);
    QNetworkReply *reply = network.post(upstream, QJsonDocument(payload).toJson(QJsonDocument::Compact));
    QObject::connect(connection, &HttpConnection::closed, reply, &QNetworkReply::abort);

    struct State
    {
        bool headSent = false;
        bool streamed = false; // the upstream answered with server-sent events
        bool done = false;     // the reply to the client is complete
        qsizetype sent = 0;
        QByteArray pending;
    };
    auto state = std::make_shared<State>();
    auto startReply = [connection, state, headers] {
        if (state->headSent || !connection)
            return;
        state->headSent = true;
        connection->beginStream(200, HeaderList{{"content-type", "text/plain; charset=utf-8"}} + headers);
    };
    // Passes text on until the cap, where the reply ends as if complete.
    auto pass = [reply, connection, state, startReply](const QString &text) {
        if (text.isEmpty() || !connection || state->done)
            return;
        startReply();
        const QByteArray bytes = text.toUtf8();
        const QByteArray part = protocol::ai::cutToFit(bytes, maxTextBytes - state->sent);
        connection->writeChunk(part);
        state->sent += part.size();
        if (part.size() < bytes.size()) {
            state->done = true;
            connection->endStream();
            reply->abort();
        }
    };
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, connection, state, pass, headers] {
        if (state->done)
            return;
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        state->pending += reply->readAll();
        // What is held back from the client stays bounded too: a completion
        // sent whole, at most as long as its escaped text may be; an error
        // body or one line, much less.
        const qsizetype bound =
            status >= 200 && status <= 299 && !state->streamed ? 6 * maxTextBytes + 65536 : maxTextBytes;
        if (state->pending.size() > bound &&
            !(status >= 200 && status <= 299 && state->streamed && state->pending.indexOf('\n') >= 0)) {
            state->pending.clear();
            state->done = true;
            if (connection && !state->headSent) {
                const Reply error =
                    errorReply(502, "ai_failed", QStringLiteral("The AI service's reply was too long."));
                connection->reply(error.status, error.headers + headers, error.body);
            } else if (connection) {
                connection->abort();
            }
            reply->abort();
            return;
        }
        if (status < 200 || status > 299)
            return;
        qsizetype lineEnd;
        while ((lineEnd = state->pending.indexOf('\n')) >= 0) {
            const QByteArray line = state->pending.left(lineEnd).trimmed();
            if (!line.startsWith("data:")) {
                if (!state->streamed)
                    return; // a plain JSON completion: read it whole at the end
                state->pending.remove(0, lineEnd + 1);
                continue;
            }
            state->streamed = true;
            state->pending.remove(0, lineEnd + 1);
            const QByteArray data = line.mid(5).trimmed();
            if (data == "[DONE]")
                continue;
            pass(completionText(QJsonDocument::fromJson(data).object()));
            if (state->done)
                return;
        }
    });
    QObject::connect(
        reply, &QNetworkReply::finished, reply, [reply, connection, state, startReply, pass, headers] {
            if (!connection || state->done)
                return;
            const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            state->pending += reply->readAll();
            if (reply->error() != QNetworkReply::NoError || status < 200 || status > 299) {
                if (state->headSent) {
                    connection->abort(); // the app reports a broken stream
                    return;
                }
                Reply error = errorReply(
                    502, "ai_failed",
                    status ? QStringLiteral("The AI service answered with an error (%1).").arg(status)
                           : QStringLiteral("The AI service couldn't be reached."));
                connection->reply(error.status, error.headers + headers, error.body);
                return;
            }
            startReply();
            if (!state->streamed)
                pass(completionText(QJsonDocument::fromJson(state->pending).object()));
            if (!state->done)
                connection->endStream();
        });
}

} // namespace tessivo::server
