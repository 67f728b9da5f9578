#include "publishing/core/MediaLibraryModel.h"

#include "editor/core/ImageTypes.h"
#include "publishing/core/ImageLibrary.h"
#include "publishing/core/MediaUploadBatch.h"
#include "store/DocumentStore.h"
#include "store/FuzzyFilter.h"

using namespace Qt::StringLiterals;

MediaLibraryModel::MediaLibraryModel(ImageLibrary *library, DocumentStore *store, QObject *parent)
    : QObject(parent), m_library(library), m_store(store)
{
    connect(library, &ImageLibrary::imagesChanged, this, &MediaLibraryModel::contentChanged);
    connect(library, &ImageLibrary::isLoadingChanged, this, &MediaLibraryModel::contentChanged);
    connect(library, &ImageLibrary::errorChanged, this, &MediaLibraryModel::contentChanged);
    connect(library, &ImageLibrary::loadedChanged, this, &MediaLibraryModel::contentChanged);
}

QString MediaLibraryModel::rejectionMessage()
{
    return u"Only PNG, JPEG, WebP, GIF, and AVIF images can be uploaded."_s;
}

MediaLibraryModel::Content MediaLibraryModel::content() const
{
    if (m_library->isLoading() && !m_library->loaded())
        return Content::loading;
    if (m_library->error() && m_library->images().isEmpty())
        return Content::loadError;
    if (!m_library->images().isEmpty())
        return matches().isEmpty() ? Content::noMatches : Content::grid;
    return Content::empty;
}

void MediaLibraryModel::setQuery(const QString &query)
{
    if (m_query == query)
        return;
    m_query = query;
    Q_EMIT queryChanged();
    Q_EMIT contentChanged();
}

QList<ImageAsset> MediaLibraryModel::matches() const
{
    return fuzzyFilter(m_library->images(), m_query,
                       [](const ImageAsset &asset) -> const QString & { return asset.filename; });
}

QString MediaLibraryModel::progressText(const Progress &progress)
{
    return progress.total >= 2
               ? u"Uploading %1 of %2 · %3"_s.arg(progress.index).arg(progress.total).arg(progress.name)
               : u"Uploading "_s + progress.name;
}

void MediaLibraryModel::uploadFiles(const QList<QUrl> &files)
{
    if (m_uploading)
        return;
    QList<QUrl> kept;
    for (const QUrl &url : files) {
        if (ImageTypes::isAllowedImage(url.fileName()))
            kept << url;
    }
    m_uploadError = kept.size() < files.size() ? std::optional(rejectionMessage()) : std::nullopt;
    if (kept.isEmpty()) {
        Q_EMIT uploadChanged();
        return;
    }
    const QString documentID = m_store ? m_store->activeDocumentID() : QString();
    m_uploading = Progress{1, int(kept.size()), kept.first().fileName()};
    Q_EMIT uploadChanged();
    MediaUploadBatch *batch = MediaUploadBatch::start(
        m_library, kept, documentID.isEmpty() ? std::nullopt : std::optional(documentID));
    connect(batch, &MediaUploadBatch::fileStarted, this, [this](int index, int total, const QString &name) {
        m_uploading = Progress{index, total, name};
        Q_EMIT uploadChanged();
    });
    connect(batch, &MediaUploadBatch::failed, this,
            [this](const QString &message) { m_uploadError = message; });
    connect(batch, &MediaUploadBatch::finished, this, [this] {
        m_uploading.reset();
        if (!m_uploadError)
            setQuery(QString());
        Q_EMIT uploadChanged();
    });
}
