#include "Multipart.h"

#include <QRegularExpression>

namespace tessivo::server {

QByteArray multipartBoundary(const QByteArray &contentType)
{
    const QList<QByteArray> items = contentType.split(';');
    if (items.value(0).trimmed().toLower() != "multipart/form-data")
        return {};
    for (const QByteArray &item : items.mid(1)) {
        const QByteArray trimmed = item.trimmed();
        if (!trimmed.toLower().startsWith("boundary="))
            continue;
        QByteArray value = trimmed.mid(9);
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
            value = value.mid(1, value.size() - 2);
        return value.size() <= 70 ? value : QByteArray();
    }
    return {};
}

// The value of `key` in a Content-Disposition header. Quoted values are
// taken as they are: the app sends file names raw, with no escapes.
static std::optional<QString> dispositionValue(const QByteArray &header, const char *key)
{
    static const QRegularExpression pattern(
        QStringLiteral(R"re(;\s*([A-Za-z*]+)=(?:"([^"]*)"|([^;\s]*)))re"));
    auto it = pattern.globalMatch(QString::fromUtf8(header));
    while (it.hasNext()) {
        const auto match = it.next();
        if (match.captured(1).compare(QLatin1String(key), Qt::CaseInsensitive) != 0)
            continue;
        return match.capturedStart(2) >= 0 ? match.captured(2) : match.captured(3);
    }
    return std::nullopt;
}

std::optional<QList<MultipartPart>> parseMultipart(const QByteArray &body, const QByteArray &boundary)
{
    if (boundary.isEmpty())
        return std::nullopt;
    const QByteArray delimiter = "--" + boundary;
    if (!body.startsWith(delimiter))
        return std::nullopt;
    QList<MultipartPart> parts;
    qsizetype position = delimiter.size();
    while (true) {
        if (body.mid(position, 2) == "--")
            return parts;
        if (body.mid(position, 2) != "\r\n")
            return std::nullopt;
        position += 2;
        const qsizetype headEnd = body.indexOf("\r\n\r\n", position);
        if (headEnd < 0)
            return std::nullopt;
        MultipartPart part;
        for (const QByteArray &line : body.mid(position, headEnd - position).split('\n')) {
            const qsizetype colon = line.indexOf(':');
            const QByteArray name = line.left(colon).trimmed().toLower();
            const QByteArray value = line.mid(colon + 1).trimmed();
            if (name == "content-disposition") {
                part.name = dispositionValue(value, "name").value_or(QString());
                part.filename = dispositionValue(value, "filename");
            } else if (name == "content-type") {
                part.contentType = value;
            }
        }
        const qsizetype dataStart = headEnd + 4;
        const qsizetype next = body.indexOf("\r\n" + delimiter, dataStart);
        if (next < 0)
            return std::nullopt;
        part.data = body.mid(dataStart, next - dataStart);
        parts.append(part);
        position = next + 2 + delimiter.size();
    }
}

} // namespace tessivo::server
