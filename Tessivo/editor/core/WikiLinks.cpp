#include "editor/core/WikiLinks.h"

#include "editor/core/MarkdownScan.h"
#include "editor/core/ProseRewriter.h"
#include "store/Text.h"

#include <QUrlQuery>

#include <algorithm>

namespace WikiLinks {

QList<Match> findLinks(QStringView line)
{
    // "\[\[([^\]|\n]+?)(?:\|([^\]\n]+?))?\]\]", scanned by hand so that a
    // line full of "[[" costs linear time.
    QList<Match> matches;
    const qsizetype n = line.size();
    qsizetype stopAt = -1; // first of "]", "|", LF at or after the last query
    const auto firstStop = [&](qsizetype from) {
        if (stopAt < from) {
            stopAt = from;
            while (stopAt < n && line[stopAt] != u']' && line[stopAt] != u'|' && line[stopAt] != u'\n') {
                ++stopAt;
            }
        }
        return stopAt;
    };
    qsizetype closeAt = -1; // first of "]", LF at or after the last query
    const auto firstClose = [&](qsizetype from) {
        if (closeAt < from) {
            closeAt = from;
            while (closeAt < n && line[closeAt] != u']' && line[closeAt] != u'\n') {
                ++closeAt;
            }
        }
        return closeAt;
    };

    qsizetype s = MarkdownScan::indexOfPair(line, u'[', u'[');
    while (s >= 0 && s + 2 < n) {
        const qsizetype a = s + 2;
        const qsizetype k = firstStop(a);
        if (k > a && k + 1 < n) {
            if (line[k] == u']' && line[k + 1] == u']') {
                matches.append(Match{{s, k + 2 - s}, {a, k - a}, {0, -1}});
                s = MarkdownScan::indexOfPair(line, u'[', u'[', k + 2);
                continue;
            }
            if (line[k] == u'|') {
                const qsizetype q = firstClose(k + 1);
                if (q >= k + 2 && q + 1 < n && line[q] == u']' && line[q + 1] == u']') {
                    matches.append(Match{{s, q + 2 - s}, {a, k - a}, {k + 1, q - k - 1}});
                    s = MarkdownScan::indexOfPair(line, u'[', u'[', q + 2);
                    continue;
                }
            }
        }
        s = MarkdownScan::indexOfPair(line, u'[', u'[', s + 1);
    }
    return matches;
}

namespace {

void appendPercentEncoded(QString &out, QStringView text)
{
    static const char hex[] = "0123456789ABCDEF";
    const auto appendByte = [&out](unsigned u) {
        const QChar encoded[3] = {u'%', QLatin1Char(hex[u >> 4]), QLatin1Char(hex[u & 0xF])};
        out.append(encoded, 3);
    };
    const qsizetype n = text.size();
    // Runs of characters kept as they are go in with one append each.
    qsizetype kept = 0;
    for (qsizetype i = 0; i < n;) {
        char32_t cp = text[i].unicode();
        qsizetype width = 1;
        if (QChar::isHighSurrogate(cp) && i + 1 < n && text[i + 1].isLowSurrogate()) {
            cp = QChar::surrogateToUcs4(text[i], text[i + 1]);
            width = 2;
        } else if (QChar::isSurrogate(cp)) {
            cp = 0xFFFD; // a lone surrogate has no UTF-8 form
        }
        const bool ascii = cp < 0x80;
        const bool keep =
            ascii ? ((cp >= u'a' && cp <= u'z') || (cp >= u'A' && cp <= u'Z') || (cp >= u'0' && cp <= u'9') ||
                     cp == u'-' || cp == u'.' || cp == u'_' || cp == u'~')
                  : (QChar::isLetterOrNumber(cp) || QChar::isMark(cp));
        if (keep) {
            i += width;
            continue;
        }
        out.append(text.data() + kept, i - kept);
        kept = i + width;
        if (cp < 0x80) {
            appendByte(unsigned(cp));
        } else if (cp < 0x800) {
            appendByte(0xC0 | (cp >> 6));
            appendByte(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            appendByte(0xE0 | (cp >> 12));
            appendByte(0x80 | ((cp >> 6) & 0x3F));
            appendByte(0x80 | (cp & 0x3F));
        } else {
            appendByte(0xF0 | (cp >> 18));
            appendByte(0x80 | ((cp >> 12) & 0x3F));
            appendByte(0x80 | ((cp >> 6) & 0x3F));
            appendByte(0x80 | (cp & 0x3F));
        }
        i += width;
    }
    out.append(text.data() + kept, n - kept);
}

void appendEscapedMarkdown(QString &out, QStringView label)
{
    qsizetype copied = 0;
    const qsizetype n = label.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = label[i].unicode();
        if (u >= 0x21 && u <= 0x7E && !QChar::isLetterOrNumber(u)) {
            out.append(label.data() + copied, i - copied);
            out.append(u'\\');
            copied = i;
        }
    }
    out.append(label.data() + copied, n - copied);
}

// The key `titles` is looked up by: the target trimmed and lower-cased, built
// in `key` (kept between calls, so its buffer is reused).
void lookupKey(QStringView target, QString &key)
{
    const QStringView trimmed = Text::trimmedWhitespaceAndNewlinesView(target);
    const bool ascii =
        std::all_of(trimmed.cbegin(), trimmed.cend(), [](QChar c) { return c.unicode() < 0x80; });
    if (!ascii) {
        key = trimmed.toString().toLower();
        return;
    }
    key.resize(trimmed.size());
    QChar *to = key.data();
    for (const QChar c : trimmed) {
        const char16_t u = c.unicode();
        *to++ = QChar(u >= u'A' && u <= u'Z' ? char16_t(u + 32) : u);
    }
}

} // namespace

QString percentEncode(QStringView text)
{
    QString out;
    out.reserve(text.size());
    appendPercentEncoded(out, text);
    return out;
}

QString escapeMarkdown(QStringView label)
{
    QString out;
    out.reserve(label.size() * 2);
    appendEscapedMarkdown(out, label);
    return out;
}

void appendAnchor(QString &out, QStringView target, QStringView label, const QHash<QString, QString> &titles,
                  QString &scratch)
{
    lookupKey(target, scratch);
    const auto found = titles.constFind(scratch);
    if (found != titles.constEnd()) {
        out.append(u"<a href=\"zv-doc:/?id=");
        appendPercentEncoded(out, found.value());
        out.append(u"\" class=\"wiki-link\">");
    } else {
        out.append(u"<a href=\"zv-new:/?title=");
        appendPercentEncoded(out, target);
        out.append(u"\" class=\"wiki-link wiki-link--missing\">");
    }
    appendEscapedMarkdown(out, label);
    out.append(u"</a>");
}

QString anchor(const QString &target, const QString &label, const QHash<QString, QString> &titles)
{
    QString out;
    QString scratch;
    appendAnchor(out, target, label, titles, scratch);
    return out;
}

QString render(const QString &line, const QHash<QString, QString> &titles)
{
    return render(line, titles, ProseRewriter::codeSpanRanges(line));
}

QString render(const QString &line, const QHash<QString, QString> &titles, const QList<TextRange> &code,
               QList<Replacement> *replacements)
{
    QString out;
    QString scratch;
    return appendRendered(out, line, titles, code, replacements, scratch) ? out : line;
}

bool appendRendered(QString &out, QStringView view, const QHash<QString, QString> &titles,
                    const QList<TextRange> &code, QList<Replacement> *replacements, QString &scratch)
{
    const qsizetype first = MarkdownScan::indexOfPair(view, u'[', u'[');
    if (first < 0) {
        out.append(view);
        return false;
    }
    const QList<Match> matches = findLinks(view.mid(first));
    bool replaced = false;
    qsizetype copied = 0;
    qsizetype codeIndex = 0;
    for (Match m : matches) {
        m.range.location += first;
        m.target.location += first;
        m.label.location += first;
        while (codeIndex < code.size() && code[codeIndex].end() <= m.range.location) {
            ++codeIndex;
        }
        // A link touching inline code, or starting or ending inside an HTML
        // tag or a link destination, is left alone; a tag wholly inside the
        // label is part of the label.
        bool blocked = false;
        for (qsizetype k = codeIndex; k < code.size() && code[k].location < m.range.end() && !blocked; ++k) {
            const TextRange &r = code[k];
            blocked = view[r.location] == u'`' || r.location < m.range.location || r.end() > m.range.end();
        }
        if (blocked) {
            continue;
        }
        const QStringView target =
            Text::trimmedSpacesAndTabsView(view.mid(m.target.location, m.target.length));
        if (target.isEmpty()) {
            continue;
        }
        QStringView label;
        if (m.label.length > 0) {
            label = Text::trimmedSpacesAndTabsView(view.mid(m.label.location, m.label.length));
        }
        if (label.isEmpty()) {
            label = target;
        }
        out.append(view.mid(copied, m.range.location - copied));
        const qsizetype before = out.size();
        appendAnchor(out, target, label, titles, scratch);
        if (replacements) {
            replacements->append({m.range, out.size() - before});
        }
        copied = m.range.end();
        replaced = true;
    }
    out.append(view.mid(copied));
    return replaced;
}

std::optional<Link> parse(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    if (scheme.isEmpty() || !url.hasQuery()) {
        return std::nullopt;
    }
    const QList<std::pair<QString, QString>> items = QUrlQuery(url).queryItems(QUrl::FullyDecoded);
    if (items.isEmpty()) {
        return std::nullopt;
    }
    const auto firstValue = [&items](const QString &name) {
        for (const auto &item : items) {
            if (item.first == name) {
                return item.second;
            }
        }
        return QString();
    };
    if (scheme == u"zv-doc") {
        const QString id = firstValue(QStringLiteral("id"));
        return id.isEmpty() ? std::nullopt : std::optional<Link>(Link::existing(id));
    }
    if (scheme == u"zv-new") {
        const QString title = firstValue(QStringLiteral("title"));
        return title.isEmpty() ? std::nullopt : std::optional<Link>(Link::missing(title));
    }
    return std::nullopt;
}

const QRegularExpression &openLinkRegex()
{
    static const QRegularExpression re = Text::regex(QStringLiteral("\\[\\[([^\\]\\n]*)$"));
    return re;
}

} // namespace WikiLinks
