#include "editor/FileDrop.h"

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

namespace {

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

// Builds the placeholder for one image and starts its upload job, which runs
// on its own until the placeholder is replaced or removed (or the handler
// goes: the job's callbacks die with it).
QString FileDropHandler::uploadPlaceholder(const QUrl &url, const QString &documentID)
{
    const QString fileName = url.fileName();
    const QString placeholder = FileDropRules::uploadPlaceholder(fileName, FileDropRules::newTag());
    auto *watcher = new QFutureWatcher<FileDrop::ReadResult>(this);
    QPointer<FileDropHandler> self(this);
    connect(watcher, &QFutureWatcher<FileDrop::ReadResult>::finished, this,
            [this, self, watcher, url, fileName, placeholder, documentID] {
                watcher->deleteLater();
                const FileDrop::ReadResult read = watcher->result();
                if (!read.ok()) {
                    uploadFailed(placeholder, fileName, documentID, read.error);
                    return;
                }
                ImageLibrary::SuccessHandler succeeded = [self, placeholder,
                                                          documentID](const ImageAsset &asset) {
                    if (!self)
                        return;
                    const QString text =
                        FileDropRules::imageMarkdown(ImageLibrary::altText(asset.filename), asset.url);
                    self->replacePlaceholder(placeholder, text, documentID);
                };
                ImageLibrary::FailureHandler failed = [self, placeholder, fileName,
                                                       documentID](const APIError &error) {
                    if (self)
                        self->uploadFailed(placeholder, fileName, documentID, error.message);
                };
                const QString contentType = ImageLibrary::mimeType(url.path());
                if (m_strategies.upload) {
                    m_strategies.upload(read.data, fileName, contentType, documentID, std::move(succeeded),
                                        std::move(failed));
                    return;
                }
                ImageLibrary::shared()->upload(read.data, fileName, contentType, documentID, this,
                                               std::move(succeeded), std::move(failed));
            });
    watcher->setFuture(FileDrop::readFileData(url));
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
