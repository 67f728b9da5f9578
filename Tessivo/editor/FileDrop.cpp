#include "editor/FileDrop.h"

#include "editor/ListContinuingTextView.h"
#include "editor/core/FileDropRules.h"
#include "editor/core/ImageTypes.h"
#include "editor/core/ImageUploader.h"
#include "platform/PlainTextAlert.h"
#include "store/DocumentStore.h"

#include <QApplication>
#include <QFutureWatcher>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

using namespace Qt::StringLiterals;

namespace {

// A dropped name may be a pipe or a huge file: read without waiting and
// within the bound of a document's text, or skipped.
std::optional<QString> readMarkdownFile(const QUrl &url)
{
    const CappedFileRead read = CappedFileRead::read(url.toLocalFile(), FileBounds::importedText);
    if (!read.ok()) {
        qWarning("[editor] did not import %s: %s", qPrintable(url.fileName()), qPrintable(read.error));
        return std::nullopt;
    }
    return FileDropRules::decodeText(read.data);
}

} // namespace

namespace FileDrop {

const QSet<QString> &markdownExtensions()
{
    return FileDropRules::markdownExtensions();
}

QList<QUrl> fileURLs(const QMimeData *mimeData)
{
    QList<QUrl> urls;
    if (!mimeData || !mimeData->hasUrls())
        return urls;
    for (const QUrl &url : mimeData->urls()) {
        if (url.isLocalFile())
            urls << url;
    }
    return urls;
}

bool canHandle(const QList<QUrl> &urls)
{
    for (const QUrl &url : urls) {
        if (FileDropRules::isMarkdownFile(url.fileName()) || FileDropRules::isSupportedImage(url.fileName()))
            return true;
    }
    return false;
}

QFuture<CappedFileRead> readFileData(const QUrl &url, qint64 limit)
{
    const QString path = url.toLocalFile();
    return QtConcurrent::run([path, limit] { return CappedFileRead::read(path, limit); });
}

} // namespace FileDrop

FileDropHandler::FileDropHandler(DocumentStore *store, EditorLookup liveEditor, Strategies strategies,
                                 QObject *parent)
    : QObject(parent), m_store(store), m_liveEditor(std::move(liveEditor)),
      m_strategies(std::move(strategies))
{}

void FileDropHandler::showAlert(const QString &message, const QString &informative) const
{
    if (m_strategies.alert) {
        m_strategies.alert(message, informative);
        return;
    }
    QMessageBox box(QApplication::activeWindow());
    box.setIcon(QMessageBox::Warning);
    setPlainAlertTexts(box, message, informative);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

// Replaces the first `find` in the document's live editor, or else in its
// stored body. False when `find` is nowhere or the editor refuses the edit.
bool FileDropHandler::replacePlaceholder(const QString &find, const QString &replacement,
                                         const QString &documentID)
{
    if (ListContinuingTextView *view = m_liveEditor ? m_liveEditor(documentID) : nullptr) {
        const qsizetype at = view->string().indexOf(find);
        if (at >= 0) {
            const qsizetype caret = view->selectedRange().location;
            const TextRange found = FileDropRules::clamp({at, find.size()}, view->length());
            if (!view->shouldChangeText(found, replacement))
                return false;
            // An upload that ends while the user works elsewhere must not pull
            // the keyboard focus into the editor.
            QPointer<QWidget> focus = QApplication::focusWidget();
            if (!view->replaceCharacters(found, replacement))
                return false;
            view->setSelectedRange(
                {FileDropRules::caretAfterReplacement(found, replacement.size(), caret, view->length()), 0});
            if (focus && focus != view)
                focus->setFocus(Qt::OtherFocusReason);
            return true;
        }
    }
    DocumentStore *store = m_store;
    const auto document = store->document(documentID);
    if (!document)
        return false;
    const auto body = FileDropRules::replaceFirst(document->body, find, replacement);
    if (!body)
        return false;
    store->updateBody(*body, documentID);
    return true;
}

void FileDropHandler::uploadFailed(const QString &placeholder, const QString &fileName,
                                   const QString &documentID, const QString &message)
{
    // The user may have joined the placeholder's line to the next one.
    if (!replacePlaceholder(placeholder + u'\n', QString(), documentID))
        replacePlaceholder(placeholder, QString(), documentID);
    showAlert(u"Couldn't upload "_s + fileName, message);
}

namespace {

// Calls `done` with the future's result on the owner's thread, unless the
// owner has gone by then. (A continuation with a context object must not
// outlive that object.)
template <typename T, typename Done>
void whenFinished(QObject *owner, QFuture<T> future, Done done)
{
    auto *watcher = new QFutureWatcher<T>(owner);
    QObject::connect(watcher, &QFutureWatcher<T>::finished, owner, [watcher, done = std::move(done)] {
        watcher->deleteLater();
        done(watcher->result());
    });
    watcher->setFuture(std::move(future));
}

} // namespace

// Builds the placeholder for one image and starts its upload job, which runs
// on its own until the placeholder is replaced or removed (or the handler
// goes: the job's callbacks die with it).
QString FileDropHandler::uploadPlaceholder(const QUrl &url, const QString &documentID)
{
    const QString fileName = url.fileName();
    const QString placeholder = FileDropRules::uploadPlaceholder(fileName, FileDropRules::newTag());
    ImageUploader *images = m_strategies.uploader;
    if (!images) {
        QTimer::singleShot(0, this, [this, placeholder, fileName, documentID] {
            uploadFailed(placeholder, fileName, documentID, u"Uploading images is not available."_s);
        });
        return placeholder;
    }
    whenFinished(
        this, FileDrop::readFileData(url, images->uploadLimit()),
        [this, images, url, fileName, placeholder, documentID](const CappedFileRead &read) {
            if (!read.ok()) {
                uploadFailed(placeholder, fileName, documentID,
                             read.status == CappedFileRead::Status::tooLarge ? images->tooLargeMessage()
                                                                             : read.error);
                return;
            }
            // The uploader finishes on the main thread, so the result is
            // taken there as it arrives.
            images->uploadImage(read.data, fileName, ImageTypes::mimeType(url.path()), documentID)
                .then([self = QPointer<FileDropHandler>(this), placeholder, fileName,
                       documentID](const ImageUploader::Outcome &done) {
                    if (!self)
                        return;
                    if (!done.image) {
                        self->uploadFailed(placeholder, fileName, documentID, done.error);
                        return;
                    }
                    self->replacePlaceholder(placeholder,
                                             FileDropRules::imageMarkdown(
                                                 ImageTypes::altText(done.image->filename), done.image->url),
                                             documentID);
                });
        });
    return placeholder;
}

void FileDropHandler::handle(const QList<QUrl> &urls, std::optional<qsizetype> index,
                             ListContinuingTextView *textView)
{
    QList<QUrl> markdownFiles;
    QList<QUrl> images;
    for (const QUrl &url : urls) {
        if (FileDropRules::isMarkdownFile(url.fileName()))
            markdownFiles << url;
        if (FileDropRules::isSupportedImage(url.fileName()))
            images << url;
    }

    DocumentStore *store = m_store;
    // Images go into the document open at the drop, even though importing
    // makes the imported documents active.
    const QString target = store->activeDocumentID();

    for (const QUrl &url : markdownFiles) {
        const auto text = readMarkdownFile(url);
        if (!text)
            continue;
        store->importMarkdown(FileDropRules::importName(url.fileName()), *text);
    }

    if (images.isEmpty())
        return;
    if (target.isEmpty()) {
        showAlert(u"Open a document first"_s,
                  u"Images are inserted into the current document, and none is open."_s);
        return;
    }

    qsizetype insertionPoint = index.value_or(0);
    bool useSelection = !index.has_value();
    for (const QUrl &url : images) {
        const QString chunk = uploadPlaceholder(url, target) + u'\n';
        ListContinuingTextView *view = textView ? textView : (m_liveEditor ? m_liveEditor(target) : nullptr);
        if (!view) {
            store->appendText(chunk, target);
            continue;
        }
        const TextRange range = FileDropRules::clamp(
            useSelection ? view->selectedRange() : TextRange{insertionPoint, 0}, view->length());
        // One undo step; the editor's change path writes the text to the store.
        if (view->shouldChangeText(range, chunk))
            view->replaceCharacters(range, chunk);
        insertionPoint = view->selectedRange().location;
        useSelection = false;
    }
}
