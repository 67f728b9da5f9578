// The document detail pane in a window: what it shows, when the preview
// renders, the view modes, the commands it takes from notifications, export
// and copy, and files dropped into the open document.

#include "app/core/AppNotifications.h"
#include "editor/FileDrop.h"
#include "editor/ListContinuingTextView.h"
#include "editor/MarkdownTextView.h"
#include "editor/PreviewPage.h"
#include "editor/PreviewWebView.h"
#include "editor/core/ImageUploader.h"
#include "publishing/MediaLibrarySheet.h"
#include "publishing/PublishSheet.h"
#include "service/core/APIError.h"
#include "shell/DetailHeader.h"
#include "shell/DocumentDetailView.h"
#include "shell/EmptyDetailView.h"
#include "shell/ExportActions.h"
#include "shell/PublishSplitButton.h"
#include "shell/StatusBar.h"
#include "shell/core/DetailRenderScheduler.h"
#include "store/DocumentStore.h"

#include "editor/ui/PageScript.h"
#include "shell/OfflineServices.h"

#include <QApplication>
#include <QClipboard>
#include <QEnterEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QtConcurrent>

#include <atomic>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

struct PendingUpload
{
    QString filename;
    QString contentType;
    QString documentID;
    QByteArray data;
    std::function<void(const ImageAsset &)> succeed;
    std::function<void(const APIError &)> fail;
};

// Holds every upload until the test answers it.
class FakeUploader final : public ImageUploader
{
public:
    explicit FakeUploader(QList<PendingUpload> *uploads) : m_uploads(uploads) {}

    qint64 uploadLimit() const override { return 1024; }
    QString tooLargeMessage() const override { return u"Images must be 10 MB or smaller."_s; }
    QFuture<Outcome> uploadImage(const QByteArray &data, const QString &filename, const QString &contentType,
                                 const QString &documentID) override
    {
        auto promise = std::make_shared<QPromise<Outcome>>();
        promise->start();
        const auto finish = [promise](const Outcome &outcome) {
            promise->addResult(outcome);
            promise->finish();
        };
        *m_uploads << PendingUpload{filename,
                                    contentType,
                                    documentID,
                                    data,
                                    [finish](const ImageAsset &asset) {
                                        finish(Outcome{Uploaded{asset.url, asset.filename}, {}});
                                    },
                                    [finish](const APIError &error) {
                                        finish(Outcome{std::nullopt, error.message});
                                    }};
        return promise->future();
    }

private:
    QList<PendingUpload> *m_uploads;
};

} // namespace

class TestDetailView final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void contentFollowsTheStore();
    void viewModes_data();
    void viewModes();
    void previewFollowsTheStore();
    void anotherDocumentsPreviewStartsAtItsTop();
    void editorAloneKeepsCountsAndRendersOnDemand();
    void newDocumentTakesTheKeyboard();
    void publishedFlag();
    void modeButtonFill();

    void exportFiles_data();
    void exportFiles();
    void htmlExportRightAfterASwitchHasTheActiveDocument();
    void exportWriteFailureShowsAnAlert();
    void copyMarkdown();

    void deleteNotification();
    void mediaInsertion_data();
    void mediaInsertion();
    void mediaInsertionInPreviewModeAppends();
    void sheetsSayTheyAreNotAvailable();

    void dropImagesIntoTheEditor();
    void windowDropReplacesTheSelection();
    void dropImageWithoutLiveEditorGoesToTheStoredBody();
    void failedUploadRemovesItsPlaceholder_data();
    void failedUploadRemovesItsPlaceholder();
    void dropImagesWithNoOpenDocument();
    void dropMarkdownAndImagesTogether();
    void droppedPipeIsSkippedWithoutWaiting();

private:
    // Deletions are refused unless `confirmDelete` says otherwise.
    std::unique_ptr<DocumentDetailView> makePane(DocumentDetailView::DeleteConfirmation confirmDelete = {});
    QString writeFile(const QString &name, const QByteArray &bytes);
    ListContinuingTextView *editorOf(DocumentDetailView *pane);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QSettings> m_settings;
    ViewModeSetting *m_mode = nullptr; // the services'
    std::unique_ptr<DocumentStore> m_ownStore;
    DocumentStore *m_store = nullptr;
    std::unique_ptr<AppServices> m_services;
    QList<PendingUpload> m_uploads;
    std::unique_ptr<FakeUploader> m_uploader;
    DocumentDetailView::Strategies m_strategies;
    // Drops with no pane, so no live editor.
    std::unique_ptr<FileDropHandler> m_drops;
    QList<QStringList> m_alerts;
    QString m_savePath;
    QStringList m_suggestedNames;
};

void TestDetailView::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(u"TessivoTests"_s);
    QCoreApplication::setApplicationName(u"tst_detailview"_s);
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    PreviewWebView::setResourceFolder(QStringLiteral(TESSIVO_BUILD_DIR "/Tessivo/Preview"));
    m_settings = std::make_unique<QSettings>(m_dir->filePath(u"settings.ini"_s), QSettings::IniFormat);
    m_ownStore = std::make_unique<DocumentStore>(m_dir->filePath(u"base"_s), m_settings.get());
    m_store = m_ownStore.get();
    m_store->load();
    QTRY_VERIFY(m_store->isLoaded());
    m_services = offlineServices(m_store, Keychain(Keychain::inMemory()), m_settings.get());
    m_mode = m_services->viewMode();
    m_uploader = std::make_unique<FakeUploader>(&m_uploads);
    m_strategies.fileDrops.uploader = m_uploader.get();
    m_strategies.fileDrops.alert = [this](const QString &message, const QString &informative) {
        m_alerts << QStringList{message, informative};
    };
    m_drops = std::make_unique<FileDropHandler>(m_store, nullptr, m_strategies.fileDrops);
    m_strategies.exports.saveDialog = [this](QWidget *, const QString &suggested, ExportFormat) {
        m_suggestedNames << suggested;
        return m_savePath;
    };
    m_strategies.exports.errorAlert = [this](QWidget *, const QString &message, const QString &detail) {
        m_alerts << QStringList{message, detail};
    };
}

void TestDetailView::init()
{
    m_uploads.clear();
    m_alerts.clear();
    m_savePath.clear();
    m_suggestedNames.clear();
    m_mode->setMode(ViewMode::split);
}

std::unique_ptr<DocumentDetailView>
TestDetailView::makePane(DocumentDetailView::DeleteConfirmation confirmDelete)
{
    DocumentDetailView::Strategies strategies = m_strategies;
    strategies.confirmDelete = std::move(confirmDelete);
    if (!strategies.confirmDelete)
        strategies.confirmDelete = [](const QString &, const QString &) { return false; };
    auto pane = std::make_unique<DocumentDetailView>(*m_services, strategies);
    pane->resize(1100, 700);
    pane->show();
    if (!QTest::qWaitForWindowExposed(pane.get(), TestWaits::limitMs))
        return nullptr;
    return pane;
}

QString TestDetailView::writeFile(const QString &name, const QByteArray &bytes)
{
    const QString path = m_dir->filePath(name);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
    return path;
}

ListContinuingTextView *TestDetailView::editorOf(DocumentDetailView *pane)
{
    return pane->editor() ? pane->editor()->textView() : nullptr;
}

void TestDetailView::contentFollowsTheStore()
{
    // Before loading the pane is blank; it never shows the empty note then.
    {
        DocumentStore unloaded(m_dir->filePath(u"unloaded"_s), m_settings.get());
        const std::unique_ptr<AppServices> services =
            offlineServices(&unloaded, Keychain(Keychain::inMemory()), m_settings.get());
        DocumentDetailView pane(*services, m_strategies);
        QVERIFY(pane.currentContent() != pane.emptyView());
        QVERIFY(pane.currentContent() != pane.documentContent());
    }

    m_store->setActiveDocumentID(QString());
    auto pane = makePane();
    QVERIFY(pane);
    QCOMPARE(pane->currentContent(), pane->emptyView());
    QVERIFY(!pane->publishButton()->isEnabled());
    for (HeaderIconButton *button : pane->modeButtons())
        QVERIFY(!button->isEnabled());

    // "New Document" (and Return) make a document, which the pane then shows.
    const qsizetype before = m_store->documents().size();
    pane->emptyView()->newDocumentButton()->click();
    QCOMPARE(m_store->documents().size(), before + 1);
    QCOMPARE(pane->currentContent(), pane->documentContent());
    QVERIFY(pane->publishButton()->isEnabled());

    m_store->setActiveDocumentID(QString());
    QCOMPARE(pane->currentContent(), pane->emptyView());
    pane->emptyView()->newDocumentButton()->setFocus();
    QTest::keyClick(pane->emptyView()->newDocumentButton(), Qt::Key_Return);
    QCOMPARE(m_store->documents().size(), before + 2);
    QCOMPARE(pane->currentContent(), pane->documentContent());
}

void TestDetailView::viewModes_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("clicked"); // index of the mode button, or -1
    QTest::addColumn<bool>("editorShown");
    QTest::addColumn<bool>("previewShown");
    QTest::addColumn<QString>("written");

    QTest::newRow("stored preview") << u"preview"_s << -1 << false << true << u"preview"_s;
    QTest::newRow("choosing editor writes it") << u"split"_s << 0 << true << false << u"editor"_s;
    QTest::newRow("choosing preview writes it") << u"bogus"_s << 2 << false << true << u"preview"_s;
}

void TestDetailView::viewModes()
{
    QFETCH(QString, stored);
    QFETCH(int, clicked);
    QFETCH(bool, editorShown);
    QFETCH(bool, previewShown);
    QFETCH(QString, written);

    m_store->createDocument(std::nullopt, u"# Modes"_s);
    m_settings->setValue(u"viewMode"_s, stored);
    m_mode->refresh();
    auto pane = makePane();
    QVERIFY(pane);
    if (clicked >= 0)
        QTest::mouseClick(pane->modeButtons().at(clicked), Qt::LeftButton);
    QCOMPARE(pane->editor() != nullptr && pane->editor()->isVisible(), editorShown);
    QCOMPARE(pane->preview()->isVisible(), previewShown);
    QCOMPARE(m_settings->value(u"viewMode"_s).toString(), written);
    const int selected = editorShown && previewShown ? 1 : editorShown ? 0 : 2;
    for (int i = 0; i < 3; ++i)
        QCOMPARE(pane->modeButtons().at(i)->isSelected(), i == selected);
}

void TestDetailView::previewFollowsTheStore()
{
    const Document doc = m_store->createDocument(std::nullopt, u"Hello"_s);
    auto pane = makePane();
    QVERIFY(pane);
    QSignalSpy updated(pane.get(), &DocumentDetailView::previewUpdated);
    QTRY_COMPARE(pane->renderedDocumentID(), doc.id);
    const int afterFirst = updated.count();

    // Several quick keystrokes: one more render after the pause, of the last text.
    ListContinuingTextView *editor = editorOf(pane.get());
    QVERIFY(editor);
    editor->setFocus();
    editor->setSelectedRange({5, 0});
    QTest::keyClicks(editor, u" **world** and $x^2$"_s);
    QCOMPARE(m_store->document(doc.id)->body, u"Hello **world** and $x^2$"_s);
    QVERIFY(pane->renderScheduler()->isWaitingForPause());
    // The waiting render holds no share of the text, which the next key
    // would otherwise copy whole.
    QVERIFY(m_store->documents().at(m_store->indexOfDocument(doc.id)).body.isDetached());
    QCOMPARE(updated.count(), afterFirst);
    pane->renderScheduler()->endPauseNow();
    QVERIFY(updated.wait(TestWaits::limitMs));
    QCOMPARE(updated.count(), afterFirst + 1);
    QVERIFY(pane->html().contains(u"<strong>world</strong>"_s));
    QCOMPARE(pane->stats(), (MarkdownRenderer::Stats{4, 25}));
    QCOMPARE(pane->statusBar()->texts(), (QStringList{u"4 words"_s, u"25 characters"_s, u"1 min read"_s}));
    // The web view receives the same HTML.
    QTRY_COMPARE(pane->preview()->page()->lastSent().value_or(QString()), pane->html());

    // Another document renders at once.
    const Document second = m_store->createDocument(std::nullopt, u"# Second"_s);
    QVERIFY(!pane->renderScheduler()->isWaitingForPause());
    QTRY_COMPARE(pane->renderedDocumentID(), second.id);
    QVERIFY(pane->html().contains(u"Second"_s));
}

// Two long documents alike but for their names, the way one writer's
// documents are.
static QString longDocument(const QString &name)
{
    QString text = u"# "_s + name + u"\n\n"_s;
    for (int i = 1; i <= 300; ++i)
        text += u"## Section %1\n\nA paragraph of section %1, long enough to take a few lines in the preview "
                "pane, with *words* and `code` in it.\n\n"_s.arg(i);
    return text + u"The end of "_s + name + u"."_s;
}

// Where the preview stands: its scroll offset, and the last block's text.
const QString previewPlace =
    u"JSON.stringify([document.scrollingElement.scrollTop, "
    "document.scrollingElement.scrollHeight - document.scrollingElement.clientHeight, "
    "document.getElementById('content').lastElementChild ? "
    "document.getElementById('content').lastElementChild.textContent : ''])"_s;

// The preview of another document starts at its top, however far down the
// last one was read, as the editor does; typing in it keeps the place.
void TestDetailView::anotherDocumentsPreviewStartsAtItsTop()
{
    const Document first = m_store->createDocument(std::nullopt, longDocument(u"First"_s));
    const Document second = m_store->createDocument(std::nullopt, longDocument(u"Second"_s));
    m_store->setActiveDocumentID(first.id);
    auto pane = makePane();
    QVERIFY(pane);
    PreviewPage *page = pane->preview()->page();
    const auto place = [page] {
        return QJsonDocument::fromJson(evaluate(page, previewPlace).toByteArray()).array();
    };
    const auto showsEnd = [&](const QString &name) {
        return place().at(2).toString() == u"The end of "_s + name + u"."_s;
    };
    const auto atEnd = [&] {
        const QJsonArray at = place();
        return at.at(0).toDouble() > 0 && at.at(0).toDouble() >= at.at(1).toDouble() - 1;
    };
    // Blocks off screen carry estimated heights until drawn: the end moves
    // while the reader goes there, and the reader follows it, a scroll at
    // each frame, until it has stayed at the end for ten frames running.
    const auto toEnd = [&] {
        evaluate(page, u"window.endFrames = 0; (function follow() { const e = document.scrollingElement; "
                       "window.endFrames = e.scrollTop >= e.scrollHeight - e.clientHeight - 1 ? "
                       "window.endFrames + 1 : 0; if (window.endFrames >= 10) return; "
                       "window.scrollTo(0, e.scrollHeight); requestAnimationFrame(follow); })();"_s);
        QTRY_COMPARE(evaluate(page, u"window.endFrames"_s).toInt(), 10);
        QVERIFY(atEnd());
    };
    QTRY_VERIFY_WITH_TIMEOUT(showsEnd(u"First"_s), TestWaits::limitMs);
    toEnd();
    if (QTest::currentTestFailed())
        return;

    m_store->setActiveDocumentID(second.id);
    QTRY_VERIFY_WITH_TIMEOUT(showsEnd(u"Second"_s), TestWaits::limitMs);
    QCOMPARE(place().at(0).toDouble(), 0.0);

    toEnd();
    if (QTest::currentTestFailed())
        return;
    m_store->updateBody(longDocument(u"Second"_s) + u" Typed."_s, second.id);
    pane->renderScheduler()->endPauseNow();
    QTRY_VERIFY_WITH_TIMEOUT(place().at(2).toString().endsWith(u"Typed."_s), TestWaits::limitMs);
    QTRY_VERIFY(atEnd());
}

void TestDetailView::editorAloneKeepsCountsAndRendersOnDemand()
{
    const Document doc = m_store->createDocument(std::nullopt, u"Hello"_s);
    auto pane = makePane();
    QVERIFY(pane);
    QTRY_COMPARE(pane->renderedDocumentID(), doc.id);
    int renders = 0;
    pane->renderScheduler()->setRenderFunction(
        [&renders](const QString &body, const QHash<QString, QString> &t) {
            ++renders;
            return DetailRenderScheduler::renderNow(body, t);
        });
    pane->setMode(ViewMode::editor);

    // Without a preview the counts follow every change, and nothing renders
    // HTML for it.
    ListContinuingTextView *editor = editorOf(pane.get());
    QVERIFY(editor);
    editor->setFocus();
    editor->setSelectedRange({5, 0});
    QTest::keyClicks(editor, u" **world**"_s);
    pane->renderScheduler()->endPauseNow();
    QTRY_COMPARE(pane->stats(), (MarkdownRenderer::Stats{2, 15}));
    QCOMPARE(pane->statusBar()->texts().at(0), u"2 words"_s);
    QTest::keyClicks(editor, u" again"_s);
    pane->renderScheduler()->endPauseNow();
    QTRY_COMPARE(pane->stats(), (MarkdownRenderer::Stats{3, 21}));
    QCOMPARE(renders, 0);

    // An HTML export holds the text as it is now.
    m_savePath = m_dir->filePath(u"editor-alone.html"_s);
    pane->exportAs(ExportFormat::Html);
    QFile file(m_savePath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(QString::fromUtf8(file.readAll()).contains(u"<p>Hello <strong>world</strong> again</p>"_s));

    // So does the preview once it shows again, rendered at once.
    pane->setMode(ViewMode::split);
    QVERIFY(!pane->renderScheduler()->isWaitingForPause());
    QTRY_VERIFY(pane->html().contains(u"<p>Hello <strong>world</strong> again</p>"_s));
    QCOMPARE(renders, 1);
    QTRY_COMPARE(pane->preview()->page()->lastSent().value_or(QString()), pane->html());
}

void TestDetailView::newDocumentTakesTheKeyboard()
{
    m_store->createDocument(std::nullopt, u"# Existing"_s);
    auto pane = makePane();
    QVERIFY(pane);
    pane->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(pane.get(), TestWaits::limitMs));

    // Opening an existing document leaves the keyboard where it was.
    QLineEdit *field = new QLineEdit(pane.get());
    field->show();
    field->setFocus();
    QTRY_VERIFY(field->hasFocus());
    const Document other = m_store->createDocument(std::nullopt, u"# Other"_s);
    QVERIFY(field->hasFocus());

    // A new, empty document takes typing at once.
    const Document fresh = m_store->createDocument(std::nullopt, QString());
    QTRY_VERIFY(editorOf(pane.get()) && editorOf(pane.get())->hasFocus());
    QTest::keyClicks(editorOf(pane.get()), u"typed"_s);
    QTRY_COMPARE(m_store->document(fresh.id)->body, u"typed"_s);
    QCOMPARE(m_store->document(other.id)->body, u"# Other"_s);
}

void TestDetailView::publishedFlag()
{
    const Document doc = m_store->createDocument(std::nullopt, u"# Shared"_s);
    auto pane = makePane();
    QVERIFY(pane);
    QVERIFY(!pane->publishButton()->isPublished());
    QCOMPARE(pane->publishButton()->title(), u"Publish"_s);
    QCOMPARE(pane->publishButton()->help(), u"Publish a read-only link (Ctrl+Shift+P)"_s);
    m_store->setPublishedSlug(u"shared"_s, doc.id);
    QVERIFY(pane->publishButton()->isPublished());
    QCOMPARE(pane->publishButton()->title(), u"Published"_s);
    QCOMPARE(pane->publishButton()->help(), u"Update or unpublish the shared link (Ctrl+Shift+P)"_s);
    QVERIFY(pane->statusBar()->texts().contains(u"Published"_s));
    m_store->setPublishedSlug(std::nullopt, doc.id);
    QVERIFY(!pane->statusBar()->texts().contains(u"Published"_s));
}

void TestDetailView::modeButtonFill()
{
    m_store->createDocument(std::nullopt, u"# Buttons"_s);
    auto pane = makePane();
    QVERIFY(pane);
    HeaderIconButton *editor = pane->modeButtons().at(0), *split = pane->modeButtons().at(1);
    const qreal selected = split->fillOpacity();
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(editor, &enter);
    QApplication::sendEvent(split, &enter);
    QVERIFY(editor->fillOpacity() > 0 && editor->fillOpacity() < selected);
    QCOMPARE(split->fillOpacity(), selected); // selected stays selected under the pointer
    QApplication::sendEvent(editor, &leave);
    QCOMPARE(editor->fillOpacity(), 0.0);
}

void TestDetailView::exportFiles_data()
{
    QTest::addColumn<int>("entry"); // index in the caret menu
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("suggested");
    QTest::addColumn<QStringList>("expectedParts");

    const QString withFrontMatter =
        u"---\ntitle: Fancy & <Bold>\n---\n# Heading\n\nText with *emphasis*.\n"_s;
    QTest::newRow("markdown keeps the body as stored")
        << 0 << withFrontMatter << u"Heading.md"_s << QStringList{withFrontMatter};
    QTest::newRow("html wraps the preview")
        << 1 << u"# Title\n\nSome <i>raw</i> and $a<b$\n"_s << u"Title.html"_s
        << QStringList{u"<!doctype html>"_s, u"<title>Title</title>"_s, u"<h1>Title</h1>"_s,
                       u"<span class=\"math\" data-display=\"0\">a&lt;b</span>"_s, u"\n</body>\n</html>"_s};
    QTest::newRow("empty document is Untitled") << 0 << u""_s << u"Untitled.md"_s << QStringList{};
}

void TestDetailView::exportFiles()
{
    QFETCH(int, entry);
    QFETCH(QString, body);
    QFETCH(QString, suggested);
    QFETCH(QStringList, expectedParts);

    const Document doc = m_store->createDocument(std::nullopt, body);
    auto pane = makePane();
    QVERIFY(pane);
    QTRY_COMPARE(pane->renderedDocumentID(), doc.id);
    m_savePath = m_dir->filePath(u"export-%1"_s.arg(QTest::currentDataTag()).replace(u' ', u'-'));
    pane->publishButton()->menu()->actions().at(entry)->trigger();
    QCOMPARE(m_suggestedNames, QStringList{suggested});
    QFile file(m_savePath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString written = QString::fromUtf8(file.readAll());
    if (expectedParts.isEmpty())
        QCOMPARE(written, body);
    for (const QString &part : expectedParts)
        QVERIFY2(written.contains(part), qPrintable(part));
    QVERIFY(m_alerts.isEmpty());

    // Cancelling the dialog writes nothing.
    QVERIFY(QFile::remove(m_savePath));
    m_savePath.clear();
    pane->publishButton()->menu()->actions().at(entry)->trigger();
    QVERIFY(!QFile::exists(m_dir->filePath(u"export-%1"_s.arg(QTest::currentDataTag()))));
}

void TestDetailView::htmlExportRightAfterASwitchHasTheActiveDocument()
{
    const Document shown = m_store->createDocument(std::nullopt, u"# Old document\n\nsecret draft"_s);
    auto pane = makePane();
    QVERIFY(pane);
    QTRY_COMPARE(pane->renderedDocumentID(), shown.id);

    // Hold every render back: the preview still shows the old document.
    pane->renderScheduler()->setRenderFunction([](const QString &, const QHash<QString, QString> &) {
        return DetailRenderScheduler::Output{u"<p>late</p>"_s, {}};
    });
    pane->renderScheduler()->cancel();
    const Document active = m_store->createDocument(std::nullopt, u"# New document\n\nits own text"_s);
    pane->renderScheduler()->cancel();
    QCOMPARE(pane->renderedDocumentID(), shown.id);

    m_savePath = m_dir->filePath(u"switch.html"_s);
    pane->exportAs(ExportFormat::Html);
    QFile file(m_savePath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString page = QString::fromUtf8(file.readAll());
    QVERIFY(page.contains(u"<title>New document</title>"_s));
    QVERIFY(page.contains(u"its own text"_s));
    QVERIFY(!page.contains(u"secret draft"_s));
    QCOMPARE(m_store->activeDocumentID(), active.id);
}

void TestDetailView::exportWriteFailureShowsAnAlert()
{
    m_store->createDocument(std::nullopt, u"# Nowhere"_s);
    auto pane = makePane();
    QVERIFY(pane);
    m_savePath = m_dir->filePath(u"no-such-folder/Nowhere.md"_s);
    pane->exportAs(ExportFormat::Markdown);
    QCOMPARE(m_alerts.size(), 1);
    QCOMPARE(m_alerts.at(0).at(0), u"The file \u201CNowhere.md\u201D couldn't be saved."_s);
    QVERIFY(!m_alerts.at(0).at(1).isEmpty());
    QVERIFY(!QFile::exists(m_savePath));
}

void TestDetailView::copyMarkdown()
{
    const QString body = u"---\ndraft: true\n---\n# Copied\n"_s;
    m_store->createDocument(std::nullopt, body);
    auto pane = makePane();
    QVERIFY(pane);
    QGuiApplication::clipboard()->setText(u"before"_s);
    pane->publishButton()->menu()->actions().at(3)->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), body);
}

void TestDetailView::deleteNotification()
{
    QStringList asked;
    bool answer = false;
    auto pane = makePane([&](const QString &title, const QString &message) {
        asked << title << message;
        return answer;
    });
    QVERIFY(pane);

    m_store->setActiveDocumentID(QString());
    m_services->notifications()->post(AppNotifications::deleteDocument);
    QVERIFY(asked.isEmpty());

    const Document doc = m_store->createDocument(std::nullopt, u"# Doomed"_s);
    m_services->notifications()->post(AppNotifications::deleteDocument);
    QCOMPARE(asked, (QStringList{u"Delete \u201CDoomed\u201D?"_s,
                                 u"This removes the document from every synced device."_s}));
    QVERIFY(m_store->document(doc.id));

    answer = true;
    m_services->notifications()->post(AppNotifications::deleteDocument);
    QVERIFY(!m_store->document(doc.id));
}

void TestDetailView::mediaInsertion_data()
{
    QTest::addColumn<QString>("textAfterTrigger"); // what the user changed the text to
    QTest::addColumn<QString>("expected");

    QTest::newRow("replaces the typed ![")
        << u"Intro ![ outro"_s << u"Intro ![my cat](https://cdn/c.png) outro"_s;
    QTest::newRow("edited away: goes to the selection")
        << u"Intro xx outro"_s << u"Intro xx outro![my cat](https://cdn/c.png)"_s;
    QTest::newRow("text shortened: goes to the selection")
        << u"Int"_s << u"Int![my cat](https://cdn/c.png)"_s;
}

void TestDetailView::mediaInsertion()
{
    QFETCH(QString, textAfterTrigger);
    QFETCH(QString, expected);

    const Document doc = m_store->createDocument(std::nullopt, u"Intro ![ outro"_s);
    auto pane = makePane();
    QVERIFY(pane);
    m_services->notifications()->post(AppNotifications::openMediaLibrary,
                                      {{AppNotifications::rangeKey, QVariant::fromValue(TextRange{6, 2})}});
    QVERIFY(pane->isMediaLibraryOpen());
    QCOMPARE(pane->mediaTrigger(), std::optional<TextRange>(TextRange{6, 2}));
    // A second request while the sheet is up keeps the first trigger.
    m_services->notifications()->post(AppNotifications::openMediaLibrary,
                                      {{AppNotifications::rangeKey, QVariant::fromValue(TextRange{0, 1})}});
    QCOMPARE(pane->mediaTrigger(), std::optional<TextRange>(TextRange{6, 2}));

    m_store->updateBody(textAfterTrigger, doc.id);
    ListContinuingTextView *editor = editorOf(pane.get());
    QVERIFY(editor);
    QTRY_COMPARE(editor->string(), textAfterTrigger);
    editor->setSelectedRange({textAfterTrigger.size(), 0});
    pane->insertMedia(ImageAsset{u"i1"_s, u"https://cdn/c.png"_s, u"my_cat.png"_s, u"image/png"_s, 10, 0});
    QCOMPARE(m_store->document(doc.id)->body, expected);
    QVERIFY(!pane->mediaTrigger());
}

void TestDetailView::mediaInsertionInPreviewModeAppends()
{
    const Document doc = m_store->createDocument(std::nullopt, u"Body"_s);
    m_mode->setMode(ViewMode::preview);
    auto pane = makePane();
    QVERIFY(pane);
    QVERIFY(!pane->editor());
    m_services->notifications()->post(AppNotifications::openMediaLibrary);
    QVERIFY(pane->isMediaLibraryOpen());
    QVERIFY(!pane->mediaTrigger());
    pane->insertMedia(ImageAsset{u"i2"_s, u"https://cdn/d.png"_s, u"diagram.png"_s, u"image/png"_s, 10, 0});
    QCOMPARE(m_store->document(doc.id)->body, u"Body\n\n![diagram](https://cdn/d.png)"_s);
}

void TestDetailView::sheetsSayTheyAreNotAvailable()
{
    auto pane = makePane();
    QVERIFY(pane);
    m_store->setActiveDocumentID(QString());
    m_services->notifications()->post(AppNotifications::publishDocument);
    m_services->notifications()->post(AppNotifications::openMediaLibrary);
    QVERIFY(!pane->findChild<PublishSheet *>());
    QVERIFY(!pane->isMediaLibraryOpen());

    const Document doc = m_store->createDocument(std::nullopt, u"# Sheets"_s);
    m_services->notifications()->post(AppNotifications::publishDocument);
    auto *publish = pane->findChild<PublishSheet *>();
    QVERIFY(publish);
    QCOMPARE(publish->documentID(), doc.id);
    QVERIFY(!publish->findChildren<QLabel *>().isEmpty());
    publish->reject();

    // Closing the media library without a pick forgets its trigger.
    m_services->notifications()->post(AppNotifications::openMediaLibrary,
                                      {{AppNotifications::rangeKey, QVariant::fromValue(TextRange{0, 2})}});
    auto *media = pane->findChild<MediaLibrarySheet *>();
    QVERIFY(media);
    QVERIFY(pane->mediaTrigger());
    media->reject();
    QVERIFY(!pane->mediaTrigger());
    QTRY_VERIFY(!pane->isMediaLibraryOpen());
}

void TestDetailView::dropImagesIntoTheEditor()
{
    const Document doc = m_store->createDocument(std::nullopt, u"Line one\nLine two"_s);
    auto pane = makePane();
    QVERIFY(pane);
    ListContinuingTextView *editor = editorOf(pane.get());
    QVERIFY(editor);
    const QString a = writeFile(u"first-shot.png"_s, "PNGDATA-A");
    const QString b = writeFile(u"second.jpg"_s, "JPGDATA-B");

    // Two images dropped at one index: both placeholders there, in order,
    // each on its own line, the caret after the second.
    pane->fileDrop()->handle({QUrl::fromLocalFile(a), QUrl::fromLocalFile(b)}, 9, editor);
    const QString text = editor->string();
    static const QRegularExpression placeholders(
        u"^Line one\\n!\\[Uploading first-shot\\.png\u2026\\]\\(uploading:([0-9a-f]{8})\\)\\n"
        "!\\[Uploading second\\.jpg\u2026\\]\\(uploading:([0-9a-f]{8})\\)\\nLine two$"_s);
    const auto match = placeholders.match(text);
    QVERIFY2(match.hasMatch(), qPrintable(text));
    QCOMPARE(editor->selectedRange().location, text.indexOf(u"Line two"_s));
    QCOMPARE(m_store->document(doc.id)->body, text);

    QTRY_COMPARE(m_uploads.size(), 2);
    // The files are read at once, so either upload may start first.
    const int first = m_uploads.at(0).filename == u"first-shot.png"_s ? 0 : 1;
    const int second = 1 - first;
    QCOMPARE((QStringList{m_uploads.at(first).filename, m_uploads.at(first).contentType,
                          m_uploads.at(first).documentID, QString::fromLatin1(m_uploads.at(first).data),
                          m_uploads.at(second).filename, m_uploads.at(second).contentType}),
             (QStringList{u"first-shot.png"_s, u"image/png"_s, doc.id, u"PNGDATA-A"_s, u"second.jpg"_s,
                          u"image/jpeg"_s}));

    // The user types at the end meanwhile; the caret stays where it is.
    editor->setSelectedRange({editor->length(), 0});
    editor->replaceCharacters({editor->length(), 0}, u"!"_s);
    const qsizetype caretFromEnd = editor->length() - editor->selectedRange().location;
    m_uploads[second].succeed(
        ImageAsset{u"2"_s, u"https://cdn/second.jpg"_s, u"second.jpg"_s, u"image/jpeg"_s, 9, 0});
    m_uploads[first].succeed(
        ImageAsset{u"1"_s, u"https://cdn/first.png"_s, u"first-shot.png"_s, u"image/png"_s, 9, 0});
    QCOMPARE(
        editor->string(),
        u"Line one\n![first shot](https://cdn/first.png)\n![second](https://cdn/second.jpg)\nLine two!"_s);
    QCOMPARE(editor->length() - editor->selectedRange().location, caretFromEnd);
    QCOMPARE(m_store->document(doc.id)->body, editor->string());
    QVERIFY(m_alerts.isEmpty());
}

void TestDetailView::windowDropReplacesTheSelection()
{
    const Document doc = m_store->createDocument(std::nullopt, u"keep REPLACE keep"_s);
    auto pane = makePane();
    QVERIFY(pane);
    ListContinuingTextView *editor = editorOf(pane.get());
    QVERIFY(editor);
    editor->setSelectedRange({5, 7});
    // A drop on the window: no index, no text view; the open editor takes it.
    pane->fileDrop()->handle({QUrl::fromLocalFile(writeFile(u"one.png"_s, "1")),
                              QUrl::fromLocalFile(writeFile(u"two.png"_s, "2"))});
    static const QRegularExpression expected(
        u"^keep !\\[Uploading one\\.png…\\]\\(uploading:[0-9a-f]{8}\\)\\n"
        "!\\[Uploading two\\.png…\\]\\(uploading:[0-9a-f]{8}\\)\\n keep$"_s);
    QVERIFY2(expected.match(editor->string()).hasMatch(), qPrintable(editor->string()));
    QCOMPARE(m_store->document(doc.id)->body, editor->string());
    QTRY_COMPARE(m_uploads.size(), 2);
}

void TestDetailView::dropImageWithoutLiveEditorGoesToTheStoredBody()
{
    const Document doc = m_store->createDocument(std::nullopt, u"Stored body"_s);
    m_mode->setMode(ViewMode::preview);
    auto pane = makePane();
    QVERIFY(pane);
    const QString path = writeFile(u"photo.webp"_s, "WEBP");
    pane->fileDrop()->handle({QUrl::fromLocalFile(path)});
    QVERIFY(m_store->document(doc.id)->body.startsWith(
        u"Stored body\n\n![Uploading photo.webp\u2026](uploading:"_s));
    QTRY_COMPARE(m_uploads.size(), 1);
    m_uploads[0].succeed(ImageAsset{u"3"_s, u"https://cdn/p.webp"_s, u"photo.webp"_s, u"image/webp"_s, 4, 0});
    QCOMPARE(m_store->document(doc.id)->body, u"Stored body\n\n![photo](https://cdn/p.webp)\n"_s);
}

void TestDetailView::failedUploadRemovesItsPlaceholder_data()
{
    QTest::addColumn<bool>("joinLines");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("message");

    const QString refused = u"The image is larger than 10 MB."_s;
    QTest::newRow("service refuses") << false << u"big.png"_s << refused;
    QTest::newRow("user joined the placeholder's line") << true << u"big.png"_s << refused;
    QTest::newRow("file cannot be read") << false << u"vanished.png"_s << QString();
    QTest::newRow("file over the limit is refused unread")
        << false << u"huge.png"_s << u"Images must be 10 MB or smaller."_s;
}

void TestDetailView::failedUploadRemovesItsPlaceholder()
{
    QFETCH(bool, joinLines);
    QFETCH(QString, file);
    QFETCH(QString, message);

    const Document doc = m_store->createDocument(std::nullopt, u"Before\nAfter"_s);
    auto pane = makePane();
    QVERIFY(pane);
    ListContinuingTextView *editor = editorOf(pane.get());
    QVERIFY(editor);
    QString path = m_dir->filePath(file);
    if (file == u"big.png")
        writeFile(file, "PNG");
    if (file == u"huge.png") {
        // Sparse: 20 GB on paper, nothing on disk.
        QFile huge(path);
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(20LL << 30));
    }
    pane->fileDrop()->handle({QUrl::fromLocalFile(path)}, 7, editor);
    QVERIFY(editor->string().contains(u"![Uploading "_s + file));
    if (joinLines) {
        const qsizetype newline = editor->string().indexOf(u")\nAfter"_s) + 1;
        editor->replaceCharacters({newline, 1}, QString());
    }
    if (file == u"big.png") {
        QTRY_COMPARE(m_uploads.size(), 1);
        m_uploads[0].fail(APIError{u"too_large"_s, u"The image is larger than 10 MB."_s, 413});
    }
    QTRY_COMPARE(m_alerts.size(), 1);
    QVERIFY(file == u"big.png" || m_uploads.isEmpty());
    QCOMPARE(m_alerts.at(0).at(0), u"Couldn't upload "_s + file);
    if (!message.isEmpty())
        QCOMPARE(m_alerts.at(0).at(1), message);
    QCOMPARE(editor->string(), u"Before\nAfter"_s);
    QCOMPARE(m_store->document(doc.id)->body, u"Before\nAfter"_s);
    QFile::remove(path);
}

void TestDetailView::dropImagesWithNoOpenDocument()
{
    m_store->setActiveDocumentID(QString());
    const QString path = writeFile(u"lonely.gif"_s, "GIF");
    m_drops->handle({QUrl::fromLocalFile(path)});
    QCOMPARE(m_alerts,
             (QList<QStringList>{{u"Open a document first"_s,
                                  u"Images are inserted into the current document, and none is open."_s}}));
    QCoreApplication::processEvents();
    QVERIFY(m_uploads.isEmpty());
}

void TestDetailView::dropMarkdownAndImagesTogether()
{
    const Document open = m_store->createDocument(std::nullopt, u"Open one"_s);
    auto pane = makePane();
    QVERIFY(pane);
    const QString md = writeFile(u"Imported Notes.md"_s, "Some imported text\n");
    const QString png = writeFile(u"pic.png"_s, "PNG");
    pane->fileDrop()->handle({QUrl::fromLocalFile(png), QUrl::fromLocalFile(md)});

    const auto imported = m_store->activeDocument();
    QVERIFY(imported);
    QVERIFY(imported->id != open.id);
    QCOMPARE(imported->title, u"Some imported text"_s);
    QVERIFY(imported->body.contains(u"Some imported text"_s));
    // The image went into the document open at the drop, not the new one.
    QVERIFY(m_store->document(open.id)->body.contains(u"![Uploading pic.png\u2026]"_s));
    QVERIFY(!imported->body.contains(u"Uploading"_s));
    QTRY_COMPARE(m_uploads.size(), 1);
    QCOMPARE(m_uploads.at(0).documentID, open.id);
}

// A dropped name ending in .md may be a pipe: the drop must not wait for a
// writer (the whole window would freeze), and the files beside it import.
void TestDetailView::droppedPipeIsSkippedWithoutWaiting()
{
    auto pane = makePane();
    QVERIFY(pane);
    const QString pipe = m_dir->filePath(u"piped.md"_s);
    QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    const QString md = writeFile(u"Beside.md"_s, "# Beside the pipe\n");
    const qsizetype before = m_store->documents().size();
    // A drop that waits is let go once the wait gives up, so the test fails
    // rather than hangs.
    std::atomic<bool> handled = false;
    QFuture<void> release = QtConcurrent::run([&] {
        if (QTest::qWaitFor([&] { return handled.load(); }, TestWaits::limitMs))
            return;
        const int writer = ::open(QFile::encodeName(pipe).constData(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0)
            ::close(writer);
    });
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^\\[editor\\] did not import piped\\.md: .+"_s));
    pane->fileDrop()->handle({QUrl::fromLocalFile(pipe), QUrl::fromLocalFile(md)});
    handled = true;
    release.waitForFinished();
    QCOMPARE(m_store->documents().size(), before + 1);
    QCOMPARE(m_store->activeDocument()->title, u"Beside the pipe"_s);
}

QTEST_MAIN(TestDetailView)
#include "tst_detailview.moc"
