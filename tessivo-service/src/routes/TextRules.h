#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringView>

namespace tessivo::server {

// Whether `text` holds a C0 or C1 control character or DEL. PostgreSQL
// can't store NUL in text, and none of them belongs in a name, an address
// or a media type.
bool hasControlCharacter(QStringView text);
// `text` without those, and without the bidirectional embeddings, overrides
// and isolates, which make a name show as another.
QString withoutControlCharacters(QStringView text);
// `text` without control characters other than tab: what a page shows of
// text its writer may have pasted from anywhere.
QString printableText(QStringView text);
QString htmlEscape(const QString &text);
// What sign-up takes for an e-mail address; addresses aren't verified.
bool isEmailAddress(const QString &email);
// Form fields of an "application/x-www-form-urlencoded" body.
QHash<QString, QString> formFields(const QByteArray &body);

} // namespace tessivo::server
