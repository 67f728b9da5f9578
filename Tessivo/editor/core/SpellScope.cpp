#include "editor/core/SpellScope.h"

#include "store/Text.h"

#include <QRegularExpression>

namespace SpellScope {

namespace {

bool isFrontMatterDelimiter(QStringView line, bool closing)
{
    const QString trimmed = Text::trimmedSpacesAndTabs(line);
    return trimmed == u"---" || (closing && trimmed == u"...");
}

// Parts of a prose line that hold no prose.
QList<TextRange> excludedRanges(QStringView line)
{
    static const QRegularExpression excluded =
        Text::regex(QStringLiteral(R"(`+[^`]*(?:`+|$))" // inline code (an unclosed one runs to the line end)
                                   R"(|<[a-zA-Z/!][^>]*>)" // HTML tags and angle-bracketed addresses
                                   R"(|\]\([^)]*\))"       // link and image destinations
                                   R"(|\b(?:[a-zA-Z][a-zA-Z0-9+.-]*://|www\.|mailto:)\S+)" // addresses
                                   R"(|\S+@\S+\.\S+)"                                      // e-mail addresses
                                   ));
    QList<TextRange> ranges;
    auto it = excluded.globalMatch(line);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        ranges.append({m.capturedStart(0), m.capturedLength(0)});
    }
    return ranges;
}

} // namespace

QList<TextRange> words(QStringView text)
{
    static const QRegularExpression word = Text::regex(QStringLiteral(
        R"((?<![\p{L}\p{M}\p{N}_'’])[\p{L}\p{M}]+(?:['’][\p{L}\p{M}]+)*(?![\p{L}\p{M}\p{N}_]))"));
    QList<TextRange> found;
    auto it = word.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        if (m.capturedLength(0) >= 2) {
            found.append({m.capturedStart(0), m.capturedLength(0)});
        }
    }
    return found;
}

namespace {

// Moves `context` past `line`; returns where the prose of the line begins,
// or nothing when the line holds none.
std::optional<qsizetype> advance(QStringView line, Context &context)
{
    const qsizetype index = context.line++;
    switch (context.block) {
    case Context::Block::FrontMatter:
        if (isFrontMatterDelimiter(line, true)) {
            context.block = Context::Block::Prose;
            return std::nullopt;
        }
        break;
    case Context::Block::Prose:
        if (index == 0 && isFrontMatterDelimiter(line, false)) {
            context.block = Context::Block::FrontMatter;
            return std::nullopt;
        }
        if (const LineClassifier::Kind kind = context.classifier.next(line).kind;
            LineClassifier::isCode(kind) || kind == LineClassifier::Kind::HtmlComment) {
            return std::nullopt;
        }
        break;
    }
    if (context.block == Context::Block::FrontMatter) {
        // "key: value": only the value is prose.
        const qsizetype colon = line.indexOf(u':');
        if (colon < 0) {
            return std::nullopt;
        }
        return colon + 1;
    }
    return 0;
}

} // namespace

void skipLine(QStringView line, Context &context)
{
    advance(line, context);
}

QList<TextRange> wordsToCheck(QStringView line, Context &context)
{
    const std::optional<qsizetype> prose = advance(line, context);
    if (!prose) {
        return {};
    }
    const qsizetype from = *prose;
    const QList<TextRange> excluded = excludedRanges(line);
    QList<TextRange> result;
    for (const TextRange &w : words(line)) {
        if (w.location < from) {
            continue;
        }
        const bool inside = std::any_of(excluded.begin(), excluded.end(), [&](const TextRange &e) {
            return w.location < e.end() && e.location < w.end();
        });
        if (!inside) {
            result.append(w);
        }
    }
    return result;
}

std::optional<TextRange> wordAt(QStringView line, qsizetype position)
{
    for (const TextRange &w : words(line)) {
        if (position >= w.location && position <= w.end()) {
            return w;
        }
    }
    return std::nullopt;
}

} // namespace SpellScope
