#include "assistant/core/AIRequest.h"

#include "protocol/WireRecords.h"

#include <QJsonDocument>

namespace {

// Prompts lose only spaces and tabs: a line break is something typed.
bool isBlankPrompt(const QString &prompt)
{
    return std::all_of(prompt.begin(), prompt.end(), [](QChar c) { return c == u' ' || c == u'\t'; });
}

} // namespace

std::optional<QString> AIRequest::validationError(const QLocale &locale) const
{
    const QString tooLong = QStringLiteral("Prompt is too long.");
    if (kind == Kind::Refine) {
        if (text.trimmed().isEmpty()) {
            return QStringLiteral("Select some text to refine.");
        }
        if (text.size() > maximumTextLength) {
            return QStringLiteral("Selection is too long to refine (max %1 characters).")
                .arg(locale.toString(maximumTextLength));
        }
        if (action == protocol::ai::customAction() && isBlankPrompt(prompt)) {
            return QStringLiteral("Type what you'd like changed.");
        }
        if (prompt.size() > maximumPromptLength) {
            return tooLong;
        }
        return std::nullopt;
    }
    if (isBlankPrompt(prompt)) {
        return QStringLiteral("Describe what you'd like written.");
    }
    if (prompt.size() > maximumPromptLength) {
        return tooLong;
    }
    return std::nullopt;
}

QJsonObject AIRequest::body() const
{
    const bool refine = kind == Kind::Refine;
    return AIRequestBody{QString(refine ? AIRequestBody::refineMode : AIRequestBody::generateMode),
                         refine ? action : QString(),
                         prompt,
                         refine ? text : QString(),
                         before,
                         after}
        .toJson();
}

QByteArray AIRequest::encodedBody() const
{
    return QJsonDocument(body()).toJson(QJsonDocument::Compact);
}
