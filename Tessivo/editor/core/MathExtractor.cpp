#include "editor/core/MathExtractor.h"

#include "editor/core/MarkdownScan.h"
#include "store/Text.h"

#include "editor/core/LineClassifier.h"

#include <QStringDecoder>

#include <algorithm>
#include <cstring>
#include <vector>

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

namespace {

// markup() written straight into `out`: a document's spans cost no
// temporary strings.
void appendMarkup(QString &out, const Span &span)
{
    out.append(span.display ? QStringView(u"<span class=\"math\" data-display=\"1\">")
                            : QStringView(u"<span class=\"math\" data-display=\"0\">"));
    const QStringView tex(span.tex);
    qsizetype copied = 0;
    for (qsizetype i = 0; i < tex.size(); ++i) {
        const char16_t c = tex[i].unicode();
        if (c != u'&' && c != u'<' && c != u'>') {
            continue;
        }
        out.append(tex.mid(copied, i - copied));
        out.append(c == u'&'   ? QStringView(u"&amp;")
                   : c == u'<' ? QStringView(u"&lt;")
                               : QStringView(u"&gt;"));
        copied = i + 1;
    }
    out.append(tex.mid(copied));
    out.append(u"</span>");
}

} // namespace

QString markup(const Span &span)
{
    QString out;
    appendMarkup(out, span);
    return out;
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

namespace {

// Where math may not start: fenced code and HTML comment blocks (whole
// lines), and in prose and indented code the inline code spans, HTML tags
// and comments and link destinations. In text order, not overlapping.
QList<TextRange> verbatimRanges(QStringView text, const QList<LineClassifier::TextLine> &lines)
{
    using Kind = LineClassifier::Kind;
    QList<TextRange> out;
    const qsizetype count = lines.size();
    for (qsizetype i = 0; i < count;) {
        const LineClassifier::TextLine &l = lines[i];
        const Kind kind = l.info.kind;
        if (kind == Kind::FenceOpen || kind == Kind::FenceBody || kind == Kind::FenceClose ||
            kind == Kind::HtmlComment) {
            out.append({l.start, l.length});
        } else if (kind == Kind::IndentedCode || kind == Kind::Prose) {
            // Code spans, tags and destinations matter only where a "$" is.
            qsizetype j = i + 1;
            while (kind == Kind::Prose && j < count && lines[j].info.kind == Kind::Prose &&
                   !lines[j].info.startsBlock) {
                ++j;
            }
            const qsizetype end = lines[j - 1].start + lines[j - 1].length;
            if (text.mid(l.start, end - l.start).contains(u'$')) {
                out.append(LineClassifier::verbatimRangesIn(text, l.start, end));
            }
            i = j;
            continue;
        }
        ++i;
    }
    return out;
}

// The first private-use character from U+E000 on that `text` does not hold,
// so that no typed character is ever taken for a placeholder.
char16_t freeDelimiter(QStringView text)
{
    if (!text.contains(QChar(kDelimiter))) {
        return kDelimiter;
    }
    std::vector<bool> used(0xF900 - 0xE000, false);
    for (const QChar c : text) {
        if (c.unicode() >= 0xE000 && c.unicode() < 0xF900) {
            used[c.unicode() - 0xE000] = true;
        }
    }
    for (size_t k = 0; k < used.size(); ++k) {
        if (!used[k]) {
            return char16_t(0xE000 + k);
        }
    }
    return 0; // every private-use character is taken: no math
}

} // namespace

Extracted extract(const QString &source)
{
    if (!source.contains(u'$')) {
        return {source, {}, kDelimiter};
    }
    return extract(source, LineClassifier::classify(source));
}

Extracted extract(const QString &source, const QList<LineClassifier::TextLine> &lines)
{
    const QStringView text(source);
    const qsizetype n = text.size();
    Extracted result;
    if (!text.contains(u'$')) {
        result.text = source;
        return result;
    }
    result.delimiter = freeDelimiter(text);
    if (result.delimiter == 0) {
        result.text = source;
        return result;
    }
    QString &out = result.text;
    out.reserve(n);
    const auto appendPlaceholder = [&result, &out](const Span &span) {
        out.append(QChar(result.delimiter));
        out.append(u'M');
        out.append(QString::number(result.spans.size()));
        out.append(QChar(result.delimiter));
        result.spans.append(span);
    };

    // The next "$$" at or after a position; queries only move forward.
    qsizetype ddFrom = -1;
    qsizetype ddAt = -1;
    const auto nextDoubleDollar = [&](qsizetype from) {
        if (ddFrom < 0 || from < ddFrom || (ddAt >= 0 && ddAt < from)) {
            ddFrom = from;
            ddAt = indexOfPair(text, u'$', u'$', from);
            while (ddAt >= 0 && !isDollar(text, ddAt + 1)) {
                ddAt = indexOfPair(text, u'$', u'$', ddAt + 1);
            }
        }
        return ddAt;
    };

    // The next "$" and the next backslash at or after a position, found with
    // the vectorised character search; queries only move forward.
    qsizetype dollarAt = -1;
    qsizetype backslashAt = -1;
    const auto nextSpecial = [&](qsizetype from) {
        if (dollarAt != n && dollarAt < from) {
            dollarAt = text.indexOf(u'$', from);
            dollarAt = dollarAt < 0 ? n : dollarAt;
        }
        if (backslashAt != n && backslashAt < from) {
            backslashAt = text.indexOf(u'\\', from);
            backslashAt = backslashAt < 0 ? n : backslashAt;
        }
        return std::min(dollarAt, backslashAt);
    };

    const QList<TextRange> verbatim = verbatimRanges(text, lines);
    qsizetype nextVerbatim = 0;
    qsizetype i = 0;
    while (i < n) {
        while (nextVerbatim < verbatim.size() && verbatim[nextVerbatim].end() <= i) {
            ++nextVerbatim;
        }
        const qsizetype verbatimStart = nextVerbatim < verbatim.size() ? verbatim[nextVerbatim].location : n;
        if (verbatimStart <= i) {
            const qsizetype end = verbatim[nextVerbatim].end();
            out.append(text.mid(i, end - i));
            i = end;
            continue;
        }
        const char16_t c = text[i].unicode();
        if ((c != u'$' || !isDollar(text, i)) && c != u'\\') {
            // Copy the whole run up to the next character that matters.
            const qsizetype j = std::min(verbatimStart, nextSpecial(i + 1));
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
        // c is "$"
        if (i + 1 < n && isDollar(text, i + 1)) {
            const qsizetype close = nextDoubleDollar(i + 2);
            if (close >= 0) {
                const QString tex = Text::trimmedWhitespaceAndNewlines(text.mid(i + 2, close - i - 2));
                if (!tex.isEmpty()) {
                    if (const qsizetype breaks = text.mid(i, close - i).count(u'\n')) {
                        result.joins.append({out.size(), breaks});
                    }
                    appendPlaceholder({tex, true});
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
        const qsizetype close = closingDollar(text.left(verbatimStart), i + 1);
        if (close < 0) {
            out.append(u'$');
            ++i;
            continue;
        }
        appendPlaceholder({text.mid(i + 1, close - i - 1).toString(), false});
        i = close + 1;
    }
    return result;
}

QString restore(const QString &html, const QList<Span> &spans, char16_t delimiter)
{
    if (spans.isEmpty()) {
        return html;
    }
    const QStringView view(html);
    const QStringView paraOpen = u"<p>";
    const QStringView paraClose = u"</p>";
    QString out;
    out.reserve(html.size() + spans.size() * 48);
    // The library may copy a placeholder (a link reference's title used many
    // times); only the first copy becomes math, so the output stays in
    // proportion to the input.
    std::vector<bool> restored(size_t(spans.size()), false);
    qsizetype copied = 0;
    qsizetype i = view.indexOf(QChar(delimiter));
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
            if (p > digitsStart && p < view.size() && view[p] == QChar(delimiter)) {
                bool ok = false;
                number = view.mid(digitsStart, p - digitsStart).toLongLong(&ok);
                if (!ok || number >= spans.size() || (view[digitsStart] == u'0' && p - digitsStart > 1)) {
                    number = -1;
                }
            }
        }
        if (number < 0) {
            i = view.indexOf(QChar(delimiter), i + 1);
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
        if (!restored[size_t(number)]) {
            restored[size_t(number)] = true;
            appendMarkup(out, spans.at(number));
        }
        copied = end;
        i = view.indexOf(QChar(delimiter), end);
    }
    out.append(view.mid(copied));
    return out;
}

QString restoreUtf8(QByteArrayView html, const QList<Span> &spans, char16_t delimiter)
{
    if (spans.isEmpty()) {
        return QString::fromUtf8(html);
    }
    // The delimiter lies in the private-use area: three bytes in UTF-8.
    const char marker[3] = {char(0xE0 | (delimiter >> 12)), char(0x80 | ((delimiter >> 6) & 0x3F)),
                            char(0x80 | (delimiter & 0x3F))};
    const QByteArrayView delimiterBytes(marker, 3);
    // The next delimiter at or after `from`, or -1: its first byte is found
    // with memchr, which is vectorised, unlike a search for three bytes.
    const auto nextDelimiter = [html, marker](qsizetype from) -> qsizetype {
        const char *const data = html.data();
        const char *const last = data + html.size();
        for (const char *at = data + from; at < last;) {
            const void *found = std::memchr(at, marker[0], size_t(last - at));
            if (!found) {
                return -1;
            }
            at = static_cast<const char *>(found);
            if (last - at >= 3 && at[1] == marker[1] && at[2] == marker[2]) {
                return at - data;
            }
            ++at;
        }
        return -1;
    };
    const QByteArrayView paraOpen("<p>");
    const QByteArrayView paraClose("</p>");

    // UTF-8 never takes fewer bytes than UTF-16 units, and each span's
    // markup is at most its TeX five times over (entities) and its tags.
    qsizetype room = html.size();
    for (const Span &span : spans) {
        room += 5 * span.tex.size() + 64;
    }
    QString out(room, Qt::Uninitialized);
    QChar *to = out.data();
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    QString markupBuffer;
    std::vector<bool> restored(size_t(spans.size()), false);
    qsizetype copied = 0;
    qsizetype i = nextDelimiter(0);
    while (i >= 0) {
        // A placeholder: the delimiter, "M", digits, the delimiter.
        qsizetype p = i + 3;
        qsizetype number = -1;
        if (p < html.size() && html[p] == 'M') {
            ++p;
            const qsizetype digitsStart = p;
            while (p < html.size() && html[p] >= '0' && html[p] <= '9' && p - digitsStart < 10) {
                ++p;
            }
            if (p > digitsStart && html.sliced(p).startsWith(delimiterBytes)) {
                // Ten digits at most: no overflow.
                number = 0;
                for (qsizetype d = digitsStart; d < p; ++d) {
                    number = number * 10 + (html[d] - '0');
                }
                if (number >= spans.size() || (html[digitsStart] == '0' && p - digitsStart > 1)) {
                    number = -1;
                }
            }
        }
        if (number < 0) {
            i = nextDelimiter(i + 1);
            continue;
        }
        qsizetype start = i;
        qsizetype end = p + 3;
        if (start - copied >= paraOpen.size() &&
            html.sliced(start - paraOpen.size(), paraOpen.size()) == paraOpen &&
            html.sliced(end).startsWith(paraClose)) {
            start -= paraOpen.size();
            end += paraClose.size();
        }
        to = decoder.appendToBuffer(to, html.sliced(copied, start - copied));
        if (!restored[size_t(number)]) {
            restored[size_t(number)] = true;
            markupBuffer.resize(0);
            appendMarkup(markupBuffer, spans.at(number));
            std::copy(markupBuffer.cbegin(), markupBuffer.cend(), to);
            to += markupBuffer.size();
        }
        copied = end;
        i = nextDelimiter(end);
    }
    to = decoder.appendToBuffer(to, html.sliced(copied));
    out.truncate(to - out.constData());
    return out;
}

} // namespace MathExtractor
