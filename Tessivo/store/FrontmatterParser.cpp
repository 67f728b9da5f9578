#include "FrontmatterParser.h"

#include "store/Text.h"

#include <QRegularExpression>

namespace FrontmatterParser {

namespace {

bool startsWithOpeningLine(const QString &text)
{
    return text.startsWith(QLatin1String("---\n")) || text.startsWith(QLatin1String("---\r\n"));
}

const QRegularExpression &linePattern()
{
    static const QRegularExpression re = Text::regex(QStringLiteral(R"(^([\w-]+)\s*:\s*(.*)$)"));
    return re;
}

const QRegularExpression &numberPattern()
{
    static const QRegularExpression re = Text::regex(QStringLiteral(R"(^-?\d+(?:\.\d+)?$)"));
    return re;
}

// A non-empty string value, trimmed of spaces and tabs; anything else (a
// number, a bool, an array, null, or blank text) gives nothing.
std::optional<QString> usableString(const QMap<QString, Value> &fields, const QString &key)
{
    const auto it = fields.constFind(key);
    if (it == fields.cend() || it->kind != Value::Kind::String) {
        return std::nullopt;
    }
    QString trimmed = Text::trimmedSpacesAndTabs(it->text);
    if (trimmed.isEmpty()) {
        return std::nullopt;
    }
    return trimmed;
}

} // namespace

Value Value::makeBool(bool value)
{
    Value v;
    v.kind = Kind::Bool;
    v.boolValue = value;
    return v;
}

Value Value::makeNumber(const QString &text)
{
    Value v;
    v.kind = Kind::Number;
    v.text = text;
    return v;
}

Value Value::makeString(const QString &text)
{
    Value v;
    v.kind = Kind::String;
    v.text = text;
    return v;
}

Value Value::makeArray(const QList<Value> &items)
{
    Value v;
    v.kind = Kind::Array;
    v.items = items;
    return v;
}

Value Value::makeNull()
{
    return Value{};
}

QString Value::stringValue() const
{
    switch (kind) {
    case Kind::Bool:
        return boolValue ? QStringLiteral("true") : QStringLiteral("false");
    case Kind::Number:
    case Kind::String:
        return text;
    case Kind::Array: {
        QStringList parts;
        parts.reserve(items.size());
        for (const Value &item : items) {
            parts.append(item.stringValue());
        }
        return parts.join(u',');
    }
    case Kind::Null:
        break;
    }
    return {};
}

bool operator==(const Value &a, const Value &b)
{
    if (a.kind != b.kind) {
        return false;
    }
    switch (a.kind) {
    case Value::Kind::Bool:
        return a.boolValue == b.boolValue;
    case Value::Kind::Number:
    case Value::Kind::String:
        return a.text == b.text;
    case Value::Kind::Array:
        return a.items == b.items;
    case Value::Kind::Null:
        break;
    }
    return true;
}

std::optional<Parsed> parse(const QString &text)
{
    if (!startsWithOpeningLine(text)) {
        return std::nullopt;
    }
    QList<QStringView> lines = Text::splitLinesLF(text);
    for (QStringView &line : lines) {
        if (line.endsWith(u'\r')) {
            line.chop(1);
        }
    }
    if (lines.size() < 2) {
        return std::nullopt;
    }
    qsizetype closing = -1;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (lines.at(i) == u"---") {
            closing = i;
            break;
        }
    }
    if (closing < 0) {
        return std::nullopt;
    }
    Parsed parsed;
    for (qsizetype i = 1; i < closing; ++i) {
        const QRegularExpressionMatch m = linePattern().match(lines.at(i));
        if (m.hasMatch()) {
            parsed.fields.insert(m.captured(1), parseValue(m.captured(2)));
        }
    }
    QStringList rest;
    rest.reserve(lines.size() - closing - 1);
    for (qsizetype i = closing + 1; i < lines.size(); ++i) {
        rest.append(lines.at(i).toString());
    }
    parsed.body = rest.join(u'\n');
    return parsed;
}

namespace {

// Values nest this deep at most; anything deeper is kept as written, as a
// string. Each level scans its own text once, so the bound also keeps the
// parse linear in the length of the value.
constexpr int maximumNesting = 32;

QList<QStringView> splitItems(QStringView inside)
{
    QList<QStringView> items;
    qsizetype start = 0;
    bool inSingle = false;
    bool inDouble = false;
    int depth = 0;
    for (qsizetype i = 0; i < inside.size(); ++i) {
        const QChar c = inside.at(i);
        if (c == u'\'' && !inDouble) {
            inSingle = !inSingle;
        } else if (c == u'"' && !inSingle) {
            inDouble = !inDouble;
        } else if (!inSingle && !inDouble) {
            if (c == u'[') {
                ++depth;
            } else if (c == u']') {
                --depth;
            } else if (c == u',' && depth == 0) {
                items.append(inside.mid(start, i - start));
                start = i + 1;
            }
        }
    }
    items.append(inside.mid(start));
    return items;
}

Value parseValueAt(QStringView raw, int level)
{
    const QStringView s = Text::trimmedSpacesAndTabsView(raw);
    if (s.isEmpty() || s == u"null" || s == u"~") {
        return Value::makeNull();
    }
    if (s == u"true") {
        return Value::makeBool(true);
    }
    if (s == u"false") {
        return Value::makeBool(false);
    }
    if (numberPattern().match(s).hasMatch()) {
        return Value::makeNumber(s.toString());
    }
    if (s.size() >= 2) {
        const QChar first = s.front();
        const QChar last = s.back();
        if ((first == u'"' && last == u'"') || (first == u'\'' && last == u'\'')) {
            return Value::makeString(s.mid(1, s.size() - 2).toString());
        }
        if (first == u'[' && last == u']' && level < maximumNesting) {
            const QStringView inside = Text::trimmedSpacesAndTabsView(s.mid(1, s.size() - 2));
            QList<Value> items;
            if (!inside.isEmpty()) {
                const QList<QStringView> parts = splitItems(inside);
                items.reserve(parts.size());
                for (QStringView part : parts) {
                    items.append(parseValueAt(part, level + 1));
                }
            }
            return Value::makeArray(items);
        }
    }
    return Value::makeString(s.toString());
}

} // namespace

Value parseValue(const QString &raw)
{
    return parseValueAt(raw, 0);
}

QStringList splitArrayItems(const QString &inside)
{
    QStringList items;
    for (QStringView part : splitItems(inside)) {
        items.append(part.toString());
    }
    return items;
}

Extracted extract(const QString &text)
{
    Extracted result;
    const std::optional<Parsed> parsed = parse(text);
    if (!parsed) {
        result.body = text;
        return result;
    }
    const auto &fields = parsed->fields;
    Frontmatter &fm = result.frontmatter;
    const std::pair<const char16_t *, std::optional<QString> Frontmatter::*> scalars[] = {
        {u"title", &Frontmatter::title},
        {u"description", &Frontmatter::description},
        {u"slug", &Frontmatter::slug},
        {u"date", &Frontmatter::date},
    };
    for (const auto &[key, member] : scalars) {
        const QString name = QString::fromUtf16(key);
        if (auto value = usableString(fields, name)) {
            fm.*member = std::move(value);
            result.overrides.append(name);
        }
    }
    const auto tags = fields.constFind(QStringLiteral("tags"));
    if (tags != fields.cend() && tags->kind == Value::Kind::Array) {
        QStringList list;
        for (const Value &item : tags->items) {
            QString s = item.stringValue();
            if (!s.isEmpty()) {
                list.append(std::move(s));
            }
        }
        if (!list.isEmpty()) {
            fm.tags = list;
            result.overrides.append(QStringLiteral("tags"));
        }
    }
    const auto draft = fields.constFind(QStringLiteral("draft"));
    if (draft != fields.cend() && *draft == Value::makeBool(true)) {
        fm.draft = true;
        result.overrides.append(QStringLiteral("draft"));
    }
    result.body = parsed->body;
    return result;
}

qsizetype strippedOffset(QStringView text)
{
    if (!text.startsWith(u"---\n") && !text.startsWith(u"---\r\n")) {
        return 0;
    }
    qsizetype found = 0;
    qsizetype lineStart = 0;
    bool first = true;
    // The scan stops at the closing line, so a long body costs nothing.
    Text::forEachLineLF(text, [&](QStringView line) {
        const qsizetype next = lineStart + line.size() + 1;
        if (!first) {
            const QStringView t = Text::trimmedWhitespaceAndNewlinesView(line);
            if (t == u"---" || t == u"...") {
                found = std::min(next, text.size());
                return false;
            }
        }
        first = false;
        lineStart = next;
        return true;
    });
    return found;
}

QString strip(const QString &text)
{
    const qsizetype offset = strippedOffset(text);
    return offset == 0 ? text : text.mid(offset);
}

QString quote(const QString &value)
{
    const bool plain = !value.isEmpty() && !value.contains(u':') && !value.contains(u'#') &&
                       !value.startsWith(u' ') && !value.endsWith(u' ') && !value.startsWith(u'[') &&
                       !value.startsWith(u'{') && !value.startsWith(u'\'') && !value.startsWith(u'"');
    if (plain) {
        return value;
    }
    QString escaped = value;
    escaped.replace(u'\\', QLatin1String("\\\\"));
    escaped.replace(u'"', QLatin1String("\\\""));
    return u'"' + escaped + u'"';
}

QString serialize(const Frontmatter &frontmatter, const QStringList &overrides)
{
    QStringList lines;
    const auto scalar = [&](const QString &key, const std::optional<QString> &value) {
        if (overrides.contains(key) && value && !value->isEmpty()) {
            lines.append(key + QLatin1String(": ") + quote(*value));
        }
    };
    scalar(QStringLiteral("title"), frontmatter.title);
    scalar(QStringLiteral("description"), frontmatter.description);
    scalar(QStringLiteral("slug"), frontmatter.slug);
    scalar(QStringLiteral("date"), frontmatter.date);
    if (overrides.contains(QLatin1String("tags")) && frontmatter.tags && !frontmatter.tags->isEmpty()) {
        QStringList quoted;
        for (const QString &tag : *frontmatter.tags) {
            quoted.append(quote(tag));
        }
        lines.append(QLatin1String("tags: [") + quoted.join(QLatin1String(", ")) + u']');
    }
    if (overrides.contains(QLatin1String("draft")) && frontmatter.draft.value_or(false)) {
        lines.append(QStringLiteral("draft: true"));
    }
    if (lines.isEmpty()) {
        return {};
    }
    return QLatin1String("---\n") + lines.join(u'\n') + QLatin1String("\n---\n");
}

} // namespace FrontmatterParser
