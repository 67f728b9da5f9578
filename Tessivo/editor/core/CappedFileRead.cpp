#include "editor/core/CappedFileRead.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

CappedFileRead CappedFileRead::read(const QString &path, qint64 limit)
{
    CappedFileRead result;
    const QFileInfo info(path);
    if (info.exists() && info.isFile() && info.size() > limit) {
        result.status = Status::tooLarge;
        return result;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = file.errorString();
        return result;
    }
    // One byte past the limit tells a file that grew since the size check.
    QByteArray data;
    data.reserve(std::min(info.size(), limit) + 1);
    while (data.size() <= limit) {
        const QByteArray chunk = file.read(std::min<qint64>(1 << 20, limit + 1 - data.size()));
        if (file.error() != QFileDevice::NoError) {
            result.error = file.errorString();
            return result;
        }
        if (chunk.isEmpty())
            break;
        data += chunk;
    }
    result.bytesRead = data.size();
    if (data.size() > limit) {
        result.status = Status::tooLarge;
        return result;
    }
    result.status = Status::ok;
    result.data = std::move(data);
    return result;
}
