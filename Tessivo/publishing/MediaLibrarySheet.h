#pragma once

#include "publishing/core/ImageAsset.h"

#include <QDialog>
#include <QList>
#include <QUrl>

#include <functional>
#include <optional>

class DocumentStore;
enum class IconName;
class ImageLibrary;
class MediaTileImages;
class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QStackedWidget;
class QWidget;

// The sheet of the user's image library: a searchable grid of the images,
// uploads through a file dialog or by dropping files on the sheet, and a
// pick that closes the sheet and hands the image to `onInsert`. The sheet
// never touches the document itself.
class MediaLibrarySheet final : public QDialog
{
    Q_OBJECT

public:
    using InsertHandler = std::function<void(const ImageAsset &)>;

    MediaLibrarySheet(ImageLibrary *library, DocumentStore *store, InsertHandler onInsert,
                      QWidget *parent = nullptr);
    ~MediaLibrarySheet() override;

    enum class Content { loading, loadError, grid, noMatches, empty };
    Content content() const;

    struct Progress
    {
        int index = 0;
        int total = 0;
        QString name;
    };

    QString query() const;
    void setQuery(const QString &query);
    // The library's images that match the query, best first: the grid.
    QList<ImageAsset> matches() const;
    const std::optional<Progress> &uploading() const { return m_uploading; }
    const std::optional<QString> &uploadError() const { return m_uploadError; }

    // Return in the search field: closes the sheet and inserts the first
    // match; nothing without a match.
    void insertFirstMatch();
    // Closes the sheet, then hands `asset` to the insert handler.
    void pick(const ImageAsset &asset);

    // The upload batch: keeps the files of the allowed image types and
    // uploads them in order under the document open now, stopping at the
    // first failure. Ignored while a batch runs.
    void uploadFiles(const QList<QUrl> &files);
    // The file dialog for choosing images to upload.
    void openUploadPanel();

    static QString rejectionMessage();

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    QWidget *buildHeader();
    QWidget *buildFooter();
    QWidget *placeholder(IconName icon, const QString &title, const QString &message, QPushButton *accessory);
    void refreshContent();
    void refreshFooter();
    void setDropTargeted(bool targeted);

    ImageLibrary *m_library;
    DocumentStore *m_store;
    InsertHandler m_onInsert;

    std::optional<Progress> m_uploading;
    std::optional<QString> m_uploadError;
    bool m_dropTargeted = false;

    QLineEdit *m_search = nullptr;
    QPushButton *m_uploadButton = nullptr;
    QStackedWidget *m_content = nullptr;
    QWidget *m_loadingPage = nullptr;
    QWidget *m_placeholderPage = nullptr;
    QListView *m_grid = nullptr;
    QStackedWidget *m_footerStatus = nullptr;
    QLabel *m_progressText = nullptr;
    QLabel *m_errorText = nullptr;
    QWidget *m_dropOverlay = nullptr;
    MediaTileImages *m_tileImages = nullptr;
    class GridModel;
    GridModel *m_model = nullptr;
};
