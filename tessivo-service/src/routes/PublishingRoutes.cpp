#include "PublishingRoutes.h"

#include "HostRule.h"
#include "InertHtml.h"
#include "TextRules.h"

#include "editor/core/MarkdownRenderer.h"
#include "protocol/Routes.h"
#include "protocol/Rules.h"
#include "protocol/WireRecords.h"

#include <QJsonDocument>
#include <QRandomGenerator>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace tessivo::server {

namespace {
QString randomSlug()
{
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QString slug;
    for (int i = 0; i < 12; ++i)
        slug += QLatin1Char(alphabet[QRandomGenerator::system()->bounded(36)]);
    return slug;
}

QString page(const QString &title, const QString &content)
{
    return QStringLiteral("<!doctype html><html><head><meta charset=utf-8>"
                          "<meta name=viewport content=\"width=device-width\"><title>%1</title>"
                          "<link rel=stylesheet href=\"/style.css\"></head><body>%2</body></html>")
        .arg(htmlEscape(printableText(title)), content);
}

bool isLive(const QJsonObject &record)
{
    const QJsonValue deleted = record.value(QLatin1String("deletedAt"));
    return deleted.isUndefined() || deleted.isNull();
}
} // namespace

// Pages on the blog and the user's site follow the synced documents they
// were published from; a publication is tied to the document whose body it
// ends with (the app prepends only front matter), the title breaking ties.
static QString sourceDocument(Storage &storage, const QString &userId, const QString &title,
                              const QString &body)
{
    QList<QJsonObject> documents;
    if (!storage.liveDocuments(userId, &documents))
        return {};
    QString candidate;
    for (const QJsonObject &doc : documents) {
        const QString docBody = doc.value(QLatin1String("body")).toString();
        if (docBody.trimmed().isEmpty() || !body.endsWith(docBody))
            continue;
        if (doc.value(QLatin1String("title")).toString() == title)
            return doc.value(QLatin1String("id")).toString();
        if (candidate.isEmpty())
            candidate = doc.value(QLatin1String("id")).toString();
    }
    return candidate;
}

static std::optional<QPair<QString, QString>> titleAndBody(const QByteArray &bytes, QString *slug,
                                                           Reply *error)
{
    QJsonParseError parseError;
    const QJsonDocument json = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError || !json.isObject()) {
        *error = errorReply(400, "invalid_json", QStringLiteral("The request body is not a JSON object."));
        return std::nullopt;
    }
    const QJsonObject object = json.object();
    const std::optional<PublishRequest> request = PublishRequest::fromJson(object);
    const QJsonValue requested = object.value(QLatin1String("slug"));
    const bool slugAsked = !requested.isUndefined() && !requested.isNull();
    if (slug && slugAsked && (!requested.isString() || !protocol::slugs::isValid(requested.toString()))) {
        *error = errorReply(400, "invalid_slug", protocol::slugs::ruleText());
        return std::nullopt;
    }
    if (!request) {
        *error =
            errorReply(400, "invalid_request", QStringLiteral("\"title\" and \"body\" must be strings."));
        return std::nullopt;
    }
    // Text columns can't hold NUL on PostgreSQL; refused on both databases
    // so an article publishes the same wherever it is stored.
    if (request->title.contains(QChar(0)) || request->body.contains(QChar(0))) {
        *error = errorReply(400, "invalid_request",
                            QStringLiteral("The title and text must not contain NUL characters."));
        return std::nullopt;
    }
    if (slug)
        *slug = request->slug.value_or(QString());
    return qMakePair(request->title, request->body);
}

static Reply slugReply(int status, const QString &slug, const QString &base)
{
    return jsonReply(
        status,
        PublishResponse{slug, base + protocol::routePath(protocol::Endpoint::publicPage, slug)}.toJson());
}

// The `n`th choice for a requested slug: the slug itself, then "-2",
// "-3"… in place of its end, so that it stays within the longest slug.
static QString suffixedSlug(const QString &requested, int n)
{
    if (n == 1)
        return requested;
    const QString suffix = QStringLiteral("-%1").arg(n);
    QString base = requested.left(protocol::slugs::maxLength - suffix.size());
    while (base.endsWith(QLatin1Char('-')))
        base.chop(1);
    return base + suffix;
}

Reply PublishingRoutes::publish(const LoggedRequest &request, const UserRow &user)
{
    QString requested;
    Reply error;
    const auto content = titleAndBody(request.body, &requested, &error);
    if (!content)
        return error;
    const qint64 t = now();
    PublicationRow row{{},
                       user.id,
                       sourceDocument(storage, user.id, content->first, content->second),
                       content->first,
                       content->second,
                       t,
                       t};
    // Each choice is claimed by inserting it, not by looking first: a look
    // and the insert after it would let two publishes of one slug at once
    // both see it free (on PostgreSQL even within one transaction).
    bool inserted = false;
    Storage::QuotaOutcome outcome = Storage::QuotaOutcome::failed;
    const bool stored = storage.transaction([&] {
        const qint64 growth = Storage::countedBytes(row);
        outcome = storage.writeWithinQuota(
            user.id, options.limits.quotaBytes, growth, [&] { return std::optional(growth); },
            [&](qint64 *) {
                for (int n = 1; !inserted; ++n) {
                    row.slug = requested.isEmpty() ? randomSlug() : suffixedSlug(requested, n);
                    if (!storage.insertPublication(row, &inserted))
                        return false;
                }
                return true;
            });
        return outcome == Storage::QuotaOutcome::written;
    });
    if (outcome == Storage::QuotaOutcome::overQuota)
        return quotaExceededReply();
    if (!stored)
        return errorReply(500, "internal_error",
                          QStringLiteral("The article couldn't be published. Try again."));
    return slugReply(201, row.slug, publicBase(request));
}

Reply PublishingRoutes::updatePublication(const LoggedRequest &request, const UserRow &user,
                                          const QString &slug)
{
    std::optional<PublicationRow> row = storage.publication(slug);
    if (!protocol::slugs::isValid(slug) || !row || row->userId != user.id)
        return errorReply(404, "not_found", QStringLiteral("Not found."));
    const qint64 countedBefore = Storage::countedBytes(*row);
    Reply error;
    const auto content = titleAndBody(request.body, nullptr, &error);
    if (!content)
        return error;
    row->title = content->first;
    row->body = content->second;
    row->updatedAt = now();
    row->documentId = sourceDocument(storage, user.id, row->title, row->body);
    // The look above was another transaction: the write names the owner
    // again, so that it changes nothing that has since changed hands.
    bool found = false;
    Storage::QuotaOutcome outcome = Storage::QuotaOutcome::failed;
    const bool stored = storage.transaction([&] {
        const qint64 growth = Storage::countedBytes(*row) - countedBefore;
        outcome = storage.writeWithinQuota(
            user.id, options.limits.quotaBytes, growth, [&] { return std::optional(growth); },
            [&](qint64 *) { return storage.updatePublication(*row, &found); });
        return outcome == Storage::QuotaOutcome::written;
    });
    if (outcome == Storage::QuotaOutcome::overQuota)
        return quotaExceededReply();
    if (!stored)
        return errorReply(500, "internal_error",
                          QStringLiteral("The changes couldn't be published. Try again."));
    if (!found)
        return errorReply(404, "not_found", QStringLiteral("Not found."));
    return slugReply(200, slug, publicBase(request));
}

Reply PublishingRoutes::unpublish(const UserRow &user, const QString &slug)
{
    bool found = false;
    if (protocol::slugs::isValid(slug) &&
        !storage.transaction([&] { return storage.deletePublication(user.id, slug, &found); }))
        return errorReply(500, "internal_error",
                          QStringLiteral("The article couldn't be unpublished. Try again."));
    if (!found)
        return errorReply(404, "not_found", QStringLiteral("Not found."));
    return {204, {}, {}};
}

Reply PublishingRoutes::publicPage(const QString &slug)
{
    const std::optional<PublicationRow> row =
        protocol::slugs::isValid(slug) ? storage.publication(slug) : std::nullopt;
    if (!row)
        return htmlReply(404, page(QStringLiteral("Not found"), QStringLiteral("<h1>Not found</h1>")));
    return htmlReply(200, page(row->title, inertHtml(MarkdownRenderer::render(row->body))));
}

// Publications of `userIds` whose source document is live in `collectionId`.
static QList<PublicationRow> publicationsIn(Storage &storage, const QStringList &userIds,
                                            const QString &collectionId)
{
    QList<PublicationRow> shown;
    for (const PublicationRow &row : storage.publicationsOf(userIds)) {
        if (row.documentId.isEmpty())
            continue;
        const std::optional<QJsonObject> doc =
            storage.record(RecordKind::Document, row.userId, row.documentId);
        if (doc && isLive(*doc) && doc->value(QLatin1String("collectionId")).toString() == collectionId)
            shown.append(row);
    }
    return shown;
}

static QString listing(const QString &heading, const QList<PublicationRow> &rows, const QString &base)
{
    QString items;
    for (const PublicationRow &row : rows)
        items +=
            QStringLiteral("<li><a href=\"%1%2\">%3</a></li>")
                .arg(htmlEscape(base), protocol::routePath(protocol::Endpoint::publicPage, row.slug),
                     htmlEscape(row.title.isEmpty() ? QStringLiteral("Untitled") : printableText(row.title)));
    const QString body = items.isEmpty() ? QStringLiteral("<p>Nothing published yet.</p>")
                                         : QStringLiteral("<ul>%1</ul>").arg(items);
    return page(heading, QStringLiteral("<h1>%1</h1>%2").arg(htmlEscape(heading), body));
}

Reply PublishingRoutes::blog(const LoggedRequest &)
{
    return htmlReply(200,
                     listing(QStringLiteral("Blog"),
                             publicationsIn(storage, storage.adminIds(), QStringLiteral("site-blog")), {}));
}

std::optional<Reply> PublishingRoutes::userSite(const LoggedRequest &request)
{
    if (request.path != QLatin1String("/"))
        return std::nullopt;
    // A site is <handle>.<the public host>, and only that: the public host
    // itself, whatever its first label, is the service's home page.
    const QString publicHost = QUrl(options.publicUrl).host().toLower();
    const std::optional<HostName> host = HostName::parse(request.header("host"));
    if (!host || !host->name.endsWith(QLatin1Char('.') + publicHost))
        return std::nullopt;
    const QString handle = host->name.chopped(publicHost.size() + 1);
    const std::optional<UserRow> user =
        protocol::siteHandles::canChoose(handle) ? storage.userByHandle(handle) : std::nullopt;
    if (!user)
        return htmlReply(404, page(QStringLiteral("Not found"), QStringLiteral("<h1>Not found</h1>")));
    // Links point back at the service's own host, which serves the pages.
    return htmlReply(200,
                     listing(user->name, publicationsIn(storage, {user->id}, QStringLiteral("personal-site")),
                             publicBase(request)));
}

} // namespace tessivo::server
