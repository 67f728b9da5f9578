#pragma once

#include <QByteArray>
#include <QString>

// The one way to read a file that someone other than this process may have
// put in place: everything in the data folder, the settings file, the
// personal word list, dropped and opened files. A read never waits and
// never holds more than `limit` + 1 bytes of the file:
// - what is not a regular file (a pipe, a device, a folder, a socket) is
//   not read at all; the file is opened without waiting and checked once
//   open, so a pipe swapped in after a look at the name can't block either;
// - a file larger than `limit` on disk is refused before any of it is read
//   (a link to a huge sparse file costs nothing), and one that grows while
//   it is read stops at the first byte over.
// Links are followed: a link to a regular file reads as that file.
// Blocking on a slow disk only; run it off the main thread where it can.
struct CappedFileRead
{
    enum class Status {
        ok,
        missing,    // nothing at the path (or a link that points nowhere)
        notRegular, // a pipe, a device, a folder...: its bytes are no file's
        tooLarge,   // larger than the limit
        failed,     // could not be opened or read (see error)
    };

    Status status = Status::failed;
    QByteArray data;
    // What was wrong, in words for a log line (every status but ok).
    QString error;
    // Bytes taken from the file; 0 when the size alone refused it.
    qint64 bytesRead = 0;

    bool ok() const { return status == Status::ok; }

    static CappedFileRead read(const QString &path, qint64 limit);
    // What read() would find, by the name alone and without opening the
    // file, for a file that another component opens itself. `error` as
    // above.
    static Status check(const QString &path, qint64 limit, QString *error = nullptr);
};

// The most of each kind of file that is read. Nothing this app writes comes
// near them; a file past its bound is left alone on disk.
namespace FileBounds {
inline constexpr qint64 mebibyte = qint64(1) << 20;
// A document file: any document the service can take in one push (128 MiB
// of records) fits.
inline constexpr qint64 document = 128 * mebibyte;
inline constexpr qint64 collections = 32 * mebibyte;
inline constexpr qint64 state = 64 * mebibyte;
// The app's settings file.
inline constexpr qint64 settings = 4 * mebibyte;
// The personal word list of the spelling check.
inline constexpr qint64 dictionary = 4 * mebibyte;
// A Markdown or text file dropped or opened to become a document: small
// enough that the document it becomes (its text escaped in JSON) stays
// within the document bound.
inline constexpr qint64 importedText = 16 * mebibyte;
} // namespace FileBounds
