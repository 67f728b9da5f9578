// Key positions, display text for several layouts, the recorder's rules on
// synthesized key presses, and its built-in texts.
#include "KeyboardShortcuts/core/DisplayText.h"
#include "KeyboardShortcuts/core/KeyCodes.h"
#include "KeyboardShortcuts/core/RecorderRules.h"
#include "KeyboardShortcuts/core/Registry.h"

#include <QTemporaryDir>
#include <QTest>

using namespace KeyboardShortcuts;

namespace {

int x(Key key)
{
    return *xKeyCode(key.rawValue);
}

} // namespace

class TestShortcutDisplay : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void positionsMapToEvdevBothWays_data()
    {
        QTest::addColumn<qint64>("code");
        QTest::addColumn<int>("evdev");
        QTest::newRow("A") << Key::a().rawValue << 30;
        QTest::newRow("M") << Key::m().rawValue << 50;
        QTest::newRow("F12") << Key::f12().rawValue << 88;
        QTest::newRow("command is Ctrl") << Key::command().rawValue << 29;
        QTest::newRow("control is Super") << Key::control().rawValue << 125;
    }

    void positionsMapToEvdevBothWays()
    {
        QFETCH(qint64, code);
        QFETCH(int, evdev);
        QCOMPARE(evdevCode(code), std::optional(evdev));
        QCOMPARE(keyCodeForXKeyCode(evdev + 8), std::optional(code));
        QCOMPARE(evdevCode(Key::function().rawValue), std::nullopt);
    }

    void description_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<Shortcut>("shortcut");
        QTest::addColumn<QString>("text");
        QTest::newRow("us default") << "us" << Shortcut(Key::m(), control | option) << "Meta+Alt+M";
        QTest::newRow("all modifiers in Qt's order")
            << "us" << Shortcut(Key::p(), command | shift | option | control) << "Meta+Ctrl+Alt+Shift+P";
        QTest::newRow("de swaps Y and Z") << "de" << Shortcut(Key::z(), command) << "Ctrl+Y";
        QTest::newRow("de umlaut") << "de" << Shortcut(Key::semicolon(), command)
                                   << QString::fromUtf8("Ctrl+Ö");
        QTest::newRow("de dead key") << "de" << Shortcut(Key::backtick(), command) << "Ctrl+^";
        QTest::newRow("fr AZERTY") << "fr" << Shortcut(Key::q(), option) << "Alt+A";
        QTest::newRow("Latin beside Cyrillic") << "ru,us" << Shortcut(Key::m(), command) << "Ctrl+M";
        QTest::newRow("space") << "us" << Shortcut(Key::space(), command) << "Ctrl+Space";
        QTest::newRow("plain F12") << "us" << Shortcut(Key::f12()) << "F12";
        QTest::newRow("keypad") << "us" << Shortcut(Key::keypad5(), command) << "Ctrl+Num+5";
        QTest::newRow("no character: the symbol's name")
            << "us" << Shortcut(Key::capsLock(), command) << "Ctrl+Caps_Lock";
        QTest::newRow("no layout: the replacement character")
            << "" << Shortcut(Key::m(), option) << QStringLiteral("Alt+\uFFFD");
        QTest::newRow("no position: the replacement character")
            << "us" << Shortcut(Key::function(), command) << QStringLiteral("Ctrl+\uFFFD");
    }

    void description()
    {
        QFETCH(QString, layout);
        QFETCH(Shortcut, shortcut);
        QFETCH(QString, text);
        const auto keyboard = layout.isEmpty() ? nullptr : KeyboardLayout::fromNames(layout);
        QVERIFY(layout.isEmpty() || keyboard);
        QCOMPARE(KeyboardShortcuts::description(shortcut, keyboard.get()), text);
    }

    // Where no window system reports one (a Wayland session), the layout
    // comes from the session's own settings.
    void theSessionsLayout_data()
    {
        QTest::addColumn<QString>("variable");
        QTest::addColumn<QString>("file");
        QTest::addColumn<Shortcut>("shortcut");
        QTest::addColumn<QString>("text");
        const QString fr = QStringLiteral("XKBMODEL=\"pc105\"\nXKBLAYOUT=\"fr\"\nXKBVARIANT=\"\"\n");
        QTest::newRow("variables first") << "de" << fr << Shortcut(Key::z(), command) << "Ctrl+Y";
        QTest::newRow("then the keyboard file") << "" << fr << Shortcut(Key::q(), option) << "Alt+A";
        QTest::newRow("with its variant") << ""
                                          << "XKBLAYOUT=us\nXKBVARIANT='dvorak' # comment\n"
                                          << Shortcut(Key::s(), command) << "Ctrl+O";
        QTest::newRow("then us") << ""
                                 << "" << Shortcut(Key::m(), control | option) << "Meta+Alt+M";
        QTest::newRow("unknown layout: us") << ""
                                            << "XKBLAYOUT=\"nosuchlayout\"\n"
                                            << Shortcut(Key::m(), control | option) << "Meta+Alt+M";
    }

    void theSessionsLayout()
    {
        QFETCH(QString, variable);
        QFETCH(QString, file);
        QFETCH(Shortcut, shortcut);
        QFETCH(QString, text);
        const QByteArrayList names{"XKB_DEFAULT_LAYOUT", "XKB_DEFAULT_VARIANT", "XKB_DEFAULT_MODEL",
                                   "XKB_DEFAULT_OPTIONS"};
        for (const QByteArray &name : names)
            qunsetenv(name.constData());
        if (!variable.isEmpty())
            qputenv("XKB_DEFAULT_LAYOUT", variable.toUtf8());
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("keyboard"));
        if (!file.isEmpty()) {
            QFile out(path);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(file.toUtf8());
        }
        const auto layout = KeyboardLayout::fromSession(path);
        qunsetenv("XKB_DEFAULT_LAYOUT");
        QVERIFY(layout);
        QCOMPARE(KeyboardShortcuts::description(shortcut, layout.get()), text);
    }

    void aRegistryNamesKeysWithoutAWindowSystem()
    {
        qunsetenv("XKB_DEFAULT_LAYOUT");
        Registry registry;
        QVERIFY(!registry.backend());
        const QString text =
            KeyboardShortcuts::description(Shortcut(Key::m(), control | option), registry.layout());
        QVERIFY2(!text.contains(QChar(0xFFFD)), qPrintable(text));
        QVERIFY(text.startsWith(QLatin1String("Meta+Alt+")));
        QCOMPARE(qtKey(Shortcut(Key::m(), control | option), registry.layout()), int(text.back().unicode()));
    }

    void recorderRules_data()
    {
        QTest::addColumn<int>("xKey");
        QTest::addColumn<int>("qtKey");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("action");
        QTest::addColumn<Shortcut>("candidate");
        const auto row = [](const char *name, Key key, int qt, Qt::KeyboardModifiers mods,
                            RecorderDecision::Action action, Shortcut candidate = {}) {
            QTest::newRow(name) << x(key) << qt << int(mods) << int(action) << candidate;
        };
        using D = RecorderDecision;
        row("plain letter", Key::a(), Qt::Key_A, {}, D::reject);
        row("Shift+letter", Key::a(), Qt::Key_A, Qt::ShiftModifier, D::reject);
        row("plain arrow", Key::upArrow(), Qt::Key_Up, {}, D::reject);
        row("plain keypad digit", Key::keypad5(), Qt::Key_5, Qt::KeypadModifier, D::reject);
        row("plain F5", Key::f5(), Qt::Key_F5, {}, D::candidate, Shortcut(Key::f5()));
        row("Shift+F5", Key::f5(), Qt::Key_F5, Qt::ShiftModifier, D::candidate, Shortcut(Key::f5(), shift));
        row("Alt+letter", Key::k(), Qt::Key_K, Qt::AltModifier, D::candidate, Shortcut(Key::k(), option));
        row("keypad flag is no modifier", Key::keypad5(), Qt::Key_5, Qt::ControlModifier | Qt::KeypadModifier,
            D::candidate, Shortcut(Key::keypad5(), command));
        row("Escape cancels", Key::escape(), Qt::Key_Escape, {}, D::cancel);
        row("Ctrl+Escape is a candidate", Key::escape(), Qt::Key_Escape, Qt::ControlModifier, D::candidate,
            Shortcut(Key::escape(), command));
        row("Backspace clears", Key::delete_(), Qt::Key_Backspace, {}, D::clear);
        row("Delete clears", Key::deleteForward(), Qt::Key_Delete, {}, D::clear);
        row("Ctrl+Backspace is a candidate", Key::delete_(), Qt::Key_Backspace, Qt::ControlModifier,
            D::candidate, Shortcut(Key::delete_(), command));
        row("Tab moves on", Key::tab(), Qt::Key_Tab, {}, D::passOn);
        row("Super alone waits", Key::control(), Qt::Key_Super_L, Qt::MetaModifier, D::ignore);
        row("Shift alone waits", Key::shift(), Qt::Key_Shift, Qt::ShiftModifier, D::ignore);
    }

    void recorderRules()
    {
        QFETCH(int, xKey);
        QFETCH(int, qtKey);
        QFETCH(int, modifiers);
        QFETCH(int, action);
        QFETCH(Shortcut, candidate);
        const RecorderDecision decision =
            decideRecorderKeyPress(xKey, qtKey, Qt::KeyboardModifiers::fromInt(modifiers));
        QCOMPARE(int(decision.action), action);
        if (decision.action == RecorderDecision::candidate)
            QCOMPARE(*decision.shortcut, candidate);
    }

    void aKeyWithoutPositionIsRefused()
    {
        // F21 is a function key, but no stored code names it.
        QCOMPARE(decideRecorderKeyPress(199, Qt::Key_F21, {}).action, RecorderDecision::reject);
        QVERIFY(skipsSystemCheck(Shortcut(Key::f12())));
        QVERIFY(!skipsSystemCheck(Shortcut(Key::f12(), shift)));
    }

    void recorderTextsAreBuiltIn()
    {
        for (const char *key : {"record_shortcut", "press_shortcut", "keyboard_shortcut_used_by_system",
                                "keyboard_shortcuts_can_be_changed", "force_use_shortcut", "ok"})
            QVERIFY2(localizedText(QLatin1String(key)) != QLatin1String(key), key);
        QVERIFY(localizedText(QStringLiteral("keyboard_shortcut_used_by_menu_item"))
                    .arg(QStringLiteral("Save"))
                    .contains(QLatin1String("Save")));
        QCOMPARE(localizedText(QStringLiteral("no_such_text")), QStringLiteral("no_such_text"));
    }
};

QTEST_GUILESS_MAIN(TestShortcutDisplay)
#include "tst_shortcutdisplay.moc"
