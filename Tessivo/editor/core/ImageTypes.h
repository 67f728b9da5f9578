#pragma once

#include <QString>
#include <QStringList>

// Which files count as images the user may upload, and the texts derived
// from an image's name. Only a name's extension is ever looked at, never a
// file's contents. Pure and thread-safe.
namespace ImageTypes {

// The MIME types accepted for upload: PNG, JPEG, WebP, GIF and AVIF, or
// every image type when the system's MIME database does not know AVIF.
const QStringList &allowedTypes();

// Whether a file with this name is one of the allowed image types.
bool isAllowedImage(const QString &fileNameOrPath);

// The preferred MIME type for the name's extension (lower-cased),
// "application/octet-stream" when the extension names no known type.
QString mimeType(const QString &fileNameOrPath);

// Alt text for an image file name: the name without its extension, "-" and
// "_" runs as single spaces, trimmed of spaces and tabs; "image" when nothing
// is left.
QString altText(const QString &filename);

} // namespace ImageTypes
