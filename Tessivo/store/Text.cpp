#include "Text.h"

#include <QTextBoundaryFinder>

namespace Text {

qsizetype characterCount(QStringView text)
{
    if (text.isEmpty()) {
        return 0;
    }
    // ASCII text without CR has one cluster per code unit; skipping the
    // boundary finder there keeps titles and filters cheap.
    bool simple = true;
    for (QChar c : text) {
        if (c.unicode() >= 0x7f || c.unicode() == u'\r') {
            simple = false;
            break;
        }
    }
    if (simple) {
        return text.size();
    }
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.data(), text.size());
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1) {
        ++count;
    }
    return count;
}

QString leftCharacters(QStringView text, qsizetype count)
{
    if (count <= 0) {
        return {};
    }
    if (text.size() <= count) {
        return text.toString();
    }
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.data(), text.size());
    qsizetype seen = 0;
    qsizetype end = 0;
    while (seen < count) {
        const qsizetype next = finder.toNextBoundary();
        if (next == -1) {
            return text.toString();
        }
        end = next;
        ++seen;
    }
    return text.left(end).toString();
}

QList<qsizetype> characterBoundaries(QStringView text)
{
    QList<qsizetype> result;
    result.reserve(text.size() + 1);
    result.append(0);
    if (text.isEmpty()) {
        return result;
    }
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.data(), text.size());
    qsizetype next;
    while ((next = finder.toNextBoundary()) != -1) {
        result.append(next);
    }
    return result;
}

bool isSpaceOrTab(char32_t c)
{
    if (c == U'\t' || c == U' ') {
        return true;
    }
    if (c < 0x80) {
        return false;
    }
    return QChar::category(c) == QChar::Separator_Space;
}

bool isLineBreak(char32_t c)
{
    switch (c) {
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x85:
    case 0x2028:
    case 0x2029:
        return true;
    default:
        return false;
    }
}

bool isWhitespaceOrNewline(char32_t c)
{
    return isSpaceOrTab(c) || isLineBreak(c);
}

namespace {

template <typename Pred>
QStringView trimmedViewBy(QStringView text, Pred pred)
{
    // Work on code points so that a non-BMP space separator (none exist today)
    // or a lone surrogate never gets split.
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end) {
        const QChar c = text.at(begin);
        if (c.isSurrogate() || !pred(c.unicode())) {
            break;
        }
        ++begin;
    }
    while (end > begin) {
        const QChar c = text.at(end - 1);
        if (c.isSurrogate() || !pred(c.unicode())) {
            break;
        }
        --end;
    }
    return text.mid(begin, end - begin);
}

} // namespace

QStringView trimmedSpacesAndTabsView(QStringView text)
{
    return trimmedViewBy(text, isSpaceOrTab);
}

QStringView trimmedWhitespaceAndNewlinesView(QStringView text)
{
    return trimmedViewBy(text, isWhitespaceOrNewline);
}

QString trimmedSpacesAndTabs(QStringView text)
{
    return trimmedViewBy(text, isSpaceOrTab).toString();
}

QString trimmedWhitespaceAndNewlines(QStringView text)
{
    return trimmedViewBy(text, isWhitespaceOrNewline).toString();
}

QList<QStringView> splitLinesLF(QStringView text)
{
    QList<QStringView> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == u'\n') {
            lines.append(text.mid(start, i - start));
            start = i + 1;
        }
    }
    lines.append(text.mid(start));
    return lines;
}

QList<QStringView> splitLinesAnyBreak(QStringView text)
{
    QList<QStringView> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (!isLineBreak(c)) {
            continue;
        }
        lines.append(text.mid(start, i - start));
        if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n') {
            ++i;
        }
        start = i + 1;
    }
    lines.append(text.mid(start));
    return lines;
}

QRegularExpression regex(const QString &pattern, QRegularExpression::PatternOptions options)
{
    // (*ANY) makes every Unicode line end a newline for "$", "^" and ".", as
    // the patterns were written for an engine that behaves that way.
    QRegularExpression re(QStringLiteral("(*ANY)") + pattern,
                          options | QRegularExpression::UseUnicodePropertiesOption);
    if (!re.isValid()) {
        qFatal("invalid fixed regular expression %s: %s", qPrintable(pattern), qPrintable(re.errorString()));
    }
    re.optimize();
    return re;
}

QString replaceWithFirstCapture(const QString &text, const QRegularExpression &re)
{
    QString result;
    qsizetype last = 0;
    auto it = re.globalMatch(text);
    if (!it.hasNext()) {
        return text;
    }
    result.reserve(text.size());
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        result.append(QStringView(text).mid(last, m.capturedStart(0) - last));
        result.append(m.capturedView(1));
        last = m.capturedEnd(0);
    }
    result.append(QStringView(text).mid(last));
    return result;
}

} // namespace Text
