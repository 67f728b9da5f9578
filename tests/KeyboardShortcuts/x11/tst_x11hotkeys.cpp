// System-wide hot keys through X key grabs, on a private X server: presses
// come from xdotool, other programs are played by connections of our own.
#include "OwnXServer.h"

#include "KeyboardShortcuts/MenuItemShortcuts.h"
#include "KeyboardShortcuts/ShortcutRecorder.h"
#include "KeyboardShortcuts/X11HotKeyBackend.h"
#include "KeyboardShortcuts/core/DisplayText.h"
#include "KeyboardShortcuts/core/KeyboardShortcuts.h"

#include <QMenu>
#include <QSettings>
#include <QStandardPaths>

#include <memory>

using namespace KeyboardShortcuts;
using OwnXServer::xdotool;

namespace {

// Counts the presses of a key that reach `target` (the whole application
// when none): pressed after other keys, it tells when they were handled.
class KeyCounter final : public QObject
{
public:
    explicit KeyCounter(int key, QObject *target = nullptr) : m_key(key)
    {
        (target ? target : qApp)->installEventFilter(this);
    }
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == m_key)
            ++count;
        return false;
    }

private:
    int m_key;
};

// Waits until this application holds the keyboard, as an open menu does. A
// key another client grabbed on the root window comes here only then; until
// then each probe press goes to that client.
bool keyboardGrabbedHere()
{
    OwnXServer::OtherClient other;
    if (!other.grab(88 /* F12 */, 0))
        return false;
    KeyCounter probes(Qt::Key_F12);
    for (int sent = 1; sent <= 50; ++sent) {
        xdotool({"key", "F12"});
        if (!QTest::qWaitFor([&] { return probes.count > 0 || other.presses() >= sent; }, TestWaits::limitMs))
            return false;
        if (probes.count > 0)
            return true;
    }
    return false;
}

} // namespace

class TestX11HotKeys : public QObject
{
    Q_OBJECT

    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<Registry> m_registry;
    int m_downs = 0;
    int m_ups = 0;

    // A name storing `shortcut` with counting handlers.
    Name counted(const QString &raw, const Shortcut &shortcut)
    {
        const Name name(raw);
        m_registry->setShortcut(shortcut, name);
        m_registry->onKeyDown(name, [this] { ++m_downs; });
        m_registry->onKeyUp(name, [this] { ++m_ups; });
        return name;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("TessivoTests"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_x11hotkeys"));
        m_settings = std::make_unique<QSettings>();
        m_settings->clear();
    }

    void init()
    {
        m_downs = m_ups = 0;
        m_registry = std::make_unique<Registry>();
        QVERIFY(installSystemHotKeys(m_registry.get()));
    }

    void cleanup()
    {
        m_registry.reset();
        m_settings->clear();
    }

    void aHeldKeyFiresOnceAndLockKeysDoNotMatter()
    {
        counted(QStringLiteral("k"), Shortcut(Key::k(), control | option));
        xdotool({"keydown", "super+alt+k"});
        xdotool({"keydown", "k"}); // the key repeats while held
        QTRY_COMPARE(m_downs, 1);
        QCOMPARE(m_ups, 0);
        xdotool({"keyup", "k", "keyup", "alt", "keyup", "super"});
        QTRY_COMPARE(m_ups, 1);
        QCOMPARE(m_downs, 1);

        xdotool({"key", "Caps_Lock", "key", "Num_Lock"});
        xdotool({"key", "super+alt+k"});
        xdotool({"key", "Caps_Lock", "key", "Num_Lock"});
        QTRY_COMPARE(m_ups, 2);
    }

    void aCombinationAnotherProgramHoldsIsRefusedAndFoundTaken()
    {
        OwnXServer::OtherClient other;
        QVERIFY(other.grab(36 /* J */, OwnXServer::metaAlt));
        const Shortcut taken(Key::j(), control | option);
        counted(QStringLiteral("j"), taken);
        QVERIFY(!m_registry->isRegistered(taken));
        QVERIFY(m_registry->isTakenBySystem(taken));
        QVERIFY(!m_registry->isTakenBySystem(Shortcut(Key::h(), control | option)));
    }

    void firesWhileTheAppsMenuIsOpen()
    {
        counted(QStringLiteral("k"), Shortcut(Key::k(), control | option));
        QMenu menu;
        menu.addAction(QStringLiteral("Item"));
        menu.popup(QPoint(100, 100));
        QTRY_VERIFY(QApplication::activePopupWidget() == &menu);
        QVERIFY(keyboardGrabbedHere());
        xdotool({"key", "super+alt+k"});
        QTRY_COMPARE(m_ups, 1);
        QCOMPARE(m_downs, 1);
        QVERIFY(menu.isVisible());
        menu.close();
    }

    void aMenuGetsEveryKeyThatIsNoShortcut()
    {
        counted(QStringLiteral("k"), Shortcut(Key::k(), control | option));
        QMenu menu;
        menu.addAction(QStringLiteral("Item"));
        KeyCounter altsAtMenu(Qt::Key_Alt, &menu);
        KeyCounter shifts(Qt::Key_Shift);
        menu.popup(QPoint(100, 100));
        QTRY_VERIFY(QApplication::activePopupWidget() == &menu);
        QVERIFY(keyboardGrabbedHere());
        // Alt alone is no shortcut, though one shortcut uses it.
        xdotool({"key", "alt", "key", "shift"});
        QTRY_VERIFY(shifts.count > 0);
        QCOMPARE(altsAtMenu.count, 1);
        QCOMPARE(m_downs, 0);
        menu.close();
    }

    void aDisabledRegistryServesNoKeyWhileAMenuIsOpen()
    {
        counted(QStringLiteral("k"), Shortcut(Key::k(), control | option));
        m_registry->setEnabled(false);
        QMenu menu;
        menu.addAction(QStringLiteral("Item"));
        KeyCounter shifts(Qt::Key_Shift);
        KeyCounter ks(Qt::Key_K, &menu); // the combination did reach the menu
        menu.popup(QPoint(100, 100));
        QTRY_VERIFY(QApplication::activePopupWidget() == &menu);
        QVERIFY(keyboardGrabbedHere());
        xdotool({"key", "super+alt+k", "key", "shift"});
        QTRY_VERIFY(shifts.count > 0);
        QCOMPARE(ks.count, 1);
        QCOMPARE(m_downs + m_ups, 0);
        menu.close();
    }

    void recordingTakesEffectAtOnce()
    {
        const Name name = counted(QStringLiteral("rec"), Shortcut(Key::k(), control | option));
        QWidget window;
        auto *field = new ShortcutRecorder(m_registry.get(), name, &window);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window, TestWaits::limitMs));
        QVERIFY(!field->isRecording()); // activation alone does not record
        QTest::mouseClick(field, Qt::LeftButton);
        QTRY_VERIFY(field->isRecording());
        xdotool({"key", "super+alt+l"});
        QTRY_VERIFY(!field->isRecording());
        QCOMPARE(m_registry->shortcut(name), std::optional(Shortcut(Key::l(), control | option)));
        QCOMPARE(field->text(), QStringLiteral("Meta+Alt+L"));

        // The old combination no longer fires. A marker pressed last tells
        // when the keys before it have been handled.
        int marks = 0;
        const Name marker(QStringLiteral("marker"));
        m_registry->setShortcut(Shortcut(Key::m(), control | option), marker);
        m_registry->onKeyUp(marker, [&] { ++marks; });
        xdotool({"key", "super+alt+k", "key", "super+alt+l", "key", "super+alt+m"});
        QTRY_COMPARE(marks, 1);
        QCOMPARE(m_ups, 1);

        // Backspace clears, and recording goes on.
        QTest::mouseClick(field, Qt::LeftButton);
        xdotool({"key", "BackSpace"});
        QTRY_COMPARE(m_registry->shortcut(name), std::nullopt);
        QVERIFY(field->isRecording());
    }

    void aMenuItemFollowsItsName()
    {
        const Name name(QStringLiteral("menu"));
        m_registry->setShortcut(Shortcut(Key::m(), control | option), name);
        QMenu top, sub;
        QAction *item = sub.addAction(QStringLiteral("Item"));
        top.addAction(QStringLiteral("Plain"));
        top.addMenu(&sub);
        KeyboardShortcuts::setShortcut(item, m_registry.get(), name);
        // The server's layout names the key; the text is the key sequence's.
        QCOMPARE(item->shortcut().toString(), QStringLiteral("Meta+Alt+M"));
        QCOMPARE(actionWithMatchingShortcut(*m_registry->shortcut(name), top.actions(), m_registry->layout()),
                 item);
        m_registry->setShortcut(Shortcut(Key::f5(), shift), name);
        QCOMPARE(item->shortcut(), QKeySequence(Qt::SHIFT | Qt::Key_F5));
        KeyboardShortcuts::setShortcut(item, m_registry.get(), std::nullopt);
        m_registry->setShortcut(Shortcut(Key::m(), command), name);
        QVERIFY(item->shortcut().isEmpty());
    }
};

OWN_X_SERVER_TEST_MAIN(TestX11HotKeys)
#include "tst_x11hotkeys.moc"
