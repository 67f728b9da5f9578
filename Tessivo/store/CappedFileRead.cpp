#include "store/CappedFileRead.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// The status of what a stat found, and why it is not read.
CappedFileRead::Status classify(const struct stat &info, qint64 limit, QString *error)
{
    if (S_ISDIR(info.st_mode)) {
        *error = QStringLiteral("it is a folder");
        return CappedFileRead::Status::notRegular;
    }
    if (!S_ISREG(info.st_mode)) {
        *error = QStringLiteral("it is not a regular file");
        return CappedFileRead::Status::notRegular;
    }
    if (qint64(info.st_size) > limit) {
        *error = QStringLiteral("it is larger than %1 bytes").arg(limit);
        return CappedFileRead::Status::tooLarge;
    }
    return CappedFileRead::Status::ok;
}

CappedFileRead::Status openFailure(int code, QString *error)
{
    *error = systemError(code);
    // ENOENT: nothing there, or a link to nothing. ENXIO, ENODEV: a
    // socket, or a device without its driver.
    if (code == ENOENT || code == ENOTDIR) {
        return CappedFileRead::Status::missing;
    }
    if (code == ENXIO || code == ENODEV) {
        *error = QStringLiteral("it is not a regular file");
        return CappedFileRead::Status::notRegular;
    }
    return CappedFileRead::Status::failed;
}

} // namespace

CappedFileRead::Status CappedFileRead::check(const QString &path, qint64 limit, QString *error)
{
    QString ignored;
    QString &why = error ? *error : ignored;
    struct stat info;
    if (path.isEmpty()) {
        why = QStringLiteral("no path");
        return Status::missing;
    }
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        return openFailure(errno, &why);
    }
    return classify(info, limit, &why);
}

CappedFileRead CappedFileRead::read(const QString &path, qint64 limit)
{
    CappedFileRead result;
    if (path.isEmpty()) {
        result.status = Status::missing;
        result.error = QStringLiteral("no path");
        return result;
    }
    // O_NONBLOCK: opening a pipe for reading would otherwise wait for a
    // writer, forever if none comes. It does not change how a regular
    // file reads.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        result.status = openFailure(errno, &result.error);
        return result;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0) {
        result.error = systemError(errno);
        ::close(fd);
        return result;
    }
    result.status = classify(info, limit, &result.error);
    if (result.status != Status::ok) {
        ::close(fd);
        return result;
    }
    // Sized by the file plus one byte, to see its end in one read; one
    // byte past the limit tells a file that grew since.
    QByteArray data(qsizetype(std::min(qint64(info.st_size), limit) + 1), Qt::Uninitialized);
    qsizetype filled = 0;
    for (;;) {
        if (filled == data.size()) {
            if (filled > limit) {
                break;
            }
            data.resize(qsizetype(std::min(qint64(filled) * 2, limit + 1)));
        }
        const ssize_t n = ::read(fd, data.data() + filled, size_t(data.size() - filled));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            result.status = Status::failed;
            result.error = systemError(errno);
            result.bytesRead = filled;
            ::close(fd);
            return result;
        }
        if (n == 0) {
            break;
        }
        filled += n;
    }
    ::close(fd);
    result.bytesRead = filled;
    if (filled > limit) {
        result.status = Status::tooLarge;
        result.error = QStringLiteral("it grew past %1 bytes").arg(limit);
        return result;
    }
    data.truncate(filled);
    result.data = std::move(data);
    return result;
}
