#include "app/core/AppNotifications.h"
#include "editor/ListContinuingTextView.h"
#include "editor/MarkdownTextView.h"
#include "editor/PreviewPage.h"
#include "editor/PreviewProfile.h"
#include "editor/PreviewWebView.h"
#include "publishing/MediaLibrarySheet.h"
#include "publishing/core/ImageLibrary.h"
#include "service/core/APIClient.h"
#include "service/core/AuthManager.h"
#include "service/core/Session.h"
#include "shell/AppServices.h"
#include "shell/DocumentDetailView.h"
#include "shell/core/DetailViewMode.h"
#include "store/DocumentStore.h"
#include "widgets/Motion.h"

#include "LoopbackImageHost.h"
#include "service/LocalServer.h"
#include "shell/OfflineServices.h"

#include <QApplication>
#include <QBuffer>
#include <QDropEvent>
#include <QFileDialog>
#include <QGraphicsOpacityEffect>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QSettings>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace tessivo::server;

namespace {

QByteArray png(QColor color)
{
    QImage image(240, 160, QImage::Format_RGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QStringList labelTexts(const QWidget *root)
{
    QStringList texts;
    for (const QLabel *label : root->findChildren<QLabel *>())
        if (label->isVisibleTo(root) && !label->text().isEmpty())
            texts << label->text();
    return texts;
}

} // namespace

class TestMediaLibrarySheet : public QObject
{
    Q_OBJECT

    std::unique_ptr<Server> m_server;
    std::optional<QString> m_token;
    std::unique_ptr<APIClient> m_client;
    std::unique_ptr<ImageLibrary> m_library;
    QTemporaryDir m_dir;
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<DocumentStore> m_ownStore;
    DocumentStore *m_store = nullptr;
    QList<ImageAsset> m_inserted;

    TestHooks hooks() { return m_server->hooks(); }
    int requestCount(const QString &prefix)
    {
        int count = 0;
        for (const LoggedRequest &request : hooks().requestLog())
            count += request.path.startsWith(prefix) ? 1 : 0;
        return count;
    }
    std::unique_ptr<MediaLibrarySheet> showSheet()
    {
        auto sheet = std::make_unique<MediaLibrarySheet>(
            m_library.get(), m_store, [this](const ImageAsset &asset) { m_inserted << asset; });
        sheet->show();
        if (!QTest::qWaitForWindowExposed(sheet.get(), TestWaits::limitMs))
            return nullptr;
        return sheet;
    }
    QUrl writeFile(const QString &name, const QByteArray &bytes)
    {
        QFile file(m_dir.filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(bytes) ? QUrl::fromLocalFile(file.fileName())
                                                                    : QUrl();
    }
    ImageAsset uploaded(const QByteArray &bytes, const QString &name)
    {
        const auto upload = m_library->upload(bytes, name, u"image/png"_s, {});
        return QTest::qWaitFor([&] { return upload.isFinished(); }, TestWaits::limitMs)
                   ? upload.result().value()
                   : ImageAsset();
    }
    void drop(QWidget *target, const QList<QUrl> &urls)
    {
        QMimeData files;
        files.setUrls(urls);
        QDragEnterEvent enter(QPoint(200, 200), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QDropEvent drop(QPointF(200, 200), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &drop);
    }
private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        PreviewWebView::setResourceFolder(QStringLiteral(TESSIVO_BUILD_DIR "/Tessivo/Preview"));
        m_settings = std::make_unique<QSettings>(m_dir.filePath(u"settings.ini"_s), QSettings::IniFormat);
        m_ownStore = std::make_unique<DocumentStore>(m_dir.filePath(u"base"_s), m_settings.get());
        m_store = m_ownStore.get();
        m_store->load();
        QTRY_VERIFY(m_store->isLoaded());

        m_server = startLocalServer();
        m_client = std::make_unique<APIClient>(m_server->baseUrl());
        m_client->setTokenProvider([this] { return m_token; });
    }

    void init()
    {
        Motion::overrideEnabled(false);
        m_token = hooks().registerUser(QUuid::createUuid().toString() + u"@x.org"_s, u"Ada"_s).sessionToken;
        m_library = std::make_unique<ImageLibrary>(m_client.get());
        m_inserted.clear();
        hooks().clearRequestLog();
    }

    // Every face of the sheet with its texts, signed out to a full grid.
    void states()
    {
        m_token.reset();
        hooks().holdRequests("GET", u"/api/images"_s, 1);
        auto sheet = showSheet();
        QVERIFY(sheet);
        QCOMPARE(sheet->content(), MediaLibrarySheet::Content::loading);

        QVERIFY(QTest::qWaitFor([this] { return hooks().releaseHeldRequest(); }, TestWaits::limitMs));
        QTRY_COMPARE(sheet->content(), MediaLibrarySheet::Content::loadError);
        QVERIFY(labelTexts(sheet.get()).contains(u"Couldn't load your media library"_s));
        QVERIFY(labelTexts(sheet.get()).contains(u"Sign in to continue."_s));

        m_token = hooks().registerUser(QUuid::createUuid().toString() + u"@x.org"_s, u"B"_s).sessionToken;
        const auto buttons = sheet->findChildren<QPushButton *>();
        const auto retry =
            std::find_if(buttons.begin(), buttons.end(), [](auto *b) { return b->text() == u"Try Again"; });
        QVERIFY(retry != buttons.end());
        (*retry)->click();
        QTRY_VERIFY(!m_library->isLoading());
        QVERIFY(labelTexts(sheet.get()).contains(u"No images yet"_s));

        uploaded(png(Qt::darkGreen), u"forest.png"_s);
        uploaded(png(Qt::blue), u"a-very-long-file-name-for-a-diagram-of-things.png"_s);
        QCOMPARE(sheet->content(), MediaLibrarySheet::Content::grid);

        sheet->setQuery(u"zebra"_s);
        QCOMPARE(sheet->content(), MediaLibrarySheet::Content::noMatches);
        QVERIFY(labelTexts(sheet.get()).contains(u"No image names match \u201Czebra\u201D."_s));

        // Return inserts the best match, the first tile.
        sheet->setQuery(u"for"_s);
        QTest::keyClick(sheet->findChild<QLineEdit *>(), Qt::Key_Return);
        QCOMPARE(m_inserted.size(), 1);
        QCOMPARE(m_inserted.first().filename, u"forest.png"_s);
        QVERIFY(!sheet->isVisible());
    }

    // The list request belongs to the library: closing the sheet while it
    // runs lets it land there, with no failure recorded.
    void closingDuringTheFirstLoad()
    {
        uploaded("a", u"a.png"_s);
        m_library = std::make_unique<ImageLibrary>(m_client.get());
        hooks().holdRequests("GET", u"/api/images"_s, 1);
        auto sheet = showSheet();
        QVERIFY(sheet && m_library->isLoading());
        sheet->reject();
        sheet.reset();
        QVERIFY(QTest::qWaitFor([this] { return hooks().releaseHeldRequest(); }, TestWaits::limitMs));
        QTRY_VERIFY(m_library->loaded());
        QCOMPARE(m_library->error(), std::nullopt);
        QCOMPARE(m_library->images().size(), 1);
    }

    // Signed out while the list loads, signed in again and opened: the sheet
    // shows the new account's images, also after the old reply has landed.
    void signedInAgainWhileTheOldListLoads()
    {
        hooks().holdRequests("GET", u"/api/images"_s, 1);
        const QFuture<void> old = m_library->load(false);
        QTRY_COMPARE(requestCount(u"/api/images"_s), 1);
        m_library->resetForAccountChange();
        m_token = hooks().registerUser(QUuid::createUuid().toString() + u"@x.org"_s, u"B"_s).sessionToken;
        ImageLibrary elsewhere(m_client.get()); // uploaded from another device
        const auto upload = elsewhere.upload(png(Qt::red), u"river.png"_s, u"image/png"_s, {});
        QTRY_VERIFY(upload.isFinished() && upload.result().ok());

        auto sheet = showSheet();
        QVERIFY(sheet);
        QVERIFY(hooks().releaseHeldRequest());
        QTRY_VERIFY(old.isFinished());
        QTRY_COMPARE(sheet->content(), MediaLibrarySheet::Content::grid);
        QCOMPARE(m_library->images().size(), 1);
        QCOMPARE(m_library->images().first().filename, u"river.png"_s);
    }

    // Two PNG files and a text file dropped together: the images go up one
    // after the other under the open document, then the footer names the
    // refused file type and the search text stays.
    void dropTwoImagesAndAText()
    {
        const Document doc = m_store->createDocument(std::nullopt, u"Body"_s);
        auto sheet = showSheet();
        QVERIFY(sheet);
        // The drop comes after the list has loaded: a list request answered
        // after an upload is a different case.
        QTRY_VERIFY(m_library->loaded());
        sheet->setQuery(u"keep"_s);
        QStringList progress;
        connect(m_library.get(), &ImageLibrary::imagesChanged, sheet.get(), [&] {
            for (const QString &text : labelTexts(sheet.get()))
                progress << (text.startsWith(u"Uploading") ? text : QString());
            progress.removeAll(QString());
        });
        drop(sheet.get(), {writeFile(u"one.png"_s, png(Qt::red)), writeFile(u"notes.txt"_s, "text"),
                           writeFile(u"TWO.PNG"_s, png(Qt::green))});
        QVERIFY(sheet->uploading());
        QTRY_VERIFY(!sheet->uploading());

        QCOMPARE(progress, (QStringList{u"Uploading 1 of 2 · one.png"_s, u"Uploading 2 of 2 · TWO.PNG"_s}));
        QCOMPARE(sheet->uploadError(), std::optional(MediaLibrarySheet::rejectionMessage()));
        QCOMPARE(sheet->query(), u"keep"_s);
        QCOMPARE(m_library->images().size(), 2);
        QCOMPARE(m_library->images().first().filename, u"TWO.PNG"_s);
        for (const LoggedRequest &request : hooks().requestLog())
            if (request.method == "POST")
                QVERIFY(request.body.contains("name=\"doc_id\"\r\n\r\n" + doc.id.toUtf8() + "\r\n"));
        QCOMPARE(requestCount(u"/api/v1/images"_s), 2);
    }

    // "Upload" opens a file dialog; accepting a file there uploads it.
    void uploadButtonTakesTheDialogsFile()
    {
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        m_store->createDocument(std::nullopt, u"Body"_s);
        auto sheet = showSheet();
        QVERIFY(sheet);
        QTRY_VERIFY(m_library->loaded());
        const QUrl file = writeFile(u"picked.png"_s, png(Qt::magenta));
        const auto buttons = sheet->findChildren<QPushButton *>();
        const auto upload =
            std::find_if(buttons.begin(), buttons.end(), [](auto *b) { return b->text() == u"Upload"; });
        QVERIFY(upload != buttons.end());
        (*upload)->click();
        QTRY_VERIFY(sheet->findChild<QFileDialog *>() && sheet->findChild<QFileDialog *>()->isVisible());
        QPointer<QFileDialog> dialog = sheet->findChild<QFileDialog *>();
        dialog->setDirectory(m_dir.path());
        auto *name = dialog->findChild<QLineEdit *>(u"fileNameEdit"_s);
        QVERIFY(name);
        name->setText(file.fileName());
        QTest::keyClick(name, Qt::Key_Return);
        QTRY_VERIFY(!dialog || !dialog->isVisible());
        QTRY_COMPARE(requestCount(u"/api/v1/images"_s), 1);
        QTRY_VERIFY(!sheet->uploading());
        QCOMPARE(sheet->uploadError(), std::nullopt);
        QCOMPARE(m_library->images().first().filename, u"picked.png"_s);
    }

    // The footer's status and the drop overlay come and go over 0.15 s,
    // easing out; with effects off they are there at once.
    void footerAndOverlayFade_data()
    {
        QTest::addColumn<bool>("motion");
        QTest::newRow("motion") << true;
        QTest::newRow("effects off") << false;
    }

    void footerAndOverlayFade()
    {
        QFETCH(bool, motion);
        Motion::overrideEnabled(motion);
        auto sheet = showSheet();
        QVERIFY(sheet);
        // A list request still on its way would take the next test's
        // scripted reply.
        QTRY_VERIFY(m_library->loaded());
        const QUrl text = writeFile(u"notes.txt"_s, "text");
        QMimeData files;
        files.setUrls({text});
        QDragEnterEvent enter(QPoint(200, 200), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(sheet.get(), &enter);
        QWidget *overlay = nullptr;
        for (QWidget *child : sheet->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            if (child->testAttribute(Qt::WA_TransparentForMouseEvents))
                overlay = child;
        QVERIFY(overlay && overlay->isVisible());
        const auto samples = [](QPropertyAnimation *animation, const std::function<qreal()> &value) {
            QList<qreal> seen;
            for (int ms : {0, 75, 150}) {
                animation->setCurrentTime(ms);
                seen << value();
            }
            return seen;
        };
        const qreal middle = Motion::easeOut().valueForProgress(0.5);
        const auto near = [](const QList<qreal> &a, const QList<qreal> &b) {
            for (int i = 0; i < a.size(); ++i)
                if (qAbs(a[i] - b[i]) > 0.01)
                    return false;
            return true;
        };
        if (motion) {
            QPropertyAnimation *fade = Motion::runningFade(overlay);
            QVERIFY(fade && fade->duration() == 150);
            QVERIFY(near(samples(fade, [&] { return Motion::opacity(overlay); }), {0.0, middle, 1.0}));
        } else {
            QVERIFY(!Motion::runningFade(overlay));
            QCOMPARE(Motion::opacity(overlay), 1.0);
        }
        QDropEvent drop(QPointF(200, 200), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(sheet.get(), &drop);
        QCOMPARE(sheet->uploadError(), std::optional(MediaLibrarySheet::rejectionMessage()));
        QVERIFY(labelTexts(sheet.get()).contains(MediaLibrarySheet::rejectionMessage()));
        auto *status = sheet->findChild<QStackedWidget *>(u"mediaFooterStatus"_s);
        QVERIFY(status);
        const auto statusOpacity = [&] {
            return qobject_cast<QGraphicsOpacityEffect *>(status->graphicsEffect())->opacity();
        };
        if (motion) {
            QPropertyAnimation *out = Motion::runningFade(overlay);
            QVERIFY(out);
            QVERIFY(near(samples(out, [&] { return Motion::opacity(overlay); }), {1.0, 1.0 - middle, 0.0}));
            QVERIFY(overlay->isHidden());
            QPropertyAnimation *in = Motion::running(status->graphicsEffect(), "opacity");
            QVERIFY(in && in->duration() == 150);
            QVERIFY(near(samples(in, statusOpacity), {0.0, middle, 1.0}));
        } else {
            QVERIFY(overlay->isHidden());
            QCOMPARE(statusOpacity(), 1.0);
        }
    }

    // A hundred images: only the tiles on screen fetch their pictures.
    void onlyVisibleTilesLoad()
    {
        QJsonArray images;
        for (int i = 0; i < 100; ++i) {
            const QString id = u"%1"_s.arg(i, 32, 10, QLatin1Char('0'));
            images.append(QJsonObject{{u"id"_s, id},
                                      {u"url"_s, m_server->baseUrl().toString() + u"/media/"_s + id},
                                      {u"filename"_s, u"image-%1.png"_s.arg(i)}});
        }
        hooks().forceReply("GET", u"/api/images"_s, 1,
                           {200, QJsonDocument(QJsonObject{{u"images"_s, images}}).toJson()});
        auto sheet = showSheet();
        QVERIFY(sheet);
        QTRY_COMPARE(sheet->content(), MediaLibrarySheet::Content::grid);
        auto *grid = sheet->findChild<QListView *>();
        QVERIFY(grid);
        QTRY_VERIFY(requestCount(u"/media/"_s) > 0); // painted
        int visible = 0;
        for (int row = 0; row < grid->model()->rowCount(); ++row)
            visible +=
                grid->visualRect(grid->model()->index(row, 0)).intersects(grid->viewport()->rect()) ? 1 : 0;
        QVERIFY2(visible > 0 && visible < 30, qPrintable(QString::number(visible)));
        // A busy machine may paint once before the sheet's layout settles, so
        // a row that was on screen then may load too; what must never happen
        // is the whole library loading.
        QTRY_VERIFY(requestCount(u"/media/"_s) >= visible);
        QVERIFY2(requestCount(u"/media/"_s) < 30, qPrintable(QString::number(requestCount(u"/media/"_s))));
        for (const LoggedRequest &request : hooks().requestLog())
            QVERIFY(!request.path.startsWith(u"/media/") || !request.hasHeader("authorization"));
    }

    // "![" typed in the editor opens the sheet; a click on a tile puts the
    // image over the "![" as one undoable step.
    void tilePickIsOneUndoStep()
    {
        const QString url = uploaded(png(Qt::gray), u"my_cat.png"_s).url;
        const Document doc = m_store->createDocument(std::nullopt, u"Intro ![ outro"_s);
        const std::unique_ptr<AppServices> services =
            offlineServices(m_store, Keychain(Keychain::inMemory()), m_settings.get());
        DocumentDetailView::Strategies strategies;
        strategies.images = m_library.get();
        DocumentDetailView pane(*services, std::move(strategies));
        pane.resize(1000, 700);
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane, TestWaits::limitMs));
        ListContinuingTextView *editor = pane.editor()->textView();
        QTRY_COMPARE(editor->string(), u"Intro ![ outro"_s);
        services->notifications()->post(AppNotifications::openMediaLibrary,
                                        {{AppNotifications::rangeKey, QVariant::fromValue(TextRange{6, 2})}});
        auto *sheet = pane.findChild<MediaLibrarySheet *>();
        QVERIFY(sheet && QTest::qWaitForWindowExposed(sheet, TestWaits::limitMs));
        auto *grid = sheet->findChild<QListView *>();
        QTRY_COMPARE(grid->model()->rowCount(), 1);
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                          grid->visualRect(grid->model()->index(0, 0)).center());
        const QString inserted = u"Intro ![my cat]("_s + url + u") outro"_s;
        QCOMPARE(editor->string(), inserted);
        QTRY_COMPARE(m_store->document(doc.id)->body, inserted);
        QTRY_VERIFY(!pane.isMediaLibraryOpen());
        editor->undo();
        QCOMPARE(editor->string(), u"Intro ![ outro"_s);
    }

    // The natural width of each image of a preview showing `urls`, once
    // the page has tried them all (0: not shown).
    static QString shownWidths(PreviewProfile *profile, DocumentStore *store, const QStringList &urls)
    {
        PreviewWebView preview(profile, store);
        preview.resize(600, 400);
        preview.show();
        if (!QTest::qWaitFor([&] { return preview.page()->isLoaded(); }, TestWaits::limitMs))
            return u"<no page>"_s;
        QString html;
        for (const QString &url : urls)
            html += u"<img src='%1'>"_s.arg(url);
        preview.setHtml(u"<p>"_s + html + u"</p>"_s);
        QString widths;
        (void)QTest::qWaitFor(
            [&] {
                std::optional<QString> answer;
                preview.page()->runJavaScript(
                    u"Array.from(document.images).map(i => i.complete ? i.naturalWidth : -1).join(' ')"_s,
                    [&](const QVariant &value) { answer = value.toString(); });
                if (!QTest::qWaitFor([&] { return answer.has_value(); }, TestWaits::limitMs))
                    return false;
                widths = *answer;
                return widths.split(u' ').size() == urls.size() && !widths.contains(u"-1"_s);
            },
            TestWaits::limitMs);
        return widths;
    }

    // The service writes its links with "localhost" while the app reaches it
    // at 127.0.0.1: the preview shows its images under either name, before
    // the image library has loaded, and fetches nothing from another origin.
    void previewShowsServiceImagesUnderEitherLoopbackName()
    {
        const QString url = uploaded(png(Qt::darkCyan), u"p.png"_s).url;
        QVERIFY2(url.startsWith(u"http://localhost:"_s), qPrintable(url));
        const QString byAddress = QString(url).replace(u"localhost"_s, u"127.0.0.1"_s);
        LoopbackImageHost elsewhere;
        QVERIFY(elsewhere.isListening());
        const QString foreign = u"http://127.0.0.1:%1/p.png"_s.arg(elsewhere.port());
        AppServices services(m_store, {m_server->baseUrl(), Keychain(Keychain::inMemory())});
        QCOMPARE(shownWidths(services.preview(), m_store, {url, byAddress, foreign}), u"240 240 0"_s);
        QCOMPARE(requestCount(u"/media/"_s), 2);
        QVERIFY(elsewhere.requests().isEmpty());
    }

    // A service set up with a public address writes that address into its
    // image records: the preview shows images from there too.
    void previewShowsImagesWhereTheRecordsPutThem()
    {
        LoopbackImageHost publicHost;
        LoopbackImageHost elsewhere;
        QVERIFY(publicHost.isListening() && elsewhere.isListening());
        ServerOptions options;
        options.listen = {{QHostAddress::LocalHost, 0}};
        options.database = u"sqlite::memory:"_s;
        options.passwordIterations = 1000;
        options.publicUrl = u"http://127.0.0.1:%1"_s.arg(publicHost.port());
        Server service(options);
        QString error;
        QVERIFY2(service.start(&error), qPrintable(error));
        const Account ada = service.hooks().registerUser(u"ada@x.org"_s, u"Ada"_s);
        AppServices services(m_store, {service.baseUrl(), Keychain(Keychain::inMemory())});
        QTRY_VERIFY(!services.auth()->isReading());
        services.auth()->session()->begin(ada.sessionToken);
        const auto upload = services.images()->upload(png(Qt::darkCyan), u"p.png"_s, u"image/png"_s, {});
        QTRY_VERIFY(upload.isFinished());
        QVERIFY(upload.result());
        const QString url = upload.result().value().url;
        QVERIFY2(url.startsWith(options.publicUrl), qPrintable(url));
        const QString foreign = u"http://127.0.0.1:%1/p.png"_s.arg(elsewhere.port());
        QCOMPARE(shownWidths(services.preview(), m_store, {url, foreign}), u"8 0"_s);
        QCOMPARE(publicHost.requests().size(), 1);
        QVERIFY(elsewhere.requests().isEmpty());
    }
};

QTEST_MAIN(TestMediaLibrarySheet)
#include "tst_medialibrarysheet.moc"
