#pragma once

#include <QByteArray>
#include <QString>

// Reads a file that must not exceed `limit` bytes without ever holding more
// than `limit` + 1 of them: a file larger on disk is refused before it is
// opened, and one that grows while it is read stops at the first byte over.
// Blocking; run it off the main thread.
struct CappedFileRead
{
    enum class Status { ok, tooLarge, failed };

    Status status = Status::failed;
    QByteArray data;
    // Why the file could not be read (Status::failed).
    QString error;
    // Bytes taken from the file; 0 when the size alone refused it.
    qint64 bytesRead = 0;

    bool ok() const { return status == Status::ok; }

    static CappedFileRead read(const QString &path, qint64 limit);
};
