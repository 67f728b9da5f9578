// The editor's text view on its own: the exact text it hands out, list
// continuation and its undo, the "![" trigger, programmatic replacements and
// display formatting that stays out of the undo history.
#include "editor/ListContinuingTextView.h"
#include "editor/SyntaxHighlighter.h"
#include "widgets/ThinScroller.h"
#include "widgets/WidgetStyle.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(Qt::Key)

class TestTextView : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ListContinuingTextView> m_view;

    ListContinuingTextView *show(const QString &text, ListContinuingTextView::KeyRouting routing = {})
    {
        m_view = std::make_unique<ListContinuingTextView>(nullptr, std::move(routing));
        m_view->resize(600, 400);
        m_view->setString(text);
        m_view->show();
        m_view->activateWindow();
        m_view->setFocus();
        if (!QTest::qWaitForWindowExposed(m_view.get(), TestWaits::limitMs))
            qWarning("window not exposed");
        return m_view.get();
    }

    // Places the caret at `position`: given as the index of a "|" in `marked`.
    static std::pair<QString, qsizetype> unmark(const QString &marked)
    {
        const qsizetype caret = marked.indexOf(u'|');
        QString text = marked;
        text.remove(caret, 1);
        return {text, caret};
    }

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void cleanup() { m_view.reset(); }

    void exactTextSurvivesEditing_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("no-break space") << u"a\u00A0b"_s;
        QTest::newRow("every kind of line break") << u"a\nb\r\nc\rd\u2029e\u2028f"_s;
        QTest::newRow("emoji, combining marks, byte order mark, tab, right to left")
            << u"\uFEFF\t🧑‍💻 🇩🇪 e\u0301\u0301 שלום"_s;
        QTest::newRow("trailing break") << u"end\r\n"_s;
        QTest::newRow("empty") << QString();
    }

    void exactTextSurvivesEditing()
    {
        QFETCH(QString, text);
        ListContinuingTextView *view = show(text);
        QCOMPARE(view->string(), text);

        view->setSelectedRange({text.size(), 0});
        QTest::keyClicks(view, u"xy"_s);
        QCOMPARE(view->string(), text + u"xy"_s);

        view->setSelectedRange({0, 0});
        QTest::keyClick(view, Qt::Key_Z);
        QCOMPARE(view->string(), u"z"_s + text + u"xy"_s);

        view->undo();
        view->undo();
        QCOMPARE(view->string(), text);
    }

    void editsAroundKeptLineEnds_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("replacement");
        QTest::addColumn<QString>("expected");
        QTest::newRow("CR LF: replace across the break")
            << u"a\r\nb\r\nc"_s << 0 << 4 << u"Z"_s << u"Z\r\nc"_s;
        QTest::newRow("CR LF text: a new break is CR LF too")
            << u"a\r\nb"_s << 1 << 0 << u"\n"_s << u"a\r\n\r\nb"_s;
        QTest::newRow("CR: delete the break") << u"a\rb"_s << 1 << 1 << QString() << u"ab"_s;
    }

    void editsAroundKeptLineEnds()
    {
        QFETCH(QString, text);
        QFETCH(int, start);
        QFETCH(int, length);
        QFETCH(QString, replacement);
        QFETCH(QString, expected);
        ListContinuingTextView *view = show(text);
        QVERIFY(view->replaceCharacters({start, length}, replacement));
        QCOMPARE(view->string(), expected);
        const qsizetype insertedLength = expected.size() - (text.size() - length);
        QCOMPARE(view->selectedRange(), TextRange(start + insertedLength, 0));
        view->undo();
        QCOMPARE(view->string(), text);
    }

    void clipboardCarriesExactPlainText()
    {
        ListContinuingTextView *view = show(u"a\u00A0b\u2028c"_s);
        view->selectAll();
        view->copy();
        QCOMPARE(QApplication::clipboard()->text(), u"a\u00A0b\u2028c"_s);
        int fired = 0;
        connect(view, &ListContinuingTextView::imageTriggered, this, [&] { ++fired; });
        auto *data = new QMimeData;
        data->setHtml(u"<b>bold</b>"_s);
        data->setText(u"**bold**\u00A0![x"_s);
        QApplication::clipboard()->setMimeData(data);
        view->setSelectedRange({1, 0});
        view->paste();
        QCOMPARE(view->string(), u"a**bold**\u00A0![x\u00A0b\u2028c"_s);
        QCOMPARE(fired, 0); // a pasted "![" is no typed trigger
        view->undo();
        QCOMPARE(view->string(), u"a\u00A0b\u2028c"_s);
    }

    void returnOnListLines_data()
    {
        QTest::addColumn<QString>("marked");
        QTest::addColumn<QString>("expectedMarked");
        QTest::newRow("bullet: continues") << u"- item|"_s << u"- item\n- |"_s;
        QTest::newRow("split: text after caret moves") << u"- ab|cd"_s << u"- ab\n- |cd"_s;
        QTest::newRow("empty item: marker removed") << u"- a\n- |"_s << u"- a\n|"_s;
        QTest::newRow("empty item: indented task removed") << u"   - [ ]  |"_s << u"|"_s;
        QTest::newRow("plain: caret inside marker") << u"-| item"_s << u"-\n| item"_s;
        QTest::newRow("bullet: caret right after the marker") << u"- |item"_s << u"- \n- |item"_s;
        QTest::newRow("plain: caret in indentation") << u" | - item"_s << u" \n| - item"_s;
        QTest::newRow("line separator: the caret's line decides")
            << u"text\u2028- item|"_s << u"text\u2028- item\n- |"_s;
        QTest::newRow("line separator: empty item after it ends the list")
            << u"- a\u2028- |"_s << u"- a\u2028|"_s;
        QTest::newRow("line separator: list line before it")
            << u"- a|\u2028text"_s << u"- a\n- |\u2028text"_s;
    }

    void returnOnListLines()
    {
        QFETCH(QString, marked);
        QFETCH(QString, expectedMarked);
        const auto [text, caret] = unmark(marked);
        const auto [expected, expectedCaret] = unmark(expectedMarked);
        ListContinuingTextView *view = show(text);
        view->setSelectedRange({caret, 0});
        QTest::keyClick(view, Qt::Key_Return);
        QCOMPARE(view->string(), expected);
        QCOMPARE(view->selectedRange(), TextRange(expectedCaret, 0));
        // One Return, one undo step.
        view->undo();
        QCOMPARE(view->string(), text);
    }

    void continuationAfterTypingIsItsOwnUndoStep()
    {
        ListContinuingTextView *view = show(QString());
        QTest::keyClicks(view, u"- milk"_s);
        QTest::keyClick(view, Qt::Key_Return);
        QTest::keyClicks(view, u"eggs"_s);
        QCOMPARE(view->string(), u"- milk\n- eggs"_s);
        view->undo();
        QCOMPARE(view->string(), u"- milk\n- "_s);
        view->undo();
        QCOMPARE(view->string(), u"- milk"_s);
    }

    void returnBeyondListRules()
    {
        ListContinuingTextView *view = show(u"- item"_s);
        view->setSelectedRange({6, 0});
        QTest::keyClick(view, Qt::Key_Return, Qt::ShiftModifier); // a plain line feed
        QCOMPARE(view->string(), u"- item\n"_s);
        view->setSelectedRange({2, 2}); // the selection goes first
        QTest::keyClick(view, Qt::Key_Return);
        QCOMPARE(view->string(), u"- \nem\n"_s);
        view->setReadOnly(true);
        view->setSelectedRange({2, 0}); // on an empty item
        QTest::keyClick(view, Qt::Key_Return);
        QVERIFY(!view->replaceCharacters({0, 1}, u"x"_s));
        QCOMPARE(view->string(), u"- \nem\n"_s);
    }

    void imageTrigger_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("fires");
        QTest::addColumn<int>("location");
        QTest::newRow("trigger: typed pair") << u"see "_s << u"!["_s << true << 4;
        QTest::newRow("trigger: at start") << QString() << u"!["_s << true << 0;
        QTest::newRow("no trigger: other character") << u"a"_s << u"["_s << false << 0;
        QTest::newRow("no trigger: wiki link") << QString() << u"[["_s << false << 0;
        QTest::newRow("no trigger: bang alone") << QString() << u"!"_s << false << 0;
    }

    void imageTrigger()
    {
        QFETCH(QString, before);
        QFETCH(QString, typed);
        QFETCH(bool, fires);
        QFETCH(int, location);
        ListContinuingTextView *view = show(before);
        QList<TextRange> ranges;
        connect(view, &ListContinuingTextView::imageTriggered, this,
                [&](TextRange range) { ranges.append(range); });
        view->setSelectedRange({before.size(), 0});
        QTest::keyClicks(view, typed);
        QCOMPARE(ranges.size(), fires ? 1 : 0);
        if (fires) {
            QCOMPARE(ranges.constFirst(), TextRange(location, 2));
            QCOMPARE(view->string().mid(location, 2), u"!["_s);
        }
    }

    void highlightingStaysOutOfUndoAndModifiedState()
    {
        ListContinuingTextView *view = show(QString());
        QTest::keyClicks(view, u"# Title **bold**"_s);
        view->document()->setModified(false);
        const int undoSteps = view->document()->availableUndoSteps();
        QSignalSpy changes(view, &ListContinuingTextView::textDidChange);

        SyntaxHighlighter::highlight(view);

        QVERIFY(!view->document()->firstBlock().layout()->formats().isEmpty());
        QCOMPARE(view->document()->availableUndoSteps(), undoSteps);
        QVERIFY(!view->document()->isModified());
        QCOMPARE(changes.count(), 0);
        QCOMPARE(view->string(), u"# Title **bold**"_s);
        view->undo();
        QCOMPARE(view->string(), QString());
    }

    void formatsFollowTypingOnTheirLine()
    {
        ListContinuingTextView *view = show(u"ab `code`"_s);
        SyntaxHighlighter::highlight(view);
        const QList<QTextLayout::FormatRange> before = view->document()->firstBlock().layout()->formats();
        QCOMPARE(before.size(), 1);
        QCOMPARE(before.constFirst().start, 3);
        view->setSelectedRange({0, 0});
        QTest::keyClicks(view, u"xy"_s);
        const QList<QTextLayout::FormatRange> after = view->document()->firstBlock().layout()->formats();
        QCOMPARE(after.size(), 1);
        QCOMPARE(after.constFirst().start, 5);
        QCOMPARE(after.constFirst().length, 6);
    }

    // Edits inside one line are laid out by the editor itself: the result
    // matches a fresh layout of the same text, down to the scroll range.
    void wrappingFollowsEditsInsideALine_data()
    {
        QTest::addColumn<QString>("marked");
        QTest::addColumn<QString>("typed"); // "\b" deletes backwards
        const QString words = u"word "_s.repeated(40);
        QTest::newRow("a line grows onto a second and a third line")
            << u"short\n"_s + words.left(70) + u"|\nlast"_s << u"more words to wrap "_s.repeated(8);
        QTest::newRow("a wrapped line shrinks back to one")
            << u"first\n"_s + words + u"|\nlast"_s << QString(175, u'\b');
        QTest::newRow("the widest line grows and shrinks")
            << u"a\n"_s + words + u"\n"_s + words.left(100) + u"|\n"_s + words.left(60) << u"x\bx\b"_s;
    }

    void wrappingFollowsEditsInsideALine()
    {
        QFETCH(QString, marked);
        QFETCH(QString, typed);
        const auto [text, caret] = unmark(marked);
        ListContinuingTextView *view = show(text);
        view->setSelectedRange({caret, 0});
        for (const QChar c : typed) {
            if (c == u'\b')
                QTest::keyClick(view, Qt::Key_Backspace);
            else
                QTest::keyClick(view, c.toLatin1());
        }

        ListContinuingTextView fresh;
        fresh.resize(view->size());
        fresh.setString(view->string());
        fresh.show();
        QVERIFY(QTest::qWaitForWindowExposed(&fresh, TestWaits::limitMs));
        fresh.document()->documentLayout()->blockBoundingRect(fresh.document()->lastBlock());
        for (QTextBlock a = view->document()->firstBlock(), b = fresh.document()->firstBlock(); a.isValid();
             a = a.next(), b = b.next()) {
            view->document()->documentLayout()->blockBoundingRect(a);
            fresh.document()->documentLayout()->blockBoundingRect(b);
            QCOMPARE(a.lineCount(), b.lineCount());
            for (int i = 0; i < a.layout()->lineCount(); ++i) {
                QCOMPARE(a.layout()->lineAt(i).textStart(), b.layout()->lineAt(i).textStart());
                QCOMPARE(a.layout()->lineAt(i).y(), b.layout()->lineAt(i).y());
            }
        }
        QCOMPARE(view->document()->lineCount(), fresh.document()->lineCount());
        QCOMPARE(view->verticalScrollBar()->maximum(), fresh.verticalScrollBar()->maximum());
    }

    void usesTheThinScroller()
    {
        ListContinuingTextView *view = show(QString(2000, u'\n'));
        auto *scroller = qobject_cast<ThinScroller *>(view->verticalScrollBar());
        QVERIFY(scroller);
        QCOMPARE(scroller->width(), 7);
        QEnterEvent enter(QPointF(3, 3), QPointF(3, 3), QPointF(3, 3));
        QApplication::sendEvent(scroller, &enter);
        QVERIFY(scroller->isHovering());
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(scroller, &leave);
        QVERIFY(!scroller->isHovering());
    }

    void caretIsDrawnInTheAccentColour()
    {
        ListContinuingTextView *view = show(u"Some text"_s);
        QVERIFY(QTest::qWaitForWindowActive(view, TestWaits::limitMs));
        QTextCursor cursor = view->textCursor();
        cursor.setPosition(4);
        view->setTextCursor(cursor);
        // The accent, made readable on the editor's background.
        const QColor accent = WidgetStyle::textAccent(view->palette());
        QVERIFY(WidgetStyle::contrastRatio(accent, view->palette().color(QPalette::Base)) >= 4.5);
        const QRect caret = view->cursorRect();
        const QPoint probe(caret.left(), caret.center().y());
        const auto pixelAtCaret = [&] {
            return QColor(view->viewport()->grab().toImage().pixel(probe * view->devicePixelRatio()));
        };

        QTRY_COMPARE(pixelAtCaret(), accent);
        // Without the focus there is no caret.
        QWidget other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other, TestWaits::limitMs));
        QTRY_VERIFY(pixelAtCaret() != accent);
    }
};

QTEST_MAIN(TestTextView)
#include "tst_editor_textview.moc"
