// The media library sheet's state without the sheet, against the real
// service: which face the content shows, what the search matches, and what
// the footer says while a batch uploads.
#include "PublishingFixture.h"
#include "publishing/core/ImageLibrary.h"
#include "publishing/core/MediaLibraryModel.h"

using namespace Qt::StringLiterals;
using Content = MediaLibraryModel::Content;
using Progress = MediaLibraryModel::Progress;
Q_DECLARE_METATYPE(std::optional<QString>)

class TestMediaLibraryModel : public QObject
{
    Q_OBJECT

    PublishingFixture m_fixture;
    std::unique_ptr<ImageLibrary> m_library;
    std::unique_ptr<MediaLibraryModel> m_model;

    // A 1 by 1 PNG.
    static QByteArray png()
    {
        return QByteArray::fromHex(
            "89504e470d0a1a0a0000000d4948445200000001000000010806000000"
            "1f15c4890000000a49444154789c63000100000500010d0a2db40000000049454e44ae426082");
    }
    QUrl file(const QString &name, const QByteArray &bytes)
    {
        QFile out(m_fixture.dir.filePath(name));
        return out.open(QIODevice::WriteOnly) && out.write(bytes) ? QUrl::fromLocalFile(out.fileName())
                                                                  : QUrl();
    }
    void uploaded(const QString &name)
    {
        auto upload = m_library->upload(png(), name, u"image/png"_s, {});
        QVERIFY(QTest::qWaitFor([&] { return upload.isFinished(); }, TestWaits::limitMs));
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_fixture.start()); }

    void init()
    {
        m_fixture.token = m_fixture.server->hooks()
                              .registerUser(QUuid::createUuid().toString() + u"@x.org"_s, u"B"_s)
                              .sessionToken;
        m_library = std::make_unique<ImageLibrary>(m_fixture.client.get());
        m_model = std::make_unique<MediaLibraryModel>(m_library.get(), m_fixture.store.get());
    }

    void cleanup()
    {
        m_model.reset();
        m_library.reset();
    }

    void contentFollowsTheLibraryAndTheSearch()
    {
        int changes = 0;
        connect(m_model.get(), &MediaLibraryModel::contentChanged, this, [&] { ++changes; });
        const QString token = m_fixture.token;
        m_fixture.token.clear(); // signed out: the list is refused
        m_library->load(false);
        QCOMPARE(m_model->content(), Content::loading);
        QTRY_COMPARE(m_model->content(), Content::loadError);
        m_fixture.token = token;
        m_library->load(true);
        QTRY_COMPARE(m_model->content(), Content::empty);
        uploaded(u"forest.png"_s);
        uploaded(u"fern.png"_s);
        QCOMPARE(m_model->content(), Content::grid);
        m_model->setQuery(u"fst"_s);
        QCOMPARE(m_model->matches().size(), 1);
        QCOMPARE(m_model->matches().first().filename, u"forest.png"_s);
        m_model->setQuery(u"f"_s);
        QCOMPARE(m_model->matches().size(), 2);
        m_model->setQuery(u"zebra"_s);
        QCOMPARE(m_model->content(), Content::noMatches);
        // Each step above was announced.
        QVERIFY(changes >= 7);
    }

    void uploadProgressAndEnd_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("progress");
        QTest::addColumn<std::optional<QString>>("error");
        QTest::addColumn<QString>("query"); // afterwards, from "keep"
        QTest::newRow("two images: numbered, the search cleared")
            << QStringList{u"one.png"_s, u"two.png"_s}
            << QStringList{u"Uploading 1 of 2 · one.png"_s, u"Uploading 2 of 2 · two.png"_s}
            << std::optional<QString>() << QString();
        QTest::newRow("one image and a text file: the refused type named")
            << QStringList{u"notes.txt"_s, u"one.png"_s} << QStringList{u"Uploading one.png"_s}
            << std::optional(MediaLibraryModel::rejectionMessage()) << u"keep"_s;
        QTest::newRow("only a text file: nothing goes up")
            << QStringList{u"notes.txt"_s} << QStringList{}
            << std::optional(MediaLibraryModel::rejectionMessage()) << u"keep"_s;
    }

    void uploadProgressAndEnd()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, progress);
        QFETCH(std::optional<QString>, error);
        QFETCH(QString, query);
        m_model->setQuery(u"keep"_s);
        QList<QUrl> files;
        for (const QString &name : names)
            files << file(name, name.endsWith(u".png"_s) ? png() : "text");
        QStringList seen;
        connect(m_model.get(), &MediaLibraryModel::uploadChanged, this, [&] {
            if (const auto &now = m_model->uploading();
                now && (seen.isEmpty() || seen.last() != MediaLibraryModel::progressText(*now)))
                seen << MediaLibraryModel::progressText(*now);
        });
        m_model->uploadFiles(files);
        QTRY_VERIFY(!m_model->uploading());
        QCOMPARE(seen, progress);
        QCOMPARE(m_model->uploadError(), error);
        QCOMPARE(m_model->query(), query);
        QCOMPARE(m_library->images().size(), progress.size());
    }
};

QTEST_GUILESS_MAIN(TestMediaLibraryModel)
#include "tst_medialibrarymodel.moc"
