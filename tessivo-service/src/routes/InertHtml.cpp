#include "InertHtml.h"

#include <QList>
#include <QRegularExpression>
#include <QStringList>

using namespace Qt::StringLiterals;

namespace tessivo::server {

namespace {
struct Attribute
{
    QString name;
    QString value;
    bool hasValue = false;
    bool quoted = false;
};

struct Tag
{
    qsizetype end = 0; // just past the ">"
    QString name;
    QList<Attribute> attributes;
    bool selfClosing = false;
};

bool isSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\f' || c == u'\r';
}

bool isAsciiLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// Reads the tag whose name starts at `at`, following the HTML tokenizer's
// tag and attribute states (quoted values may hold "<" and ">"). Nothing
// when the text ends inside the tag, which a browser then drops.
std::optional<Tag> readTag(const QString &html, qsizetype at)
{
    const qsizetype n = html.size();
    qsizetype i = at;
    while (i < n && !isSpace(html[i]) && html[i] != u'/' && html[i] != u'>')
        ++i;
    Tag tag;
    tag.name = html.mid(at, i - at).toLower();
    const auto skipSpace = [&] {
        while (i < n && isSpace(html[i]))
            ++i;
    };
    for (;;) {
        skipSpace();
        if (i >= n)
            return std::nullopt;
        if (html[i] == u'>') {
            tag.end = i + 1;
            return tag;
        }
        if (html[i] == u'/') {
            if (i + 1 < n && html[i + 1] == u'>') {
                tag.selfClosing = true;
                tag.end = i + 2;
                return tag;
            }
            ++i;
            continue;
        }
        // A name's first character may be "=".
        const qsizetype nameStart = i++;
        while (i < n && !isSpace(html[i]) && html[i] != u'/' && html[i] != u'>' && html[i] != u'=')
            ++i;
        Attribute attribute{html.mid(nameStart, i - nameStart).toLower(), {}, false, false};
        skipSpace();
        if (i < n && html[i] == u'=') {
            ++i;
            skipSpace();
            if (i >= n)
                return std::nullopt;
            attribute.hasValue = true;
            const QChar quote = html[i];
            if (quote == u'"' || quote == u'\'') {
                const qsizetype close = html.indexOf(quote, i + 1);
                if (close < 0)
                    return std::nullopt;
                attribute.value = html.mid(i + 1, close - i - 1);
                attribute.quoted = true;
                i = close + 1;
            } else if (quote != u'>') {
                const qsizetype valueStart = i;
                while (i < n && !isSpace(html[i]) && html[i] != u'>')
                    ++i;
                attribute.value = html.mid(valueStart, i - valueStart);
            }
        }
        tag.attributes.append(attribute);
    }
}

// A URL attribute value that can only load or link to a page: web and mail
// links, in-page and relative references, and inline images. Anything else
// that names a scheme (or might, behind a character reference) is dropped.
bool harmlessURL(const QString &attribute, const QString &value)
{
    const QString lower = value.trimmed().toLower();
    for (const char *prefix : {"http://", "https://", "mailto:", "#", "/", "?", "./", "../"}) {
        if (lower.startsWith(QLatin1String(prefix)))
            return !lower.contains(u'\n') && !lower.contains(u'\t');
    }
    if (attribute == QLatin1String("src") && lower.startsWith(QLatin1String("data:image/")))
        return true;
    return !value.contains(u':') && !value.contains(u'&');
}

bool keptAttribute(const Attribute &a)
{
    static const QRegularExpression plainName(QStringLiteral("^[a-z_][a-z0-9_.:-]*$"));
    static const QStringList urlAttributes{u"href"_s,       u"src"_s,  u"action"_s, u"formaction"_s,
                                           u"xlink:href"_s, u"data"_s, u"poster"_s, u"background"_s,
                                           u"srcset"_s,     u"ping"_s};
    if (!plainName.match(a.name).hasMatch() || a.name.startsWith(QLatin1String("on")) ||
        a.name == QLatin1String("style") || a.name == QLatin1String("srcdoc"))
        return false;
    return !urlAttributes.contains(a.name) || harmlessURL(a.name, a.value);
}

// The renderer percent-encodes the brackets of an IPv6 host
// ("http://%5B::1%5D:8787/…"), which no browser loads: they are put back in
// the host part of a web URL, and nowhere else.
QString withBracketedHost(const QString &url)
{
    static const QRegularExpression encoded(QStringLiteral("^(\\s*https?://)%5B([0-9a-f:.]+)%5D(?=[:/?#]|$)"),
                                            QRegularExpression::CaseInsensitiveOption);
    QString out = url;
    return out.replace(encoded, QStringLiteral("\\1[\\2]"));
}

// As written when it was unquoted and plain, else within double quotes;
// character references are left as they are, so the value means what it
// meant.
QString valueText(const Attribute &a)
{
    static const QRegularExpression plain(QStringLiteral("^[^\\s\"'<>=`]+$"));
    if (!a.quoted && plain.match(a.value).hasMatch())
        return a.value;
    QString out = a.value;
    out.replace(u'"', u"&quot;"_s).replace(u'<', u"&lt;"_s).replace(u'>', u"&gt;"_s);
    return u'"' + out + u'"';
}

// Past the first ">" from `from`, or the end: how far a browser's bogus
// comment reaches.
qsizetype pastNextGreater(const QString &html, qsizetype from)
{
    const qsizetype close = html.indexOf(u'>', from);
    return close < 0 ? html.size() : close + 1;
}

qsizetype pastComment(const QString &html, qsizetype at)
{
    // "<!-->" and "<!--->" end at once.
    const QStringView rest = QStringView(html).mid(at + 4);
    if (rest.startsWith(u">"))
        return at + 5;
    if (rest.startsWith(u"->"))
        return at + 6;
    // Then at the first "-->" or "--!>".
    for (qsizetype j = html.indexOf(u"--"_s, at + 4); j >= 0; j = html.indexOf(u"--"_s, j + 1)) {
        const QStringView end = QStringView(html).mid(j + 2);
        if (end.startsWith(u">"))
            return j + 3;
        if (end.startsWith(u"!>"))
            return j + 4;
    }
    return html.size();
}
} // namespace

QString inertHtml(const QString &html)
{
    static const QStringList shownAsText{
        u"script"_s,   u"style"_s,    u"textarea"_s,  u"title"_s, u"xmp"_s,      u"iframe"_s, u"noembed"_s,
        u"noframes"_s, u"noscript"_s, u"plaintext"_s, u"base"_s,  u"meta"_s,     u"link"_s,   u"object"_s,
        u"embed"_s,    u"applet"_s,   u"form"_s,      u"frame"_s, u"frameset"_s, u"svg"_s,    u"math"_s};
    static const QRegularExpression plainTagName(QStringLiteral("^[a-z][a-z0-9-]*$"));
    const auto shownAsTag = [](const QString &name) {
        return plainTagName.match(name).hasMatch() && !shownAsText.contains(name);
    };
    QString out;
    out.reserve(html.size());
    const qsizetype n = html.size();
    qsizetype i = 0;
    while (i < n) {
        const qsizetype lt = html.indexOf(u'<', i);
        if (lt < 0) {
            out += QStringView(html).mid(i);
            break;
        }
        out += QStringView(html).mid(i, lt - i);
        const QChar next = lt + 1 < n ? html[lt + 1] : QChar();
        const QChar after = lt + 2 < n ? html[lt + 2] : QChar();
        if (isAsciiLetter(next) || (next == u'/' && isAsciiLetter(after))) {
            const bool endTag = next == u'/';
            const std::optional<Tag> tag = readTag(html, lt + (endTag ? 2 : 1));
            if (!tag) {
                // The text ends inside the tag, which a browser would drop
                // with all that follows: shown as text instead.
                out += QStringView(html).mid(lt).toString().toHtmlEscaped();
                break;
            }
            if (!shownAsTag(tag->name)) {
                out += html.mid(lt, tag->end - lt).toHtmlEscaped();
            } else if (endTag) {
                out += u"</"_s + tag->name + u'>';
            } else {
                out += u'<' + tag->name;
                for (Attribute a : tag->attributes) {
                    if (!keptAttribute(a))
                        continue;
                    if (a.name == QLatin1String("href") || a.name == QLatin1String("src"))
                        a.value = withBracketedHost(a.value);
                    out += u' ' + a.name + (a.hasValue ? u'=' + valueText(a) : QString());
                }
                out += tag->selfClosing ? u" />"_s : u">"_s;
            }
            i = tag->end;
        } else if (next == u'!' && QStringView(html).mid(lt).startsWith(u"<!--")) {
            i = pastComment(html, lt);
        } else if (next == u'!' || next == u'?' || (next == u'/' && after != u'>' && !after.isNull())) {
            i = pastNextGreater(html, lt + 2); // a doctype, processing instruction or bogus comment
        } else if (next == u'/' && after == u'>') {
            i = lt + 3; // "</>" is nothing
        } else {
            out += u"&lt;"_s;
            i = lt + 1;
        }
    }
    return out;
}

} // namespace tessivo::server
