// The pill over a real editor in a real window manager: it follows the text
// it points at when the window moves and when the sidebar gives way, and
// stays out of sight while another window of the app is in front.
#include "app/core/AppNotifications.h"
#include "assistant/AIPillPanel.h"
#include "assistant/AIPillView.h"
#include "assistant/AssistantPanels.h"
#include "assistant/core/AIAssistant.h"
#include "assistant/core/AIPlacement.h"
#include "editor/ListContinuingTextView.h"
#include "editor/MarkdownTextView.h"
#include "editor/SpellChecker.h"
#include "service/core/APIClient.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QScreen>
#include <QTest>

using namespace Qt::StringLiterals;

class TestAIPillPanel : public QObject
{
    Q_OBJECT

    // The pill makes no request: nothing answers at this address.
    APIClient m_client{QUrl(QStringLiteral("http://127.0.0.1:9"))};
    AIAssistant m_assistant{AIAssistant::overClient(&m_client)};
    AppNotifications m_notifications;
    SpellChecker m_spelling;
    std::unique_ptr<QWidget> m_window;
    QWidget *m_sidebar = nullptr;
    MarkdownTextView *m_editor = nullptr;
    AssistantPanels *m_panels = nullptr;

    ListContinuingTextView *text() const { return m_editor->textView(); }
    QWidget *pill() const { return m_panels->pill()->view(); }

    // Where the pill belongs now, by the placement rule, for the selection.
    QPoint expected() const
    {
        const QRect anchor = text()->firstRectOnScreen(text()->selectedRange());
        return AIPlacement::pillOrigin(AITrigger::Kind::Refine, anchor, pill()->size(),
                                       m_window->screen()->availableGeometry());
    }

private Q_SLOTS:
    void init()
    {
        m_window = std::make_unique<QWidget>();
        auto *row = new QHBoxLayout(m_window.get());
        m_sidebar = new QWidget;
        m_sidebar->setFixedWidth(220);
        m_panels = new AssistantPanels(&m_assistant, {});
        m_editor = new MarkdownTextView(nullptr, &m_notifications, &m_spelling, m_panels);
        row->addWidget(m_sidebar);
        row->addWidget(m_editor, 1);
        m_window->setGeometry(200, 200, 800, 500);
        m_window->show();
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get(), TestWaits::limitMs));
        text()->setString(u"\n\nhello brave world\n"_s);
        text()->setFocus();
        QTRY_VERIFY(text()->hasFocus());
        text()->setSelectedRange({8, 5});
        QTRY_VERIFY(pill()->isVisible());
        QTRY_COMPARE(pill()->pos(), expected());
    }

    void cleanup() { m_window.reset(); }

    void followsTheWindowAndTheLayout()
    {
        const QPoint before = pill()->pos();
        m_window->move(m_window->pos() + QPoint(60, 40));
        QTRY_VERIFY(pill()->pos() != before);
        QTRY_COMPARE(pill()->pos(), expected());

        const QPoint moved = pill()->pos();
        m_sidebar->hide(); // the sidebar gives way: the editor moves left
        QTRY_VERIFY(pill()->pos().x() < moved.x() - 100);
        QTRY_COMPARE(pill()->pos(), expected());

        m_window->resize(700, 420);
        QTRY_COMPARE(pill()->pos(), expected());
        QVERIFY(pill()->isVisible());
    }

    // The refine pill casts a shadow just below its capsule; the generate
    // pill casts none (nothing of its window is there).
    void onlyTheRefinePillCastsAShadow()
    {
        const QImage image = pill()->grab().toImage();
        const qreal ratio = image.devicePixelRatio();
        const QPoint below(pill()->width() / 2, pill()->height() - 3);
        const QColor base = pill()->palette().color(QPalette::Base);
        const QColor shaded = image.pixelColor((QPointF(below) * ratio).toPoint());
        QVERIFY(pill()->mask().contains(below));
        QVERIFY2(shaded.lightness() < base.lightness() - 3,
                 qPrintable(u"%1 vs %2"_s.arg(shaded.lightness()).arg(base.lightness())));

        text()->setSelectedRange({0, 0}); // an empty line: the generate pill
        QTRY_COMPARE(m_panels->pill()->kind(), std::optional(AITrigger::Kind::Generate));
        QVERIFY(!pill()->mask().contains(QPoint(pill()->width() / 2, pill()->height() - 3)));
    }

    void stepsAsideWhileAnotherWindowIsInFront()
    {
        QDialog sheet(m_window.get());
        sheet.setWindowModality(Qt::WindowModal);
        sheet.resize(300, 200);
        sheet.show();
        sheet.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&sheet, TestWaits::limitMs));
        QTRY_VERIFY(!pill()->isVisible());
        sheet.close();
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get(), TestWaits::limitMs));
        QTRY_VERIFY(pill()->isVisible());
        QTRY_COMPARE(pill()->pos(), expected());
    }
};

QTEST_MAIN(TestAIPillPanel)
#include "tst_aipillpanel.moc"
