#include "protocol/Rules.h"

#include "store/Document.h"
#include "store/RecordEdits.h"
#include "store/RecordIds.h"
#include "store/StrictJson.h"

#include <QRegularExpression>
#include <QTextBoundaryFinder>
#include <QUrl>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace protocol {

namespace {

qsizetype graphemeCount(QStringView text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.data(), text.size());
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

// Anchored so that nothing, not even a final line break, follows.
bool wholeMatch(const QRegularExpression &pattern, QStringView text)
{
    return pattern.isValid() && pattern.match(text).hasMatch();
}

const QString handleLabel = u"[A-Za-z0-9]([A-Za-z0-9\\-]{0,61}[A-Za-z0-9])?"_s;

} // namespace

bool slugs::isValid(QStringView slug)
{
    const qsizetype length = graphemeCount(slug);
    if (length < minLength || length > maxLength)
        return false;
    if (slug.contains(u"--"))
        return false;
    static const QRegularExpression pattern(u"\\A(?:[a-z0-9](?:[a-z0-9-]*[a-z0-9])?)\\z"_s);
    return wholeMatch(pattern, slug);
}

std::optional<qint64> records::updatedAt(const QJsonObject &record)
{
    return StrictJsonReader::toInt64(record.value(QLatin1String("updatedAt")));
}

QString records::conflictedCopyId(const QString &documentId, qint64 loserUpdatedAt)
{
    return RecordIds::conflictedCopyID(documentId, loserUpdatedAt);
}

std::optional<records::CopyPlace>
records::conflictedCopyPlace(const QString &documentId, qint64 loserUpdatedAt, qsizetype tries,
                             const std::function<CopySlot(const QString &id)> &slot)
{
    return RecordIds::conflictedCopyPlace(documentId, loserUpdatedAt, tries, slot);
}

QString records::conflictedCopySuffix()
{
    return u" (conflicted copy)"_s;
}

QJsonObject records::conflictedCopy(const QJsonObject &loser, const QString &id,
                                    const std::optional<QString> &collectionId, qint64 now)
{
    if (const std::optional<Document> document = Document::fromJson(loser))
        return RecordEdits::conflictedCopy(*document, id, collectionId, now).toJson();
    QJsonObject copy = loser;
    copy.remove(u"serverUpdatedAt"_s);
    const QJsonValue title = loser.value(QLatin1String("title"));
    const QString shown = title.isString() && !title.toString().isEmpty() ? title.toString() : u"Untitled"_s;
    copy.insert(u"id"_s, id);
    copy.insert(u"title"_s, shown + conflictedCopySuffix());
    copy.insert(u"createdAt"_s, now);
    copy.insert(u"updatedAt"_s, now);
    copy.insert(u"deletedAt"_s, QJsonValue::Null);
    copy.insert(u"collectionId"_s, collectionId ? QJsonValue(*collectionId) : QJsonValue::Null);
    return copy;
}

QString slugs::ruleText()
{
    const QString text = u"Slugs use %1\u2013%2 lowercase letters, digits, and single hyphens."_s;
    return text.arg(minLength).arg(maxLength);
}

bool siteHandles::isHostLabel(QStringView handle)
{
    static const QRegularExpression pattern(u"\\A(?:"_s + handleLabel + u")\\z"_s);
    return wholeMatch(pattern, handle);
}

QString siteHandles::inputPattern()
{
    return handleLabel;
}

bool siteHandles::isReserved(QStringView handle)
{
    // Host names the service may need for itself, and every IDNA label: a
    // punycode handle would show as some other name in the address bar.
    for (const QStringView name :
         {u"localhost", u"admin", u"api", u"www", u"blog", u"mail", u"static", u"media"}) {
        if (handle.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return handle.startsWith(u"xn--", Qt::CaseInsensitive);
}

QString siteHandles::normalized(const QString &typed)
{
    return typed.trimmed().toLower();
}

bool siteHandles::canChoose(QStringView handle)
{
    return isHostLabel(handle) && !isReserved(handle);
}

QString images::tooLargeCode()
{
    return u"too_large"_s;
}

QString images::tooLargeMessage()
{
    return u"Images must be 10 MB or smaller."_s;
}

const QList<ai::Preset> &ai::presets()
{
    static const QList<Preset> all{Preset::fixGrammar, Preset::improve, Preset::punchier,    Preset::condense,
                                   Preset::rephrase,   Preset::expand,  Preset::structure,   Preset::positive,
                                   Preset::thread,     Preset::emoji,   Preset::announcement};
    return all;
}

QString ai::presetId(Preset preset)
{
    switch (preset) {
    case Preset::fixGrammar:
        return u"fix-grammar"_s;
    case Preset::improve:
        return u"improve"_s;
    case Preset::punchier:
        return u"punchier"_s;
    case Preset::condense:
        return u"condense"_s;
    case Preset::rephrase:
        return u"rephrase"_s;
    case Preset::expand:
        return u"expand"_s;
    case Preset::structure:
        return u"structure"_s;
    case Preset::positive:
        return u"positive"_s;
    case Preset::thread:
        return u"thread"_s;
    case Preset::emoji:
        return u"emoji"_s;
    case Preset::announcement:
        break;
    }
    return u"announcement"_s;
}

std::optional<ai::Preset> ai::presetFromId(QStringView id)
{
    for (const Preset preset : presets()) {
        if (presetId(preset) == id)
            return preset;
    }
    return std::nullopt;
}

QByteArray ai::cutToFit(const QByteArray &bytes, qsizetype room)
{
    qsizetype take = std::clamp<qsizetype>(room, 0, bytes.size());
    // A continuation byte (10xxxxxx) at the cut means a character started before it.
    while (take > 0 && take < bytes.size() && (bytes[take] & 0xC0) == 0x80)
        --take;
    return bytes.left(take);
}

QString ai::customAction()
{
    return u"custom"_s;
}

bool isSessionToken(QByteArrayView value)
{
    return !value.isEmpty() && value.size() <= maxSessionTokenLength &&
           std::all_of(value.begin(), value.end(), [](char c) { return c >= 0x21 && c <= 0x7e; });
}

QByteArray bearerHeader(const QString &token)
{
    return "Bearer " + token.toUtf8();
}

QByteArray signInCallback::link(QLatin1StringView item, const QString &value)
{
    return "tessivo://auth?" + QByteArray(item.data(), item.size()) + '=' + QUrl::toPercentEncoding(value);
}

QByteArray bearerToken(QByteArrayView authorization)
{
    if (!authorization.startsWith("Bearer "))
        return {};
    return authorization.sliced(7).trimmed().toByteArray();
}

} // namespace protocol
