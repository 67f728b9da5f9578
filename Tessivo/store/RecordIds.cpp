#include "RecordIds.h"

#include <QUuid>

#include <algorithm>
#include <limits>

namespace RecordIds {

namespace {
// Fixed for good: changing it would give every loser a second copy.
const QUuid conflictedCopyNamespace(QStringLiteral("e91a241b-c6e6-4c23-967c-5358bf0aad83"));
} // namespace

QString problem(QStringView id)
{
    if (id.isEmpty()) {
        return QStringLiteral("missing id");
    }
    if (id == u"." || id == u"..") {
        return QStringLiteral("id is a dot name");
    }
    if (id.toUtf8().size() > maxBytes) {
        return QStringLiteral("id longer than %1 bytes").arg(maxBytes);
    }
    const bool bad = std::any_of(id.cbegin(), id.cend(), [](QChar c) {
        return c == u'/' || c == u'\\' || c.category() == QChar::Other_Control;
    });
    return bad ? QStringLiteral("id holds a slash, backslash or control character") : QString();
}

bool isValid(QStringView id)
{
    return problem(id).isEmpty();
}

QString conflictedCopyID(const QString &documentId, qint64 loserUpdatedAt)
{
    const QByteArray name = documentId.toUtf8() + ':' + QByteArray::number(loserUpdatedAt);
    return QUuid::createUuidV5(conflictedCopyNamespace, name).toString(QUuid::WithoutBraces).toLower();
}

QString conflictedCopyID(const QString &documentId, qint64 loserUpdatedAt, int n)
{
    if (n <= 1) {
        return conflictedCopyID(documentId, loserUpdatedAt);
    }
    // "#" after the updatedAt: a first id's name ends in digits after ":",
    // so no document id and updatedAt make this name too.
    const QByteArray name =
        documentId.toUtf8() + ':' + QByteArray::number(loserUpdatedAt) + '#' + QByteArray::number(n);
    return QUuid::createUuidV5(conflictedCopyNamespace, name).toString(QUuid::WithoutBraces).toLower();
}

std::optional<CopyPlace> conflictedCopyPlace(const QString &documentId, qint64 loserUpdatedAt,
                                             qsizetype tries,
                                             const std::function<CopySlot(const QString &id)> &slot)
{
    const int last = int(std::min<qsizetype>(tries, std::numeric_limits<int>::max()));
    for (int n = 1; n <= last; ++n) {
        const QString id = conflictedCopyID(documentId, loserUpdatedAt, n);
        switch (slot(id)) {
        case CopySlot::free:
            return CopyPlace{id, false};
        case CopySlot::sameText:
            return CopyPlace{id, true};
        case CopySlot::otherText:
            break;
        }
    }
    return std::nullopt;
}

} // namespace RecordIds
