// The editor's highlighter rules: runs in order, apart and inside the text.
#include "FuzzInput.h"
#include "editor/core/MarkdownHighlighterRules.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzInput::silenceQtMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = FuzzInput::text(data, size);
    qsizetype end = 0;
    for (const MarkdownHighlighterRules::HighlightSpan &span : MarkdownHighlighterRules::spans(text)) {
        FuzzInput::require(span.range.location >= end && span.range.length > 0, "runs are ordered and apart");
        end = span.range.end();
        FuzzInput::require(end <= text.size(), "runs lie inside the text");
    }
    for (const MarkdownHighlighterRules::RuleMatch &match : MarkdownHighlighterRules::matches(text)) {
        FuzzInput::require(match.range.location >= 0 && match.range.end() <= text.size(),
                           "matches lie inside the text");
    }
    return 0;
}
