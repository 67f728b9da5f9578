#include "editor/FileDrop.h"

#include "editor/EditorBridge.h"
#include "editor/ListContinuingTextView.h"
#include "editor/core/FileDropRules.h"
#include "platform/PlainTextAlert.h"
#include "store/DocumentStore.h"

#include <QApplication>
#include <QFile>
#include <QFutureWatcher>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>

using namespace Qt::StringLiterals;

namespace FileDrop {

namespace {

Uploader &uploader()
{
    static Uploader hook;
    return hook;
}

AlertPresenter &alertPresenter()
{
    static AlertPresenter hook;
    return hook;
}

// Outlives every upload job; jobs end quietly when the application goes.
QObject *jobContext()
{
    static QObject *context = new QObject(QCoreApplication::instance());
    return context;
}

void showAlert(const QString &message, const QString &informative)
{
    if (alertPresenter()) {
        alertPresenter()(message, informative);
        return;
    }
    QMessageBox box(QApplication::activeWindow());
    box.setIcon(QMessageBox::Warning);
    setPlainAlertTexts(box, message, informative);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

ListContinuingTextView *liveTextView(const QString &documentID)
{
    return EditorBridge::shared()->textView(documentID);
}

// Replaces the first `find` in the document's live editor, or else in its
// stored body. False when `find` is nowhere or the editor refuses the edit.
bool replacePlaceholder(const QString &find, const QString &replacement, const QString &documentID)
{
    if (ListContinuingTextView *view = liveTextView(documentID)) {
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
    DocumentStore *store = DocumentStore::shared();
    const auto document = store->document(documentID);
    if (!document)
        return false;
    const auto body = FileDropRules::replaceFirst(document->body, find, replacement);
    if (!body)
        return false;
    store->updateBody(*body, documentID);
    return true;
}

void uploadFailed(const QString &placeholder, const QString &fileName, const QString &documentID,
                  const QString &message)
{
    // The user may have joined the placeholder's line to the next one.
    if (!replacePlaceholder(placeholder + u'\n', QString(), documentID))
        replacePlaceholder(placeholder, QString(), documentID);
    showAlert(u"Couldn't upload "_s + fileName, message);
}

void upload(const QByteArray &data, const QString &fileName, const QString &contentType,
            const QString &documentID, ImageLibrary::SuccessHandler onSuccess,
            ImageLibrary::FailureHandler onFailure)
{
    if (uploader()) {
        uploader()(data, fileName, contentType, documentID, std::move(onSuccess), std::move(onFailure));
        return;
    }
    ImageLibrary::shared()->upload(data, fileName, contentType, documentID, jobContext(),
                                   std::move(onSuccess), std::move(onFailure));
}

// Builds the placeholder for one image and starts its upload job, which runs
// on its own until the placeholder is replaced or removed.
QString uploadPlaceholder(const QUrl &url, const QString &documentID)
{
    const QString fileName = url.fileName();
    const QString placeholder = FileDropRules::uploadPlaceholder(fileName, FileDropRules::newTag());
    auto *watcher = new QFutureWatcher<ReadResult>(jobContext());
    QObject::connect(watcher, &QFutureWatcher<ReadResult>::finished, jobContext(),
                     [watcher, url, fileName, placeholder, documentID] {
                         watcher->deleteLater();
                         const ReadResult read = watcher->result();
                         if (!read.ok()) {
                             uploadFailed(placeholder, fileName, documentID, read.error);
                             return;
                         }
                         upload(
                             read.data, fileName, ImageLibrary::mimeType(url.path()), documentID,
                             [placeholder, documentID](const ImageAsset &asset) {
                                 const QString text = FileDropRules::imageMarkdown(
                                     ImageLibrary::altText(asset.filename), asset.url);
                                 replacePlaceholder(placeholder, text, documentID);
                             },
                             [placeholder, fileName, documentID](const APIError &error) {
                                 uploadFailed(placeholder, fileName, documentID, error.message);
                             });
                     });
    watcher->setFuture(readFileData(url));
    return placeholder;
}

std::optional<QString> readMarkdownFile(const QUrl &url)
{
    QFile file(url.toLocalFile());
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return FileDropRules::decodeText(bytes);
}

} // namespace

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

void handle(const QList<QUrl> &urls, std::optional<qsizetype> index, ListContinuingTextView *textView)
{
    QList<QUrl> markdownFiles;
    QList<QUrl> images;
    for (const QUrl &url : urls) {
        if (FileDropRules::isMarkdownFile(url.fileName()))
            markdownFiles << url;
        if (FileDropRules::isSupportedImage(url.fileName()))
            images << url;
    }

    DocumentStore *store = DocumentStore::shared();
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
        ListContinuingTextView *view = textView ? textView : liveTextView(target);
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

QFuture<ReadResult> readFileData(const QUrl &url)
{
    const QString path = url.toLocalFile();
    return QtConcurrent::run([path] {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return ReadResult{{}, file.errorString()};
        QByteArray data = file.readAll();
        if (file.error() != QFileDevice::NoError)
            return ReadResult{{}, file.errorString()};
        return ReadResult{std::move(data), {}};
    });
}

void setUploader(Uploader hook)
{
    uploader() = std::move(hook);
}

void setAlertPresenter(AlertPresenter presenter)
{
    alertPresenter() = std::move(presenter);
}

} // namespace FileDrop
