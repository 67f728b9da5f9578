#pragma once

#include "store/Frontmatter.h"

#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <optional>

// One Markdown document. A plain value compared field by field. Its JSON
// form serves both the local files and the sync wire format.
class Document final
{
public:
    QString id;
    QString title;
    QString body;
    Frontmatter frontmatter;
    QStringList overrides;
    qint64 createdAt = 0;
    qint64 updatedAt = 0;
    std::optional<qint64> deletedAt;
    std::optional<QString> collectionId;
    std::optional<qint64> serverUpdatedAt;

    // An empty record (no id); used by decoding and by containers.
    Document() = default;

    // A new document: fresh lower-case UUID id, title derived from `body`,
    // createdAt == updatedAt == now in milliseconds, nothing else set.
    Document(const QString &body, const std::optional<QString> &collectionId);

    // The name shown wherever the document is named: the front-matter title
    // when "title" is an override and that title is not empty, else the
    // stored title, else "Untitled".
    QString displayTitle() const;

    // Writes every key but "serverUpdatedAt" (only when present);
    // "deletedAt" and "collectionId" are null when absent.
    QJsonObject toJson() const;
    // Requires "id", "createdAt" and "updatedAt"; other keys may be missing
    // or null. Any value of the wrong type fails the whole record. Unknown
    // keys are ignored. Logs nothing; `error` names the first failure.
    static std::optional<Document> fromJson(const QJsonObject &object, QString *error = nullptr);

    // --- Titles and excerpts (pure, thread-safe) ------------------------

    // The title of a body: the first heading, else the first plain line,
    // cleaned; "Untitled" when there is neither.
    static QString deriveTitle(const QString &body);
    // Removes emphasis and code marks, trims, and keeps 120 characters.
    static QString cleanTitleLine(const QString &line);
    // The first sentence of the first paragraph, plain, at most 280
    // characters; "" when the body has no prose.
    static QString excerpt(const QString &body);
    // Whether the excerpt skips a line (headings, fences, quotes, list items,
    // rules). `line` must already be trimmed.
    static bool isStructuralLine(const QString &line);
    // The eight inline patterns the excerpt removes, in the order applied.
    static const QList<QRegularExpression> &inlineMarkdownPatterns();
    static const QRegularExpression &firstSentencePattern();

    friend bool operator==(const Document &, const Document &) = default;
};

Q_DECLARE_METATYPE(Document)
