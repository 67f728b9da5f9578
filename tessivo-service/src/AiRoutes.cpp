#include "AiRoutes.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace tessivo::server {

namespace {
constexpr qsizetype contextBefore = 6000;
constexpr qsizetype contextAfter = 2000;

QString presetInstruction(const QString &action)
{
    static const QHash<QString, QString> presets = {
        {QStringLiteral("fix-grammar"),
         QStringLiteral("Fix spelling, grammar and punctuation; change nothing else.")},
        {QStringLiteral("improve"), QStringLiteral("Improve the writing: clearer, smoother, same meaning.")},
        {QStringLiteral("punchier"), QStringLiteral("Make it punchier and more direct.")},
        {QStringLiteral("condense"), QStringLiteral("Condense it to the essentials.")},
        {QStringLiteral("rephrase"), QStringLiteral("Rephrase it in different words.")},
        {QStringLiteral("expand"), QStringLiteral("Expand it with more detail, in the same voice.")},
        {QStringLiteral("structure"), QStringLiteral("Give it a clear structure with headings or lists.")},
        {QStringLiteral("positive"), QStringLiteral("Make the tone more positive.")},
        {QStringLiteral("thread"), QStringLiteral("Turn it into a short social-media thread.")},
        {QStringLiteral("emoji"), QStringLiteral("Add fitting emoji.")},
        {QStringLiteral("announcement"), QStringLiteral("Turn it into an announcement.")},
    };
    return presets.value(action);
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
                                .arg(field("before").right(contextBefore), field("after").left(contextAfter));
    if (mode == QLatin1String("refine")) {
        instruction =
            field("action") == QLatin1String("custom") ? field("prompt") : presetInstruction(field("action"));
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
