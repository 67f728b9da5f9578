#pragma once

#include "editor/core/CappedFileRead.h"

#include <QByteArray>
#include <QFuture>
#include <QList>
#include <QSet>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

class ImageUploader;
class ListContinuingTextView;
class QMimeData;

// The one entry for files dropped on the window, the editor or the preview,
// and for Markdown files opened from the sidebar.
//
// Markdown and plain-text files become new documents. Images go into the
// document that was open when they were dropped: a placeholder
// "![Uploading name…](uploading:tag)" holds their place while they upload to
// the image library and is then replaced by the image's Markdown, or removed
// when the upload fails (with an alert). Main thread only; image files are
// read on the thread pool.
namespace FileDrop {

// Lower-case extensions imported as documents: md, markdown, mdown, mkd,
// mkdn, mdwn, txt.
const QSet<QString> &markdownExtensions();

// The local files among the dragged URLs, in order.
QList<QUrl> fileURLs(const QMimeData *mimeData);

// Whether at least one URL is a Markdown file or a supported image.
bool canHandle(const QList<QUrl> &urls);

// Imports the Markdown files and inserts and uploads the images. `index` is
// the text position of the drop in `textView` (nullopt: at the selection);
// `textView` is the editor that received the drop, or null for drops
// elsewhere.
void handle(const QList<QUrl> &urls, std::optional<qsizetype> index = std::nullopt,
            ListContinuingTextView *textView = nullptr);

// The file's bytes, read on the thread pool, refused without being read
// when it is larger than `limit` bytes (see CappedFileRead).
QFuture<CappedFileRead> readFileData(const QUrl &url, qint64 limit);

// Where dropped images are uploaded: the app's image library. Not owned.
// Until one is set, image uploads fail with a message.
void setImageUploader(ImageUploader *uploader);

// --- Seams for tests -----------------------------------------------------

// Shows a modal alert; by default a message box with one button.
using AlertPresenter = std::function<void(const QString &message, const QString &informativeText)>;

// An empty function restores the default.
void setAlertPresenter(AlertPresenter presenter);

} // namespace FileDrop
