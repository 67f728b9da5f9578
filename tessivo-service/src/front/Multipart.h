#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace tessivo::server {

struct MultipartPart
{
    QString name;
    std::optional<QString> filename;
    QByteArray contentType;
    QByteArray data;
};

// The boundary of a "multipart/form-data" content type, quoted or not.
QByteArray multipartBoundary(const QByteArray &contentType);
// The parts of a "multipart/form-data" body; nullopt when it is malformed.
std::optional<QList<MultipartPart>> parseMultipart(const QByteArray &body, const QByteArray &boundary);

} // namespace tessivo::server
