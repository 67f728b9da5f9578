// The reply writer over a bare text document: line breaks that arrive split
// across chunks, taking a reply back after other edits, and the names of
// the undo steps it leaves.
#include "assistant/AIReplyWriter.h"
#include "editor/UndoNames.h"

#include <QTest>
#include <QTextCursor>
#include <QTextDocument>

using namespace Qt::StringLiterals;
using Range = AIReplyWriter::Range;
Q_DECLARE_METATYPE(std::optional<AIReplyWriter::Range>)
Q_DECLARE_METATYPE(AITrigger::Kind)

class TestAIReplyWriter : public QObject
{
    Q_OBJECT

    // An edit of someone else (a dropped file, a keystroke): its own undo step.
    static void edit(QTextDocument &document, int at, int removed, const QString &text)
    {
        QTextCursor cursor(&document);
        cursor.setPosition(at);
        cursor.setPosition(at + removed, QTextCursor::KeepAnchor);
        cursor.insertText(text);
    }

private Q_SLOTS:
    void lineBreaks_data()
    {
        QTest::addColumn<QStringList>("chunks");
        QTest::addColumn<QString>("text");
        QTest::newRow("CR LF split across chunks: one break")
            << QStringList{u"one\r"_s, u"\ntwo"_s} << u"hello one\ntwo world"_s;
        QTest::newRow("CR LF inside a chunk") << QStringList{u"one\r\ntwo"_s} << u"hello one\ntwo world"_s;
        QTest::newRow("CR at the very end") << QStringList{u"one\r"_s} << u"hello one\n world"_s;
        QTest::newRow("a lone CR, then text")
            << QStringList{u"one\r"_s, u"two"_s} << u"hello one\ntwo world"_s;
        QTest::newRow("a chunk of only CR")
            << QStringList{u"one"_s, u"\r"_s, u"\n"_s, u"two"_s} << u"hello one\ntwo world"_s;
    }

    void lineBreaks()
    {
        QFETCH(QStringList, chunks);
        QFETCH(QString, text);
        QTextDocument document(u"hello brave world"_s);
        AIReplyWriter writer(&document);
        writer.start({6, 11}, AITrigger::Kind::Refine);
        for (const QString &chunk : chunks)
            QCOMPARE(writer.write(chunk), AIReplyWriter::Outcome::Written);
        const std::optional<Range> written = writer.finish();
        QCOMPARE(document.toPlainText(), text);
        QVERIFY(written);
        QCOMPARE(written->to, int(text.indexOf(u" world"_s)));
        document.undo();
        QCOMPARE(document.toPlainText(), u"hello brave world"_s);
    }

    // Another edit lands while the reply pauses; Escape must still bring
    // the original back, wherever the reply now stands.
    void revertRestoresTheOriginal_data()
    {
        QTest::addColumn<int>("editAt"); // -1: no other edit
        QTest::addColumn<QString>("inserted");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("historyAsBefore"); // else the restoring is an undo step of its own
        QTest::addColumn<std::optional<Range>>("selected");
        QTest::newRow("no other edit: the reply's step is taken back")
            << -1 << QString() << u"hello brave world"_s << true << std::optional(Range{6, 11});
        QTest::newRow("a file dropped before the reply")
            << 0 << u"![a](u) "_s << u"![a](u) hello brave world"_s << false << std::optional(Range{14, 19});
        QTest::newRow("a file dropped after the reply")
            << 20 << u" ![a](u)"_s << u"hello brave world ![a](u)"_s << false << std::optional(Range{6, 11});
        QTest::newRow("an edit into the reply: left as it is")
            << 8 << u"X"_s << u"hello boXld one world"_s << false << std::optional<Range>();
    }

    void revertRestoresTheOriginal()
    {
        QFETCH(int, editAt);
        QFETCH(QString, inserted);
        QFETCH(QString, text);
        QFETCH(bool, historyAsBefore);
        QFETCH(std::optional<Range>, selected);
        QTextDocument document(u"hello brave world"_s);
        AIReplyWriter writer(&document);
        const int before = document.availableUndoSteps();
        writer.start({6, 11}, AITrigger::Kind::Refine);
        writer.write(u"bold"_s);
        writer.write(u" one"_s);
        QCOMPARE(writer.pendingRange(), std::optional(Range{6, 14}));
        if (editAt >= 0)
            edit(document, editAt, 0, inserted);
        QCOMPARE(writer.revert(), selected);
        QCOMPARE(document.toPlainText(), text);
        QCOMPARE(document.availableUndoSteps() == before, historyAsBefore);
        QVERIFY(!document.isRedoAvailable());
        QVERIFY(!writer.isWriting());
    }

    void anotherEditStopsTheReply()
    {
        QTextDocument document(u"hello brave world"_s);
        AIReplyWriter writer(&document);
        writer.start({6, 11}, AITrigger::Kind::Refine);
        writer.write(u"bold"_s);
        edit(document, 0, 0, u">"_s);
        QVERIFY(writer.changedUnderReply());
        QCOMPARE(writer.write(u" more"_s), AIReplyWriter::Outcome::DocumentChanged);
        QCOMPARE(document.toPlainText(), u">hello bold world"_s);
        // The reply keeps its own step, under the other edit.
        document.undo();
        QCOMPARE(document.toPlainText(), u"hello bold world"_s);
        document.undo();
        QCOMPARE(document.toPlainText(), u"hello brave world"_s);
    }

    void undoStepsAreNamed_data()
    {
        QTest::addColumn<AITrigger::Kind>("kind");
        QTest::addColumn<QString>("name");
        QTest::newRow("rewrite") << AITrigger::Kind::Refine << u"AI Rewrite"_s;
        QTest::newRow("generate") << AITrigger::Kind::Generate << u"AI Generate"_s;
    }

    void undoStepsAreNamed()
    {
        QFETCH(AITrigger::Kind, kind);
        QFETCH(QString, name);
        QTextDocument document(u"hello brave world"_s);
        edit(document, 0, 0, u"- "_s);
        AIReplyWriter writer(&document);
        writer.start(kind == AITrigger::Kind::Refine ? Range{8, 13} : Range{8, 8}, kind);
        writer.write(u"bold"_s);
        writer.write(u" one"_s);
        writer.finish();
        QCOMPARE(UndoNames::undoText(&document), u"Undo "_s + name);
        QCOMPARE(UndoNames::redoText(&document), u"Redo"_s);
        document.undo();
        QCOMPARE(UndoNames::undoText(&document), u"Undo"_s);
        QCOMPARE(UndoNames::redoText(&document), u"Redo "_s + name);
        document.redo();
        QCOMPARE(UndoNames::undoText(&document), u"Undo "_s + name);
        // Ordinary typing on top reads plain again, and so does the step
        // that takes the reply's place after an undo.
        edit(document, 0, 0, u"x"_s);
        QCOMPARE(UndoNames::undoText(&document), u"Undo"_s);
        document.undo();
        document.undo();
        edit(document, 0, 0, u"y"_s);
        QCOMPARE(UndoNames::undoText(&document), u"Undo"_s);
        QCOMPARE(UndoNames::redoText(&document), u"Redo"_s);
    }
};

QTEST_MAIN(TestAIReplyWriter)
#include "tst_aireplywriter.moc"
