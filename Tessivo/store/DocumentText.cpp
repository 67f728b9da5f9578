// Titles and excerpts: the plain-text names and previews derived from a
// document's Markdown body.

#include "Document.h"

#include "store/FrontmatterParser.h"
#include "store/Text.h"

namespace {

constexpr qsizetype titleLimit = 120;
constexpr qsizetype gatherLimit = 600;
constexpr qsizetype excerptLimit = 281;
constexpr qsizetype excerptCut = 277;

// A CR that ends a line belongs to a CR LF line end, not to the title.
QStringView withoutTrailingCR(QStringView line)
{
    return line.endsWith(u'\r') ? line.chopped(1) : line;
}

} // namespace

QString Document::cleanTitleLine(const QString &line)
{
    QString s = line;
    for (const QString &mark : {QStringLiteral("**"), QStringLiteral("__"), QStringLiteral("`"),
                                QStringLiteral("*"), QStringLiteral("_"), QStringLiteral("~~")}) {
        s.remove(mark);
    }
    return Text::leftCharacters(Text::trimmedWhitespaceAndNewlines(s), titleLimit);
}

QString Document::deriveTitle(const QString &body)
{
    // Views all the way: a heading anywhere wins, so every line is looked
    // at, and a long body must not cost an allocation per line.
    std::optional<QString> firstPlain;
    std::optional<QString> heading;
    Text::forEachLineLF(body, [&](QStringView raw) {
        const QStringView t = Text::trimmedSpacesAndTabsView(withoutTrailingCR(raw));
        if (t.isEmpty()) {
            return true;
        }
        if (t.startsWith(u'#')) {
            qsizetype hashes = 0;
            while (hashes < t.size() && t.at(hashes) == u'#') {
                ++hashes;
            }
            const QStringView rest = Text::trimmedSpacesAndTabsView(t.mid(hashes));
            if (!rest.isEmpty()) {
                heading = cleanTitleLine(rest.toString());
                return false;
            }
            return true;
        }
        if (t == u"---" || t.startsWith(u"```") || firstPlain) {
            return true;
        }
        firstPlain = cleanTitleLine(t.toString());
        return true;
    });
    if (heading) {
        return *heading;
    }
    if (firstPlain && !firstPlain->isEmpty()) {
        return *firstPlain;
    }
    return QStringLiteral("Untitled");
}

bool Document::isStructuralLine(const QString &t)
{
    // Headings of one to six marks followed by a space.
    qsizetype hashes = 0;
    while (hashes < t.size() && t.at(hashes) == u'#') {
        ++hashes;
    }
    if (hashes >= 1 && hashes <= 6 && hashes < t.size() && t.at(hashes) == u' ') {
        return true;
    }
    if (t.startsWith(u"```") || t.startsWith(u"~~~") || t.startsWith(u'>')) {
        return true;
    }
    if (t.size() >= 2 && (t.at(0) == u'-' || t.at(0) == u'*' || t.at(0) == u'+') && t.at(1) == u' ') {
        return true;
    }
    // Numbered list items: any numeric characters, then ". ".
    qsizetype i = 0;
    while (i < t.size()) {
        char32_t c = t.at(i).unicode();
        qsizetype width = 1;
        if (QChar::isHighSurrogate(c) && i + 1 < t.size() && t.at(i + 1).isLowSurrogate()) {
            c = QChar::surrogateToUcs4(t.at(i), t.at(i + 1));
            width = 2;
        }
        if (!QChar::isNumber(c)) {
            break;
        }
        i += width;
    }
    if (i > 0 && QStringView(t).mid(i).startsWith(u". ")) {
        return true;
    }
    if (t.size() >= 3) {
        const QChar first = t.at(0);
        if (first == u'-' || first == u'*') {
            return std::all_of(t.cbegin(), t.cend(), [first](QChar c) { return c == first; });
        }
    }
    return false;
}

const QList<QRegularExpression> &Document::inlineMarkdownPatterns()
{
    static const QList<QRegularExpression> patterns{
        Text::regex(QStringLiteral(R"(`([^`]+)`)")),
        Text::regex(QStringLiteral(R"(!\[([^\]]*)\]\([^)]+\))")),
        Text::regex(QStringLiteral(R"(\[([^\]]+)\]\([^)]+\))")),
        Text::regex(QStringLiteral(R"(\*\*([^*]+)\*\*)")),
        Text::regex(QStringLiteral(R"(__([^_]+)__)")),
        Text::regex(QStringLiteral(R"(\*([^*]+)\*)")),
        Text::regex(QStringLiteral(R"(_([^_]+)_)")),
        Text::regex(QStringLiteral(R"(~~([^~]+)~~)")),
    };
    return patterns;
}

const QRegularExpression &Document::firstSentencePattern()
{
    static const QRegularExpression pattern = Text::regex(QStringLiteral(R"(^[\s\S]*?[.!?](?=\s|$))"));
    return pattern;
}

QString Document::excerpt(const QString &body)
{
    // Only the first paragraph is read, so the walk stops early however
    // long the body is.
    const QStringView text = QStringView(body).mid(FrontmatterParser::strippedOffset(body));
    QString gathered;
    Text::forEachLineAnyBreak(text, [&](QStringView line) {
        const QString t = Text::trimmedWhitespaceAndNewlinesView(line).toString();
        if (t.isEmpty()) {
            return gathered.isEmpty();
        }
        if (isStructuralLine(t)) {
            return true;
        }
        if (!gathered.isEmpty()) {
            gathered.append(u' ');
        }
        gathered.append(t);
        return Text::characterCount(gathered) <= gatherLimit;
    });
    if (gathered.isEmpty()) {
        return {};
    }
    for (const QRegularExpression &re : inlineMarkdownPatterns()) {
        gathered = Text::replaceWithFirstCapture(gathered, re);
    }
    const QRegularExpressionMatch m = firstSentencePattern().match(gathered);
    const QString sentence =
        Text::trimmedWhitespaceAndNewlines(m.hasMatch() ? m.capturedView(0) : QStringView(gathered));
    if (Text::characterCount(sentence) < excerptLimit) {
        return sentence;
    }
    return Text::trimmedSpacesAndTabs(Text::leftCharacters(sentence, excerptCut)) + QChar(0x2026);
}
