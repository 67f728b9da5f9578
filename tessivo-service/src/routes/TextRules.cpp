#include "TextRules.h"

#include <QUrlQuery>

#include <algorithm>

namespace tessivo::server {

namespace {
// C0, DEL and C1.
bool isControl(QChar c)
{
    return c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() <= 0x9f);
}

bool isBidiControl(QChar c)
{
    return (c.unicode() >= 0x202a && c.unicode() <= 0x202e) ||
           (c.unicode() >= 0x2066 && c.unicode() <= 0x2069);
}
} // namespace

bool hasControlCharacter(QStringView text)
{
    return std::any_of(text.begin(), text.end(), isControl);
}

QString withoutControlCharacters(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (!isControl(c) && !isBidiControl(c))
            out += c;
    }
    return out;
}

QString printableText(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (!isControl(c) || c == u'\t')
            out += c;
    }
    return out;
}

QString htmlEscape(const QString &text)
{
    return text.toHtmlEscaped();
}

bool isEmailAddress(const QString &email)
{
    return email.contains(QLatin1Char('@')) && email.size() <= 320 && !hasControlCharacter(email);
}

QHash<QString, QString> formFields(const QByteArray &body)
{
    QByteArray raw = body;
    raw.replace('+', "%20");
    QHash<QString, QString> fields;
    for (const auto &[key, value] : QUrlQuery(QString::fromLatin1(raw)).queryItems(QUrl::FullyDecoded))
        fields.insert(key, value);
    return fields;
}

} // namespace tessivo::server
