#include "editor/core/WikiLinks.h"

#include "editor/core/ProseRewriter.h"
#include "store/Text.h"

#include <QUrlQuery>

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

    qsizetype s = line.indexOf(u"[[");
    while (s >= 0 && s + 2 < n) {
        const qsizetype a = s + 2;
        const qsizetype k = firstStop(a);
        if (k > a && k + 1 < n) {
            if (line[k] == u']' && line[k + 1] == u']') {
                matches.append(Match{{s, k + 2 - s}, {a, k - a}, {0, -1}});
                s = line.indexOf(u"[[", k + 2);
                continue;
            }
            if (line[k] == u'|') {
                const qsizetype q = firstClose(k + 1);
                if (q >= k + 2 && q + 1 < n && line[q] == u']' && line[q + 1] == u']') {
                    matches.append(Match{{s, q + 2 - s}, {a, k - a}, {k + 1, q - k - 1}});
                    s = line.indexOf(u"[[", q + 2);
                    continue;
                }
            }
        }
        s = line.indexOf(u"[[", s + 1);
    }
    return matches;
}

QString percentEncode(QStringView text)
{
    static const char hex[] = "0123456789ABCDEF";
    QString out;
    out.reserve(text.size());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n;) {
        char32_t cp = text[i].unicode();
        qsizetype width = 1;
        if (QChar::isHighSurrogate(cp) && i + 1 < n && text[i + 1].isLowSurrogate()) {
            cp = QChar::surrogateToUcs4(text[i], text[i + 1]);
            width = 2;
        } else if (QChar::isSurrogate(cp)) {
            cp = 0xFFFD; // a lone surrogate has no UTF-8 form
        }
        const bool kept = QChar::isLetterOrNumber(cp) || QChar::isMark(cp) || cp == u'-' || cp == u'.' ||
                          cp == u'_' || cp == u'~';
        if (kept) {
            out.append(text.mid(i, width));
        } else {
            const QByteArray bytes = QString::fromUcs4(&cp, 1).toUtf8();
            for (const char b : bytes) {
                const auto u = static_cast<unsigned char>(b);
                out.append(u'%');
                out.append(QLatin1Char(hex[u >> 4]));
                out.append(QLatin1Char(hex[u & 0xF]));
            }
        }
        i += width;
    }
    return out;
}

QString escapeMarkdown(QStringView label)
{
    QString out;
    out.reserve(label.size() * 2);
    for (const QChar c : label) {
        const char16_t u = c.unicode();
        if (u >= 0x21 && u <= 0x7E && !c.isLetterOrNumber()) {
            out.append(u'\\');
        }
        out.append(c);
    }
    return out;
}

QString anchor(const QString &target, const QString &label, const QHash<QString, QString> &titles)
{
    const QString key = Text::trimmedWhitespaceAndNewlines(target).toLower();
    const auto found = titles.constFind(key);
    QString out;
    if (found != titles.constEnd()) {
        out = QStringLiteral("<a href=\"zv-doc:/?id=") + percentEncode(found.value()) +
              QStringLiteral("\" class=\"wiki-link\">");
    } else {
        out = QStringLiteral("<a href=\"zv-new:/?title=") + percentEncode(target) +
              QStringLiteral("\" class=\"wiki-link wiki-link--missing\">");
    }
    return out + escapeMarkdown(label) + QStringLiteral("</a>");
}

QString render(const QString &line, const QHash<QString, QString> &titles)
{
    return render(line, titles, ProseRewriter::codeSpanRanges(line));
}

QString render(const QString &line, const QHash<QString, QString> &titles, const QList<TextRange> &code,
               QList<Replacement> *replacements)
{
    const QStringView view(line);
    if (!view.contains(u"[[")) {
        return line;
    }
    const QList<Match> matches = findLinks(view);
    if (matches.isEmpty()) {
        return line;
    }
    QString out;
    out.reserve(line.size() + matches.size() * 64);
    qsizetype copied = 0;
    qsizetype codeIndex = 0;
    for (const Match &m : matches) {
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
        const QString target = Text::trimmedSpacesAndTabs(view.mid(m.target.location, m.target.length));
        if (target.isEmpty()) {
            continue;
        }
        QString label;
        if (m.label.length > 0) {
            label = Text::trimmedSpacesAndTabs(view.mid(m.label.location, m.label.length));
        }
        if (label.isEmpty()) {
            label = target;
        }
        out.append(view.mid(copied, m.range.location - copied));
        const QString a = anchor(target, label, titles);
        out.append(a);
        if (replacements) {
            replacements->append({m.range, a.size()});
        }
        copied = m.range.end();
    }
    if (copied == 0) {
        return line;
    }
    out.append(view.mid(copied));
    return out;
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
