// The AI menu over a real text view: the reply streams into the text as one
// edit, every ending leaves the right text and undo history, and the panel
// keeps the keyboard the way a menu should.
#include "../FakeByteSource.h"
#include "assistant/AIMenuPanel.h"
#include "assistant/AIMenuView.h"
#include "assistant/core/AIAssistant.h"
#include "assistant/core/AIMenuModel.h"
#include "editor/ListContinuingTextView.h"

#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <memory>

using namespace Qt::StringLiterals;

class TestAIMenuPanel : public QObject
{
    Q_OBJECT

    std::unique_ptr<QWidget> m_window;
    ListContinuingTextView *m_view = nullptr;
    std::unique_ptr<AIAssistant> m_assistant;
    std::unique_ptr<AIMenuPanel> m_menu;
    QPointer<FakeByteSource> m_source;
    qint64 m_now = 0;
    int m_aborts = 0;

    QTextDocument *document() const { return m_view->document(); }

    void openOver(const QString &text, const AITrigger &trigger)
    {
        m_view->setString(text);
        m_view->setSelectedRange(trigger.range);
        m_menu->show(trigger, m_view);
        QVERIFY(m_menu->isVisible());
        QTRY_VERIFY(m_menu->panel()->isActiveWindow());
    }

    // The reply's next bytes, a hand-over interval after the last ones.
    void reply(const QByteArray &bytes)
    {
        m_now += 20;
        m_source->send(bytes);
    }

private Q_SLOTS:
    void init()
    {
        m_window = std::make_unique<QWidget>();
        m_window->resize(600, 400);
        m_view = new ListContinuingTextView(m_window.get());
        (new QVBoxLayout(m_window.get()))->addWidget(m_view);
        m_assistant = std::make_unique<AIAssistant>(
            [this](const QByteArray &) {
                m_source = new FakeByteSource;
                m_source->abortCount = &m_aborts;
                return m_source.data();
            },
            [this] { return m_now; });
        m_menu = std::make_unique<AIMenuPanel>(m_assistant.get());
        m_window->show();
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    }

    void cleanup()
    {
        m_menu.reset();
        m_window.reset();
        m_assistant.reset();
        m_aborts = 0;
    }

    void endings_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("open");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("undoSteps"); // back to before the request (with the test's own edits)
        QTest::addColumn<QString>("undone");
        QTest::newRow("finished: kept, one step")
            << u"finish"_s << u"hello bold one world"_s << false << QString() << 1 << u"hello brave world"_s;
        QTest::newRow("Escape: restored, no step")
            << u"escape"_s << u"hello brave world"_s << false << QString() << 0 << u"hello brave world"_s;
        QTest::newRow("server error: restored, message")
            << u"error"_s << u"hello brave world"_s << true << u"Model unavailable."_s << 0
            << u"hello brave world"_s;
        QTest::newRow("document changed: what was written stays as one step")
            << u"shrunk"_s << u"ello bold one"_s << true << AIMenuPanel::documentChangedMessage() << 3
            << u"hello brave world"_s;
        QTest::newRow("document grew before the reply: stops, nothing misplaced")
            << u"grown"_s << u">hello bold one world"_s << true << AIMenuPanel::documentChangedMessage() << 2
            << u"hello brave world"_s;
        QTest::newRow("closed keeping the text: one step")
            << u"keep"_s << u"hello bold one world"_s << false << QString() << 1 << u"hello brave world"_s;
    }

    void endings()
    {
        QFETCH(QString, ending);
        QFETCH(QString, text);
        QFETCH(bool, open);
        QFETCH(QString, message);
        QFETCH(int, undoSteps);
        QFETCH(QString, undone);
        openOver(u"hello brave world"_s, AITrigger::refine({6, 5}));
        m_menu->model()->submit(); // the first preset
        QCOMPARE(m_menu->model()->phase().kind, AIMenuModel::Phase::Kind::Streaming);
        QVERIFY(m_source);
        m_source->start();
        reply("bold");
        QCOMPARE(m_view->string(), u"hello bold world"_s);
        QCOMPARE(m_menu->pendingRange(), std::optional(TextRange{6, 4}));
        reply(" one");
        QCOMPARE(m_menu->pendingRange(), std::optional(TextRange{6, 8}));

        if (ending == u"finish") {
            m_source->end();
        } else if (ending == u"escape") {
            QTest::keyClick(m_menu->panel(), Qt::Key_Escape);
        } else if (ending == u"error") {
            m_source->fail({u"error"_s, u"Model unavailable."_s, 503});
        } else if (ending == u"shrunk") {
            m_view->replaceCharacters({0, 1}, QString(), false);
            m_view->replaceCharacters({13, 6}, QString(), false);
            reply(" more");
        } else if (ending == u"grown") {
            m_view->replaceCharacters({0, 0}, u">"_s, false);
            reply(" more");
        } else {
            m_menu->close(false);
        }
        QCOMPARE(m_view->string(), text);
        QCOMPARE(m_menu->isVisible(), open);
        QCOMPARE(m_menu->pendingRange(), std::nullopt);
        if (open)
            QCOMPARE(m_menu->model()->phase(), AIMenuModel::Phase::error(message));
        for (int i = 0; i < undoSteps; ++i) {
            QVERIFY(m_view->string() != undone || i == 0);
            m_view->undo();
        }
        QCOMPARE(m_view->string(), undone);
        QVERIFY(!document()->isUndoAvailable());
        QCOMPARE(m_aborts, int(ending != u"finish" && ending != u"error"));
    }

    void clickInTheEditorClosesWithRevert()
    {
        openOver(u"hello brave world"_s, AITrigger::refine({6, 5}));
        m_menu->model()->submit();
        m_source->start();
        reply("bold");
        m_window->activateWindow();
        QTRY_VERIFY(!m_menu->isVisible());
        QCOMPARE(m_view->string(), u"hello brave world"_s);
        QCOMPARE(m_view->selectedRange(), (TextRange{6, 5}));
        QCOMPARE(m_aborts, 1);
    }

    void leavingTheApplicationKeepsTheMenu()
    {
        openOver(u"hello brave world"_s, AITrigger::refine({6, 5}));
        // Another client takes the focus, as when the user switches
        // applications, and later gives it back to the editor's window.
        Display *display = XOpenDisplay(nullptr);
        QVERIFY(display);
        const Window stamp = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
        XSelectInput(display, stamp, PropertyChangeMask);
        XSetInputFocus(display, PointerRoot, RevertToPointerRoot, CurrentTime);
        XFlush(display);
        QTRY_COMPARE(QGuiApplication::applicationState(), Qt::ApplicationInactive);
        QCoreApplication::processEvents(); // a close would be queued behind the focus change
        QVERIFY(m_menu->isVisible());
        QVERIFY(!m_menu->panel()->isVisible()); // out of the way meanwhile

        // X ignores focus requests older than the last focus change: give the
        // application a later time stamp than the one the hand-back uses.
        const Atom atom = XInternAtom(display, "TESSIVO_TEST_STAMP", False);
        XChangeProperty(display, stamp, atom, XA_STRING, 8, PropModeReplace, nullptr, 0);
        XEvent event;
        XWindowEvent(display, stamp, PropertyChangeMask, &event);
        XChangeProperty(display, Window(m_window->winId()), atom, XA_STRING, 8, PropModeReplace, nullptr, 0);
        XFlush(display);
        XSetInputFocus(display, Window(m_window->winId()), RevertToParent, event.xproperty.time);
        XDestroyWindow(display, stamp);
        XCloseDisplay(display);
        QTRY_VERIFY(m_menu->panel()->isActiveWindow());
        QVERIFY(m_menu->isVisible());
        QTRY_COMPARE(QApplication::focusWidget(), m_menu->view()->promptField());
    }

    void keysAndPointerPickTheSameRow()
    {
        openOver(u"hello brave world"_s, AITrigger::refine({6, 5}));
        QSignalSpy chosen(m_menu->model(), &AIMenuModel::presetChosen);
        QWidget *field = m_menu->view()->promptField();
        QTRY_COMPARE(QApplication::focusWidget(), field);
        for (int i = 0; i < 9; ++i)
            QTest::keyClick(field, Qt::Key_Down);
        QCOMPARE(m_menu->model()->selection(), 9);
        QScrollArea *scroll = m_menu->view()->listScrollArea();
        const QRect row = m_menu->view()->rowRect(9);
        const int top = scroll->verticalScrollBar()->value();
        QVERIFY(top > 0);
        QVERIFY(row.top() >= top && row.bottom() <= top + scroll->viewport()->height());

        QWidget *list = scroll->widget();
        QMouseEvent move(QEvent::MouseMove, QPointF(m_menu->view()->rowRect(4).center()),
                         list->mapToGlobal(QPointF(m_menu->view()->rowRect(4).center())), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(list, &move);
        QCOMPARE(m_menu->model()->selection(), 4);
        QTest::keyClick(field, Qt::Key_Up);
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(chosen.size(), 1);
        QCOMPARE(chosen.at(0).at(0).value<RefineAction>().id, u"condense"_s);
    }

    void generateFieldGrowsToEightLines()
    {
        openOver(u"\n"_s, AITrigger::generate(0));
        auto *field = qobject_cast<QPlainTextEdit *>(m_menu->view()->promptField());
        QVERIFY(field);
        QList<double> heights;
        for (int lines = 1; lines <= 10; ++lines) {
            field->setPlainText(u"line"_s.repeated(1) + u"\nline"_s.repeated(lines - 1));
            heights << m_menu->model()->headerHeight();
        }
        for (int i = 1; i < 8; ++i)
            QVERIFY2(heights.at(i) > heights.at(i - 1), qPrintable(QString::number(i)));
        QCOMPARE(heights.at(8), heights.at(7));
        QCOMPARE(heights.at(9), heights.at(7));
        QTRY_COMPARE(m_menu->panel()->height(),
                     int(heights.at(9)) + std::max(50, m_menu->view()->hintHeight()));
    }
};

QTEST_MAIN(TestAIMenuPanel)
#include "tst_aimenupanel.moc"
