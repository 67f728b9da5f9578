// The editor bound to the store: every keystroke reaches the body, switching
// documents resets the view, outside changes show up, highlighting follows
// typing after a pause, wiki-link completion, the "![" notification, the
// bridge other components write through, the AI hooks and spell checking.
#include "app/core/AppNotifications.h"
#include "assistant/AIMenuPanel.h"
#include "assistant/AIPillPanel.h"
#include "assistant/AssistantPanels.h"
#include "assistant/core/AIAssistant.h"
#include "editor/EditorFindBar.h"
#include "editor/InlineSpelling.h"
#include "editor/ListContinuingTextView.h"
#include "editor/MarkdownTextView.h"
#include "editor/SpellChecker.h"
#include "editor/SuggestionPanel.h"
#include "service/core/APIClient.h"
#include "store/CappedFileRead.h"
#include "store/DocumentStore.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

#include <memory>

using namespace Qt::StringLiterals;

class TestMarkdownView : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<DocumentStore> m_store;
    // AI requests go to an address nothing answers on.
    APIClient m_client{QUrl(u"http://127.0.0.1:9"_s)};
    AIAssistant m_assistant{AIAssistant::overClient(&m_client)};
    AppNotifications m_notifications;
    std::unique_ptr<SpellChecker> m_spelling;
    std::unique_ptr<QWidget> m_window;
    MarkdownTextView *m_editor = nullptr;

    QString addDocument(const QString &body) { return m_store->createDocument(std::nullopt, body).id; }

    QString body(const QString &id) const
    {
        const std::optional<Document> document = m_store->document(id);
        return document ? document->body : u"<gone>"_s;
    }

    ListContinuingTextView *view() const { return m_editor->textView(); }
    AssistantPanels *panels() const { return static_cast<AssistantPanels *>(m_editor->assistant()); }

    MarkdownTextView *openEditor(const QString &id)
    {
        m_window = std::make_unique<QWidget>();
        m_window->resize(700, 500);
        m_editor = new MarkdownTextView(m_store.get(), &m_notifications, m_spelling.get(),
                                        new AssistantPanels(&m_assistant, {}), m_window.get());
        m_editor->setGeometry(0, 0, 700, 500);
        m_editor->setDocumentID(id);
        m_window->show();
        m_window->activateWindow();
        view()->setFocus();
        if (!QTest::qWaitForWindowActive(m_window.get(), TestWaits::limitMs))
            qWarning("window not active");
        return m_editor;
    }

    // Types characters beyond what QTest::keyClicks knows, as key presses
    // that carry the text.
    static void typeText(QWidget *target, const QString &text)
    {
        for (const QChar c : text)
            QTest::sendKeyEvent(QTest::Click, target, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }

    void placeCaret(qsizetype position) { view()->setSelectedRange({position, 0}); }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(u"TessivoTests"_s);
        QCoreApplication::setApplicationName(u"tst_editor_markdownview"_s);
        m_spelling = std::make_unique<SpellChecker>();
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_settings = std::make_unique<QSettings>(m_dir->filePath(u"settings.ini"_s), QSettings::IniFormat);
        m_store = std::make_unique<DocumentStore>(m_dir->filePath(u"store"_s), m_settings.get());
    }

    void cleanup()
    {
        m_window.reset();
        m_editor = nullptr;
        m_store.reset();
        m_settings.reset();
        m_dir.reset();
    }

    // ----- Binding ------------------------------------------------------------

    void typingReachesTheStoreExactly()
    {
        const QString id = addDocument(u"x\r\ny"_s);
        openEditor(id);
        placeCaret(view()->length());
        typeText(view(), u" ü\u00A0"_s);
        QCOMPARE(body(id), u"x\r\ny ü\u00A0"_s);
        QTest::keyClick(view(), Qt::Key_Backspace);
        QCOMPARE(body(id), u"x\r\ny ü"_s);
    }

    // Each key reaches the store as the edit it made: the stored body and the
    // editor's text stay two buffers that each change in place, so a key
    // never copies a long body, and no pending save holds the stored one.
    void typingEditsTheStoredBodyInPlace()
    {
        const QString id = addDocument(u"# Notes\r\n\r\n- one\r\n"_s);
        openEditor(id);
        const auto stored = [this, id]() -> const QString & {
            return m_store->documents().at(m_store->indexOfDocument(id)).body;
        };
        placeCaret(view()->length() - 2);
        QTest::keyClick(view(), Qt::Key_Return); // continues the list
        typeText(view(), u"two"_s);
        placeCaret(2);
        typeText(view(), u"My "_s);
        QTest::keyClick(view(), Qt::Key_Backspace);
        view()->undo();
        QCOMPARE(body(id), u"# My Notes\r\n\r\n- one\r\n- two\r\n"_s);
        QCOMPARE(stored(), view()->string());
        QVERIFY(stored().isDetached());
        QVERIFY(view()->string().isDetached());

        // The debounced save writes the text as it is then.
        QTRY_VERIFY(m_store->pendingSaveIDs().isEmpty());
        m_store->waitForWrites();
        QFile file(m_dir->filePath(u"store/documents/%1.json"_s.arg(id)));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QJsonDocument::fromJson(file.readAll()).object().value(u"body"_s).toString(),
                 view()->string());
    }

    void documentSwitchResetsTheView()
    {
        const QString longText = QString(400, u'\n') + u"end"_s;
        const QString a = addDocument(longText);
        const QString b = addDocument(u"second"_s + longText);
        openEditor(a);
        placeCaret(view()->length());
        QTest::keyClicks(view(), u"!!"_s);
        view()->verticalScrollBar()->setValue(view()->verticalScrollBar()->maximum());
        QVERIFY(view()->verticalScrollBar()->value() > 0);
        QVERIFY(view()->document()->isUndoAvailable());

        m_editor->setDocumentID(b);
        QCOMPARE(view()->string(), u"second"_s + longText);
        QVERIFY(!view()->document()->isUndoAvailable());
        view()->undo();
        QCOMPARE(view()->string(), u"second"_s + longText);
        QCOMPARE(view()->selectedRange(), TextRange(0, 0));
        QCOMPARE(view()->verticalScrollBar()->value(), 0);
        QCOMPARE(m_editor->liveTextView(b), view());
        QCOMPARE(body(a), longText + u"!!"_s);

        // A document with the same text as the one shown: still reset.
        m_store->updateBody(u"second"_s + longText, a);
        placeCaret(30);
        view()->verticalScrollBar()->setValue(view()->verticalScrollBar()->maximum());
        m_editor->setDocumentID(a);
        QCOMPARE(view()->selectedRange(), TextRange(0, 0));
        QCOMPARE(view()->verticalScrollBar()->value(), 0);
        QCOMPARE(body(b), u"second"_s + longText);
    }

    void outsideChangeIsShown_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<int>("caret");
        QTest::addColumn<QString>("after");
        QTest::addColumn<int>("expectedCaret");
        QTest::newRow("caret kept") << u"hello world"_s << 5 << u"hello there world"_s << 5;
        QTest::newRow("shortened below the caret: caret at the end")
            << u"hello world"_s << 9 << u"hey"_s << 3;
        QTest::newRow("emptied") << u"abc"_s << 2 << QString() << 0;
    }

    void outsideChangeIsShown()
    {
        QFETCH(QString, before);
        QFETCH(int, caret);
        QFETCH(QString, after);
        QFETCH(int, expectedCaret);
        const QString id = addDocument(before);
        openEditor(id);
        view()->setSelectedRange({caret, 1});
        m_editor->openAIMenu(EditorRules::AIMode::Generate);
        QVERIFY(panels()->menu()->trigger());
        m_store->updateBody(after, id); // as a sync would
        QCOMPARE(view()->string(), after);
        QCOMPARE(view()->selectedRange(), TextRange(expectedCaret, 0));
        QCOMPARE(body(id), after);
        QVERIFY(!panels()->menu()->trigger()); // the assistant closes, keeping the text
    }

    void documentRemovedShowsNothing()
    {
        const QString id = addDocument(u"gone soon"_s);
        openEditor(id);
        m_store->deleteDocument(id);
        QCOMPARE(view()->string(), QString());
    }

    // ----- Highlighting -----------------------------------------------------------

    void highlightFollowsAPauseInTyping()
    {
        const QString id = addDocument(QString());
        openEditor(id);
        QSignalSpy passes(m_editor, &MarkdownTextView::highlighted);
        QTest::keyClicks(view(), u"**bold** and `code`"_s);
        const QTextBlock line = view()->document()->firstBlock();
        // Not on the keystroke: after the pause.
        QCOMPARE(passes.count(), 0);
        QVERIFY(line.layout()->formats().isEmpty());
        QVERIFY(m_editor->isHighlightPending());
        m_editor->highlight(); // the pause ends
        QCOMPARE(passes.count(), 1);
        QCOMPARE(line.layout()->formats().size(), 4); // two delimiters, the bold word, the code span
        QCOMPARE(body(id), u"**bold** and `code`"_s);
        QVERIFY(view()->document()->isUndoAvailable());
        view()->undo();
        QCOMPARE(view()->string(), QString());
    }

    void longTextGetsTheBaseLook()
    {
        // CR LF counts two units of the limit though the view shows one.
        QString text = u"**b**\r\n"_s;
        while (text.size() < 200000)
            text += QString(78, u'x') + u"\r\n"_s;
        text.truncate(200000); // exactly the limit: still coloured
        const QString id = addDocument(text);
        openEditor(id);
        const QTextBlock first = view()->document()->firstBlock();
        QVERIFY(!first.layout()->formats().isEmpty());
        placeCaret(view()->length());
        QTest::keyClick(view(), Qt::Key_Y); // one unit over
        QVERIFY(m_editor->isHighlightPending());
        m_editor->highlight();
        QVERIFY(first.layout()->formats().isEmpty());
        QTest::keyClick(view(), Qt::Key_Backspace);
        QVERIFY(m_editor->isHighlightPending());
        m_editor->highlight();
        QVERIFY(!first.layout()->formats().isEmpty());
    }

    // ----- Wiki-link completion -----------------------------------------------------

    void completionFlow()
    {
        addDocument(u"# Gamma Ray"_s);
        addDocument(u"# Beta Notes"_s);
        addDocument(u"# Alpha"_s);
        // The document being written is a candidate too: give it a title.
        const QString id = addDocument(u"# Draft\n"_s);
        openEditor(id);
        placeCaret(view()->length());
        SuggestionPanel *panel = m_editor->suggestions();

        QTest::keyClicks(view(), u"See [["_s);
        QVERIFY(panel->isVisible());
        QVERIFY(panel->model()->items().contains(u"Beta Notes"_s));
        QVERIFY(panel->panel()->isVisible());
        QCOMPARE(panel->panel()->width(), 320);
        QVERIFY(panel->panel()->y() > view()->caretRectOnScreen(14).top());
        QCOMPARE(QApplication::focusWidget(), view());

        QTest::keyClicks(view(), u"ray"_s);
        QCOMPARE(panel->model()->items(), QStringList{u"Gamma Ray"_s});
        QCOMPARE(panel->queryRange(), TextRange(14, 3));
        QCOMPARE(panel->panel()->height(), 12 + 30); // sized to one row

        QTest::keyClick(view(), Qt::Key_Return);
        QVERIFY(!panel->isVisible());
        QCOMPARE(view()->string(), u"# Draft\nSee [[Gamma Ray]]"_s);
        QCOMPARE(body(id), u"# Draft\nSee [[Gamma Ray]]"_s);
        QCOMPARE(view()->selectedRange(), TextRange(25, 0));
        QCOMPARE(QApplication::focusWidget(), view());
        // Accepting is one undo step.
        view()->undo();
        QCOMPARE(view()->string(), u"# Draft\nSee [[ray"_s);
    }

    void completionKeys_data()
    {
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("stillOpen");
        QTest::newRow("tab accepts") << QList<int>{Qt::Key_Tab} << u"[[Alpha]]"_s << false;
        QTest::newRow("keypad enter accepts") << QList<int>{Qt::Key_Enter} << u"[[Alpha]]"_s << false;
        QTest::newRow("down then return")
            << QList<int>{Qt::Key_Down, Qt::Key_Return} << u"[[Beta]]"_s << false;
        QTest::newRow("up wraps to the last")
            << QList<int>{Qt::Key_Up, Qt::Key_Return} << u"[[Zulu]]"_s << false;
        QTest::newRow("escape closes without inserting") << QList<int>{Qt::Key_Escape} << u"[["_s << false;
        QTest::newRow("a letter goes to the text") << QList<int>{Qt::Key_G} << u"[[g"_s << true;
        QTest::newRow("closing bracket closes") << QList<int>{Qt::Key_BracketRight} << u"[[]"_s << false;
    }

    void completionKeys()
    {
        QFETCH(QList<int>, keys);
        QFETCH(QString, expected);
        QFETCH(bool, stillOpen);
        const QString id = addDocument(u"# Zulu\n"_s); // new documents go first: this one ends up last
        addDocument(u"# Gamma"_s);
        addDocument(u"# Beta"_s);
        addDocument(u"# Alpha"_s);
        openEditor(id);
        // Keys the panel takes never reach the application's shortcuts.
        int shortcutFired = 0;
        auto *escape = new QAction(m_window.get());
        escape->setShortcut(Qt::Key_Escape);
        escape->setShortcutContext(Qt::ApplicationShortcut);
        connect(escape, &QAction::triggered, this, [&] { ++shortcutFired; });
        m_window->addAction(escape);
        placeCaret(view()->length());
        QTest::keyClicks(view(), u"[["_s);
        QCOMPARE(m_editor->suggestions()->model()->items(),
                 (QStringList{u"Alpha"_s, u"Beta"_s, u"Gamma"_s, u"Zulu"_s}));
        for (int key : keys)
            QTest::keyClick(view(), Qt::Key(key));
        QCOMPARE(view()->string(), u"# Zulu\n"_s + expected);
        QCOMPARE(m_editor->suggestions()->isVisible(), stillOpen);
        QCOMPARE(shortcutFired, 0);
        if (!stillOpen) { // panel closed: Escape is the application's again
            QTest::keyClick(view(), Qt::Key_Escape);
            QCOMPARE(shortcutFired, 1);
        }
    }

    void completionClosesOnSelectionAndOtherLines()
    {
        addDocument(u"# Alpha"_s);
        openEditor(addDocument(u"first line\n"_s));
        placeCaret(view()->length());
        QTest::keyClicks(view(), u"[[Al"_s);
        QVERIFY(m_editor->suggestions()->isVisible());
        view()->setSelectedRange({view()->length() - 2, 2});
        QVERIFY(!m_editor->suggestions()->isVisible());

        placeCaret(view()->length());
        QTest::keyClick(view(), Qt::Key_P);
        QVERIFY(m_editor->suggestions()->isVisible());
        QTest::keyClick(view(), Qt::Key_Up, Qt::NoModifier); // consumed by the panel
        placeCaret(3);                                       // another line
        QVERIFY(!m_editor->suggestions()->isVisible());
    }

    void acceptingAClampedRange()
    {
        addDocument(u"# Alpha"_s);
        openEditor(addDocument(QString()));
        QTest::keyClicks(view(), u"[[Alp"_s);
        SuggestionPanel *panel = m_editor->suggestions();
        QVERIFY(panel->isVisible());
        // The text shrinks behind the panel's back.
        m_editor->acceptSuggestion(u"Alpha"_s, TextRange{40, 10});
        QCOMPARE(view()->string(), u"[[AlpAlpha]]"_s);
    }

    // ----- Media library trigger ------------------------------------------------------

    void imageTriggerPostsTheRange()
    {
        openEditor(addDocument(u"Look: "_s));
        placeCaret(view()->length());
        QSignalSpy posts(&m_notifications, &AppNotifications::posted);
        QTest::keyClicks(view(), u"!["_s);
        QCOMPARE(posts.count(), 1);
        QCOMPARE(posts.at(0).at(0).toString(), AppNotifications::openMediaLibrary);
        const QVariantMap info = posts.at(0).at(1).toMap();
        QCOMPARE(info.value(AppNotifications::rangeKey).value<TextRange>(), TextRange(6, 2));
    }

    // ----- Live view ---------------------------------------------------------------------

    void handsOutTheLiveView()
    {
        const QString a = addDocument(u"a"_s);
        const QString b = addDocument(u"b"_s);
        openEditor(a);
        QCOMPARE(m_editor->liveTextView(a), view());
        QCOMPARE(m_editor->liveTextView(b), nullptr);
        QCOMPARE(m_editor->liveTextView(QString()), nullptr);

        // Inserting through it is one undo step and reaches the store.
        QVERIFY(m_editor->liveTextView(a)->replaceCharacters({1, 0}, u"![img](u)"_s));
        QCOMPARE(body(a), u"a![img](u)"_s);
        view()->undo();
        QCOMPARE(body(a), u"a"_s);

        m_editor->hide();
        QCOMPARE(m_editor->liveTextView(a), nullptr);
        m_editor->show();
        QCOMPARE(m_editor->liveTextView(a), view());
    }

    // ----- AI hooks ------------------------------------------------------------------------

    void aiAssistModes_data()
    {
        QTest::addColumn<QVariantMap>("info");
        QTest::addColumn<TextRange>("selection");
        QTest::addColumn<bool>("opens");
        QTest::addColumn<int>("kind");
        QTest::addColumn<TextRange>("range");
        const int refine = int(AITrigger::Kind::Refine);
        const int generate = int(AITrigger::Kind::Generate);
        const QVariantMap none;
        const QVariantMap refineMode{{u"mode"_s, u"refine"_s}};
        const QVariantMap generateMode{{u"mode"_s, u"generate"_s}};
        QTest::newRow("auto with words refines")
            << none << TextRange{0, 5} << true << refine << TextRange{0, 5};
        QTest::newRow("auto with spaces generates at the start")
            << none << TextRange{5, 3} << true << generate << TextRange{5, 0};
        QTest::newRow("generate with spaces writes at the end")
            << generateMode << TextRange{5, 3} << true << generate << TextRange{8, 0};
        QTest::newRow("refine without words refuses")
            << refineMode << TextRange{5, 3} << false << 0 << TextRange{};
    }

    void aiAssistModes()
    {
        QFETCH(QVariantMap, info);
        QFETCH(TextRange, selection);
        QFETCH(bool, opens);
        QFETCH(int, kind);
        QFETCH(TextRange, range);
        openEditor(addDocument(u"hello   world"_s));
        view()->setSelectedRange(selection);
        m_notifications.post(AppNotifications::aiAssist, info);
        QCOMPARE(panels()->menu()->trigger().has_value(), opens);
        if (opens) {
            const AITrigger trigger = *panels()->menu()->trigger();
            QCOMPARE(int(trigger.kind), kind);
            QCOMPARE(trigger.range, range);
        }
    }

    void pillFollowsTheSelection()
    {
        openEditor(addDocument(u"words here\n   \nmore"_s));
        AIPillPanel *pill = panels()->pill();
        view()->setSelectedRange({0, 5});
        QVERIFY(pill->isVisible());
        QCOMPARE(pill->kind(), std::optional(AITrigger::Kind::Refine));
        view()->setSelectedRange({11, 3}); // spaces only
        QVERIFY(!pill->isVisible());
        view()->setSelectedRange({12, 0}); // blank line
        QCOMPARE(pill->kind(), std::optional(AITrigger::Kind::Generate));
        view()->setSelectedRange({2, 0}); // line with text
        QVERIFY(!pill->isVisible());
        view()->setSelectedRange({12, 0});
        QVERIFY(pill->isVisible());
        m_editor->openAIMenu(EditorRules::AIMode::Auto);
        QVERIFY(!pill->isVisible());
    }

    // ----- Find bar -------------------------------------------------------------------------

    void findBarSearchesWithoutEditing()
    {
        openEditor(addDocument(u"one Two one\nthree ONE"_s));
        QTest::keyClick(view(), Qt::Key_F, Qt::ControlModifier);
        EditorFindBar *bar = m_editor->findBar();
        QVERIFY(bar->isVisible());
        QWidget *field = QApplication::focusWidget();
        QVERIFY(field && field != view());
        QTest::keyClicks(field, u"one"_s);
        QCOMPARE(view()->selectedRange(), TextRange(0, 3));
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(view()->selectedRange(), TextRange(8, 3));
        QTest::keyClick(field, Qt::Key_Return); // any case
        QCOMPARE(view()->selectedRange(), TextRange(18, 3));
        QTest::keyClick(field, Qt::Key_Return); // wraps
        QCOMPARE(view()->selectedRange(), TextRange(0, 3));
        QTest::keyClick(field, Qt::Key_Return, Qt::ShiftModifier);
        QCOMPARE(view()->selectedRange(), TextRange(18, 3));
        QTest::keyClick(field, Qt::Key_Escape);
        QVERIFY(!bar->isVisible());
        QCOMPARE(QApplication::focusWidget(), view());
        QCOMPARE(view()->string(), u"one Two one\nthree ONE"_s);
        QVERIFY(!view()->document()->isUndoAvailable());
    }

    // ----- Spelling ------------------------------------------------------------------------

    void spellingUnderlinesProseOnly()
    {
        SpellChecker checker({}, {}, m_dir->filePath(u"words.txt"_s));
        checker.waitUntilReady();
        QVERIFY(checker.isReady());
        // The app's own words (its name, its key names) pass on a fresh profile.
        openEditor(addDocument(
            u"---\ntitel: x\n---\nA sentnce with `cde` and https://exmple.org here in Tessivo (Ctrl+K)\n"
            u"```\nnot chekced\n```\nlast wrongg"_s));
        InlineSpelling spelling(view(), &checker);
        spelling.checkNow();
        const QString text = view()->string();
        QStringList marked;
        for (const TextRange &r : spelling.misspelledRanges())
            marked.append(text.mid(r.location, r.length));
        QCOMPARE(marked, (QStringList{u"sentnce"_s, u"wrongg"_s}));
        QCOMPARE(view()->document()->availableUndoSteps(), 0);

        // Corrections from the context menu replace the word; learning a word
        // keeps it in the personal list and clears its mark.
        const auto trigger = [&](qsizetype at, const QString &label) {
            QMenu menu;
            spelling.extendContextMenu(&menu, at);
            const QList<QAction *> actions = menu.actions();
            const auto it =
                std::find_if(actions.begin(), actions.end(), [&](QAction *a) { return a->text() == label; });
            QVERIFY2(it != actions.end(), qPrintable(label));
            (*it)->trigger();
        };
        trigger(text.indexOf(u"sentnce"_s) + 2, u"sentence"_s);
        QVERIFY(view()->string().contains(u"A sentence with"_s));
        trigger(view()->string().indexOf(u"wrongg"_s), u"Add to Dictionary"_s);
        spelling.checkNow();
        QVERIFY(spelling.misspelledRanges().isEmpty());
        QFile list(m_dir->filePath(u"words.txt"_s));
        QVERIFY(list.open(QIODevice::ReadOnly));
        QCOMPARE(list.readAll(), QByteArray("wrongg\n"));
        SpellChecker again({}, {}, m_dir->filePath(u"words.txt"_s));
        again.waitUntilReady();
        QVERIFY(again.isCorrect(u"wrongg"_s));
    }

    // A word list past its bound is neither read nor rewritten: a word
    // learnt then counts for this run, and the user's file stays as it was.
    void anOversizeWordListIsLeftAlone()
    {
        const QString path = m_dir->filePath(u"words.txt"_s);
        QFile list(path);
        QVERIFY(list.open(QIODevice::WriteOnly));
        const QByteArray words = QByteArray("qzxwa\n").repeated(FileBounds::dictionary / 6 + 1);
        QVERIFY(list.write(words) == words.size());
        list.close();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^\\[editor\\] the personal word list .+"_s));
        SpellChecker checker({}, {}, path);
        checker.waitUntilReady();
        QVERIFY(!checker.isCorrect(u"qzxwa"_s));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^\\[editor\\] the personal word list .+"_s));
        checker.addToDictionary(u"qzxwb"_s);
        QVERIFY(checker.isCorrect(u"qzxwb"_s));
        QVERIFY(list.open(QIODevice::ReadOnly));
        QCOMPARE(list.size(), words.size());
        QVERIFY(list.readAll() == words);
    }

    void spellingOfOneLongParagraphLooksAtTheScreenOnly()
    {
        SpellChecker checker({}, {}, m_dir->filePath(u"words.txt"_s));
        checker.waitUntilReady();
        QStringList words;
        for (int i = 0; i < 20000; ++i)
            words.append(u"qzxv"_s);
        openEditor(addDocument(u"Intro line.\n"_s + words.join(u' ')));
        view()->verticalScrollBar()->setValue(view()->verticalScrollBar()->maximum() / 2);
        InlineSpelling spelling(view(), &checker);
        spelling.checkNow();
        const QList<TextRange> marked = spelling.misspelledRanges();
        const QRect area = view()->viewport()->rect();
        const qsizetype first = view()->cursorForPosition(area.topLeft()).position();
        const qsizetype last = view()->cursorForPosition(area.bottomRight()).position();
        QVERIFY(!marked.isEmpty());
        QVERIFY(marked.size() < 2000);
        QVERIFY(marked.constFirst().location <= first + 5 && marked.constLast().end() >= last - 5);

        // Past the longest line checked, the line is left alone.
        const qsizetype copies = InlineSpelling::longestCheckedLine / (words.size() * 5) + 1;
        view()->setString(words.join(u' ').repeated(copies));
        spelling.checkNow();
        QVERIFY(spelling.misspelledRanges().isEmpty());
    }
};

QTEST_MAIN(TestMarkdownView)
#include "tst_editor_markdownview.moc"
