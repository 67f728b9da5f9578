#pragma once

#include <QHash>
#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringView>
#include <QUrl>

#include <optional>

#include "store/TextRange.h"

// Links between documents by title: "[[Title]]" or "[[Title|label]]". A line's
// wiki links become anchors to "zv-doc:/?id=<id>" for a known document or to
// "zv-new:/?title=<title>" for a missing one; the preview decodes clicks on
// them with parse().
namespace WikiLinks {

// The decoded form of a clicked link.
struct Link
{
    enum class Kind : quint8 { Existing, Missing };
    Kind kind = Kind::Existing;
    QString value; // the id of an existing document, the title of a missing one

    static Link existing(const QString &id) { return {Kind::Existing, id}; }
    static Link missing(const QString &title) { return {Kind::Missing, title}; }
    friend bool operator==(const Link &, const Link &) = default;
};

// One "[[target|label]]" found in a line; label has length -1 when absent.
struct Match
{
    TextRange range;
    TextRange target;
    TextRange label{0, -1};
};

// Every wiki link of a line, left to right (code spans not considered).
QList<Match> findLinks(QStringView line);

// The line with each wiki link outside inline code replaced by its anchor.
// `titles` maps a display title, trimmed and lower-cased, to a document id.
QString render(const QString &line, const QHash<QString, QString> &titles);
// The same with the line's `verbatim` ranges (code spans, HTML tags and
// comments, link destinations) in place of its own code spans: a link that
// touches code, or reaches into a tag or destination, stays as written.
// `replacements`, when given, receives each link's range in `line` and the
// length of its anchor in the result, in order.
struct Replacement
{
    TextRange source;
    qsizetype length = 0;
};
QString render(const QString &line, const QHash<QString, QString> &titles, const QList<TextRange> &verbatim,
               QList<Replacement> *replacements = nullptr);

// The anchor for one link.
QString anchor(const QString &target, const QString &label, const QHash<QString, QString> &titles);
// The same, appended to `out`; `scratch` is working space kept between calls
// so that a render with thousands of links allocates little.
void appendAnchor(QString &out, QStringView target, QStringView label, const QHash<QString, QString> &titles,
                  QString &scratch);

// render() with verbatim ranges, appending the rewritten line to `out`.
// Returns whether any link was replaced.
bool appendRendered(QString &out, QStringView line, const QHash<QString, QString> &titles,
                    const QList<TextRange> &verbatim, QList<Replacement> *replacements, QString &scratch);

// A backslash before every ASCII punctuation or symbol character, so the
// label shows literally after Markdown processing.
QString escapeMarkdown(QStringView label);

// Percent-encoding that keeps Unicode letters, marks and digits and "-", ".",
// "_", "~"; everything else becomes %XX of its UTF-8 bytes.
QString percentEncode(QStringView text);

// Decodes a "zv-doc" or "zv-new" URL; nothing for any other URL.
std::optional<Link> parse(const QUrl &url);

// "\[\[([^\]\n]*)$": matched against the text from the start of the caret's
// line to the caret, finds an unclosed "[[" and the partial title after it.
const QRegularExpression &openLinkRegex();

} // namespace WikiLinks
