#include "AiRoutes.h"

#include "protocol/Rules.h"
#include "protocol/WireRecords.h"

#include <QJsonArray>
#include <QJsonDocument>

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
QJsonArray chatMessages(const QJsonObject &object)
{
    const std::optional<AIRequestBody> request = AIRequestBody::fromJson(object);
    if (!request)
        return {};
    const QString &mode = request->mode;
    QString instruction;
    QString user;
    const QString context = QStringLiteral("Text before:\n%1\n\nText after:\n%2")
                                .arg(request->before.right(protocol::ai::contextBefore),
                                     request->after.left(protocol::ai::contextAfter));
    // The app refuses longer requests before sending them.
    if (request->text.size() > protocol::ai::maxTextLength ||
        request->prompt.size() > protocol::ai::maxPromptLength)
        return {};
    if (mode == AIRequestBody::refineMode) {
        instruction = request->action == protocol::ai::customAction() ? request->prompt
                                                                      : presetInstruction(request->action);
        if (instruction.isEmpty() || request->text.trimmed().isEmpty())
            return {};
        user = QStringLiteral("Instruction: %1\n\nRewrite this selected text:\n%2\n\n%3")
                   .arg(instruction, request->text, context);
    } else if (mode == AIRequestBody::generateMode) {
        if (request->prompt.trimmed().isEmpty())
            return {};
        user = QStringLiteral("Instruction: %1\n\nWrite new text to insert at the caret.\n\n%2")
                   .arg(request->prompt, context);
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

} // namespace

std::variant<Reply, QJsonObject> AiRoutes::upstreamRequest(const LoggedRequest &request)
{
    const QJsonDocument json = QJsonDocument::fromJson(request.body);
    const QJsonArray messages = chatMessages(json.object());
    if (!json.isObject() || messages.isEmpty())
        return errorReply(400, "invalid_request", QStringLiteral("The AI request is malformed."));
    if (options.aiEndpoint.isEmpty())
        return errorReply(503, "ai_unavailable", QStringLiteral("AI isn't set up on this service."));
    QJsonObject payload{{QStringLiteral("stream"), true}, {QStringLiteral("messages"), messages}};
    payload.insert(QStringLiteral("model"),
                   options.aiModel.isEmpty() ? QStringLiteral("default") : options.aiModel);
    return payload;
}

} // namespace tessivo::server
