// What dropped files become: which are imported, how their bytes decode,
// the names they get and the placeholder texts of uploading images.

#include "editor/core/FileDropRules.h"
#include "editor/core/ImageTypes.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <QTest>

using namespace Qt::StringLiterals;

class TestFileDropRules final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void classification_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("markdown");
        QTest::addColumn<bool>("image");

        QTest::newRow("md") << u"notes.md"_s << true << false;
        QTest::newRow("upper-case extension") << u"Notes.MD"_s << true << false;
        QTest::newRow("mixed-case long extension") << u"Essay.Markdown"_s << true << false;
        QTest::newRow("plain text is imported too") << u"notes.txt"_s << true << false;
        for (const char *ext : {"mdown", "mkd", "mkdn", "mdwn"})
            QTest::newRow(ext) << u"a."_s + QLatin1String(ext) << true << false;
        QTest::newRow("only the last extension counts") << u"archive.md.zip"_s << false << false;
        QTest::newRow("png") << u"shot.png"_s << false << true;
        QTest::newRow("jpeg, upper case") << u"PHOTO.JPG"_s << false << true;
        for (const char *ext : {"jpeg", "webp", "gif"})
            QTest::newRow(ext) << u"a."_s + QLatin1String(ext) << false << true;
        QTest::newRow("pdf is neither") << u"paper.pdf"_s << false << false;
        QTest::newRow("no extension") << u"README"_s << false << false;
        QTest::newRow("a path") << u"/home/u/My Files/photo.png"_s << false << true;
    }

    void classification()
    {
        QFETCH(QString, name);
        QFETCH(bool, markdown);
        QFETCH(bool, image);
        QCOMPARE(FileDropRules::isMarkdownFile(name), markdown);
        QCOMPARE(FileDropRules::isSupportedImage(name), image);
    }

    void decoding_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");

        QTest::newRow("utf-8") << u"Café — naïve ✓ 😀"_s.toUtf8() << u"Café — naïve ✓ 😀"_s;
        QTest::newRow("utf-8 byte-order mark is dropped") << QByteArray("\xEF\xBB\xBFhi") << u"hi"_s;
        QTest::newRow("empty file") << QByteArray() << QString();
        // Latin-1 text is never valid UTF-8 here and must not be read as UTF-16
        // (which would turn each byte pair into one CJK character).
        QTest::newRow("latin-1 stays latin-1") << QByteArray("Caf\xE9 cr\xE8me br\xFBl\xE9"
                                                             "e")
                                               << u"Café crème brûlée"_s;
        QTest::newRow("latin-1 of even length") << QByteArray("na\xEFve") << u"naïve"_s;
        QTest::newRow("utf-16 LE with byte-order mark") << QByteArray("\xFF\xFEh\0i\0\xE9\0", 8) << u"hié"_s;
        QTest::newRow("utf-16 BE with byte-order mark") << QByteArray("\xFE\xFF\0h\0i", 6) << u"hi"_s;
        QTest::newRow("robustness: utf-16 mark on an odd length")
            << QByteArray("\xFF\xFEh\0i", 5) << QString::fromLatin1("\xFF\xFEh\0i", 5);
        QTest::newRow("utf-16 without a mark is latin-1")
            << QByteArray("h\0i\0", 4) << QString::fromLatin1("h\0i\0", 4);
        QTest::newRow("robustness: truncated utf-8 sequence")
            << QByteArray("ok \xE2\x82") << u"ok \u00E2\u0082"_s;
    }

    void decoding()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(FileDropRules::decodeText(bytes), text);
    }

    void importNames_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("name");

        QTest::newRow("extension removed") << u"my-notes.md"_s << u"my-notes"_s;
        QTest::newRow("only the last extension") << u"archive.tar.md"_s << u"archive.tar"_s;
        QTest::newRow("leading dot is not an extension") << u".md"_s << u".md"_s;
        QTest::newRow("blank name") << u"   .md"_s << u"Untitled"_s;
        QTest::newRow("spaces and tabs trimmed") << u" \tPlan \t.txt"_s << u"Plan"_s;
        QTest::newRow("no extension") << u"README"_s << u"README"_s;
    }

    void importNames()
    {
        QFETCH(QString, fileName);
        QFETCH(QString, name);
        QCOMPARE(FileDropRules::importName(fileName), name);
    }

    void placeholders()
    {
        const QString tag = FileDropRules::newTag();
        static const QRegularExpression hex(u"^[0-9a-f]{8}$"_s);
        QVERIFY2(hex.match(tag).hasMatch(), qPrintable(tag));
        QVERIFY(FileDropRules::newTag() != tag);
        QCOMPARE(FileDropRules::uploadPlaceholder(u"my shot.png"_s, u"0a1b2c3d"_s),
                 u"![Uploading my shot.png\u2026](uploading:0a1b2c3d)"_s);
        QCOMPARE(FileDropRules::imageMarkdown(u"my shot"_s, u"https://img.example/x.png"_s),
                 u"![my shot](https://img.example/x.png)"_s);
    }

    void caretAfterReplacement_data()
    {
        QTest::addColumn<int>("replacementLength");
        QTest::addColumn<int>("caret");
        QTest::addColumn<int>("expected");
        // Text "ab[PLACEHOLDER]cd": placeholder at 2, length 10.
        QTest::newRow("caret after the placeholder keeps its place") << 4 << 14 << 8;
        QTest::newRow("caret before the placeholder ends after the image") << 4 << 1 << 6;
        QTest::newRow("caret at the placeholder ends after the image") << 4 << 2 << 6;
        QTest::newRow("removal with caret after") << 0 << 13 << 3;
    }

    void caretAfterReplacement()
    {
        QFETCH(int, replacementLength);
        QFETCH(int, caret);
        QFETCH(int, expected);
        QCOMPARE(
            FileDropRules::caretAfterReplacement({2, 10}, replacementLength, caret, 4 + replacementLength),
            qsizetype(expected));
    }

    void replaceFirst_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("find");
        QTest::addColumn<QString>("replacement");
        QTest::addColumn<QString>("result"); // "<none>" when nothing is found

        QTest::newRow("first occurrence only") << u"a X b X"_s << u"X"_s << u"Y"_s << u"a Y b X"_s;
        QTest::newRow("literal, not a pattern") << u"a.*b a+b"_s << u"a+b"_s << u""_s << u"a.*b "_s;
        QTest::newRow("missing") << u"abc"_s << u"z"_s << u"y"_s << u"<none>"_s;
        QTest::newRow("empty find") << u"abc"_s << u""_s << u"y"_s << u"<none>"_s;
    }

    void replaceFirst()
    {
        QFETCH(QString, text);
        QFETCH(QString, find);
        QFETCH(QString, replacement);
        QFETCH(QString, result);
        const auto replaced = FileDropRules::replaceFirst(text, find, replacement);
        QCOMPARE(replaced.value_or(u"<none>"_s), result);
    }

    void imageTypes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("mime");

        QTest::newRow("png") << u"a.png"_s << u"image/png"_s;
        QTest::newRow("upper-case jpg") << u"a.JPG"_s << u"image/jpeg"_s;
        QTest::newRow("gif") << u"/x/y/a.gif"_s << u"image/gif"_s;
        QTest::newRow("unknown extension") << u"a.zzqx"_s << u"application/octet-stream"_s;
        QTest::newRow("no extension") << u"image"_s << u"application/octet-stream"_s;
    }

    void imageTypes()
    {
        QFETCH(QString, name);
        QFETCH(QString, mime);
        QCOMPARE(ImageTypes::mimeType(name), mime);
    }

    void altText_data()
    {
        QTest::addColumn<QString>("filename");
        QTest::addColumn<QString>("alt");

        QTest::newRow("separators become spaces") << u"my_cat--photo.png"_s << u"my cat photo"_s;
        QTest::newRow("only the last extension goes") << u"a.b.png"_s << u"a.b"_s;
        QTest::newRow("leading dot kept") << u".hidden"_s << u".hidden"_s;
        QTest::newRow("trimmed") << u"_cat_.png"_s << u"cat"_s;
        QTest::newRow("nothing left") << u"__.png"_s << u"image"_s;
        QTest::newRow("empty") << u""_s << u"image"_s;
    }

    void altText()
    {
        QFETCH(QString, filename);
        QFETCH(QString, alt);
        QCOMPARE(ImageTypes::altText(filename), alt);
    }
};

QTEST_GUILESS_MAIN(TestFileDropRules)
#include "tst_filedroprules.moc"
