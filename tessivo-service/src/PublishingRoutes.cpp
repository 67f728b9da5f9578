#include "ServerPrivate.h"

#include "editor/core/MarkdownRenderer.h"
#include "protocol/Routes.h"
#include "protocol/Rules.h"
#include "protocol/WireRecords.h"

#include <QHostAddress>
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
    return QStringLiteral(
               "<!doctype html><html><head><meta charset=utf-8>"
               "<meta name=viewport content=\"width=device-width\"><title>%1</title><style>"
               "body{font:17px/1.6 Georgia,serif;max-width:42em;margin:3em auto;padding:0 1em;color:#222}"
               "pre{overflow:auto;background:#f4f4f4;padding:.8em}img{max-width:100%}"
               "code,.math{font:.9em/1.5 ui-monospace,Menlo,Consolas,monospace}"
               ".math[data-display=\"1\"]{display:block;text-align:center;margin:1em 0}"
               "table{border-collapse:collapse;margin:1em 0}th,td{border:1px solid #8886;padding:.3em .7em}"
               "@media (prefers-color-scheme:dark){body{background:#1e1e1e;color:#ddd}"
               "pre{background:#2a2a2a}a{color:#8ab4f8}}</style></head><body>%2</body></html>")
        .arg(htmlEscape(title), content);
}

// A URL attribute value that can only load or link to a page: web and mail
// links, in-page and relative references, and inline images. Anything else
// that names a scheme (or might, behind a character reference) is dropped.
bool harmlessURL(const QString &attribute, QString value)
{
    value = value.trimmed();
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
        value.back() == value.front())
        value = value.mid(1, value.size() - 2).trimmed();
    const QString lower = value.toLower();
    for (const char *prefix : {"http://", "https://", "mailto:", "#", "/", "?", "./", "../"}) {
        if (lower.startsWith(QLatin1String(prefix)))
            return !lower.contains(u'\n') && !lower.contains(u'\t');
    }
    if (attribute == QLatin1String("src") && lower.startsWith(QLatin1String("data:image/")))
        return true;
    return !value.contains(u':') && !value.contains(u'&');
}

// The document's HTML with nothing in it that could run: raw tags that could
// retarget or refresh the page are shown as text, event-handler attributes
// go, and URL attributes keep only harmless values. The page's security
// policy forbids scripts as well; this keeps them out of the markup itself.
// A tag never spans a "<", so each attempt ends at the next one and the
// pass stays linear in the page's length.
QString inertHtml(const QString &html)
{
    static const QRegularExpression tag(QStringLiteral(
        R"(<([A-Za-z][^\s/><]*)((?:\s+[^\s"'>/=<]+(?:\s*=\s*(?:"[^"<]*"|'[^'<]*'|[^\s"'=<>`]+))?|\s*/)*)\s*>)"));
    static const QRegularExpression attribute(
        QStringLiteral(R"((\s+)([^\s"'>/=]+)(?:\s*=\s*("[^"]*"|'[^']*'|[^\s"'=<>`]+))?)"));
    static const QStringList shownAsText{u"base"_s, u"meta"_s,  u"link"_s,     u"object"_s, u"embed"_s,
                                         u"form"_s, u"frame"_s, u"frameset"_s, u"svg"_s,    u"math"_s};
    static const QStringList urlAttributes{u"href"_s,       u"src"_s,  u"action"_s, u"formaction"_s,
                                           u"xlink:href"_s, u"data"_s, u"poster"_s, u"background"_s,
                                           u"srcset"_s,     u"ping"_s};
    const auto startsTag = [&html](qsizetype at) {
        const char16_t next = at + 1 < html.size() ? html.at(at + 1).unicode() : u'\0';
        return (next >= u'a' && next <= u'z') || (next >= u'A' && next <= u'Z');
    };
    QString out;
    qsizetype from = 0;
    for (qsizetype at = html.indexOf(u'<'); at >= 0; at = html.indexOf(u'<', at + 1)) {
        if (!startsTag(at))
            continue;
        out += QStringView(html).mid(from, at - from);
        // Matched on the stretch up to the next "<" only: a whole-page
        // subject would be scanned again on every attempt.
        const qsizetype next = html.indexOf(u'<', at + 1);
        const QString piece = html.mid(at, next < 0 ? -1 : next - at);
        const QRegularExpressionMatch m = tag.match(piece, 0, QRegularExpression::NormalMatch,
                                                    QRegularExpression::AnchorAtOffsetMatchOption);
        // Something a browser might still read as a tag, but not one this
        // can take apart: shown as text.
        if (!m.hasMatch()) {
            out += u"&lt;"_s;
            from = at + 1;
            continue;
        }
        from = at + m.capturedEnd();
        const QString name = m.captured(1).toLower();
        if (shownAsText.contains(name)) {
            out += htmlEscape(m.captured(0));
            continue;
        }
        QString kept = u'<' + m.captured(1);
        QRegularExpressionMatchIterator attributes = attribute.globalMatch(m.captured(2));
        while (attributes.hasNext()) {
            const QRegularExpressionMatch a = attributes.next();
            const QString attr = a.captured(2).toLower();
            if (attr.startsWith(QLatin1String("on")) || attr == QLatin1String("srcdoc") ||
                attr == QLatin1String("style") ||
                (urlAttributes.contains(attr) && !harmlessURL(attr, a.captured(3))))
                continue;
            kept += a.captured(0);
        }
        out += kept + (m.captured(0).endsWith(QLatin1String("/>")) ? u"/>"_s : u">"_s);
    }
    out += QStringView(html).mid(from);
    return out;
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
        *error =
            errorReply(400, "invalid_slug",
                       QStringLiteral("A slug is 2 to 60 lower-case letters, digits and single hyphens."));
        return std::nullopt;
    }
    if (!request) {
        *error =
            errorReply(400, "invalid_request", QStringLiteral("\"title\" and \"body\" must be strings."));
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

Reply Server::Private::publish(const LoggedRequest &request, const UserRow &user)
{
    QString requested;
    Reply error;
    const auto content = titleAndBody(request.body, &requested, &error);
    if (!content)
        return error;
    QString slug;
    if (requested.isEmpty()) {
        do {
            slug = randomSlug();
        } while (storage.publication(slug));
    } else {
        slug = requested;
        for (int n = 2; storage.publication(slug); ++n) {
            const QString suffix = QStringLiteral("-%1").arg(n);
            QString base = requested.left(protocol::slugs::maxLength - suffix.size());
            while (base.endsWith(QLatin1Char('-')))
                base.chop(1);
            slug = base + suffix;
        }
    }
    const qint64 t = now();
    const PublicationRow row{slug,
                             user.id,
                             sourceDocument(storage, user.id, content->first, content->second),
                             content->first,
                             content->second,
                             t,
                             t};
    if (!storage.transaction([&] { return storage.insertPublication(row); }))
        return errorReply(500, "internal_error",
                          QStringLiteral("The article couldn't be published. Try again."));
    return slugReply(201, slug, publicBase(request));
}

Reply Server::Private::updatePublication(const LoggedRequest &request, const UserRow &user,
                                         const QString &slug)
{
    std::optional<PublicationRow> row = storage.publication(slug);
    if (!protocol::slugs::isValid(slug) || !row || row->userId != user.id)
        return errorReply(404, "not_found", QStringLiteral("Not found."));
    Reply error;
    const auto content = titleAndBody(request.body, nullptr, &error);
    if (!content)
        return error;
    row->title = content->first;
    row->body = content->second;
    row->updatedAt = now();
    row->documentId = sourceDocument(storage, user.id, row->title, row->body);
    if (!storage.transaction([&] { return storage.updatePublication(*row); }))
        return errorReply(500, "internal_error",
                          QStringLiteral("The changes couldn't be published. Try again."));
    return slugReply(200, slug, publicBase(request));
}

Reply Server::Private::unpublish(const UserRow &user, const QString &slug)
{
    const std::optional<PublicationRow> row = storage.publication(slug);
    if (!protocol::slugs::isValid(slug) || !row || row->userId != user.id)
        return errorReply(404, "not_found", QStringLiteral("Not found."));
    if (!storage.transaction([&] { return storage.deletePublication(slug); }))
        return errorReply(500, "internal_error",
                          QStringLiteral("The article couldn't be unpublished. Try again."));
    return {204, {}, {}};
}

Reply Server::Private::publicPage(const QString &slug)
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
        items += QStringLiteral("<li><a href=\"%1/p/%2/\">%3</a></li>")
                     .arg(htmlEscape(base), row.slug,
                          htmlEscape(row.title.isEmpty() ? QStringLiteral("Untitled") : row.title));
    const QString body = items.isEmpty() ? QStringLiteral("<p>Nothing published yet.</p>")
                                         : QStringLiteral("<ul>%1</ul>").arg(items);
    return page(heading, QStringLiteral("<h1>%1</h1>%2").arg(htmlEscape(heading), body));
}

Reply Server::Private::blog(const LoggedRequest &)
{
    return htmlReply(200,
                     listing(QStringLiteral("Blog"),
                             publicationsIn(storage, storage.adminIds(), QStringLiteral("site-blog")), {}));
}

std::optional<Reply> Server::Private::userSite(const LoggedRequest &request)
{
    if (request.path != QLatin1String("/"))
        return std::nullopt;
    QString host = QString::fromLatin1(request.header("host"));
    const qsizetype colon = host.lastIndexOf(QLatin1Char(':'));
    if (colon > 0 && !host.endsWith(QLatin1Char(']')))
        host.truncate(colon);
    const qsizetype dot = host.indexOf(QLatin1Char('.'));
    if (dot <= 0 || !QHostAddress(host).isNull())
        return std::nullopt;
    const QString handle = host.left(dot).toLower();
    const std::optional<UserRow> user =
        protocol::siteHandles::isHostLabel(handle) ? storage.userByHandle(handle) : std::nullopt;
    if (!user)
        return std::nullopt;
    // Links point back at the service's own host, which serves the pages.
    QString base = publicBase(request);
    base.replace(QStringLiteral("://") + handle + QLatin1Char('.'), QStringLiteral("://"),
                 Qt::CaseInsensitive);
    return htmlReply(
        200, listing(user->name, publicationsIn(storage, {user->id}, QStringLiteral("personal-site")), base));
}

} // namespace tessivo::server
