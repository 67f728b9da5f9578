#pragma once

#include "protocol/WireRecords.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <optional>

class DocumentStore;
class ImageLibrary;

// The state of the media library sheet, without the sheet: which face its
// content shows, the images that match the search, and the upload batch it
// started (progress, then the first failure or the refused file types). The
// sheet draws it and hands it what the user does.
class MediaLibraryModel final : public QObject
{
    Q_OBJECT

public:
    enum class Content { loading, loadError, grid, noMatches, empty };

    struct Progress
    {
        int index = 0; // 1-based
        int total = 0;
        QString name;
        friend bool operator==(const Progress &, const Progress &) = default;
    };

    // Neither is owned; both must outlive the model. Uploads go under the
    // store's active document, as it is when they start.
    MediaLibraryModel(ImageLibrary *library, DocumentStore *store, QObject *parent = nullptr);

    ImageLibrary *library() const { return m_library; }

    Content content() const;
    const QString &query() const { return m_query; }
    void setQuery(const QString &query);
    // The library's images whose names match the query, best first.
    QList<ImageAsset> matches() const;

    const std::optional<Progress> &uploading() const { return m_uploading; }
    const std::optional<QString> &uploadError() const { return m_uploadError; }
    // "Uploading 2 of 3 · name.png", or "Uploading name.png" for one file.
    static QString progressText(const Progress &progress);

    // The upload batch: keeps the files of the allowed image types and
    // uploads them in order, stopping at the first failure; a batch that
    // went through clears the search, so the new images show. Ignored while
    // a batch runs.
    void uploadFiles(const QList<QUrl> &files);

    static QString rejectionMessage();

Q_SIGNALS:
    // content() or matches() may have changed.
    void contentChanged();
    void queryChanged();
    // uploading() or uploadError() changed.
    void uploadChanged();

private:
    ImageLibrary *m_library;
    DocumentStore *m_store;
    QString m_query;
    std::optional<Progress> m_uploading;
    std::optional<QString> m_uploadError;
};
