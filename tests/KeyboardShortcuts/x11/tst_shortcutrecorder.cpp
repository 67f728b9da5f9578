// The recorder field as a user meets it: real clicks and key presses
// (xdotool) on a private X server with openbox managing the windows, and a
// stand-in for the system's hot keys so that "another program" can hold a
// combination.
#include "OwnXServer.h"

#include "KeyboardShortcuts/FakeHotKeyBackend.h"
#include "KeyboardShortcuts/ShortcutRecorder.h"
#include "KeyboardShortcuts/core/DisplayText.h"
#include "KeyboardShortcuts/core/Registry.h"

#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <functional>
#include <memory>

using namespace KeyboardShortcuts;
using OwnXServer::xdotool;

namespace {

const Shortcut metaAltK(Key::k(), control | option);
const Shortcut metaAltJ(Key::j(), control | option);

void clickAt(const QWidget *widget, const QPoint &at)
{
    const QPoint global = widget->mapToGlobal(at);
    xdotool({"mousemove", "--sync", QString::number(global.x()), QString::number(global.y())});
    xdotool({"click", "1"});
}

void clickOn(const QWidget *widget)
{
    clickAt(widget, widget->rect().center());
}

// Answers the next alert once it runs its own event loop (it is modal) and,
// as for a user, once the window manager has given it the keyboard. Qt takes
// its own request to activate the alert for the activation: an alert
// answered before the window manager acts on it leaves the keyboard where it
// was, and Qt is never told that it is back.
class AlertAnswer final : public QObject
{
public:
    explicit AlertAnswer(std::function<void(QMessageBox *)> answer) : m_answer(std::move(answer))
    {
        connect(&m_poll, &QTimer::timeout, this, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (box && xdotool({"getwindowfocus"}) == QString::number(box->winId())) {
                m_poll.stop();
                ++shown;
                m_answer(box);
            }
        });
        m_poll.start(20);
    }

    int shown = 0;

private:
    std::function<void(QMessageBox *)> m_answer;
    QTimer m_poll;
};

// Counts the presses of a key anywhere in the application: pressed after
// other input, it tells when that input has been handled.
class KeyCounter final : public QObject
{
public:
    explicit KeyCounter(int key) : m_key(key) { qApp->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == m_key &&
            !static_cast<QKeyEvent *>(event)->isAutoRepeat())
            ++count;
        return false;
    }

private:
    int m_key;
};

QAbstractButton *buttonWithText(QMessageBox *box, const QString &text)
{
    for (QAbstractButton *button : box->buttons())
        if (button->text() == text)
            return button;
    return nullptr;
}

} // namespace

class TestShortcutRecorder : public QObject
{
    Q_OBJECT

    pid_t m_windowManager = -1;
    std::unique_ptr<QSettings> m_settings;
    FakeHotKeyBackend m_backend;
    std::unique_ptr<Registry> m_registry;
    std::unique_ptr<QWidget> m_window;
    ShortcutRecorder *m_field = nullptr;
    QLineEdit *m_other = nullptr;
    const Name m_name{QStringLiteral("recorded")};

    // The field and another text field in the window, the other one
    // focused: the window has the keyboard, the field does not.
    void showFields()
    {
        m_field = new ShortcutRecorder(m_registry.get(), m_name);
        m_other = new QLineEdit;
        m_window->layout()->addWidget(m_field);
        m_window->layout()->addWidget(m_other);
        // As the user would bring it forward (the window manager may refuse
        // an application's own request).
        xdotool({"windowactivate", "--sync", QString::number(m_window->winId())});
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        // The window manager has handed it the keyboard, not only Qt.
        QTRY_COMPARE(xdotool({"getwindowfocus"}), QString::number(m_window->winId()));
        m_other->setFocus();
        QTRY_VERIFY(m_other->hasFocus());
        QVERIFY(!m_field->isRecording());
    }

    void startRecording()
    {
        clickOn(m_field);
        QTRY_VERIFY(m_field->isRecording());
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_windowManager = OwnXServer::startWindowManager();
        QVERIFY(m_windowManager > 0);
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("TessivoTests"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_shortcutrecorder"));
        m_settings = std::make_unique<QSettings>();
        // One window for all: each new one would be another placement and
        // activation by the window manager to wait for.
        m_window = std::make_unique<QWidget>();
        m_window->setWindowTitle(QStringLiteral("Recorder"));
        new QVBoxLayout(m_window.get());
        m_window->setGeometry(200, 200, 400, 200);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get(), TestWaits::limitMs));
    }

    void cleanupTestCase()
    {
        m_window.reset();
        OwnXServer::stopWindowManager(m_windowManager);
    }

    void init()
    {
        m_settings->clear();
        m_backend = FakeHotKeyBackend();
        m_registry = std::make_unique<Registry>();
        m_registry->setBackend(&m_backend);
        m_registry->setShortcut(metaAltK, m_name);
        m_registry->onKeyUp(m_name, [] {});
        showFields();
    }

    void cleanup()
    {
        qDeleteAll(m_window->findChildren<QWidget *>(Qt::FindDirectChildrenOnly));
        m_registry.reset();
    }

    void theClearButtonRemovesTheShortcut_data()
    {
        QTest::addColumn<bool>("recording");
        QTest::newRow("idle field") << false;
        QTest::newRow("recording field") << true;
    }

    void theClearButtonRemovesTheShortcut()
    {
        QFETCH(bool, recording);
        if (recording)
            startRecording();
        QSignalSpy changed(m_field, &ShortcutRecorder::shortcutChanged);
        auto *clear = m_field->findChild<QToolButton *>();
        QVERIFY(clear && clear->isVisible());
        clickOn(clear);
        QTRY_COMPARE(m_registry->shortcut(m_name), std::nullopt);
        QCOMPARE(m_field->text(), QString());
        QCOMPARE(changed.size(), 1);
        QVERIFY(!m_backend.grabbed.contains(metaAltK));
        // Recording goes on, for the shortcut that replaces it.
        QTRY_VERIFY(m_field->isRecording());
        QTRY_VERIFY(!clear->isVisible());
    }

    void onlyTheSecondButtonOfTheConflictAlertStores_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("stored");
        QTest::newRow("Escape") << "escape" << false;
        QTest::newRow("window closed") << "close" << false;
        QTest::newRow("first button") << "ok" << false;
        QTest::newRow("second button") << "force" << true;
    }

    void onlyTheSecondButtonOfTheConflictAlertStores()
    {
        QFETCH(QString, answer);
        QFETCH(bool, stored);
        m_backend.heldElsewhere.insert(metaAltJ);
        startRecording();
        AlertAnswer alert([answer](QMessageBox *box) {
            if (answer == QLatin1String("escape"))
                QTest::keyClick(box, Qt::Key_Escape);
            else if (answer == QLatin1String("close"))
                box->close();
            else
                buttonWithText(box, localizedText(answer == QLatin1String("ok")
                                                      ? QStringLiteral("ok")
                                                      : QStringLiteral("force_use_shortcut")))
                    ->click();
        });
        xdotool({"key", "super+alt+j"});
        QTRY_COMPARE(alert.shown, 1);
        QTRY_VERIFY(!QApplication::activeModalWidget());
        QCOMPARE(m_registry->shortcut(m_name), std::optional(stored ? metaAltJ : metaAltK));
        // Refused: the working shortcut keeps its grab.
        QCOMPARE(m_registry->isRegistered(metaAltK), !stored);
    }

    // The field asks for the focus while the alert's window is still the
    // active one; the window manager activates the field's window a moment
    // later. Whichever comes first, recording starts again.
    void aNewRecordingStartsAfterEveryConflictAlert()
    {
        auto *bar = new QMenuBar(m_window.get());
        QAction *item = bar->addMenu(QStringLiteral("Edit"))->addAction(QStringLiteral("Jump"));
        item->setShortcut(QKeySequence(QStringLiteral("Meta+Alt+J")));
        startRecording();
        for (int round = 0; round < 25; ++round) {
            AlertAnswer alert([](QMessageBox *box) { QTest::keyClick(box, Qt::Key_Escape); });
            xdotool({"key", "super+alt+j"});
            // No alert: whether the key found the field recording, and where
            // the keyboard was.
            QTRY_VERIFY2(
                alert.shown == 1,
                qPrintable(
                    QStringLiteral("round %1: recording %2, focus widget %3, X focus %4, window %5")
                        .arg(round)
                        .arg(m_field->isRecording())
                        .arg(QApplication::focusWidget()
                                 ? QString::fromLatin1(QApplication::focusWidget()->metaObject()->className())
                                 : QStringLiteral("none"))
                        .arg(xdotool({"getwindowfocus"}))
                        .arg(m_window->winId())));
            QTRY_VERIFY_WITH_TIMEOUT(QApplication::activeWindow() == m_window.get(), TestWaits::limitMs);
            QTRY_VERIFY2_WITH_TIMEOUT(m_field->isRecording(), qPrintable(QString::number(round)),
                                      TestWaits::limitMs);
            QCOMPARE(m_registry->shortcut(m_name), std::optional(metaAltK));
            // Qt counts the window active again on its own request; the next
            // key reaches it only once the window manager has handed it the
            // keyboard too.
            QTRY_COMPARE(xdotool({"getwindowfocus"}), QString::number(m_window->winId()));
        }
    }

    void aClickNearTheFieldIsSwallowedWhileRecording_data()
    {
        QTest::addColumn<int>("gap");
        QTest::addColumn<bool>("swallowed");
        QTest::newRow("2 px away") << 2 << true;
        QTest::newRow("3 px away") << 3 << true;
        QTest::newRow("4 px away") << 4 << false;
    }

    void aClickNearTheFieldIsSwallowedWhileRecording()
    {
        QFETCH(int, gap);
        QFETCH(bool, swallowed);
        // A button right of the field, with a 1 px gap between them.
        auto *button = new QPushButton(QStringLiteral("Next"), m_window.get());
        const QRect field = m_field->geometry();
        button->setGeometry(field.right() + 2, field.top(), 80, field.height());
        button->show();
        QSignalSpy clicked(button, &QAbstractButton::clicked);
        startRecording();
        clickAt(m_field, QPoint(m_field->width() - 1 + gap, m_field->height() / 2));
        if (swallowed) {
            // A Shift press after the click: once it arrives, so has the click.
            KeyCounter shifts(Qt::Key_Shift);
            xdotool({"key", "shift"});
            QTRY_VERIFY(shifts.count > 0);
            QCOMPARE(clicked.size(), 0);
            QVERIFY(m_field->isRecording());
        } else {
            QTRY_COMPARE(clicked.size(), 1);
            QVERIFY(!m_field->isRecording());
        }
    }
};

OWN_X_SERVER_TEST_MAIN(TestShortcutRecorder)
#include "tst_shortcutrecorder.moc"
