// System-wide hot keys through X key grabs, on a private X server: presses
// come from xdotool, other programs are played by connections of our own.
#include "OwnXServer.h"

#include "KeyboardShortcuts/MenuItemShortcuts.h"
#include "KeyboardShortcuts/ShortcutRecorder.h"
#include "KeyboardShortcuts/X11HotKeyBackend.h"
#include "KeyboardShortcuts/core/HotKeys.h"
#include "KeyboardShortcuts/core/KeyboardShortcuts.h"

#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>

#include <memory>

using namespace KeyboardShortcuts;
using OwnXServer::xdotool;

class TestX11HotKeys : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<QSettings> m_settings;
    int m_downs = 0;
    int m_ups = 0;

    // A name storing `shortcut` with counting handlers.
    Name counted(const QString &raw, const Shortcut &shortcut)
    {
        const Name name(raw);
        setShortcut(shortcut, name);
        onKeyDown(name, [this] { ++m_downs; });
        onKeyUp(name, [this] { ++m_ups; });
        return name;
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_settings =
            std::make_unique<QSettings>(m_dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat);
        setSettings(m_settings.get());
        QVERIFY(installSystemHotKeys());
    }

    void init() { m_downs = m_ups = 0; }

    void cleanup()
    {
        removeAllHandlers();
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
        QVERIFY(!HotKeys::isRegistered(taken));
        QVERIFY(HotKeys::isTakenBySystem(taken));
        QVERIFY(!HotKeys::isTakenBySystem(Shortcut(Key::h(), control | option)));
    }

    void firesWhileTheAppsMenuIsOpen()
    {
        counted(QStringLiteral("k"), Shortcut(Key::k(), control | option));
        QMenu menu;
        menu.addAction(QStringLiteral("Item"));
        menu.popup(QPoint(100, 100));
        QTRY_VERIFY(QApplication::activePopupWidget() == &menu);
        QTest::qWait(200); // until the menu's keyboard grab is in place
        xdotool({"key", "super+alt+k"});
        QTRY_COMPARE(m_ups, 1);
        QCOMPARE(m_downs, 1);
        QVERIFY(menu.isVisible());
        menu.close();
    }

    void recordingTakesEffectAtOnce()
    {
        const Name name = counted(QStringLiteral("rec"), Shortcut(Key::k(), control | option));
        QWidget window;
        auto *field = new ShortcutRecorder(name, &window);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QVERIFY(!field->isRecording()); // activation alone does not record
        QTest::mouseClick(field, Qt::LeftButton);
        QTRY_VERIFY(field->isRecording());
        xdotool({"key", "super+alt+l"});
        QTRY_VERIFY(!field->isRecording());
        QCOMPARE(getShortcut(name), std::optional(Shortcut(Key::l(), control | option)));
        QCOMPARE(field->text(), QStringLiteral("Meta+Alt+L"));

        // The old combination no longer fires. A marker pressed last tells
        // when the keys before it have been handled.
        int marks = 0;
        const Name marker(QStringLiteral("marker"));
        setShortcut(Shortcut(Key::m(), control | option), marker);
        onKeyUp(marker, [&] { ++marks; });
        xdotool({"key", "super+alt+k", "key", "super+alt+l", "key", "super+alt+m"});
        QTRY_COMPARE(marks, 1);
        QCOMPARE(m_ups, 1);

        // Backspace clears, and recording goes on.
        QTest::mouseClick(field, Qt::LeftButton);
        xdotool({"key", "BackSpace"});
        QTRY_COMPARE(getShortcut(name), std::nullopt);
        QVERIFY(field->isRecording());
    }

    void aMenuItemFollowsItsName()
    {
        const Name name(QStringLiteral("menu"));
        setShortcut(Shortcut(Key::m(), control | option), name);
        QMenu top, sub;
        QAction *item = sub.addAction(QStringLiteral("Item"));
        top.addAction(QStringLiteral("Plain"));
        top.addMenu(&sub);
        KeyboardShortcuts::setShortcut(item, name);
        // The server's layout names the key; the text is the key sequence's.
        QCOMPARE(item->shortcut().toString(), QStringLiteral("Meta+Alt+M"));
        QCOMPARE(actionWithMatchingShortcut(*getShortcut(name), top.actions()), item);
        setShortcut(Shortcut(Key::f5(), shift), name);
        QCOMPARE(item->shortcut(), QKeySequence(Qt::SHIFT | Qt::Key_F5));
        KeyboardShortcuts::setShortcut(item, std::nullopt);
        setShortcut(Shortcut(Key::m(), command), name);
        QVERIFY(item->shortcut().isEmpty());
    }
};

OWN_X_SERVER_TEST_MAIN(TestX11HotKeys)
#include "tst_x11hotkeys.moc"
