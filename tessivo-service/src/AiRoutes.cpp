#include "ServerPrivate.h"

#include "protocol/Rules.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QTimer>

namespace tessivo::server {

namespace {
QString presetInstruction(const QString &action)
{
    using protocol::ai::Preset;
    const std::optional<Preset> preset = protocol::ai::presetFromId(action);
    if (!preset)
        return {};
    switch (*preset) {
    case Preset::fixGrammar:
        return QStringLiteral("Fix spelling, grammar and punctuation; change nothing else.");
    case Preset::improve:
        return QStringLiteral("Improve the writing: clearer, smoother, same meaning.");
    case Preset::punchier:
        return QStringLiteral("Make it punchier and more direct.");
    case Preset::condense:
        return QStringLiteral("Condense it to the essentials.");
    case Preset::rephrase:
        return QStringLiteral("Rephrase it in different words.");
    case Preset::expand:
        return QStringLiteral("Expand it with more detail, in the same voice.");
    case Preset::structure:
        return QStringLiteral("Give it a clear structure with headings or lists.");
    case Preset::positive:
        return QStringLiteral("Make the tone more positive.");
    case Preset::thread:
        return QStringLiteral("Turn it into a short social-media thread.");
    case Preset::emoji:
        return QStringLiteral("Add fitting emoji.");
    case Preset::announcement:
        break;
    }
    return QStringLiteral("Turn it into an announcement.");
}

// The chat messages for an "/api/ai" request, or an empty array when the
// request is not one the app sends.
QJsonArray chatMessages(const QJsonObject &request)
{
    for (auto it = request.begin(); it != request.end(); ++it) {
        if (!it.value().isString())
            return {};
    }
    const auto field = [&](const char *key) { return request.value(QLatin1String(key)).toString(); };
    const QString mode = field("mode");
    QString instruction;
    QString user;
    const QString context = QStringLiteral("Text before:\n%1\n\nText after:\n%2")
                                .arg(field("before").right(protocol::ai::contextBefore),
                                     field("after").left(protocol::ai::contextAfter));
    // The app refuses longer requests before sending them.
    if (field("text").size() > protocol::ai::maxTextLength ||
        field("prompt").size() > protocol::ai::maxPromptLength)
        return {};
    if (mode == QLatin1String("refine")) {
        instruction = field("action") == protocol::ai::customAction() ? field("prompt")
                                                                      : presetInstruction(field("action"));
        if (instruction.isEmpty() || field("text").trimmed().isEmpty())
            return {};
        user = QStringLiteral("Instruction: %1\n\nRewrite this selected text:\n%2\n\n%3")
                   .arg(instruction, field("text"), context);
    } else if (mode == QLatin1String("generate")) {
        if (field("prompt").trimmed().isEmpty())
            return {};
        user = QStringLiteral("Instruction: %1\n\nWrite new text to insert at the caret.\n\n%2")
                   .arg(field("prompt"), context);
    } else {
        return {};
    }
    const QString system = QStringLiteral("You are a writing assistant inside a Markdown editor. Reply with "
                                          "only the text to insert, in Markdown, "
                                          "with no preamble, quotes or commentary.");
    return {
        QJsonObject{{QStringLiteral("role"), QStringLiteral("system")}, {QStringLiteral("content"), system}},
        QJsonObject{{QStringLiteral("role"), QStringLiteral("user")}, {QStringLiteral("content"), user}}};
}

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

void Server::Private::ai(HttpConnection *connection, const LoggedRequest &request, const HeaderList &headers)
{
    if (aiScript) {
        const AiScript script = *aiScript;
        aiScript.reset();
        playAiScript(connection, script, headers);
        return;
    }
    const QJsonDocument json = QJsonDocument::fromJson(request.body);
    const QJsonArray messages = chatMessages(json.object());
    auto send = [&](Reply reply) {
        reply.headers += headers;
        connection->reply(reply.status, reply.headers, reply.body);
    };
    if (!json.isObject() || messages.isEmpty())
        return send(errorReply(400, "invalid_request", QStringLiteral("The AI request is malformed.")));
    if (options.aiEndpoint.isEmpty())
        return send(errorReply(503, "ai_unavailable", QStringLiteral("AI isn't set up on this service.")));
    QJsonObject payload{{QStringLiteral("stream"), true}, {QStringLiteral("messages"), messages}};
    payload.insert(QStringLiteral("model"),
                   options.aiModel.isEmpty() ? QStringLiteral("default") : options.aiModel);
    forwardAi(connection, payload, headers);
}

void Server::Private::playAiScript(QPointer<HttpConnection> connection, AiScript script, HeaderList headers)
{
    HeaderList head = script.headers + headers;
    bool typed = false;
    for (const auto &[name, value] : head)
        typed = typed || name.compare("content-type", Qt::CaseInsensitive) == 0;
    if (!typed)
        head.append({QByteArray("content-type"), QByteArray("text/plain; charset=utf-8")});
    connection->beginStream(script.status, head);
    // Each piece waits its delay after the one before it.
    auto step = std::make_shared<std::function<void(qsizetype)>>();
    *step = [connection, script, step](qsizetype index) {
        if (!connection)
            return;
        if (index == script.pieces.size()) {
            if (script.abortAtEnd)
                connection->abort();
            else
                connection->endStream();
            *step = nullptr; // break the cycle
            return;
        }
        QTimer::singleShot(script.pieces[index].delayMs, connection, [connection, script, step, index] {
            if (!connection || !*step)
                return;
            connection->writeChunk(script.pieces[index].bytes);
            (*step)(index + 1);
        });
    };
    (*step)(0);
}

void Server::Private::forwardAi(QPointer<HttpConnection> connection, const QJsonObject &payload,
                                HeaderList headers)
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
        QByteArray pending;
    };
    auto state = std::make_shared<State>();
    auto startReply = [connection, state, headers] {
        if (state->headSent || !connection)
            return;
        state->headSent = true;
        connection->beginStream(200, HeaderList{{"content-type", "text/plain; charset=utf-8"}} + headers);
    };
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, connection, state, startReply] {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        state->pending += reply->readAll();
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
            const QString text = completionText(QJsonDocument::fromJson(data).object());
            if (!text.isEmpty() && connection) {
                startReply();
                connection->writeChunk(text.toUtf8());
            }
        }
    });
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, connection, state, startReply, headers] {
        if (!connection)
            return;
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        state->pending += reply->readAll();
        if (reply->error() != QNetworkReply::NoError || status < 200 || status > 299) {
            if (state->headSent) {
                connection->abort(); // the app reports a broken stream
                return;
            }
            Reply error =
                errorReply(502, "ai_failed",
                           status ? QStringLiteral("The AI service answered with an error (%1).").arg(status)
                                  : QStringLiteral("The AI service couldn't be reached."));
            connection->reply(error.status, error.headers + headers, error.body);
            return;
        }
        startReply();
        if (!state->streamed)
            connection->writeChunk(completionText(QJsonDocument::fromJson(state->pending).object()).toUtf8());
        connection->endStream();
    });
}

} // namespace tessivo::server
