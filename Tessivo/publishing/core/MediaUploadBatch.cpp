#include "publishing/core/MediaUploadBatch.h"

#include "editor/core/ImageTypes.h"
#include "publishing/core/ImageLibrary.h"
#include "store/CappedFileRead.h"
#include "store/ThenWhileAlive.h"

#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

using namespace Qt::StringLiterals;

MediaUploadBatch::MediaUploadBatch(ImageLibrary *library, const QList<QUrl> &files,
                                   const std::optional<QString> &documentID)
    : QObject(library), m_library(library), m_files(files), m_documentID(documentID)
{}

MediaUploadBatch *MediaUploadBatch::start(ImageLibrary *library, const QList<QUrl> &files,
                                          const std::optional<QString> &documentID)
{
    auto *batch = new MediaUploadBatch(library, files, documentID);
    // The caller connects to the signals before the first one fires.
    QTimer::singleShot(0, batch, &MediaUploadBatch::next);
    return batch;
}

QString MediaUploadBatch::genericFailureMessage()
{
    return u"Image upload failed."_s;
}

void MediaUploadBatch::next()
{
    if (m_position >= m_files.size()) {
        Q_EMIT finished();
        deleteLater();
        return;
    }
    const QUrl url = m_files.at(m_position++);
    const QString name = url.fileName();
    Q_EMIT fileStarted(int(m_position), int(m_files.size()), name);
    const QString path = url.toLocalFile();
    thenWhileAlive(
        QtConcurrent::run([path] { return CappedFileRead::read(path, ImageLibrary::maxUploadBytes); }), this,
        [this, url, name](const CappedFileRead &read) {
            if (read.status == CappedFileRead::Status::tooLarge)
                return fail(ImageLibrary::tooLargeError().message);
            if (!read.ok())
                return fail(genericFailureMessage());
            thenWhileAlive(m_library->upload(read.data, name, ImageTypes::mimeType(url.path()), m_documentID),
                           this, [this](const APIResult<ImageAsset> &result) {
                               if (!result)
                                   return fail(result.failure().userText(genericFailureMessage()));
                               next();
                           });
        });
}

void MediaUploadBatch::fail(const QString &message)
{
    Q_EMIT failed(message);
    Q_EMIT finished();
    deleteLater();
}
