#pragma once

#include "store/CappedFileRead.h"

#include <QByteArray>
#include <QFuture>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

class DocumentStore;
class ImageUploader;
class ListContinuingTextView;
class QMimeData;

// Files dropped on the window, the editor or the preview, and Markdown files
// opened from the sidebar: what can be taken, and reading them.
namespace FileDrop {

// Lower-case extensions imported as documents: md, markdown, mdown, mkd,
// mkdn, mdwn, txt.
const QSet<QString> &markdownExtensions();

// The local files among the dragged URLs, in order.
QList<QUrl> fileURLs(const QMimeData *mimeData);

// Whether at least one URL is a Markdown file or a supported image.
bool canHandle(const QList<QUrl> &urls);

// The file's bytes, read on the thread pool, refused without being read
// when it is larger than `limit` bytes (see CappedFileRead).
QFuture<CappedFileRead> readFileData(const QUrl &url, qint64 limit);

// Shows a modal alert.
using AlertPresenter = std::function<void(const QString &message, const QString &informativeText)>;

// How a FileDropHandler reaches outside the editor. (At namespace scope so
// that it is complete where the handler's constructor defaults it.)
struct Strategies
{
    // Where images are uploaded (not owned; must outlive the handler).
    // Without one, image uploads fail with a message.
    ImageUploader *uploader = nullptr;
    // Empty: a message box.
    AlertPresenter alert;
};

} // namespace FileDrop

// Takes dropped and opened files into one store.
//
// Markdown and plain-text files become new documents. Images go into the
// document that was open when they were dropped: a placeholder
// "![Uploading name…](uploading:tag)" holds their place while they upload to
// the image library and is then replaced by the image's Markdown, or removed
// when the upload fails (with an alert). Main thread only; image files are
// read on the thread pool. Uploads still running when the handler goes end
// quietly.
class FileDropHandler final : public QObject
{
    Q_OBJECT

public:
    using AlertPresenter = FileDrop::AlertPresenter;
    using Strategies = FileDrop::Strategies;
    // The editor text view showing `documentID` in a window, or null.
    using EditorLookup = std::function<ListContinuingTextView *(const QString &documentID)>;

    // `store` must outlive the handler.
    FileDropHandler(DocumentStore *store, EditorLookup liveEditor, Strategies strategies = {},
                    QObject *parent = nullptr);

    // Imports the Markdown files and inserts and uploads the images. `index`
    // is the text position of the drop in `textView` (nullopt: at the
    // selection); `textView` is the editor that received the drop, or null
    // for drops elsewhere.
    void handle(const QList<QUrl> &urls, std::optional<qsizetype> index = std::nullopt,
                ListContinuingTextView *textView = nullptr);

private:
    void showAlert(const QString &message, const QString &informative) const;
    bool replacePlaceholder(const QString &find, const QString &replacement, const QString &documentID);
    void uploadFailed(const QString &placeholder, const QString &fileName, const QString &documentID,
                      const QString &message);
    QString uploadPlaceholder(const QUrl &url, const QString &documentID);

    DocumentStore *m_store;
    EditorLookup m_liveEditor;
    Strategies m_strategies;
};
