// The AI menu over a real text view: the reply streams into the text as one
// edit, every ending leaves the right text and undo history, and the panel
// keeps the keyboard the way a menu should.
#include "../LoopbackReply.h"
#include "FloodServer.h"
#include "PeakMemory.h"
#include "assistant/AIMenuPanel.h"
#include "assistant/AIMenuView.h"
#include "assistant/core/AIAssistant.h"
#include "assistant/core/AIMenuModel.h"
#include "assistant/core/AIPlacement.h"
#include "assistant/core/AIRequest.h"
#include "editor/ListContinuingTextView.h"
#include "editor/UndoNames.h"
#include "service/core/APIClient.h"
#include "widgets/Motion.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPropertyAnimation>
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
    std::unique_ptr<LoopbackReply> m_service;
    std::unique_ptr<APIClient> m_client;
    std::unique_ptr<AIAssistant> m_assistant;
    std::unique_ptr<AIMenuPanel> m_menu;
    qint64 m_now = 0;
    int m_unauthorized = 0;

    QTextDocument *document() const { return m_view->document(); }

    void openOver(const QString &text, const AITrigger &trigger)
    {
        m_view->setString(text);
        m_view->setSelectedRange(trigger.range);
        m_menu->show(trigger, m_view);
        QVERIFY(m_menu->isVisible());
        QTRY_VERIFY(m_menu->panel()->isActiveWindow());
    }

    // The request went out and its reply head came back.
    void replyStarts()
    {
        QTRY_VERIFY(m_service->requested());
        m_service->head();
    }

    // The reply's next bytes, written into the text once they arrive.
    void reply(const QByteArray &bytes)
    {
        const QString before = m_view->string();
        m_service->send(bytes);
        QTRY_VERIFY(m_view->string() != before || !m_menu->pendingRange());
    }

private Q_SLOTS:
    void init()
    {
        Motion::overrideEnabled(false);
        Motion::overrideReduced(false);
        m_window = std::make_unique<QWidget>();
        m_window->resize(600, 400);
        m_view = new ListContinuingTextView(m_window.get());
        (new QVBoxLayout(m_window.get()))->addWidget(m_view);
        m_service = std::make_unique<LoopbackReply>();
        m_client = std::make_unique<APIClient>(m_service->url());
        m_client->setTokenProvider([] { return std::optional(u"t"_s); });
        // Every reading is a hand-over interval after the one before.
        m_assistant = std::make_unique<AIAssistant>(AIAssistant::overClient(m_client.get()),
                                                    [this] { return m_now += 20; });
        m_menu = std::make_unique<AIMenuPanel>(nullptr, m_assistant.get(), [this] { ++m_unauthorized; });
        m_window->show();
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get(), TestWaits::limitMs));
    }

    void cleanup()
    {
        m_menu.reset();
        m_window.reset();
        m_assistant.reset();
        m_client.reset();
        m_service.reset();
        m_unauthorized = 0;
    }

    void endings_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("open");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("undoSteps"); // back to before the request (with the test's own edits)
        QTest::addColumn<QString>("undone");
        QTest::addColumn<QString>("undoText"); // the Edit menu's item after the ending
        QTest::newRow("finished: kept, one step")
            << u"finish"_s << u"hello bold one world"_s << false << QString() << 1 << u"hello brave world"_s
            << u"Undo AI Rewrite"_s;
        QTest::newRow("Escape: restored, no step") << u"escape"_s << u"hello brave world"_s << false
                                                   << QString() << 0 << u"hello brave world"_s << u"Undo"_s;
        QTest::newRow("Escape after a file dropped in a pause: restored beside it")
            << u"dropThenEscape"_s << u"![a](u) hello brave world"_s << false << QString() << 3
            << u"hello brave world"_s << u"Undo"_s;
        QTest::newRow("broken off: restored, message")
            << u"drop"_s << u"hello brave world"_s << true << AIStream::failureMessage() << 0
            << u"hello brave world"_s << u"Undo"_s;
        QTest::newRow("document changed: what was written stays as one step")
            << u"shrunk"_s << u"ello bold one"_s << true << AIMenuPanel::documentChangedMessage() << 3
            << u"hello brave world"_s << u"Undo"_s;
        QTest::newRow("document grew before the reply: stops, nothing misplaced")
            << u"grown"_s << u">hello bold one world"_s << true << AIMenuPanel::documentChangedMessage() << 2
            << u"hello brave world"_s << u"Undo"_s;
        QTest::newRow("closed keeping the text: one step")
            << u"keep"_s << u"hello bold one world"_s << false << QString() << 1 << u"hello brave world"_s
            << u"Undo AI Rewrite"_s;
    }

    void endings()
    {
        QFETCH(QString, ending);
        QFETCH(QString, text);
        QFETCH(bool, open);
        QFETCH(QString, message);
        QFETCH(int, undoSteps);
        QFETCH(QString, undone);
        QFETCH(QString, undoText);
        openOver(u"hello brave world"_s, AITrigger::refine({6, 5}));
        m_menu->model()->submit(); // the first preset
        QCOMPARE(m_menu->model()->phase().kind, AIMenuModel::Phase::Kind::Streaming);
        replyStarts();
        reply("bold");
        QCOMPARE(m_view->string(), u"hello bold world"_s);
        QCOMPARE(m_menu->pendingRange(), std::optional(TextRange{6, 4}));
        reply(" one");
        QCOMPARE(m_menu->pendingRange(), std::optional(TextRange{6, 8}));

        const bool aborted = ending != u"finish" && ending != u"drop";
        if (ending == u"finish") {
            m_service->end();
            QTRY_VERIFY(!m_menu->isVisible());
        } else if (ending == u"escape") {
            QTest::keyClick(m_menu->panel(), Qt::Key_Escape);
        } else if (ending == u"dropThenEscape") {
            m_view->replaceCharacters({0, 0}, u"![a](u) "_s, false);
            QTest::keyClick(m_menu->panel(), Qt::Key_Escape);
        } else if (ending == u"drop") {
            m_service->drop();
            QTRY_VERIFY(!m_menu->pendingRange());
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
        if (ending == u"dropThenEscape")
            QCOMPARE(m_view->selectedRange(), (TextRange{14, 5}));
        QCOMPARE(UndoNames::undoText(document()), undoText);
        for (int i = 0; i < undoSteps; ++i) {
            QVERIFY(m_view->string() != undone || i == 0);
            m_view->undo();
        }
        QCOMPARE(m_view->string(), undone);
        QVERIFY(!document()->isUndoAvailable());
        if (aborted)
            QTRY_VERIFY(!m_service->connected());
        QCOMPARE(m_unauthorized, 0);
    }

    // Undoing the reply with the editor's own key puts the caret after the
    // earlier text, where the writer was, and the view stays on it.
    void undoKeepsTheWritersPlace_data()
    {
        QTest::addColumn<bool>("generate");
        QTest::newRow("rewrite") << false;
        QTest::newRow("generate") << true;
    }

    void undoKeepsTheWritersPlace()
    {
        QFETCH(bool, generate);
        QString text;
        for (int line = 1; line <= 200; ++line)
            text += u"line %1 of the text\n"_s.arg(line);
        const qsizetype at = text.indexOf(u"line 150 "_s) + 5;
        const TextRange range = generate ? TextRange{at, 0} : TextRange{at, 3}; // "150"
        openOver(text, generate ? AITrigger::generate(at) : AITrigger::refine(range));
        if (generate)
            m_menu->model()->setQuery(u"a number"_s);
        m_menu->model()->submit();
        replyStarts();
        reply("one hundred and fifty");
        m_service->end();
        QTRY_VERIFY(!m_menu->isVisible());
        QTRY_COMPARE(QApplication::focusWidget(), m_view);
        const int scrolled = m_view->verticalScrollBar()->value();
        QVERIFY(scrolled > 0);

        QTest::keyClick(m_view, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(m_view->string(), text);
        QCOMPARE(m_view->selectedRange(), (TextRange{range.end(), 0}));
        QCOMPARE(m_view->verticalScrollBar()->value(), scrolled);
    }

    void unauthorizedClosesAndChecksTheAccount()
    {
        openOver(u"hello brave world"_s, AITrigger::refine({6, 5}));
        m_menu->model()->submit();
        QTRY_VERIFY(m_service->requested());
        m_service->error(401, R"({"error":{"code":"unauthorized","message":"Sign in to continue."}})");
        QTRY_VERIFY(!m_menu->isVisible());
        QCOMPARE(m_view->string(), u"hello brave world"_s);
        QCOMPARE(m_unauthorized, 1);
    }

    // A runaway reply stops at the limit; what came stays, as one step.
    void tooLongReplyKeepsWhatCame()
    {
        openOver(u"hello brave world"_s, AITrigger::refine({6, 5}));
        m_menu->model()->submit();
        replyStarts();
        const QByteArray line = QByteArray(127, 'a') + '\n';
        for (int i = 0; i < 40; ++i) {
            m_service->send(line.repeated(1024)); // 128 KiB
            QCoreApplication::processEvents();
        }
        QTRY_COMPARE(m_menu->model()->phase(), AIMenuModel::Phase::error(u"The AI reply was too long."_s));
        QVERIFY(m_menu->isVisible());
        QCOMPARE(m_view->length(), 17 - 5 + AIStream::maximumReplyBytes);
        QCOMPARE(UndoNames::undoText(document()), u"Undo AI Rewrite"_s);
        m_view->undo();
        QCOMPARE(m_view->string(), u"hello brave world"_s);
        QTRY_VERIFY(!m_service->connected());
    }

    // An endless reply, faster than the text view takes it, waits in the
    // network rather than in memory: a 2xx one stops at the limit as one
    // step, an error one once enough of its body has come to name it.
    void anEndlessReplyStaysInBoundedMemory_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::addColumn<qsizetype>("length");
        QTest::addColumn<QString>("undoText");
        QTest::newRow("reply: what came stays, one step")
            << 200 << u"The AI reply was too long."_s << qsizetype(17 - 5 + AIStream::maximumReplyBytes)
            << u"Undo AI Rewrite"_s;
        QTest::newRow("error body: restored, no step")
            << 500 << u"Request failed (500)."_s << qsizetype(17) << u"Undo"_s;
    }

    void anEndlessReplyStaysInBoundedMemory()
    {
        QFETCH(int, status);
        QFETCH(QString, message);
        QFETCH(qsizetype, length);
        QFETCH(QString, undoText);
        const qint64 budget = qint64(512) << 20;
        FloodServer flood(status, FloodServer::Body::chunked, budget);
        m_client = std::make_unique<APIClient>(flood.url());
        m_assistant = std::make_unique<AIAssistant>(AIAssistant::overClient(m_client.get()),
                                                    [this] { return m_now += 20; });
        m_menu = std::make_unique<AIMenuPanel>(nullptr, m_assistant.get(), [] {});
        openOver(u"hello brave world"_s, AITrigger::refine({6, 5}));
        const PeakMemory memory;
        m_menu->model()->submit();
        QTRY_COMPARE_WITH_TIMEOUT(m_menu->model()->phase(), AIMenuModel::Phase::error(message),
                                  TestWaits::limitMs);
        if (PeakMemory::meaningful)
            QVERIFY2(memory.rise() < (64 << 20),
                     qPrintable(u"peak rose by %1 MiB"_s.arg(memory.rise() >> 20)));
        QVERIFY(flood.served() < budget);
        QCOMPARE(m_view->length(), length);
        QCOMPARE(UndoNames::undoText(document()), undoText);
        m_view->undo();
        QCOMPARE(m_view->string(), u"hello brave world"_s);
    }

    void errorRowShowsTwoLines_data()
    {
        QTest::addColumn<QString>("message");
        QTest::newRow("one line") << u"Model unavailable."_s;
        QTest::newRow("selection too long")
            << AIRequest::refine(u"fix-grammar"_s, {}, QString(20001, u'a'), {}, {})
                   .validationError()
                   .value();
        QTest::newRow("unreachable") << u"Couldn't reach tessivo.example.com. Check your connection."_s;
    }

    void errorRowShowsTwoLines()
    {
        QFETCH(QString, message);
        openOver(u"hello brave world"_s, AITrigger::refine({6, 5}));
        m_menu->model()->setPhase(AIMenuModel::Phase::error(message));
        auto *label = m_menu->view()->findChild<QLabel *>(u"aiError"_s);
        QVERIFY(label);
        QTRY_VERIFY(label->isVisible());
        QCOMPARE(label->text(), message);
        // Every line the message needs at the label's width is inside the
        // label, and the label inside the panel.
        QVERIFY2(label->heightForWidth(label->width()) <= label->height(),
                 qPrintable(u"%1 > %2"_s.arg(label->heightForWidth(label->width())).arg(label->height())));
        QTRY_VERIFY(m_menu->panel()->rect().contains(
            QRect(label->mapTo(m_menu->panel(), QPoint(0, 0)), label->size())));
        QTRY_COMPARE(m_menu->panel()->height(),
                     AIPlacement::menuHeight(*m_menu->model(), 0, m_menu->view()->errorHeight()));
    }

    // A new phase brings its face in on the menu's spring (0.2 s, 0.85) and
    // the panel glides to its new height over 0.2 s, easing out; with
    // effects off both are there at once.
    void phaseChangesMove_data()
    {
        QTest::addColumn<bool>("motion");
        QTest::addColumn<bool>("reduced");
        QTest::newRow("motion") << true << false;
        QTest::newRow("less motion: the frame at once") << true << true;
        QTest::newRow("effects off") << false << false;
    }

    void phaseChangesMove()
    {
        QFETCH(bool, motion);
        QFETCH(bool, reduced);
        Motion::overrideEnabled(motion);
        Motion::overrideReduced(reduced);
        openOver(u"hello brave world"_s, AITrigger::refine({6, 5}));
        QTRY_COMPARE(m_menu->panel()->height(), AIPlacement::menuHeight(*m_menu->model()));
        const QRect before = m_menu->panel()->geometry();
        m_menu->model()->setPhase(AIMenuModel::Phase::streaming(u"Rewriting\u2026"_s));
        QVERIFY(m_menu->view()->findChild<QWidget *>(u"aiStatusFace"_s)->isVisible());
        auto *face = m_menu->view()->findChild<QWidget *>(u"aiStatusBody"_s);
        QVERIFY(face && face->isVisible());
        QVERIFY(m_menu->view()->findChild<QWidget *>(u"aiMenuFace"_s)->isHidden());
        if (!motion) {
            QVERIFY(!Motion::runningFade(face));
            QCOMPARE(Motion::opacity(face), 1.0);
            QTRY_COMPARE(m_menu->panel()->height(), 48);
            QVERIFY(!Motion::running(m_menu->panel(), "geometry"));
            return;
        }
        QPointer<QPropertyAnimation> fade = Motion::runningFade(face);
        QVERIFY(fade);
        QCOMPARE(fade->duration(), Motion::settleMs({0.2, 0.85}));
        fade->setCurrentTime(0);
        QCOMPARE(Motion::opacity(face), 0.0);
        fade->setCurrentTime(40);
        QVERIFY(qAbs(Motion::opacity(face) - Motion::springProgress({0.2, 0.85}, 0.04)) < 0.01);
        QVERIFY(Motion::opacity(face) > 0.2 && Motion::opacity(face) < 0.9);

        if (reduced) {
            QTRY_VERIFY(m_menu->panel()->geometry() != before ||
                        Motion::running(m_menu->panel(), "geometry"));
            QVERIFY(!Motion::running(m_menu->panel(), "geometry"));
            QCOMPARE(m_menu->panel()->height(), 48);
            return;
        }
        QTRY_VERIFY(Motion::running(m_menu->panel(), "geometry"));
        QPropertyAnimation *glide = Motion::running(m_menu->panel(), "geometry");
        QCOMPARE(glide->duration(), 200);
        glide->setCurrentTime(0);
        QCOMPARE(m_menu->panel()->geometry(), before);
        m_menu->panel()->grab(); // drawn on the way, still fading
        glide->setCurrentTime(100);
        const qreal p = Motion::easeOut().valueForProgress(0.5);
        QVERIFY(qAbs(m_menu->panel()->height() - (before.height() + (48 - before.height()) * p)) <= 1);
        m_menu->panel()->grab();
        QVERIFY(fade);
        fade->setCurrentTime(fade->duration());
        QCOMPARE(Motion::opacity(face), 1.0);
        m_menu->panel()->grab();
        glide->setCurrentTime(200);
        QCOMPARE(m_menu->panel()->height(), 48);

        // The status text is drawn where the row now is, on its middle line.
        auto *label = face->findChild<QLabel *>();
        QVERIFY(label);
        const QImage drawn = m_menu->panel()->grab().toImage();
        const qreal ratio = drawn.devicePixelRatio();
        const QRect area(label->mapTo(m_menu->panel(), QPoint()), label->size());
        const QColor background = drawn.pixelColor((area.topLeft() + QPoint(2, 2)) * ratio);
        int top = drawn.height(), bottom = -1;
        for (int y = 0; y < drawn.height(); ++y)
            for (int x = area.left() * ratio; x < area.right() * ratio; ++x) {
                const QColor c = drawn.pixelColor(x, y);
                if (qAbs(c.lightness() - background.lightness()) > 60) {
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                }
            }
        QVERIFY(bottom >= 0);
        const qreal middle = (top + bottom) / 2.0 / ratio;
        QVERIFY2(qAbs(middle - area.center().y()) <= 4,
                 qPrintable(u"text around %1, row middle %2"_s.arg(middle).arg(area.center().y())));
    }

    // While it writes, the menu goes along when its window moves or changes
    // size, at once, keeping its place under the selection; with the window
    // hanging off the screen's top it stays on the screen.
    void followsItsWindow()
    {
        Motion::overrideEnabled(true);
        QString text = u"hello brave world\n"_s.repeated(12);
        openOver(text, AITrigger::refine({6 + 18 * 8, 5}));
        m_menu->model()->submit();
        replyStarts();
        reply("bold");
        QWidget *panel = m_menu->panel();
        QTRY_COMPARE(panel->height(), 48);
        QTRY_VERIFY(!Motion::running(panel, "geometry"));
        const auto offset = [&] {
            return panel->pos() - m_view->caretRectOnScreen(m_menu->trigger()->range.location).topLeft();
        };
        const QPoint below = offset();
        QVERIFY(below.y() > 0);

        const QPoint start = m_window->pos();
        for (const QPoint &to : {start + QPoint(140, 90), start + QPoint(-60, 30)}) {
            m_window->move(to);
            QTRY_COMPARE(m_window->pos(), to);
            QTRY_COMPARE(offset(), below);
            QVERIFY(!Motion::running(panel, "geometry"));
        }
        m_window->resize(460, 520); // the line wraps elsewhere
        QTRY_COMPARE(m_window->size(), QSize(460, 520));
        QTRY_COMPARE(offset(), below);

        const QRect area = m_window->screen()->availableGeometry();
        m_window->move(start.x(), area.top() - 400);
        QTRY_VERIFY(m_view->caretRectOnScreen(m_menu->trigger()->range.location).top() < area.top());
        QTRY_COMPARE(offset().x(), below.x()); // placed anew
        QTRY_VERIFY2(area.contains(panel->geometry()), qPrintable(QDebug::toString(panel->geometry())));
        QVERIFY(m_menu->pendingRange());
    }

    // The refine field shows its whole placeholder, with the chip beside it.
    void placeholderShowsWhole()
    {
        openOver(u"hello brave world"_s, AITrigger::refine({6, 5}));
        auto *field = qobject_cast<QLineEdit *>(m_menu->view()->promptField());
        QVERIFY(field);
        QCOMPARE(field->placeholderText(), u"Search or type a custom prompt\u2026"_s);
        auto *chip = m_menu->view()->findChild<QLabel *>(u"aiShortcutChip"_s);
        QVERIFY(chip && chip->isVisible());
        QCOMPARE(chip->text(), u"Ctrl+J"_s);
        QVERIFY(chip->geometry().left() > field->geometry().right());
        // QLineEdit keeps 2 pixels on each side of its text.
        QVERIFY2(field->fontMetrics().horizontalAdvance(field->placeholderText()) <= field->width() - 4,
                 qPrintable(u"%1 > %2"_s.arg(field->fontMetrics().horizontalAdvance(field->placeholderText()))
                                .arg(field->width() - 4)));
    }

    void clickInTheEditorClosesWithRevert()
    {
        openOver(u"hello brave world"_s, AITrigger::refine({6, 5}));
        m_menu->model()->submit();
        replyStarts();
        reply("bold");
        m_window->activateWindow();
        QTRY_VERIFY(!m_menu->isVisible());
        QCOMPARE(m_view->string(), u"hello brave world"_s);
        QCOMPARE(m_view->selectedRange(), (TextRange{6, 5}));
        QTRY_VERIFY(!m_service->connected());
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
