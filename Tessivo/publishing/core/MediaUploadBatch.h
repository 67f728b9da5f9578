#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <optional>

class ImageLibrary;

// Uploads image files to the library one after another: the next file is
// read only after the previous upload has finished, and the first failure
// ends the batch. Each file is read off the main thread and never past the
// library's size limit: a larger file fails with the library's "too large"
// error before anything of it is read.
//
// The batch belongs to the library, so it carries on when the view that
// started it closes; views follow it through its signals.
class MediaUploadBatch final : public QObject
{
    Q_OBJECT

public:
    // Starts uploading `files` (local files, in order) under `documentID`,
    // which is fixed for the whole batch. The batch deletes itself after
    // finished().
    static MediaUploadBatch *start(ImageLibrary *library, const QList<QUrl> &files,
                                   const std::optional<QString> &documentID);

    // "Image upload failed.": a file that cannot be read, or a reply that
    // does not decode.
    static QString genericFailureMessage();

Q_SIGNALS:
    // File `index` (1-based) of `total` starts: `name` is its file name.
    void fileStarted(int index, int total, const QString &name);
    // The batch stopped at a file; the files after it were not uploaded.
    void failed(const QString &message);
    // The batch is over, after all files or after failed().
    void finished();

private:
    MediaUploadBatch(ImageLibrary *library, const QList<QUrl> &files,
                     const std::optional<QString> &documentID);
    void next();
    void fail(const QString &message);

    ImageLibrary *m_library;
    QList<QUrl> m_files;
    std::optional<QString> m_documentID;
    qsizetype m_position = 0;
};
