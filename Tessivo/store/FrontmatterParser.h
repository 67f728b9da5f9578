#pragma once

#include "store/Frontmatter.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

// Reads, removes and writes the "---" block at the top of a Markdown body.
// The reader is deliberately small: one "key: value" per line, no nesting
// across lines, no escapes. Every function is pure and thread-safe.
namespace FrontmatterParser {

// One typed value of a block line.
struct Value
{
    enum class Kind { Bool, Number, String, Array, Null };

    Kind kind = Kind::Null;
    bool boolValue = false;
    // The number's text exactly as written, or the string's text.
    QString text;
    QList<Value> items;

    static Value makeBool(bool value);
    static Value makeNumber(const QString &text);
    static Value makeString(const QString &text);
    static Value makeArray(const QList<Value> &items);
    static Value makeNull();

    // Text form used for tags: "true"/"false", the number's or string's text,
    // array items joined with "," (no space), "" for null.
    QString stringValue() const;

    // Same kind and equal payload (arrays element by element).
    friend bool operator==(const Value &a, const Value &b);
};

struct Parsed
{
    QMap<QString, Value> fields;
    QString body;

    friend bool operator==(const Parsed &, const Parsed &) = default;
};

struct Extracted
{
    QString body;
    Frontmatter frontmatter;
    // The keys found, always in the order title, description, slug, date,
    // tags, draft.
    QStringList overrides;

    friend bool operator==(const Extracted &, const Extracted &) = default;
};

// The block's fields and the text after the closing "---" line (LF line
// ends), or nullopt when the text does not start with a complete block.
std::optional<Parsed> parse(const QString &text);

// Types one raw value: null, bool, number (its text), quoted or plain
// string, or a bracketed array. Arrays nest 32 deep at most: a deeper
// bracketed value is read as a plain string.
Value parseValue(const QString &raw);

// Splits the inside of "[...]" at top-level commas, honouring quotes and
// nested brackets. A trailing comma gives a final empty item.
QStringList splitArrayItems(const QString &inside);

// The six known fields with their override keys; without a block the body
// is the text unchanged.
Extracted extract(const QString &text);

// The text without a leading block. Looser than parse(): the closing line
// may be "..." and may carry surrounding white space.
QString strip(const QString &text);
// Where the text that strip() keeps begins: a UTF-16 offset into `text`
// (0 without a block, text.size() when nothing follows the block).
qsizetype strippedOffset(QStringView text);

// A block for the fields named in `overrides`, ending with "\n", or "" when
// no listed field is usable.
QString serialize(const Frontmatter &frontmatter, const QStringList &overrides);

// One scalar as written in a block: plain when safe, else double-quoted with
// backslashes and double quotes escaped.
QString quote(const QString &value);

} // namespace FrontmatterParser
