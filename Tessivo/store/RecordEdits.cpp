#include "RecordEdits.h"

#include "store/CollectionTree.h"
#include "store/FrontmatterParser.h"
#include "store/Text.h"

#include <algorithm>
#include <limits>

namespace RecordEdits {

qint64 bumped(qint64 updatedAt, qint64 now)
{
    if (updatedAt == std::numeric_limits<qint64>::max()) {
        return updatedAt;
    }
    return std::max(now, updatedAt + 1);
}

BodyEdit applyEdits(QString &body, const QList<TextEdit> &edits, qsizetype resultLength)
{
    qsizetype length = body.size();
    for (const TextEdit &edit : edits) {
        if (!edit.range.fitsIn(length)) {
            return BodyEdit::DoesNotFit;
        }
        length += edit.text.size() - edit.range.length;
    }
    if (length != resultLength) {
        return BodyEdit::DoesNotFit;
    }
    BodyEdit result = BodyEdit::Unchanged;
    for (const TextEdit &edit : edits) {
        if (edit.range.length == edit.text.size() &&
            QStringView(body).sliced(edit.range.location, edit.range.length) == edit.text) {
            continue;
        }
        body.replace(edit.range.location, edit.range.length, edit.text);
        result = BodyEdit::Changed;
    }
    return result;
}

void retitle(Document &document)
{
    if (!document.overrides.contains(QStringLiteral("title")) || !document.frontmatter.title.has_value()) {
        document.title = Document::deriveTitle(document.body);
    }
}

Document imported(const QString &name, const QString &text, qint64 now)
{
    const FrontmatterParser::Extracted extracted = FrontmatterParser::extract(text);
    Document document(extracted.body, std::nullopt);
    document.createdAt = document.updatedAt = now;
    const QString fallback = Text::trimmedSpacesAndTabs(name);
    if (document.title == QLatin1String("Untitled") && !fallback.isEmpty()) {
        document.title = fallback;
    }
    document.frontmatter = extracted.frontmatter;
    document.overrides = extracted.overrides;
    return document;
}

QString titledBody(const QString &title)
{
    QString t = Text::trimmedWhitespaceAndNewlines(title);
    if (t.isEmpty()) {
        t = QStringLiteral("Untitled");
    }
    return QStringLiteral("# ") + t + QStringLiteral("\n\n");
}

Document tombstone(Document document, qint64 now)
{
    document.deletedAt = now;
    document.updatedAt = bumped(document.updatedAt, now);
    document.body.clear();
    document.title.clear();
    return document;
}

Collection deleted(Collection collection, qint64 now)
{
    collection.name.clear();
    collection.parentId.reset();
    collection.parentKnown = true;
    collection.deletedAt = now;
    collection.updatedAt = bumped(collection.updatedAt, now);
    return collection;
}

Document conflictedCopy(const Document &loser, const QString &id, const std::optional<QString> &collectionId,
                        qint64 now)
{
    Document copy(loser.body, collectionId);
    copy.id = id;
    copy.frontmatter = loser.frontmatter;
    copy.overrides = loser.overrides;
    copy.title = loser.displayTitle() + QStringLiteral(" (conflicted copy)");
    copy.frontmatter.title = copy.title;
    if (!copy.overrides.contains(QStringLiteral("title"))) {
        copy.overrides.append(QStringLiteral("title"));
    }
    copy.createdAt = copy.updatedAt = now;
    return copy;
}

QString nextActive(const QList<Document> &documents, const std::optional<QString> &collectionId)
{
    for (const Document &d : documents) {
        if (d.collectionId == collectionId) {
            return d.id;
        }
    }
    return documents.isEmpty() ? QString() : documents.first().id;
}

QString appended(const QString &body, const QString &text)
{
    if (body.isEmpty()) {
        return text;
    }
    if (body.endsWith(QLatin1String("\n\n"))) {
        return body + text;
    }
    if (body.endsWith(u'\n')) {
        return body + u'\n' + text;
    }
    return body + QLatin1String("\n\n") + text;
}

QString collectionName(const QString &name)
{
    return Text::leftCharacters(Text::trimmedWhitespaceAndNewlines(name), 100);
}

std::optional<Collection> createCollection(QList<Collection> &collections, const QString &name,
                                           std::optional<QString> parentID, qint64 now)
{
    const QString cleaned = collectionName(name);
    if (cleaned.isEmpty()) {
        return std::nullopt;
    }
    const CollectionTree tree(collections);
    if (parentID && !tree.canNest(*parentID)) {
        parentID.reset();
    }
    Collection collection(cleaned, tree.nextPosition(parentID), parentID);
    collection.createdAt = collection.updatedAt = now;
    collections.append(collection);
    return collection;
}

bool renameCollection(QList<Collection> &collections, const QString &id, const QString &name, qint64 now)
{
    const QString cleaned = collectionName(name);
    const auto it =
        std::find_if(collections.begin(), collections.end(), [&](const Collection &c) { return c.id == id; });
    if (cleaned.isEmpty() || it == collections.end() || it->name == cleaned) {
        return false;
    }
    it->name = cleaned;
    it->updatedAt = bumped(it->updatedAt, now);
    return true;
}

Move moveCollection(QList<Collection> &collections, const QString &id, const std::optional<QString> &target,
                    qint64 now)
{
    const CollectionTree tree(collections);
    const auto it =
        std::find_if(collections.begin(), collections.end(), [&](const Collection &c) { return c.id == id; });
    if (it == collections.end() || !tree.canMove(id, target)) {
        return Move::Refused;
    }
    const auto parentIt = tree.parents().constFind(id);
    const std::optional<QString> parent =
        parentIt == tree.parents().cend() ? std::nullopt : std::optional<QString>(*parentIt);
    if (parent == target) {
        return Move::AlreadyThere;
    }
    it->position = tree.nextPosition(target);
    it->parentId = target;
    it->parentKnown = true;
    it->updatedAt = bumped(it->updatedAt, now);
    std::stable_sort(collections.begin(), collections.end(), Collection::storeOrder);
    return Move::Moved;
}

} // namespace RecordEdits
