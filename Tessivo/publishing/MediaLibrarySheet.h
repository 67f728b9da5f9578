#pragma once

#include "protocol/WireRecords.h"
#include "publishing/core/MediaLibraryModel.h"

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

    using Content = MediaLibraryModel::Content;
    using Progress = MediaLibraryModel::Progress;

    // What the sheet shows, without the drawing.
    MediaLibraryModel *model() const { return m_state; }

    Content content() const { return m_state->content(); }
    QString query() const { return m_state->query(); }
    void setQuery(const QString &query) { m_state->setQuery(query); }
    // The library's images that match the query, best first: the grid.
    QList<ImageAsset> matches() const { return m_state->matches(); }
    const std::optional<Progress> &uploading() const { return m_state->uploading(); }
    const std::optional<QString> &uploadError() const { return m_state->uploadError(); }

    // Return in the search field: closes the sheet and inserts the first
    // match; nothing without a match.
    void insertFirstMatch();
    // Closes the sheet, then hands `asset` to the insert handler.
    void pick(const ImageAsset &asset);

    // The upload batch (see MediaLibraryModel::uploadFiles).
    void uploadFiles(const QList<QUrl> &files) { m_state->uploadFiles(files); }
    // The file dialog for choosing images to upload.
    void openUploadPanel();

    static QString rejectionMessage() { return MediaLibraryModel::rejectionMessage(); }

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
    InsertHandler m_onInsert;

    MediaLibraryModel *m_state;
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
