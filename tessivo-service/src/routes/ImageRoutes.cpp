#include "ImageRoutes.h"

#include "Multipart.h"
#include "TextRules.h"

#include "protocol/Routes.h"
#include "protocol/Rules.h"
#include "protocol/WireRecords.h"

#include <QRegularExpression>
#include <QUuid>

namespace tessivo::server {

namespace {
// Types a browser may show inline; anything else is served as a download.
bool inlineType(const QByteArray &type)
{
    static const QList<QByteArray> types = {"image/png",  "image/jpeg",  "image/gif",  "image/webp",
                                            "image/avif", "image/bmp",   "image/tiff", "image/svg+xml",
                                            "image/heic", "image/x-icon"};
    return types.contains(type.toLower());
}

ImageAsset imageAsset(const ImageRow &row, const QString &base)
{
    return {row.id,       base + protocol::routePath(protocol::Endpoint::image, row.id),
            row.filename, row.contentType,
            row.size,     row.createdAt};
}
} // namespace

Reply ImageRoutes::listImages(const LoggedRequest &request, const UserRow &user)
{
    const QString base = publicBase(request);
    ImageListResponse list;
    for (const ImageRow &row : storage.imagesOf(user.id))
        list.images.append(imageAsset(row, base));
    return jsonReply(200, list.toJson());
}

Reply ImageRoutes::uploadImage(const LoggedRequest &request, const UserRow &user)
{
    const auto parts = parseMultipart(request.body, multipartBoundary(request.header("content-type")));
    if (!parts)
        return errorReply(400, "invalid_request", QStringLiteral("Send the image as multipart/form-data."));
    const MultipartPart *file = nullptr;
    for (const MultipartPart &part : *parts) {
        if (part.name == QLatin1String("file") && part.filename)
            file = &part;
    }
    if (!file)
        return errorReply(400, "invalid_request", QStringLiteral("The upload has no \"file\" part."));
    if (file->data.size() > protocol::images::maxBytes)
        return errorReply(protocol::images::tooLargeStatus, protocol::images::tooLargeCode().toLatin1(),
                          protocol::images::tooLargeMessage());
    // A control character can't be stored in a PostgreSQL text column (NUL)
    // or is no part of a media type, and neither is anything but ASCII;
    // refused on both databases alike.
    if (std::any_of(file->contentType.begin(), file->contentType.end(),
                    [](char c) { return uchar(c) < 0x20 || uchar(c) >= 0x7f; }))
        return errorReply(400, "invalid_request",
                          QStringLiteral("The content type must be ASCII text without control characters."));
    // Only the name's last path component is kept, and only for display:
    // without control characters, and without direction overrides that
    // would show it as another name.
    QString filename = withoutControlCharacters(*file->filename)
                           .section(QLatin1Char('/'), -1)
                           .section(QLatin1Char('\\'), -1)
                           .left(255);
    if (filename.isEmpty())
        filename = QStringLiteral("image");
    const QByteArray type = file->contentType.isEmpty() ? QByteArray("application/octet-stream")
                                                        : file->contentType.left(100).toLower();
    const ImageRow row{QUuid::createUuid().toString(QUuid::Id128),
                       user.id,
                       filename,
                       QString::fromLatin1(type),
                       file->data.size(),
                       now()};
    Storage::QuotaOutcome outcome = Storage::QuotaOutcome::failed;
    const bool saved = storage.transaction([&] {
        const qint64 growth = Storage::countedBytes(row);
        outcome = storage.writeWithinQuota(
            user.id, options.limits.quotaBytes, growth, [&] { return std::optional(growth); },
            [&](qint64 *) { return storage.insertImage(row, file->data); });
        return outcome == Storage::QuotaOutcome::written;
    });
    if (outcome == Storage::QuotaOutcome::overQuota)
        return quotaExceededReply();
    if (!saved)
        return errorReply(500, "internal_error", QStringLiteral("The image couldn't be saved. Try again."));
    return jsonReply(201, ImageUploadResponse::of(imageAsset(row, publicBase(request))).toJson());
}

std::variant<Reply, std::pair<Reply, ImageRow>> ImageRoutes::imageHead(const QString &id)
{
    static const QRegularExpression idPattern(QStringLiteral("^[0-9a-f]{32}$"));
    const std::optional<ImageRow> row =
        idPattern.match(id).hasMatch() ? storage.image(id, nullptr) : std::nullopt;
    if (!row)
        return errorReply(404, "not_found", QStringLiteral("Not found."));
    const QByteArray type = row->contentType.toLatin1();
    HeaderList headers = {
        {"content-type", inlineType(type) ? type : QByteArray("application/octet-stream")},
        {"x-content-type-options", "nosniff"},
        // An uploaded SVG must not run scripts on this origin.
        {"content-security-policy", "default-src 'none'; style-src 'unsafe-inline'; sandbox"},
        {"cache-control", "public, max-age=31536000, immutable"}};
    if (!inlineType(type))
        headers.append({QByteArray("content-disposition"), QByteArray("attachment")});
    return std::pair{Reply{200, headers, {}}, *row};
}

} // namespace tessivo::server
