#include "editor/core/MathExtractor.h"

#include "editor/core/MarkdownScan.h"
#include "store/Text.h"

#include <optional>

using namespace MarkdownScan;

namespace MathExtractor {

namespace {

constexpr char16_t kDelimiter = 0xE000;

// A "$" counts only as a character of its own: followed by a combining mark
// or a joiner it is part of a larger user-perceived character.
bool isDollar(QStringView text, qsizetype i)
{
    if (text[i] != u'$') {
        return false;
    }
    if (i + 1 >= text.size()) {
        return true;
    }
    const char32_t next = codePointAt(text, i + 1);
    return !QChar::isMark(next) && next != 0x200D;
}

} // namespace

QString placeholder(qsizetype k)
{
    return QChar(kDelimiter) + u'M' + QString::number(k) + QChar(kDelimiter);
}

QString markup(const Span &span)
{
    QString tex = span.tex;
    tex.replace(u'&', QStringLiteral("&amp;"))
        .replace(u'<', QStringLiteral("&lt;"))
        .replace(u'>', QStringLiteral("&gt;"));
    return (span.display ? QStringLiteral("<span class=\"math\" data-display=\"1\">")
                         : QStringLiteral("<span class=\"math\" data-display=\"0\">")) +
           tex + QStringLiteral("</span>");
}

FenceMarker fenceMarker(QStringView text, qsizetype i)
{
    const qsizetype n = text.size();
    qsizetype p = i;
    while (p < n && p - i < 3 && text[p] == u' ') {
        ++p;
    }
    if (p >= n || (text[p] != u'`' && text[p] != u'~')) {
        return {};
    }
    const char16_t c = text[p].unicode();
    qsizetype q = p;
    while (q < n && text[q] == c) {
        ++q;
    }
    if (q - p < 3) {
        return {};
    }
    return {c, q - p};
}

qsizetype closingDollar(QStringView text, qsizetype from)
{
    const qsizetype n = text.size();
    for (qsizetype k = from; k < n; ++k) {
        const char16_t c = text[k].unicode();
        if (c == u'\n' || c == u'`') {
            return -1;
        }
        if (!isDollar(text, k)) {
            continue;
        }
        if (k > 0 && text[k - 1] == u'\\') {
            continue; // an escaped dollar inside the TeX
        }
        if (k == 0 || isWhiteSpace(text[k - 1])) {
            return -1;
        }
        if (k + 1 < n && isNumber(codePointAt(text, k + 1))) {
            return -1;
        }
        return k;
    }
    return -1;
}

Extracted extract(const QString &source)
{
    const QStringView text(source);
    const qsizetype n = text.size();
    Extracted result;
    if (!text.contains(u'$')) {
        result.text = source;
        return result;
    }
    QString &out = result.text;
    out.reserve(n);

    std::optional<BacktickRuns> runs; // built at the first backtick
    // The next "$$" at or after a position; queries only move forward.
    qsizetype ddFrom = -1;
    qsizetype ddAt = -1;
    const auto nextDoubleDollar = [&](qsizetype from) {
        if (ddFrom < 0 || from < ddFrom || (ddAt >= 0 && ddAt < from)) {
            ddFrom = from;
            ddAt = text.indexOf(u"$$", from);
            while (ddAt >= 0 && !isDollar(text, ddAt + 1)) {
                ddAt = text.indexOf(u"$$", ddAt + 1);
            }
        }
        return ddAt;
    };

    bool lineStart = true;
    FenceMarker open; // length 0: no fenced block open
    qsizetype i = 0;
    while (i < n) {
        if (lineStart) {
            const FenceMarker marker = fenceMarker(text, i);
            if (marker.length > 0) {
                if (open.length == 0) {
                    open = marker;
                } else if (marker.character == open.character && marker.length >= open.length) {
                    open = {};
                }
                qsizetype lineEnd = text.indexOf(u'\n', i);
                if (lineEnd < 0) {
                    lineEnd = n;
                }
                out.append(text.mid(i, lineEnd - i));
                i = lineEnd;
                lineStart = false;
                continue;
            }
        }
        const char16_t c = text[i].unicode();
        lineStart = c == u'\n';
        if (open.length > 0 || ((c != u'$' || !isDollar(text, i)) && c != u'\\' && c != u'`')) {
            // Copy the whole run up to the next character that matters: a line
            // feed (line starts), or outside fences "$", "\\" or a backtick.
            qsizetype j = i + 1;
            if (c != u'\n') {
                if (open.length > 0) {
                    while (j < n && text[j] != u'\n') {
                        ++j;
                    }
                } else {
                    while (j < n && text[j] != u'\n' && text[j] != u'$' && text[j] != u'\\' &&
                           text[j] != u'`') {
                        ++j;
                    }
                }
            }
            out.append(text.mid(i, j - i));
            i = j;
            continue;
        }
        if (c == u'\\') {
            if (i + 1 < n && isDollar(text, i + 1)) {
                out.append(QStringLiteral("\\$"));
                i += 2;
            } else {
                out.append(QChar(c));
                ++i;
            }
            continue;
        }
        if (c == u'`') {
            qsizetype runEnd = i;
            while (runEnd < n && text[runEnd] == u'`') {
                ++runEnd;
            }
            if (!runs) {
                runs.emplace(text);
            }
            const qsizetype close = runs->next(runEnd - i, runEnd);
            const qsizetype end = close >= 0 ? close + (runEnd - i) : runEnd;
            out.append(text.mid(i, end - i));
            i = end;
            continue;
        }
        // c is "$"
        if (i + 1 < n && isDollar(text, i + 1)) {
            const qsizetype close = nextDoubleDollar(i + 2);
            if (close >= 0) {
                const QString tex = Text::trimmedWhitespaceAndNewlines(text.mid(i + 2, close - i - 2));
                if (!tex.isEmpty()) {
                    out.append(placeholder(result.spans.size()));
                    result.spans.append({tex, true});
                    i = close + 2;
                    continue;
                }
            }
            out.append(u'$');
            ++i;
            continue;
        }
        if (i + 1 >= n || isWhiteSpace(text[i + 1])) {
            out.append(u'$');
            ++i;
            continue;
        }
        const qsizetype close = closingDollar(text, i + 1);
        if (close < 0) {
            out.append(u'$');
            ++i;
            continue;
        }
        out.append(placeholder(result.spans.size()));
        result.spans.append({text.mid(i + 1, close - i - 1).toString(), false});
        i = close + 1;
    }
    return result;
}

QString restore(const QString &html, const QList<Span> &spans)
{
    if (spans.isEmpty()) {
        return html;
    }
    const QStringView view(html);
    const QStringView paraOpen = u"<p>";
    const QStringView paraClose = u"</p>";
    QString out;
    out.reserve(html.size() + spans.size() * 48);
    qsizetype copied = 0;
    qsizetype i = view.indexOf(QChar(kDelimiter));
    while (i >= 0) {
        // A placeholder: U+E000 "M" digits U+E000, numbering an existing span.
        qsizetype p = i + 1;
        qsizetype number = -1;
        if (p < view.size() && view[p] == u'M') {
            ++p;
            const qsizetype digitsStart = p;
            while (p < view.size() && view[p] >= u'0' && view[p] <= u'9' && p - digitsStart < 10) {
                ++p;
            }
            if (p > digitsStart && p < view.size() && view[p] == QChar(kDelimiter)) {
                bool ok = false;
                number = view.mid(digitsStart, p - digitsStart).toLongLong(&ok);
                if (!ok || number >= spans.size() || (view[digitsStart] == u'0' && p - digitsStart > 1)) {
                    number = -1;
                }
            }
        }
        if (number < 0) {
            i = view.indexOf(QChar(kDelimiter), i + 1);
            continue;
        }
        qsizetype start = i;
        qsizetype end = p + 1;
        if (start - copied >= paraOpen.size() &&
            view.mid(start - paraOpen.size(), paraOpen.size()) == paraOpen &&
            view.mid(end, paraClose.size()) == paraClose) {
            start -= paraOpen.size();
            end += paraClose.size();
        }
        out.append(view.mid(copied, start - copied));
        out.append(markup(spans.at(number)));
        copied = end;
        i = view.indexOf(QChar(kDelimiter), end);
    }
    out.append(view.mid(copied));
    return out;
}

} // namespace MathExtractor
