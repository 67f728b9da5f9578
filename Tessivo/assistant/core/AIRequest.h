#pragma once

#include "editor/core/AITrigger.h"
#include "protocol/Rules.h"

#include <QByteArray>
#include <QJsonObject>
#include <QLocale>
#include <QString>

#include <optional>

// One request to the writing assistant: rewrite a selection (with a preset
// action or a typed instruction) or write new text at the caret. `before`
// and `after` are the document text on either side, sent as context.
struct AIRequest
{
    using Kind = AITrigger::Kind;

    Kind kind = Kind::Generate;
    QString action; // refine only: a preset id, or protocol::ai::customAction()
    QString prompt;
    QString text; // refine only: the selected text
    QString before;
    QString after;

    static constexpr qsizetype maximumTextLength = protocol::ai::maxTextLength;
    static constexpr qsizetype maximumPromptLength = protocol::ai::maxPromptLength;

    static AIRequest refine(const QString &action, const QString &prompt, const QString &text,
                            const QString &before, const QString &after)
    {
        return {Kind::Refine, action, prompt, text, before, after};
    }
    static AIRequest generate(const QString &prompt, const QString &before, const QString &after)
    {
        return {Kind::Generate, QString(), prompt, QString(), before, after};
    }

    // The message to show instead of sending, or nothing when the request
    // may go. Lengths count UTF-16 code units; `locale` writes the numbers.
    std::optional<QString> validationError(const QLocale &locale = QLocale()) const;

    // Every key of the mode, also when empty; values are sent untrimmed.
    QJsonObject body() const;
    QByteArray encodedBody() const;

    friend bool operator==(const AIRequest &, const AIRequest &) = default;
};
