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
    switch (c) {
    case 0x09:
    case 0x20:
    case 0xA0:
    case 0x1680:
    case 0x202F:
    case 0x205F:
    case 0x3000:
        return true;
    default:
        return c >= 0x2000 && c <= 0x200A;
    }
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

bool isWordCharacter(char32_t c)
{
    if (c == 0x200C || c == 0x200D) {
        return true;
    }
    switch (QChar::category(c)) {
    case QChar::Letter_Uppercase:
    case QChar::Letter_Lowercase:
    case QChar::Letter_Titlecase:
    case QChar::Letter_Modifier:
    case QChar::Letter_Other:
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
    case QChar::Number_DecimalDigit:
    case QChar::Number_Letter:
    case QChar::Punctuation_Connector:
        return true;
    default:
        return false;
    }
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

namespace {

// The members of isWordCharacter as a class body, for patterns.
const QString &wordClassBody()
{
    static const QString body = QStringLiteral(R"(\p{L}\p{M}\p{Nd}\p{Nl}\p{Pc}\x{200C}\x{200D})");
    return body;
}

// The engine's \w is letters, numbers and "_" only, and its \b follows that
// \w; the patterns expect the word characters of isWordCharacter (combining
// marks, connector punctuation, joiners). Rewrites \w, \W, \b and \B
// accordingly, leaving escaped backslashes and \Q...\E quotes alone. A \W
// inside a character class cannot be expressed and is kept.
QString withAppWordClass(const QString &pattern)
{
    const QString &body = wordClassBody();
    const QString word = u'[' + body + u']';
    const QString notWord = QStringLiteral("[^") + body + u']';
    const QString boundary = QStringLiteral("(?:(?<=%1)(?!%1)|(?<!%1)(?=%1))").arg(word);
    const QString notBoundary = QStringLiteral("(?:(?<=%1)(?=%1)|(?<!%1)(?!%1))").arg(word);
    QString out;
    out.reserve(pattern.size() + 32);
    bool inClass = false;
    bool quoted = false;
    const qsizetype n = pattern.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = pattern[i];
        if (quoted) {
            if (c == u'\\' && i + 1 < n && pattern[i + 1] == u'E') {
                quoted = false;
            }
            out.append(c);
            continue;
        }
        if (c == u'\\' && i + 1 < n) {
            const QChar e = pattern[++i];
            if (e == u'w') {
                out.append(inClass ? body : word);
            } else if (e == u'W' && !inClass) {
                out.append(notWord);
            } else if (e == u'b' && !inClass) {
                out.append(boundary);
            } else if (e == u'B' && !inClass) {
                out.append(notBoundary);
            } else {
                quoted = e == u'Q';
                out.append(c);
                out.append(e);
            }
            continue;
        }
        if (!inClass && c == u'[') {
            inClass = true;
            out.append(c);
            // A "]" right after "[" or "[^" is a member, not the end.
            if (i + 1 < n && pattern[i + 1] == u'^') {
                out.append(pattern[++i]);
            }
            if (i + 1 < n && pattern[i + 1] == u']') {
                out.append(pattern[++i]);
            }
            continue;
        }
        if (inClass && c == u']') {
            inClass = false;
        }
        out.append(c);
    }
    return out;
}

} // namespace

QRegularExpression regex(const QString &pattern, QRegularExpression::PatternOptions options)
{
    // (*ANY) makes every Unicode line end a newline for "$", "^" and ".", as
    // the patterns were written for an engine that behaves that way.
    QRegularExpression re(QStringLiteral("(*ANY)") + withAppWordClass(pattern),
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
